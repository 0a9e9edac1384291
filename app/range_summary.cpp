#include "app/range_summary.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <bit>
#include <cmath>

namespace wavrell {

namespace {

constexpr double inf = std::numeric_limits<double>::infinity();

template <class T>
void fold(const TMinMax<T>& v, T& lo, T& hi) {
    lo = v.lo < lo ? v.lo : lo;
    hi = v.hi > hi ? v.hi : hi;
}

/// Smallest and largest of n > 0 raw samples.
TMinMax<int16_t> scan16(const int16_t* p, int64_t n) {
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
        alignas(16) int16_t ls[8], hs[8];
        _mm_store_si128(reinterpret_cast<__m128i*>(ls), l);
        _mm_store_si128(reinterpret_cast<__m128i*>(hs), h);
        for (int k = 0; k < 8; ++k) {
            lo = std::min(lo, ls[k]);
            hi = std::max(hi, hs[k]);
        }
    }
#endif
    for (; i < n; ++i) {
        lo = std::min(lo, p[i]);
        hi = std::max(hi, p[i]);
    }
    return {lo, hi};
}

/// Adds levels above levels[0] until the top one has at most fanout
/// blocks; entry k of a level covers entries k × fanout … of the one below.
template <class T>
void build_pyramid(std::vector<std::vector<TMinMax<T>>>& levels) {
    constexpr int64_t f = TChannelSummary::fanout;
    while (int64_t(levels.back().size()) > f) {
        const std::vector<TMinMax<T>>& below = levels.back();
        const int64_t n = int64_t(below.size());
        std::vector<TMinMax<T>> up(size_t((n + f - 1) / f));
        for (int64_t k = 0; k < int64_t(up.size()); ++k) {
            TMinMax<T> m = below[size_t(k * f)];
            const int64_t end = std::min(n, k * f + f);
            for (int64_t i = k * f + 1; i < end; ++i) fold(below[size_t(i)], m.lo, m.hi);
            up[size_t(k)] = m;
        }
        levels.push_back(std::move(up));
    }
}

/// Folds the bottom-level blocks b0 … b1 − 1 (b0 < b1) into lo and hi,
/// climbing the pyramid wherever whole upper blocks lie inside the range:
/// at most 2 × (fanout − 1) blocks per level.
template <class T>
void pyramid_minmax(const std::vector<std::vector<TMinMax<T>>>& levels, int64_t b0, int64_t b1, T& lo, T& hi) {
    constexpr int64_t f = TChannelSummary::fanout;
    for (size_t lv = 0; b0 < b1; ++lv) {
        const std::vector<TMinMax<T>>& level = levels[lv];
        if (b1 - b0 <= 2 * f || lv + 1 == levels.size()) {
            for (int64_t k = b0; k < b1; ++k) fold(level[size_t(k)], lo, hi);
            return;
        }
        for (; b0 % f != 0; ++b0) fold(level[size_t(b0)], lo, hi);
        for (; b1 % f != 0; --b1) fold(level[size_t(b1 - 1)], lo, hi);
        b0 /= f;
        b1 /= f;
    }
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
    fraw.clear();
    fraw.emplace_back(size_t(nraw));
    std::vector<TMinMax<int16_t>>& bottom = fraw[0];
    for (int64_t b = 0; b < nraw; ++b) {
        const int64_t start = b * rawblock;
        bottom[size_t(b)] = scan16(row + start, std::min(rawblock, fcount - start));
    }
    if (nraw > 0) build_pyramid(fraw);
    if (!fap.empty() && !fap[0].empty()) build_pyramid(fap);
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
    pyramid_minmax(fraw, b0, b1, l, h);
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
        pyramid_minmax(fap, headfull ? bj : bj + 1, tailfull ? be + 1 : be, l, h);
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

constexpr int kStreams = 8;

/// Allpass tables of one channel while they are built.
struct ApTables {
    const int16_t* row;
    std::vector<double>* state;
    std::vector<TMinMax<double>>* blocks;
};

#if defined(__SSE2__)
constexpr bool kLanes = true;

/// One block of kStreams lanes: x[q] holds a0 × sample of lane q; z, lo and
/// hi are two lanes per register. The operations are those of the
/// section's step, so each lane computes exactly what the section would.
template <bool UnitGain>
void run_lanes(const double (*x)[TChannelSummary::apblock], __m128d* zz, __m128d* lo, __m128d* hi,
               const TSectionStep& st) {
    const __m128d a1 = _mm_set1_pd(st.a1), b1 = _mm_set1_pd(st.b1), b0 = _mm_set1_pd(st.b0),
                  g = _mm_set1_pd(st.gain);
    __m128d z0 = zz[0], z1 = zz[1], z2 = zz[2], z3 = zz[3];
    __m128d l0 = lo[0], l1 = lo[1], l2 = lo[2], l3 = lo[3];
    __m128d h0 = hi[0], h1 = hi[1], h2 = hi[2], h3 = hi[3];
    auto step = [&](__m128d a0x, __m128d& z, __m128d& l, __m128d& h) {
        const __m128d w = _mm_add_pd(a0x, _mm_mul_pd(a1, z));
        __m128d y = _mm_mul_pd(_mm_add_pd(w, _mm_mul_pd(b1, z)), b0);
        if (!UnitGain) y = _mm_mul_pd(g, y);  // 1 × t is t: skipped for a unit gain
        z = w;
        l = _mm_min_pd(y, l);
        h = _mm_max_pd(y, h);
    };
    for (int64_t j = 0; j < TChannelSummary::apblock; ++j) {
        step(_mm_loadh_pd(_mm_load_sd(&x[0][j]), &x[1][j]), z0, l0, h0);
        step(_mm_loadh_pd(_mm_load_sd(&x[2][j]), &x[3][j]), z1, l1, h1);
        step(_mm_loadh_pd(_mm_load_sd(&x[4][j]), &x[5][j]), z2, l2, h2);
        step(_mm_loadh_pd(_mm_load_sd(&x[6][j]), &x[7][j]), z3, l3, h3);
    }
    zz[0] = z0, zz[1] = z1, zz[2] = z2, zz[3] = z3;
    lo[0] = l0, lo[1] = l1, lo[2] = l2, lo[3] = l3;
    hi[0] = h0, hi[1] = h1, hi[2] = h2, hi[3] = h3;
}

/// Fills the allpass tables of one or two channels. Each channel is cut
/// into lanes of whole blocks, and all lanes of all channels run side by
/// side. A lane other than a channel's first starts from a zero state; that
/// guess is put right afterwards: the true state at the lane's start (the
/// end of the lane before) is run forward block by block until it equals,
/// bit for bit, the state the lane itself reached there. The section
/// forgets its state by a factor |a1| per sample, so the two meet within a
/// few blocks, and from there on the lane's own results are those of one
/// run from index 0. Needs steps_cannot_fault.
void build_allpass_lanes(const std::vector<ApTables>& chans, int64_t count, const TSectionStep& st) {
    constexpr int64_t ab = TChannelSummary::apblock;
    const int nch = int(chans.size());
    const int lanes = kStreams / nch;
    const int64_t nblocks = (count + ab - 1) / ab;
    const int64_t lane_blocks = (nblocks + lanes - 1) / lanes;
    for (const ApTables& c : chans) {
        // Every entry is written below.
        c.state->resize(size_t(nblocks));
        c.blocks->resize(size_t(nblocks));
    }
    struct Stream {
        const ApTables* chan = nullptr;
        int64_t first = 0, blocks = 0;  // block range of the lane
        double end = 0;                 // state after the lane's last sample
    };
    Stream streams[kStreams];
    for (int c = 0; c < nch; ++c)
        for (int l = 0; l < lanes; ++l) {
            Stream& s = streams[c * lanes + l];
            s.chan = &chans[size_t(c)];
            s.first = std::min(nblocks, l * lane_blocks);
            s.blocks = std::min(nblocks, s.first + lane_blocks) - s.first;
        }

    alignas(64) double xb[kStreams][ab];
    alignas(16) double zs[kStreams] = {}, los[kStreams], his[kStreams];
    __m128d z[4], lo[4], hi[4];
    for (int k = 0; k < 4; ++k) z[k] = _mm_setzero_pd();
    const bool unit = st.gain == 1;
    for (int64_t t = 0; t < lane_blocks; ++t) {
        for (int k = 0; k < 4; ++k) _mm_store_pd(zs + 2 * k, z[k]);
        for (int q = 0; q < kStreams; ++q) {
            const Stream& s = streams[q];
            double* d = xb[q];
            int64_t len = 0;
            if (s.chan && t < s.blocks) {
                const int64_t start = (s.first + t) * ab;
                len = std::min(ab, count - start);
                const int16_t* x = s.chan->row + start;
                for (int64_t j = 0; j < len; ++j) d[j] = st.a0 * double(x[j]);
                (*s.chan->state)[size_t(s.first + t)] = zs[q];
            }
            for (int64_t j = len; j < ab; ++j) d[j] = 0.0;
        }
        for (int k = 0; k < 4; ++k) {
            lo[k] = _mm_set1_pd(inf);
            hi[k] = _mm_set1_pd(-inf);
        }
        if (unit)
            run_lanes<true>(xb, z, lo, hi, st);
        else
            run_lanes<false>(xb, z, lo, hi, st);
        for (int k = 0; k < 4; ++k) {
            _mm_store_pd(zs + 2 * k, z[k]);
            _mm_store_pd(los + 2 * k, lo[k]);
            _mm_store_pd(his + 2 * k, hi[k]);
        }
        for (int q = 0; q < kStreams; ++q) {
            Stream& s = streams[q];
            if (s.chan && t < s.blocks) (*s.chan->blocks)[size_t(s.first + t)] = {los[q], his[q]};
            if (t + 1 == s.blocks) s.end = zs[q];
        }
    }

    // Put the lanes right, each from the exact end of the one before.
    for (int c = 0; c < nch; ++c) {
        const ApTables& ch = chans[size_t(c)];
        double exact_end = 0;
        for (int l = 0; l < lanes; ++l) {
            const Stream& s = streams[c * lanes + l];
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
}
#else
constexpr bool kLanes = false;
void build_allpass_lanes(const std::vector<ApTables>&, int64_t, const TSectionStep&) {}
#endif

}  // namespace

std::vector<TChannelSummary> build_summaries(const TWavSamples16& rows, int64_t count, const TSectionStep& step,
                                             int nchannels) {
    const size_t nch = nchannels < 0 ? rows.size() : std::min(rows.size(), size_t(nchannels));
    std::vector<TChannelSummary> out(nch);
    // Short signals and sections that may fault go one sample at a time.
    if (!kLanes || count < 64 * TChannelSummary::apblock * kStreams || !steps_cannot_fault(step)) {
        for (size_t c = 0; c < nch; ++c) out[c] = TChannelSummary::build(rows[c].data(), count, step);
        return out;
    }
    for (size_t c0 = 0; c0 < nch; c0 += 2) {
        std::vector<ApTables> group;
        for (size_t c = c0; c < std::min(nch, c0 + 2); ++c) {
            TChannelSummary& s = out[c];
            s.fcount = count;
            s.fstep = step;
            s.fap.clear();
            s.fap.emplace_back();
            group.push_back({rows[c].data(), &s.fapstate, &s.fap[0]});
        }
        build_allpass_lanes(group, count, step);
    }
    for (size_t c = 0; c < nch; ++c) out[c].finish_tables(rows[c].data());
    return out;
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
