#pragma once

#include <QUrl>

namespace wavrell {

/// Whether a web item may open the address: a web page (http or https, with
/// a host) or a mail address (mailto with an address). Anything else (local
/// files, file:, other schemes) is not opened.
bool is_web_item_address(const QUrl& url);

/// Whether the address only holds a place: its host (or a mail address's
/// domain) lies on a name reserved for examples and tests ("example",
/// "example.com", ".test", ".invalid", ...), so nothing real answers there.
bool is_placeholder_address(const QUrl& url);

}  // namespace wavrell
