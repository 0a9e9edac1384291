#pragma once

#include <QString>

namespace wavrell {

class TProgId;

/// Carries the settings over to a new version on its first start. The
/// settings of a version live in their own folder,
/// <roaming>/<company>/<product>/<version>/ (TSetting). When that folder
/// does not exist yet, the newest older version's folder beside it is
/// copied to it with everything in it, so that the recent files, "Match by",
/// the window's place and the options stay as they were. Folder names are
/// compared as version numbers (0.10 is newer than 0.9); names that are no
/// version, and newer versions, are left alone. Once the folder exists,
/// nothing is copied again. Copied into a temporary folder and renamed into
/// place, so that programs started at once copy it once and never see half
/// of it. Returns the version copied from; empty when nothing was copied
/// (also when the roaming folder is not found or the copy fails).
QString adopt_older_settings(const TProgId& id);

}  // namespace wavrell
