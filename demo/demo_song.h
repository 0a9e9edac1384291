#pragma once

#include <cstddef>
#include <vector>

namespace wavrell {

/// Sampling rate of the demo recordings in Hz.
constexpr int demo_rate = 44100;
/// Length of the demo recordings in samples per channel (20 s).
constexpr std::size_t demo_frames = std::size_t(20) * demo_rate;

/// A stereo signal in memory; values are fractions of full scale.
struct TStereo {
    std::vector<double> left, right;
    std::size_t size() const { return left.size(); }
};

/// The demo excerpt: a drum kit (kick, snare, hi-hat) at 110 beats per
/// minute, a plucked bass line and a chord pad in A minor, placed in stereo
/// with a small room, demo_frames long, its highest peak at -1 dBFS.
/// Deterministic: the same values on every call.
TStereo make_demo_song();

}  // namespace wavrell
