#include "app/level_analysis.h"

#include "audio/wav_file.h"
#include "common/errors.h"
#include "dsp/filter_section.h"

#include <algorithm>
#include <cmath>
#include <limits>

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

IntStats int_stats(const int16_t* __restrict s, int64_t n) {
    int64_t acc = 0;
    int16_t hi = 0;
    int16_t lo = 0;
    // Products fit 31 bits; chunks of 2 summed in 32 bits cannot overflow
    // unsigned, which keeps the loop in narrow lanes.
    int64_t i = 0;
    for (; i + 1 < n; i += 2) {
        const int32_t a = s[i];
        const int32_t b = s[i + 1];
        acc += int64_t(uint32_t(a * a) + uint32_t(b * b));
        hi = std::max(hi, std::max(s[i], s[i + 1]));
        lo = std::min(lo, std::min(s[i], s[i + 1]));
    }
    if (i < n) {
        const int32_t a = s[i];
        acc += a * a;
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
constexpr int kStreams = 8;
typedef double vdouble __attribute__((vector_size(kStreams * sizeof(double))));

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

void run_streams(std::vector<Stream>& streams, int64_t steps, const Coefficients& f) {
    constexpr int64_t kChunk = 256;
    alignas(64) double xb[kChunk * kStreams];
    const double scale = 1.0 / 32768.0;
    vdouble z = {};
    vdouble m = {};
    const vdouble a1 = f.a1 - vdouble{}, b0 = f.b0 - vdouble{}, b1 = f.b1 - vdouble{}, g = f.gain - vdouble{};
    int64_t t = 0;
    while (t < steps) {
        int64_t until = steps - 1;
        for (const Stream& s : streams)
            if (s.next < s.events.size()) until = std::min(until, s.events[s.next].step);
        while (t <= until) {
            const int64_t end = std::min(until + 1, t + kChunk);
            const int64_t len = end - t;
            for (int q = 0; q < kStreams; ++q) {
                const Stream& s = streams[size_t(q)];
                double* d = xb + q;
                const int64_t p0 = s.origin + t;
                const int64_t lo = s.row ? std::clamp<int64_t>(-p0, 0, len) : len;
                const int64_t hi = s.row ? std::clamp<int64_t>(s.valid - p0, lo, len) : len;
                for (int64_t j = 0; j < lo; ++j) d[j * kStreams] = 0.0;
                for (int64_t j = lo; j < hi; ++j) d[j * kStreams] = f.a0 * (double(s.row[p0 + j]) * scale);
                for (int64_t j = hi; j < len; ++j) d[j * kStreams] = 0.0;
            }
            // The step of TRealFilterSection::filter with a0 * x precomputed.
            for (int64_t j = 0; j < len; ++j) {
                vdouble a0x;
                __builtin_memcpy(&a0x, xb + j * kStreams, sizeof a0x);
                const vdouble w = a0x + a1 * z;
                const vdouble y = g * ((w + b1 * z) * b0);
                z = w;
                const vdouble ay = y < 0 ? -y : y;
                m = ay > m ? ay : m;
            }
            t = end;
        }
        for (int q = 0; q < kStreams; ++q) {
            Stream& s = streams[size_t(q)];
            if (s.next < s.events.size() && s.events[s.next].step == until) {
                if (double* d = s.events[s.next].dest) *d = std::max(*d, double(m[q]));
                m[q] = 0;
                ++s.next;
            }
        }
    }
}

}  // namespace

int64_t block_count(const TWav& wav) {
    const double b = std::nearbyint(wav.tottime() * 10.0);
    return b > 0 ? int64_t(b) : 0;
}

TFileLevels measure_levels(const TWav& wav, TRealFilterSection& apfilter, int slot, TLevelTable& table) {
    const int64_t nb = block_count(wav);
    table.assign(4, std::vector<trmspeak>(size_t(nb)));

    const int64_t n = wav.nsamples();
    const int nch = std::min<int>(wav.nchans(), int(wav.samples().size()));
    if (n <= 0 || nch <= 0) return {};
    if (wav.sampfreq() <= 0)
        throw EMathError(QStringLiteral("Cannot measure \"%1\": the sampling rate is %2 Hz")
                             .arg(wav.filename())
                             .arg(wav.sampfreq()));
    const double sf = wav.sampfreq();
    const std::vector<Segment> segs = find_segments(n, sf);
    const int64_t tail = segs.empty() ? 0 : segs.back().last + 1;

    // Levels: exact integer sums of squares and integer peaks.
    // One channel's sum fits 64 bits (2^31 samples of at most 2^30).
    double filesumsq = 0;
    int filepeak = 0;
    for (int c = 0; c < nch; ++c) {
        int64_t chansumsq = 0;
        const int16_t* s = wav.samples()[size_t(c)].data();
        std::vector<trmspeak>* row = c < 2 ? &table[size_t(2 * slot + c)] : nullptr;
        for (const Segment& g : segs) {
            const int64_t count = g.last - g.first + 1;
            const IntStats st = int_stats(s + g.first, count);
            chansumsq += st.sumsq;
            filepeak = std::max(filepeak, st.peak());
            if (row && g.k < nb) {
                trmspeak& e = (*row)[size_t(g.k)];
                // A block has fewer than 2^23 samples, so this sum of x^2 is
                // the exact value that adding up the doubles would give.
                e.rms = std::sqrt(std::ldexp(double(st.sumsq), -30) / double(count));
                e.peak = st.peak() / 32768.0;
            }
        }
        const IntStats st = int_stats(s + tail, n - tail);
        chansumsq += st.sumsq;
        filepeak = std::max(filepeak, st.peak());
        filesumsq += std::ldexp(double(chansumsq), -30);
    }

    // Allpass peaks of the stored entries of the first two channels.
    apfilter.setSampFreq(sf);
    apfilter.reset();
    size_t nstored = 0;
    while (nstored < segs.size() && segs[nstored].k < nb) ++nstored;
    if (nstored > 0) {
        const int nc = std::min(nch, 2);
        const int64_t span = segs[nstored - 1].last + 1;  // samples that need the allpass
        const Coefficients f{apfilter.a0(), apfilter.a1(), apfilter.b0(), apfilter.b1(), apfilter.Gain()};
        const double r = std::fabs(f.a1);
        const double warm_needed = r < 1e-300 ? 1.0 : (r >= 1.0 ? 1e300 : std::ceil(std::log(1e-30) / std::log(r)));
        int lanes = kStreams / nc;
        while (lanes > 1 && double(span) / lanes < 4.0 * warm_needed) lanes /= 2;
        const int64_t warm = lanes > 1 ? int64_t(warm_needed) : 0;
        const int64_t len = (span + lanes - 1) / lanes;

        std::vector<std::vector<double>> apmax(size_t(nc), std::vector<double>(nstored, 0.0));
        std::vector<Stream> streams(kStreams);
        for (int c = 0; c < nc; ++c)
            for (int l = 0; l < lanes; ++l) {
                Stream& s = streams[size_t(c * lanes + l)];
                const int64_t begin = int64_t(l) * len;
                const int64_t end = std::min(span, begin + len);
                s.row = wav.samples()[size_t(c)].data();
                s.valid = span;
                s.origin = begin - warm;
                if (warm > 0) s.events.push_back({warm - 1, nullptr});
                if (begin >= end) continue;
                // Segments overlapping [begin, end); one cut by a lane edge
                // takes the larger of the two lanes' maxima.
                auto it = std::upper_bound(segs.begin(), segs.begin() + nstored, begin,
                                           [](int64_t p, const Segment& g) { return p < g.first; });
                if (it != segs.begin()) --it;
                for (; it != segs.begin() + nstored && it->first < end; ++it) {
                    if (it->last < begin) continue;
                    const int64_t last = std::min(it->last, end - 1);
                    s.events.push_back({last - s.origin, &apmax[size_t(c)][size_t(it - segs.begin())]});
                }
            }
        run_streams(streams, warm + len, f);
        for (int c = 0; c < nc; ++c) {
            std::vector<trmspeak>& row = table[size_t(2 * slot + c)];
            for (size_t j = 0; j < nstored; ++j) row[size_t(segs[j].k)].appeak = apmax[size_t(c)][j];
        }
    }

    TFileLevels out;
    out.rms = std::sqrt(filesumsq / (double(n) * double(nch)));
    out.peak = filepeak / 32768.0;
    return out;
}

}  // namespace wavrell
