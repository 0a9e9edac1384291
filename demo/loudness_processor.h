#pragma once

#include "demo/demo_song.h"

namespace wavrell {

/// The same music made loud the way a loudness-driven master is: a
/// stereo-linked compressor, make-up gain, a look-ahead peak limiter and a
/// gentle saturation, its highest peak at -0.1 dBFS. Works offline on the
/// whole signal, so the result is not delayed against the input.
TStereo make_loud(const TStereo& in);

}  // namespace wavrell
