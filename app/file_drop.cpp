#include "app/file_drop.h"

#include "app/main_window.h"
#include "app/paint_box.h"
#include "common/application.h"
#include "common/native_file_name.h"
#include "common/regular_file.h"

#include <QDropEvent>
#include <QLabel>
#include <QMimeData>
#include <QPointer>
#include <QTimer>
#include <QUrl>

#include <exception>
#include <utility>

namespace wavrell {

TFileDrop::TFileDrop(TForm19* w) : QObject(w), window(w) {
    QList<QWidget*> targets{window, window->infolabel1, window->infolabel2};
    for (int t = 0; t < 4; ++t) targets << window->PaintBox[size_t(t)] << window->crestpaint[size_t(t)];
    for (QWidget* target : targets) {
        target->setAcceptDrops(true);
        target->installEventFilter(this);
    }
}

QStringList TFileDrop::local_files(const QMimeData* data) {
    QStringList files;
    if (!data || !data->hasUrls()) return files;
    for (const QUrl& url : data->urls()) {
        if (!url.isLocalFile()) return {};
        // The address holds the name's bytes percent-encoded; toLocalFile
        // would turn bytes that are not UTF-8 into U+FFFD.
        const QByteArray bytes = QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
        const QString path = url.host().isEmpty() ? file_name_from_native(bytes) : url.toLocalFile();
        if (!is_regular_file(path)) return {};
        files << path;
    }
    return files;
}

int TFileDrop::slot_of(const QObject* widget) const {
    if (widget == window->infolabel1) return 0;
    if (widget == window->infolabel2) return 1;
    for (int t = 0; t < 4; ++t)
        if (widget == window->PaintBox[size_t(t)] || widget == window->crestpaint[size_t(t)]) return t / 2;
    return -1;
}

bool TFileDrop::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type != QEvent::DragEnter && type != QEvent::DragMove && type != QEvent::Drop)
        return QObject::eventFilter(watched, event);
    auto* drop = static_cast<QDropEvent*>(event);
    const QStringList files = local_files(drop->mimeData());
    const int slot = slot_of(watched);
    const bool usable = files.size() == 2 || (files.size() == 1 && slot >= 0);
    if (!usable) {
        drop->ignore();
        return true;
    }
    drop->setDropAction(Qt::CopyAction);
    drop->accept();
    if (type == QEvent::Drop) {
        // Loaded once the drop has ended, so that the dragging program is
        // not kept waiting; each file's error is reported on its own.
        QList<std::pair<int, QString>> loads;
        if (files.size() == 2)
            loads = {{0, files[0]}, {1, files[1]}};
        else
            loads = {{slot, files[0]}};
        QTimer::singleShot(0, window, [w = QPointer<TForm19>(window), loads] {
            for (const auto& [s, f] : loads) {
                if (!w) return;
                try {
                    w->load_file(s, f);
                } catch (const std::exception& e) {
                    TApplication::show_exception(e);
                }
            }
        });
    }
    return true;
}

}  // namespace wavrell
