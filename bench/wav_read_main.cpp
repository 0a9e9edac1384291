// Reads one WAV file into a sample store and prints its size: the program
// that bench/wav_read.sh times against sox.
#include "audio/wav_file.h"
#include "common/errors.h"

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FILE.wav\n", argv[0]);
        return 2;
    }
    try {
        wavrell::TWav wav;
        wav.open_file(QString::fromLocal8Bit(argv[1]));
        std::printf("%d channels, %d samples at %d Hz\n", wav.nchans(), wav.nsamples(), wav.sampfreq());
    } catch (const wavrell::Exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
