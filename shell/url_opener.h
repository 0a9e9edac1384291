#pragma once

#include <QString>
#include <QUrl>

#include <functional>

namespace wavrell {

/// Opens a web address, mail link or document with the desktop's handler
/// (the browser, the mail program, the document's viewer); false when no
/// handler took it (none installed, such as without xdg-utils). The caller
/// tells the user. GUI thread.
bool open_url(const QUrl& url);

/// Replaces the desktop's handler (tests record what would be opened and
/// answer whether it was); an empty hook restores it.
void set_url_opener(std::function<bool(const QUrl&)> opener);

/// The URL of a command of a menu item: text with a scheme ("https://...",
/// "mailto:...") as it is, anything else as a local file path.
QUrl command_url(const QString& command);

}  // namespace wavrell
