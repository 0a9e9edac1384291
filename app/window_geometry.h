#pragma once

#include <QRect>

class QWidget;

namespace wavrell {

class TSetting;

/// Section of the settings store that keeps the main window's place when
/// it was last closed: "Left", "Top", "Width", "Height" (the client area of
/// the normal, not maximized window, in screen pixels) and "Maximized".
inline constexpr char window_place_section[] = "MainWindow";

/// `rect` moved, and shrunk where it is larger, so that it lies within
/// `area`; an empty `area` leaves it as it is.
QRect fit_within(const QRect& rect, const QRect& area);

/// Gives a window that is not shown yet the place stored in `store`: its
/// normal geometry, fitted into the available area of the screen that holds
/// its centre (else of the primary screen), and its maximized state.
/// Without a stored place (the first start) or with an unusable one the
/// window keeps the size it has. Reading never fails.
void restore_window_place(QWidget& window, TSetting& store);

/// Stores the window's place (normal geometry and maximized state) in
/// `store`. A store that cannot be written is passed over: the window then
/// opens where it opened before.
void save_window_place(const QWidget& window, TSetting& store);

}  // namespace wavrell
