// The null test in the real window: the difference taken on a worker after
// the files are loaded, its line and lane, a file change giving it up, and
// "Play difference" heard at a private null sink.
#include "app/difference_view.h"

#include "app/main_window.h"
#include "app/paint_box.h"
#include "workspace/difference.h"
#include "workspace/workspace.h"
#include "audio/mpc_play.h"
#include "audio/pulse_device.h"
#include "audio/wav_file.h"
#include "common/message_box.h"
#include "tests/support/sink_capture.h"
#include "tests/support/test_support.h"

#include <QAction>
#include <QApplication>
#include <QThread>
#include <QLabel>
#include <QMenu>
#include <QTest>

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <memory>

namespace wavrell {
namespace {

constexpr int kRate = 44100;

using test::noise;
using test::Recorder;
using test::Samples;
using test::wait_until;

class DifferenceWindow : public ::testing::Test {
protected:
    void SetUp() override {
        set_message_box_hook([this](const QString& text, const QString&, int) {
            shown << text;
            return 0;
        });
        dir = test::build_temp_dir();
        qputenv("PULSE_SINK", sink.name.toUtf8());
        savedConfig = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", dir->filePath(QStringLiteral("config")).toUtf8());
        form = std::make_unique<TForm19>();
        form->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(form.get()));
        form->activateWindow();
        QApplication::setActiveWindow(form.get());
        if (!form->activated) form->FormActivate();
        ws = &form->workspace();
        // File 1: noise; file 2: the same with other noise added, so that
        // the difference is clearly there and its gain not 1.
        a = noise(5 * kRate, 21, 20000);
        const Samples n = noise(5 * kRate, 22, 3000);
        b.resize(a.size());
        for (size_t i = 0; i < a.size(); ++i) b[i] = int16_t(std::clamp(a[i] + n[i], -32768, 32767));
    }
    void TearDown() override {
        TDifferenceView::worker_hook = {};
        form.reset();
        qunsetenv("PULSE_SINK");
        qputenv("XDG_CONFIG_HOME", savedConfig);
        set_message_box_hook({});
    }

    QString write(const QString& name, const Samples& v) {
        const QString path = dir->filePath(name);
        EXPECT_TRUE(test::sox_write(path, QByteArray(reinterpret_cast<const char*>(v.data()), qsizetype(v.size() * 2)),
                                    kRate, 2));
        return path;
    }
    TDifferenceView& view() { return *form->differenceview; }
    bool wait_for_difference() {
        return wait_until([&] { return view().difference() != nullptr; }, 30000);
    }

    test::PrivateNullSink sink{QStringLiteral("WavrellDiff"), kRate};
    std::unique_ptr<QTemporaryDir> dir;
    QByteArray savedConfig;
    std::unique_ptr<TForm19> form;
    TWorkspace* ws = nullptr;
    QStringList shown;
    Samples a, b;
};

// Loading the pair starts the worker; its line appears under the files,
// "Show difference" adds the lane (boxes make room for it) and draws d and
// the trace over time; closing a file while a difference is being taken
// gives it up, and the line goes.
TEST_F(DifferenceWindow, LineAndLaneFollowTheFiles) {
    EXPECT_EQ(form->DifferenceMenu->title(), QStringLiteral("&Difference"));
    EXPECT_EQ(view().showaction->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_D));
    EXPECT_EQ(view().playaction->shortcut(), QKeySequence(Qt::Key_D));
    form->load_file(0, write(QStringLiteral("a.wav"), a));
    EXPECT_FALSE(view().line->isVisible());
    form->load_file(1, write(QStringLiteral("b.wav"), b));
    ASSERT_TRUE(wait_for_difference());
    EXPECT_TRUE(view().line->isVisible());
    const QString text = view().line->text();
    EXPECT_TRUE(text.startsWith(QStringLiteral("Difference: null depth \u2212"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral(", delay "))) << text.toStdString();
    EXPECT_TRUE(view().playaction->isEnabled());

    const int boxH = form->PaintBox[0]->height();
    EXPECT_FALSE(view().lane->isVisible());
    view().showaction->trigger();  // Ctrl+D
    ASSERT_TRUE(view().lane->isVisible());
    EXPECT_LT(form->PaintBox[0]->height(), boxH);
    EXPECT_GE(view().lane->height(), form->PaintBox[0]->height() - 1);
    EXPECT_GE(view().lane->y(), form->PaintBox[3]->y() + form->PaintBox[3]->height());
    const QImage img = view().lane->grab().toImage();
    int red = 0, trace = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) {
            const QColor c = img.pixelColor(x, y);
            if (c == TForm19::linecolors[2] || c == TForm19::linecolors[3]) ++trace;
            if (c.red() > 180 && c.green() < 60 && c.blue() < 60) ++red;
        }
    EXPECT_GT(trace, img.width()) << "d is not drawn";
    EXPECT_GT(red, img.width() / 2) << "the difference over time is not drawn";

    // Given up while being taken: a load into a slot waits for nothing long.
    std::atomic<bool> hold{true};
    TDifferenceView::worker_hook = [&] {
        while (hold) QThread::msleep(5);
    };
    form->workspace().nudge_file2(1);  // the pair changes: a new difference starts
    EXPECT_EQ(view().difference(), nullptr);
    EXPECT_TRUE(view().computing());
    EXPECT_TRUE(view().line->text().endsWith(QStringLiteral("being computed…")));
    hold = false;
    form->Closefile21->trigger();
    EXPECT_FALSE(view().computing());
    EXPECT_EQ(view().difference(), nullptr);
    QTest::qWait(50);
    EXPECT_FALSE(view().line->isVisible());
    EXPECT_TRUE(shown.isEmpty()) << shown.join('|').toStdString();
}

// "Play difference" goes over to d at the playing position and Space comes
// back to file 1, both without a frame lost: the recording is file 1, then
// d as the test computes it from the samples (within one step), then file 1.
TEST_F(DifferenceWindow, PlayDifferenceSwitchesGapless) {
    form->load_file(0, write(QStringLiteral("a.wav"), a));
    form->load_file(1, write(QStringLiteral("b.wav"), b));
    ASSERT_TRUE(wait_for_difference());
    if (ws->normalize()) form->normalizeaction->trigger();
    ASSERT_FALSE(ws->normalize());
    for (QAction* amp : view().amplifyactions)
        if (amp->text() == QStringLiteral("0 dB")) amp->trigger();
    ASSERT_EQ(view().amplify_db(), 0);
    const TDifferenceFigures& f = view().difference()->figures();
    // Noise against noise plus noise: the delay is whole, and the test's
    // own d is file 1 − g · file 2 sample for sample.
    ASSERT_EQ(f.delay, 0.0);
    ASSERT_FALSE(f.resampled);
    std::vector<double> d(a.size(), 0.0);
    for (int64_t n = f.overlap_first; n < f.overlap_first + f.overlap_frames; ++n)
        for (int ch = 0; ch < 2; ++ch) d[size_t(n) * 2 + size_t(ch)] = a[size_t(n) * 2 + size_t(ch)] - f.gain * b[size_t(n) * 2 + size_t(ch)];

    const uint64_t underrunsBefore = TWaveOutDevice::underruns();
    Recorder rec(sink.name);
    ASSERT_TRUE(rec.running()) << "the monitor records nothing";
    ws->setPlaycount(0);
    ws->setWavplayno(0);
    form->playaction->trigger();
    // The frame being heard: the player queues well ahead of it.
    const auto heard = [&] { return int64_t(ws->cursorpos() * kRate); };
    const auto play_until = [&](int64_t p) {
        return wait_until([&] {
            rec.pump();
            return heard() >= p;
        });
    };
    ASSERT_TRUE(play_until(kRate));
    QTest::keyClick(form.get(), Qt::Key_D);
    EXPECT_TRUE(view().playing());
    ASSERT_TRUE(play_until(heard() + kRate));
    QTest::keyClick(form.get(), Qt::Key_Space);
    EXPECT_FALSE(view().playing());
    EXPECT_EQ(ws->wavplayno(), 0);
    ASSERT_TRUE(play_until(heard() + kRate / 2));
    const int64_t end = ws->playcount();
    form->playaction->trigger();
    QTest::qWait(300);
    const Samples cap = rec.finish();

    // Walk the recording: file 1, then d, then file 1 again, each frame the
    // one after the frame before.
    size_t c = 0;
    while (c * 2 < cap.size() && cap[c * 2] == 0 && cap[c * 2 + 1] == 0) ++c;
    int64_t k = -1;
    for (int64_t start = 0; start < 8192 && k < 0; ++start)
        if (std::memcmp(cap.data() + c * 2, a.data() + start * 2, 16) == 0) k = start;
    ASSERT_GE(k, 0) << "file 1 is not in the recording";
    const auto is_a = [&](size_t at, int64_t i) { return std::memcmp(cap.data() + at * 2, a.data() + i * 2, 4) == 0; };
    const auto is_d = [&](size_t at, int64_t i) {
        return std::abs(cap[at * 2] - d[size_t(i) * 2]) <= 1.0 && std::abs(cap[at * 2 + 1] - d[size_t(i) * 2 + 1]) <= 1.0;
    };
    std::vector<int64_t> seams;
    bool onD = false;
    for (; c * 2 + 1 < cap.size() && k < end - 4096; ++c, ++k) {
        if (onD ? is_d(c, k) : is_a(c, k)) continue;
        if (onD ? is_a(c, k) : is_d(c, k)) {
            seams.push_back(k);
            onD = !onD;
            continue;
        }
        break;
    }
    ASSERT_EQ(seams.size(), 2u) << "stopped matching at frame " << k << " (seams at "
                                << (seams.empty() ? -1 : seams[0]) << "): recorded " << cap[c * 2] << ", "
                                << cap[c * 2 + 1] << "; file 1 " << a[size_t(k) * 2] << ", " << a[size_t(k) * 2 + 1]
                                << "; d " << d[size_t(k) * 2] << ", " << d[size_t(k) * 2 + 1] << "; underruns "
                                << TWaveOutDevice::underruns() - underrunsBefore;
    EXPECT_GT(seams[0], kRate / 2);
    EXPECT_GT(seams[1], seams[0] + kRate / 2);
    EXPECT_GE(k, seams[1] + kRate / 4) << "file 1 did not come back whole";
    EXPECT_TRUE(shown.isEmpty()) << shown.join('|').toStdString();
}

}  // namespace
}  // namespace wavrell
