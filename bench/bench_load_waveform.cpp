// The window's load of one file until its waveform is drawn, with the
// loudness measurement on (it runs on its worker after the load) or off.
// Prints the seconds from the start of the load to the four waveform boxes
// painted.
// Usage: bench_load_waveform FILE on|off
#include "app/main_window.h"
#include "app/paint_box.h"
#include "workspace/workspace.h"
#include "common/application.h"

#include <QElapsedTimer>

#include <cstdio>
#include <cstring>

using namespace wavrell;

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s FILE on|off\n", argv[0]);
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    TApplication app(argc, argv);
    TForm19 w;
    w.resize(1100, 600);
    w.show();
    w.FormActivate();
    w.workspace().setMeasureLoudness(std::strcmp(argv[2], "on") == 0);
    QElapsedTimer t;
    t.start();
    w.load_file(0, QString::fromLocal8Bit(argv[1]));
    for (TPaintBox* box : w.PaintBox) (void)box->grab();
    std::printf("waveform drawn after %.4f s\n", t.nsecsElapsed() / 1e9);
    return w.workspace().wav(0)->nsamples() > 0 ? 0 : 1;
}
