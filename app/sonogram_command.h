#pragma once

#include "app/command_line.h"

/// `wavrell --spectrogram FILE [FILE2] -o OUT.png`: writes the spectrogram
/// picture of the files (file 2 converted to file 1's rate and aligned to
/// it, as the window does) without a display, and returns the exit code: 0
/// written, 1 when a file cannot be read (named on standard error), 2 when
/// OUT.png cannot be written (named). Lives in the window library, which
/// brings the painting; looked up by its C name.
extern "C" __attribute__((visibility("default"))) int wavrell_spectrogram_main(int argc, char** argv,
                                                                                const wavrell::TCommandLine& cl);

/// Type of wavrell_spectrogram_main, for the program's lookup.
using TSpectrogramMain = int (*)(int argc, char** argv, const wavrell::TCommandLine& cl);
