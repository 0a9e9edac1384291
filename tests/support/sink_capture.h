#pragma once

// Hearing what the program plays: a recorder of a sound server sink's
// monitor, a wait that keeps the event loop running, and noise whose frames
// tell their place in a file. For the tests that capture playback from the
// private null sink (header only, Qt Core and Qt Test).

#include <QByteArray>
#include <QElapsedTimer>
#include <QProcess>
#include <QString>
#include <QTest>

#include <cstdint>
#include <cstring>
#include <functional>
#include <vector>

namespace wavrell::test {

using Samples = std::vector<int16_t>;  // interleaved stereo

/// Runs the event loop until pred holds (true) or ms have passed (false).
inline bool wait_until(const std::function<bool()>& pred, int ms = 10000) {
    QElapsedTimer t;
    t.start();
    while (!pred()) {
        if (t.elapsed() > ms) return false;
        QTest::qWait(2);
    }
    return true;
}

/// Records a sink's monitor as interleaved stereo 16-bit values.
class Recorder {
public:
    explicit Recorder(const QString& sink, int rate = 44100) {
        proc.start(QStringLiteral("parec"),
                   {QStringLiteral("-d"), sink + QStringLiteral(".monitor"), QStringLiteral("--format=s16le"),
                    QStringLiteral("--rate=%1").arg(rate), QStringLiteral("--channels=2"), QStringLiteral("--raw"),
                    QStringLiteral("--latency-msec=20")});
    }
    ~Recorder() {
        if (proc.state() != QProcess::NotRunning) finish();
    }
    /// Started and delivering (silence, until something plays).
    bool running() {
        if (!proc.waitForStarted(5000)) return false;
        return wait_until([this] {
            pump();
            return data.size() > 4000;
        });
    }
    void pump() { data += proc.readAllStandardOutput(); }
    Samples finish() {
        pump();
        proc.terminate();
        proc.waitForFinished(5000);
        pump();
        Samples v(size_t(data.size()) / 4 * 2);
        std::memcpy(v.data(), data.constData(), v.size() * 2);
        return v;
    }
    QProcess proc;
    QByteArray data;
};

/// Stereo noise between 100 and amp in magnitude, never 0: two frames
/// identify their place in a file.
inline Samples noise(int frames, uint32_t seed, int amp) {
    Samples v(size_t(frames) * 2);
    uint32_t x = seed;
    for (int16_t& s : v) {
        x = x * 1664525u + 1013904223u;
        const int r = int((x >> 8) % uint32_t(2 * (amp - 100))) - (amp - 100);
        s = int16_t(r >= 0 ? r + 100 : r - 100);
    }
    return v;
}

}  // namespace wavrell::test
