#pragma once

#include <QString>

#include <sys/types.h>

namespace wavrell {

// Sound files are read from regular files only: a named pipe without a
// writer blocks whoever opens it, a device can be endless, a socket cannot be
// opened at all. These checks only look at the file (stat, symbolic links
// followed); they never open it, so they never block.

/// What a file of this stat mode is when it is not a regular file, as the
/// reason of an error message ("it is a named pipe (FIFO), not a file");
/// for a directory the system's text ("Is a directory"); empty for a regular
/// file.
QString not_a_file_reason(mode_t mode);

/// The name (see native_file_name) is a regular file or a symbolic link to
/// one. Any thread.
bool is_regular_file(const QString& name);

/// Raises EFileError "Cannot open "name": reason" unless the name is a
/// regular file: the system's reason when it cannot be looked at (missing,
/// no permission), else what it is. Any thread.
void check_regular_file(const QString& name);

}  // namespace wavrell
