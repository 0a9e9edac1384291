// The spectrogram lanes of the real window (offscreen) with two files
// loaded: the time from turning them on at full view until every lane's
// picture is there, the median time of a zoom step into a 10-second view
// until its pictures are there, and the bytes of the pictures kept against
// the bytes of the two files' samples.
// Usage: bench_spectrogram_window FILE1 FILE2 [zoom steps]
#include "app/main_window.h"
#include "app/paint_box.h"
#include "app/sonogram_view.h"
#include "workspace/workspace.h"
#include "audio/wav_file.h"
#include "common/application.h"
#include "plot/axis.h"

#include <QAction>
#include <QElapsedTimer>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace wavrell;

namespace {
/// Paints the lanes (which asks for their pictures) and waits until they are there.
double until_complete(TForm19& w) {
    QElapsedTimer t;
    t.start();
    for (TPaintBox* box : w.PaintBox) box->repaint();
    while (!w.spectrogramview->complete()) QTest::qWait(1);
    return t.nsecsElapsed() / 1e9;
}
}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s FILE1 FILE2 [zoom steps]\n", argv[0]);
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    TApplication app(argc, argv);
    const int steps = argc > 3 ? std::max(1, atoi(argv[3])) : 9;
    TForm19 w;
    w.resize(1100, 600);
    w.show();
    w.FormActivate();
    w.load_file(0, QString::fromLocal8Bit(argv[1]));
    w.load_file(1, QString::fromLocal8Bit(argv[2]));
    QTest::qWait(50);
    w.spectrogramview->spectrogramaction->trigger();
    std::printf("columns per lane: %d\n", w.PaintBox[0]->width());
    std::printf("full view: %.3f s\n", until_complete(w));
    const double T = w.workspace().timeline_duration();
    std::vector<double> times;
    for (int i = 0; i < steps; ++i) {
        const double t0 = (T - 10) * (i + 0.5) / steps;
        w.xaxis->set_hilovalues(t0, t0 + 10);
        times.push_back(until_complete(w));
    }
    std::sort(times.begin(), times.end());
    std::printf("zoom step to 10 s (median of %d): %.4f s\n", steps, times[times.size() / 2]);
    size_t samples = 0;
    for (int s = 0; s < 2; ++s)
        for (const auto& row : w.workspace().wav(s)->samples()) samples += row.size() * sizeof(int16_t);
    std::printf("pictures kept: %.2f %% of the samples' bytes\n",
                100.0 * double(w.spectrogramview->cache_bytes()) / double(samples));
    return 0;
}
