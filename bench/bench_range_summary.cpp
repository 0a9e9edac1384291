// Two 60-minute stereo 44.1 kHz signals in memory, as two loaded files:
// - redraw: the column ranges of a full-file redraw of all four boxes
//   (1000 columns each), answered through the summaries and through the
//   straight passes, with and without the allpass trace;
// - load: the load-time level measurement (measure_levels) as it is without
//   summaries, and as the load runs it now, building the summaries and
//   taking the allpass peaks from them; also the measurement followed by a
//   separate summary build, for comparison.
// Every variant runs several times, interleaved, in the same process; the
// least CPU time of the process (all its threads) counts. Prints the figures and the ratios;
// bench/range_summary.sh checks them.
#include "workspace/level_analysis.h"
#include "workspace/range_summary.h"
#include "audio/wav_file.h"

#include <QFile>
#include <QString>
#include "dsp/filter_section.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <vector>

using namespace wavrell;

namespace {

double cpu_seconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + 1e-9 * double(t.tv_nsec);
}

struct File {
    int rate = 44100;
    TWavSamples16 rows;
    int64_t n() const { return int64_t(rows[0].size()); }
};

// Music-like material: two tones and noise under a slow envelope, with a
// few seconds of digital silence every five minutes.
File make_file(int64_t n, uint32_t seed, double f1, double f2) {
    File file;
    file.rows.assign(2, TSampleRow(size_t(n)));
    constexpr int table = 4096;
    std::vector<double> sine(table);
    for (int k = 0; k < table; ++k) sine[size_t(k)] = std::sin(2 * M_PI * k / table);
    uint32_t r = seed;
    for (int c = 0; c < 2; ++c) {
        int16_t* x = file.rows[size_t(c)].data();
        const uint32_t step1 = uint32_t(f1 * (1 + 0.01 * c) / file.rate * 4294967296.0);
        const uint32_t step2 = uint32_t(f2 / file.rate * 4294967296.0);
        uint32_t p1 = 0, p2 = 0;
        for (int64_t i = 0; i < n; ++i) {
            p1 += step1;
            p2 += step2;
            r = r * 1664525u + 1013904223u;
            const double env = 0.55 + 0.45 * sine[size_t((i / 4410) % table)];
            const double noise = (double(int32_t(r)) / 2147483648.0) * 0.15;
            double v = env * (0.5 * sine[p1 >> 20] + 0.3 * sine[p2 >> 20] + noise);
            if (i % (300 * int64_t(file.rate)) < 3 * int64_t(file.rate)) v = 0;
            x[i] = int16_t(std::lrint(std::clamp(v, -1.0, 1.0) * 32767));
        }
    }
    return file;
}

struct Column {
    int64_t j, e;
};

// A full-file redraw of a 1000-pixel box: columns 1 … 999, each from the
// previous column's last index to its own.
std::vector<Column> columns(int64_t n, int rate, double seconds) {
    std::vector<Column> out;
    const int width = 1000;
    int64_t j = 0;
    for (int x = 1; x < width; ++x) {
        const int64_t e = std::llrint(rate * (seconds * x / width));
        out.push_back({j, e});
        j = e;
    }
    (void)n;
    return out;
}

struct Box {
    const File* file;
    int channel;
    double factor;
};

// Redraws the four boxes through the given sources; returns a checksum of
// the answers (the same for both ways, or the benchmark fails).
template <class MakeRaw, class MakeAp>
double redraw(const std::vector<Box>& boxes, bool allpass, const std::vector<Column>& cols, MakeRaw make_raw,
              MakeAp make_ap, std::vector<double>& answers) {
    answers.clear();
    for (const Box& b : boxes) {
        if (allpass) {
            auto src = make_ap(b);
            src->setFactor(b.factor);
            for (const Column& c : cols) {
                double lo = 0, hi = 0;
                if (src->minmax(c.j, c.e, lo, hi)) answers.insert(answers.end(), {lo, hi});
            }
        }
        auto src = make_raw(b);
        src->setFactor(b.factor);
        for (const Column& c : cols) {
            double lo = 0, hi = 0;
            if (src->minmax(c.j, c.e, lo, hi)) answers.insert(answers.end(), {lo, hi});
        }
    }
    double sum = 0;
    for (double v : answers) sum += v;
    return sum;
}

}  // namespace

int main(int argc, char** argv) {
    const double minutes = argc > 1 ? std::atof(argv[1]) : 60;
    const int reps = argc > 2 ? std::atoi(argv[2]) : 3;
    const int64_t n = std::llrint(minutes * 60 * 44100);
    std::printf("two stereo files of %.1f min at 44100 Hz (%lld samples per channel), %d runs each\n", minutes,
                (long long)n, reps);
    const File files[2] = {make_file(n, 1, 220, 3300), make_file(n, 2, 97, 1700)};

    TRealFilterSection apfilter;
    apfilter.setSampFreq(44100);
    apfilter.setGain(1);
    apfilter.setFZero(-500);
    apfilter.setFPole(500);

    // ---- load: reading the file and measuring it, without and with the
    // summaries. The files are written once (by the store's own writer)
    // into a folder on the build's disk; the reads come from the page cache.
    const char* dir = argc > 3 ? argv[3] : ".";
    TWav wavs[2];
    QString paths[2];
    for (int k = 0; k < 2; ++k) {
        wavs[k].setSampfreq(files[k].rate);
        wavs[k].setNchans(2);
        wavs[k].setNsamples(int32_t(n));
        wavs[k].setSamples(files[k].rows);
        paths[k] = QStringLiteral("%1/range_summary_bench_%2.wav").arg(QString::fromLocal8Bit(dir)).arg(k);
        wavs[k].save_file(paths[k]);
    }
    double t_plain = 1e300, t_with = 1e300, m_plain = 1e300, m_with = 1e300, t_build = 1e300;
    TLevelTable table;
    std::vector<TChannelSummary> summaries[2];
    double check = 0;
    for (int r = 0; r < reps; ++r) {
        // Alternate which goes first, so that neither always follows the other.
        for (bool with : {r % 2 == 1, r % 2 == 0}) {
            double tl = 0, tm = 0;
            for (int k = 0; k < 2; ++k) {
                const double t0 = cpu_seconds();
                wavs[k].open_file(paths[k]);
                const double t1 = cpu_seconds();
                check += measure_levels(wavs[k], apfilter, k, table, TLevelEngine::Best, with ? &summaries[k] : nullptr).rms;
                const double t2 = cpu_seconds();
                tl += t2 - t0;
                tm += t2 - t1;
            }
            (with ? t_with : t_plain) = std::min(with ? t_with : t_plain, tl);
            (with ? m_with : m_plain) = std::min(with ? m_with : m_plain, tm);
        }
        double tb = 0;
        for (int k = 0; k < 2; ++k) {
            const double b0 = cpu_seconds();
            summaries[k] = build_summaries(wavs[k].samples(), n, TSectionStep::of(apfilter), 2);
            tb += cpu_seconds() - b0;
        }
        t_build = std::min(t_build, tb);
    }
    for (const QString& p : paths) QFile::remove(p);
    const size_t memory = memory_bytes(summaries[0]) + memory_bytes(summaries[1]);
    const double store = 2.0 * 2 * 2 * double(n);
    std::printf("load (read and measure both files): without summaries %.3f s, with %.3f s\n", t_plain, t_with);
    std::printf("measurement alone: without %.3f s, with %.3f s; summary build alone %.3f s\n", m_plain, m_with,
                t_build);
    std::printf("load ratio %.3f\n", t_with / t_plain);
    std::printf("measurement ratio %.3f\n", m_with / m_plain);
    std::printf("summary memory %.1f MB of %.1f MB samples: share %.4f\n", double(memory) / 1e6, store / 1e6,
                double(memory) / store);

    // ---- redraw of all four boxes.
    const double seconds = double(n) / 44100;
    const std::vector<Column> cols = columns(n, 44100, seconds);
    const std::vector<Box> boxes = {
        {&files[0], 0, 0.83}, {&files[0], 1, 0.83}, {&files[1], 0, 1.21}, {&files[1], 1, 1.21}};
    apfilter.setSampFreq(44100);
    auto straight_raw = [](const Box& b) {
        return std::make_unique<TRawStraightSource>(b.file->rows[size_t(b.channel)]);
    };
    auto straight_ap = [&](const Box& b) {
        return std::make_unique<TAllpassStraightSource>(b.file->rows[size_t(b.channel)], apfilter);
    };
    auto summary_raw = [&](const Box& b) {
        return std::make_unique<TRawSummarySource>(b.file->rows[size_t(b.channel)],
                                                   summaries[b.file == &files[0] ? 0 : 1][size_t(b.channel)]);
    };
    auto summary_ap = [&](const Box& b) {
        return std::make_unique<TAllpassSummarySource>(b.file->rows[size_t(b.channel)],
                                                       summaries[b.file == &files[0] ? 0 : 1][size_t(b.channel)]);
    };
    bool same = true;
    for (bool allpass : {false, true}) {
        double t_straight = 1e300, t_summary = 1e300;
        std::vector<double> a1, a2;
        for (int r = 0; r < reps; ++r) {
            double t0 = cpu_seconds();
            const double s1 = redraw(boxes, allpass, cols, straight_raw, straight_ap, a1);
            t_straight = std::min(t_straight, cpu_seconds() - t0);
            // The summary redraw is short: time a batch of them.
            const int batch = 20;
            t0 = cpu_seconds();
            double s2 = 0;
            for (int k = 0; k < batch; ++k) s2 = redraw(boxes, allpass, cols, summary_raw, summary_ap, a2);
            t_summary = std::min(t_summary, (cpu_seconds() - t0) / batch);
            same = same && s1 == s2 && a1.size() == a2.size() &&
                   std::equal(a1.begin(), a1.end(), a2.begin(), [](double x, double y) {
                       return std::memcmp(&x, &y, sizeof x) == 0;
                   });
            check += s1;
        }
        std::printf("redraw %s allpass: straight %.4f s, summaries %.6f s\n", allpass ? "with" : "without",
                    t_straight, t_summary);
        std::printf("redraw ratio %s %.1f\n", allpass ? "allpass" : "plain", t_straight / t_summary);
    }
    std::printf("answers identical: %s\n", same ? "yes" : "NO");
    std::printf("(checksum %g)\n", check);
    return same ? 0 : 1;
}
