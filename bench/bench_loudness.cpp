// The load of one file as the window runs it (TWorkspace::read_file:
// reading into the sample store, the level measurement with the range
// summaries), without and with the loudness measurement, in turn, in the
// same process. Prints the median wall time and process CPU time of each
// and what the loudness adds, as a share of the load without it.
// Usage: bench_loudness FILE [runs]
#include "workspace/workspace.h"
#include "dsp/filter_section.h"

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

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE [runs]\n", argv[0]);
        return 2;
    }
    const QString file = QString::fromLocal8Bit(argv[1]);
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 7;
    TWorkspace ws;
    std::vector<double> wall[2], cpu[2];
    double lufs = 0;
    for (int r = 0; r <= runs; ++r) {  // run 0 warms the file cache
        for (int with = 0; with < 2; ++with) {
            auto allpass = ws.allpass_copy();
            const auto t0 = std::chrono::steady_clock::now();
            const double c0 = cpu_seconds();
            TLoadedFile f = TWorkspace::read_file(0, file, *allpass, nullptr, true, with == 1);
            const double c1 = cpu_seconds();
            const auto t1 = std::chrono::steady_clock::now();
            if (with && f.loudness.integrated) lufs = *f.loudness.integrated;
            if (r == 0) continue;
            wall[with].push_back(std::chrono::duration<double>(t1 - t0).count());
            cpu[with].push_back(c1 - c0);
        }
    }
    const double w0 = median(wall[0]), w1 = median(wall[1]), c0 = median(cpu[0]), c1 = median(cpu[1]);
    std::printf("load without loudness: %.4f s wall, %.4f s CPU\n", w0, c0);
    std::printf("load with loudness:    %.4f s wall, %.4f s CPU (integrated %.2f LUFS)\n", w1, c1, lufs);
    std::printf("loudness adds (wall): %.3f\n", (w1 - w0) / w0);
    std::printf("loudness adds (CPU): %.3f\n", (c1 - c0) / c0);
    return 0;
}
