#include "tests/app/window_fixture.h"
#include "app/info_lines_view.h"
#include "app/loop_levels_view.h"

#include <QClipboard>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QLabel>
#include <QMenuBar>

using namespace wavrell;
using namespace wavrell::test;

namespace {

class InfoLines : public WindowTest {
protected:
    /// Both files with every note their lines can carry: a rate note and
    /// an alignment note on file 2, the loudness fields with max S, and
    /// the loop range's line.
    void load_everything() {
        const QString a = sine(QStringLiteral("master recording of the final mix, 2024 edition.wav"), 44100, 2, 4.0,
                               440, 0.5);
        const QString b = sine(QStringLiteral("encoded copy of the master at 48 kHz.flac"), 48000, 2, 4.0, 440, 0.25);
        form->load_file(0, a);
        form->load_file(1, b);
        wait_for_loudness(ws());
        form->matchshorttermaction->trigger();
        form->looplevels->action->setChecked(true);
        form->setLoop(0.5, 3.0);
        wait_for_loop_lines();
    }
    void wait_for_loop_lines() {
        const auto done = [&] {
            return form->infolabel1->text().contains(QStringLiteral("Loop range: Crest")) &&
                   form->infolabel2->text().contains(QStringLiteral("Loop range: Crest"));
        };
        for (int i = 0; i < 2000 && !done(); ++i) QTest::qWait(10);
        ASSERT_TRUE(done()) << form->infolabel2->text().toStdString();
    }
    /// The label's text needs no more room than it has, measured with the
    /// label's own font as it wraps it, and it lies above its file's boxes.
    void expect_fits(QLabel* l, int slot) {
        SCOPED_TRACE(slot);
        const QRect cr = l->contentsRect();
        const QFontMetrics fm(l->font());
        const QRect need = fm.boundingRect(QRect(0, 0, cr.width(), 1 << 20), Qt::TextWordWrap, l->text());
        EXPECT_LE(need.width(), cr.width()) << l->text().toStdString();
        EXPECT_LE(need.height(), cr.height()) << l->text().toStdString();
        EXPECT_LE(l->heightForWidth(cr.width()), l->height());
        for (const QString& line : l->text().split(QLatin1Char('\n')))
            for (const QString& word : line.split(QLatin1Char(' ')))
                EXPECT_LE(fm.horizontalAdvance(word), cr.width()) << word.toStdString();
        EXPECT_LE(l->geometry().right(), form->Panel1->width() - 1);
        EXPECT_LE(l->geometry().bottom(), form->yaxis[size_t(2 * slot)]->y());
        if (slot == 1) EXPECT_GE(l->y(), form->yaxis[1]->geometry().bottom());
        EXPECT_GT(form->PaintBox[size_t(2 * slot)]->height(), 0);
    }
};

}  // namespace

// Every part of both files' lines shows whole at the default size, in a
// maximised window of a 1366 × 768 screen at twice the scale (683 × 384
// device-independent pixels), at 960 px (a 1920-pixel screen at twice the
// scale) and narrower still; the lines wrap, the boxes move down.
TEST_F(InfoLines, FullTextFitsAtTheDefaultSizeAndAtTwiceTheScale) {
    load_everything();
    const int menu = form->menuBar()->height();
    for (QSize client : {QSize(721, 423), QSize(683, 384 - menu), QSize(960, 540 - menu), QSize(560, 423)}) {
        SCOPED_TRACE(client.width());
        form->resize(client.width(), client.height() + menu);
        QApplication::processEvents();
        for (int s = 0; s < 2; ++s) {
            QLabel* l = s == 0 ? form->infolabel1 : form->infolabel2;
            expect_fits(l, s);
            // Nothing shortened: the label holds the whole text.
            EXPECT_EQ(l->text(), l->toolTip());
            EXPECT_TRUE(l->text().startsWith(ws().info_levels(s).trimmed() + QLatin1Char('\n')));
            EXPECT_TRUE(l->text().contains(ws().info_name(s) + ws().info_notes(s)));
            for (const char* part : {" LUFS, LRA ", " dBTP", ", max S ", "\nLoop range: Crest=3.0 dB, "})
                EXPECT_TRUE(l->text().contains(QLatin1String(part))) << part << " in " << l->text().toStdString();
        }
        EXPECT_TRUE(form->infolabel2->text().contains(
            QStringLiteral("encoded copy of the master at 48 kHz.flac (48000 Hz \u2192 44100 Hz)  [")));
    }
    // The loop line goes with the loop, and with the option.
    form->setLoop(0, 0);
    EXPECT_FALSE(form->infolabel1->text().contains(QStringLiteral("Loop range")));
    form->setLoop(1.0, 2.0);
    wait_for_loop_lines();
    form->looplevels->action->setChecked(false);
    EXPECT_FALSE(form->infolabel2->text().contains(QStringLiteral("Loop range")));
    EXPECT_EQ(form->infolabel2->text().count(QLatin1Char('\n')), 1);
}

// The text is selected with the mouse and copied whole; a file name wider
// than the whole line is shortened in its middle, its hint then shows it.
TEST_F(InfoLines, SelectableCopyableAndOnlyAnOverlongNameShortened) {
    const QString longname = QString(QStringLiteral("x")).repeated(150) + QStringLiteral(".wav");
    form->load_file(1, sine(longname, 8000, 1, 1.0, 440, 0.5));
    wait_for_loudness(ws());
    QLabel* l = form->infolabel2;
    EXPECT_TRUE(l->textInteractionFlags() & Qt::TextSelectableByMouse);
    form->resize(560, form->height());
    QApplication::processEvents();
    expect_fits(l, 1);
    const QString name_line = l->text().section(QLatin1Char('\n'), 1, 1);
    EXPECT_TRUE(name_line.contains(QChar(0x2026))) << name_line.toStdString();
    EXPECT_TRUE(name_line.startsWith(QStringLiteral("xxx")));
    EXPECT_TRUE(name_line.endsWith(QStringLiteral("xxx.wav")));
    EXPECT_TRUE(l->toolTip().contains(longname));

    form->resize(1600, form->height());
    QApplication::processEvents();
    EXPECT_EQ(l->text(), shown_lines(ws(), 1));
    l->setFocus();
    l->setSelection(0, int(l->text().size()));
    QTest::keyClick(l, Qt::Key_C, Qt::ControlModifier);
    QString copied = QGuiApplication::clipboard()->text();
    copied.replace(QChar(QChar::ParagraphSeparator), QLatin1Char('\n'));
    EXPECT_EQ(copied, l->text());
}
