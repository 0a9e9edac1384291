#pragma once

#include "common/errors.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

namespace wavrell {

class TFrameSource;

/// A transform of that size could not be planned.
WAVRELL_DECLARE_ERROR(ESpectrogramError);

inline constexpr int kFftSizeDefault = 4096;
inline constexpr int kFftSizeMin = 1024;
inline constexpr int kFftSizeMax = 16384;
/// Lowest frequency of a logarithmic frequency axis, Hz.
inline constexpr double kLogAxisLowHz = 20;
/// Level of a bin without any power (digital silence), dBFS.
inline constexpr float kSilenceDb = -300;

/// How pictures and spectra are made.
struct TSpectrogramSettings {
    int fftsize = kFftSizeDefault;  ///< a power of two from kFftSizeMin to kFftSizeMax
    bool logfreq = false;           ///< logarithmic frequency axis
    bool operator==(const TSpectrogramSettings&) const = default;
};

/// The frequency axis of a picture `height` rows high: row 0 at the top is
/// the highest frequency (half the sampling rate), the bottom edge 0 Hz
/// (linear) or kLogAxisLowHz (logarithmic).
struct TFrequencyAxis {
    double nyquist = 0;
    bool log = false;
    int height = 0;
    double low() const { return log ? kLogAxisLowHz : 0.0; }
    /// Frequency at a vertical position (0 = top edge, height = bottom edge).
    double hz_at(double y) const;
    /// Vertical position of a frequency (may lie outside 0 … height).
    double y_of(double hz) const;
};

/// Levels in dBFS, one column per pixel column and one value per pixel row
/// (row 0 at the top). A column without any of the signal beneath it holds
/// NaN.
struct TSpectrogramPicture {
    int width = 0, height = 0;
    std::vector<float> db;  ///< column by column: db[x * height + y]
    float at(int x, int y) const { return db[size_t(x) * size_t(height) + size_t(y)]; }
    size_t bytes() const { return db.size() * sizeof(float); }
};

/// The Hann-windowed power spectrum of frames through FFTW's real
/// transform (single precision). Plans are made once per size and shared;
/// each object has its own buffers, so that objects on several threads
/// transform side by side.
class TPowerSpectrum {
public:
    /// Raises ESpectrogramError for a size that cannot be planned.
    explicit TPowerSpectrum(int fftsize);
    ~TPowerSpectrum();
    TPowerSpectrum(const TPowerSpectrum&) = delete;
    TPowerSpectrum& operator=(const TPowerSpectrum&) = delete;
    int size() const { return fn; }
    int bins() const { return fn / 2 + 1; }
    /// Adds the power of each bin of the windowed frames [from, from +
    /// size()) of `channel` (−1: the channel mean) to acc (bins() values).
    void add(const TFrameSource& source, int channel, int64_t from, double* acc);

private:
    struct Buffers;
    int fn;
    std::unique_ptr<Buffers> fb;
};

/// Levels in dBFS per bin of `count` summed power spectra of size `fftsize`
/// (acc as TPowerSpectrum::add leaves it). The window's gain is corrected
/// and each bin holds the power of itself and its two neighbours (the main
/// lobe of the Hann window), so that a sine of amplitude A reads 20 log10 A
/// at its bin, within 0.1 dB wherever it falls between two bins.
std::vector<float> bin_levels(const std::vector<double>& acc, int count, int fftsize);

/// The level of a band of bins as a picture shows it: the strongest bin
/// whose centre lies in [lohz, hihz), or where the band is narrower than a
/// bin, the levels of the two bins around its centre interpolated.
float band_level(const std::vector<float>& levels, double binhz, double lohz, double hihz);

/// Columns of the spectrogram of `source` for the time line view [t0, t1)
/// seconds across `width` pixel columns, `height` rows on `axis`. Each column
/// averages the power of the transforms beneath it: where a column spans
/// more frames than a transform, transforms side by side cover it (so a
/// whole file at full view is one pass over its samples); a narrower column
/// takes one transform centred on it. Columns are made by up to `threads`
/// threads. Returns false, with `out` incomplete, when *cancel is set.
bool spectrogram_picture(const TFrameSource& source, int channel, double t0, double t1, int width,
                         const TFrequencyAxis& axis, int fftsize, TSpectrogramPicture& out,
                         const std::atomic<bool>* cancel = nullptr, unsigned threads = 1);

/// The average spectrum (bin_levels) of the time line frames [from, to) of
/// `source`: transforms side by side over the range (one centred transform
/// for a shorter range), or with `most` > 0 at most that many transforms
/// spread evenly over it (an estimate of a long range's spectrum that takes
/// the same time however long the range). Empty when the range holds no
/// frame of the source or *cancel is set.
std::vector<float> average_spectrum(const TFrameSource& source, int channel, int64_t from, int64_t to, int fftsize,
                                    const std::atomic<bool>* cancel = nullptr, int most = 0);

}  // namespace wavrell
