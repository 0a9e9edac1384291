#pragma once

#include <QByteArray>

namespace wavrell {

class TWorkspace;

/// The levels of both slots as one JSON array (UTF-8, indented): an object
/// per slot, null for a slot without samples, with the fields file (the
/// file's name as opened), rate (Hz), channels, frames, crest_db, rms_dbfs,
/// peak_dbfs, lufs_i, lra_lu, lufs_s_max, true_peak_dbtp and factor. Levels
/// are the file's own, before any factor, unrounded; null where a value
/// does not exist (a zero level has no dB value; loudness that was not
/// measured or is not measurable). factor is the factor in force (filefactor).
QByteArray levels_json(const TWorkspace& ws);

}  // namespace wavrell
