#include "workspace/range_summary.h"

#include "workspace/lanes_across.h"

#include "common/prefault.h"

#include <sys/mman.h>
#include <unistd.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define WAVRELL_SUMMARY_AVX2 1
#define WAVRELL_TARGET_AVX2 __attribute__((target("avx2")))
#endif

#include <algorithm>
#include <cstdint>
#include <bit>
#include <cmath>

namespace wavrell {

namespace {

constexpr double inf = std::numeric_limits<double>::infinity();

/// Sizes a table of many megabytes, faulted in with large-page advice
/// before it is filled (see prefault).
template <class T>
void size_table(TSummaryTable<T>& v, size_t n) {
    if (v.capacity() < n && n * sizeof(T) >= (size_t(4) << 20)) {
        TSummaryTable<T>().swap(v);
        v.reserve(n);
        prefault(v.data(), n * sizeof(T));
    }
    v.resize(n);
}

/// True when no step of the section can overflow, from any state it can
/// reach on 16-bit input: then the step's fault check never fires and a
/// step without it gives the same bits.
bool steps_cannot_fault(const TSectionStep& s) {
    const double r = std::fabs(s.a1);
    if (!(r < 1 - 1e-9)) return false;
    const double wmax = std::fabs(s.a0) * 32768 / (1 - r) * 1.01;
    const double ymax = std::fabs(s.gain) * std::fabs(s.b0) * (1 + std::fabs(s.b1)) * wmax * 1.01;
    return std::isfinite(ymax) && ymax < 1e300;
}

/// Extremes of the outputs y = gain (u b0) of a block from those of u.
TMinMax<double> outputs_of(const TSectionStep& st, double ulo, double uhi) {
    const double a = st.gain * (ulo * st.b0), b = st.gain * (uhi * st.b0);
    return a <= b ? TMinMax<double>{a, b} : TMinMax<double>{b, a};
}

template <class T>
void fold(const TMinMax<T>& v, T& lo, T& hi) {
    lo = v.lo < lo ? v.lo : lo;
    hi = v.hi > hi ? v.hi : hi;
}

#if defined(__SSE2__)
/// The smallest of the eight lanes of l and the largest of those of h, in
/// registers: halves, quarters, then pairs.
inline TMinMax<int16_t> fold_lanes16(__m128i l, __m128i h) {
    l = _mm_min_epi16(l, _mm_srli_si128(l, 8));
    h = _mm_max_epi16(h, _mm_srli_si128(h, 8));
    l = _mm_min_epi16(l, _mm_srli_si128(l, 4));
    h = _mm_max_epi16(h, _mm_srli_si128(h, 4));
    l = _mm_min_epi16(l, _mm_srli_si128(l, 2));
    h = _mm_max_epi16(h, _mm_srli_si128(h, 2));
    return {int16_t(_mm_extract_epi16(l, 0)), int16_t(_mm_extract_epi16(h, 0))};
}
#endif

/// Smallest and largest of n > 0 raw samples.
inline TMinMax<int16_t> scan16(const int16_t* p, int64_t n) {
    int16_t lo = p[0], hi = p[0];
    int64_t i = 0;
#if defined(__SSE2__)
    if (n >= 8) {
        __m128i l = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), h = l;
        for (i = 8; i + 8 <= n; i += 8) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
            l = _mm_min_epi16(l, v);
            h = _mm_max_epi16(h, v);
        }
        const TMinMax<int16_t> m = fold_lanes16(l, h);
        lo = std::min(lo, m.lo);
        hi = std::max(hi, m.hi);
    }
#endif
    for (; i < n; ++i) {
        lo = std::min(lo, p[i]);
        hi = std::max(hi, p[i]);
    }
    return {lo, hi};
}

/// Smallest and largest of n > 0 raw samples, and the sum of their squares
/// (exact: at most 2^30 per sample).
inline TMinMax<int16_t> scan16_squares(const int16_t* p, int64_t n, int64_t& sumsq) {
    int16_t lo = p[0], hi = p[0];
    int64_t acc = 0;
    int64_t i = 0;
#if defined(__SSE2__)
    if (n >= 8) {
        // Pairs of squares (at most 2^31, so taken as unsigned) widened to
        // 64 bits before they are added up.
        __m128i l = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), h = l;
        __m128i a = _mm_setzero_si128();
        const __m128i zero = _mm_setzero_si128();
        for (i = 0; i + 8 <= n; i += 8) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
            const __m128i sq = _mm_madd_epi16(v, v);
            a = _mm_add_epi64(a, _mm_add_epi64(_mm_unpacklo_epi32(sq, zero), _mm_unpackhi_epi32(sq, zero)));
            l = _mm_min_epi16(l, v);
            h = _mm_max_epi16(h, v);
        }
        alignas(16) int64_t a64[2];
        _mm_store_si128(reinterpret_cast<__m128i*>(a64), a);
        acc = a64[0] + a64[1];
        const TMinMax<int16_t> m = fold_lanes16(l, h);
        lo = std::min(lo, m.lo);
        hi = std::max(hi, m.hi);
    }
#endif
    for (; i < n; ++i) {
        acc += int32_t(p[i]) * int32_t(p[i]);
        lo = std::min(lo, p[i]);
        hi = std::max(hi, p[i]);
    }
    sumsq = acc;
    return {lo, hi};
}

/// Runs the section from state z over x[0 … n − 1], folding the outputs
/// from index from on into lo and hi.
void run_one(const TSectionStep& step, const int16_t* x, int64_t n, int64_t from, double z, double& lo, double& hi) {
    int64_t i = 0;
    for (; i < from; ++i) step(x[i], z);
    for (; i < n; ++i) {
        const double y = step(x[i], z);
        lo = y < lo ? y : lo;
        hi = y > hi ? y : hi;
    }
}

/// Two independent runs as run_one (the second one folded from its index
/// 0), interleaved so that their steps overlap in the processor.
void run_two(const TSectionStep& step, const int16_t* xa, int64_t na, int64_t froma, double za, const int16_t* xb,
             int64_t nb, double zb, double& lo, double& hi) {
    const int64_t both = std::min(na, nb);
    double loa = inf, hia = -inf, lob = inf, hib = -inf;
    int64_t i = 0;
    for (; i < std::min(both, froma); ++i) {
        step(xa[i], za);
        const double yb = step(xb[i], zb);
        lob = yb < lob ? yb : lob;
        hib = yb > hib ? yb : hib;
    }
    for (; i < both; ++i) {
        const double ya = step(xa[i], za);
        const double yb = step(xb[i], zb);
        loa = ya < loa ? ya : loa;
        hia = ya > hia ? ya : hia;
        lob = yb < lob ? yb : lob;
        hib = yb > hib ? yb : hib;
    }
    if (na > both) run_one(step, xa + i, na - i, std::max<int64_t>(0, froma - i), za, loa, hia);
    if (nb > both) run_one(step, xb + i, nb - i, 0, zb, lob, hib);
    lo = std::min({lo, loa, lob});
    hi = std::max({hi, hia, hib});
}

}  // namespace

TChannelSummary TChannelSummary::build(const int16_t* row, int64_t count, const TSectionStep& step) {
    TSummaryFeed feed(step, count);
    feed.push(row, count);
    return feed.finish(row);
}

void TChannelSummary::finish_tables(const int16_t* row) {
    const int64_t nraw = (fcount + rawblock - 1) / rawblock;
    if (fraw.size() != 1 || int64_t(fraw[0].size()) != nraw) {
        fraw.clear();
        fraw.emplace_back();
        TSummaryTable<TMinMax<int16_t>>& bottom = fraw[0];
        size_table(bottom, size_t(nraw));
        for (int64_t b = 0; b < nraw; ++b) {
            const int64_t start = b * rawblock;
            bottom[size_t(b)] = scan16(row + start, std::min(rawblock, fcount - start));
        }
    }
    if (nraw > 0) build_minmax_pyramid(fraw, fanout);
    if (!fap.empty() && !fap[0].empty()) build_minmax_pyramid(fap, fanout);
}

bool TChannelSummary::raw_minmax(const int16_t* row, int64_t j, int64_t e, int16_t& lo, int16_t& hi) const {
    if (j < 0 || j > e || e >= fcount) return false;
    const int64_t bj = j / rawblock, be = e / rawblock;
    if (be - bj < 2) {
        const TMinMax<int16_t> m = scan16(row + j, e - j + 1);
        lo = m.lo;
        hi = m.hi;
        return true;
    }
    // Partial blocks at both ends are scanned; the blocks between come from
    // the pyramid.
    int16_t l = row[j], h = row[j];
    int64_t b0 = bj, b1 = be + 1;
    if (j % rawblock != 0) {
        fold(scan16(row + j, (bj + 1) * rawblock - j), l, h);
        b0 = bj + 1;
    }
    if (e + 1 != std::min(fcount, (be + 1) * rawblock)) {
        fold(scan16(row + be * rawblock, e - be * rawblock + 1), l, h);
        b1 = be;
    }
    pyramid_minmax(fraw, fanout, b0, b1, l, h);
    lo = l;
    hi = h;
    return true;
}

bool TChannelSummary::allpass_minmax(const int16_t* row, int64_t j, int64_t e, double& lo, double& hi) const {
    if (j < 0 || j > e || e >= fcount) return false;
    const int64_t bj = j / apblock, be = e / apblock;
    const int64_t jstart = bj * apblock, estart = be * apblock;
    const bool headfull = j == jstart;
    const bool tailfull = e + 1 == std::min(fcount, estart + apblock);
    double l = inf, h = -inf;
    if (bj == be) {
        if (headfull && tailfull)
            fold(fap[0][size_t(bj)], l, h);
        else
            run_one(fstep, row + jstart, e - jstart + 1, j - jstart, fapstate[size_t(bj)], l, h);
    } else {
        // Block bj is not the last one, so it is whole.
        if (!headfull && !tailfull)
            run_two(fstep, row + jstart, apblock, j - jstart, fapstate[size_t(bj)], row + estart, e - estart + 1,
                    fapstate[size_t(be)], l, h);
        else if (!headfull)
            run_one(fstep, row + jstart, apblock, j - jstart, fapstate[size_t(bj)], l, h);
        else if (!tailfull)
            run_one(fstep, row + estart, e - estart + 1, 0, fapstate[size_t(be)], l, h);
        pyramid_minmax(fap, fanout, headfull ? bj : bj + 1, tailfull ? be + 1 : be, l, h);
    }
    lo = l;
    hi = h;
    return true;
}

size_t TChannelSummary::memory_bytes() const {
    size_t n = fapstate.capacity() * sizeof(double);
    for (const auto& level : fraw) n += level.capacity() * sizeof(TMinMax<int16_t>);
    for (const auto& level : fap) n += level.capacity() * sizeof(TMinMax<double>);
    return n;
}

size_t memory_bytes(const std::vector<TChannelSummary>& summaries) {
    size_t n = 0;
    for (const TChannelSummary& s : summaries) n += s.memory_bytes();
    return n;
}

namespace {

/// Allpass tables of one channel while they are built.
struct ApTables {
    const int16_t* row;
    TSummaryTable<double>* state;
    TSummaryTable<TMinMax<double>>* blocks;
    TSummaryTable<TMinMax<int16_t>>* raw;  // bottom level of the raw pyramid
    // Ranges whose stretch statistics are wanted (ascending, each starting
    // right after the one before, the first at 0), and where they go.
    const std::vector<TMinMax<int64_t>>* ranges;
    std::vector<TStretchStats>* stats;
};

// Lane engines: kCount side-by-side runs of the part of the step that
// carries the state, u = (a0 x + a1 z) + b1 z with z := a0 x + a1 z, over one
// block of apblock samples per lane (lane q reads p[q][0 … apblock − 1]),
// keeping the smallest and largest u of each lane. The output
// y = gain (u b0) is monotone in u (both roundings are), so the extremes of
// y follow from those of u. No fused multiply-add: the roundings of the
// section's step. The vector engines read four samples of each lane at a
// time and turn them across in registers, so that one vector holds one
// step of several lanes.
struct EnginePlain {
    static constexpr int kCount = 8;
    double z[kCount], lo[kCount], hi[kCount];
    void set_state(const double* v) { std::copy(v, v + kCount, z); }
    void get(double* zs, double* los, double* his) const {
        std::copy(z, z + kCount, zs);
        std::copy(lo, lo + kCount, los);
        std::copy(hi, hi + kCount, his);
    }
    void run(const int16_t* const* p, int64_t j0, int64_t j1, double a0, double a1, double b1) {
        for (int q = 0; q < kCount; ++q) lo[q] = inf, hi[q] = -inf;
        for (int64_t j = j0; j < j1; ++j)
            for (int q = 0; q < kCount; ++q) {
                const double w = a0 * double(p[q][j]) + a1 * z[q];
                const double u = w + b1 * z[q];
                z[q] = w;
                lo[q] = u < lo[q] ? u : lo[q];
                hi[q] = u > hi[q] ? u : hi[q];
            }
    }
};

#if defined(__SSE2__)
struct EngineSse2 {
    static constexpr int kCount = 8;
    __m128d z[4], lo[4], hi[4];
    void set_state(const double* v) {
        for (int r = 0; r < 4; ++r) z[r] = _mm_loadu_pd(v + 2 * r);
    }
    void get(double* zs, double* los, double* his) const {
        for (int r = 0; r < 4; ++r) {
            _mm_storeu_pd(zs + 2 * r, z[r]);
            _mm_storeu_pd(los + 2 * r, lo[r]);
            _mm_storeu_pd(his + 2 * r, hi[r]);
        }
    }
    void run(const int16_t* const* p, int64_t j0, int64_t j1, double a0s, double a1s, double b1s) {
        const __m128d a0 = _mm_set1_pd(a0s), a1 = _mm_set1_pd(a1s), b1 = _mm_set1_pd(b1s);
        for (int r = 0; r < 4; ++r) {
            __m128d zz = z[r], l = _mm_set1_pd(inf), h = _mm_set1_pd(-inf);
            const int16_t* pa = p[2 * r];
            const int16_t* pb = p[2 * r + 1];
            auto step = [&](__m128d x) {
                const __m128d w = _mm_add_pd(_mm_mul_pd(a0, x), _mm_mul_pd(a1, zz));
                const __m128d u = _mm_add_pd(w, _mm_mul_pd(b1, zz));
                zz = w;
                l = _mm_min_pd(u, l);
                h = _mm_max_pd(u, h);
            };
            const int64_t j4 = j0 + std::max<int64_t>(0, j1 - j0) / 4 * 4;  // end of the whole groups of 4
            int64_t j = j0;
            for (; j < j4; j += 4) {
                // a0 b0 a1 b1 a2 b2 a3 b3, widened to 32 bits with the sign.
                const __m128i ab = _mm_unpacklo_epi16(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(pa + j)),
                                                      _mm_loadl_epi64(reinterpret_cast<const __m128i*>(pb + j)));
                const __m128i s01 = _mm_srai_epi32(_mm_unpacklo_epi16(ab, ab), 16);
                const __m128i s23 = _mm_srai_epi32(_mm_unpackhi_epi16(ab, ab), 16);
                step(_mm_cvtepi32_pd(s01));
                step(_mm_cvtepi32_pd(_mm_srli_si128(s01, 8)));
                step(_mm_cvtepi32_pd(s23));
                step(_mm_cvtepi32_pd(_mm_srli_si128(s23, 8)));
            }
            for (; j < j1; ++j) step(_mm_setr_pd(double(pa[j]), double(pb[j])));
            z[r] = zz, lo[r] = l, hi[r] = h;
        }
    }
};
#endif

#if defined(WAVRELL_SUMMARY_AVX2)
struct EngineAvx2 {
    static constexpr int kCount = 16;
    __m256d z[4], lo[4], hi[4];
    WAVRELL_TARGET_AVX2 void set_state(const double* v) {
        for (int r = 0; r < 4; ++r) z[r] = _mm256_loadu_pd(v + 4 * r);
    }
    WAVRELL_TARGET_AVX2 void get(double* zs, double* los, double* his) const {
        for (int r = 0; r < 4; ++r) {
            _mm256_storeu_pd(zs + 4 * r, z[r]);
            _mm256_storeu_pd(los + 4 * r, lo[r]);
            _mm256_storeu_pd(his + 4 * r, hi[r]);
        }
    }
    WAVRELL_TARGET_AVX2 void run(const int16_t* const* p, int64_t j0, int64_t j1, double a0s, double a1s,
                                 double b1s) {
        const __m256d a0 = _mm256_set1_pd(a0s), a1 = _mm256_set1_pd(a1s), b1 = _mm256_set1_pd(b1s);
        __m256d zz[4], l[4], h[4];
        for (int r = 0; r < 4; ++r) zz[r] = z[r], l[r] = _mm256_set1_pd(inf), h[r] = _mm256_set1_pd(-inf);
#define WAVRELL_STEP(r, x)                                                                   \
    do {                                                                                     \
        const __m256d w_ = _mm256_add_pd(_mm256_mul_pd(a0, (x)), _mm256_mul_pd(a1, zz[r]));  \
        const __m256d u_ = _mm256_add_pd(w_, _mm256_mul_pd(b1, zz[r]));                     \
        zz[r] = w_;                                                                          \
        l[r] = _mm256_min_pd(u_, l[r]);                                                      \
        h[r] = _mm256_max_pd(u_, h[r]);                                                      \
    } while (0)
        const int64_t j4 = j0 + std::max<int64_t>(0, j1 - j0) / 4 * 4;  // end of the whole groups of 4
        int64_t j = j0;
        for (; j < j4; j += 4)
            for (int r = 0; r < 4; ++r) {
                __m256d x[4];
                lanes_across4(p + 4 * r, j, x);
                for (int k = 0; k < 4; ++k) WAVRELL_STEP(r, x[k]);
            }
        for (; j < j1; ++j)
            for (int r = 0; r < 4; ++r) {
                WAVRELL_STEP(r, lanes_across1(p + 4 * r, j));
            }
#undef WAVRELL_STEP
        for (int r = 0; r < 4; ++r) z[r] = zz[r], lo[r] = l[r], hi[r] = h[r];
    }
};
#endif

/// Fills the tables of one channel. The channel is cut into the engine's
/// kCount lanes of whole blocks, which run side by side. A lane other than
/// the first
/// starts from a zero state; that guess is put right afterwards: the true
/// state at the lane's start (the end of the lane before) is run forward
/// block by block until it equals, bit for bit, the state the lane itself
/// reached there. The section forgets its state by a factor |a1| per
/// sample, so the two meet within a few blocks, and from there on the
/// lane's own results are those of one run from index 0. Needs
/// steps_cannot_fault.
template <class Engine>
__attribute__((always_inline)) inline void build_lanes_with(const ApTables& ch, int64_t count,
                                                            const TSectionStep& st) {
    constexpr int K = Engine::kCount;
    constexpr int64_t ab = TChannelSummary::apblock;
    constexpr int lanes = K;
    const int64_t nblocks = (count + ab - 1) / ab;
    // An odd number of blocks per lane, so that the lanes' read positions
    // fall on different offsets within a 4 KiB page: equal offsets make the
    // loads of one lane wait on the stores of another.
    const int64_t lane_blocks = ((nblocks + lanes - 1) / lanes) | 1;
    // Every entry is written below.
    size_table(*ch.state, size_t(nblocks));
    size_table(*ch.blocks, size_t(nblocks));
    size_table(*ch.raw, size_t((count + TChannelSummary::rawblock - 1) / TChannelSummary::rawblock));
    const size_t nranges = ch.ranges ? ch.ranges->size() : 0;
    if (ch.ranges) ch.stats->assign(nranges, TStretchStats());
    struct Stream {
        int64_t first = 0, blocks = 0;  // block range of the lane
        double end = 0;                 // state after the lane's last sample
        size_t range = 0;               // the wanted range the lane's allpass run is in (nranges: none)
        double rlo = inf, rhi = -inf;   // extremes of u in it so far
        size_t rawrange = 0;            // the wanted range the lane's raw scan is in
    };
    Stream streams[K];
    for (int l = 0; l < lanes; ++l) {
        Stream& s = streams[l];
        s.first = std::min(nblocks, l * lane_blocks);
        s.blocks = std::min(nblocks, s.first + lane_blocks) - s.first;
        if (ch.ranges)
            s.range = size_t(std::lower_bound(ch.ranges->begin(), ch.ranges->end(), s.first * ab,
                                              [](const TMinMax<int64_t>& r, int64_t p) { return r.hi < p; }) -
                             ch.ranges->begin());
        s.rawrange = s.range;
    }

    // Lanes without a whole block read zeros (a short last block is copied
    // in front of them); nothing of those steps is kept.
    alignas(16) static const int16_t zeros[ab] = {};
    alignas(16) int16_t tail[K][ab];
    const int16_t* ptr[K];
    double zs[K] = {}, los[K], his[K];
    Engine engine;
    engine.set_state(zs);
    for (int64_t t = 0; t < lane_blocks; ++t) {
        for (int q = 0; q < K; ++q) {
            const Stream& s = streams[q];
            ptr[q] = zeros;
            if (t >= s.blocks) continue;
            const int64_t start = (s.first + t) * ab;
            const int64_t len = std::min(ab, count - start);
            const int16_t* x = ch.row + start;
            ptr[q] = x;
#if defined(__SSE2__)
            // Sixteen streams are more than the processor follows by itself,
            // and so are the lanes' places in the three tables written below.
            if (t + 2 < s.blocks) {
                for (int64_t o = 0; o < ab; o += 32) _mm_prefetch(reinterpret_cast<const char*>(x + 2 * ab + o), _MM_HINT_T0);
                const size_t ahead = size_t(s.first + t + 2);
                _mm_prefetch(reinterpret_cast<const char*>(ch.state->data() + ahead), _MM_HINT_T0);
                _mm_prefetch(reinterpret_cast<const char*>(ch.blocks->data() + ahead), _MM_HINT_T0);
                _mm_prefetch(reinterpret_cast<const char*>(ch.raw->data() + ahead * (ab / TChannelSummary::rawblock)), _MM_HINT_T0);
            }
#endif
            if (len < ab) {
                std::copy(x, x + len, tail[q]);
                std::fill(tail[q] + len, tail[q] + ab, int16_t(0));
                ptr[q] = tail[q];
            }
            (*ch.state)[size_t(s.first + t)] = zs[q];
            // The raw pyramid's blocks, and the wanted ranges' raw
            // statistics, while the samples are at hand.
            constexpr int64_t rb = TChannelSummary::rawblock;
            TMinMax<int16_t>* raw = ch.raw->data() + start / rb;
            if (ch.ranges) {
                size_t& r = streams[q].rawrange;
                for (int64_t o = 0; o < len; o += rb) {
                    const int64_t e = std::min(rb, len - o);
                    TMinMax<int16_t> m{std::numeric_limits<int16_t>::max(), std::numeric_limits<int16_t>::min()};
                    // Pieces of the raw block, cut where a range ends.
                    for (int64_t p = 0; p < e;) {
                        const int64_t rend = r < nranges ? (*ch.ranges)[r].hi + 1 - (start + o) : e;
                        const int64_t pe = std::min(e, rend);
                        int64_t sq = 0;
                        const TMinMax<int16_t> piece = scan16_squares(x + o + p, pe - p, sq);
                        fold(piece, m.lo, m.hi);
                        if (r < nranges) {
                            TStretchStats& out = (*ch.stats)[r];
                            out.sumsq += sq;
                            fold(piece, out.raw.lo, out.raw.hi);
                            if (pe == rend) ++r;
                        }
                        p = pe;
                    }
                    raw[o / rb] = m;
                }
            } else {
                for (int64_t o = 0; o < len; o += rb) raw[o / rb] = scan16(x + o, std::min(rb, len - o));
            }
        }
        // The block runs in pieces, cut after the last sample of any lane's
        // wanted range; each piece's extremes go to the block and to the
        // range the lane is in.
        double blo[K], bhi[K];
        for (int q = 0; q < K; ++q) blo[q] = inf, bhi[q] = -inf;
        for (int64_t j0 = 0;;) {
            int64_t cut = ab;
            for (int q = 0; q < K; ++q) {
                const Stream& s = streams[q];
                if (t >= s.blocks || s.range >= nranges) continue;
                cut = std::min(cut, (*ch.ranges)[s.range].hi - (s.first + t) * ab + 1);
            }
            engine.run(ptr, j0, cut, st.a0, st.a1, st.b1);
            engine.get(zs, los, his);
            for (int q = 0; q < K; ++q) {
                Stream& s = streams[q];
                if (t >= s.blocks) continue;
                blo[q] = std::min(blo[q], los[q]);
                bhi[q] = std::max(bhi[q], his[q]);
                if (s.range >= nranges) continue;
                s.rlo = std::min(s.rlo, los[q]);
                s.rhi = std::max(s.rhi, his[q]);
                if ((*ch.ranges)[s.range].hi - (s.first + t) * ab + 1 == cut) {
                    TMinMax<double>& e = (*ch.stats)[s.range].allpass;
                    e.lo = std::min(e.lo, s.rlo);
                    e.hi = std::max(e.hi, s.rhi);
                    s.rlo = inf, s.rhi = -inf;
                    ++s.range;
                }
            }
            if (cut == ab) break;
            j0 = cut;
        }
        for (int q = 0; q < K; ++q) {
            Stream& s = streams[q];
            if (t < s.blocks) (*ch.blocks)[size_t(s.first + t)] = outputs_of(st, blo[q], bhi[q]);
            if (t + 1 == s.blocks) s.end = zs[q];
        }
    }
    // A lane's part of the range it ends in (cut by the lane's end).
    for (Stream& s : streams)
        if (s.range < nranges && s.rlo <= s.rhi) {
            TMinMax<double>& e = (*ch.stats)[s.range].allpass;
            e.lo = std::min(e.lo, s.rlo);
            e.hi = std::max(e.hi, s.rhi);
        }
    if (ch.ranges)
        for (TStretchStats& e : *ch.stats)
            if (e.allpass.lo <= e.allpass.hi) e.allpass = outputs_of(st, e.allpass.lo, e.allpass.hi);

    // Put the lanes right, each from the exact end of the one before.
    double exact_end = 0;
    for (int l = 0; l < lanes; ++l) {
        const Stream& s = streams[l];
        if (s.blocks == 0) continue;
        int64_t b = s.first;
        const int64_t stop = s.first + s.blocks;
        if (l > 0) {
            double zt = exact_end;
            while (b < stop && std::bit_cast<uint64_t>(zt) != std::bit_cast<uint64_t>((*ch.state)[size_t(b)])) {
                (*ch.state)[size_t(b)] = zt;
                const int64_t start = b * ab, len = std::min(ab, count - start);
                double l2 = inf, h2 = -inf;
                for (int64_t i = start; i < start + len; ++i) {
                    const double y = st(ch.row[i], zt);
                    l2 = y < l2 ? y : l2;
                    h2 = y > h2 ? y : h2;
                }
                (*ch.blocks)[size_t(b)] = {l2, h2};
                ++b;
            }
            exact_end = b == stop ? zt : s.end;
            // Ranges touching the blocks run again had parts from the
            // guessed state: they are run again whole, from the kept
            // state before their first sample's block (right by now, as
            // every lane before this one is).
            if (ch.ranges && b > s.first) {
                const auto& rs = *ch.ranges;
                auto it = std::lower_bound(rs.begin(), rs.end(), s.first * ab,
                                           [](const TMinMax<int64_t>& r, int64_t p) { return r.hi < p; });
                for (; it != rs.end() && it->lo < b * ab; ++it) {
                    const int64_t from = it->lo / ab * ab;
                    double zr = (*ch.state)[size_t(from / ab)], l2 = inf, h2 = -inf;
                    // States of the blocks after b are set right below
                    // only if they differ; those before are exact.
                    run_one(st, ch.row + from, it->hi - from + 1, it->lo - from, zr, l2, h2);
                    (*ch.stats)[size_t(it - rs.begin())].allpass = {l2, h2};
                }
            }
        } else {
            exact_end = s.end;
        }
    }
    // The last block ran on with padding; run its samples alone.
    const int64_t last = nblocks - 1, start = last * ab;
    if (last >= 0 && count - start < ab) {
        double zt = (*ch.state)[size_t(last)], l2 = inf, h2 = -inf;
        run_one(st, ch.row + start, count - start, 0, zt, l2, h2);
        (*ch.blocks)[size_t(last)] = {l2, h2};
    }
}

#if defined(WAVRELL_SUMMARY_AVX2)
WAVRELL_TARGET_AVX2 void build_lanes_avx2(const ApTables& ch, int64_t count, const TSectionStep& st) {
    build_lanes_with<EngineAvx2>(ch, count, st);
}
#endif
#if defined(__SSE2__)
void build_lanes_sse2(const ApTables& ch, int64_t count, const TSectionStep& st) {
    build_lanes_with<EngineSse2>(ch, count, st);
}
#endif
void build_lanes_plain(const ApTables& ch, int64_t count, const TSectionStep& st) {
    build_lanes_with<EnginePlain>(ch, count, st);
}

/// The widest engine of this processor: its lane count and its builder.
struct LaneEngine {
    int count;
    void (*build)(const ApTables&, int64_t, const TSectionStep&);
};

LaneEngine lane_engine() {
#if defined(WAVRELL_SUMMARY_AVX2)
    if (__builtin_cpu_supports("avx2")) return {EngineAvx2::kCount, build_lanes_avx2};
#endif
#if defined(__SSE2__)
    return {EngineSse2::kCount, build_lanes_sse2};
#else
    return {EnginePlain::kCount, build_lanes_plain};
#endif
}

}  // namespace

TChannelSummary build_summary(const int16_t* row, int64_t count, const TSectionStep& step, TSummaryEngine which,
                              const std::vector<TMinMax<int64_t>>* ranges, std::vector<TStretchStats>* stats) {
    LaneEngine engine = lane_engine();
    if (which == TSummaryEngine::plain) engine = {EnginePlain::kCount, build_lanes_plain};
#if defined(__SSE2__)
    if (which == TSummaryEngine::sse2) engine = {EngineSse2::kCount, build_lanes_sse2};
#endif
    // Short signals and sections that may fault go one sample at a time.
    if (count < 64 * TChannelSummary::apblock * engine.count || !steps_cannot_fault(step)) {
        TChannelSummary s = TChannelSummary::build(row, count, step);
        if (ranges) {
            std::vector<TMinMax<double>> extremes;
            s.allpass_minmax_many(row, *ranges, extremes, which);
            stats->assign(ranges->size(), TStretchStats());
            for (size_t k = 0; k < ranges->size(); ++k) {
                TStretchStats& out = (*stats)[k];
                const TMinMax<int64_t>& r = (*ranges)[k];
                out.raw = scan16_squares(row + r.lo, r.hi - r.lo + 1, out.sumsq);
                out.allpass = extremes[k];
            }
        }
        return s;
    }
    TChannelSummary s;
    s.fcount = count;
    s.fstep = step;
    s.fap.emplace_back();
    s.fraw.emplace_back();
    engine.build({row, &s.fapstate, &s.fap[0], &s.fraw[0], ranges, ranges ? stats : nullptr}, count, step);
    s.finish_tables(row);
    return s;
}

std::vector<TChannelSummary> build_summaries(const TWavSamples16& rows, int64_t count, const TSectionStep& step,
                                             int nchannels, TSummaryEngine which) {
    const size_t nch = nchannels < 0 ? rows.size() : std::min(rows.size(), size_t(nchannels));
    std::vector<TChannelSummary> out(nch);
    for (size_t c = 0; c < nch; ++c) out[c] = build_summary(rows[c].data(), count, step, which);
    return out;
}

namespace {

/// A block whose allpass outputs are needed in part: the samples before
/// split go to range `before`, those from split on to range `after` (none
/// when npos).
struct PartialBlock {
    static constexpr size_t npos = size_t(-1);
    int64_t block;
    int64_t split;
    size_t before = npos, after = npos;
};

/// Runs the partial blocks side by side, kCount at a time, grouped by their
/// split so that every lane of a run switches ranges at the same step.
template <class Engine>
__attribute__((always_inline)) inline void run_partial_blocks_with(const int16_t* row, int64_t count,
                                                                   const TSectionStep& st,
                                                                   const TSummaryTable<double>& states,
                                                                   std::vector<PartialBlock>& jobs,
                                                                   std::vector<TMinMax<double>>& out) {
    constexpr int K = Engine::kCount;
    constexpr int64_t ab = TChannelSummary::apblock;
    std::stable_sort(jobs.begin(), jobs.end(),
                     [](const PartialBlock& x, const PartialBlock& y) { return x.split < y.split; });
    alignas(16) static const int16_t zeros[ab] = {};
    alignas(16) int16_t tail[ab];  // the last block, short of apblock samples, padded
    const int16_t* ptr[K];
    double zs[K], los[K], his[K];
    Engine engine;
    auto fold_into = [&](size_t r, double ulo, double uhi) {
        if (r == PartialBlock::npos) return;
        const TMinMax<double> y = outputs_of(st, ulo, uhi);
        out[r].lo = std::min(out[r].lo, y.lo);
        out[r].hi = std::max(out[r].hi, y.hi);
    };
    for (size_t first = 0; first < jobs.size();) {
        const int64_t split = jobs[first].split;
        size_t m = 0;
        bool any_after = false;
        for (; m < size_t(K) && first + m < jobs.size() && jobs[first + m].split == split; ++m) {
            const PartialBlock& jb = jobs[first + m];
            const int64_t start = jb.block * ab;
            ptr[m] = row + start;
            if (start + ab > count) {
                std::fill(std::copy(row + start, row + count, tail), tail + ab, int16_t(0));
                ptr[m] = tail;
            }
            zs[m] = states[size_t(jb.block)];
            any_after = any_after || jb.after != PartialBlock::npos;
        }
        for (size_t q = m; q < size_t(K); ++q) ptr[q] = zeros, zs[q] = 0;
        engine.set_state(zs);
        if (split > 0) {
            engine.run(ptr, 0, split, st.a0, st.a1, st.b1);
            engine.get(zs, los, his);
            for (size_t q = 0; q < m; ++q) fold_into(jobs[first + q].before, los[q], his[q]);
        }
        if (any_after) {
            engine.run(ptr, split, ab, st.a0, st.a1, st.b1);
            engine.get(zs, los, his);
            for (size_t q = 0; q < m; ++q) fold_into(jobs[first + q].after, los[q], his[q]);
        }
        first += m;
    }
}

#if defined(WAVRELL_SUMMARY_AVX2)
WAVRELL_TARGET_AVX2 void run_partial_blocks_avx2(const int16_t* row, int64_t count, const TSectionStep& st,
                                                 const TSummaryTable<double>& states, std::vector<PartialBlock>& jobs,
                                                 std::vector<TMinMax<double>>& out) {
    run_partial_blocks_with<EngineAvx2>(row, count, st, states, jobs, out);
}
#endif
#if defined(__SSE2__)
void run_partial_blocks_sse2(const int16_t* row, int64_t count, const TSectionStep& st,
                             const TSummaryTable<double>& states, std::vector<PartialBlock>& jobs,
                             std::vector<TMinMax<double>>& out) {
    run_partial_blocks_with<EngineSse2>(row, count, st, states, jobs, out);
}
#endif
void run_partial_blocks_plain(const int16_t* row, int64_t count, const TSectionStep& st,
                              const TSummaryTable<double>& states, std::vector<PartialBlock>& jobs,
                              std::vector<TMinMax<double>>& out) {
    run_partial_blocks_with<EnginePlain>(row, count, st, states, jobs, out);
}

}  // namespace

void TChannelSummary::allpass_minmax_many(const int16_t* row, const std::vector<TMinMax<int64_t>>& ranges,
                                          std::vector<TMinMax<double>>& out, TSummaryEngine which) const {
    out.assign(ranges.size(), TMinMax<double>{inf, -inf});
    // Whole blocks come from the tables; a block cut by a range's start or
    // end is run again from its kept state. The end of one range and the
    // start of the next usually cut the same block at the same place: one
    // run serves both.
    std::vector<PartialBlock> jobs;
    jobs.reserve(ranges.size() + 1);
    const bool fast = steps_cannot_fault(fstep);
    auto add = [&](int64_t block, int64_t split, size_t before, size_t after) {
        if (!jobs.empty() && jobs.back().block == block && jobs.back().split == split) {
            PartialBlock& last = jobs.back();
            if (before != PartialBlock::npos && last.before == PartialBlock::npos) return void(last.before = before);
            if (after != PartialBlock::npos && last.after == PartialBlock::npos) return void(last.after = after);
        }
        jobs.push_back({block, split, before, after});
    };
    for (size_t r = 0; r < ranges.size(); ++r) {
        const int64_t j = ranges[r].lo, e = ranges[r].hi;
        if (j < 0 || j > e || e >= fcount) continue;
        const int64_t bj = j / apblock, be = e / apblock;
        const int64_t jstart = bj * apblock, estart = be * apblock;
        const bool headfull = j == jstart;
        const bool tailfull = e + 1 == std::min(fcount, estart + apblock);
        TMinMax<double>& o = out[r];
        if (bj == be && headfull && tailfull) {
            fold(fap[0][size_t(bj)], o.lo, o.hi);
        } else if (!fast || (bj == be && !headfull && (!tailfull || estart + apblock > fcount))) {
            // A range inside one block, away from both its edges, or one
            // that ends the file inside a short last block (or a section
            // that may fault): run on its own.
            if (!allpass_minmax(row, j, e, o.lo, o.hi)) continue;
        } else if (bj == be) {
            if (headfull)
                add(bj, e - jstart + 1, r, PartialBlock::npos);
            else
                add(bj, j - jstart, PartialBlock::npos, r);
        } else {
            // Block bj is not the last one, so it is whole.
            if (!headfull) add(bj, j - jstart, PartialBlock::npos, r);
            if (!tailfull) add(be, e - estart + 1, r, PartialBlock::npos);
            pyramid_minmax(fap, fanout, headfull ? bj : bj + 1, tailfull ? be + 1 : be, o.lo, o.hi);
        }
    }
    if (jobs.empty()) return;
    auto run = run_partial_blocks_plain;
#if defined(__SSE2__)
    if (which != TSummaryEngine::plain) run = run_partial_blocks_sse2;
#endif
#if defined(WAVRELL_SUMMARY_AVX2)
    if (which == TSummaryEngine::best && __builtin_cpu_supports("avx2")) run = run_partial_blocks_avx2;
#endif
    run(row, fcount, fstep, fapstate, jobs, out);
}

TSummaryFeed::TSummaryFeed(const TSectionStep& step, int64_t expected_count) : fstep(step) {
    const size_t blocks = size_t((std::max<int64_t>(expected_count, 0) + TChannelSummary::apblock - 1) /
                                 TChannelSummary::apblock);
    fstate.reserve(blocks + 1);
    fblocks.reserve(blocks);
    fstate.push_back(0);
}

void TSummaryFeed::close_block() {
    fblocks.push_back({flo, fhi});
    fstate.push_back(fz1);
    fpushed += fpos;
    fpos = 0;
    flo = inf;
    fhi = -inf;
}

TChannelSummary TSummaryFeed::finish(const int16_t* row) {
    if (fpos > 0) close_block();
    fstate.resize(fblocks.size());  // drops the state after the last block
    fstate.shrink_to_fit();
    fblocks.shrink_to_fit();
    TChannelSummary s;
    s.fcount = fpushed;
    s.fstep = fstep;
    s.fapstate = std::move(fstate);
    s.fap.clear();
    s.fap.push_back(std::move(fblocks));
    s.finish_tables(row);
    *this = TSummaryFeed(fstep);
    return s;
}

bool TRawSummarySource::minmax(int64_t j, int64_t e, double& lo, double& hi) {
    int16_t l, h;
    if (!fsummary.raw_minmax(fsamples, j, e, l, h)) return false;
    scaled_ends(l, h, lo, hi);
    return true;
}

bool TAllpassSummarySource::minmax(int64_t j, int64_t e, double& lo, double& hi) {
    double l, h;
    if (!fsummary.allpass_minmax(fsamples, j, e, l, h)) return false;
    scaled_ends(l, h, lo, hi);
    return true;
}

}  // namespace wavrell
