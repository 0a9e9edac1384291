// Writes the two demo recordings: the original excerpt and a loud,
// peak-limited master of it. Usage: wavrell_make_demo ORIGINAL.wav LOUD.wav
#include "audio/wav_file.h"
#include "common/errors.h"
#include "demo/demo_song.h"
#include "demo/loudness_processor.h"

#include <QString>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

void save_16bit(const wavrell::TStereo& s, const QString& path) {
    wavrell::TWav wav;
    wav.setNchans(2);
    wav.setSampfreq(wavrell::demo_rate);
    wav.setNsamples(int32_t(s.size()));
    auto quantize = [](double v) {
        return int16_t(std::clamp(std::nearbyint(v * 32768.0), -32768.0, 32767.0));
    };
    for (std::size_t i = 0; i < s.size(); ++i) {
        wav.samples()[0][i] = quantize(s.left[i]);
        wav.samples()[1][i] = quantize(s.right[i]);
    }
    wav.save_file(path);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s ORIGINAL.wav LOUD.wav\n", argv[0]);
        return 2;
    }
    try {
        const wavrell::TStereo song = wavrell::make_demo_song();
        save_16bit(song, QString::fromLocal8Bit(argv[1]));
        save_16bit(wavrell::make_loud(song), QString::fromLocal8Bit(argv[2]));
    } catch (const wavrell::Exception& e) {
        std::fprintf(stderr, "%s\n", qPrintable(QString(e.message()).replace(QLatin1Char('\r'), QLatin1Char('\n'))));
        return 1;
    }
    return 0;
}
