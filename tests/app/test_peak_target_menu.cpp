// "Match peak to" of the Levels menu in the rendered window: the true peak
// choice brings the larger true peak to -1 dBTP, the sample peak choice the
// larger sample peak to 0 dBFS; the choice is remembered.
#include "tests/app/window_fixture.h"

#include "app/peak_target_menu.h"
#include "tests/settings/isolated_folders.h"

#include <QLabel>
#include <QMenu>
#include <QRegularExpression>

namespace wavrell::test {
namespace {

/// The number before `unit` after `label` in an information line.
double field(const QString& line, const QString& label, const QString& unit) {
    const QRegularExpression re(QRegularExpression::escape(label) + QStringLiteral("([-+]?[0-9]+\\.[0-9])") +
                                QRegularExpression::escape(unit));
    const QRegularExpressionMatch m = re.match(line);
    EXPECT_TRUE(m.hasMatch()) << line.toStdString();
    return m.captured(1).toDouble();
}

class PeakTargetMenu : public WindowTest {};

TEST_F(PeakTargetMenu, TruePeakChoiceLeavesHeadroomAndIsRemembered) {
    IsolatedFolders folders;
    // A quarter of the rate, 45° off its samples: the true peak lies about
    // 3 dB above the sample peak. File 2 a plain 1 kHz tone.
    const QString a = synth(QStringLiteral("a.wav"), {"-r", "44100", "-c", "1", "-b", "16"},
                            {"synth", "3", "sine", "11025", "0", "12.5", "vol", "0.5"});
    const QString b = sine(QStringLiteral("b.wav"), 44100, 1, 3, 1000, 0.25);
    form->load_file(0, a);
    TPeakTargetMenu& menu = *form->peakmenu;
    EXPECT_EQ(menu.menu->title(), QStringLiteral("Match &peak to"));
    EXPECT_EQ(menu.sampleaction->text(), QStringLiteral("0 dBFS sample peak"));
    EXPECT_EQ(menu.trueaction->text(), QStringLiteral("\u22121 dBTP true peak"));
    EXPECT_TRUE(menu.sampleaction->isChecked());
    ASSERT_TRUE(ws().normalize());

    // The default: the sample peak at 0 dBFS, the true peak well above.
    const QString line = form->infolabel1->text();
    EXPECT_EQ(field(line, QStringLiteral("Peak="), QStringLiteral(" dB")), 0.0);
    EXPECT_GT(field(line, QStringLiteral("TP "), QStringLiteral(" dBTP")), 2.0);

    menu.trueaction->trigger();
    EXPECT_EQ(ws().PeakTarget(), pttrue);
    EXPECT_TRUE(menu.trueaction->isChecked());
    EXPECT_FALSE(menu.sampleaction->isChecked());
    EXPECT_EQ(field(form->infolabel1->text(), QStringLiteral("TP "), QStringLiteral(" dBTP")), -1.0);
    EXPECT_LT(field(form->infolabel1->text(), QStringLiteral("Peak="), QStringLiteral(" dB")), -3.0);

    // With two files the larger true peak goes to -1 dBTP, and the files
    // stay matched to each other.
    form->load_file(1, b);
    EXPECT_EQ(std::max(field(form->infolabel1->text(), QStringLiteral("TP "), QStringLiteral(" dBTP")),
                       field(form->infolabel2->text(), QStringLiteral("TP "), QStringLiteral(" dBTP"))),
              -1.0);
    EXPECT_EQ(field(form->infolabel1->text(), QStringLiteral("RMS="), QStringLiteral(" dB")),
              field(form->infolabel2->text(), QStringLiteral("RMS="), QStringLiteral(" dB")));

    form.reset();
    TForm19 next;
    EXPECT_EQ(next.workspace().PeakTarget(), pttrue);
    EXPECT_TRUE(next.peakmenu->trueaction->isChecked());
    next.peakmenu->sampleaction->trigger();
    EXPECT_EQ(next.workspace().PeakTarget(), ptsample);
}

}  // namespace
}  // namespace wavrell::test
