#pragma once

#include <QString>
#include <functional>

namespace wavrell {

/// Button sets, icons and answers of message_box; the numeric values are
/// those of the classic desktop message box, so stored flags keep meaning.
namespace mb {
constexpr int OK = 0x0;
constexpr int OKCANCEL = 0x1;
constexpr int YESNO = 0x4;
constexpr int ICONERROR = 0x10;
constexpr int ICONQUESTION = 0x20;
constexpr int ICONEXCLAMATION = 0x30;
constexpr int ICONINFORMATION = 0x40;

constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDYES = 6;
constexpr int IDNO = 7;
}  // namespace mb

/// Shows a modal message box over the application's main window with the
/// given text ("\r" breaks lines), caption and style flags, and returns the
/// code of the button that closed it (mb::IDOK, mb::IDYES, ...). The text is
/// shown as plain text, whatever it holds (markup, links). GUI thread.
int message_box(const QString& text, const QString& caption, int flags);

/// Replaces the dialog behind message_box (tests answer it without a
/// person). An empty hook restores the real dialog.
using MessageBoxHook = std::function<int(const QString& text, const QString& caption, int flags)>;
void set_message_box_hook(MessageBoxHook hook);

}  // namespace wavrell
