// Full redraw of the four waveform pictures of the real window with two
// files loaded, through the range summaries against the straight passes,
// without and with the allpass trace. Prints seconds per redraw and ratios.
// Usage: bench_window_redraw FILE1 FILE2 [runs]
#include "app/main_window.h"
#include "app/paint_box.h"
#include "workspace/workspace.h"
#include "common/application.h"

#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace wavrell;

namespace {
double redraw_seconds(TForm19& w, bool summaries, bool allpass, int runs) {
    w.use_range_summaries = summaries;
    w.workspace().setShowallpass(allpass);
    std::vector<double> times;
    for (int r = 0; r < runs; ++r) {
        w.invalidate_views(true);
        QElapsedTimer t;
        t.start();
        for (TPaintBox* box : w.PaintBox) (void)box->grab();
        times.push_back(t.nsecsElapsed() / 1e9);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}
}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s FILE1 FILE2 [runs]\n", argv[0]);
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    TApplication app(argc, argv);
    const int runs = argc > 3 ? std::max(1, atoi(argv[3])) : 3;
    TForm19 w;
    w.resize(1100, 600);  // about 1000 columns per box
    w.show();
    w.FormActivate();
    QElapsedTimer load;
    load.start();
    w.load_file(0, QString::fromLocal8Bit(argv[1]));
    w.load_file(1, QString::fromLocal8Bit(argv[2]));
    std::printf("load of both files: %.3f s\n", load.nsecsElapsed() / 1e9);
    std::printf("columns per box: %d\n", w.PaintBox[0]->width());
    for (bool allpass : {false, true}) {
        const double straight = redraw_seconds(w, false, allpass, runs);
        const double summary = redraw_seconds(w, true, allpass, runs);
        const char* kind = allpass ? "allpass" : "plain";
        std::printf("redraw straight %s: %.4f s\n", kind, straight);
        std::printf("redraw summaries %s: %.4f s\n", kind, summary);
        std::printf("redraw ratio %s: %.1f\n", kind, straight / summary);
    }
    return 0;
}
