// The "Alignment" menu of the main window: which of its commands are
// offered, the shortcuts that move file 2, file 2's information line and
// waveform boxes as the offset and the polarity change, and "Align file 2 to
// file 1" on its worker thread.
#include "tests/app/window_fixture.h"

#include <QLabel>
#include <QMetaObject>
#include <QSemaphore>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <vector>

namespace wavrell::test {
namespace {

constexpr int kRate = 8000;
constexpr int kDelay = 2000;  // file 2's offset, a quarter of a second

class AlignmentCommands : public WindowTest {
protected:
    void TearDown() override {
        TForm19::align_worker_hook = {};
        WindowTest::TearDown();
    }

    /// Three seconds of silence with a burst of positive noise (1000 … 20000)
    /// from 1.0 to 1.5 s: one-sided, so that an inverted copy is drawn on the
    /// other side of the zero line.
    std::vector<int16_t> burst() {
        std::vector<int16_t> v(size_t(3 * kRate), 0);
        uint32_t x = 12345;
        for (int i = kRate; i < kRate * 3 / 2; ++i) {
            x = x * 1664525u + 1013904223u;
            v[size_t(i)] = int16_t(1000 + (x >> 8) % 19000);
        }
        return v;
    }
    /// File 1 is the burst; file 2 the same burst kDelay frames later,
    /// negated when asked.
    void load_pair(bool inverted) {
        const std::vector<int16_t> a = burst();
        std::vector<int16_t> b(size_t(kDelay), 0);
        for (int16_t v : a) b.push_back(int16_t(inverted ? -v : v));
        form->load_file(0, raw_file(QStringLiteral("original.wav"), a, kRate, 1));
        form->load_file(1, raw_file(inverted ? QStringLiteral("inverted.wav") : QStringLiteral("delayed.wav"), b,
                                    kRate, 1));
    }

    /// File 2's name line: its name and notes.
    QString line2() { return form->infolabel2->text().section(QLatin1Char('\n'), 1, 1); }

    /// The columns of box t where the trace spans more than the zero line:
    /// the burst.
    std::vector<int> burst_columns(int t) {
        const QImage img = box(t);
        std::vector<int> cols;
        for (int x = 1; x < img.width() - 1; ++x)
            if (rows_of(img, x, TForm19::linecolors[size_t(t)]).size() > 3) cols.push_back(x);
        return cols;
    }
    /// +1 when box t's trace lies above its zero line, −1 below, 0 when it
    /// has none.
    int side_of_trace(int t) {
        const QImage img = box(t);
        const int zero = form->yaxis[size_t(t)]->value_to_pixel(0.0);
        int above = 0, below = 0;
        for (int x = 1; x < img.width() - 1; ++x)
            for (int y : rows_of(img, x, TForm19::linecolors[size_t(t)])) {
                above += y < zero - 1;
                below += y > zero + 1;
            }
        return above > 10 * below ? 1 : below > 10 * above ? -1 : 0;
    }

    std::vector<QAction*> pair_actions() {
        return {form->alignaction,          form->nudgeearlieraction, form->nudgelateraction,
                form->nudgeearliermsaction, form->nudgelatermsaction, form->noalignmentaction};
    }
};

// The commands need two files; the shortcuts move file 2 by a sample or a
// millisecond, each move shown in its line and its boxes, "No alignment"
// puts it back where the file has it, Ctrl+L finds the offset again.
TEST_F(AlignmentCommands, ShortcutsMoveFile2AndItsBoxesFollow) {
    const QString original = raw_file(QStringLiteral("solo.wav"), burst(), kRate, 1);
    for (QAction* a : pair_actions()) EXPECT_FALSE(a->isEnabled()) << a->text().toStdString();
    form->load_file(0, original);
    for (QAction* a : pair_actions()) EXPECT_FALSE(a->isEnabled()) << a->text().toStdString();
    EXPECT_FALSE(form->correctpolarityaction->isEnabled());

    load_pair(false);
    for (QAction* a : pair_actions()) EXPECT_TRUE(a->isEnabled()) << a->text().toStdString();
    // Nothing to correct in a file of normal polarity.
    EXPECT_FALSE(form->correctpolarityaction->isEnabled());
    EXPECT_FALSE(form->correctpolarityaction->isChecked());
    EXPECT_EQ(ws().file2offset(), kDelay);
    EXPECT_TRUE(line2().endsWith(QStringLiteral("delayed.wav  [+2000 samples, 250.0 ms, r=1.000]")))
        << line2().toStdString();
    EXPECT_FALSE(form->infolabel1->text().contains(QLatin1Char('[')));

    // Aligned, file 2's burst is drawn in the columns of file 1's.
    const std::vector<int> cols1 = burst_columns(0);
    ASSERT_GT(cols1.size(), 20u);
    EXPECT_EQ(burst_columns(2), cols1);

    // File 2 runs 2000 samples later than file 1 ("+2000", as --align
    // prints it): "later" adds to that, "earlier" takes from it.
    struct Step {
        QKeyCombination key;
        QAction* action;
        int64_t offset;
        const char* note;
    };
    const Step steps[] = {
        {Qt::ALT | Qt::Key_Period, form->nudgelateraction, kDelay + 1, "[+2001 samples, 250.1 ms, set by hand]"},
        {Qt::ALT | Qt::Key_Comma, form->nudgeearlieraction, kDelay, "[+2000 samples, 250.0 ms, set by hand]"},
        {Qt::ALT | Qt::SHIFT | Qt::Key_Comma, form->nudgeearliermsaction, kDelay - 8,
         "[+1992 samples, 249.0 ms, set by hand]"},
        {Qt::ALT | Qt::SHIFT | Qt::Key_Period, form->nudgelatermsaction, kDelay, "[+2000 samples, 250.0 ms, set by hand]"},
        {Qt::ALT | Qt::SHIFT | Qt::Key_Period, form->nudgelatermsaction, kDelay + 8,
         "[+2008 samples, 251.0 ms, set by hand]"},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(QKeySequence(s.key).toString().toStdString());
        EXPECT_EQ(s.action->shortcut(), QKeySequence(s.key));
        QTest::keyClick(form.get(), s.key.key(), s.key.keyboardModifiers());
        EXPECT_EQ(ws().file2offset(), s.offset);
        EXPECT_TRUE(line2().endsWith(QLatin1String(s.note))) << line2().toStdString();
    }

    // No alignment: file 2 at its own times, the burst a quarter second on.
    form->noalignmentaction->trigger();
    EXPECT_EQ(ws().file2offset(), 0);
    EXPECT_TRUE(line2().endsWith(QStringLiteral("delayed.wav  [no alignment]"))) << line2().toStdString();
    const std::vector<int> unaligned = burst_columns(2);
    ASSERT_FALSE(unaligned.empty());
    EXPECT_NEAR(unaligned.front(), form->xaxis->value_to_pixel(1.25), 1);
    EXPECT_NEAR(unaligned.back(), form->xaxis->value_to_pixel(1.75), 1);

    QTest::keyClick(form.get(), Qt::Key_L, Qt::ControlModifier);
    EXPECT_FALSE(form->aligning());
    EXPECT_EQ(ws().file2offset(), kDelay);
    EXPECT_TRUE(line2().endsWith(QStringLiteral("[+2000 samples, 250.0 ms, r=1.000]"))) << line2().toStdString();
    EXPECT_EQ(burst_columns(2), cols1);

    // Without file 1 there is nothing to align to.
    form->Closefile11->trigger();
    for (QAction* a : pair_actions()) EXPECT_FALSE(a->isEnabled()) << a->text().toStdString();
    EXPECT_EQ(ws().file2offset(), 0);
    EXPECT_TRUE(line2().endsWith(QStringLiteral("delayed.wav"))) << line2().toStdString();
    QTest::keyClick(form.get(), Qt::Key_Period, Qt::AltModifier);
    EXPECT_EQ(ws().file2offset(), 0);
}

// An inverted file 2 is drawn the right way up while "Correct polarity" is
// checked (as the estimate leaves it), upside down once it is unchecked.
TEST_F(AlignmentCommands, CorrectPolarityTurnsAnInvertedFile2) {
    load_pair(true);
    EXPECT_EQ(ws().file2offset(), kDelay);
    EXPECT_TRUE(form->correctpolarityaction->isEnabled());
    EXPECT_TRUE(form->correctpolarityaction->isChecked());
    EXPECT_TRUE(line2().endsWith(QStringLiteral("[+2000 samples, 250.0 ms, r=1.000, polarity corrected]")))
        << line2().toStdString();
    EXPECT_EQ(side_of_trace(0), 1);
    EXPECT_EQ(side_of_trace(2), 1);

    form->correctpolarityaction->trigger();
    EXPECT_FALSE(form->correctpolarityaction->isChecked());
    EXPECT_FALSE(ws().correctpolarity());
    EXPECT_EQ(side_of_trace(2), -1);
    EXPECT_TRUE(line2().endsWith(QStringLiteral("[+2000 samples, 250.0 ms, r=1.000, polarity inverted]")))
        << line2().toStdString();

    // A file of normal polarity loaded as file 2 ends the correction.
    const std::vector<int16_t> a = burst();
    form->load_file(1, raw_file(QStringLiteral("same.wav"), a, kRate, 1));
    EXPECT_FALSE(form->correctpolarityaction->isEnabled());
    EXPECT_FALSE(form->correctpolarityaction->isChecked());
    EXPECT_EQ(ws().file2offset(), 0);
    EXPECT_EQ(side_of_trace(2), 1);
}

// Ctrl+L estimates on a worker: the window goes on meanwhile, a second
// Ctrl+L is refused, and an estimate whose file was closed while it ran is
// dropped.
TEST_F(AlignmentCommands, AlignRunsOnAWorkerAndAClosedFileVoidsIt) {
    load_pair(false);
    form->noalignmentaction->trigger();
    ASSERT_EQ(ws().file2offset(), 0);

    // The worker posts `during` to the window's thread and waits until it
    // is released: `during` runs while the window waits for the worker.
    QSemaphore release;
    std::function<void()> during;
    TForm19::align_worker_hook = [&] {
        QMetaObject::invokeMethod(qApp, [&] { during(); }, Qt::QueuedConnection);
        if (!release.tryAcquire(1, 20000)) ADD_FAILURE() << "the worker was never released";
    };
    struct Seen {
        bool aligning = false, timerRan = false;
        int64_t offsetDuring = -1;
    } seen;
    during = [&] {
        seen.aligning = form->aligning();
        QTimer::singleShot(20, [&] {
            seen.timerRan = true;
            // Refused while the first runs: returns at once.
            QTest::keyClick(form.get(), Qt::Key_L, Qt::ControlModifier);
            seen.offsetDuring = ws().file2offset();
            release.release();
        });
    };
    QTest::keyClick(form.get(), Qt::Key_L, Qt::ControlModifier);
    EXPECT_TRUE(seen.aligning);
    EXPECT_TRUE(seen.timerRan) << "the window waited without handling events";
    EXPECT_EQ(seen.offsetDuring, 0);
    EXPECT_FALSE(form->aligning());
    EXPECT_EQ(ws().file2offset(), kDelay);

    // File 1 closed while the worker runs: nothing is put in force.
    form->noalignmentaction->trigger();
    during = [&] {
        form->Closefile11->trigger();
        release.release();
    };
    QTest::keyClick(form.get(), Qt::Key_L, Qt::ControlModifier);
    EXPECT_FALSE(form->aligning());
    EXPECT_EQ(ws().file2offset(), 0);
    EXPECT_FALSE(ws().alignestimate());
    EXPECT_TRUE(line2().endsWith(QStringLiteral("delayed.wav"))) << line2().toStdString();
}

}  // namespace
}  // namespace wavrell::test
