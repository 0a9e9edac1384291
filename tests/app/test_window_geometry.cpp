// The main window's place between runs: the description's size at the
// first start, then the size, position and maximized state it had when it
// was last closed, kept in the settings store and brought back within the
// visible screen. Real windows on the offscreen platform, in fresh settings
// folders.
#include "app/main_window.h"
#include "app/panel.h"
#include "app/window_geometry.h"
#include "settings/prog_id.h"
#include "settings/setting.h"
#include "tests/settings/isolated_folders.h"

#include <QApplication>
#include <QMenuBar>
#include <QStatusBar>
#include <QScreen>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

namespace wavrell {
namespace {

TEST(FitWithin, MovesAndShrinksARectangleIntoTheArea) {
    const QRect screen(0, 0, 800, 600);
    const QRect second(1920, 0, 1280, 1024);  // a screen right of another
    struct Case {
        QRect rect, area, expected;
    };
    const Case cases[] = {
        {QRect(10, 20, 300, 200), screen, QRect(10, 20, 300, 200)},      // inside: as it is
        {QRect(700, 20, 300, 200), screen, QRect(500, 20, 300, 200)},     // over the right edge
        {QRect(-50, -40, 300, 200), screen, QRect(0, 0, 300, 200)},       // over the top left
        {QRect(5000, 3000, 300, 200), screen, QRect(500, 400, 300, 200)}, // far off
        {QRect(100, 100, 1000, 900), screen, QRect(0, 0, 800, 600)},      // larger than the area
        {QRect(100, 100, 300, 200), second, QRect(1920, 100, 300, 200)},  // onto the other screen
        {QRect(100, 100, 300, 200), QRect(), QRect(100, 100, 300, 200)},  // no area known
    };
    for (const Case& c : cases) EXPECT_EQ(fit_within(c.rect, c.area), c.expected) << c.rect.x() << "," << c.rect.y();
}

class WindowPlace : public ::testing::Test {
protected:
    std::unique_ptr<TForm19> open_window() { return std::make_unique<TForm19>(); }
    void show(TForm19& w) {
        w.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
        QApplication::processEvents();
    }
    /// A place well inside the screen the offscreen platform offers.
    QRect inside() const {
        const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
        return QRect(area.x() + 37, area.y() + 29, std::min(640, area.width() - 60), std::min(430, area.height() - 50));
    }

    test::IsolatedFolders folders;  // a first start: nothing stored yet
};

TEST_F(WindowPlace, FirstStartAtTheDescriptionsSizeThenWhereItWasClosed) {
    auto first = open_window();
    EXPECT_EQ(first->width(), 721);
    // The client area between the menu bar and the status bar.
    EXPECT_EQ(first->height() - first->menuBar()->sizeHint().height() - first->statusBar()->sizeHint().height(), 423);
    show(*first);
    const QRect place = inside();
    first->setGeometry(place);
    QApplication::processEvents();
    first->close();
    first.reset();

    // Kept in the program's own settings file, beside the recent files.
    const QString ini = folders.config() + QStringLiteral("/OstrelData/Wavrell/0.2/") +
                        QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName() + QStringLiteral(".ini");
    EXPECT_TRUE(test::read_text(ini).contains(QLatin1String("[MainWindow]"))) << ini.toStdString();

    auto second = open_window();
    EXPECT_EQ(second->geometry(), place);
    show(*second);
    EXPECT_EQ(second->geometry(), place);
    EXPECT_FALSE(second->isMaximized());
    // The panels are laid out for the size it came back with.
    EXPECT_EQ(second->Panel1->width(), place.width() - 193);
}

TEST_F(WindowPlace, MaximizedComesBackMaximizedAndKeepsItsNormalPlace) {
    const QRect place = inside();
    auto first = open_window();
    show(*first);
    first->setGeometry(place);
    QApplication::processEvents();
    first->showMaximized();
    QApplication::processEvents();
    ASSERT_TRUE(first->isMaximized());
    first->close();
    first.reset();

    auto second = open_window();
    EXPECT_TRUE(second->windowState() & Qt::WindowMaximized);
    show(*second);
    EXPECT_TRUE(second->isMaximized());
    // Closed again while maximized, it still keeps the place it had before.
    second->close();
    second.reset();
    auto third = open_window();
    EXPECT_EQ(third->geometry(), place);
    EXPECT_TRUE(third->windowState() & Qt::WindowMaximized);
}

TEST_F(WindowPlace, AStoredPlaceOffTheScreenComesBackIntoView) {
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    auto store = [](TForm19& w, int left, int top, int width, int height) {
        const QString s = QLatin1String(window_place_section);
        w.WindowSetting->WriteInteger(s, QStringLiteral("Left"), left);
        w.WindowSetting->WriteInteger(s, QStringLiteral("Top"), top);
        w.WindowSetting->WriteInteger(s, QStringLiteral("Width"), width);
        w.WindowSetting->WriteInteger(s, QStringLiteral("Height"), height);
    };
    struct Case {
        const char* what;
        int left, top, width, height;
        QRect expected;
    };
    const QSize described = open_window()->size();
    const Case cases[] = {
        // A monitor that is gone: back onto the screen there is.
        {"far right and above", area.right() + 3000, area.top() - 2000, 500, 300,
         QRect(area.right() + 1 - 500, area.top(), 500, 300)},
        // Larger than the screen now: as large as the screen.
        {"larger than the screen", area.x() - 10, area.y() - 10, area.width() + 400, area.height() + 300, area},
    };
    for (const Case& c : cases) {
        {
            auto w = open_window();
            store(*w, c.left, c.top, c.width, c.height);
        }
        auto w = open_window();
        EXPECT_EQ(w->geometry(), c.expected) << c.what;
        EXPECT_TRUE(area.contains(w->geometry())) << c.what;
    }
    // A place without a size (a damaged file) is not one: the description's
    // size, as at the first start.
    {
        auto w = open_window();
        store(*w, 10, 10, 0, 300);
    }
    EXPECT_EQ(open_window()->size(), described);
}

}  // namespace
}  // namespace wavrell
