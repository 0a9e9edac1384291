#include "shell/version_file.h"

namespace wavrell {

namespace {
bool is_break(QChar c) { return c == QLatin1Char('\r') || c == QLatin1Char('\n'); }

QString take_line(const QString& text, qsizetype& at) {
    const qsizetype start = at;
    while (at < text.size() && !is_break(text[at])) ++at;
    return text.mid(start, at - start);
}

void skip_breaks(const QString& text, qsizetype& at) {
    while (at < text.size() && is_break(text[at])) ++at;
}
}  // namespace

TVersionFile parse_version_file(const QString& text) {
    TVersionFile f;
    qsizetype at = 0;
    f.newversionstr = take_line(text, at);
    skip_breaks(text, at);
    f.downloadurl = take_line(text, at);
    skip_breaks(text, at);
    take_line(text, at);
    skip_breaks(text, at);
    f.usermessage = text.mid(at);
    return f;
}

QString trim_blanks(const QString& text) {
    qsizetype b = 0, e = text.size();
    while (b < e && text[b].unicode() <= 0x20) ++b;
    while (e > b && text[e - 1].unicode() <= 0x20) --e;
    return text.mid(b, e - b);
}

}  // namespace wavrell
