#include "common/native_file_name.h"

#include <cstdint>

namespace wavrell {

namespace {

constexpr char16_t kEscapeBase = 0xDC00;  // byte b >= 0x80 escapes to U+DC00 + b

bool is_escape(char16_t c) { return c >= kEscapeBase + 0x80 && c <= kEscapeBase + 0xFF; }

/// Length of the valid UTF-8 sequence that starts at p (n bytes left) and
/// its code point; 0 when the bytes there are not one (overlong forms,
/// encoded surrogates and values above U+10FFFF included).
int valid_sequence(const uint8_t* p, qsizetype n, char32_t& cp) {
    const uint8_t b = p[0];
    if (b < 0x80) {
        cp = b;
        return 1;
    }
    int len;
    uint8_t lo = 0x80, hi = 0xBF;  // allowed range of the second byte
    if (b >= 0xC2 && b <= 0xDF) {
        len = 2;
        cp = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
        len = 3;
        cp = b & 0x0F;
        if (b == 0xE0) lo = 0xA0;  // no overlong forms
        if (b == 0xED) hi = 0x9F;  // no surrogates
    } else if (b >= 0xF0 && b <= 0xF4) {
        len = 4;
        cp = b & 0x07;
        if (b == 0xF0) lo = 0x90;
        if (b == 0xF4) hi = 0x8F;  // nothing above U+10FFFF
    } else {
        return 0;
    }
    if (n < len) return 0;
    for (int k = 1; k < len; ++k) {
        const uint8_t c = p[k];
        if (c < (k == 1 ? lo : 0x80) || c > (k == 1 ? hi : 0xBF)) return 0;
        cp = (cp << 6) | (c & 0x3F);
    }
    return len;
}

}  // namespace

QString file_name_from_native(const QByteArray& bytes) {
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.constData());
    const qsizetype n = bytes.size();
    QString out;
    out.reserve(n);
    for (qsizetype i = 0; i < n;) {
        char32_t cp;
        const int len = valid_sequence(p + i, n - i, cp);
        if (len == 0) {
            out += QChar(char16_t(kEscapeBase + p[i]));
            ++i;
            continue;
        }
        if (cp >= 0x10000) {
            out += QChar(QChar::highSurrogate(cp));
            out += QChar(QChar::lowSurrogate(cp));
        } else {
            out += QChar(char16_t(cp));
        }
        i += len;
    }
    return out;
}

QByteArray native_file_name(const QString& name) {
    QByteArray out;
    out.reserve(name.size() * 3);
    const qsizetype n = name.size();
    qsizetype run = 0;  // start of the text not yet converted
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = name[i].unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < n && QChar::isLowSurrogate(name[i + 1].unicode())) {
            ++i;  // a pair, whatever its low half
            continue;
        }
        if (!is_escape(c)) continue;
        out += QStringView(name).mid(run, i - run).toUtf8();
        out += char(c - kEscapeBase);
        run = i + 1;
    }
    out += QStringView(name).mid(run).toUtf8();
    return out;
}

}  // namespace wavrell
