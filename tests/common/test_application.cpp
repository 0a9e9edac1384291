#include "common/application.h"
#include "common/errors.h"
#include "common/message_box.h"

#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <QLabel>
#include <QMessageBox>
#include <QObject>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

namespace wavrell {
namespace {

class Thrower : public QObject {
public:
    bool event(QEvent* e) override {
        if (e->type() == QEvent::User) throw EFileError(QStringLiteral("boom\rsecond line"));
        return QObject::event(e);
    }
};

struct HookGuard {
    ~HookGuard() { set_message_box_hook({}); }
};

TEST(Application, ExceptionFromHandlerIsShownAndProgramGoesOn) {
    HookGuard guard;
    QStringList shown;
    int flagsSeen = -1;
    set_message_box_hook([&](const QString& text, const QString&, int flags) {
        shown << text;
        flagsSeen = flags;
        return mb::IDOK;
    });
    Thrower t;
    QCoreApplication::postEvent(&t, new QEvent(QEvent::User));
    QCoreApplication::postEvent(&t, new QEvent(QEvent::User));
    QCoreApplication::processEvents();
    ASSERT_EQ(shown.size(), 2);
    EXPECT_EQ(shown[0], QStringLiteral("boom\rsecond line"));
    EXPECT_EQ(flagsSeen & 0xF0, mb::ICONERROR);
}

TEST(Application, MessageBoxShowsTextsFromOutsideAsTheyAre) {
    // The real dialog: file names and a server's text are never read as
    // rich text, so markup shows literally and there are no links to click.
    const QString texts[] = {
        QStringLiteral("<a href=\"file:///etc/passwd\">Download</a> the new version"),
        QStringLiteral("Can't find \r/music/<b>loud</b> & <i>quiet</i>.wav"),
        QStringLiteral("<html><body><img src=\"x\"></body></html>"),
    };
    for (const QString& text : texts) {
        SCOPED_TRACE(text.toStdString());
        QString shownText;
        Qt::TextFormat format = Qt::AutoText;
        Qt::TextInteractionFlags flags;
        bool clicked = false;
        QTimer poll;
        poll.setInterval(10);
        QObject::connect(&poll, &QTimer::timeout, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || !box->isVisible()) return;
            poll.stop();
            if (auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"))) {
                shownText = label->text();
                format = label->textFormat();
                flags = label->textInteractionFlags();
            }
            box->button(QMessageBox::No)->click();
            clicked = true;
        });
        poll.start();
        EXPECT_EQ(message_box(text, QStringLiteral("<b>caption</b>"), mb::YESNO | mb::ICONQUESTION), mb::IDNO);
        EXPECT_TRUE(clicked);
        EXPECT_EQ(format, Qt::PlainText);
        EXPECT_EQ(shownText, display_text(text));
        // Names and addresses in it can be selected and copied.
        EXPECT_TRUE(flags & Qt::TextSelectableByMouse);
        EXPECT_FALSE(flags & Qt::LinksAccessibleByMouse);
    }
}

TEST(Application, DisplayTextTurnsCarriageReturnsIntoLineBreaks) {
    EXPECT_EQ(display_text(QStringLiteral("a\rb\r\nc")), QStringLiteral("a\nb\nc"));
}

}  // namespace
}  // namespace wavrell
