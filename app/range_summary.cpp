#include "app/range_summary.h"

#include <algorithm>

namespace wavrell {

namespace {

constexpr double inf = std::numeric_limits<double>::infinity();

template <class T>
void fold(const TMinMax<T>& v, T& lo, T& hi) {
    lo = v.lo < lo ? v.lo : lo;
    hi = v.hi > hi ? v.hi : hi;
}

/// Smallest and largest of n > 0 raw samples; written so the compiler
/// turns it into packed compares.
TMinMax<int16_t> scan16(const int16_t* p, int64_t n) {
    int16_t lo = p[0], hi = p[0];
    for (int64_t i = 0; i < n; ++i) {
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
    fraw.assign(1, std::vector<TMinMax<int16_t>>(size_t(nraw)));
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

std::vector<TChannelSummary> build_summaries(const TWavSamples16& rows, int64_t count, const TSectionStep& step) {
    std::vector<TChannelSummary> out(rows.size());
    constexpr int64_t ab = TChannelSummary::apblock;
    const int64_t nblocks = (count + ab - 1) / ab;
    size_t c = 0;
    for (; c + 1 < rows.size(); c += 2) {
        TChannelSummary& s0 = out[c];
        TChannelSummary& s1 = out[c + 1];
        const int16_t* x0 = rows[c].data();
        const int16_t* x1 = rows[c + 1].data();
        for (TChannelSummary* s : {&s0, &s1}) {
            s->fcount = count;
            s->fstep = step;
            s->fapstate.resize(size_t(nblocks));
            s->fap.assign(1, std::vector<TMinMax<double>>(size_t(nblocks)));
        }
        double z0 = 0, z1 = 0;
        for (int64_t b = 0; b < nblocks; ++b) {
            s0.fapstate[size_t(b)] = z0;
            s1.fapstate[size_t(b)] = z1;
            const int64_t start = b * ab, n = std::min(ab, count - start);
            double lo0 = inf, hi0 = -inf, lo1 = inf, hi1 = -inf;
            for (int64_t i = start; i < start + n; ++i) {
                const double y0 = step(x0[i], z0);
                const double y1 = step(x1[i], z1);
                lo0 = y0 < lo0 ? y0 : lo0;
                hi0 = y0 > hi0 ? y0 : hi0;
                lo1 = y1 < lo1 ? y1 : lo1;
                hi1 = y1 > hi1 ? y1 : hi1;
            }
            s0.fap[0][size_t(b)] = {lo0, hi0};
            s1.fap[0][size_t(b)] = {lo1, hi1};
        }
        s0.finish_tables(x0);
        s1.finish_tables(x1);
    }
    if (c < rows.size()) out[c] = TChannelSummary::build(rows[c].data(), count, step);
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
    s.fap.assign(1, std::move(fblocks));
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
