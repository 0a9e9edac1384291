#pragma once

#include "workspace/level_matching.h"

#include <QString>
#include <QStringList>

#include <cstdio>

namespace wavrell {

/// What the program was asked to do on its command line.
struct TCommandLine {
    enum class Mode {
        Window,  ///< no arguments: start the window
        Levels,  ///< --levels: print the information lines of the files
        Align,   ///< --align: print the offset of file 2 against file 1
        Spectrogram,  ///< --spectrogram: write the files' spectrogram picture
        Diff,    ///< --diff: print the null test of file 1 against file 2
        Help,    ///< --help: print `text` on standard output
        Error,   ///< unusable arguments: print `text` on standard error
    };
    Mode mode = Mode::Window;
    bool normalize = true;  ///< false with --no-normalize
    bool loudness = false;  ///< --loudness: the lines with their loudness fields
    bool json = false;      ///< --json: JSON instead of the lines (--levels, --align)
    TMatchBy matchby = mbrms;  ///< --match=rms|lufs|shortterm
    /// --peak: what the larger matched peak is raised to (sample: 0 dBFS,
    /// true: -1 dBTP).
    TPeakTarget peak = ptsample;
    QStringList files;      ///< one or two files for --levels, two for --align
    QString text;           ///< help text or error message
    // --spectrogram: -o OUT.png, --size WxH (of each file's plot), --fft N, --log.
    QString output;
    int width = 1600, height = 600;
    int fftsize = 4096;
    bool logfreq = false;
};

/// Prints text as UTF-8; file names keep the bytes they were given with,
/// also those that are not UTF-8.
void print(FILE* f, const QString& text);

/// Parses the program's arguments (args[0] is the program name).
TCommandLine parse_command_line(const QStringList& args);

/// Runs a command line that needs no window (Levels, Align, Help, Error; the
/// window library runs Spectrogram, see app/sonogram_command.h) and
/// returns the exit code: 0 on success, 1 when a file cannot be loaded or the
/// arguments are unusable. --levels loads the files into slots 0 and 1 of a
/// workspace as the window does (normalization switched on first unless
/// --no-normalize, matching by the criterion of --match; no alignment) and
/// prints its two information lines, one per line, or with --json the
/// levels of both slots as JSON (levels_json). The loudness is measured with
/// --loudness, --json or a loudness criterion; the lines then carry the
/// loudness fields. --align reads both files and prints
/// "offset=<frames> ms=<ms> r=<r> polarity=<normal|inverted>" (exit 0), or
/// "not aligned r=<r>" for a weak correlation, "not aligned: sampling rates
/// differ" or "not aligned: too short" when nothing was correlated (exit
/// 2, the reason also on standard error); with --json one JSON object
/// (offset_frames, ms, r, polarity, status) instead. It decodes the first
/// kAlignSpanSeconds of file 1 and of file 2 no more than file 1 gave.
/// Every mode runs inside one guard: an error of the program's, or memory
/// running out anywhere in the mode, ends it with a message naming the
/// file(s) on standard error and exit code 1, never with an abort (modes
/// added later are dispatched through it too). Touches no settings.
int run_command_line(const TCommandLine& cl, FILE* out = stdout, FILE* err = stderr);

}  // namespace wavrell
