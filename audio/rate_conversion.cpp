#include "audio/rate_conversion.h"
#include "common/work_progress.h"

#include "audio/sample_narrowing.h"
#include "audio/wav_file.h"
#include "common/errors.h"
#include "common/side_by_side.h"

#include <soxr.h>

#include <algorithm>
#include <limits>
#include <memory>
#include <thread>
#include <type_traits>
#include <vector>

namespace wavrell {

namespace {

constexpr size_t kInBlock = size_t(1) << 16;   // input samples per call
constexpr size_t kOutBlock = size_t(1) << 16;  // room for output samples per call
// From this many samples (all channels) on, two channels are converted at
// once.
constexpr uint64_t kTwoThreadSamples = uint64_t(1) << 18;

[[noreturn]] void fail_convert(const TWav& wav, int32_t rate, const QString& what) {
    throw EFileError(QStringLiteral("Cannot convert \"%1\" from %2 Hz to %3 Hz: %4")
                         .arg(wav.filename())
                         .arg(wav.sampfreq())
                         .arg(rate)
                         .arg(what));
}

struct SoxrDelete {
    void operator()(soxr_t s) const { soxr_delete(s); }
};
using Resampler = std::unique_ptr<std::remove_pointer_t<soxr_t>, SoxrDelete>;

bool stopped(const std::atomic<bool>* stop) { return stop && stop->load(std::memory_order_relaxed); }

/// Converts one channel into `out`, sized `length`; false when stopped.
/// Raises the resampler's error text.
bool convert_row(const TWav& wav, int32_t rate, const TSampleRow& in, TSampleRow& out, size_t length,
                 const std::atomic<bool>* stop, TWorkProgress* progress) {
    soxr_error_t error = nullptr;
    const soxr_io_spec_t io = soxr_io_spec(SOXR_INT16_I, SOXR_FLOAT32_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_VHQ, 0);
    // This thread only: the channels are spread over threads by the caller.
    const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
    Resampler r(soxr_create(double(wav.sampfreq()), double(rate), 1, &error, &io, &quality, &runtime));
    if (error || !r) fail_convert(wav, rate, QString::fromUtf8(soxr_strerror(error)));

    {
        const TUnfilledGrowth unfilled;
        out.resize(length);
    }
    std::vector<float> buf(kOutBlock);
    size_t ip = 0, op = 0;
    for (;;) {
        if (stopped(stop)) return false;
        // Past the last input sample, no input tells the resampler to
        // give out what it still holds.
        const size_t ilen = std::min(kInBlock, in.size() - ip);
        size_t idone = 0, odone = 0;
        error = soxr_process(r.get(), ilen ? in.data() + ip : nullptr, ilen, &idone, buf.data(), buf.size(), &odone);
        if (error) fail_convert(wav, rate, QString::fromUtf8(soxr_strerror(error)));
        const size_t take = std::min(odone, length - op);
        for (size_t i = 0; i < take; ++i) out[op + i] = narrow_real(buf[i]);
        op += take;
        ip += idone;
        if (progress) progress->add(int64_t(idone));
        if (ilen == 0 && odone == 0) break;
    }
    // The resampler gives the exact length or a frame less; the rest is
    // silence.
    std::fill(out.begin() + ptrdiff_t(op), out.end(), int16_t(0));
    return true;
}

}  // namespace

int64_t converted_length(int64_t frames, int32_t from, int32_t to) {
    const __int128 p = __int128(frames) * to;
    int64_t q = int64_t(p / from);
    const __int128 twice_rest = 2 * (p % from);
    if (twice_rest > from || (twice_rest == from && (q & 1))) ++q;
    return q;
}

bool convert_rate(TWav& wav, int32_t rate, const std::atomic<bool>* stop, TWorkProgress* progress) {
    if (wav.sampfreq() == rate) return true;
    if (rate <= 0 || wav.sampfreq() <= 0)
        fail_convert(wav, rate, QStringLiteral("a sampling rate must be above 0 Hz"));
    const int64_t length = converted_length(wav.nsamples(), wav.sampfreq(), rate);
    if (length > std::numeric_limits<int32_t>::max())
        fail_convert(wav, rate,
                     QStringLiteral("%1 samples per channel would be more than the sample store takes").arg(length));

    TWavSamples16& rows = wav.samples();
    if (progress) progress->start(int64_t(wav.nsamples()) * int64_t(rows.size()));
    std::atomic<size_t> next{0};
    std::atomic<bool> halted{false};
    const auto work = [&] {
        for (size_t c; !halted && (c = next.fetch_add(1)) < rows.size();) {
            TSampleRow out;
            if (!convert_row(wav, rate, rows[c], out, size_t(length), stop, progress)) {
                halted = true;
                return;
            }
            // The old row goes at once: only one channel is ever held twice
            // per thread.
            TSampleRow().swap(rows[c]);
            rows[c].swap(out);
        }
    };
    if (rows.size() >= 2 && uint64_t(wav.nsamples()) * rows.size() >= kTwoThreadSamples &&
        std::thread::hardware_concurrency() >= 2)
        side_by_side(work, work);
    else
        work();
    if (halted) {
        wav.setNsamples(0);
        return false;
    }
    wav.setSampfreq(rate);
    wav.setNsamples(int32_t(length));
    return true;
}

}  // namespace wavrell
