#include "shell/day_number.h"
#include "shell/fjelm_about.h"
#include "shell/program_icon.h"

#include <QApplication>
#include <QDialog>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLocale>
#include <QMainWindow>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QtEndian>

#include <gtest/gtest.h>

namespace wavrell {
namespace {

struct ShowHookGuard {
    ~ShowHookGuard() { set_about_show_hook({}); }
};

template <typename W = QLabel>
W* part(TAbout& about, const char* name) {
    W* w = about.dialog()->findChild<W*>(QLatin1String(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
}

/// The About box as the main window configures it.
void configure_like_the_window(TFjelmAbout& about) {
    about.setTitle(QStringLiteral("Wavrell"));
    about.setVersion(QStringLiteral("0.2"));
    about.setCopyright(QStringLiteral("Copyright \u00A9 2010-2026 OstrelData"));
    about.setShowAFjelm(false);
    about.setShowCompileDate(true);
    about.setBMP256(true);
    about.setOSVersions(this_platform);
    about.Loaded();
}

QImage resource_picture() {
    ensure_shell_resources();
    QFile f(QStringLiteral(":/shell/FJELMBMP"));
    EXPECT_TRUE(f.open(QIODevice::ReadOnly));
    QImage img;
    EXPECT_TRUE(img.loadFromData(bitmap_file_image(f.readAll()), "BMP"));
    return img;
}

TEST(About, RenderedLayoutOfTheProgramsAboutBox) {
    install_program_icon();
    TFjelmAbout about;
    configure_like_the_window(about);

    QImage shot;
    ShowHookGuard guard;
    set_about_show_hook([&](QDialog& d) {
        d.show();
        shot = d.grab().toImage().convertToFormat(QImage::Format_RGB32);
        d.hide();
    });
    about.showmodal();
    ASSERT_FALSE(shot.isNull());

    QDialog* d = about.dialog();
    EXPECT_EQ(d->windowTitle(), QStringLiteral("About"));
    EXPECT_EQ(d->width(), 410);
    EXPECT_EQ(part(about, "titlelabel")->text(), QStringLiteral("Wavrell"));
    EXPECT_EQ(part(about, "versionlabel")->text(), QStringLiteral("Version 0.2 for Linux"));
    EXPECT_FALSE(part(about, "fjelmlabel")->isVisible());
    EXPECT_EQ(part(about, "copyrightlabel")->text(), QStringLiteral("Copyright \u00A9 2010-2026 OstrelData"));
    EXPECT_EQ(part(about, "compiledatelabel")->text(),
              QStringLiteral("Compiled ") +
                  QLocale().toString(date_of_day_number(build_date()), QLocale::ShortFormat));
    EXPECT_LE(build_date(), today_day_number());
    EXPECT_GT(build_date(), day_number(QDate(2020, 1, 1)));
    EXPECT_FALSE(part(about, "extralabel")->isVisible());

    // Labels are stacked with their gaps from the title down.
    const int gaps[][3] = {{0, 1, 2}, {1, 2, 2}, {2, 3, 4}, {3, 4, 2}};
    const char* column[] = {"titlelabel", "versionlabel", "fjelmlabel", "copyrightlabel",
                            "compiledatelabel"};
    for (const auto& g : gaps) {
        QLabel* upper = part(about, column[g[0]]);
        QLabel* lower = part(about, column[g[1]]);
        EXPECT_EQ(lower->y(), upper->geometry().bottom() + 1 + g[2]) << column[g[1]];
        EXPECT_EQ(lower->x(), 172);
    }

    auto* ok = part<QPushButton>(about, "okbutton");
    EXPECT_EQ(ok->geometry(), QRect(254, ok->y(), 75, 25));
    EXPECT_EQ(ok->text(), QStringLiteral("&Ok"));
    EXPECT_TRUE(ok->isDefault());
    QLabel* memory = part(about, "memorylabel");
    EXPECT_EQ(ok->y(), memory->geometry().bottom() + 1 + 5);

    // Picture panel: left 10, centred vertically, the picture whole inside.
    auto* panel = part<QWidget>(about, "panel");
    EXPECT_EQ(panel->size(), QSize(163, 234));
    EXPECT_EQ(panel->x(), 10);
    EXPECT_EQ(panel->y(), (d->height() - 234) / 2);
    EXPECT_GE(panel->y(), 0);
    EXPECT_LE(panel->geometry().bottom(), d->height() - 1);
    EXPECT_GE(d->height(), ok->geometry().bottom() + 1 + 10);

    // The picture is drawn at 4, 4 in the panel in its own colours.
    QLabel* picture = part(about, "fjelmimage");
    EXPECT_EQ(picture->geometry(), QRect(4, 4, 155, 226));
    const QImage art = resource_picture();
    const QPoint origin = panel->pos() + QPoint(4, 4);
    for (const QPoint p : {QPoint(0, 0), QPoint(77, 62), QPoint(20, 160), QPoint(154, 225)})
        EXPECT_EQ(shot.pixel(origin + p), art.pixel(p)) << p.x() << "," << p.y();

    // The program icon is shown at its place.
    QLabel* icon = part(about, "progicon");
    EXPECT_EQ(icon->geometry(), QRect(372, 9, 41, 37));
    EXPECT_FALSE(icon->pixmap().isNull());
}

TEST(About, ExtraTextAndCompileDateDoNotMoveTheLayout) {
    TFjelmAbout about;
    about.Loaded();
    auto* ok = part<QPushButton>(about, "okbutton");
    const QRect okBefore = ok->geometry();
    QLabel* extra = part(about, "extralabel");
    QLabel* title = part(about, "titlelabel");

    about.setExtra(QStringLiteral("Registered to\rthe test"));
    about.setShowCompileDate(false);
    ShowHookGuard guard;
    bool compileVisible = true, extraVisible = false;
    int extraHeight = 0;
    set_about_show_hook([&](QDialog& d) {
        d.show();
        compileVisible = d.findChild<QLabel*>(QStringLiteral("compiledatelabel"))->isVisible();
        extraVisible = extra->isVisible();
        extraHeight = extra->height();
        d.hide();
    });
    about.showmodal();
    EXPECT_FALSE(compileVisible);
    EXPECT_TRUE(extraVisible);
    EXPECT_EQ(extra->text(), QStringLiteral("Registered to\nthe test"));
    EXPECT_EQ(extra->width(), title->width());
    EXPECT_GE(extraHeight, 2 * extra->fontMetrics().height());
    EXPECT_EQ(ok->geometry(), okBefore);

    about.setExtra(QString());
    EXPECT_TRUE(extra->isHidden());
}

TEST(About, VersionNumbers) {
    struct Case {
        const char* version;
        uint16_t intversion;
        double number;
    } cases[] = {
        {"2.5", 517, 2.5},   {"1.10", 266, 1.1}, {"300", 300, 300.0},  {"70000", 4464, 70000.0},
        {"abc", 0, 0.0},     {"2.5.1", 0, 0.0},  {"x.5", 0, 0.0},      {"", 0, 0.0},
    };
    for (const auto& c : cases) {
        TAbout about;
        about.setVersion(QString::fromLatin1(c.version));
        EXPECT_EQ(about.intversion(), c.intversion) << c.version;
        EXPECT_DOUBLE_EQ(about.VersionNumber(), c.number) << c.version;
    }

    // The stored version always has "." as separator, also for users whose
    // numbers use ",".
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    for (const auto& [version, number] : {std::pair{"2.5", 2.5}, std::pair{"2,5", 0.0}}) {
        TAbout about;
        about.setVersion(QString::fromLatin1(version));
        EXPECT_DOUBLE_EQ(about.VersionNumber(), number) << version;
    }
    QLocale::setDefault(saved);
}

TEST(About, AutoVersionAndRevisionAfterLoading) {
    TFjelmAbout about;
    EXPECT_EQ(about.Version(), QStringLiteral("auto"));
    EXPECT_EQ(about.OSVersions(), QStringLiteral("Win95/98/NT"));
    about.setRevision(QStringLiteral("auto"));
    about.setShowAFjelm(true);
    about.setOSVersions(QStringLiteral("Linux"));
    about.Loaded();
    EXPECT_EQ(about.Version(), QStringLiteral("3.0"));
    EXPECT_EQ(about.Revision(), QString());
    EXPECT_EQ(part(about, "versionlabel")->text(), QStringLiteral("Version 3.0 for Linux"));
    EXPECT_EQ(part(about, "fjelmlabel")->text(), QStringLiteral("A Fjelm application"));
    EXPECT_FALSE(part(about, "fjelmlabel")->isHidden());
    EXPECT_EQ(about.intversion(), 768);

    // Reading VersionNumber loads first.
    TAbout plain;
    plain.setRevision(QStringLiteral("b"));
    EXPECT_DOUBLE_EQ(plain.VersionNumber(), 3.0);
    EXPECT_EQ(part(plain, "versionlabel")->text(), QStringLiteral("Version 3.0b for Win95/98/NT"));
}

TEST(About, ShownTwiceTheSameAndClosedByOk) {
    TFjelmAbout about;
    configure_like_the_window(about);
    QImage shots[2];
    for (QImage& shot : shots) {
        // The real modal run: OK is clicked from inside it.
        QTimer::singleShot(0, [&] {
            QDialog* d = about.dialog();
            ASSERT_TRUE(d->isVisible());
            shot = d->grab().toImage();
            QTest::mouseClick(d->findChild<QPushButton*>(QStringLiteral("okbutton")), Qt::LeftButton);
        });
        about.showmodal();
        EXPECT_FALSE(about.dialog()->isVisible());
    }
    EXPECT_FALSE(shots[0].isNull());
    EXPECT_EQ(shots[0], shots[1]);
}

TEST(About, DoubleClicksReachTheirEvents) {
    TFjelmAbout about;
    about.Loaded();
    QObject* egg = nullptr;
    QObject* errlog = nullptr;
    about.OnEggClick = [&](QObject* s) { egg = s; };
    about.OnActivateErrLog = [&](QObject* s) { errlog = s; };
    ShowHookGuard guard;
    set_about_show_hook([&](QDialog& d) {
        d.show();
        QTest::mouseDClick(d.findChild<QLabel*>(QStringLiteral("progicon")), Qt::LeftButton);
        QTest::mouseDClick(d.findChild<QLabel*>(QStringLiteral("fjelmimage")), Qt::LeftButton);
        d.hide();
    });
    about.showmodal();
    EXPECT_EQ(egg, part(about, "progicon"));
    EXPECT_EQ(errlog, part(about, "fjelmimage"));
}

TEST(About, PictureInDisplayFormatKeepsItsFrame) {
    TFjelmAbout about;
    about.setBMP256(false);
    about.Loaded();
    QLabel* picture = part(about, "fjelmimage");
    EXPECT_EQ(picture->size(), QSize(153, 225));
    ASSERT_FALSE(picture->pixmap().isNull());
    EXPECT_EQ(picture->pixmap().toImage().pixel(77, 62), resource_picture().pixel(77, 62));
}

QByteArray info_header(uint32_t size, int bits, uint32_t compression, uint32_t used) {
    QByteArray h(int(size), '\0');
    qToLittleEndian<uint32_t>(size, h.data());
    qToLittleEndian<int32_t>(2, h.data() + 4);
    qToLittleEndian<int32_t>(2, h.data() + 8);
    qToLittleEndian<uint16_t>(1, h.data() + 12);
    qToLittleEndian<uint16_t>(uint16_t(bits), h.data() + 14);
    qToLittleEndian<uint32_t>(compression, h.data() + 16);
    qToLittleEndian<uint32_t>(used, h.data() + 32);
    return h;
}

TEST(About, BitmapFileHeaderInFrontOfRawBitmapData) {
    ensure_shell_resources();
    QFile f(QStringLiteral(":/shell/FJELMBMP"));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray dib = f.readAll();
    const QByteArray file = bitmap_file_image(dib);
    ASSERT_EQ(file.size(), dib.size() + 14);
    EXPECT_EQ(file.left(2), QByteArray("BM"));
    EXPECT_EQ(qFromLittleEndian<uint32_t>(file.constData() + 2), uint32_t(file.size()));
    EXPECT_EQ(qFromLittleEndian<uint32_t>(file.constData() + 6), 0u);
    EXPECT_EQ(qFromLittleEndian<uint32_t>(file.constData() + 10), 14u + 40u + 256u * 4u);
    QImage img;
    ASSERT_TRUE(img.loadFromData(file, "BMP"));
    EXPECT_EQ(img.size(), QSize(155, 226));
    EXPECT_EQ(img.format(), QImage::Format_Indexed8);
    EXPECT_EQ(img.colorCount(), 256);

    struct Case {
        QByteArray dib;
        int offset;  // -1: not bitmap data
    } cases[] = {
        {info_header(40, 24, 0, 0) + QByteArray(16, '\x7f'), 54},
        {info_header(40, 16, 3, 0) + QByteArray(12 + 8, '\0'), 66},
        {info_header(40, 4, 0, 0) + QByteArray(16 * 4 + 8, '\0'), 14 + 40 + 64},
        {info_header(40, 8, 0, 0), -1},  // palette missing
        {QByteArray(8, '\0'), -1},
    };
    for (const auto& c : cases) {
        const QByteArray image = bitmap_file_image(c.dib);
        if (c.offset < 0) {
            EXPECT_TRUE(image.isEmpty());
            continue;
        }
        ASSERT_EQ(image.size(), c.dib.size() + 14);
        EXPECT_EQ(qFromLittleEndian<uint32_t>(image.constData() + 10), uint32_t(c.offset));
    }
}

TEST(About, ProgramIconOnApplicationAndWindow) {
    QMainWindow window;
    install_program_icon(&window);
    EXPECT_FALSE(window.windowIcon().isNull());
    EXPECT_EQ(QApplication::windowIcon().pixmap(32, 32).toImage(),
              program_icon().pixmap(32, 32).toImage());
}

}  // namespace
}  // namespace wavrell
