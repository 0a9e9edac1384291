#pragma once

// A damaged ini file of about 250 KB with 20,000 sections, as a file left
// by a broken program or a failing disk might look: CR LF line ends, lines
// without "=", section headers without "]", bytes that are not valid UTF-8
// in section names, keys and values, and a last line cut off before its
// line end. Used by the settings tests and the settings benchmarks (header
// only, Qt Core).

#include <QByteArray>

namespace wavrell::test {

/// The damaged file; `middle` (lines ending in "\r\n", e.g. the sections the
/// program itself reads) is put in after the 10,000th section.
inline QByteArray damaged_ini(const QByteArray& middle = {}) {
    QByteArray out;
    out.reserve(256 * 1024 + middle.size());
    out += "; left by a crashed program\r\n";
    for (int i = 0; i < 20000; ++i) {
        out += "[\xFF" + QByteArray::number(i) + "]\r\n";
        if (i % 5 == 0) out += "k\xFE" + QByteArray::number(i % 97) + "=v\xFD" + QByteArray::number(i) + "\r\n";
        if (i % 50 == 0) out += "a line without equals\r\n";
        if (i % 70 == 0) out += "[no closing bracket " + QByteArray::number(i) + "\r\n";
        if (i == 9999) out += middle;
    }
    out += "[end]\r\nk=cut off";  // no line end
    return out;
}

}  // namespace wavrell::test
