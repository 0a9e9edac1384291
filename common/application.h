#pragma once

#include <QApplication>

namespace wavrell {

/// The program's application object. Every exception that escapes an event
/// handler ends here: its message is shown in a modal message box and the
/// program goes on with the state the handler left. Nothing else catches.
class TApplication : public QApplication {
public:
    TApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;

    /// Shows the message of an exception that escaped a handler.
    static void show_exception(const std::exception& e);
};

}  // namespace wavrell
