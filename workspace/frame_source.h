#pragma once

#include <cstdint>

namespace wavrell {

class TWav;

/// Frames of one signal on the shared time line, as floats in full-scale
/// units (1.0 is full scale): a file as the window places it, or anything
/// else drawn on that time line. Reading is const and may happen on several
/// threads at once.
class TFrameSource {
public:
    virtual ~TFrameSource() = default;
    virtual double sampfreq() const = 0;
    virtual int channels() const = 0;
    /// The time line frames [first(), end()) hold the signal; before and
    /// after it reads as silence.
    virtual int64_t first() const = 0;
    virtual int64_t end() const = 0;
    /// Frames [from, from + n) of channel `channel` into out, or with
    /// channel −1 the mean of all channels (a full-scale sine in every
    /// channel stays full scale). Frames outside [first(), end()) are 0.
    virtual void read(int channel, int64_t from, int n, float* out) const = 0;
};

/// A file's store on the time line: time line frame k is the file's frame
/// k + offset, scaled by `factor` (e.g. −1 for a negated file). The store
/// must outlive the source and keep its samples meanwhile.
class TWavFrameSource : public TFrameSource {
public:
    explicit TWavFrameSource(const TWav& wav, int64_t offset = 0, double factor = 1.0);
    double sampfreq() const override;
    int channels() const override;
    int64_t first() const override { return -foffset; }
    int64_t end() const override;
    void read(int channel, int64_t from, int n, float* out) const override;

private:
    const TWav& fwav;
    int64_t foffset;
    float fscale;
};

}  // namespace wavrell
