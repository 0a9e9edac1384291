// Reads a sound file into a sample store, optionally converts it, or loads
// it as the window does, and prints what it holds: the program that
// bench/sound_read.sh and bench/rate_conversion.sh time against sox.
//   bench_sound_load read FILE          TWav::open_file
//   bench_sound_load convert FILE RATE  TWav::open_file, then convert_rate
//   bench_sound_load load FILE          TWorkspace::read_file (decoding,
//                                       levels and range summaries), then
//                                       the peak resident memory in KiB
#include "audio/rate_conversion.h"
#include "audio/wav_file.h"
#include "common/errors.h"
#include "dsp/filter_section.h"
#include "workspace/workspace.h"

#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
    const bool read = argc == 3 && std::strcmp(argv[1], "read") == 0;
    const bool convert = argc == 4 && std::strcmp(argv[1], "convert") == 0;
    const bool load = argc == 3 && std::strcmp(argv[1], "load") == 0;
    if (!read && !convert && !load) {
        std::fprintf(stderr, "usage: %s read FILE | convert FILE RATE | load FILE\n", argv[0]);
        return 2;
    }
    const QString name = QString::fromLocal8Bit(argv[2]);
    try {
        if (load) {
            wavrell::TWorkspace ws;
            const auto allpass = ws.allpass_copy();
            const wavrell::TLoadedFile f = wavrell::TWorkspace::read_file(0, name, *allpass);
            rusage ru{};
            ::getrusage(RUSAGE_SELF, &ru);
            std::printf("%d channels, %d samples at %d Hz, peak memory %ld KiB\n", f.wav->nchans(),
                        f.wav->nsamples(), f.wav->sampfreq(), ru.ru_maxrss);
            return 0;
        }
        wavrell::TWav wav;
        wav.open_file(name);
        if (convert) wavrell::convert_rate(wav, std::atoi(argv[3]));
        std::printf("%d channels, %d samples at %d Hz\n", wav.nchans(), wav.nsamples(), wav.sampfreq());
    } catch (const wavrell::Exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
