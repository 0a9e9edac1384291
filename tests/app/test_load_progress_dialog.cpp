#include "tests/app/window_fixture.h"
#include "app/load_progress_dialog.h"

#include <QLabel>
#include <QProgressBar>
#include <QProgressDialog>
#include <QPushButton>
#include <QSemaphore>
#include <QStatusBar>
#include <QTimer>

#include <atomic>

using namespace wavrell;
using namespace wavrell::test;

namespace {
class LoadProgress : public WindowTest {};
}  // namespace

// The dialog of a long load shows its stage with a figure; Space (the A/B
// key), Return and the letters go on to the window and never cancel it;
// Escape does, and the status bar says so.
TEST_F(LoadProgress, KeysGoToTheWindowAndOnlyEscapeCancels) {
    const QString a = sine(QStringLiteral("a.wav"), 8000, 1, 2.0, 440, 0.5);
    const QString b = sine(QStringLiteral("b.wav"), 8000, 1, 2.0, 220, 0.5);
    form->load_file(0, a);
    form->load_file(1, b);

    QSemaphore release;
    std::atomic<int> held{0};
    TForm19::load_worker_hook = [&](int, const QString&) {
        ++held;
        release.tryAcquire(1, 20000);
    };
    QString label;
    int maximum = -1;
    Qt::FocusPolicy focus = Qt::StrongFocus;
    bool loading_after_keys = false;
    std::array<int, 2> playno{-1, -1};
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        QProgressDialog* p = form->load_progress(0);
        if (!p || !p->isVisible() || held.load() == 0) return;
        poll.stop();
        label = p->findChild<QLabel*>()->text();
        maximum = p->findChild<QProgressBar*>()->maximum();
        for (QPushButton* button : p->findChildren<QPushButton*>()) focus = button->focusPolicy();
        playno[0] = ws().wavplayno();
        for (Qt::Key k : {Qt::Key_Space, Qt::Key_Return, Qt::Key_Enter, Qt::Key_A, Qt::Key_C})
            QTest::keyClick(p, k);
        QTest::qWait(50);
        playno[1] = ws().wavplayno();
        loading_after_keys = form->loading(0) && p->isVisible() && form->load_progress(0) == p;
        QTest::keyClick(p, Qt::Key_Escape);
    });
    poll.start();
    form->load_file(0, b);
    release.release();
    TForm19::load_worker_hook = {};

    EXPECT_EQ(label, QStringLiteral("Loading file 1: b.wav\nReading: 0%"));
    EXPECT_EQ(maximum, 100);  // a figure, never a busy bar
    EXPECT_EQ(focus, Qt::NoFocus);
    EXPECT_TRUE(loading_after_keys);
    EXPECT_NE(playno[0], playno[1]);  // Space switched files in the window
    EXPECT_FALSE(form->loading(0));
    EXPECT_EQ(ws().wav(0)->filename(), a);
    EXPECT_EQ(form->statusBar()->currentMessage(),
              QStringLiteral("Loading \"%1\" was cancelled").arg(b));
}
