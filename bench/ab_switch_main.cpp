// Plays two files through the real main window on the default output and
// records that output's monitor with parec (the sink must run at the files'
// rate, so that samples pass through untouched). During playback it switches
// between the files with the Space key at irregular moments (every 0.5 to
// 2 s) and measures:
//  - for every switch, the time from the key to the arrival of the other
//    file's first frame in the recording, at the seam frame the program logs
//    ("Switched to file N at frame K"), and whether the seam is exact: the
//    frame before it is the old file's frame K − 1;
//  - every 10 ms, the cursor against the frame arriving in the recording
//    then (positions from the recording: the files' frames are found in it);
//  - the server's underrun reports and the window's repaints.
// Delays are also given as a ratio to the player's ring, nBuffers ×
// nChunkSamples / sfTot, which was the delay of a switch before switches
// replaced the queued sound. The times include parec's own capture delay.
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
#include <QRegularExpression>
#include <QTimer>

#include <algorithm>
#include <cmath>
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
    qint64 at_ns;         // just before the key reached the window
    int slot = -1;        // the file switched to
    int64_t seam = -1;    // the frame where it begins, as logged
    int64_t arrived = 0;  // frames recorded by the key
    int64_t found = -1;   // recording frame of the seam
    bool exact = false;
    double delay = -1;    // seconds
};

// The seams the window logs.
std::vector<std::pair<int, int64_t>> g_logged;
QtMessageHandler g_previous = nullptr;

void log_handler(QtMsgType type, const QMessageLogContext& ctx, const QString& text) {
    static const QRegularExpression re(QStringLiteral("^Switched to file (\\d) at frame (-?\\d+)$"));
    if (ctx.category && std::strcmp(ctx.category, "wavrell.playback") == 0) {
        const QRegularExpressionMatch m = re.match(text);
        if (m.hasMatch()) {
            g_logged.emplace_back(m.captured(1).toInt() - 1, m.captured(2).toLongLong());
            return;
        }
    }
    if (g_previous) g_previous(type, ctx, text);
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? NAN : v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    TApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 5) {
        std::fprintf(stderr, "usage: bench_ab_switch FILE1 FILE2 MONITOR SECONDS\n");
        return 2;
    }
    const double seconds = args[4].toDouble();
    g_previous = qInstallMessageHandler(log_handler);

    TForm19 form;
    form.resize(1200, 700);
    form.show();
    form.FormActivate();
    TWorkspace& ws = form.workspace();
    form.load_file(0, args[1]);
    form.load_file(1, args[2]);
    form.normalizeaction->trigger();  // off: the recording holds the files' own samples
    if (form.crossfadeaction->isChecked()) form.crossfadeaction->trigger();  // seams bit for bit
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
    const int64_t startFrame = ws.playcount();
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
        const int next = 500 + int(QRandomGenerator::global()->bounded(1500));
        if (double(clock.nsecsElapsed() - started) / 1e6 + next < seconds * 1000 - 1000) switcher.start(next);
    };
    QObject::connect(&switcher, &QTimer::timeout, [&] {
        Switch s;
        s.at_ns = clock.nsecsElapsed();
        s.arrived = int64_t(rec.size() / 4);
        const size_t logged = g_logged.size();
        QKeyEvent key(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
        QCoreApplication::sendEvent(&form, &key);
        if (g_logged.size() == logged + 1) {
            s.slot = g_logged.back().first;
            s.seam = g_logged.back().second;
        }
        switches.push_back(s);
        arm();
    });
    arm();
    // Every 10 ms: the cursor, and how long the GUI thread was kept from
    // its event loop.
    qint64 lastTick = clock.nsecsElapsed(), longestStall = 0;
    std::vector<std::pair<qint64, double>> cursors;
    std::vector<double> underrunTimes;
    uint64_t seenUnderruns = underrunsBefore;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        longestStall = std::max(longestStall, now - lastTick);
        lastTick = now;
        cursors.emplace_back(now, ws.cursorpos());
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
    ticker.stop();
    const qint64 played = clock.nsecsElapsed() - started;
    const uint64_t underruns = TWaveOutDevice::underruns() - underrunsBefore;
    const int repaints = paints.count - paintsBefore;
    form.playaction->trigger();
    parec.terminate();
    parec.waitForFinished(5000);

    const auto* got = reinterpret_cast<const int16_t*>(rec.constData());
    const int64_t frames = rec.size() / 4;
    auto frame_at = [&](const TWav& w, int64_t p, int16_t* out) {
        for (int ch = 0; ch < 2; ++ch)
            out[ch] = p >= 0 && p < w.nsamples() ? w.samples()[size_t(ch)][size_t(p)] : int16_t(0);
    };
    // The first recording frame at or after `from` that holds frames p and
    // p + 1 of w; -1 if none.
    auto find = [&](const TWav& w, int64_t p, int64_t from) -> int64_t {
        int16_t key[4];
        frame_at(w, p, key);
        frame_at(w, p + 1, key + 2);
        for (int64_t c = std::max<int64_t>(0, from); c + 2 <= frames; ++c)
            if (std::memcmp(got + 2 * c, key, sizeof key) == 0) return c;
        return -1;
    };
    auto arrival_ns = [&](int64_t c) -> qint64 {
        const auto it = std::upper_bound(arrivals.begin(), arrivals.end(), c,
                                         [](int64_t f, const auto& a) { return f < a.first; });
        return it == arrivals.end() ? -1 : it->second;
    };

    // Where the files' frames lie in the recording: the start, then every seam.
    std::vector<std::pair<int64_t, int64_t>> anchors;  // recording frame, play position
    // (The monitor may miss the first frames of a new stream.)
    const int64_t early = startFrame + rate / 10;
    const int64_t c0 = find(w0, early, 0);
    if (c0 < 0) {
        std::fprintf(stderr, "bench_ab_switch: the start of playback is not in the recording\n");
        return 1;
    }
    anchors.emplace_back(c0, early);
    std::vector<double> delays;
    int exact = 0;
    for (Switch& s : switches) {
        if (s.slot < 0) continue;
        const TWav& now = *ws.wav(s.slot);
        const TWav& before = *ws.wav(1 - s.slot);
        // What had arrived at the key press cannot hold it (parec's block
        // may have been read just before).
        s.found = find(now, s.seam, s.arrived - rate / 10);
        if (s.found < 1) continue;
        int16_t prev[2];
        frame_at(before, s.seam - 1, prev);
        s.exact = std::memcmp(got + 2 * (s.found - 1), prev, sizeof prev) == 0;
        exact += s.exact;
        const qint64 at = arrival_ns(s.found);
        if (at < 0) continue;
        s.delay = double(at - s.at_ns) / 1e9;
        delays.push_back(s.delay);
        anchors.emplace_back(s.found, s.seam);
    }
    if (delays.empty()) {
        std::fprintf(stderr, "bench_ab_switch: no switch was found in the recording\n");
        return 1;
    }
    std::sort(anchors.begin(), anchors.end());

    // Dropouts: silence inside the stream; and the frames skipped when it
    // goes on (0 when playback goes on with the next frame). Each stretch
    // between two anchors plays one file from the anchor's position on.
    int dropouts = 0;
    int64_t skipped = 0;
    auto slot_at = [&](int64_t c) {
        int slot = 0;
        for (const Switch& s : switches)
            if (s.found >= 1 && s.found <= c) slot = s.slot;
        return slot;
    };
    for (size_t i = 0; i < anchors.size(); ++i) {
        const TWav& w = *ws.wav(slot_at(anchors[i].first));
        const int64_t endc = i + 1 < anchors.size() ? anchors[i + 1].first : frames;
        int64_t c = anchors[i].first, p = anchors[i].second;
        while (c < endc) {
            int16_t f[2];
            frame_at(w, p, f);
            if (std::memcmp(got + 2 * c, f, sizeof f) == 0) {
                ++c, ++p;
                continue;
            }
            int64_t g = c;
            while (g < endc && got[2 * g] == 0 && got[2 * g + 1] == 0) ++g;
            if (g + 2 > endc) break;  // the end of playback
            // Where it goes on: the recording's next frames in the file.
            int64_t q = -1;
            for (int64_t k = std::max<int64_t>(0, p - rate); k < p + 2 * rate && q < 0; ++k) {
                int16_t two[4];
                frame_at(w, k, two);
                frame_at(w, k + 1, two + 2);
                if (std::memcmp(got + 2 * g, two, sizeof two) == 0) q = k;
            }
            ++dropouts;
            if (q < 0) break;
            skipped += std::abs(q - p);
            c = g, p = q;
        }
    }

    // The cursor against the frame arriving at the same moment.
    std::vector<double> errors, absErrors;
    for (const auto& [t, cursor] : cursors) {
        auto it = std::upper_bound(arrivals.begin(), arrivals.end(), t,
                                   [](qint64 v, const auto& a) { return v < a.second; });
        if (it == arrivals.begin()) continue;
        const int64_t c = std::prev(it)->first - 1;
        auto a = std::upper_bound(anchors.begin(), anchors.end(), std::pair<int64_t, int64_t>(c, INT64_MAX));
        if (a == anchors.begin()) continue;  // before playback was heard
        --a;
        const double heard = double(a->second + (c - a->first));
        const double e = (cursor * rate - heard) / rate * 1000;
        errors.push_back(e);
        absErrors.push_back(std::abs(e));
    }

    std::vector<double> sorted = delays;
    std::sort(sorted.begin(), sorted.end());
    std::vector<double> sortedAbs = absErrors;
    std::sort(sortedAbs.begin(), sortedAbs.end());
    const auto pct = [](const std::vector<double>& v, double q) {
        return v.empty() ? NAN : v[std::min(v.size() - 1, size_t(q * double(v.size())))];
    };

    std::printf("ring_seconds = %.4f\n", ring);
    std::printf("switches = %zu\n", switches.size());
    std::printf("switches_found = %zu\n", delays.size());
    std::printf("seams_exact = %d\n", exact);
    std::printf("delay_ms_min = %.1f\n", sorted.front() * 1000);
    std::printf("delay_ms_median = %.1f\n", median(delays) * 1000);
    std::printf("delay_ms_max = %.1f\n", sorted.back() * 1000);
    std::printf("delay_ratio_median = %.3f\n", median(delays) / ring);
    std::printf("delay_ratio_max = %.3f\n", sorted.back() / ring);
    std::printf("cursor_samples = %zu\n", errors.size());
    std::printf("cursor_error_ms_median = %.1f\n", median(errors));
    std::printf("cursor_error_ms_abs_median = %.1f\n", median(absErrors));
    std::printf("cursor_error_ms_abs_p95 = %.1f\n", pct(sortedAbs, 0.95));
    std::printf("cursor_error_ms_abs_max = %.1f\n", sortedAbs.empty() ? NAN : sortedAbs.back());
    std::printf("played_seconds = %.1f\n", double(played) / 1e9);
    std::printf("repaints_per_second = %.1f\n", repaints / (double(played) / 1e9));
    std::printf("underruns = %llu\n", static_cast<unsigned long long>(underruns));
    std::printf("dropouts = %d\n", dropouts);
    std::printf("skipped_frames = %lld\n", static_cast<long long>(skipped));
    std::printf("underruns_at_seconds =");
    for (double t : underrunTimes) std::printf(" %.2f", t);
    std::printf("\n");
    std::printf("switches_at_seconds =");
    for (const Switch& s : switches) std::printf(" %.2f", double(s.at_ns - started) / 1e9);
    std::printf("\n");
    std::printf("longest_gui_stall_ms = %.1f\n", double(longestStall) / 1e6);
    return delays.size() == switches.size() ? 0 : 1;
}
