#include "app/command_line.h"

#include "app/diff_command.h"
#include "workspace/alignment.h"
#include "workspace/levels_json.h"
#include "workspace/workspace.h"
#include "audio/wav_file.h"
#include "common/errors.h"
#include "common/native_file_name.h"

#include <QCommandLineParser>
#include <QFileInfo>

#include <exception>
#include <new>
#include <cmath>

namespace wavrell {

namespace {

/// --align: reads the start of both files (as much as the alignment looks
/// at), estimates, prints one line.
int run_align(const TCommandLine& cl, FILE* out, FILE* err) {
    std::shared_ptr<const TAlignSignal> signal[2];
    TAlignment a;
    try {
        for (int k = 0; k < 2; ++k) {
            TWav w;
            w.open_file(cl.files[k], true);
            w.open_file(cl.files[k], false, std::llround(kAlignSpanSeconds * w.sampfreq()));
            signal[k] = make_align_signal(w);
        }
        a = estimate_alignment(*signal[0], *signal[1]);
    } catch (const Exception& e) {
        print(err, display_text(e.message()) + QLatin1Char('\n'));
        return 1;
    }
    // Machine-readable: "." as decimal point whatever the locale.
    if (a.aligned()) {
        print(out, QStringLiteral("offset=%1%2 ms=%3 r=%4 polarity=%5\n")
                       .arg(a.offset > 0 ? QStringLiteral("+") : QString())
                       .arg(a.offset)
                       .arg(a.milliseconds(), 0, 'f', 1)
                       .arg(a.r, 0, 'f', 3)
                       .arg(a.inverted ? QStringLiteral("inverted") : QStringLiteral("normal")));
        return 0;
    }
    if (a.status == asratesdiffer)
        print(err, QStringLiteral("%1 (%2 Hz) and %3 (%4 Hz) have different sampling rates\n")
                       .arg(cl.files[0]).arg(a.sampfreq1).arg(cl.files[1]).arg(a.sampfreq2));
    else if (a.status == astooshort)
        print(err, QStringLiteral("%1 or %2 is too short to align (less than %3 s)\n")
                       .arg(cl.files[0], cl.files[1]).arg(kAlignMinSeconds));
    print(out, QStringLiteral("not aligned r=%1\n").arg(a.r, 0, 'f', 3));
    return 2;
}

}  // namespace

void print(FILE* f, const QString& text) {
    const QByteArray b = native_file_name(text);
    std::fwrite(b.constData(), 1, size_t(b.size()), f);
    std::fflush(f);
}

TCommandLine parse_command_line(const QStringList& args) {
    TCommandLine cl;
    QCommandLineParser p;
    p.setApplicationDescription(QStringLiteral(
        "Compares two recordings (WAV, FLAC, Ogg Vorbis, Opus, MP3, AIFF, W64, RF64,\n"
        "CAF). The window opens with FILE1 and FILE2 loaded into file 1 and file 2\n"
        "(both optional); a file at another sampling rate than the one before it is\n"
        "converted to that rate.\n"
        "With --levels, the files are loaded into file 1 and file 2 as the window\n"
        "would load them and the two information lines (crest factor, RMS and peak\n"
        "in dB relative to full scale, file name; \"-\" for an empty slot) are\n"
        "printed, one per line; no window opens. --loudness adds each file's\n"
        "integrated loudness, loudness range and true peak (ITU-R BS.1770, EBU R128)\n"
        "to the lines; --json prints all levels of both files as JSON instead.\n"
        "With --align, the offset of FILE2 against FILE1 is printed as\n"
        "\"offset=<frames> ms=<milliseconds> r=<correlation> polarity=<normal|inverted>\"\n"
        "(a positive offset: FILE2 starts later); exit code 2 and \"not aligned r=<...>\"\n"
        "when the files do not correlate well enough (r below 0.5).\n"
        "With --diff, file 2 is lined up with file 1 to a fraction of a sample, its\n"
        "clock drift corrected and its gain matched, and the null test is printed:\n"
        "null depth, median, 95th percentile and maximum of the 400 ms blocks, gain,\n"
        "delay and drift (--json: one object); exit code 2 when the files cannot be\n"
        "aligned or do not overlap."));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Shows this help and exits."));
    const QCommandLineOption levels(QStringLiteral("levels"),
                                    QStringLiteral("Prints the information lines of FILE1 [FILE2] and exits."));
    const QCommandLineOption nonorm(QStringLiteral("no-normalize"),
                                    QStringLiteral("With --levels: leave level matching off (it is on by default)."));
    const QCommandLineOption align(QStringLiteral("align"),
                                   QStringLiteral("Prints the offset of FILE2 against FILE1 and exits."));
    const QCommandLineOption loudness(
        QStringLiteral("loudness"),
        QStringLiteral("With --levels: measure the loudness too and add it to the lines (LUFS, LRA, dBTP)."));
    const QCommandLineOption match(
        QStringLiteral("match"),
        QStringLiteral("With --levels: match the files by RMS (the default), by integrated loudness (lufs) or by "
                       "maximum short-term loudness (shortterm)."),
        QStringLiteral("rms|lufs|shortterm"), match_by_key(mbrms));
    const QCommandLineOption json(
        QStringLiteral("json"),
        QStringLiteral("With --levels: print one JSON array of both files' own levels and loudness and the "
                       "factors in force (null for an empty slot) instead of the lines."));
    const QCommandLineOption diff(QStringLiteral("diff"),
                                  QStringLiteral("Prints the null test of FILE1 against FILE2 and exits."));
    const QCommandLineOption peak(
        QStringLiteral("peak"),
        QStringLiteral("With --levels: level matching raises the larger sample peak to 0 dBFS (sample, the "
                       "default) or the larger true peak to -1 dBTP (true)."),
        QStringLiteral("sample|true"), peak_target_key(ptsample));
    p.addOption(help);
    p.addOption(diff);
    p.addOption(levels);
    p.addOption(align);
    p.addOption(nonorm);
    p.addOption(loudness);
    p.addOption(match);
    p.addOption(json);
    p.addOption(peak);
    p.addPositionalArgument(QStringLiteral("FILE1"), QStringLiteral("Sound file for file 1."),
                            QStringLiteral("[FILE1"));
    p.addPositionalArgument(QStringLiteral("FILE2"), QStringLiteral("Sound file for file 2."),
                            QStringLiteral("[FILE2]]"));

    const QString prog = args.isEmpty() ? QStringLiteral("wavrell") : args.first();
    const auto error = [&](const QString& what) {
        cl.mode = TCommandLine::Mode::Error;
        cl.text = QStringLiteral("%1: %2\nTry '%1 --help'.\n").arg(prog, what);
        return cl;
    };
    if (!p.parse(args)) return error(p.errorText());
    if (p.isSet(help)) {
        cl.mode = TCommandLine::Mode::Help;
        cl.text = p.helpText().replace(QLatin1String("<executable_name>"), QFileInfo(prog).fileName());
        return cl;
    }
    cl.normalize = !p.isSet(nonorm);
    cl.loudness = p.isSet(loudness);
    cl.json = p.isSet(json);
    const std::optional<TMatchBy> by = match_by_from_key(p.value(match));
    if (!by)
        return error(QStringLiteral("--match takes rms, lufs or shortterm, not \"%1\"").arg(p.value(match)));
    cl.matchby = *by;
    const std::optional<TPeakTarget> target = peak_target_from_key(p.value(peak));
    if (!target)
        return error(QStringLiteral("--peak takes sample or true, not \"%1\"").arg(p.value(peak)));
    cl.peak = *target;
    cl.files = p.positionalArguments();
    if (p.isSet(diff)) {
        for (const QCommandLineOption* o : {&levels, &align, &nonorm, &loudness, &match})
            if (p.isSet(*o)) return error(QStringLiteral("--diff and --%1 cannot be combined").arg(o->names().first()));
        if (cl.files.size() != 2) return error(QStringLiteral("--diff takes two files"));
        cl.mode = TCommandLine::Mode::Diff;
        return cl;
    }
    if (p.isSet(align)) {
        if (p.isSet(levels)) return error(QStringLiteral("--align and --levels cannot be combined"));
        if (p.isSet(nonorm)) return error(QStringLiteral("--no-normalize is only taken with --levels"));
        if (cl.files.size() != 2) return error(QStringLiteral("--align takes two files"));
        cl.mode = TCommandLine::Mode::Align;
        return cl;
    }
    if (!p.isSet(levels)) {
        // The window opens, with the files loaded into file 1 and file 2.
        if (cl.files.size() > 2) return error(QStringLiteral("at most two files can be opened"));
        for (const QCommandLineOption* o : {&nonorm, &loudness, &match, &json, &peak})
            if (p.isSet(*o)) return error(QStringLiteral("--%1 is only taken with --levels").arg(o->names().first()));
        return cl;
    }
    if (cl.files.isEmpty() || cl.files.size() > 2)
        return error(QStringLiteral("--levels takes one or two files"));
    cl.mode = TCommandLine::Mode::Levels;
    return cl;
}

int run_command_line(const TCommandLine& cl, FILE* out, FILE* err) {
    switch (cl.mode) {
        case TCommandLine::Mode::Help: print(out, cl.text); return 0;
        case TCommandLine::Mode::Error: print(err, cl.text); return 1;
        case TCommandLine::Mode::Window: return 1;
        case TCommandLine::Mode::Align: return run_align(cl, out, err);
        case TCommandLine::Mode::Diff: return run_diff(cl.files[0], cl.files[1], cl.json, out, err);
        case TCommandLine::Mode::Levels: break;
    }
    TWorkspace ws;
    ws.setBuildSummaries(false);  // nothing draws the files here
    ws.setAutoAlign(false);       // the report is of levels only
    ws.setMatchBy(cl.matchby);
    ws.setPeakTarget(cl.peak);
    ws.setMeasureLoudness(cl.loudness || cl.json || ws.matching_needs_loudness());
    try {
        if (cl.normalize) ws.setNormalize(true);
        for (int slot = 0; slot < cl.files.size(); ++slot) {
            try {
                ws.load_file(slot, cl.files[slot]);
            } catch (const std::bad_alloc&) {
                // Loading converts its own; this is memory that ran out
                // around it (taking the file in, the information lines).
                throw TWorkspace::memory_error(cl.files[slot]);
            }
        }
    } catch (const Exception& e) {
        print(err, display_text(e.message()) + QLatin1Char('\n'));
        return 1;
    } catch (const std::exception& e) {
        // Nothing may end the program with an abort.
        print(err, QString::fromLocal8Bit(e.what()) + QLatin1Char('\n'));
        return 1;
    }
    if (cl.json) {
        // JSON is UTF-8 whatever the locale.
        const QByteArray b = levels_json(ws);
        std::fwrite(b.constData(), 1, size_t(b.size()), out);
        std::fflush(out);
        return 0;
    }
    print(out, ws.infoline(0) + QLatin1Char('\n') + ws.infoline(1) + QLatin1Char('\n'));
    return 0;
}

}  // namespace wavrell
