// The main window: its description (caption, sizes, tool bar, menus,
// commands), the first activation, the commands through their keys, the
// layout of both panels and the keyboard table, all through real events.
#include "tests/app/window_fixture.h"

#include "app/demo_recordings.h"
#include "settings/prog_id.h"  // recent_files.h needs the complete type
#include "shell/help_menu.h"
#include "shell/recent_files.h"
#include "tests/settings/isolated_folders.h"

#include <QDirIterator>
#include <QFileDialog>
#include <QTimer>
#include <QHelpEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>
#include <QToolTip>

#include <cmath>

namespace wavrell::test {
namespace {

class MainWindow : public WindowTest {
protected:
    /// A key typed into the window, delivered where the keyboard focus is.
    void key(int k, Qt::KeyboardModifiers m = Qt::NoModifier) {
        QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget() : form.get();
        QTest::keyClick(target, Qt::Key(k), m);
    }
    QStringList visible_texts(QMenu* menu) {
        QStringList texts;
        for (QAction* a : menu->actions())
            if (a->isVisible()) texts << (a->isSeparator() ? QStringLiteral("-") : a->text());
        return texts;
    }
};

TEST_F(MainWindow, DescriptionSizesAndPlaces) {
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Wavrell"));
    EXPECT_EQ(form->font().pixelSize(), 11);
    // Client area 721 x 423 between the menu bar and the status bar: tool
    // bar 29, panels below.
    EXPECT_EQ(form->width(), 721);
    EXPECT_EQ(form->height() - form->menuBar()->height() - form->statusBar()->height(), 423);
    EXPECT_EQ(form->ToolBar1->height(), 29);
    EXPECT_EQ(form->Panel2->width(), 193);
    EXPECT_EQ(form->Panel1->width(), 721 - 193);
    EXPECT_EQ(form->Panel1->height(), 423 - 29);
    EXPECT_EQ(form->Panel2->height(), 423 - 29);
    EXPECT_EQ(form->Panel2->mapTo(form.get(), QPoint(0, 0)).x(), 721 - 193);

    EXPECT_EQ(form->crestlabel->text(), QStringLiteral("Short term crest factor"));
    EXPECT_EQ(form->crestlabel->pos(), QPoint(46, 9));
    EXPECT_EQ(form->crestaxis->x(), 6);
    EXPECT_EQ(form->crestaxis->width(), 27);
    const int lefts[4] = {35, 71, 115, 151};
    for (int t = 0; t < 4; ++t) {
        EXPECT_EQ(form->crestpaint[size_t(t)]->x(), lefts[t]);
        EXPECT_EQ(form->crestpaint[size_t(t)]->width(), 34);
        EXPECT_EQ(form->crestpaint[size_t(t)]->Tag(), t);
        EXPECT_EQ(form->PaintBox[size_t(t)]->Tag(), t);
        EXPECT_EQ(form->yaxis[size_t(t)]->width(), 41);
        EXPECT_EQ(form->PaintBox[size_t(t)]->parentWidget(), form->Panel1);
        EXPECT_EQ(form->crestpaint[size_t(t)]->parentWidget(), form->Panel2);
    }
    EXPECT_EQ(form->xaxis->AxisText(), QStringLiteral("[s]"));
    EXPECT_EQ(form->crestaxis->AxisText(), QStringLiteral("[dB]"));

    // The dB scale is fixed: a drag on it changes nothing.
    QTest::mousePress(form->crestaxis, Qt::LeftButton, {}, QPoint(20, 30));
    QTest::mouseMove(form->crestaxis, QPoint(20, 120));
    QTest::mouseRelease(form->crestaxis, Qt::LeftButton, {}, QPoint(20, 120));
    EXPECT_EQ(form->crestaxis->LoValue(), 0);
    EXPECT_EQ(form->crestaxis->HiValue(), 30);
}

TEST_F(MainWindow, CommandsToolBarAndHints) {
    struct Cmd {
        QAction* action;
        const char* caption;
        QKeySequence shortcut;
        bool checkable, image, hint;
    };
    const Cmd cmds[] = {
        {form->openaction1, "Open file 1...", QKeySequence(Qt::CTRL | Qt::Key_F1), false, true, true},
        {form->Openaction2, "Open file 2...", QKeySequence(Qt::CTRL | Qt::Key_F2), false, true, true},
        {form->playaction, "Play", QKeySequence(Qt::Key_F9), true, true, false},
        {form->normalizeaction, "Normalize", QKeySequence(Qt::CTRL | Qt::Key_N), true, true, true},
        {form->showallpassaction, "Show allpassed waveform (fa=500 Hz)", QKeySequence(Qt::CTRL | Qt::Key_A), true,
         true, true},
        {form->playfile1action, "Play file 1", QKeySequence(Qt::Key_F7), true, true, true},
        {form->playfile2action, "Play file 2", QKeySequence(Qt::Key_F8), true, true, true},
        {form->showerroraction, "Show/play error signal from normalization", QKeySequence(), true, false, true},
    };
    for (const Cmd& c : cmds) {
        SCOPED_TRACE(c.caption);
        EXPECT_EQ(c.action->text(), QString::fromUtf8(c.caption));
        EXPECT_EQ(c.action->shortcut(), c.shortcut);
        EXPECT_EQ(c.action->isCheckable(), c.checkable);
        EXPECT_EQ(!c.action->icon().isNull(), c.image);
        // The hint shown when the pointer rests on the tool button.
        QWidget* button = form->ToolBar1->widgetForAction(c.action);
        ASSERT_NE(button, nullptr);
        QToolTip::hideText();
        ASSERT_TRUE(QTest::qWaitFor([] { return !QToolTip::isVisible(); }, 3000));
        const QPoint at = button->rect().center();
        QHelpEvent help(QEvent::ToolTip, at, button->mapToGlobal(at));
        QApplication::sendEvent(button, &help);
        EXPECT_EQ(QToolTip::isVisible(), c.hint);
        if (c.hint) {
            EXPECT_EQ(QToolTip::text(), QString::fromUtf8(c.caption));
        }
    }
    // The two open commands are told apart by the number on their folder.
    EXPECT_NE(form->openaction1->icon().pixmap(16).toImage(), form->Openaction2->icon().pixmap(16).toImage());

    // Buttons left to right, with the three separators.
    QStringList bar;
    for (QAction* a : form->ToolBar1->actions()) bar << (a->isSeparator() ? QStringLiteral("|") : a->text());
    EXPECT_EQ(bar, QStringList({"Open file 1...", "Open file 2...", "|", "Play", "Play file 1", "Play file 2", "|",
                                "Normalize", "|", "Show allpassed waveform (fa=500 Hz)",
                                "Show/play error signal from normalization"}));
}

TEST_F(MainWindow, MenusWithRecentFilesAtTheirPlace) {
    // Other tests of the session may have filled the stored lists.
    form->RecentFiles1->clear();
    form->RecentFiles2->clear();
    const QList<QAction*> menus = form->menuBar()->actions();
    ASSERT_GE(menus.size(), 3);
    EXPECT_EQ(menus[0]->text(), QStringLiteral("&File 1"));
    EXPECT_EQ(menus[1]->text(), QStringLiteral("F&ile 2"));
    EXPECT_EQ(menus[0]->menu(), form->File1Menu);
    EXPECT_EQ(menus[1]->menu(), form->File2Menu);
    EXPECT_NE(menus.last()->menu(), nullptr);  // the Help menu comes last
    EXPECT_NE(menus.last()->menu(), form->File2Menu);
    EXPECT_EQ(visible_texts(form->File1Menu),
              QStringList({"Open file 1...", "Close file 1", "-", "E&xit"}));
    EXPECT_EQ(visible_texts(form->File2Menu), QStringList({"Open file 2...", "Close file 2"}));

    // A loaded file enters both lists, at position 2 after a bar.
    const QString f = sine(QStringLiteral("rec.wav"), 8000, 1, 1.0, 440, 0.5);
    form->load_file(0, f);
    const QStringList m1 = visible_texts(form->File1Menu);
    ASSERT_EQ(m1.size(), 7) << m1.join(QStringLiteral(" | ")).toStdString();
    EXPECT_EQ(m1.mid(0, 3), QStringList({"Open file 1...", "Close file 1", "-"}));
    EXPECT_TRUE(m1[3].endsWith(f)) << m1[3].toStdString();
    EXPECT_EQ(m1[4], QStringLiteral("&Clear list..."));
    EXPECT_EQ(m1.mid(5), QStringList({"-", "E&xit"}));
    const QStringList m2 = visible_texts(form->File2Menu);
    ASSERT_EQ(m2.size(), 5);
    EXPECT_TRUE(m2[3].endsWith(f));

    // The entry of the File 2 menu loads into slot 1.
    ASSERT_EQ(ws().wav(1)->nsamples(), 0);
    for (QAction* a : form->File2Menu->actions())
        if (a->isVisible() && a->text().endsWith(f)) a->trigger();
    EXPECT_EQ(ws().wav(1)->nsamples(), 8000);
    EXPECT_EQ(ws().wav(1)->filename(), f);

    // "E&xit" closes the window.
    form->Exit1->trigger();
    EXPECT_FALSE(form->isVisible());
}

TEST_F(MainWindow, LevelsMenuMatchesByTheChosenCriterionAndARestartKeepsIt) {
    // The choice is stored: in folders of this test alone.
    IsolatedFolders folders;
    // Equal RMS and peak, but a 60 Hz tone weighs less in loudness than a
    // 1 kHz tone.
    const QString a = sine(QStringLiteral("a.wav"), 48000, 2, 5, 1000, 0.05);
    const QString b = sine(QStringLiteral("b.wav"), 48000, 2, 5, 60, 0.05);
    const auto window = [] {
        auto w = std::make_unique<TForm19>();
        w->FormActivate();
        return w;
    };
    auto w = window();
    const QList<QAction*> menus = w->menuBar()->actions();
    ASSERT_GE(menus.size(), 4);
    EXPECT_EQ(menus[2]->text(), QStringLiteral("&Levels"));
    ASSERT_EQ(menus[2]->menu(), w->LevelsMenu);
    // Normalize (the tool bar's command, with its key), then the choices.
    EXPECT_EQ(visible_texts(w->LevelsMenu), QStringList({"Normalize", "-", "&Match by", "Match &peak to"}));
    EXPECT_EQ(w->LevelsMenu->actions()[0], w->normalizeaction);
    ASSERT_EQ(w->LevelsMenu->actions()[2]->menu(), w->MatchByMenu);
    EXPECT_EQ(visible_texts(w->MatchByMenu),
              QStringList({"RMS", "Integrated loudness", "Maximum short-term loudness"}));
    const auto checked = [](TForm19& f) {
        QStringList c;
        for (QAction* x : f.MatchByMenu->actions())
            if (x->isChecked()) c << x->text();
        return c;
    };
    EXPECT_EQ(checked(*w), QStringList{"RMS"});
    EXPECT_EQ(w->workspace().MatchBy(), mbrms);

    w->load_file(0, a);
    w->load_file(1, b);
    TWorkspace& s = w->workspace();
    EXPECT_TRUE(w->infolabel1->text().contains(QStringLiteral(" LUFS, LRA "))) << w->infolabel1->text().toStdString();
    EXPECT_EQ(w->infolabel2->toolTip(), w->infolabel2->text());
    EXPECT_NEAR(s.filefactor(0) / s.filefactor(1), 1.0, 1e-5);

    w->matchintegratedaction->trigger();
    EXPECT_EQ(checked(*w), QStringList{"Integrated loudness"});
    EXPECT_EQ(s.MatchBy(), mbintegrated);
    ASSERT_TRUE(s.loudness(0).integrated && s.loudness(1).integrated);
    EXPECT_GT(*s.loudness(0).integrated - *s.loudness(1).integrated, 1.0);
    EXPECT_NEAR(20 * std::log10(s.filefactor(1) / s.filefactor(0)),
                *s.loudness(0).integrated - *s.loudness(1).integrated, 1e-9);
    EXPECT_EQ(w->infolabel1->text(), s.infoline(0));

    // The next start matches by the stored choice.
    w.reset();
    QStringList stored;
    for (QDirIterator it(folders.config(), {QStringLiteral("*.ini")}, QDir::Files, QDirIterator::Subdirectories);
         it.hasNext();)
        stored << read_text(it.next());
    EXPECT_TRUE(stored.join(QString()).contains(QStringLiteral("[Levels]\nMatchBy=lufs"))) << stored.join(QString()).toStdString();
    w = window();
    EXPECT_EQ(w->workspace().MatchBy(), mbintegrated);
    EXPECT_EQ(checked(*w), QStringList{"Integrated loudness"});
    w->matchshorttermaction->trigger();
    w.reset();
    w = window();
    EXPECT_EQ(w->workspace().MatchBy(), mbshortterm);
    EXPECT_EQ(checked(*w), QStringList{"Maximum short-term loudness"});
    w->matchrmsaction->trigger();
    w.reset();
    w = window();
    EXPECT_EQ(w->workspace().MatchBy(), mbrms);
}

TEST_F(MainWindow, TitleNamesTheFilesAndTheOpenDialogStartsInTheLastFolder) {
    IsolatedFolders folders;  // the recent files lists are written
    ASSERT_TRUE(QDir(dir->path()).mkpath(QStringLiteral("masters")));
    const QString master = sine(QStringLiteral("masters/master.wav"), 8000, 1, 1.0, 440, 0.5);
    const QString encode = sine(QStringLiteral("encode.wav"), 8000, 1, 1.0, 440, 0.25);
    const QString dash = QStringLiteral(" \u2014 Wavrell");
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Wavrell"));
    form->load_file(1, encode);
    EXPECT_EQ(form->windowTitle(), QStringLiteral("encode.wav") + dash);
    form->load_file(0, master);
    EXPECT_EQ(form->windowTitle(), QStringLiteral("master.wav vs encode.wav") + dash);
    form->Closefile21->trigger();
    EXPECT_EQ(form->windowTitle(), QStringLiteral("master.wav") + dash);
    form->Closefile11->trigger();
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Wavrell"));

    // The real dialog opens in the folder of the file last opened, in
    // this run and in the next.
    const QString folder = QFileInfo(master).absolutePath();
    EXPECT_EQ(form->open_dialog_folder(), folder);
    QString shown;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (auto* d = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
            shown = d->directory().absolutePath();
            d->reject();
        }
    });
    poll.start(20);
    form->openaction1->trigger();
    poll.stop();
    EXPECT_EQ(shown, folder);
    EXPECT_EQ(ws().wav(0)->nsamples(), 0);  // cancelled
    TForm19 next;
    EXPECT_EQ(next.open_dialog_folder(), folder);
}

TEST_F(MainWindow, HelpOpensTheDemoRecordings) {
    const QString a = sine(QStringLiteral("demo-a.wav"), 8000, 1, 1.0, 440, 0.5);
    const QString b = sine(QStringLiteral("demo-b.wav"), 8000, 1, 1.0, 440, 0.25);
    const auto real = TForm19::demo_recordings_hook;
    ASSERT_TRUE(form->HelpMenu1->menu()->actions().contains(form->demoaction));
    EXPECT_EQ(form->demoaction->text(), QStringLiteral("Open demo recordings"));
    TForm19::demo_recordings_hook = [&] { return QStringList{a, b}; };
    form->demoaction->trigger();
    EXPECT_EQ(ws().wav(0)->filename(), a);
    EXPECT_EQ(ws().wav(1)->filename(), b);
    // Not installed: a message says where they belong; nothing changes.
    TForm19::demo_recordings_hook = [] { return QStringList(); };
    QString said;
    set_message_box_hook([&](const QString& text, const QString&, int) {
        said = text;
        return 0;
    });
    form->demoaction->trigger();
    EXPECT_TRUE(said.contains(QStringLiteral("share/wavrell/demo"))) << said.toStdString();
    EXPECT_EQ(ws().wav(0)->filename(), a);
    TForm19::demo_recordings_hook = real;
    // The build's own recordings are found next to the program.
    const QStringList built = find_demo_recordings(QStringLiteral(WAVRELL_BINARY_DIR "/wavrell"));
    ASSERT_EQ(built.size(), 2);
    EXPECT_TRUE(built[0].endsWith(QStringLiteral("demo/wavrell-demo-original.wav")));
    EXPECT_TRUE(built[1].endsWith(QStringLiteral("demo/wavrell-demo-loud.wav")));
}

TEST_F(MainWindow, FirstActivationOnlyOnce) {
    // In the fixture's window: normalization on, both lines "-", file 1
    // checked because file 2 has no samples, both play file commands off.
    EXPECT_TRUE(form->activated);
    EXPECT_TRUE(ws().normalize());
    EXPECT_TRUE(form->normalizeaction->isChecked());
    EXPECT_EQ(form->infolabel1->text(), QStringLiteral("-"));
    EXPECT_EQ(form->infolabel2->text(), QStringLiteral("-"));
    EXPECT_EQ(ws().wavplayno(), 0);
    EXPECT_TRUE(form->playfile1action->isChecked());
    EXPECT_FALSE(form->playfile2action->isChecked());
    EXPECT_FALSE(form->playfile1action->isEnabled());
    EXPECT_FALSE(form->playfile2action->isEnabled());

    // A window with file 2 loaded before it is first activated plays file 2.
    TForm19 other;
    EXPECT_FALSE(other.activated);
    EXPECT_FALSE(other.workspace().normalize());
    other.load_file(1, sine(QStringLiteral("two.wav"), 8000, 1, 1.0, 440, 0.25));
    other.show();
    other.activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(&other));
    EXPECT_TRUE(other.activated);
    EXPECT_TRUE(other.workspace().normalize());
    EXPECT_EQ(other.workspace().wavplayno(), 1);
    EXPECT_TRUE(other.playfile2action->isChecked());
    EXPECT_FALSE(other.playfile1action->isChecked());
    EXPECT_TRUE(other.infolabel2->text().contains(QStringLiteral(" Peak=0.0 dB")));

    // A window manager that shows the window without activating it does not
    // keep the start-up steps back.
    TForm19 inactive;
    inactive.setAttribute(Qt::WA_ShowWithoutActivating);
    inactive.show();
    EXPECT_TRUE(inactive.activated);
    EXPECT_TRUE(inactive.workspace().normalize());
    EXPECT_FALSE(inactive.playfile2action->isEnabled());

    // Later activations repeat nothing.
    other.normalizeaction->trigger();
    other.playfile1action->setEnabled(true);
    QEvent activate(QEvent::WindowActivate), deactivate(QEvent::WindowDeactivate);
    QApplication::sendEvent(&other, &deactivate);
    QApplication::sendEvent(&other, &activate);
    EXPECT_FALSE(other.workspace().normalize());
    EXPECT_TRUE(other.playfile1action->isEnabled());
}

TEST_F(MainWindow, CommandKeys) {
    const QString f1 = sine(QStringLiteral("k1.wav"), 8000, 1, 1.0, 440, 0.5);
    const QString f2 = sine(QStringLiteral("k2.wav"), 8000, 1, 1.0, 440, 0.25);
    QStringList answers{f1, QString(), f2};
    const auto real_dialog = TForm19::open_dialog_hook;
    TForm19::open_dialog_hook = [&answers](QWidget*) { return answers.takeFirst(); };
    key(Qt::Key_F1, Qt::ControlModifier);
    EXPECT_EQ(ws().wav(0)->filename(), f1);
    key(Qt::Key_F2, Qt::ControlModifier);  // cancelled
    EXPECT_EQ(ws().wav(1)->nsamples(), 0);
    key(Qt::Key_F2, Qt::ControlModifier);
    EXPECT_EQ(ws().wav(1)->filename(), f2);
    EXPECT_TRUE(answers.isEmpty());
    TForm19::open_dialog_hook = real_dialog;

    key(Qt::Key_N, Qt::ControlModifier);
    EXPECT_FALSE(ws().normalize());
    EXPECT_FALSE(form->normalizeaction->isChecked());
    key(Qt::Key_N, Qt::ControlModifier);
    EXPECT_TRUE(ws().normalize());
    key(Qt::Key_A, Qt::ControlModifier);
    EXPECT_TRUE(ws().showallpass());
    EXPECT_TRUE(form->showallpassaction->isChecked());

    // F7 / F8 work while the play file commands are enabled (as during
    // playback); pressing the checked one again keeps its file.
    key(Qt::Key_F8);
    EXPECT_EQ(ws().wavplayno(), 0);  // disabled
    form->playfile1action->setEnabled(true);
    form->playfile2action->setEnabled(true);
    struct Step {
        int key, wavplayno;
    };
    for (const Step& s : {Step{Qt::Key_F8, 1}, Step{Qt::Key_F8, 1}, Step{Qt::Key_F7, 0}, Step{Qt::Key_F7, 0}}) {
        key(s.key);
        EXPECT_EQ(ws().wavplayno(), s.wavplayno);
        EXPECT_EQ(form->playfile1action->isChecked(), s.wavplayno == 0);
        EXPECT_EQ(form->playfile2action->isChecked(), s.wavplayno == 1);
    }
    // Clicking the checked tool button lets it up; the check comes back
    // because the file stays the one played.
    auto* b2 = qobject_cast<QToolButton*>(form->ToolBar1->widgetForAction(form->playfile2action));
    ASSERT_NE(b2, nullptr);
    QTest::mouseClick(b2, Qt::LeftButton);
    EXPECT_EQ(ws().wavplayno(), 1);
    EXPECT_TRUE(form->playfile2action->isChecked());
    // Without samples in file 2 the file stays file 1.
    key(Qt::Key_F7);
    form->Closefile21->trigger();
    key(Qt::Key_F8);
    EXPECT_EQ(ws().wavplayno(), 0);
    EXPECT_TRUE(form->playfile1action->isChecked());
    EXPECT_FALSE(form->playfile2action->isChecked());
}

TEST_F(MainWindow, LayoutFollowsTheWindowSize) {
    // The client area lies between the menu bar and the status bar.
    const int menu = form->menuBar()->height() + form->statusBar()->height();
    // Heights with every remainder of the division by 4.
    for (QSize client : {QSize(721, 423), QSize(900, 600), QSize(800, 601), QSize(640, 402), QSize(1200, 803)}) {
        form->resize(client.width(), client.height() + menu);
        QApplication::processEvents();
        SCOPED_TRACE(client.width());
        SCOPED_TRACE(client.height());
        const int W = form->Panel1->width(), H = form->Panel1->height();
        ASSERT_EQ(W, client.width() - 193);
        ASSERT_EQ(H, client.height() - 29);
        const int L = form->infolabel1->height();
        const int top1 = 2;
        const int y1Top = top1 + L + 2;
        const int xTop = H - form->xaxis->height() - top1;
        const int y1Left = y1Top;
        const int yH = (xTop - top1 - 2 * L - 4) / 4;
        const int y2Top = y1Top + yH;
        const int top2 = y2Top + yH + 4;
        const int y3Top = top2 + L + 2;
        const int y4Top = y3Top + yH;
        const int xLeft = y1Left + 41;
        const int xWidth = W - xLeft - y1Left;
        EXPECT_EQ(form->infolabel1->pos(), QPoint(xLeft, top1));
        EXPECT_EQ(form->infolabel2->pos(), QPoint(xLeft, top2));
        const int tops[4] = {y1Top, y2Top, y3Top, y4Top};
        for (int t = 0; t < 4; ++t) {
            EXPECT_EQ(form->yaxis[size_t(t)]->geometry(), QRect(y1Left, tops[t], 41, yH)) << t;
            EXPECT_EQ(form->PaintBox[size_t(t)]->geometry(), QRect(xLeft, tops[t], xWidth, yH)) << t;
        }
        EXPECT_EQ(form->xaxis->geometry(), QRect(xLeft, xTop, xWidth, form->xaxis->height()));

        const int cTop = 9 + form->crestlabel->height() + 2;
        const int cH = form->Panel2->height() - cTop - 9;
        EXPECT_EQ(form->crestaxis->geometry(), QRect(6, cTop, 27, cH));
        for (int t = 0; t < 4; ++t) {
            EXPECT_EQ(form->crestpaint[size_t(t)]->y(), cTop);
            EXPECT_EQ(form->crestpaint[size_t(t)]->height(), cH);
        }
        // Pictures follow the new size.
        EXPECT_EQ(box(0).size(), QSize(xWidth, yH));
        EXPECT_EQ(form->bmp[0].size(), QSize(xWidth, yH));
    }
}

TEST_F(MainWindow, TinyWindowPaintsWithoutFault) {
    form->load_file(0, sine(QStringLiteral("tiny.wav"), 8000, 2, 1.0, 440, 0.5));
    form->showallpassaction->trigger();
    ws().setCursorpos(0.5);
    for (QSize client : {QSize(120, 60), QSize(250, 90), QSize(1, 1)}) {
        form->resize(client);
        QApplication::processEvents();
        for (int t = 0; t < 4; ++t) {
            form->PaintBox[size_t(t)]->grab();
            form->crestpaint[size_t(t)]->grab();
            EXPECT_GE(form->PaintBox[size_t(t)]->height(), 0);
            EXPECT_GE(form->PaintBox[size_t(t)]->width(), 0);
            EXPECT_GE(form->crestpaint[size_t(t)]->height(), 0);
        }
    }
}

TEST_F(MainWindow, KeyboardTable) {
    form->load_file(0, sine(QStringLiteral("keys.wav"), 8000, 1, 4.0, 440, 0.5));
    form->load_file(1, sine(QStringLiteral("keys2.wav"), 8000, 1, 2.0, 440, 0.5));
    TAxis& x = *form->xaxis;
    x.set_hilovalues(1.0, 3.0);
    ws().setPlaycount(1234);
    auto at = [&](double c, int dp) { return x.pixel_to_value(x.value_to_pixel(c) + dp); };

    ws().setCursorpos(2.0);
    key(Qt::Key_Right);
    EXPECT_EQ(ws().cursorpos(), at(2.0, 1));
    double c = ws().cursorpos();
    key(Qt::Key_Right, Qt::AltModifier);
    EXPECT_EQ(ws().cursorpos(), at(c, 10));
    c = ws().cursorpos();
    key(Qt::Key_Left, Qt::AltModifier);
    EXPECT_EQ(ws().cursorpos(), at(c, -10));
    c = ws().cursorpos();
    key(Qt::Key_Left);
    EXPECT_EQ(ws().cursorpos(), at(c, -1));
    EXPECT_NEAR(ws().cursorpos(), 2.0, 1.5 * (x.HiValue() - x.LoValue()) / x.width());
    key(Qt::Key_Home);
    EXPECT_EQ(ws().cursorpos(), 1.0);
    key(Qt::Key_Left);  // stays at the left edge
    EXPECT_EQ(ws().cursorpos(), 1.0);
    key(Qt::Key_End);
    EXPECT_EQ(ws().cursorpos(), 3.0);

    // Up zooms out by 10/9 around the cursor, Down in to 0.9; Up then Down
    // gives the range back.
    ws().setCursorpos(1.5);
    key(Qt::Key_Up);
    EXPECT_DOUBLE_EQ(x.LoValue(), 1.0 - 0.5 / 9);
    EXPECT_DOUBLE_EQ(x.HiValue(), 3.0 + 1.5 / 9);
    key(Qt::Key_Down);
    EXPECT_NEAR(x.LoValue(), 1.0, 1e-12);
    EXPECT_NEAR(x.HiValue(), 3.0, 1e-12);
    key(Qt::Key_Down);
    EXPECT_NEAR(x.LoValue(), 1.05, 1e-12);
    EXPECT_NEAR(x.HiValue(), 2.85, 1e-12);
    // With the cursor outside the range neither zooms.
    x.set_hilovalues(1.0, 3.0);
    ws().setCursorpos(3.5);
    key(Qt::Key_Up);
    key(Qt::Key_Down);
    EXPECT_EQ(x.LoValue(), 1.0);
    EXPECT_EQ(x.HiValue(), 3.0);
    // The axis limits cut a zoom out at 0 and at the end of the file.
    x.set_hilovalues(0.0, 4.0);
    ws().setCursorpos(1.0);
    key(Qt::Key_Up);
    EXPECT_EQ(x.LoValue(), 0.0);
    EXPECT_EQ(x.HiValue(), 4.0);

    // Space switches files, other keys do nothing, and no key moves the
    // play position.
    ASSERT_EQ(ws().wavplayno(), 0);
    key(Qt::Key_Space);
    EXPECT_EQ(ws().wavplayno(), 1);
    key(Qt::Key_Space);
    EXPECT_EQ(ws().wavplayno(), 0);
    c = ws().cursorpos();
    for (int k : {int(Qt::Key_A), int(Qt::Key_PageUp), int(Qt::Key_Return), int(Qt::Key_Escape)}) key(k);
    EXPECT_EQ(ws().cursorpos(), c);
    EXPECT_EQ(ws().wavplayno(), 0);
    EXPECT_FALSE(form->playaction->isChecked());
    EXPECT_EQ(ws().playcount(), 1234);

    // The keys reach the window also after clicks into its boxes and bars.
    QTest::mouseClick(form->PaintBox[0], Qt::LeftButton, {}, QPoint(30, 10));
    QTest::mouseClick(form->crestpaint[1], Qt::LeftButton);
    QTest::mouseClick(form->ToolBar1->widgetForAction(form->showallpassaction), Qt::LeftButton);
    const double before = ws().cursorpos();
    key(Qt::Key_End);
    EXPECT_NE(ws().cursorpos(), before);
    EXPECT_EQ(ws().cursorpos(), x.HiValue());
    // Space with file 2 closed stays with file 1.
    form->Closefile21->trigger();
    key(Qt::Key_Space);
    EXPECT_EQ(ws().wavplayno(), 0);
}

}  // namespace
}  // namespace wavrell::test
