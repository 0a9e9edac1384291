// The streaming player against the PulseAudio server that scripts/test
// starts (a null sink "wavrelltest" at 44100 Hz).

#include "audio/mpc_play.h"
#include "common/message_box.h"
#include "tests/support/test_support.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <iostream>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

namespace wavrell {
namespace {

bool wait_until(const std::function<bool()>& pred, int ms = 10000) {
    QElapsedTimer t;
    t.start();
    while (!pred()) {
        if (t.elapsed() > ms) return false;
        QTest::qWait(5);
    }
    return true;
}

// Lets notices arrive for a while (to see that nothing more happens).
void settle(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) QTest::qWait(5);
}

QJsonArray pactl_list(const char* what) {
    QByteArray out;
    EXPECT_EQ(test::run_program(QStringLiteral("pactl"), {QStringLiteral("-f"), QStringLiteral("json"),
                                                          QStringLiteral("list"), QString::fromLatin1(what)},
                                &out),
              0);
    return QJsonDocument::fromJson(out).array();
}

// Player, stash and notice counters shared by the tests. Errors that reach
// the application's handler are collected instead of shown.
class PlayerTest : public ::testing::Test {
protected:
    void SetUp() override {
        set_message_box_hook([this](const QString& text, const QString&, int) {
            shown << text;
            return mb::IDOK;
        });
        player = std::make_unique<TMPCPlay>();
        player->setSfTot(88200);
        player->setNChans(2);
        player->setNBuffers(4);
        player->setNChunkSamples(1024);
        player->OnOpened = [this] { ++opened; };
        player->OnClosed = [this] { ++closed; };
    }
    void TearDown() override {
        player.reset();
        set_message_box_hook({});
    }

    // A stash that plays silence for ever and counts its calls.
    void stash_silence() {
        player->OnStash = [this](TWaveChunk& arr, int32_t&, bool&) {
            ++calls;
            std::fill(arr.begin(), arr.end(), int16_t(0));
        };
    }

    std::unique_ptr<TMPCPlay> player;
    int opened = 0;
    int closed = 0;
    int calls = 0;
    QStringList shown;
};

TEST_F(PlayerTest, DefaultsClampsAndDerivedFormat) {
    TMPCPlay fresh;
    EXPECT_EQ(fresh.nChans(), 1);
    EXPECT_EQ(fresh.sfTot(), 16000);
    EXPECT_EQ(fresh.nBuffers(), 4);
    EXPECT_EQ(fresh.nChunkSamples(), 4096);
    EXPECT_EQ(fresh.DeviceID(), 0xFFFFFFFFu);
    EXPECT_FALSE(fresh.OwnBoard());
    EXPECT_EQ(fresh.wavefmt().nSamplesPerSec, 16000u);

    struct Case {
        int32_t nchans, sftot;
        int channels, rate, bytesPerSec, align;
    };
    const Case cases[] = {
        {0, 0, 1, 1, 2, 2},
        {-3, -44100, 1, 1, 2, 2},
        {2, 44101, 2, 22050, 88200, 4},  // not divisible: the quotient is truncated
        {6, 288000, 6, 48000, 576000, 12},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "nChans " << c.nchans << ", sfTot " << c.sftot);
        fresh.setSfTot(c.sftot);
        fresh.setNChans(c.nchans);
        const TWaveFormat& f = fresh.wavefmt();
        EXPECT_EQ(fresh.nChans(), c.channels);
        EXPECT_EQ(f.wFormatTag, 1);
        EXPECT_EQ(f.nChannels, c.channels);
        EXPECT_EQ(f.nSamplesPerSec, uint32_t(c.rate));
        EXPECT_EQ(f.nAvgBytesPerSec, uint32_t(c.bytesPerSec));
        EXPECT_EQ(f.nBlockAlign, c.align);
        EXPECT_EQ(f.wBitsPerSample, 16);
    }
    fresh.setNBuffers(5000);
    EXPECT_EQ(fresh.nBuffers(), 1000);
    fresh.setNBuffers(0);
    EXPECT_EQ(fresh.nBuffers(), 1);
    fresh.setNChunkSamples(-5);
    EXPECT_EQ(fresh.nChunkSamples(), 1);
}

TEST_F(PlayerTest, RunWithoutStashRaisesAndOpensNothing) {
    try {
        player->Run();
        FAIL() << "Run without OnStash did not raise";
    } catch (const EMPCError& e) {
        EXPECT_EQ(e.message(), QStringLiteral("Nothing assigned to OnStash!"));
    }
    EXPECT_FALSE(player->OwnBoard());
    settle(100);
    EXPECT_EQ(opened, 0);
    EXPECT_EQ(closed, 0);
}

// Ways the owner ends the stream: exactly that many stash calls, the device
// closes by itself once, and nothing is asked for afterwards.
TEST_F(PlayerTest, OwnerEndsTheStream) {
    struct Case {
        const char* what;
        int endCall;     // the stash call that ends the stream (1-based)
        int32_t used;    // what it reports
        bool last;
    };
    const Case cases[] = {
        {"used 0 on the very first call", 1, 0, false},
        {"negative count", 2, -5, false},
        {"part of a frame only", 2, 1, false},
        {"last with a short chunk on the first call", 1, 100, true},
        {"last during the first fill", 3, 1024, true},
        {"last after the ring has turned", 7, 600, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        calls = opened = closed = 0;
        player->OnStash = [&](TWaveChunk& arr, int32_t& used, bool& last) {
            ++calls;
            EXPECT_EQ(used, 1024);
            EXPECT_FALSE(last);
            std::fill(arr.begin(), arr.end(), int16_t(1000));
            if (calls == c.endCall) {
                used = c.used;
                last = c.last;
            }
        };
        player->Run();
        EXPECT_TRUE(player->OwnBoard());
        if (c.endCall <= player->nBuffers()) {
            EXPECT_EQ(player->State(), psDraining);
            EXPECT_EQ(calls, c.endCall) << "slots after the end were offered";
        }
        ASSERT_TRUE(wait_until([&] { return closed == 1; }));
        EXPECT_FALSE(player->OwnBoard());
        EXPECT_EQ(player->State(), psIdle);
        settle(150);
        EXPECT_EQ(calls, c.endCall);
        EXPECT_EQ(opened, 1);
        EXPECT_EQ(closed, 1);
    }
    EXPECT_TRUE(shown.isEmpty()) << shown.join('|').toStdString();
}

// OnMsg sees every notice before the player: open, the done notices in
// queue order (the last one carrying the end marker), close; the player
// acts on the message as the handler left it.
TEST_F(PlayerTest, OnMsgSeesEveryNoticeFirst) {
    std::vector<uint32_t> msgs;
    std::vector<uintptr_t> users;
    player->OnMsg = [&](TMPCMessage& m) {
        msgs.push_back(m.Msg);
        if (m.Msg == MM_WOM_DONE) users.push_back(reinterpret_cast<const TWaveHeader*>(m.LParam)->dwUser);
        if (m.Msg == MM_WOM_CLOSE) m.Msg = 0;  // hidden from the player
    };
    player->OnStash = [&](TWaveChunk& arr, int32_t& used, bool&) {
        std::fill(arr.begin(), arr.end(), int16_t(0));
        if (++calls == 3) used = 0;
    };
    player->Run();
    ASSERT_TRUE(wait_until([&] { return !player->OwnBoard() && !msgs.empty() && msgs.back() == MM_WOM_CLOSE; }));
    settle(150);
    EXPECT_EQ(msgs, (std::vector<uint32_t>{MM_WOM_OPEN, MM_WOM_DONE, MM_WOM_DONE, MM_WOM_DONE, MM_WOM_CLOSE}));
    EXPECT_EQ(users, (std::vector<uintptr_t>{0, 1, TMPCPlay::EndMarker}));
    EXPECT_EQ(opened, 1);
    EXPECT_EQ(closed, 0);
}

TEST_F(PlayerTest, StopWhileStreamingDiscardsAtOnceAndWhenIdleDoesNothing) {
    player->Stop();  // idle: nothing happens
    settle(100);
    EXPECT_EQ(closed, 0);

    stash_silence();
    player->Run();
    EXPECT_EQ(player->State(), psStreaming);
    EXPECT_EQ(calls, 4);
    ASSERT_TRUE(wait_until([&] { return calls >= 10; })) << "the ring is not refilled";
    EXPECT_EQ(opened, 1);

    player->Stop();
    EXPECT_FALSE(player->OwnBoard());
    EXPECT_EQ(closed, 0) << "the close notice must come after Stop returns";
    const int callsAtStop = calls;
    ASSERT_TRUE(wait_until([&] { return closed == 1; }));
    settle(300);
    EXPECT_EQ(calls, callsAtStop) << "a discarded buffer was refilled";
    EXPECT_EQ(closed, 1);

    player->Stop();
    settle(100);
    EXPECT_EQ(closed, 1);
    EXPECT_TRUE(shown.isEmpty()) << shown.join('|').toStdString();
}

TEST_F(PlayerTest, StopFromInsideTheStash) {
    struct Case {
        const char* what;
        int stopCall;
        int expectedCalls;
    };
    // During the first fill the remaining slots are still offered.
    const Case cases[] = {{"during the first fill", 2, 4}, {"while streaming", 9, 9}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        calls = opened = closed = 0;
        player->OnStash = [&](TWaveChunk& arr, int32_t&, bool&) {
            ++calls;
            std::fill(arr.begin(), arr.end(), int16_t(0));
            if (calls == c.stopCall) {
                player->Stop();
                EXPECT_FALSE(player->OwnBoard());
            }
        };
        player->Run();
        ASSERT_TRUE(wait_until([&] { return closed == 1; }));
        settle(200);
        EXPECT_EQ(calls, c.expectedCalls);
        EXPECT_EQ(closed, 1);
        EXPECT_FALSE(player->OwnBoard());
    }
    EXPECT_TRUE(shown.isEmpty()) << shown.join('|').toStdString();
}

// An error raised by the stash during the first fill reaches the caller of
// Run; the slots that were filled play and are refilled.
TEST_F(PlayerTest, StashErrorDuringRunCostsOnlyThatSlot) {
    std::vector<const int16_t*> order;
    player->OnStash = [&](TWaveChunk& arr, int32_t&, bool&) {
        ++calls;
        std::fill(arr.begin(), arr.end(), int16_t(0));
        if (calls == 2) throw EMPCError(QStringLiteral("owner failed"));
        order.push_back(arr.data());
    };
    try {
        player->Run();
        ADD_FAILURE() << "the stash error did not reach the caller";
    } catch (const EMPCError& e) {
        EXPECT_EQ(e.message(), QStringLiteral("owner failed"));
    }
    EXPECT_EQ(calls, 2);
    EXPECT_TRUE(player->OwnBoard());
    ASSERT_TRUE(wait_until([&] { return calls >= 6; })) << "the ring stopped";
    player->Stop();
    ASSERT_TRUE(wait_until([&] { return closed == 1; }));
    ASSERT_GE(order.size(), 2u);
    EXPECT_EQ(order[1], order[0]) << "the first slot is refilled first";
}

// Stop and Run again before the notices of the first run have arrived: the
// first run's done notices must not refill slots of the second.
TEST_F(PlayerTest, RestartAtOnceKeepsTheRingInOrder) {
    std::vector<const int16_t*> order;
    player->OnStash = [&](TWaveChunk& arr, int32_t&, bool&) {
        ++calls;
        order.push_back(arr.data());
        std::fill(arr.begin(), arr.end(), int16_t(0));
    };
    player->Run();
    ASSERT_TRUE(wait_until([&] { return calls >= 8; }));
    player->Stop();
    order.clear();
    player->Run();
    ASSERT_TRUE(wait_until([&] { return order.size() >= 16; }));
    player->Stop();
    ASSERT_TRUE(wait_until([&] { return closed == 2; }));
    settle(200);
    EXPECT_EQ(opened, 2);
    EXPECT_EQ(closed, 2);
    for (size_t i = 4; i < order.size(); ++i)
        EXPECT_EQ(order[i], order[i % 4]) << "stash call " << i << " out of ring order";
    EXPECT_TRUE(shown.isEmpty()) << shown.join('|').toStdString();
}

TEST_F(PlayerTest, SettersRefusedWhileOwningBoard) {
    stash_silence();
    player->Run();
    ASSERT_TRUE(player->OwnBoard());
    const TWaveFormat before = player->wavefmt();
    struct Case {
        std::function<void()> set;
        const char* message;
    };
    const Case cases[] = {
        {[&] { player->setNChans(1); }, "Cannot change nChans while owning board"},
        {[&] { player->setSfTot(32000); }, "Cannot change sfTot while owning board"},
        {[&] { player->setNBuffers(8); }, "Cannot change nBuffers while owning board"},
        {[&] { player->setNChunkSamples(4096); }, "Cannot change nChunkSamples while owning board"},
        {[&] { player->Run(); }, "Already playing"},
    };
    for (const Case& c : cases) {
        try {
            c.set();
            ADD_FAILURE() << "not refused: " << c.message;
        } catch (const EMPCError& e) {
            EXPECT_EQ(e.message(), QString::fromLatin1(c.message));
        }
    }
    EXPECT_EQ(player->nChans(), 2);
    EXPECT_EQ(player->sfTot(), 88200);
    EXPECT_EQ(player->nBuffers(), 4);
    EXPECT_EQ(player->nChunkSamples(), 1024);
    EXPECT_EQ(std::memcmp(&before, &player->wavefmt(), sizeof before), 0);
    ASSERT_TRUE(wait_until([&] { return calls >= 8; })) << "a refused Run disturbed the stream";
    player->Stop();
    ASSERT_TRUE(wait_until([&] { return closed == 1; }));
    EXPECT_EQ(opened, 1);
}

TEST_F(PlayerTest, DeviceListHasTheServersSinksInOrder) {
    QStringList expected;
    QString testSink;
    for (const QJsonValue& v : pactl_list("sinks")) {
        const QJsonObject sink = v.toObject();
        expected << sink.value(QStringLiteral("description")).toString();
        if (sink.value(QStringLiteral("name")).toString() == qEnvironmentVariable("WAVRELL_TEST_SINK"))
            testSink = sink.value(QStringLiteral("description")).toString();
    }
    ASSERT_FALSE(testSink.isEmpty()) << "the test sink is missing; run through scripts/test";
    player->read_devicenames();
    EXPECT_EQ(player->Devicenames(), expected);
    EXPECT_TRUE(player->Devicenames().contains(testSink));
    EXPECT_EQ(player->nDevices(), expected.size());

    // An identifier past the last device is refused, not played elsewhere.
    stash_silence();
    player->setDeviceID(uint32_t(expected.size()));
    try {
        player->Run();
        ADD_FAILURE() << "Run on a missing device did not raise";
    } catch (const EMPCError& e) {
        EXPECT_EQ(e.message(), QStringLiteral("WaveOutOpen:No such entity"));
    }
    EXPECT_FALSE(player->OwnBoard());
    EXPECT_EQ(calls, 0);
}

// The volume of this program's stream as the server reports it, per
// channel position, in the server's units (65536 = 100 %).
QJsonObject server_stream_volume() {
    const QString pid = QString::number(::getpid());
    for (const QJsonValue& v : pactl_list("sink-inputs")) {
        const QJsonObject in = v.toObject();
        if (in.value(QStringLiteral("properties")).toObject().value(QStringLiteral("application.process.id")).toString() ==
            pid)
            return in.value(QStringLiteral("volume")).toObject();
    }
    return {};
}

int channel_volume(const QJsonObject& volume, const char* position) {
    return volume.value(QString::fromLatin1(position)).toObject().value(QStringLiteral("value")).toInt(-1);
}

TEST_F(PlayerTest, DestroyedWhileStreamingClosesTheDeviceFirst) {
    stash_silence();
    player->Run();
    ASSERT_TRUE(wait_until([&] { return calls >= 8; }));
    ASSERT_FALSE(server_stream_volume().isEmpty()) << "the stream is not on the server";
    player.reset();
    EXPECT_TRUE(server_stream_volume().isEmpty()) << "the stream outlived the player";
    settle(200);  // notices of the closed device must not reach the freed player
    EXPECT_TRUE(shown.isEmpty()) << shown.join('|').toStdString();
}

TEST_F(PlayerTest, VolumeSetAndReadBack) {
    player->setBothVolume(0xFFFF);
    player->setLeftVolume(0);
    EXPECT_EQ(player->LeftVolume(), 0);
    EXPECT_EQ(player->RightVolume(), 0xFFFF);

    // Kept while idle, the stream starts at it.
    stash_silence();
    player->Run();
    // PipeWire's server reports the stream before its volume is applied.
    QJsonObject vol;
    wait_until([&] {
        vol = server_stream_volume();
        return channel_volume(vol, "front-left") == 0;
    }, 3000);
    EXPECT_EQ(channel_volume(vol, "front-left"), 0);
    EXPECT_EQ(channel_volume(vol, "front-right"), 65536);

    // Changed while playing: applied to the stream at once.
    player->setRightVolume(0x8000);
    player->setLeftVolume(0x4000);
    EXPECT_EQ(player->LeftVolume(), 0x4000);
    EXPECT_EQ(player->RightVolume(), 0x8000);
    vol = server_stream_volume();
    EXPECT_NEAR(channel_volume(vol, "front-left"), 0x4000 * 65536.0 / 65535, 1.0);
    EXPECT_NEAR(channel_volume(vol, "front-right"), 0x8000 * 65536.0 / 65535, 1.0);

    player->Stop();
    EXPECT_EQ(player->LeftVolume(), 0x4000);
    player->setBothVolume(0xFFFF);
    EXPECT_EQ(player->LeftVolume(), 0xFFFF);
    EXPECT_EQ(player->RightVolume(), 0xFFFF);
}


// What is played reaches the sink bit-exact and in full, including the
// final chunk; counts beyond the chunk or of part of a frame are cut.
TEST_F(PlayerTest, PlaysBitExactAndTheFinalChunkInFull) {
    test::PrivateNullSink sink(QStringLiteral("WavrellExact"), 44100);
    player->read_devicenames();
    const qsizetype id = player->Devicenames().indexOf(sink.description);
    ASSERT_GE(id, 0);
    player->setDeviceID(uint32_t(id));
    player->setNBuffers(8);  // the window's ring
    player->setNChunkSamples(4096);

    // A pattern without repeats, played as one continuous stream when the
    // player cuts the counts the way the owner expects.
    std::vector<int16_t> pattern(200000);
    uint32_t x = 12345;
    for (int16_t& v : pattern) {
        x = x * 1664525u + 1013904223u;
        v = int16_t(x >> 16);
    }
    constexpr int kEndCall = 40;
    size_t pos = 0;
    std::vector<const int16_t*> order;
    player->OnStash = [&](TWaveChunk& arr, int32_t& used, bool& last) {
        ++calls;
        order.push_back(arr.data());
        std::copy_n(pattern.begin() + pos, arr.size(), arr.begin());
        int32_t played = used;
        if (calls % 5 == 2) {
            used = 4095;  // half a frame too many: 4094 are played
            played = 4094;
        } else if (calls % 5 == 4) {
            used = 10000;  // more than the chunk holds
            played = 4096;
        }
        if (calls == kEndCall) {
            used = played = 302;
            last = true;
        }
        pos += size_t(played);
    };

    // A machine too busy to keep the stream fed leaves gaps in the
    // recording; such a run (the device counts its underruns) is repeated.
    for (int attempt = 1;; ++attempt) {
        calls = opened = closed = 0;
        pos = 0;
        order.clear();
        const uint64_t underrunsBefore = TWaveOutDevice::underruns();

        QProcess rec;
        rec.start(QStringLiteral("parec"),
                  {QStringLiteral("-d"), sink.name + QStringLiteral(".monitor"), QStringLiteral("--format=s16le"),
                   QStringLiteral("--rate=44100"), QStringLiteral("--channels=2"), QStringLiteral("--raw"),
                   QStringLiteral("--latency-msec=20")});
        ASSERT_TRUE(rec.waitForStarted(5000));
        QByteArray capture;
        ASSERT_TRUE(wait_until([&] {
            capture += rec.readAllStandardOutput();
            return capture.size() > 4000;
        })) << "the monitor records nothing";

        player->Run();
        ASSERT_TRUE(wait_until([&] {
            capture += rec.readAllStandardOutput();
            return closed == 1;
        }));
        settle(400);
        capture += rec.readAllStandardOutput();
        rec.terminate();
        rec.waitForFinished(5000);
        capture += rec.readAllStandardOutput();

        EXPECT_EQ(calls, kEndCall);
        for (size_t i = 8; i < order.size(); ++i) EXPECT_EQ(order[i], order[i % 8]) << "stash call " << i;

        // The monitor may lose the first few hundred frames of a new stream,
        // so the recording is searched for the pattern's first values that it
        // holds; from there on to the end everything must be there, bit for bit.
        const size_t total = pos;
        const auto* got = reinterpret_cast<const int16_t*>(capture.constData());
        const size_t n = size_t(capture.size()) / 2;
        auto key = [](const int16_t* v) {
            uint64_t k = 0;
            std::memcpy(&k, v, sizeof k);
            return k;
        };
        constexpr size_t kMaxLost = 2048;  // values
        std::unordered_map<uint64_t, size_t> head;
        for (size_t k = 0; k < kMaxLost; k += 2) head.emplace(key(&pattern[k]), k);
        size_t start = n, skipped = 0;
        for (size_t i = 0; i + 4 <= n; i += 2)
            if (auto it = head.find(key(got + i)); it != head.end()) {
                start = i;
                skipped = it->second;
                break;
            }
        size_t mismatch = total;
        if (start == n)
            mismatch = 0;
        else
            for (size_t i = skipped; i < total; ++i)
                if (start + i - skipped >= n || got[start + i - skipped] != pattern[i]) {
                    mismatch = i;
                    break;
                }

        if (mismatch != total && TWaveOutDevice::underruns() != underrunsBefore && attempt < 4) {
            std::cerr << "playback ran dry (busy machine); playing again\n";
            continue;
        }
        ASSERT_LT(start, n) << "the played pattern is not in the recording";
        EXPECT_EQ(mismatch, total) << "first difference at value " << mismatch << " of " << total
                                   << (start + mismatch - skipped >= n ? " (the recording ends there)" : "");
        break;
    }
    EXPECT_TRUE(shown.isEmpty()) << shown.join('|').toStdString();
}

// Requeue takes back what is not heard yet (the server's buffer too, but
// for a short margin) and asks the owner for it again from the frame that
// follows the margin: the sink
// hears source A up to that frame, then source B from it, with no frame
// lost or repeated, and a second Requeue returns to A the same way.
TEST_F(PlayerTest, RequeueReplacesTheQueuedSoundFromTheNextFrame) {
    test::PrivateNullSink sink(QStringLiteral("WavrellRequeue"), 44100);
    player->read_devicenames();
    const qsizetype id = player->Devicenames().indexOf(sink.description);
    ASSERT_GE(id, 0);
    player->setDeviceID(uint32_t(id));
    player->setNBuffers(8);  // the window's ring
    player->setNChunkSamples(4096);

    // Two stereo sources without repeats; frame f of source s is
    // src[s][2f], src[s][2f + 1].
    std::vector<int16_t> src[2];
    uint32_t x = 777;
    for (auto& v : src) {
        v.resize(2 * 200000);
        for (int16_t& s : v) {
            x = x * 1664525u + 1013904223u;
            s = int16_t(x >> 16);
        }
    }
    int cur = 0;
    int64_t pos = 0;  // next stream frame the stash hands out
    std::vector<int64_t> requeued;
    bool tryInside = false;
    player->OnStash = [&](TWaveChunk& arr, int32_t& used, bool&) {
        ++calls;
        if (tryInside) {
            // From inside the stash a Requeue does nothing.
            tryInside = false;
            EXPECT_EQ(player->Requeue(), player->StreamFrame());
        }
        EXPECT_EQ(pos, player->StreamFrame());
        std::copy_n(src[cur].begin() + pos * 2, used, arr.begin());
        pos += used / 2;
    };
    player->OnRequeue = [&](int64_t k) {
        requeued.push_back(k);
        pos = k;
        cur = 1 - cur;
    };

    // Not playing: nothing to take back.
    EXPECT_EQ(player->Requeue(), 0);
    EXPECT_TRUE(requeued.empty());

    for (int attempt = 1;; ++attempt) {
        calls = 0;
        cur = 0;
        pos = 0;
        requeued.clear();
        const uint64_t underrunsBefore = TWaveOutDevice::underruns();
        QProcess rec;
        rec.start(QStringLiteral("parec"),
                  {QStringLiteral("-d"), sink.name + QStringLiteral(".monitor"), QStringLiteral("--format=s16le"),
                   QStringLiteral("--rate=44100"), QStringLiteral("--channels=2"), QStringLiteral("--raw"),
                   QStringLiteral("--latency-msec=20")});
        ASSERT_TRUE(rec.waitForStarted(5000));
        QByteArray capture;
        auto pump = [&] { capture += rec.readAllStandardOutput(); };
        ASSERT_TRUE(wait_until([&] {
            pump();
            return capture.size() > 4000;
        })) << "the monitor records nothing";

        player->Run();
        int64_t seams[2];
        for (int64_t& k : seams) {
            const int callsBefore = calls;
            ASSERT_TRUE(wait_until([&] {
                pump();
                return calls >= callsBefore + 10;
            }));
            const int64_t queued = player->StreamFrame();
            const int64_t heard = player->HeardFrame();
            EXPECT_LE(heard, queued);
            k = player->Requeue();
            ASSERT_EQ(requeued.size(), size_t(&k - seams + 1));
            EXPECT_EQ(requeued.back(), k);
            // Only what had not been heard is replaced: all of it but a
            // short margin ahead of the ear, also what the server held.
            EXPECT_GE(k, heard);
            EXPECT_LE(k, queued);
            EXPECT_LT(k, heard + 44100 / 10);
            EXPECT_GE(player->StreamFrame(), k);
            tryInside = true;
        }
        const int callsBefore = calls;
        ASSERT_TRUE(wait_until([&] {
            pump();
            return calls >= callsBefore + 20;
        }));
        EXPECT_EQ(requeued.size(), 2u);
        player->Stop();
        settle(300);
        pump();
        rec.terminate();
        rec.waitForFinished(5000);
        pump();

        // The stream the sink must have heard, from its first frames on (the
        // monitor may miss a few hundred).
        std::vector<int16_t> want;
        const int64_t bounds[] = {0, seams[0], seams[1], pos};
        for (int part = 0; part < 3; ++part)
            want.insert(want.end(), src[part % 2].begin() + bounds[part] * 2, src[part % 2].begin() + bounds[part + 1] * 2);
        const auto* got = reinterpret_cast<const int16_t*>(capture.constData());
        const size_t n = size_t(capture.size()) / 2;
        size_t start = n, skipped = 0;
        for (size_t i = 0; i + 4 <= n && start == n; i += 2)
            for (size_t k = 0; k < 4096 && k + 4 <= want.size(); k += 2)
                if (std::memcmp(got + i, want.data() + k, 8) == 0) {
                    start = i;
                    skipped = k;
                    break;
                }
        size_t matched = skipped;
        while (matched < want.size() && start + matched - skipped < n && got[start + matched - skipped] == want[matched])
            ++matched;
        // Stop drops what was queued; everything well past the second seam
        // must have been heard.
        const bool complete = start < n && int64_t(matched / 2) > seams[1] + 10000;
        if (!complete && TWaveOutDevice::underruns() != underrunsBefore && attempt < 4) {
            std::cerr << "playback ran dry (busy machine); playing again\n";
            continue;
        }
        ASSERT_LT(start, n) << "the stream is not in the recording";
        EXPECT_GT(int64_t(matched / 2), seams[1] + 10000)
            << "first difference at frame " << matched / 2 << "; seams at " << seams[0] << " and " << seams[1];
        break;
    }
    EXPECT_TRUE(shown.isEmpty()) << shown.join('|').toStdString();
}

class RunHandler : public QObject {
public:
    explicit RunHandler(TMPCPlay* p) : player(p) {}
    bool event(QEvent* e) override {
        if (e->type() != QEvent::User) return QObject::event(e);
        player->Run();
        return true;
    }
    TMPCPlay* player;
};

TEST_F(PlayerTest, NoServerRaisesWaveOutOpenThroughTheHandler) {
    const QByteArray saved = qgetenv("PULSE_SERVER");
    qputenv("PULSE_SERVER", "unix:/nonexistent/wavrell/native");
    stash_silence();
    EXPECT_EQ(player->nDevices(), 0);
    RunHandler handler(player.get());
    QCoreApplication::postEvent(&handler, new QEvent(QEvent::User));
    ASSERT_TRUE(wait_until([&] { return !shown.isEmpty(); }, 15000));
    if (saved.isNull())
        qunsetenv("PULSE_SERVER");
    else
        qputenv("PULSE_SERVER", saved);

    ASSERT_EQ(shown.size(), 1);
    EXPECT_TRUE(shown[0].startsWith(QStringLiteral("WaveOutOpen:"))) << shown[0].toStdString();
    EXPECT_EQ(shown[0], QStringLiteral("WaveOutOpen:Connection refused"));
    EXPECT_FALSE(player->OwnBoard());
    EXPECT_EQ(calls, 0);

    // The program goes on: with the server back, playing works.
    shown.clear();
    player->OnStash = [&](TWaveChunk&, int32_t& used, bool&) {
        ++calls;
        used = 0;
    };
    player->Run();
    ASSERT_TRUE(wait_until([&] { return closed == 1; }));
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(shown.isEmpty());
}

}  // namespace
}  // namespace wavrell
