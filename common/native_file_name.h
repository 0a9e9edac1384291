#pragma once

#include <QByteArray>
#include <QString>

namespace wavrell {

// File names on Linux are byte strings; most are UTF-8, but any byte but '/'
// and 0 is legal, and names from other systems or old archives often hold
// bytes that are not UTF-8 (0xFF, Latin-1 letters). Qt turns such bytes into
// U+FFFD, after which the file can no longer be opened by its name. These two
// functions convert without loss instead: every byte that is not part of a
// valid UTF-8 sequence becomes the lone low surrogate U+DC00 + byte (the
// "surrogate escape" of PEP 383), which no valid UTF-8 text ever yields, and
// goes back to that byte. Every program part that turns a name into bytes to
// open, stat or print it uses native_file_name; every part that gets a name as
// bytes (command line, dropped addresses) uses file_name_from_native.

/// A file name as bytes: UTF-8, with each escape U+DC80 … U+DCFF back as the
/// byte it stands for. Any thread.
QByteArray native_file_name(const QString& name);

/// A file name from its bytes: valid UTF-8 sequences decoded, every other
/// byte as its escape. native_file_name gives the very bytes back. Any thread.
QString file_name_from_native(const QByteArray& bytes);

}  // namespace wavrell
