#include "workspace/frame_source.h"

#include "audio/wav_file.h"

#include <algorithm>

namespace wavrell {

TWavFrameSource::TWavFrameSource(const TWav& wav, int64_t offset, double factor)
    : fwav(wav), foffset(offset), fscale(float(factor / 32768.0)) {}

double TWavFrameSource::sampfreq() const { return fwav.sampfreq(); }

int TWavFrameSource::channels() const { return fwav.nchans(); }

int64_t TWavFrameSource::end() const { return int64_t(fwav.nsamples()) - foffset; }

void TWavFrameSource::read(int channel, int64_t from, int n, float* out) const {
    std::fill(out, out + n, 0.0f);
    const int64_t frames = fwav.nsamples();
    const int64_t a = std::max<int64_t>(from + foffset, 0), b = std::min<int64_t>(from + foffset + n, frames);
    if (a >= b || fwav.nchans() <= 0) return;
    float* dst = out + (a - from - foffset);
    const int64_t len = b - a;
    const auto& rows = fwav.samples();
    if (channel >= 0) {
        if (channel >= fwav.nchans()) return;
        const int16_t* src = rows[size_t(channel)].data() + a;
        for (int64_t i = 0; i < len; ++i) dst[i] = float(src[i]) * fscale;
        return;
    }
    for (int c = 0; c < fwav.nchans(); ++c) {
        const int16_t* src = rows[size_t(c)].data() + a;
        for (int64_t i = 0; i < len; ++i) dst[i] += float(src[i]);
    }
    const float s = fscale / float(fwav.nchans());
    for (int64_t i = 0; i < len; ++i) dst[i] *= s;
}

}  // namespace wavrell
