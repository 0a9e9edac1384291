// The load of one file as the window runs it (TWorkspace::read_file:
// reading into the sample store, the level measurement with the range
// summaries), without and with the loudness measurement, in turn, in the
// same process. Prints the median wall time and process CPU time of each
// and what the loudness adds, as a share of the load without it; and, as
// the floor of any loudness measurement by libebur128, its K-weighting
// filter alone (momentary mode, nothing else asked) over the same samples
// on one thread.
// Usage: bench_loudness FILE [runs]
#include "workspace/workspace.h"
#include "audio/wav_file.h"
#include "dsp/filter_section.h"

#include <ebur128.h>

#include <QString>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

using namespace wavrell;

namespace {

double cpu_seconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + 1e-9 * double(t.tv_nsec);
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

/// libebur128's K-weighting of the whole store, fed 100 ms at a time.
double filter_only_seconds(const TWav& w) {
    const int nch = w.nchans();
    const int64_t step = std::max<int64_t>(1, w.sampfreq() / 10);
    std::vector<int16_t> buf(size_t(step * nch));
    const auto t0 = std::chrono::steady_clock::now();
    ebur128_state* s = ebur128_init(unsigned(nch), static_cast<unsigned long>(w.sampfreq()), EBUR128_MODE_M);
    for (int64_t pos = 0; pos < w.nsamples(); pos += step) {
        const int64_t count = std::min<int64_t>(step, w.nsamples() - pos);
        for (int c = 0; c < nch; ++c)
            for (int64_t i = 0; i < count; ++i) buf[size_t(i * nch + c)] = w.samples()[size_t(c)][size_t(pos + i)];
        ebur128_add_frames_short(s, buf.data(), size_t(count));
    }
    ebur128_destroy(&s);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE [runs]\n", argv[0]);
        return 2;
    }
    const QString file = QString::fromLocal8Bit(argv[1]);
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 7;
    TWorkspace ws;
    std::vector<double> wall[2], cpu[2], filter;
    double lufs = 0;
    for (int r = 0; r <= runs; ++r) {  // run 0 warms the file cache
        for (int with = 0; with < 2; ++with) {
            auto allpass = ws.allpass_copy();
            const auto t0 = std::chrono::steady_clock::now();
            const double c0 = cpu_seconds();
            TLoadOptions options;
            options.loudness = with == 1;
            TLoadedFile f = TWorkspace::read_file(0, file, *allpass, nullptr, options);
            const double c1 = cpu_seconds();
            const auto t1 = std::chrono::steady_clock::now();
            if (with && f.loudness.integrated) lufs = *f.loudness.integrated;
            if (r == 0) continue;
            if (with) filter.push_back(filter_only_seconds(*f.wav));
            wall[with].push_back(std::chrono::duration<double>(t1 - t0).count());
            cpu[with].push_back(c1 - c0);
        }
    }
    const double w0 = median(wall[0]), w1 = median(wall[1]), c0 = median(cpu[0]), c1 = median(cpu[1]);
    std::printf("load without loudness: %.4f s wall, %.4f s CPU\n", w0, c0);
    std::printf("load with loudness:    %.4f s wall, %.4f s CPU (integrated %.2f LUFS)\n", w1, c1, lufs);
    std::printf("loudness adds (wall): %.3f\n", (w1 - w0) / w0);
    std::printf("loudness adds (CPU): %.3f\n", (c1 - c0) / c0);
    std::printf("libebur128's K-weighting alone: %.4f s, %.3f of the load without loudness\n", median(filter),
                median(filter) / w0);
    return 0;
}
