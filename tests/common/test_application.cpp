#include "common/application.h"
#include "common/errors.h"
#include "common/message_box.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>

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

TEST(Application, DisplayTextTurnsCarriageReturnsIntoLineBreaks) {
    EXPECT_EQ(display_text(QStringLiteral("a\rb\r\nc")), QStringLiteral("a\nb\nc"));
}

}  // namespace
}  // namespace wavrell
