#pragma once

#include <QByteArray>

namespace wavrell {

class TWorkspace;

/// The levels of both slots as one JSON array (UTF-8, indented): an object
/// per slot, null for a slot no file was loaded into (a file of 0 frames
/// has an object), with the fields file (the file's name as opened), rate
/// (Hz), channels, frames, crest_db, rms_dbfs, peak_dbfs, lufs_i, lra_lu,
/// lufs_s_max, true_peak_dbtp, stored_gain_db and factor. Levels are the
/// file's own, before any factor, unrounded (for a file stored scaled down,
/// with that scale taken out again; stored_gain_db is the scale, 0 for a
/// file within full scale); null where a value does not exist (a zero level
/// has no dB value; loudness that was not measured or is not measurable).
/// factor takes the file's own levels to those heard (reportfactor).
QByteArray levels_json(const TWorkspace& ws);

}  // namespace wavrell
