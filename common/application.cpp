#include "common/application.h"

#include "common/errors.h"
#include "common/message_box.h"

namespace wavrell {

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        show_exception(e);
    }
    return false;
}

void TApplication::show_exception(const std::exception& e) {
    QString text;
    if (auto* own = dynamic_cast<const Exception*>(&e))
        text = own->message();
    else
        text = QString::fromLocal8Bit(e.what());
    message_box(text, applicationName(), mb::OK | mb::ICONERROR);
}

}  // namespace wavrell
