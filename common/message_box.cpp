#include "common/message_box.h"

#include "common/errors.h"

#include <QApplication>
#include <QMessageBox>
#include <QWidget>

namespace wavrell {

namespace {
MessageBoxHook& hook() {
    static MessageBoxHook h;
    return h;
}

QWidget* main_window() {
    if (QWidget* w = QApplication::activeWindow()) return w;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible() && w->inherits("QMainWindow")) return w;
    return nullptr;
}
}  // namespace

void set_message_box_hook(MessageBoxHook h) { hook() = std::move(h); }

int message_box(const QString& text, const QString& caption, int flags) {
    if (hook()) return hook()(text, caption, flags);

    QMessageBox box(main_window());
    box.setWindowTitle(caption);
    // Texts come from outside the program too (file names, a server's
    // message): shown as they are, never read as rich text with links.
    box.setTextFormat(Qt::PlainText);
    box.setText(display_text(text));
    // File names and addresses in a message can be selected and copied.
    box.setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    switch (flags & 0xF0) {
        case mb::ICONERROR: box.setIcon(QMessageBox::Critical); break;
        case mb::ICONQUESTION: box.setIcon(QMessageBox::Question); break;
        case mb::ICONEXCLAMATION: box.setIcon(QMessageBox::Warning); break;
        case mb::ICONINFORMATION: box.setIcon(QMessageBox::Information); break;
        default: break;
    }
    switch (flags & 0x0F) {
        case mb::OKCANCEL:
            box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
            break;
        case mb::YESNO:
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
            break;
        default: box.setStandardButtons(QMessageBox::Ok); break;
    }
    switch (box.exec()) {
        case QMessageBox::Yes: return mb::IDYES;
        case QMessageBox::No: return mb::IDNO;
        case QMessageBox::Cancel: return mb::IDCANCEL;
        default: return mb::IDOK;
    }
}

}  // namespace wavrell
