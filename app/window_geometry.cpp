#include "app/window_geometry.h"

#include "common/errors.h"
#include "settings/prog_id.h"  // setting.h keeps a QPointer to it
#include "settings/setting.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <algorithm>

namespace wavrell {

namespace {
const QString section = QLatin1String(window_place_section);
}

QRect fit_within(const QRect& rect, const QRect& area) {
    if (area.isEmpty()) return rect;
    const int w = std::min(rect.width(), area.width());
    const int h = std::min(rect.height(), area.height());
    const int x = std::clamp(rect.x(), area.left(), area.left() + area.width() - w);
    const int y = std::clamp(rect.y(), area.top(), area.top() + area.height() - h);
    return QRect(x, y, w, h);
}

void restore_window_place(QWidget& window, TSetting& store) {
    const QRect stored(store.ReadInteger(section, QStringLiteral("Left"), 0),
                       store.ReadInteger(section, QStringLiteral("Top"), 0),
                       store.ReadInteger(section, QStringLiteral("Width"), 0),
                       store.ReadInteger(section, QStringLiteral("Height"), 0));
    if (stored.width() <= 0 || stored.height() <= 0) return;
    // The screens may have changed since (a monitor unplugged, another
    // resolution): the window must come up where it can be seen.
    QScreen* screen = QGuiApplication::screenAt(stored.center());
    if (!screen) screen = QGuiApplication::primaryScreen();
    const QRect area = screen ? screen->availableGeometry() : QRect();
    window.setGeometry(fit_within(stored, area));
    if (store.ReadBool(section, QStringLiteral("Maximized"), false))
        window.setWindowState(window.windowState() | Qt::WindowMaximized);
}

void save_window_place(const QWidget& window, TSetting& store) {
    const QRect normal = window.normalGeometry().isValid() ? window.normalGeometry() : window.geometry();
    try {
        store.WriteInteger(section, QStringLiteral("Left"), normal.x());
        store.WriteInteger(section, QStringLiteral("Top"), normal.y());
        store.WriteInteger(section, QStringLiteral("Width"), normal.width());
        store.WriteInteger(section, QStringLiteral("Height"), normal.height());
        store.WriteBool(section, QStringLiteral("Maximized"), window.isMaximized());
    } catch (const Exception&) {
        // Not kept: the next start opens the window as this one opened.
    }
}

}  // namespace wavrell
