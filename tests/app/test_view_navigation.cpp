// Moving about the time line of the rendered window: the wheel and Ctrl+wheel
// over the waveform boxes, "Zoom to fit" and "Zoom to loop", the page turns
// that follow the cursor, the time readout on the status bar and the
// h:mm:ss labels of the time axis, with their options remembered.
#include "tests/app/window_fixture.h"

#include "app/view_navigation.h"
#include "tests/settings/isolated_folders.h"

#include <QLabel>
#include <QStatusBar>
#include <QWheelEvent>

namespace wavrell::test {
namespace {

class ViewNavigation : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        // 10 s at 8000 Hz: the time line is 0 … 10 s.
        form->load_file(0, sine(QStringLiteral("ten.wav"), 8000, 1, 10, 440, 0.5));
        ASSERT_EQ(lo(), 0);
        ASSERT_EQ(hi(), 10);
    }
    double lo() const { return form->xaxis->LoValue(); }
    double hi() const { return form->xaxis->HiValue(); }
    TViewNavigation& nav() { return *form->navigation; }
    /// A wheel turn of `angle` (120 a notch) over box t at pixel x of it.
    void wheel(int x, int angle, Qt::KeyboardModifiers m = Qt::NoModifier, int t = 1) {
        TPaintBox* box = form->PaintBox[size_t(t)];
        const QPointF at(x, box->height() / 2);
        QWheelEvent e(at, box->mapToGlobal(at), QPoint(), QPoint(0, angle), Qt::NoButton, m, Qt::NoScrollPhase,
                      false);
        QApplication::sendEvent(box, &e);
    }
};

TEST_F(ViewNavigation, WheelScrollsAndCtrlWheelZoomsAroundTheMouse) {
    // Ctrl+wheel up zooms in by 1.25 a notch; the time under the mouse
    // stays under it.
    const int x = form->xaxis->value_to_pixel(3.0);
    const double at = form->xaxis->pixel_to_value(x);
    wheel(x, 120, Qt::ControlModifier);
    EXPECT_NEAR(hi() - lo(), 10 / 1.25, 1e-9);
    EXPECT_NEAR(form->xaxis->pixel_to_value(x), at, 2 * (hi() - lo()) / form->xaxis->width());
    wheel(x, 240, Qt::ControlModifier);
    EXPECT_NEAR(hi() - lo(), 10 / std::pow(1.25, 3), 1e-9);
    EXPECT_NEAR(form->xaxis->pixel_to_value(x), at, 2 * (hi() - lo()) / form->xaxis->width());

    // The wheel turned down scrolls to later times by a tenth of the view,
    // up to earlier ones; the view keeps its span and stops at the ends.
    const double span = hi() - lo(), before = lo();
    wheel(x, -120);
    EXPECT_NEAR(lo(), before + span / 10, 1e-9);
    EXPECT_NEAR(hi() - lo(), span, 1e-9);
    for (int i = 0; i < 100; ++i) wheel(x, -120);
    EXPECT_EQ(hi(), 10);
    EXPECT_NEAR(hi() - lo(), span, 1e-9);
    for (int i = 0; i < 100; ++i) wheel(x, 120, Qt::NoModifier, 3);  // any box
    EXPECT_EQ(lo(), 0);
    EXPECT_NEAR(hi() - lo(), span, 1e-9);

    // Zooming in stops at a millisecond; out, at the whole time line.
    for (int i = 0; i < 100; ++i) wheel(x, 120, Qt::ControlModifier);
    EXPECT_NEAR(hi() - lo(), 0.001, 1e-9);
    for (int i = 0; i < 100; ++i) wheel(x, -120, Qt::ControlModifier);
    EXPECT_EQ(lo(), 0);
    EXPECT_EQ(hi(), 10);
}

TEST_F(ViewNavigation, ZoomToLoopAndZoomToFit) {
    EXPECT_EQ(nav().zoomfitaction->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_0));
    // Without a loop range there is nothing to zoom to.
    EXPECT_FALSE(nav().zoomloopaction->isEnabled());
    form->setLoop(2.5, 4);
    ASSERT_TRUE(nav().zoomloopaction->isEnabled());
    nav().zoomloopaction->trigger();
    EXPECT_EQ(lo(), 2.5);
    EXPECT_EQ(hi(), 4);
    // The loop's edges are the boxes' edges now.
    ws().setCursorpos(3);
    const QImage img = box(0);
    const QColor edge = form->PaintBox[0]->palette().color(QPalette::Highlight);
    EXPECT_TRUE(is(img, 0, 2, edge));
    EXPECT_TRUE(is(img, img.width() - 1, 2, edge));
    QTest::keyClick(form.get(), Qt::Key_0, Qt::ControlModifier);
    EXPECT_EQ(lo(), 0);
    EXPECT_EQ(hi(), 10);
    form->setLoop(0, 0);
    EXPECT_FALSE(nav().zoomloopaction->isEnabled());
}

TEST_F(ViewNavigation, FollowingTurnsWholePagesAndCanBeTurnedOff) {
    IsolatedFolders folders;
    const struct {
        double lo, hi, cursor, newlo, newhi;
    } pages[] = {
        {0, 2, 1.5, 0, 2},     // in view: nothing moves
        {0, 2, 2.5, 2, 4},     // past the right edge: the next page
        {0, 2, 7.2, 6, 8},     // a seek far ahead: the page it is on
        {8, 10, 0.5, 0, 2},    // back to a loop's start
        {0, 3, 9.9, 7, 10},    // the last page ends at the end
    };
    for (const auto& p : pages) {
        form->xaxis->set_hilovalues(p.lo, p.hi);
        nav().follow(p.cursor);
        EXPECT_NEAR(lo(), p.newlo, 1e-9) << p.cursor;
        EXPECT_NEAR(hi(), p.newhi, 1e-9) << p.cursor;
    }
    ASSERT_TRUE(nav().followaction->isChecked());
    nav().followaction->trigger();
    form->xaxis->set_hilovalues(0, 2);
    nav().follow(5);
    EXPECT_EQ(lo(), 0);
    EXPECT_EQ(hi(), 2);
    // Remembered by the next window.
    form.reset();
    TForm19 next;
    EXPECT_FALSE(next.navigation->followaction->isChecked());
}

TEST_F(ViewNavigation, ReadoutShowsCursorAndLoop) {
    const struct {
        double seconds;
        const char* text;
    } times[] = {{0, "0:00:00.000"},       {1.5, "0:00:01.500"},   {65.25, "0:01:05.250"},
                 {3723.004, "1:02:03.004"}, {-1.5, "-0:00:01.500"}, {59.9996, "0:01:00.000"}};
    for (const auto& t : times) EXPECT_EQ(TViewNavigation::time_text(t.seconds), QLatin1String(t.text));

    ASSERT_TRUE(form->statusBar()->isVisible());
    EXPECT_EQ(nav().readout->parentWidget(), form->statusBar());
    ws().setCursorpos(1.5);
    EXPECT_EQ(nav().readout->text(), QStringLiteral("Cursor 0:00:01.500 (frame 12000)"));
    form->setLoop(2, 3.25);
    EXPECT_EQ(nav().readout->text(),
              QStringLiteral("Cursor 0:00:01.500 (frame 12000)   Loop 0:00:02.000 to 0:00:03.250, length 0:00:01.250"));
    // A click into a box moves the cursor and the readout with it.
    const int x = form->xaxis->value_to_pixel(5.0);
    QTest::mouseClick(form->PaintBox[0], Qt::LeftButton, {}, QPoint(x, 10));
    EXPECT_TRUE(nav().readout->text().startsWith(QStringLiteral("Cursor 0:00:0")));
    EXPECT_EQ(nav().readout->text().section(QLatin1Char(' '), 1, 1),
              TViewNavigation::time_text(ws().cursorpos()));
    // The readout is drawn where it can be read.
    EXPECT_GE(nav().readout->width(), nav().readout->fontMetrics().horizontalAdvance(nav().readout->text()));
}

TEST_F(ViewNavigation, TimeAsHmsLabelsTheTimeAxisOfLongViewsAndIsRemembered) {
    IsolatedFolders folders;
    ASSERT_FALSE(nav().timeaction->isChecked());
    nav().timeaction->trigger();
    EXPECT_TRUE(form->xaxis->TimeLabels());
    // 10 s: the plain labels of seconds stay.
    EXPECT_FALSE(form->xaxis->time_labels_shown());
    // Two minutes of a longer time line: m:ss.
    form->xaxis->setMaxHiValue(4000);
    form->xaxis->set_hilovalues(0, 120);
    ASSERT_TRUE(form->xaxis->time_labels_shown());
    QStringList labels;
    for (int i = 0; i < form->xaxis->nTickMarks(); ++i) labels << form->xaxis->tickmark_text(i);
    EXPECT_TRUE(labels.contains(QStringLiteral("1:00"))) << labels.join(' ').toStdString();
    form.reset();
    TForm19 next;
    EXPECT_TRUE(next.navigation->timeaction->isChecked());
    EXPECT_TRUE(next.xaxis->TimeLabels());
}

}  // namespace
}  // namespace wavrell::test
