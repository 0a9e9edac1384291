// Renders axes of every kind into PNG files, one per axis, for a look at
// what the axis draws. Usage: axis_demo [output folder] (default: .).

#include "plot/axis.h"

#include <QApplication>
#include <QDir>
#include <QPixmap>

#include <cstdio>
#include <functional>

using namespace wavrell;

namespace {

struct Demo {
    const char* file;
    tposition pos;
    int width, height;
    double lo, hi;
    std::function<void(TAxis&)> setup;
};

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QDir out(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("."));
    if (!out.exists() && !QDir().mkpath(out.path())) {
        std::fprintf(stderr, "axis_demo: cannot create %s\n", qPrintable(out.path()));
        return 1;
    }
    const Demo demos[] = {
        {"axis_vertical_left.png", posleft, 41, 200, -2, 2, [](TAxis& a) { a.setTickSpaceAim(21); }},
        {"axis_vertical_right_db.png", posright, 41, 300, 0, 30, [](TAxis& a) { a.setAxisText("[dB]"); }},
        {"axis_time_under.png", posunder, 600, 30, 0, 12.5,
         [](TAxis& a) {
             a.setTickSpaceAim(50);
             a.setAxisText("[s]");
         }},
        {"axis_over_reversed_marker.png", posover, 400, 30, -1, 1,
         [](TAxis& a) {
             a.setReverse(true);
             a.setMarkerValue(0.25);
             a.setMarkerVisible(true);
         }},
        {"axis_log_decades.png", posunder, 600, 30, 20, 20000,
         [](TAxis& a) {
             a.setLogarithmic(true);
             a.setAxisText("[Hz]");
         }},
        {"axis_log_vertical.png", posleft, 50, 300, 0.01, 10, [](TAxis& a) { a.setLogarithmic(true); }},
        {"axis_music.png", posunder, 600, 30, 100, 1000,
         [](TAxis& a) {
             a.setLogarithmic(true);
             a.setMusicScale(true);
         }},
    };
    for (const Demo& d : demos) {
        TAxis axis;
        axis.setPosition(d.pos);
        axis.resize(d.width, d.height);
        axis.set_hilovalues(d.lo, d.hi);
        d.setup(axis);
        axis.Loaded();
        const QString path = out.filePath(QString::fromLatin1(d.file));
        if (!axis.grab().save(path)) {
            std::fprintf(stderr, "axis_demo: cannot write %s\n", qPrintable(path));
            return 1;
        }
        std::printf("%s\n", qPrintable(path));
    }
    return 0;
}
