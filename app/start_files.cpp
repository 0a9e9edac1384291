#include "app/start_files.h"

#include "app/main_window.h"
#include "common/application.h"

#include <QPointer>
#include <QTimer>

namespace wavrell {

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
        if (w && then) then();
    });
}

}  // namespace wavrell
