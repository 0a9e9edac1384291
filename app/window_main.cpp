#include "app/window_main.h"

#include "app/main_window.h"
#include "app/start_files.h"
#include "common/application.h"
#include "common/native_file_name.h"

#include <QAction>
#include <QFile>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QTimer>

namespace {

/// Writes the visible items of every menu of the window to `path`, one line
/// each: the menu title, then its items after a tab ("-" for a separator,
/// the shortcut after a second tab); then the status bar's message, if any,
/// after a line "Status bar".
bool write_menu_texts(const wavrell::TForm19& window, const QString& path) {
    QString text;
    for (const QAction* m : window.menuBar()->actions()) {
        if (!m->menu() || !m->isVisible()) continue;
        text += m->text() + QLatin1Char('\n');
        for (const QAction* a : m->menu()->actions()) {
            if (!a->isVisible()) continue;
            text += QLatin1Char('\t') + (a->isSeparator() ? QStringLiteral("-") : a->text());
            if (!a->shortcut().isEmpty()) text += QLatin1Char('\t') + a->shortcut().toString();
            text += QLatin1Char('\n');
        }
    }
    if (const QStatusBar* bar = window.findChild<QStatusBar*>(); bar && !bar->currentMessage().isEmpty())
        text += QStringLiteral("Status bar\n\t") + bar->currentMessage() + QLatin1Char('\n');
    QFile f(path);
    // File names in the texts keep their bytes, also those that are not UTF-8.
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(wavrell::native_file_name(text)) >= 0 &&
           f.flush();
}

}  // namespace

int wavrell_window_main(int argc, char** argv, const QStringList& files) {
    wavrell::TApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("Wavrell"));
    wavrell::TForm19 window;
    window.show();
    // Test hook: WAVRELL_TEST_DUMP_MENUS=FILE makes the window write its
    // menus to FILE once the command-line files are loaded, and close
    // (ending the run).
    std::function<void()> then;
    if (const QString dump = qEnvironmentVariable("WAVRELL_TEST_DUMP_MENUS"); !dump.isEmpty())
        then = [&window, dump] {
            if (!write_menu_texts(window, dump)) qWarning("Cannot write the menus to %s", qPrintable(dump));
            window.close();
        };
    wavrell::open_start_files(window, files, then);
    return app.exec();
}
