#include "app/load_progress_dialog.h"

#include "workspace/load_progress.h"
#include "workspace/workspace.h"

#include <QApplication>
#include <QEventLoop>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <memory>

namespace wavrell {

TLoadProgressDialog::TLoadProgressDialog(QWidget* window, const QString& heading,
                                         std::function<const TLoadProgress&()> progress)
    : QProgressDialog(window), fheading(heading), fprogress(std::move(progress)) {
    // File names are shown as they are, never read as rich text.
    auto* label = new QLabel(this);
    label->setTextFormat(Qt::PlainText);
    setLabel(label);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setFocusPolicy(Qt::NoFocus);
    cancel->setAutoDefault(false);
    cancel->setDefault(false);
    setCancelButton(cancel);
    setRange(0, 100);
    setWindowTitle(QStringLiteral("Wavrell"));
    setWindowModality(Qt::WindowModal);
    setAutoReset(false);
    setAutoClose(false);
    setMinimumDuration(0);
    ftimer = new QTimer(this);
    ftimer->setInterval(100);
    connect(ftimer, &QTimer::timeout, this, &TLoadProgressDialog::poll);
    ftimer->start();
    poll();
}

void TLoadProgressDialog::poll() {
    const TLoadProgress& p = fprogress();
    setLabelText(fheading + QLatin1Char('\n') + p.text());
    if (value() != p.percent()) setValue(p.percent());
}

bool TLoadProgressDialog::event(QEvent* event) {
    // Escape comes to keyPressEvent as a key, whichever shortcut may claim it.
    if (event->type() == QEvent::ShortcutOverride && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        event->accept();
        return true;
    }
    return QProgressDialog::event(event);
}

void TLoadProgressDialog::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        emit canceled();
        return;
    }
    // Return, Space and the rest are the window's: they never cancel.
    if (QWidget* window = parentWidget()) QApplication::sendEvent(window, event);
}

bool wait_for_loudness(QWidget* window, const TWorkspace& ws) {
    const auto pending = [&] { return ws.loudness_pending(0) || ws.loudness_pending(1); };
    if (!pending()) return true;
    TLoadProgress progress;
    progress.enter(TLoadStage::MeasuringLoudness, 1000);
    QEventLoop loop;
    bool cancelled = false;
    std::unique_ptr<TLoadProgressDialog> dialog;
    QTimer poll;
    poll.setInterval(20);
    int polls = 0;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (!pending()) {
            loop.quit();
            return;
        }
        if (++polls < 25 || dialog) return;
        dialog = std::make_unique<TLoadProgressDialog>(window, QStringLiteral("Waiting for the loudness of the files"),
                                                       [&]() -> const TLoadProgress& {
                                                           double p = 1;
                                                           for (int s = 0; s < 2; ++s)
                                                               if (ws.loudness_pending(s))
                                                                   p = std::min(p, ws.loudness_progress(s));
                                                           progress.work().set(int64_t(p * 1000));
                                                           return progress;
                                                       });
        QObject::connect(dialog.get(), &QProgressDialog::canceled, &loop, [&] {
            cancelled = true;
            loop.quit();
        });
        dialog->show();
    });
    poll.start();
    loop.exec();
    return !cancelled && !pending();
}

}  // namespace wavrell
