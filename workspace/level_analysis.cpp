#include "workspace/level_analysis.h"

#include "workspace/lanes_across.h"
#include "workspace/range_summary.h"

#include "audio/wav_file.h"
#include "common/errors.h"
#include "common/side_by_side.h"
#include "dsp/filter_section.h"

#include <algorithm>
#include <cmath>
#include <limits>

#ifdef __SSE2__
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

namespace wavrell {

namespace {

/// Block of sample i: the quotient times 10 in floating point, truncated.
/// Non-decreasing in i, which the segment search relies on.
inline int64_t block_of(int64_t i, double sf) { return static_cast<int64_t>(double(i) / sf * 10.0); }

/// The samples first..last (inclusive) that end with the first sample of
/// block k: what entry k of a row describes.
struct Segment {
    int64_t first;
    int64_t last;
    int64_t k;
};

/// Every segment of a file of n samples per channel; the samples after the
/// last one (the tail) belong to no segment.
std::vector<Segment> find_segments(int64_t n, double sf) {
    std::vector<Segment> segs;
    segs.reserve(size_t(std::max<double>(0.0, double(n) / sf * 10.0)) + 2);
    int64_t cur = 0;
    int64_t start = 0;
    for (;;) {
        // First i >= start whose block exceeds cur: estimated, then made exact
        // by evaluating the same floating-point expression as the rule.
        double guess = std::ceil(double(cur + 1) * sf / 10.0);
        int64_t i = guess >= double(n) ? n : std::max<int64_t>(start, int64_t(guess));
        while (i > start && block_of(i - 1, sf) > cur) --i;
        while (i < n && block_of(i, sf) <= cur) ++i;
        if (i >= n) break;
        const int64_t k = block_of(i, sf);
        segs.push_back({start, i, k});
        cur = k;
        start = i + 1;
    }
    return segs;
}

/// Sum of squares and extremes of s[0..n).
struct IntStats {
    int64_t sumsq = 0;
    int hi = 0;
    int lo = 0;
    int peak() const { return std::max(hi, -lo); }
};

IntStats int_stats(const int16_t* s, int64_t n) {
    int64_t acc = 0;
    int16_t hi = 0;
    int16_t lo = 0;
    int64_t i = 0;
#ifdef __SSE2__
    // Eight samples at a time: pairs of squares (at most 2^31, so taken as
    // unsigned) widened to 64 bits before they are added up.
    __m128i acc0 = _mm_setzero_si128(), acc1 = _mm_setzero_si128();
    __m128i vhi = _mm_setzero_si128(), vlo = _mm_setzero_si128();
    const __m128i zero = _mm_setzero_si128();
    for (; i + 8 <= n; i += 8) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
        const __m128i sq = _mm_madd_epi16(v, v);
        acc0 = _mm_add_epi64(acc0, _mm_unpacklo_epi32(sq, zero));
        acc1 = _mm_add_epi64(acc1, _mm_unpackhi_epi32(sq, zero));
        vhi = _mm_max_epi16(vhi, v);
        vlo = _mm_min_epi16(vlo, v);
    }
    alignas(16) int64_t a64[2];
    _mm_store_si128(reinterpret_cast<__m128i*>(a64), _mm_add_epi64(acc0, acc1));
    acc = a64[0] + a64[1];
    alignas(16) int16_t h[8], l[8];
    _mm_store_si128(reinterpret_cast<__m128i*>(h), vhi);
    _mm_store_si128(reinterpret_cast<__m128i*>(l), vlo);
    for (int k = 0; k < 8; ++k) {
        hi = std::max(hi, h[k]);
        lo = std::min(lo, l[k]);
    }
#endif
    for (; i < n; ++i) {
        const int32_t v = s[i];
        acc += v * v;
        hi = std::max(hi, s[i]);
        lo = std::min(lo, s[i]);
    }
    return {acc, hi, lo};
}

// ---------------------------------------------------------------- allpass

// Several stretches of the signal ("streams": each of the first two channels
// cut into lanes) run side by side, one vector element each, so that the
// one-sample recurrence of the filter no longer bounds the speed. A lane that
// starts inside the signal runs first over `warm` earlier samples from a zero
// state; the filter forgets its state geometrically (by |a1| per sample), so
// after the warm-up the lane's state agrees with the state of one
// continuous run to better than 1e-30 of the signal. The first lane starts at
// sample 0 from the reset state, exactly like one run.
struct Event {
    int64_t step;  // the running maximum is taken after this step
    double* dest;  // where it goes (maximum with what is there), or nowhere
};

struct Stream {
    const int16_t* row = nullptr;  // nullptr: an idle element
    int64_t valid = 0;             // positions 0..valid-1 have samples, others count as 0
    int64_t origin = 0;            // position of step 0
    std::vector<Event> events;
    size_t next = 0;
};

struct Coefficients {
    double a0, a1, b0, b1, gain;
};

// Lane engines: the running state of kCount side-by-side recurrences (z the
// filter state, m the largest |u| since the last flush) and one run over len
// steps, lane q reading its samples from p[q][0 … len − 1]. a0s x is the
// filter's a0 x (see run_streams_with). The vector engines read four samples
// of each lane at a time and turn them across in registers, so that one
// vector holds one step of several lanes.
#if defined(__x86_64__) && defined(__GNUC__)
#define WAVRELL_AVX2 1
#define WAVRELL_TARGET_AVX2 __attribute__((target("avx2")))
#endif

#ifdef __SSE2__
struct LanesSse2 {
    static constexpr int kCount = 8;
    __m128d z[kCount / 2];
    __m128d m[kCount / 2];
    void clear() {
        for (int r = 0; r < kCount / 2; ++r) z[r] = m[r] = _mm_setzero_pd();
    }
    void run(const int16_t* const* p, int64_t len, double a0s_, double a1s, double b1s) {
        const __m128d a0s = _mm_set1_pd(a0s_), a1 = _mm_set1_pd(a1s), b1 = _mm_set1_pd(b1s);
        const __m128d mask = _mm_castsi128_pd(_mm_set1_epi64x(std::numeric_limits<int64_t>::max()));
        for (int r = 0; r < kCount / 2; ++r) {
            __m128d zz = z[r], mm = m[r];
            const int16_t* pa = p[2 * r];
            const int16_t* pb = p[2 * r + 1];
            for (int64_t j = 0; j < len; ++j) {
                const __m128d x = _mm_setr_pd(double(pa[j]), double(pb[j]));
                const __m128d w = _mm_add_pd(_mm_mul_pd(x, a0s), _mm_mul_pd(a1, zz));
                const __m128d u = _mm_add_pd(w, _mm_mul_pd(b1, zz));
                zz = w;
                mm = _mm_max_pd(mm, _mm_and_pd(u, mask));
            }
            z[r] = zz;
            m[r] = mm;
        }
    }
    double take_max(int q) {
        alignas(16) double v[2];
        _mm_store_pd(v, m[q / 2]);
        const double out = v[q % 2];
        v[q % 2] = 0;
        m[q / 2] = _mm_load_pd(v);
        return out;
    }
};
#endif

#ifdef WAVRELL_AVX2
// Four values per register and four registers, so that four chains of the
// recurrence are in flight. No fused multiply-add: the same roundings as
// the filter step.
struct LanesAvx2 {
    static constexpr int kCount = 16;
    __m256d z[kCount / 4];
    __m256d m[kCount / 4];
    WAVRELL_TARGET_AVX2 void clear() {
        for (int r = 0; r < kCount / 4; ++r) z[r] = m[r] = _mm256_setzero_pd();
    }
    WAVRELL_TARGET_AVX2 void run(const int16_t* const* p, int64_t len, double a0s_, double a1s, double b1s) {
        const __m256d a0s = _mm256_set1_pd(a0s_), a1 = _mm256_set1_pd(a1s), b1 = _mm256_set1_pd(b1s);
        const __m256d mask = _mm256_castsi256_pd(_mm256_set1_epi64x(std::numeric_limits<int64_t>::max()));
        __m256d zz[kCount / 4], mm[kCount / 4];
        for (int r = 0; r < kCount / 4; ++r) {
            zz[r] = z[r];
            mm[r] = m[r];
        }
#define WAVRELL_STEP(r, x)                                                                   \
    do {                                                                                     \
        const __m256d w_ = _mm256_add_pd(_mm256_mul_pd((x), a0s), _mm256_mul_pd(a1, zz[r])); \
        const __m256d u_ = _mm256_add_pd(w_, _mm256_mul_pd(b1, zz[r]));                     \
        zz[r] = w_;                                                                          \
        mm[r] = _mm256_max_pd(mm[r], _mm256_and_pd(u_, mask));                               \
    } while (0)
        int64_t j = 0;
        for (; j + 4 <= len; j += 4)
            for (int r = 0; r < kCount / 4; ++r) {
                __m256d x[4];
                lanes_across4(p + 4 * r, j, x);
                for (int k = 0; k < 4; ++k) WAVRELL_STEP(r, x[k]);
            }
        for (; j < len; ++j)
            for (int r = 0; r < kCount / 4; ++r) {
                WAVRELL_STEP(r, lanes_across1(p + 4 * r, j));
            }
#undef WAVRELL_STEP
        for (int r = 0; r < kCount / 4; ++r) {
            z[r] = zz[r];
            m[r] = mm[r];
        }
    }
    WAVRELL_TARGET_AVX2 double take_max(int q) {
        alignas(32) double v[4];
        _mm256_store_pd(v, m[q / 4]);
        const double out = v[q % 4];
        v[q % 4] = 0;
        m[q / 4] = _mm256_load_pd(v);
        return out;
    }
};
#endif

/// Portable engine for machines without the vector units above.
struct LanesPlain {
    static constexpr int kCount = 8;
    double z[kCount];
    double m[kCount];
    void clear() {
        for (int q = 0; q < kCount; ++q) z[q] = m[q] = 0;
    }
    void run(const int16_t* const* p, int64_t len, double a0s, double a1, double b1) {
        for (int64_t j = 0; j < len; ++j)
            for (int q = 0; q < kCount; ++q) {
                const double w = double(p[q][j]) * a0s + a1 * z[q];
                const double u = w + b1 * z[q];
                z[q] = w;
                m[q] = std::max(m[q], std::fabs(u));
            }
    }
    double take_max(int q) {
        const double out = m[q];
        m[q] = 0;
        return out;
    }
};

// The largest |y| of a block follows from the largest |u| with
// u = w + b1 z and y = gain (u b0): both roundings are monotone in |u|, so
// |gain| (|b0| max|u|) is exactly the largest |y| of the plain computation.
template <class Lanes>
__attribute__((always_inline)) inline void run_streams_with(std::vector<Stream>& streams, int64_t steps,
                                                            const Coefficients& f) {
    constexpr int kCount = Lanes::kCount;
    constexpr int64_t kChunk = 256;
    // a0 (v / 32768) = (a0 v) / 32768 = v (a0 / 32768): scaling by a power
    // of two is exact, so one product gives the same a0 x as the filter.
    const double a0s = f.a0 / 32768.0;
    const double out_gain = std::fabs(f.gain);
    const double out_b0 = std::fabs(f.b0);
    // Lanes read their rows in place; a stretch that reaches outside the
    // samples (before 0 or past valid, counting as 0) is copied here.
    alignas(16) static const int16_t zeros[kChunk] = {};
    alignas(16) int16_t edge[kCount][kChunk];
    const int16_t* ptr[kCount];
    Lanes lanes;
    lanes.clear();
    int64_t t = 0;
    while (t < steps) {
        int64_t until = steps - 1;
        for (const Stream& s : streams)
            if (s.next < s.events.size()) until = std::min(until, s.events[s.next].step);
        while (t <= until) {
            const int64_t end = std::min(until + 1, t + kChunk);
            const int64_t len = end - t;
            for (int q = 0; q < kCount; ++q) {
                const Stream& s = streams[size_t(q)];
                ptr[q] = zeros;
                if (!s.row) continue;
                const int64_t p0 = s.origin + t;
                if (p0 >= 0 && p0 + len <= s.valid) {
                    ptr[q] = s.row + p0;
#ifdef __SSE2__
                    // Sixteen streams are more than the processor follows by itself.
                    if (p0 + len + 512 <= s.valid)
                        for (int64_t o = 0; o < len; o += 32)
                            _mm_prefetch(reinterpret_cast<const char*>(s.row + p0 + 512 + o), _MM_HINT_T0);
#endif
                    continue;
                }
                const int64_t lo = std::clamp<int64_t>(-p0, 0, len);
                const int64_t hi = std::clamp<int64_t>(s.valid - p0, lo, len);
                std::fill(edge[q], edge[q] + len, int16_t(0));
                std::copy(s.row + p0 + lo, s.row + p0 + hi, edge[q] + lo);
                ptr[q] = edge[q];
            }
            // The step of TRealFilterSection::filter.
            lanes.run(ptr, len, a0s, f.a1, f.b1);
            t = end;
        }
        for (int q = 0; q < kCount; ++q) {
            Stream& s = streams[size_t(q)];
            if (s.next < s.events.size() && s.events[s.next].step == until) {
                const double m = lanes.take_max(q);
                if (double* d = s.events[s.next].dest) *d = std::max(*d, out_gain * (out_b0 * m));
                ++s.next;
            }
        }
    }
}

#ifdef WAVRELL_AVX2
WAVRELL_TARGET_AVX2 void run_streams_avx2(std::vector<Stream>& streams, int64_t steps, const Coefficients& f) {
    run_streams_with<LanesAvx2>(streams, steps, f);
}
#endif

#ifdef __SSE2__
void run_streams_default(std::vector<Stream>& streams, int64_t steps, const Coefficients& f) {
    run_streams_with<LanesSse2>(streams, steps, f);
}
#endif

void run_streams_portable(std::vector<Stream>& streams, int64_t steps, const Coefficients& f) {
    run_streams_with<LanesPlain>(streams, steps, f);
}

/// The engine for this machine: its number of streams and its runner.
struct Engine {
    int count;
    void (*run)(std::vector<Stream>&, int64_t, const Coefficients&);
};

Engine engine(TLevelEngine want) {
#ifdef WAVRELL_AVX2
    if (want == TLevelEngine::Best && __builtin_cpu_supports("avx2")) return {LanesAvx2::kCount, run_streams_avx2};
#endif
#ifdef __SSE2__
    if (want != TLevelEngine::Portable) return {LanesSse2::kCount, run_streams_default};
#endif
    return {LanesPlain::kCount, run_streams_portable};
}

}  // namespace

int64_t block_count(const TWav& wav) {
    const double b = std::nearbyint(wav.tottime() * 10.0);
    return b > 0 ? int64_t(b) : 0;
}

namespace {

/// Largest |allpass output| of each stored segment of one channel, into
/// apmax (one entry per segment, 0 before): the channel is cut into as many
/// lanes as the engine has.
void allpass_peaks(const int16_t* row, const std::vector<Segment>& segs, size_t nstored, const Coefficients& f,
                   const Engine& eng, std::vector<double>& apmax) {
    const int64_t span = segs[nstored - 1].last + 1;  // samples that need the allpass
    const double r = std::fabs(f.a1);
    const double warm_needed = r < 1e-300 ? 1.0 : (r >= 1.0 ? 1e300 : std::ceil(std::log(1e-30) / std::log(r)));
    int lanes = eng.count;
    while (lanes > 1 && double(span) / lanes < 4.0 * warm_needed) lanes /= 2;
    const int64_t warm = lanes > 1 ? int64_t(warm_needed) : 0;
    const int64_t len = (span + lanes - 1) / lanes;

    apmax.assign(nstored, 0.0);
    std::vector<Stream> streams(size_t(eng.count));
    for (int l = 0; l < lanes; ++l) {
        Stream& s = streams[size_t(l)];
        const int64_t begin = int64_t(l) * len;
        const int64_t end = std::min(span, begin + len);
        s.row = row;
        s.valid = span;
        s.origin = begin - warm;
        if (warm > 0) s.events.push_back({warm - 1, nullptr});
        if (begin >= end) continue;
        // Segments overlapping [begin, end); one cut by a lane edge takes
        // the larger of the two lanes' maxima.
        auto it = std::upper_bound(segs.begin(), segs.begin() + nstored, begin,
                                   [](int64_t p, const Segment& g) { return p < g.first; });
        if (it != segs.begin()) --it;
        for (; it != segs.begin() + nstored && it->first < end; ++it) {
            if (it->last < begin) continue;
            const int64_t last = std::min(it->last, end - 1);
            s.events.push_back({last - s.origin, &apmax[size_t(it - segs.begin())]});
        }
    }
    eng.run(streams, warm + len, f);
}

}  // namespace

TFileLevels measure_levels(const TWav& wav, TRealFilterSection& apfilter, int slot, TLevelTable& table,
                           TLevelEngine which, std::vector<TChannelSummary>* summaries) {
    const int64_t nb = block_count(wav);
    table.assign(4, std::vector<trmspeak>(size_t(nb)));

    // Rows replaced by hand may disagree with nsamples: only what every
    // measured row holds is read.
    const int nch = std::min<int>(wav.nchans(), int(wav.samples().size()));
    int64_t n = wav.nsamples();
    for (int c = 0; c < nch; ++c) n = std::min<int64_t>(n, int64_t(wav.samples()[size_t(c)].size()));
    if (n <= 0 || nch <= 0) return {};
    if (wav.sampfreq() <= 0)
        throw EMathError(QStringLiteral("Cannot measure \"%1\": the sampling rate is %2 Hz")
                             .arg(wav.filename())
                             .arg(wav.sampfreq()));
    const double sf = wav.sampfreq();
    const std::vector<Segment> segs = find_segments(n, sf);
    const int64_t tail = segs.empty() ? 0 : segs.back().last + 1;

    // At some sampling rates of 500 Hz and below the 500 Hz allpass cannot
    // be designed (its zero falls on a pole of the tangent); the file is
    // still measured, with allpass peaks of 0.
    bool allpass = true;
    try {
        apfilter.setSampFreq(sf);
    } catch (const EMathError&) {
        allpass = false;
    }
    apfilter.reset();
    size_t nstored = 0;
    while (nstored < segs.size() && segs[nstored].k < nb) ++nstored;
    const int nc = std::min(nch, 2);
    // Without a design the summaries' allpass part is that of a section
    // with all coefficients 0 (every output 0), and the peaks stay 0.
    const TSectionStep step = allpass ? TSectionStep::of(apfilter) : TSectionStep{0, 0, 0, 0, 0};
    const Coefficients coef{apfilter.a0(), apfilter.a1(), apfilter.b0(), apfilter.b1(), apfilter.Gain()};
    const Engine eng = engine(which);
    if (summaries) summaries->assign(size_t(nc), TChannelSummary());

    // Each channel on its own: levels from exact integer sums of squares
    // and integer peaks (one channel's sum fits 64 bits: 2^31 samples of at
    // most 2^30), and for the first two the allpass peaks of the stored
    // entries (and the summaries).
    std::vector<IntStats> totals(static_cast<size_t>(nch));
    auto measure_channel = [&](int c) {
        const int16_t* s = wav.samples()[size_t(c)].data();
        std::vector<trmspeak>* row = c < 2 ? &table[size_t(2 * slot + c)] : nullptr;
        // With summaries, the samples are read once: the pass that builds
        // the summary also gives each stretch's statistics (the
        // segments, then the tail) and, from the same run of the allpass,
        // the allpass peaks of the stored entries.
        TChannelSummary* sum = summaries && row ? &(*summaries)[size_t(c)] : nullptr;
        std::vector<TStretchStats> stretches;
        if (sum) {
            std::vector<TMinMax<int64_t>> ranges;
            ranges.reserve(segs.size() + 1);
            for (const Segment& g : segs) ranges.push_back({g.first, g.last});
            if (tail < n) ranges.push_back({tail, n - 1});
            *sum = build_summary(s, n, step, TSummaryEngine::best, &ranges, &stretches);
        }
        auto stretch_stats = [&](size_t index, int64_t first, int64_t count) {
            if (!sum) return int_stats(s + first, count);
            const TStretchStats& t = stretches[index];
            IntStats st;
            st.sumsq = t.sumsq;
            st.hi = std::max(0, int(t.raw.hi));
            st.lo = std::min(0, int(t.raw.lo));
            return st;
        };
        IntStats total;
        for (size_t j = 0; j < segs.size(); ++j) {
            const Segment& g = segs[j];
            const int64_t count = g.last - g.first + 1;
            const IntStats st = stretch_stats(j, g.first, count);
            total.sumsq += st.sumsq;
            total.hi = std::max(total.hi, st.hi);
            total.lo = std::min(total.lo, st.lo);
            if (row && g.k < nb) {
                trmspeak& e = (*row)[size_t(g.k)];
                // For blocks of fewer than 2^23 samples this sum of x^2 is
                // the exact value that adding up the doubles gives; longer
                // blocks (rates above 83 MHz) only gain in accuracy.
                e.rms = std::sqrt(std::ldexp(double(st.sumsq), -30) / double(count));
                e.peak = st.peak() / 32768.0;
            }
        }
        const IntStats st = tail < n ? stretch_stats(segs.size(), tail, n - tail) : IntStats();
        total.sumsq += st.sumsq;
        total.hi = std::max(total.hi, st.hi);
        total.lo = std::min(total.lo, st.lo);
        totals[size_t(c)] = total;
        if (!row) return;

        if (sum) {
            if (!allpass || nstored == 0) return;
            // The summary holds the outputs for raw samples; the section is
            // linear, so dividing by 32768 gives its outputs for v / 32768.
            for (size_t j = 0; j < nstored; ++j) {
                const TMinMax<double>& e = stretches[j].allpass;
                (*row)[size_t(segs[j].k)].appeak = std::max(-e.lo, e.hi) / 32768.0;
            }
        } else if (allpass && nstored > 0) {
            std::vector<double> apmax;
            allpass_peaks(s, segs, nstored, coef, eng, apmax);
            for (size_t j = 0; j < nstored; ++j) (*row)[size_t(segs[j].k)].appeak = apmax[j];
        }
    };
    // The first two channels, which carry the most work, side by side when
    // they are long enough to repay a thread. Not with summaries: building
    // them is bound by memory traffic, and two builds at once cost more in
    // all than one after the other (the window loads in the background
    // anyway).
    int c0 = 0;
    if (nc == 2 && !summaries && n >= (int64_t(1) << 18)) {
        side_by_side([&] { measure_channel(0); }, [&] { measure_channel(1); });
        c0 = 2;
    }
    for (int c = c0; c < nch; ++c) measure_channel(c);

    double filesumsq = 0;
    int filepeak = 0;
    for (const IntStats& t : totals) {
        filesumsq += std::ldexp(double(t.sumsq), -30);
        filepeak = std::max(filepeak, t.peak());
    }
    TFileLevels out;
    out.rms = std::sqrt(filesumsq / (double(n) * double(nch)));
    out.peak = filepeak / 32768.0;
    out.allpass = allpass;
    return out;
}

}  // namespace wavrell
