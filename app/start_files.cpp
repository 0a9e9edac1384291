#include "app/start_files.h"

#include "app/main_window.h"
#include "common/application.h"

#include <QFileInfo>
#include <QPointer>
#include <QStatusBar>
#include <QTimer>

namespace wavrell {

namespace {
constexpr int kLeftOutMessageMs = 20000;
}  // namespace

QString files_left_out_text(const QStringList& files) {
    if (files.size() <= 2) return {};
    const QString first = QFileInfo(files[2]).fileName();
    if (files.size() == 3) return QStringLiteral("Only two files are compared: \"%1\" was not opened.").arg(first);
    return QStringLiteral("Only two files are compared: \"%1\" and %2 more files were not opened.")
        .arg(first)
        .arg(files.size() - 3);
}

void open_start_files(TForm19& window, const QStringList& files, std::function<void()> then) {
    QTimer::singleShot(0, &window, [w = QPointer<TForm19>(&window), files, then] {
        for (int slot = 0; slot < std::min<int>(2, int(files.size())); ++slot) {
            if (!w) return;
            try {
                w->load_file(slot, files[slot]);
            } catch (const std::exception& e) {
                TApplication::show_exception(e);
            }
        }
        // A file manager hands over every file selected: the rest is named
        // where the user looks, not on a terminal nobody sees; for a while,
        // as the message covers the status bar's time readout.
        if (w && files.size() > 2) w->statusBar()->showMessage(files_left_out_text(files), kLeftOutMessageMs);
        if (w && then) then();
    });
}

}  // namespace wavrell
