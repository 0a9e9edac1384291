// The blind ABX test in the window, driven by real key events, against the
// PulseAudio server that scripts/test starts: the panel and its keys, the
// "Play file" checks while X plays, the score and the log, what the sink
// hears when X is played, and the loop range repeated without a seam.

#include "app/abx_panel.h"
#include "app/main_window.h"
#include "app/paint_box.h"
#include "workspace/abx_log.h"
#include "workspace/abx_test.h"
#include "workspace/workspace.h"
#include "audio/mpc_play.h"
#include "audio/pulse_device.h"
#include "audio/wav_file.h"
#include "common/message_box.h"
#include "plot/axis.h"
#include "settings/appdata_folders.h"
#include "tests/support/sink_capture.h"
#include "tests/support/test_support.h"

#include <QAction>
#include <QCheckBox>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QRegularExpression>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <iostream>
#include <memory>
#include <vector>

namespace wavrell {
namespace {

constexpr int kRate = 44100;
using test::noise;
using test::Recorder;
using test::Samples;
using test::wait_until;

// The first sounding frame of a recording and where its first four frames
// stand in a file (-1: nowhere).
struct Found {
    size_t at = 0;
    int64_t frame = -1;
};
Found locate(const Samples& cap, const Samples& file) {
    Found f;
    const size_t frames = cap.size() / 2;
    while (f.at < frames && cap[2 * f.at] == 0 && cap[2 * f.at + 1] == 0) ++f.at;
    if (f.at + 4 > frames) return f;
    for (size_t k = 0; k + 4 <= file.size() / 2; ++k)
        if (std::memcmp(cap.data() + 2 * f.at, file.data() + 2 * k, 16) == 0) {
            f.frame = int64_t(k);
            break;
        }
    return f;
}

class BlindTest : public ::testing::Test {
protected:
    void SetUp() override {
        set_message_box_hook([this](const QString& text, const QString&, int) {
            shown << text;
            if (on_message) on_message(text);
            return answer;
        });
        dir = test::build_temp_dir();
        special_folder_lookups().local = [this] { return dir->filePath(QStringLiteral("data")); };
        qputenv("PULSE_SINK", sink.name.toUtf8());
        form = std::make_unique<TForm19>();
        form->show();
        form->FormActivate();
        ws = &form->workspace();
    }
    void TearDown() override {
        form.reset();
        qunsetenv("PULSE_SINK");
        set_message_box_hook({});
        special_folder_lookups() = {};
        TForm19::abx_pick_hook = {};
    }

    QString write(const QString& name, const Samples& v) {
        const QString path = dir->filePath(name);
        EXPECT_TRUE(test::sox_write(path, QByteArray(reinterpret_cast<const char*>(v.data()), qsizetype(v.size() * 2)),
                                    kRate, 2));
        return path;
    }
    // The outline colour of crest box t.
    QRgb outline(int t) { return form->crestpaint[size_t(t)]->grab().toImage().pixel(0, 0); }
    void key(Qt::Key k, Qt::KeyboardModifiers m = Qt::NoModifier) { QTest::keyClick(form.get(), k, m); }
    // Playback has taken chunks beyond where it stands now.
    bool plays_on() {
        const int32_t before = ws->playcount();
        return wait_until([&] { return ws->playcount() > before; });
    }
    void stop(Recorder* rec = nullptr) {
        if (form->playaction->isChecked()) form->playaction->trigger();
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 400) {
            QTest::qWait(5);
            if (rec) rec->pump();
        }
    }

    test::PrivateNullSink sink{QStringLiteral("WavrellAbx"), kRate};
    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<TForm19> form;
    TWorkspace* ws = nullptr;
    QStringList shown;
    int answer = mb::IDOK;
    std::function<void(const QString&)> on_message;
};

// Messages of the playback log while a blind test runs: they would show on
// a terminal which file X is.
int g_playbackMessages = 0;
QtMessageHandler g_previousHandler = nullptr;
void count_playback_messages(QtMsgType type, const QMessageLogContext& ctx, const QString& text) {
    if (ctx.category && QLatin1String(ctx.category) == QLatin1String("wavrell.playback")) ++g_playbackMessages;
    if (g_previousHandler) g_previousHandler(type, ctx, text);
}

// A test of four trials, every key pressed as a listener presses it: the
// answers come from the model's X (the test's hook), so the score is 4/4,
// p = 1/16. While X plays neither "Play file" check is on and the panel
// says "X"; the score stays hidden until the end when asked; the log is
// written before the summary shows and ends with its own hash.
TEST_F(BlindTest, FourTrialsByKeys) {
    form->load_file(0, write(QStringLiteral("a.wav"), noise(6 * kRate, 1, 20000)));
    form->load_file(1, write(QStringLiteral("b.wav"), noise(6 * kRate, 2, 9000)));
    ASSERT_TRUE(ws->normalize());
    EXPECT_FALSE(form->abxplayA->isEnabled()) << "the test's keys work only during a test";
    key(Qt::Key_A);
    EXPECT_FALSE(form->playaction->isChecked());

    key(Qt::Key_B, Qt::ControlModifier);
    ASSERT_NE(form->abxpanel, nullptr);
    EXPECT_TRUE(form->abxpanel->isVisible());
    EXPECT_EQ(form->dockWidgetArea(form->abxpanel), Qt::BottomDockWidgetArea);
    EXPECT_TRUE(form->abx().running());
    EXPECT_EQ(form->abx().planned(), 16);
    // Four trials: the panel's count, then "New test".
    form->abxpanel->trialsbox->setValue(4);
    QTest::mouseClick(form->abxpanel->newtest, Qt::LeftButton);
    ASSERT_TRUE(form->abxpanel->hidescore->isChecked()) << "the score is hidden until the end by default";
    EXPECT_EQ(form->abx().planned(), 4);
    EXPECT_EQ(form->abx().done(), 0);
    EXPECT_EQ(form->abxpanel->triallabel->text(), QStringLiteral("Trial 1 of 4"));

    g_playbackMessages = 0;
    g_previousHandler = qInstallMessageHandler(count_playback_messages);
    struct Restore {
        ~Restore() { qInstallMessageHandler(g_previousHandler); }
    } restore;
    QString logAtSummary;
    on_message = [&](const QString&) {
        QFile f(form->lastabxlog);
        if (f.open(QIODevice::ReadOnly)) logAtSummary = QString::fromUtf8(f.readAll());
    };
    for (int trial = 1; trial <= 4; ++trial) {
        SCOPED_TRACE(testing::Message() << "trial " << trial);
        EXPECT_EQ(form->abx().trial(), trial);
        key(Qt::Key_A);
        ASSERT_TRUE(form->playaction->isChecked());
        ASSERT_TRUE(plays_on());
        EXPECT_EQ(ws->wavplayno(), 0);
        EXPECT_TRUE(form->playfile1action->isChecked());
        EXPECT_EQ(form->abxpanel->heardlabel->text(), QStringLiteral("Playing: A"));
        EXPECT_NE(outline(0), outline(2)) << "the played file's crest boxes are outlined in red";

        key(Qt::Key_X);
        ASSERT_TRUE(plays_on());
        EXPECT_EQ(ws->wavplayno(), form->abx().x());
        EXPECT_FALSE(form->playfile1action->isChecked());
        EXPECT_FALSE(form->playfile2action->isChecked());
        EXPECT_EQ(form->abxpanel->heardlabel->text(), QStringLiteral("Playing: X"));
        EXPECT_EQ(outline(0), outline(2)) << "a crest box outline tells X";
        // Space does not lead away from X.
        key(Qt::Key_Space);
        EXPECT_EQ(ws->wavplayno(), form->abx().x());
        EXPECT_FALSE(form->playfile1action->isChecked() || form->playfile2action->isChecked());

        key(Qt::Key_B);
        EXPECT_EQ(ws->wavplayno(), 1);
        EXPECT_TRUE(form->playfile2action->isChecked());
        key(Qt::Key_X);
        EXPECT_FALSE(form->playfile1action->isChecked() || form->playfile2action->isChecked());
        // The cursor and zoom keys keep working during the test.
        const double lo = form->xaxis->LoValue();
        key(Qt::Key_Home);
        EXPECT_DOUBLE_EQ(ws->cursorpos(), lo);
        EXPECT_EQ(form->abx().switches(), 4);

        key(form->abx().x() == 0 ? Qt::Key_1 : Qt::Key_2);
        if (trial < 4) {
            EXPECT_FALSE(form->abxpanel->scorelabel->text().contains(QStringLiteral("correct")))
                << form->abxpanel->scorelabel->text().toStdString();
            EXPECT_FALSE(form->playaction->isChecked()) << "X plays on into the next trial";
            EXPECT_TRUE(form->playfile1action->isChecked()) << "the checks show the answered X";
            EXPECT_FALSE(form->playfile2action->isChecked());
        }
    }
    EXPECT_FALSE(form->abx().running());
    EXPECT_EQ(g_playbackMessages, 0) << "the switches were logged during the test";
    EXPECT_EQ(form->abx().correct(), 4);
    EXPECT_EQ(form->abx().pvalue(), 1.0 / 16);
    ASSERT_EQ(shown.size(), 1);
    EXPECT_TRUE(shown[0].contains(QStringLiteral("4/4 correct, p = 0.0625"))) << shown[0].toStdString();
    EXPECT_EQ(form->abxpanel->scorelabel->text(), QStringLiteral("4/4 correct, p = 0.0625"));
    EXPECT_FALSE(form->abxplayX->isEnabled());

    // The log: in the data folder, named by its time, written before the summary.
    const QString folder = dir->filePath(QStringLiteral("data/wavrell/abx"));
    EXPECT_EQ(QFileInfo(form->lastabxlog).absolutePath(), folder);
    EXPECT_TRUE(QFileInfo(form->lastabxlog).fileName().contains(QRegularExpression(QStringLiteral("^abx-\\d{8}-\\d{6}\\.txt$"))));
    ASSERT_FALSE(logAtSummary.isEmpty()) << "no log when the summary showed";
    EXPECT_TRUE(abx_log_intact(logAtSummary.toUtf8()));
    for (const char* line : {"\nScore: 4 of 4 correct\n", "\np-value: 0.0625\n", "\nPlanned trials: 4\n",
                             "\nLevel matching: RMS, on\n", "\nPolarity of B: normal\n", "\n  Sampling rate: 44100 Hz\n",
                             "\nTransition: a 10 ms fade-out and 10 ms fade-in at every press of A, B or X, also when "
                             "the file stays\n",
                             "\nOutput device: WavrellAbx",
                             "\n95 % confidence interval of the hit rate: 0.3976 to 1.0000\n", "\nX sequence: "})
        EXPECT_TRUE(logAtSummary.contains(QLatin1String(line))) << line << "\n" << logAtSummary.toStdString();
    EXPECT_FALSE(logAtSummary.contains(QStringLiteral("Score shown")));
    EXPECT_TRUE(logAtSummary.contains(QRegularExpression(QStringLiteral("\nSound server: \\S.* \\d[\\d.]*\n"))));
    // The files as they were loaded, hashed then.
    for (const char* name : {"a.wav", "b.wav"}) {
        QFile file(dir->filePath(QLatin1String(name)));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_TRUE(logAtSummary.contains(QStringLiteral("  File SHA-256: ") +
                                          QString::fromLatin1(QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256).toHex())))
            << name;
    }
    EXPECT_TRUE(logAtSummary.contains(QStringLiteral("File B (file 2): ") + dir->filePath(QStringLiteral("b.wav"))));
    EXPECT_EQ(logAtSummary.count(QRegularExpression(QStringLiteral("\n +\\d  [AB] +[AB] +yes +\\d+\\.\\d{3} +4\n"))), 4);

    // "Save log..." writes the same log where the dialog says.
    const QString saved = dir->filePath(QStringLiteral("saved.txt"));
    TForm19::save_log_dialog_hook = [&](QWidget*, const QString& suggested) {
        EXPECT_TRUE(suggested.startsWith(folder + QStringLiteral("/abx-"))) << suggested.toStdString();
        return saved;
    };
    QTest::mouseClick(form->abxpanel->savelog, Qt::LeftButton);
    TForm19::save_log_dialog_hook = {};
    QFile f(saved);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_TRUE(abx_log_intact(f.readAll()));
}

// With level matching off and the files 6 dB apart the test asks first;
// "No" leaves everything as it was, "Yes" starts it. Both files are needed.
TEST_F(BlindTest, RefusesUnmatchedLevelsUnlessConfirmed) {
    form->load_file(0, write(QStringLiteral("a.wav"), noise(kRate, 3, 20000)));
    key(Qt::Key_B, Qt::ControlModifier);
    ASSERT_EQ(shown.size(), 1);
    EXPECT_TRUE(shown[0].contains(QStringLiteral("open both files"))) << shown[0].toStdString();
    EXPECT_EQ(form->abxpanel, nullptr);

    form->load_file(1, write(QStringLiteral("b.wav"), noise(kRate, 4, 10000)));
    form->normalizeaction->trigger();
    ASSERT_FALSE(ws->normalize());
    answer = mb::IDNO;
    key(Qt::Key_B, Qt::ControlModifier);
    ASSERT_EQ(shown.size(), 2);
    EXPECT_TRUE(shown[1].contains(QStringLiteral("Level matching is off"))) << shown[1].toStdString();
    EXPECT_TRUE(shown[1].contains(QStringLiteral(" 6.0 dB"))) << shown[1].toStdString();
    EXPECT_FALSE(form->abx().started());
    EXPECT_FALSE(form->abxplayX->isEnabled());

    answer = mb::IDYES;
    key(Qt::Key_B, Qt::ControlModifier);
    EXPECT_TRUE(form->abx().running());
    EXPECT_TRUE(form->abxplayX->isEnabled());
    // The test's conditions hold until it ends.
    EXPECT_FALSE(form->normalizeaction->isEnabled());
    QTest::mouseClick(form->abxpanel->endtest, Qt::LeftButton);
    EXPECT_FALSE(form->abxpanel->isVisible());
    EXPECT_FALSE(form->abxplayX->isEnabled());
    EXPECT_TRUE(form->normalizeaction->isEnabled());
}

// The log and the refusal speak of the conditions in force: the criterion
// of "Match by", file 2's offset from the alignment, and its polarity as
// heard (corrected, or inverted once the correction is undone).
TEST_F(BlindTest, LogNamesCriterionOffsetAndPolarity) {
    constexpr int kDelay = 441;  // 10 ms
    const Samples a = noise(2 * kRate, 5, 20000);
    Samples b(a.size() + 2 * kDelay, 0);  // file 2: half as loud, 10 ms later, inverted
    for (size_t i = 0; i < a.size(); ++i) b[i + 2 * kDelay] = int16_t(-a[i] / 2);
    form->load_file(0, write(QStringLiteral("a.wav"), a));
    form->load_file(1, write(QStringLiteral("b.wav"), b));
    ASSERT_EQ(ws->file2offset(), kDelay);
    ASSERT_TRUE(ws->file2negated());
    form->matchintegratedaction->trigger();
    ASSERT_EQ(ws->MatchBy(), mbintegrated);

    // Unmatched, the files are 6 dB apart in integrated loudness.
    form->normalizeaction->trigger();
    ASSERT_FALSE(ws->normalize());
    answer = mb::IDNO;
    key(Qt::Key_B, Qt::ControlModifier);
    ASSERT_EQ(shown.size(), 1);
    EXPECT_TRUE(shown[0].contains(QStringLiteral(" 6.0 dB by Integrated loudness"))) << shown[0].toStdString();
    EXPECT_FALSE(form->abx().started());

    form->normalizeaction->trigger();
    const auto log = [&] {
        const QString path = dir->filePath(QStringLiteral("now.txt"));
        form->write_abx_log_now(path);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::ReadOnly));
        return QString::fromUtf8(f.readAll());
    };
    key(Qt::Key_B, Qt::ControlModifier);
    ASSERT_TRUE(form->abx().running());
    // Neither the criterion nor the alignment can change under the test.
    EXPECT_FALSE(form->matchrmsaction->isEnabled());
    EXPECT_FALSE(form->correctpolarityaction->isEnabled());
    EXPECT_FALSE(form->nudgelateraction->isEnabled());
    QString text = log();
    const double factor = 20 * std::log10(ws->filefactor(0));
    for (const QString& line :
         {QStringLiteral("\nLevel matching: Integrated loudness, on\n"),
          QStringLiteral("\nFactor A: %1 dB\n").arg(QString::asprintf("%+.2f", factor)),
          QStringLiteral("\nAlignment offset of B: 441 frames (10.000 ms)\n"),
          QStringLiteral("\nPolarity of B: corrected\n")})
        EXPECT_TRUE(text.contains(line)) << line.toStdString() << text.toStdString();

    QTest::mouseClick(form->abxpanel->endtest, Qt::LeftButton);
    ASSERT_TRUE(form->correctpolarityaction->isEnabled());
    form->correctpolarityaction->trigger();
    ASSERT_FALSE(ws->file2negated());
    form->matchshorttermaction->trigger();
    key(Qt::Key_B, Qt::ControlModifier);
    ASSERT_TRUE(form->abx().running());
    text = log();
    EXPECT_TRUE(text.contains(QStringLiteral("\nPolarity of B: inverted\n"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("\nLevel matching: Maximum short-term loudness, on\n")));
}

// With X = B and level matching off, pressing X sends file 2 to the sink
// bit for bit, from the cursor on, and nothing of file 1.
TEST_F(BlindTest, XIsBPlaysFile2BitExact) {
    // Nearly the same level: no question before the test.
    const Samples a = noise(6 * kRate, 5, 12000), b = noise(6 * kRate, 6, 12000);
    form->load_file(0, write(QStringLiteral("a.wav"), a));
    form->load_file(1, write(QStringLiteral("b.wav"), b));
    form->normalizeaction->trigger();
    ASSERT_FALSE(ws->normalize());
    TForm19::abx_pick_hook = [] { return 1; };
    ws->setCursorpos(1.0);

    for (int attempt = 1;; ++attempt) {
        key(Qt::Key_B, Qt::ControlModifier);
        ASSERT_TRUE(form->abx().running());
        ASSERT_EQ(form->abx().x(), 1);
        const uint64_t underrunsBefore = TWaveOutDevice::underruns();
        Recorder rec(sink.name);
        ASSERT_TRUE(rec.running()) << "the monitor records nothing";
        key(Qt::Key_X);
        ASSERT_TRUE(form->MPCPlay1->OwnBoard());
        EXPECT_FALSE(form->playfile1action->isChecked() || form->playfile2action->isChecked());
        // Until two seconds have been heard (the cursor shows the frame heard).
        ASSERT_TRUE(wait_until([&] {
            rec.pump();
            return ws->cursorpos() >= 3.0;
        }, 20000));
        stop(&rec);
        const Samples cap = rec.finish();
        QTest::mouseClick(form->abxpanel->endtest, Qt::LeftButton);

        const Found f = locate(cap, b);
        int64_t run = 0;
        if (f.frame >= 0)
            while (f.at + size_t(run) < cap.size() / 2 && f.frame + run < int64_t(b.size() / 2) &&
                   std::memcmp(cap.data() + 2 * (f.at + size_t(run)), b.data() + 2 * (f.frame + run), 4) == 0)
                ++run;
        if (run < kRate && TWaveOutDevice::underruns() != underrunsBefore && attempt < 3) {
            std::cerr << "playback ran dry (busy machine); playing again\n";
            ws->setCursorpos(1.0);
            continue;
        }
        ASSERT_GE(f.frame, 0) << "the first sound is not file 2's";
        // From the cursor (the monitor may miss the first frames).
        EXPECT_GE(f.frame, kRate);
        EXPECT_LT(f.frame, kRate + 8192);
        EXPECT_GE(run, kRate) << "file 2 bit for bit for less than a second";
        EXPECT_EQ(locate(cap, a).frame, -1);
        break;
    }
    EXPECT_TRUE(shown.isEmpty()) << shown.join('|').toStdString();
}

// The transition heard at each press of X in a blind test: with two files
// that differ only below 14 kHz (file 2 is file 1 plus a 300 Hz tone), the
// energy above 16 kHz in the 100 ms from each press on is the same within
// 3 dB on average for the trials where X is A (no change of file) and
// those where X is B (a change) — there is no click to answer by. Every
// press dips (fade-out, fade-in), also when the file stays; every trial
// starts at the same place. ffmpeg's high-pass filter measures.
TEST_F(BlindTest, TransitionsOfXIsAAndXIsBSoundAlike) {
    const int seconds = 4;
    const Samples a = noise(seconds * kRate, 11, 12000);
    Samples b = a;
    for (size_t i = 0; i < b.size(); ++i)
        b[i] = int16_t(b[i] + std::lround(3000 * std::sin(2 * M_PI * 300 * double(i / 2) / kRate)));
    form->load_file(0, write(QStringLiteral("a.wav"), a));
    form->load_file(1, write(QStringLiteral("b.wav"), b));
    if (ws->normalize()) form->normalizeaction->trigger();
    answer = mb::IDYES;
    const int xs[] = {0, 1, 1, 0, 1, 0, 0, 1, 0, 1};
    int pick = 0;
    TForm19::abx_pick_hook = [&] { return xs[size_t(pick++) % std::size(xs)]; };
    ws->setCursorpos(0.5);
    key(Qt::Key_B, Qt::ControlModifier);
    ASSERT_TRUE(form->abx().running());
    ASSERT_GT(form->abx().planned(), int(std::size(xs)));

    Recorder rec(sink.name);
    ASSERT_TRUE(rec.running()) << "the monitor records nothing";
    auto heard_past = [&](double t) {
        return wait_until([&] {
            rec.pump();
            return ws->cursorpos() >= t;
        });
    };
    std::vector<int> kinds;
    for (size_t trial = 0; trial < std::size(xs); ++trial) {
        kinds.push_back(form->abx().x());
        key(Qt::Key_A);
        ASSERT_TRUE(heard_past(0.5 + 0.4)) << "trial " << trial;
        key(Qt::Key_X);
        ASSERT_TRUE(heard_past(0.5 + 0.8)) << "trial " << trial;
        key(Qt::Key_1);
        EXPECT_NEAR(ws->cursorpos(), 0.5, 1e-9) << "the next trial starts where every trial starts";
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 250) {
            QTest::qWait(5);
            rec.pump();
        }
    }
    const Samples cap = rec.finish();

    // The sounding stretches, one per trial, and the dip in each: where
    // the 1 ms level is lowest, away from the stretch's ends.
    const size_t frames = cap.size() / 2, ms = kRate / 1000;
    std::vector<double> level(frames / ms);
    for (size_t w = 0; w < level.size(); ++w) {
        double e = 0;
        for (size_t i = w * ms * 2; i < (w + 1) * ms * 2; ++i) e += double(cap[i]) * cap[i];
        level[w] = e;
    }
    std::vector<size_t> dips;  // frame of each dip
    for (size_t w = 0; w < level.size();) {
        if (level[w] == 0) {
            ++w;
            continue;
        }
        size_t end = w;
        while (end < level.size() && level[end] > 0) ++end;
        if (end - w > 300) {
            size_t low = w + 100;
            for (size_t i = w + 100; i < end - 100; ++i)
                if (level[i] < level[low]) low = i;
            EXPECT_LT(level[low], 0.01 * level[w + 50]) << "no dip in the stretch at " << w << " ms";
            dips.push_back(low * ms);
        }
        w = end;
    }
    ASSERT_EQ(dips.size(), kinds.size()) << "one stretch of sound per trial";

    // Above 16 kHz, by ffmpeg.
    const QString raw = dir->filePath(QStringLiteral("cap.raw")), high = dir->filePath(QStringLiteral("high.raw"));
    {
        QFile f(raw);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(reinterpret_cast<const char*>(cap.data()), qint64(cap.size() * 2));
    }
    ASSERT_EQ(test::run_program(QStringLiteral("ffmpeg"),
                                {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-y"), QStringLiteral("-f"),
                                 QStringLiteral("s16le"), QStringLiteral("-ar"), QString::number(kRate),
                                 QStringLiteral("-ac"), QStringLiteral("2"), QStringLiteral("-i"), raw,
                                 QStringLiteral("-af"),
                                 QStringLiteral("highpass=f=16000,highpass=f=16000,highpass=f=16000,highpass=f=16000"),
                                 QStringLiteral("-f"), QStringLiteral("f32le"), high}),
              0);
    QFile hf(high);
    ASSERT_TRUE(hf.open(QIODevice::ReadOnly));
    const QByteArray hb = hf.readAll();
    const auto* h = reinterpret_cast<const float*>(hb.constData());
    const size_t hframes = size_t(hb.size()) / 8;
    double sum[2] = {0, 0};
    int count[2] = {0, 0};
    for (size_t i = 0; i < dips.size(); ++i) {
        // From the press (the dip's start, 10 ms before its lowest point) on.
        const size_t from = dips[i] - 10 * ms, to = std::min(hframes, from + 100 * ms);
        double e = 0;
        for (size_t k = from * 2; k < to * 2; ++k) e += double(h[k]) * h[k];
        sum[kinds[i]] += 10 * std::log10(e + 1e-12);
        ++count[kinds[i]];
    }
    ASSERT_GT(count[0], 0);
    ASSERT_GT(count[1], 0);
    EXPECT_NEAR(sum[0] / count[0], sum[1] / count[1], 3.0) << "X is A against X is B, dB above 16 kHz";
}

// A loop of 1.5 s set with [ and ] plays over and over with no frame lost or
// repeated at the seam; Shift+drag in a waveform box sets a loop as well.
TEST_F(BlindTest, LoopRepeatsWithoutASeam) {
    const Samples a = noise(5 * kRate, 7, 15000);
    form->load_file(0, write(QStringLiteral("a.wav"), a));
    form->normalizeaction->trigger();
    ASSERT_FALSE(ws->normalize());

    // Shift+drag from x = 100 to x = 200 of the first box, then a Shift+click clears it.
    TPaintBox* box = form->PaintBox[0];
    QTest::mousePress(box, Qt::LeftButton, Qt::ShiftModifier, QPoint(200, 5));
    QMouseEvent move(QEvent::MouseMove, QPointF(100, 5), box->mapToGlobal(QPointF(100, 5)), Qt::NoButton,
                     Qt::LeftButton, Qt::ShiftModifier);
    QApplication::sendEvent(box, &move);
    QTest::mouseRelease(box, Qt::LeftButton, Qt::ShiftModifier, QPoint(100, 5));
    EXPECT_DOUBLE_EQ(form->looplo(), form->xaxis->pixel_to_value(100));
    EXPECT_DOUBLE_EQ(form->loophi(), form->xaxis->pixel_to_value(200));
    const QImage withLoop = box->grab().toImage();
    EXPECT_NE(withLoop.pixel(150, box->height() / 2 + 3), withLoop.pixel(250, box->height() / 2 + 3))
        << "the loop range is not drawn";
    QTest::mouseClick(box, Qt::LeftButton, Qt::ShiftModifier, QPoint(150, 5));
    EXPECT_FALSE(form->loop_frames(kRate).active());

    // [ at 1.0 s and ] at 2.5 s.
    ws->setCursorpos(1.0);
    key(Qt::Key_BracketLeft);
    ws->setCursorpos(2.5);
    key(Qt::Key_BracketRight);
    const TLoopRange loop = form->loop_frames(kRate);
    ASSERT_EQ(loop.from, kRate);
    ASSERT_EQ(loop.to, kRate * 5 / 2);

    for (int attempt = 1;; ++attempt) {
        ws->setPlaycount(int32_t(loop.from));
        const uint64_t underrunsBefore = TWaveOutDevice::underruns();
        Recorder rec(sink.name);
        ASSERT_TRUE(rec.running()) << "the monitor records nothing";
        form->playaction->trigger();
        // Some four rounds of the loop.
        int64_t chunks = 0;
        ASSERT_TRUE(wait_until(
            [&] {
                rec.pump();
                return rec.data.size() / 4 > 6 * kRate + 20000;
            },
            20000));
        chunks = ws->playcount();
        stop(&rec);
        const Samples cap = rec.finish();
        EXPECT_GE(chunks, loop.from);
        EXPECT_LT(chunks, loop.to) << "playback left the loop";
        EXPECT_GE(ws->cursorpos(), 1.0);
        EXPECT_LE(ws->cursorpos(), 2.5);

        const Found f = locate(cap, a);
        int64_t matched = 0, seams = 0;
        if (f.frame >= 0) {
            int64_t k = f.frame;
            for (size_t c = f.at; c < cap.size() / 2; ++c) {
                if (std::memcmp(cap.data() + 2 * c, a.data() + 2 * k, 4) != 0) break;
                ++matched;
                if (++k == loop.to) k = loop.from, ++seams;
            }
        }
        if (seams < 3 && TWaveOutDevice::underruns() != underrunsBefore && attempt < 3) {
            std::cerr << "playback ran dry (busy machine); playing again\n";
            continue;
        }
        ASSERT_GE(f.frame, loop.from) << "the first sound is not the loop's";
        EXPECT_LT(f.frame, loop.from + 8192);
        EXPECT_GE(seams, 3) << "frames in a row: " << matched;
        // After the last matched frame only silence (playback was stopped).
        bool silent = true;
        for (size_t i = 2 * (f.at + size_t(matched)); i < cap.size() && silent; ++i) silent = cap[i] == 0;
        EXPECT_TRUE(silent) << "a frame lost or repeated after " << matched << " frames, " << seams << " seams";
        break;
    }
    EXPECT_TRUE(shown.isEmpty()) << shown.join('|').toStdString();
}

}  // namespace
}  // namespace wavrell
