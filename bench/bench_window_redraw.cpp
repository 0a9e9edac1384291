// Full redraw of the four waveform pictures of the real window with two
// files loaded, through the range summaries against the straight passes,
// without and with the allpass trace, and of the error view through its
// error summaries (built first, on their worker) against the straight pass
// with fresh dither. Prints seconds per redraw and ratios.
// Usage: bench_window_redraw FILE1 FILE2 [runs]
#include "app/main_window.h"
#include "app/paint_box.h"
#include "workspace/workspace.h"
#include "common/application.h"

#include <QElapsedTimer>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace wavrell;

namespace {
enum class Kind { plain, allpass, error };

double redraw_seconds(TForm19& w, bool summaries, Kind kind, int runs) {
    w.use_range_summaries = summaries;
    w.workspace().setShowallpass(kind == Kind::allpass);
    w.workspace().setShowerror(kind == Kind::error);
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
    for (Kind k : {Kind::plain, Kind::allpass, Kind::error}) {
        const char* kind = k == Kind::plain ? "plain" : k == Kind::allpass ? "allpass" : "error";
        if (k == Kind::error) {
            // The error summaries of the factors in force, built once on
            // their worker while the window goes on.
            w.workspace().setShowerror(true);
            QElapsedTimer build;
            build.start();
            while (!w.workspace().error_summaries(0) || !w.workspace().error_summaries(1)) QTest::qWait(5);
            std::printf("error summaries built in: %.3f s\n", build.nsecsElapsed() / 1e9);
            size_t bytes = 0, samples = 0;
            for (int s = 0; s < 2; ++s) {
                for (const TErrorSummary& e : *w.workspace().error_summaries(s)) bytes += e.memory_bytes();
                for (const auto& row : w.workspace().wav(s)->samples()) samples += row.size() * sizeof(int16_t);
            }
            std::printf("error summaries: %.1f %% of the samples' bytes\n", 100.0 * double(bytes) / double(samples));
        }
        const double straight = redraw_seconds(w, false, k, runs);
        const double summary = redraw_seconds(w, true, k, runs);
        std::printf("redraw straight %s: %.4f s\n", kind, straight);
        std::printf("redraw summaries %s: %.4f s\n", kind, summary);
        std::printf("redraw ratio %s: %.1f\n", kind, straight / summary);
    }
    return 0;
}
