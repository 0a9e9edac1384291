#pragma once

#include <QString>

namespace wavrell {

/// The fields of a version file: line 1 the newest version, line 2 the
/// download address, line 3 skipped, the rest (line breaks kept) the message
/// for the user. Any run of CR and LF characters separates two fields, so
/// blank lines between them do not count.
struct TVersionFile {
    QString newversionstr;
    QString downloadurl;
    QString usermessage;
};

TVersionFile parse_version_file(const QString& text);

/// Text without leading and trailing blanks and control characters.
QString trim_blanks(const QString& text);

}  // namespace wavrell
