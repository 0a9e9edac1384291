// Plays two files through the real main window on the default output and
// records that output's monitor with parec (the sink must run at the files'
// rate, so that samples pass through untouched). During playback it switches
// between the files with the Space key at irregular moments and measures, for
// every switch, the time from the key to the arrival of the other file's
// first frame in the recording, as a ratio to the duration of the player's
// ring (nBuffers × nChunkSamples / sfTot). It also counts the server's
// underrun reports and the repaints of the waveform and crest boxes.
//
// Usage: bench_ab_switch FILE1 FILE2 MONITOR SECONDS
// Prints key = value lines; exit code 0 when every measurement was made.

#include "app/main_window.h"
#include "app/paint_box.h"
#include "workspace/workspace.h"
#include "audio/mpc_play.h"
#include "audio/pulse_device.h"
#include "audio/wav_file.h"
#include "common/application.h"

#include <QAction>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QProcess>
#include <QRandomGenerator>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

using namespace wavrell;

namespace {

class PaintCounter : public QObject {
public:
    int count = 0;
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Paint) ++count;
        return false;
    }
};

struct Switch {
    qint64 at_ns;      // when the key was handled
    int64_t frame;     // the play position then: where the other file begins
    int slot;          // the file switched to
    int64_t arrived;   // frames recorded by then
    double latency = -1;
};

}  // namespace

int main(int argc, char** argv) {
    TApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 5) {
        std::fprintf(stderr, "usage: bench_ab_switch FILE1 FILE2 MONITOR SECONDS\n");
        return 2;
    }
    const double seconds = args[4].toDouble();

    TForm19 form;
    form.resize(1200, 700);
    form.show();
    form.FormActivate();
    TWorkspace& ws = form.workspace();
    form.load_file(0, args[1]);
    form.load_file(1, args[2]);
    form.normalizeaction->trigger();  // off: the recording holds the files' own samples
    const TWav& w0 = *ws.wav(0);
    const TWav& w1 = *ws.wav(1);
    if (w0.nchans() != 2 || w1.nchans() != 2 || w0.sampfreq() != w1.sampfreq()) {
        std::fprintf(stderr, "bench_ab_switch: two stereo files of one rate are needed\n");
        return 2;
    }
    const int rate = w0.sampfreq();
    PaintCounter paints;
    for (TPaintBox* b : form.PaintBox) b->installEventFilter(&paints);
    for (TPaintBox* b : form.crestpaint) b->installEventFilter(&paints);

    // The recording and, for every read, how many frames had arrived and when.
    QElapsedTimer clock;
    clock.start();
    QByteArray rec;
    std::vector<std::pair<int64_t, qint64>> arrivals;
    QProcess parec;
    QObject::connect(&parec, &QProcess::readyReadStandardOutput, [&] {
        rec += parec.readAllStandardOutput();
        arrivals.emplace_back(int64_t(rec.size() / 4), clock.nsecsElapsed());
    });
    parec.start(QStringLiteral("parec"),
                {QStringLiteral("-d"), args[3], QStringLiteral("--format=s16le"), QStringLiteral("--rate=%1").arg(rate),
                 QStringLiteral("--channels=2"), QStringLiteral("--raw"), QStringLiteral("--latency-msec=5")});
    if (!parec.waitForStarted(5000)) {
        std::fprintf(stderr, "bench_ab_switch: parec does not start\n");
        return 2;
    }
    QElapsedTimer wait;
    wait.start();
    while (rec.size() < 8000 && wait.elapsed() < 5000) app.processEvents(QEventLoop::WaitForMoreEvents, 50);

    const uint64_t underrunsBefore = TWaveOutDevice::underruns();
    const int paintsBefore = paints.count;
    const qint64 started = clock.nsecsElapsed();
    form.playaction->trigger();
    if (!form.MPCPlay1->OwnBoard()) {
        std::fprintf(stderr, "bench_ab_switch: playback did not start\n");
        return 1;
    }
    const double ring = double(form.MPCPlay1->nBuffers()) * form.MPCPlay1->nChunkSamples() / form.MPCPlay1->sfTot();

    std::vector<Switch> switches;
    QTimer switcher;
    switcher.setSingleShot(true);
    // The last switch comes early enough to be heard before the end.
    auto arm = [&] {
        const int next = 1200 + int(QRandomGenerator::global()->bounded(400));
        if (double(clock.nsecsElapsed() - started) / 1e6 + next < seconds * 1000 - 1000) switcher.start(next);
    };
    QObject::connect(&switcher, &QTimer::timeout, [&] {
        QKeyEvent key(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
        QCoreApplication::sendEvent(&form, &key);
        switches.push_back({clock.nsecsElapsed(), ws.playcount(), ws.wavplayno(), int64_t(rec.size() / 4)});
        arm();
    });
    arm();
    // How long the GUI thread was kept from its event loop: a stall longer
    // than the ring lets the stream run dry whatever the program does.
    qint64 lastTick = clock.nsecsElapsed(), longestStall = 0;
    std::vector<double> underrunTimes;
    uint64_t seenUnderruns = underrunsBefore;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        longestStall = std::max(longestStall, now - lastTick);
        lastTick = now;
        for (; seenUnderruns < TWaveOutDevice::underruns(); ++seenUnderruns)
            underrunTimes.push_back(double(now - started) / 1e9);
    });
    ticker.start(10);
    QTimer end;
    end.setSingleShot(true);
    QObject::connect(&end, &QTimer::timeout, &app, &QCoreApplication::quit);
    end.start(int(seconds * 1000));
    app.exec();
    switcher.stop();
    const qint64 played = clock.nsecsElapsed() - started;
    const uint64_t underruns = TWaveOutDevice::underruns() - underrunsBefore;
    const int repaints = paints.count - paintsBefore;
    form.playaction->trigger();
    parec.terminate();
    parec.waitForFinished(5000);

    // For every switch: the first frame of the other file at the switch
    // frame, looked for in what arrived after the key.
    const auto* got = reinterpret_cast<const int16_t*>(rec.constData());
    const int64_t frames = rec.size() / 4;
    std::vector<double> ratios;
    for (Switch& s : switches) {
        const TWav& w = *ws.wav(s.slot);
        if (s.frame + 2 > w.nsamples()) continue;
        int16_t key[4];
        for (int i = 0; i < 2; ++i) {
            key[2 * i] = w.samples()[0][size_t(s.frame + i)];
            key[2 * i + 1] = w.samples()[1][size_t(s.frame + i)];
        }
        // What had arrived at the key press cannot hold it (parec's block
        // may have been read just before).
        for (int64_t c = std::max<int64_t>(0, s.arrived - rate / 10); c + 2 <= frames; ++c) {
            if (std::memcmp(got + 2 * c, key, sizeof key) != 0) continue;
            const auto it = std::upper_bound(arrivals.begin(), arrivals.end(), c,
                                             [](int64_t f, const auto& a) { return f < a.first; });
            if (it == arrivals.end()) break;
            s.latency = double(it->second - s.at_ns) / 1e9;
            ratios.push_back(s.latency / ring);
            break;
        }
    }
    if (ratios.empty()) {
        std::fprintf(stderr, "bench_ab_switch: no switch was found in the recording\n");
        return 1;
    }
    std::vector<double> sorted = ratios;
    std::sort(sorted.begin(), sorted.end());
    double mean = 0;
    for (double r : ratios) mean += r;
    mean /= double(ratios.size());

    std::printf("ring_seconds = %.4f\n", ring);
    std::printf("switches = %zu\n", switches.size());
    std::printf("switches_found = %zu\n", ratios.size());
    std::printf("latency_ratio_min = %.3f\n", sorted.front());
    std::printf("latency_ratio_median = %.3f\n", sorted[sorted.size() / 2]);
    std::printf("latency_ratio_mean = %.3f\n", mean);
    std::printf("latency_ratio_max = %.3f\n", sorted.back());
    std::printf("played_seconds = %.1f\n", double(played) / 1e9);
    std::printf("repaints_per_second = %.1f\n", repaints / (double(played) / 1e9));
    std::printf("underruns = %llu\n", static_cast<unsigned long long>(underruns));
    std::printf("underruns_at_seconds =");
    for (double t : underrunTimes) std::printf(" %.2f", t);
    std::printf("\n");
    std::printf("longest_gui_stall_ms = %.1f\n", double(longestStall) / 1e6);
    return ratios.size() == switches.size() ? 0 : 1;
}
