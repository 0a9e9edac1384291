#include "workspace/range_summary.h"
#include "audio/wav_file.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace wavrell {
namespace {

constexpr int64_t rb = TChannelSummary::rawblock;
constexpr int64_t ab = TChannelSummary::apblock;

// The window's allpass at the file's rate.
void make_allpass(TRealFilterSection& f, double rate) {
    f.setGain(1);
    f.setFZero(-500);
    f.setFPole(500);
    f.setSampFreq(rate);
}

uint64_t bits(double v) { return std::bit_cast<uint64_t>(v); }

struct Range {
    int64_t j, e;
};

// Ranges a test throws at a source of n samples: outside the file on either
// side, empty, single samples, block edges and random spans of every size.
std::vector<Range> ranges_for(int64_t n, std::mt19937& rng) {
    std::vector<Range> r = {{-1, 0},     {0, n},         {-5, -1},       {n, n + 3},       {3, 2},
                            {0, 0},      {n - 1, n - 1}, {0, n - 1},     {-1, n},          {n / 2, n / 2}};
    for (int64_t b : {rb, ab, 8 * rb, 64 * rb, 8 * ab, 64 * ab}) {
        for (int64_t k = 0; k * b < n && k < 40; ++k) {
            r.push_back({k * b, std::min(n - 1, (k + 1) * b - 1)});   // one whole block
            r.push_back({k * b, std::min(n - 1, (k + 3) * b - 1)});   // three whole blocks
            r.push_back({k * b + 1, std::min(n - 1, (k + 2) * b)});   // unaligned both ends
            r.push_back({std::max<int64_t>(0, k * b - 1), std::min(n - 1, k * b)});
        }
    }
    std::uniform_int_distribution<int64_t> pos(-3, n + 2);
    for (int i = 0; i < 300; ++i) {
        int64_t j = pos(rng), e = pos(rng);
        if (i % 3 == 0) e = j + std::uniform_int_distribution<int64_t>(0, 300)(rng);  // tiny spans
        if (i % 7 == 0) std::swap(j, e);
        r.push_back({j, e});
    }
    return r;
}

// A redraw's column ranges: consecutive columns share their boundary sample.
std::vector<Range> columns_for(int64_t n, int columns, int64_t first) {
    std::vector<Range> r;
    const double per = double(n + 40 - first) / columns;
    int64_t j = first;
    for (int x = 1; x < columns; ++x) {
        const int64_t e = first + int64_t(std::nearbyint(x * per));
        r.push_back({j, e});
        j = e;
    }
    return r;
}

// Asks both sources every range and requires the same answer bit for bit,
// including "nothing here" with lo and hi left alone.
void expect_same(TRangeSource& straight, TRangeSource& summary, const std::vector<Range>& ranges,
                 const std::string& what) {
    for (const Range& r : ranges) {
        double lo1 = 7, hi1 = 7, lo2 = 7, hi2 = 7;
        const bool ok1 = straight.minmax(r.j, r.e, lo1, hi1);
        const bool ok2 = summary.minmax(r.j, r.e, lo2, hi2);
        ASSERT_EQ(ok1, ok2) << what << " j=" << r.j << " e=" << r.e;
        ASSERT_EQ(ok1, r.j >= 0 && r.j <= r.e && r.e < straight.count()) << what;
        ASSERT_EQ(bits(lo1), bits(lo2)) << what << " j=" << r.j << " e=" << r.e << ": " << lo1 << " vs " << lo2;
        ASSERT_EQ(bits(hi1), bits(hi2)) << what << " j=" << r.j << " e=" << r.e << ": " << hi1 << " vs " << hi2;
    }
}

enum class Builder { whole, whole_sse2, whole_plain, feed, channel };

std::vector<TChannelSummary> summarize(const TWavSamples16& rows, int64_t n, const TSectionStep& step, Builder how) {
    if (how == Builder::whole) return build_summaries(rows, n, step);
    if (how == Builder::whole_sse2) return build_summaries(rows, n, step, -1, TSummaryEngine::sse2);
    if (how == Builder::whole_plain) return build_summaries(rows, n, step, -1, TSummaryEngine::plain);
    std::vector<TChannelSummary> out;
    for (const auto& row : rows) {
        if (how == Builder::channel) {
            out.push_back(TChannelSummary::build(row.data(), n, step));
        } else {
            // Fed in uneven pieces, as a measurement pass might hand them on.
            TSummaryFeed feed(step, n);
            for (int64_t i = 0; i < n;) {
                const int64_t k = std::min<int64_t>(n - i, 1 + (i * 7919) % 1000);
                feed.push(row.data() + i, k);
                i += k;
            }
            out.push_back(feed.finish(row.data()));
        }
    }
    return out;
}

// Every range through the summaries against the straight passes, for the
// raw and the allpass trace, at several factors.
void check_channel(const TSampleRow& row, const TChannelSummary& summary, const TRealFilterSection& design,
                   std::mt19937& rng, const std::string& what) {
    const int64_t n = int64_t(row.size());
    ASSERT_EQ(summary.count(), n);
    std::vector<Range> random = ranges_for(n, rng);
    // The summary's own allpass answers, before any scaling, against the
    // section's outputs: exact down to the smallest values of a decaying
    // state, which the scaling by 1/32768 would hide.
    TRealFilterSection f;
    f.setGain(design.Gain());
    f.setFZero(design.FZero());
    f.setFPole(design.FPole());
    f.setSampFreq(design.SampFreq());
    f.reset();
    std::vector<double> y(row.size());
    for (size_t i = 0; i < row.size(); ++i) y[i] = f.filter(row[i]);
    for (const Range& r : random) {
        double lo = 7, hi = 7;
        if (!summary.allpass_minmax(row.data(), r.j, r.e, lo, hi)) continue;
        double l = y[size_t(r.j)], h = l;
        for (int64_t i = r.j; i <= r.e; ++i) {
            l = std::min(l, y[size_t(i)]);
            h = std::max(h, y[size_t(i)]);
        }
        ASSERT_EQ(bits(lo + 0.0), bits(l + 0.0)) << what << " unscaled j=" << r.j << " e=" << r.e;
        ASSERT_EQ(bits(hi + 0.0), bits(h + 0.0)) << what << " unscaled j=" << r.j << " e=" << r.e;
    }
    // Many ranges at once give what one range at a time gives.
    std::vector<TMinMax<int64_t>> many;
    for (const Range& r : random) many.push_back({r.j, r.e});
    std::vector<TMinMax<double>> got, narrow;
    summary.allpass_minmax_many(row.data(), many, got);
    summary.allpass_minmax_many(row.data(), many, narrow, TSummaryEngine::plain);
    ASSERT_EQ(got.size(), many.size());
    ASSERT_EQ(narrow.size(), many.size());
    for (size_t k = 0; k < many.size(); ++k) {
        ASSERT_EQ(bits(narrow[k].lo + 0.0), bits(got[k].lo + 0.0)) << what << " many, narrow engine";
        ASSERT_EQ(bits(narrow[k].hi + 0.0), bits(got[k].hi + 0.0)) << what << " many, narrow engine";
        double lo = std::numeric_limits<double>::infinity(), hi = -lo;
        summary.allpass_minmax(row.data(), many[k].lo, many[k].hi, lo, hi);
        ASSERT_EQ(bits(got[k].lo + 0.0), bits(lo + 0.0)) << what << " many j=" << many[k].lo << " e=" << many[k].hi;
        ASSERT_EQ(bits(got[k].hi + 0.0), bits(hi + 0.0)) << what << " many j=" << many[k].lo << " e=" << many[k].hi;
    }
    for (double f : {1.0, 0.8123456789, 0.0, -1.5}) {
        const std::string w = what + " factor " + std::to_string(f);
        TRawStraightSource raw(row);
        TRawSummarySource rawsum(row, summary);
        raw.setFactor(f);
        rawsum.setFactor(f);
        expect_same(raw, rawsum, random, w + " raw");

        TAllpassStraightSource ap(row, design);
        TAllpassSummarySource apsum(row, summary);
        ap.setFactor(f);
        apsum.setFactor(f);
        // Redraws at several zooms (the straight source runs on from column
        // to column), then random ranges (it restarts from index 0).
        for (int columns : {3, 97, 1000}) {
            for (int64_t first : {int64_t(0), int64_t(-17), n / 3}) {
                expect_same(ap, apsum, columns_for(n, columns, first), w + " allpass columns");
            }
        }
        std::vector<Range> some(random.begin(), random.begin() + std::min<size_t>(random.size(), 40));
        expect_same(ap, apsum, some, w + " allpass random");
    }
}

using Signal = std::function<int16_t(int64_t i, std::mt19937& rng)>;

struct SignalCase {
    const char* name;
    int64_t n;
    Signal gen;
};

// Sound followed by long digital silence: the allpass state then decays
// through the subnormal range to a tiny fixed point, and the outputs are
// zeros of both signs at the start.
int16_t burst(int64_t i, std::mt19937& rng) {
    if (i < 300 || (i > 5000 && i < 40000)) return 0;
    if (i > 41000) return i % 9000 < 6000 ? 0 : int16_t(std::uniform_int_distribution<int>(-32768, 32767)(rng));
    return int16_t(std::uniform_int_distribution<int>(-32768, 32767)(rng));
}

TEST(RangeSummary, SummariesAnswerLikeTheStraightPass) {
    const std::vector<SignalCase> cases = {
        {"noise", 70000, [](int64_t, std::mt19937& g) { return int16_t(std::uniform_int_distribution<int>(-32768, 32767)(g)); }},
        {"burst and silence", 60000, burst},
        {"sine with extremes", 20000,
         [](int64_t i, std::mt19937&) {
             return i % 5000 == 17 ? int16_t(-32768) : int16_t(std::lround(32767 * std::sin(0.003 * double(i))));
         }},
        {"one sample", 1, [](int64_t, std::mt19937&) { return int16_t(-3); }},
        {"block plus one", ab + 1, [](int64_t i, std::mt19937&) { return int16_t(i * 37 % 2001 - 1000); }},
        {"whole raw blocks", 8 * ab, [](int64_t i, std::mt19937&) { return int16_t((i * 7717) % 65536 - 32768); }},
        {"shorter than a raw block", rb - 5, [](int64_t i, std::mt19937&) { return int16_t(100 - i * i); }},
        // Long enough for the side-by-side builders; silences long enough for
        // the state to sink to its smallest values cover many edges of their
        // stretches, where the guessed zero state and the true one differ.
        {"long with silences", 300001,
         [](int64_t i, std::mt19937& g) {
             if (i % 50000 >= 30000) return int16_t(0);
             return int16_t(std::uniform_int_distribution<int>(-20000, 20000)(g) / (i % 3000 < 1500 ? 1 : 100));
         }},
    };
    for (Builder how : {Builder::whole, Builder::whole_sse2, Builder::whole_plain, Builder::feed, Builder::channel}) {
        for (const SignalCase& c : cases) {
            std::mt19937 rng(1234);
            TWavSamples16 rows(3, TSampleRow(size_t(c.n)));
            for (auto& row : rows)
                for (int64_t i = 0; i < c.n; ++i) row[size_t(i)] = c.gen(i, rng);
            TRealFilterSection design;
            make_allpass(design, 44100);
            const auto summaries = summarize(rows, c.n, TSectionStep::of(design), how);
            ASSERT_EQ(summaries.size(), rows.size());
            const size_t checked = how == Builder::feed || how == Builder::channel ? 1 : rows.size();
            for (size_t ch = 0; ch < checked; ++ch) {
                check_channel(rows[ch], summaries[ch], design, rng,
                              std::string(c.name) + " builder " + std::to_string(int(how)) + " channel " +
                                  std::to_string(ch));
                if (HasFatalFailure()) return;
            }
        }
    }
}

// The level measurement takes each stretch's statistics from the pass that
// builds the summary: contiguous ranges from 0, from single samples
// (several ending in one block) to many blocks, asked while building, give
// the allpass extremes the built summary gives for them, with every engine,
// and the raw extremes and sums of squares of a straight pass; so does a
// row too short for the side-by-side lanes.
TEST(RangeSummary, RangesAskedWhileBuildingAnswerLikeTheSummary) {
    for (const int64_t n : {int64_t(400003), int64_t(9001)}) {
        std::mt19937 rng(99);
        std::vector<int16_t> row(static_cast<size_t>(n));
        for (int64_t i = 0; i < n; ++i)
            row[size_t(i)] =
                i % 60000 >= 40000 ? int16_t(0) : int16_t(std::uniform_int_distribution<int>(-20000, 20000)(rng));
        std::vector<TMinMax<int64_t>> ranges;
        for (int64_t j = 0, k = 0; j < n - 7000; ++k) {
            const int64_t len =
                std::uniform_int_distribution<int64_t>(k % 4 == 0 ? 1 : 300, k % 4 == 0 ? 300 : 6000)(rng);
            ranges.push_back({j, std::min(j + len, n - 7000) - 1});
            j += len;
        }
        TRealFilterSection design;
        make_allpass(design, 44100);
        for (TSummaryEngine which : {TSummaryEngine::best, TSummaryEngine::sse2, TSummaryEngine::plain}) {
            SCOPED_TRACE("n=" + std::to_string(n) + " engine " + std::to_string(int(which)));
            std::vector<TStretchStats> got;
            std::vector<TMinMax<double>> want;
            const TChannelSummary s =
                build_summary(row.data(), n, TSectionStep::of(design), which, &ranges, &got);
            s.allpass_minmax_many(row.data(), ranges, want, TSummaryEngine::plain);
            ASSERT_EQ(got.size(), ranges.size());
            for (size_t k = 0; k < ranges.size(); ++k) {
                const TMinMax<int64_t>& r = ranges[k];
                ASSERT_EQ(bits(got[k].allpass.lo + 0.0), bits(want[k].lo + 0.0)) << "j=" << r.lo << " e=" << r.hi;
                ASSERT_EQ(bits(got[k].allpass.hi + 0.0), bits(want[k].hi + 0.0)) << "j=" << r.lo << " e=" << r.hi;
                int64_t sum = 0;
                int16_t lo = row[size_t(r.lo)], hi = lo;
                for (int64_t i = r.lo; i <= r.hi; ++i) {
                    sum += row[size_t(i)] * row[size_t(i)];
                    lo = std::min(lo, row[size_t(i)]);
                    hi = std::max(hi, row[size_t(i)]);
                }
                ASSERT_EQ(got[k].sumsq, sum) << "j=" << r.lo << " e=" << r.hi;
                ASSERT_EQ(got[k].raw.lo, lo) << "j=" << r.lo << " e=" << r.hi;
                ASSERT_EQ(got[k].raw.hi, hi) << "j=" << r.lo << " e=" << r.hi;
            }
        }
    }
}

// A section whose steps overflow on loud samples outputs 0 there and keeps
// its state; the summaries, built and queried without their vector
// shortcuts then, give the same answers.
TEST(RangeSummary, FaultingStepsAnswerLikeTheStraightPass) {
    TRealFilterSection design;
    make_allpass(design, 44100);
    design.setGain(1e305);
    const int64_t n = 300001;
    TWavSamples16 rows(2, TSampleRow(size_t(n)));
    std::mt19937 rng(77);
    for (auto& row : rows)
        for (int64_t i = 0; i < n; ++i)
            row[size_t(i)] = int16_t(std::uniform_int_distribution<int>(-32768, 32767)(rng) / (i % 5000 < 100 ? 1 : 30000));
    const auto summaries = build_summaries(rows, n, TSectionStep::of(design));
    for (size_t ch = 0; ch < rows.size(); ++ch) {
        check_channel(rows[ch], summaries[ch], design, rng, "faulting channel " + std::to_string(ch));
        if (HasFatalFailure()) return;
    }
}

// The straight allpass source is the drawing's own pass: its answers are
// those of a section run over the raw samples from index 0, whether the
// ranges come in order (one running pass) or jump back (a restart).
TEST(RangeSummary, StraightAllpassIsTheSectionRunFromTheStart) {
    std::mt19937 rng(99);
    TSampleRow row(20000);
    for (auto& v : row) v = int16_t(std::uniform_int_distribution<int>(-32768, 32767)(rng));
    TRealFilterSection design;
    make_allpass(design, 48000);
    TRealFilterSection f;
    make_allpass(f, 48000);
    f.reset();
    std::vector<double> y;
    for (int16_t v : row) y.push_back(f.filter(v));

    TAllpassStraightSource src(row, design);
    src.setFactor(0.75);
    const std::vector<Range> asked = {{0, 0}, {0, 10}, {10, 10}, {10, 5000}, {6000, 6100}, {2, 3}, {19990, 19999}};
    for (const Range& r : asked) {
        double lo = 0, hi = 0;
        ASSERT_TRUE(src.minmax(r.j, r.e, lo, hi));
        double l = y[size_t(r.j)] / 32768 * 0.75, h = l;
        for (int64_t i = r.j; i <= r.e; ++i) {
            l = std::min(l, y[size_t(i)] / 32768 * 0.75);
            h = std::max(h, y[size_t(i)] / 32768 * 0.75);
        }
        EXPECT_EQ(lo, l) << r.j << " " << r.e;
        EXPECT_EQ(hi, h) << r.j << " " << r.e;
    }
}

// Stereo files made by sox (tones, noise, a fade and digital silence),
// read by the sample store, summarized with the store's rate.
TEST(RangeSummary, SoxFilesAnswerLikeTheStraightPass) {
    auto dir = test::build_temp_dir();
    struct File {
        const char* name;
        int rate;
        QStringList effects;
    };
    const std::vector<File> files = {
        {"tones.wav", 44100, {"synth", "2.5", "sine", "440", "square", "3000", "vol", "0.9"}},
        {"noise.wav", 48000, {"synth", "1.5", "whitenoise", "pinknoise", "fade", "0", "1.5", "0.5", "pad", "0", "1"}},
        {"low.wav", 8000, {"synth", "2", "sine", "50-3000", "sine", "200", "pad", "0.5", "0.7"}},
    };
    for (const File& file : files) {
        const QString path = dir->filePath(QString::fromLatin1(file.name));
        QStringList args{"-n", "-r", QString::number(file.rate), "-c", "2", "-b", "16", path};
        args += file.effects;
        ASSERT_TRUE(test::sox(args)) << file.name;
        TWav wav;
        wav.open_file(path);
        ASSERT_EQ(wav.nchans(), 2);
        ASSERT_GT(wav.nsamples(), 0);
        TRealFilterSection design;
        make_allpass(design, wav.sampfreq());
        const auto summaries = build_summaries(wav.samples(), wav.nsamples(), TSectionStep::of(design));
        std::mt19937 rng(5);
        for (int ch = 0; ch < 2; ++ch) {
            check_channel(wav.samples()[size_t(ch)], summaries[size_t(ch)], design, rng, file.name);
            if (HasFatalFailure()) return;
        }
    }
}

// All summaries of a file together take at most 15 % of the memory of its
// 16-bit samples.
TEST(RangeSummary, MemoryIsASmallShareOfTheSamples) {
    const int64_t n = 60 * 44100 + 123;
    TWavSamples16 rows(2, TSampleRow(size_t(n)));
    for (auto& row : rows)
        for (int64_t i = 0; i < n; ++i) row[size_t(i)] = int16_t((i * 2654435761u) >> 16);
    TRealFilterSection design;
    make_allpass(design, 44100);
    const auto whole = build_summaries(rows, n, TSectionStep::of(design));
    const auto fed = summarize(rows, n, TSectionStep::of(design), Builder::feed);
    const double samples = 2.0 * 2 * double(n);
    EXPECT_LE(double(memory_bytes(whole)), 0.15 * samples);
    EXPECT_LE(double(memory_bytes(fed)), 0.15 * samples);
    EXPECT_EQ(memory_bytes(whole), memory_bytes(fed));
}

}  // namespace
}  // namespace wavrell
