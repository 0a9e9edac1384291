#include "workspace/loudness.h"

#include "audio/wav_file.h"
#include "common/parallel_jobs.h"

#include <ebur128.h>

#include <QFileInfo>

#include <algorithm>
#include <atomic>
#include <array>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <numbers>
#include <optional>
#include <utility>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

namespace wavrell {

namespace {

// What libebur128 accepts (ebur128_init refuses anything else).
constexpr int kMaxChannels = 64;
constexpr int32_t kMinRate = 16;
constexpr int32_t kMaxRate = 2822400;

/// Energy (channel-weighted mean square) of the absolute gate, -70 LUFS:
/// loudness = 10 log10(energy) - 0.691.
const double kAbsoluteGate = std::pow(10.0, (-70.0 + 0.691) / 10.0);

double energy_of(double lufs) { return std::isfinite(lufs) ? std::pow(10.0, (lufs + 0.691) / 10.0) : 0.0; }
double lufs_of(double energy) { return 10.0 * std::log10(energy) - 0.691; }

/// Frames fed ahead of each stretch measured for its true peak: more than
/// the interpolator's delay line (13 frames at 4x, 25 at 2x), so that its
/// outputs inside the stretch are those of one pass over the file.
constexpr int64_t kPeakLead = 32;

/// Frames of a block of the true-peak measurement (see peak_job).
constexpr int64_t kPeakBlock = 64;

/// The largest gain of libebur128's true-peak interpolator at a rate: the
/// sum of the magnitudes of the coefficients of its costliest phase, as
/// the library builds them (49 taps, a Hann-windowed sinc, 4x below 96 kHz,
/// 2x below 192 kHz; coefficients of magnitude up to 1e-6 left out). No
/// output of the interpolator exceeds this times the largest input among
/// the frames it depends on. Empty where the library does not interpolate
/// (the true peak there is the sample peak, and no bound is taken).
std::optional<double> true_peak_gain(int32_t rate) {
    const int factor = rate < 96000 ? 4 : rate < 192000 ? 2 : 0;
    if (factor == 0) return std::nullopt;
    constexpr int kTaps = 49;
    std::vector<double> sums(size_t(factor), 0.0);
    for (int j = 0; j < kTaps; ++j) {
        const double m = double(j) - double(kTaps - 1) / 2.0;
        double c = 1.0;
        if (std::fabs(m) > 0.000001) c = std::sin(m * std::numbers::pi / factor) / (m * std::numbers::pi / factor);
        c *= 0.5 * (1 - std::cos(2 * std::numbers::pi * j / (kTaps - 1)));
        if (std::fabs(c) > 0.000001) sums[size_t(j % factor)] += std::fabs(c);
    }
    // A margin for the library's single-precision arithmetic.
    return *std::max_element(sums.begin(), sums.end()) * 1.001;
}

#if defined(__x86_64__) && defined(__GNUC__)
__attribute__((target("avx"))) void zero_upper_halves() { _mm256_zeroupper(); }
#endif

/// libebur128 is built for plain SSE2. After AVX code on the same thread
/// (the level measurement with the range summaries leaves the upper halves
/// of the vector registers in use), such code ran four times slower here;
/// clearing them first costs one instruction.
void prepare_for_sse_code() {
#if defined(__x86_64__) && defined(__GNUC__)
    if (__builtin_cpu_supports("avx")) zero_upper_halves();
#endif
}

struct StateDeleter {
    void operator()(ebur128_state* s) const { ebur128_destroy(&s); }
};
using State = std::unique_ptr<ebur128_state, StateDeleter>;

}  // namespace

std::vector<int> loudness_channel_types(uint32_t channelmask, int nchans) {
    constexpr uint32_t kKnownBits = 0x3FFFF;  // front left … top back right
    if ((channelmask & kKnownBits) == 0 || nchans <= 0) return {};
    const bool sides = (channelmask & 0x600) != 0;
    std::vector<int> types;
    for (int bit = 0; bit < 18 && int(types.size()) < nchans; ++bit) {
        if (!(channelmask & (1u << bit))) continue;
        switch (bit) {
            case 0: types.push_back(EBUR128_LEFT); break;
            case 1: types.push_back(EBUR128_RIGHT); break;
            case 2: types.push_back(EBUR128_CENTER); break;
            case 3: types.push_back(EBUR128_UNUSED); break;  // low frequency
            case 4: types.push_back(sides ? EBUR128_Mp135 : EBUR128_LEFT_SURROUND); break;
            case 5: types.push_back(sides ? EBUR128_Mm135 : EBUR128_RIGHT_SURROUND); break;
            case 6: types.push_back(EBUR128_MpSC); break;  // front left of centre
            case 7: types.push_back(EBUR128_MmSC); break;
            case 8: types.push_back(EBUR128_Mp180); break;  // back centre
            case 9: types.push_back(EBUR128_Mp090); break;  // side left
            case 10: types.push_back(EBUR128_Mm090); break;
            case 11: types.push_back(EBUR128_Tp000); break;  // top centre
            case 12: types.push_back(EBUR128_Up030); break;
            case 13: types.push_back(EBUR128_Up000); break;
            case 14: types.push_back(EBUR128_Um030); break;
            case 15: types.push_back(EBUR128_Up135); break;
            case 16: types.push_back(EBUR128_Up180); break;
            case 17: types.push_back(EBUR128_Um135); break;
        }
    }
    // Channels the mask leaves without a position: a main channel of
    // unknown direction.
    while (int(types.size()) < nchans) types.push_back(EBUR128_CENTER);
    return types;
}

struct TLoudnessMeter::Work {
    const TWav& wav;
    std::function<void()> check;
    int nch = 0;
    int64_t n = 0;  // frames every channel's row holds
    int32_t sf = 0;
    bool measurable = false;
    std::vector<int> types;

    // Results of the jobs, each written by one job only.
    double integrated = -HUGE_VAL;
    double range = 0;
    bool range_blocks = false;  // a 3 s block reached the absolute gate
    double shortterm_max = 0;   // energy; 0: no reading reached the gate
    std::vector<int64_t> piece_starts;  // true-peak pieces, and n at the end
    std::optional<double> peak_gain;    // true_peak_gain of the rate
    std::vector<double> piece_peaks;
    std::atomic<int64_t> gated{0};  // frames the gating job has taken in

    Work(const TWav& w, std::function<void()> c) : wav(w), check(std::move(c)) {
        nch = std::min<int>(wav.nchans(), int(wav.samples().size()));
        n = nch > 0 ? wav.nsamples() : 0;
        for (int c = 0; c < nch; ++c) n = std::min<int64_t>(n, int64_t(wav.samples()[size_t(c)].size()));
        sf = wav.sampfreq();
        measurable = n > 0 && nch > 0 && nch <= kMaxChannels && sf >= kMinRate && sf <= kMaxRate;
        if (!measurable) return;
        types = loudness_channel_types(wav.channelmask(), nch);
        peak_gain = true_peak_gain(sf);
        // Pieces of at least 10 s, at most 32 of them: fine enough to share
        // out among the threads, few enough that their lead-ins cost nothing.
        const int64_t pieces = std::clamp<int64_t>(n / (int64_t(10) * sf), 1, 32);
        for (int64_t p = 0; p < pieces; ++p) piece_starts.push_back(n * p / pieces);
        piece_starts.push_back(n);
        piece_peaks.assign(size_t(pieces), 0.0);
    }

    void poll() const {
        if (check) check();
    }

    [[noreturn]] void out_of_memory() const {
        throw ELoudnessError(QStringLiteral("Cannot measure the loudness of \"%1\": not enough memory")
                                 .arg(QFileInfo(wav.filename()).fileName()));
    }

    State make_state(int mode) const {
        State s(ebur128_init(unsigned(nch), static_cast<unsigned long>(sf), mode));
        if (!s) out_of_memory();
        return s;
    }

    /// Frames first … first + count − 1 of every channel, interleaved.
    void interleave(int64_t first, int64_t count, std::vector<int16_t>& buf) const {
        buf.resize(size_t(count * nch));
        for (int c = 0; c < nch; ++c) {
            const int16_t* row = wav.samples()[size_t(c)].data() + first;
            int16_t* out = buf.data() + c;
            for (int64_t i = 0; i < count; ++i) out[i * nch] = row[i];
        }
    }

    void feed(ebur128_state* s, int64_t first, int64_t count, std::vector<int16_t>& buf) const {
        interleave(first, count, buf);
        if (ebur128_add_frames_short(s, buf.data(), size_t(count)) != EBUR128_SUCCESS) out_of_memory();
    }

    /// Gated loudness and loudness range from libebur128's own blocks; the
    /// short-term loudness every 100 ms from the energies of the last 30
    /// steps of 100 ms. (Asking the library for the 3 s reading itself at
    /// every step would add up 3 s of samples each time: thirty times the
    /// work of all the rest.)
    void gating_job() {
        prepare_for_sse_code();
        State s = make_state(EBUR128_MODE_I | EBUR128_MODE_LRA);
        for (size_t c = 0; c < types.size(); ++c) ebur128_set_channel(s.get(), unsigned(c), types[c]);
        // One step: the frames of the library's 100 ms window readout.
        const int64_t step = int64_t(sf) * 100 / 1000;
        std::array<double, 30> last{};  // energies of the last 30 steps, zero before the start
        std::vector<int16_t> buf;
        int64_t pos = 0;
        for (int64_t k = 1; pos + step <= n; ++k, pos += step) {
            poll();
            gated.store(pos, std::memory_order_relaxed);
            feed(s.get(), pos, step, buf);
            double l = -HUGE_VAL;
            ebur128_loudness_window(s.get(), 100, &l);
            last[size_t(k % 30)] = energy_of(l);
            // Only full 3 s windows: one reaching back before the start
            // would count silence that is not in the file.
            if (k < 30) continue;
            double sum = 0;
            for (double e : last) sum += e;
            const double e = sum / 30.0;
            if (e < kAbsoluteGate) continue;
            shortterm_max = std::max(shortterm_max, e);
            // The loudness range takes a 3 s block every second from 3 s on.
            if (k >= 30 && k % 10 == 0) range_blocks = true;
        }
        // The rest, which may still complete one of the library's blocks.
        if (pos < n) feed(s.get(), pos, n - pos, buf);
        ebur128_loudness_global(s.get(), &integrated);
        ebur128_loudness_range(s.get(), &range);
    }

    /// Frames first … first + count − 1 of every channel, interleaved,
    /// with frames before the file's start read as silence.
    void feed_from(ebur128_state* s, int64_t first, int64_t count, std::vector<int16_t>& buf) const {
        if (first < 0) {
            const int64_t zeros = std::min(-first, count);
            buf.assign(size_t(zeros * nch), 0);
            if (ebur128_add_frames_short(s, buf.data(), size_t(zeros)) != EBUR128_SUCCESS) out_of_memory();
            first += zeros;
            count -= zeros;
        }
        if (count > 0) feed(s, first, count, buf);
    }

    /// Largest true peak of the frames begin … end − 1 as one pass over the
    /// file sees it: the kPeakLead frames before them (silence before the
    /// file's start) set the interpolator's delay line, and only the peaks
    /// that libebur128 reports for the frames themselves count.
    double block_peak(ebur128_state* s, int64_t begin, int64_t end, std::vector<int16_t>& buf) const {
        feed_from(s, begin - kPeakLead, kPeakLead, buf);
        feed(s, begin, end - begin, buf);
        double peak = 0;
        for (int c = 0; c < nch; ++c) {
            double v = 0;
            ebur128_prev_true_peak(s, unsigned(c), &v);
            peak = std::max(peak, v);
        }
        return peak;
    }

    /// Largest true peak of piece p. libebur128's interpolator is the
    /// costliest part of the whole measurement, and the largest true peak
    /// lies where the samples are large: the piece is cut into blocks, and
    /// a block goes through the interpolator only when its largest sample
    /// magnitude (over the block and the frames its outputs depend on)
    /// times the interpolator's gain bound could still exceed the largest
    /// true peak found so far, the largest blocks first. The result is that
    /// of one pass over the piece.
    void peak_job(size_t p) {
        prepare_for_sse_code();
        State s = make_state(EBUR128_MODE_TRUE_PEAK);
        // Peaks need no K-weighting: unused channels skip the filter.
        for (int c = 0; c < nch; ++c) ebur128_set_channel(s.get(), unsigned(c), EBUR128_UNUSED);
        const int64_t begin = piece_starts[p], end = piece_starts[p + 1];
        std::vector<int16_t> buf;
        if (!peak_gain) {
            // No bound known for this rate: the whole piece, 100 ms at a time.
            double peak = 0;
            const int64_t chunk = std::max<int64_t>(1, sf / 10);
            for (int64_t pos = begin; pos < end; pos += chunk) {
                poll();
                peak = std::max(peak, block_peak(s.get(), pos, std::min(end, pos + chunk), buf));
            }
            piece_peaks[p] = peak;
            return;
        }
        poll();
        const int64_t nblocks = (end - begin + kPeakBlock - 1) / kPeakBlock;
        // Largest magnitude of each block's own frames, then with the
        // kPeakLead frames before it (at most the whole block before).
        std::vector<int32_t> own(static_cast<size_t>(nblocks), 0);
        for (int c = 0; c < nch; ++c) {
            const int16_t* row = wav.samples()[size_t(c)].data();
            for (int64_t b = 0; b < nblocks; ++b) {
                const int64_t from = begin + b * kPeakBlock, to = std::min(end, from + kPeakBlock);
                int32_t m = own[size_t(b)];
                for (int64_t i = from; i < to; ++i) m = std::max(m, std::abs(int32_t(row[i])));
                own[size_t(b)] = m;
            }
        }
        int32_t before = 0;  // the frames before the piece
        if (begin > 0)
            for (int c = 0; c < nch; ++c) {
                const int16_t* row = wav.samples()[size_t(c)].data();
                for (int64_t i = std::max<int64_t>(0, begin - kPeakLead); i < begin; ++i)
                    before = std::max(before, std::abs(int32_t(row[i])));
            }
        std::vector<std::pair<int32_t, int64_t>> reach(static_cast<size_t>(nblocks));
        for (int64_t b = 0; b < nblocks; ++b)
            reach[size_t(b)] = {std::max(own[size_t(b)], b > 0 ? own[size_t(b - 1)] : before), b};
        std::sort(reach.begin(), reach.end(), std::greater<>());
        double peak = 0;
        int64_t done = 0;
        for (const auto& [magnitude, b] : reach) {
            if (*peak_gain * magnitude / 32768.0 < peak) break;  // no later block can reach it either
            if (++done % 16 == 0) poll();
            const int64_t from = begin + b * kPeakBlock;
            peak = std::max(peak, block_peak(s.get(), from, std::min(end, from + kPeakBlock), buf));
        }
        piece_peaks[p] = peak;
    }
};

TLoudnessMeter::TLoudnessMeter(const TWav& wav, std::function<void()> check)
    : w(std::make_unique<Work>(wav, std::move(check))) {}

TLoudnessMeter::~TLoudnessMeter() = default;

std::vector<std::function<void()>> TLoudnessMeter::jobs() {
    std::vector<std::function<void()>> out;
    if (!w->measurable) return out;
    Work* work = w.get();
    out.push_back([work] { work->gating_job(); });
    for (size_t p = 0; p < work->piece_peaks.size(); ++p) out.push_back([work, p] { work->peak_job(p); });
    return out;
}

double TLoudnessMeter::progress() const {
    return w->n > 0 ? double(w->gated.load(std::memory_order_relaxed)) / double(w->n) : 0.0;
}

TLoudness TLoudnessMeter::result() const {
    TLoudness r;
    r.measured = true;
    if (!w->measurable) {
        // Rates and channel counts beyond libebur128 have no loudness; a
        // file without samples has no peak either.
        return r;
    }
    if (std::isfinite(w->integrated)) r.integrated = w->integrated;
    if (w->range_blocks) r.range = w->range;
    if (w->shortterm_max > 0) r.shortterm_max = lufs_of(w->shortterm_max);
    r.true_peak = *std::max_element(w->piece_peaks.begin(), w->piece_peaks.end());
    return r;
}

TLoudness loudness_scaled(const TLoudness& l, double factor) {
    TLoudness r = l;
    const double db = 20 * std::log10(factor);
    if (r.integrated) *r.integrated += db;
    if (r.shortterm_max) *r.shortterm_max += db;
    if (r.true_peak) *r.true_peak *= factor;
    return r;
}

TLoudness measure_loudness(const TWav& wav, std::function<void()> check) {
    TLoudnessMeter meter(wav, std::move(check));
    run_parallel_jobs(meter.jobs(), compute_threads());
    return meter.result();
}

}  // namespace wavrell
