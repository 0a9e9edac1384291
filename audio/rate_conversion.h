#pragma once

#include <atomic>
#include <cstdint>

namespace wavrell {

class TWorkProgress;

class TWav;

/// Number of frames that `frames` frames at `from` Hz become at `to` Hz:
/// frames × to / from, rounded half to even (exact integer arithmetic).
int64_t converted_length(int64_t frames, int32_t from, int32_t to);

/// Converts the samples of `wav` to `rate` Hz with libsoxr at its very high
/// quality (linear phase); the converted samples are rounded to 16 bits
/// with narrow_real (halves to even, saturated), like every real sample the
/// readers take. The store then has converted_length frames at `rate`.
/// Does nothing when the store is already at `rate`.
///
/// Channels are converted one by one, by two threads side by side for a
/// long file, and each channel's old row is freed as soon as its new one is
/// done. Returns false when *stop is set before the conversion has ended:
/// the store is then left without samples (nsamples 0). Raises EFileError
/// naming the store's file when the rates cannot be converted or the result
/// would not fit the store. Any thread (the store is its caller's alone
/// meanwhile).
/// `progress`, when given, counts the input samples of all channels taken.
bool convert_rate(TWav& wav, int32_t rate, const std::atomic<bool>* stop = nullptr, TWorkProgress* progress = nullptr);

}  // namespace wavrell
