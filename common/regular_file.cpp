#include "common/regular_file.h"

#include "common/errors.h"
#include "common/native_file_name.h"

#include <cerrno>
#include <cstring>

#include <sys/stat.h>

namespace wavrell {

QString not_a_file_reason(mode_t mode) {
    if (S_ISREG(mode)) return {};
    if (S_ISDIR(mode)) return QString::fromLocal8Bit(std::strerror(EISDIR));
    const char* what = S_ISFIFO(mode)   ? "a named pipe (FIFO)"
                       : S_ISCHR(mode)  ? "a character device"
                       : S_ISBLK(mode)  ? "a block device"
                       : S_ISSOCK(mode) ? "a socket"
                                        : nullptr;
    if (!what) return QStringLiteral("it is not a regular file");
    return QStringLiteral("it is %1, not a file").arg(QLatin1String(what));
}

bool is_regular_file(const QString& name) {
    if (name.isEmpty()) return false;
    struct stat st {};
    return ::stat(native_file_name(name).constData(), &st) == 0 && S_ISREG(st.st_mode);
}

void check_regular_file(const QString& name) {
    struct stat st {};
    QString reason;
    if (::stat(native_file_name(name).constData(), &st) != 0)
        reason = QString::fromLocal8Bit(std::strerror(errno));
    else
        reason = not_a_file_reason(st.st_mode);
    if (!reason.isEmpty()) throw EFileError(QStringLiteral("Cannot open \"%1\": %2").arg(name, reason));
}

}  // namespace wavrell
