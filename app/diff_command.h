#pragma once

#include <QString>

#include <cstdio>

namespace wavrell {

/// --diff FILE1 FILE2 [--json]: reads both files whole (file 2 converted to
/// file 1's rate), lines file 2 up with file 1 and prints the figures of
/// the null test as the window's "Difference:" line, or with json one JSON
/// object. Returns the exit code: 0; 2 when the files cannot be aligned or
/// do not overlap; 1 for a file that cannot be read (named), different
/// channel counts (both named) or no memory.
int run_diff(const QString& file1, const QString& file2, bool json, FILE* out, FILE* err);

}  // namespace wavrell
