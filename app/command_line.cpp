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
#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>
#include <array>
#include <cmath>
#include <exception>
#include <functional>
#include <new>
#include <utility>

namespace wavrell {

namespace {

/// The message of memory that ran out while working on the given files.
QString memory_message(const QStringList& files) {
    if (files.size() == 1) return TWorkspace::memory_error(files[0]).message();
    if (files.size() == 2)
        return QStringLiteral("Cannot compare \"%1\" and \"%2\": not enough memory").arg(files[0], files[1]);
    return QStringLiteral("Not enough memory");
}

/// Runs one mode of the command line. Whatever ends it early ends the
/// program with a message on standard error and exit code 1, never with an
/// abort: the program's own errors with their text, memory that ran out
/// anywhere in the mode with "not enough memory" naming its files.
int run_mode(const TCommandLine& cl, FILE* err, const std::function<int()>& mode) {
    try {
        return mode();
    } catch (const Exception& e) {
        print(err, display_text(e.message()) + QLatin1Char('\n'));
    } catch (const std::bad_alloc&) {
        print(err, display_text(memory_message(cl.files)) + QLatin1Char('\n'));
    } catch (const std::exception& e) {
        print(err, QString::fromLocal8Bit(e.what()) + QLatin1Char('\n'));
    }
    return 1;
}

/// The start of a file as the alignment looks at it: at most `frames`
/// frames; memory that runs out names the file.
std::shared_ptr<const TAlignSignal> align_signal_of(const QString& file, int64_t frames) {
    try {
        TWav w;
        w.open_file(file, false, frames);
        return make_align_signal(w);
    } catch (const std::bad_alloc&) {
        throw TWorkspace::memory_error(file);
    }
}

/// A number of milliseconds with one decimal; a value that rounds to zero
/// reads "0.0" whatever its sign.
QString milliseconds_text(double ms) {
    QString t = QString::number(ms, 'f', 1);
    if (t == QLatin1String("-0.0")) t = QStringLiteral("0.0");
    return t;
}

QString align_status_key(TAlignStatus s) {
    switch (s) {
        case asaligned: return QStringLiteral("aligned");
        case asratesdiffer: return QStringLiteral("rates differ");
        case astooshort: return QStringLiteral("too short");
        case asweak: break;
    }
    return QStringLiteral("weak");
}

/// --align --json: one object, its keys in the order of the text line;
/// the offset, milliseconds and polarity are null when not aligned, the
/// correlation when nothing was correlated.
QByteArray align_json(const TAlignment& a) {
    const QJsonValue none(QJsonValue::Null);
    const bool correlated = a.status == asaligned || a.status == asweak;
    const std::pair<const char*, QJsonValue> fields[] = {
        {"offset_frames", a.aligned() ? QJsonValue(qint64(a.offset)) : none},
        {"ms", a.aligned() ? QJsonValue(a.milliseconds()) : none},
        {"r", correlated ? QJsonValue(a.r) : none},
        {"polarity", a.aligned() ? QJsonValue(a.inverted ? QStringLiteral("inverted") : QStringLiteral("normal"))
                                 : none},
        {"status", align_status_key(a.status)},
    };
    QByteArray b = "{";
    for (const auto& [key, value] : fields) {
        // Each value as QJsonDocument writes it (an array of one, unwrapped).
        const QByteArray v = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
        if (b.size() > 1) b += ',';
        b += '"' + QByteArray(key) + "\":" + v.mid(1, v.size() - 2);
    }
    return b + "}\n";
}

/// --align: reads the formats of both files, then of their samples only
/// what the estimate looks at (the first kAlignSpanSeconds, and of file 2
/// no more than file 1 gave), estimates, prints one line.
int run_align(const TCommandLine& cl, FILE* out, FILE* err) {
    TAlignment a;
    int32_t rate[2] = {0, 0};
    for (int k = 0; k < 2; ++k) {
        TWav head;
        head.open_file(cl.files[k], true);
        rate[k] = head.sampfreq();
    }
    a.sampfreq1 = rate[0];
    a.sampfreq2 = rate[1];
    if (rate[0] != rate[1]) {
        a.status = asratesdiffer;
    } else {
        const int64_t span = std::llround(kAlignSpanSeconds * rate[0]);
        const auto first = align_signal_of(cl.files[0], span);
        const auto second = align_signal_of(cl.files[1], std::min<int64_t>(span, int64_t(first->sum.size())));
        a = estimate_alignment(*first, *second);
    }
    if (cl.json) {
        const QByteArray b = align_json(a);
        std::fwrite(b.constData(), 1, size_t(b.size()), out);
        std::fflush(out);
        return a.aligned() ? 0 : 2;
    }
    // Machine-readable: "." as decimal point whatever the locale.
    if (a.aligned()) {
        print(out, QStringLiteral("offset=%1%2 ms=%3 r=%4 polarity=%5\n")
                       .arg(a.offset > 0 ? QStringLiteral("+") : QString())
                       .arg(a.offset)
                       .arg(milliseconds_text(a.milliseconds()))
                       .arg(a.r, 0, 'f', 3)
                       .arg(a.inverted ? QStringLiteral("inverted") : QStringLiteral("normal")));
        return 0;
    }
    if (a.status == asratesdiffer) {
        print(err, QStringLiteral("%1 (%2 Hz) and %3 (%4 Hz) have different sampling rates\n")
                       .arg(cl.files[0]).arg(a.sampfreq1).arg(cl.files[1]).arg(a.sampfreq2));
        print(out, QStringLiteral("not aligned: sampling rates differ\n"));
    } else if (a.status == astooshort) {
        print(err, QStringLiteral("%1 or %2 is too short to align (less than %3 s)\n")
                       .arg(cl.files[0], cl.files[1]).arg(kAlignMinSeconds));
        print(out, QStringLiteral("not aligned: too short\n"));
    } else {
        print(out, QStringLiteral("not aligned r=%1\n").arg(a.r, 0, 'f', 3));
    }
    return 2;
}

/// The options of --spectrogram (-o, --size, --fft, --log, in that order).
template <class Error>
TCommandLine parse_spectrogram(const QCommandLineParser& p, const std::array<const QCommandLineOption*, 4>& o,
                               TCommandLine& cl, const Error& error) {
    for (const char* other : {"levels", "align", "no-normalize", "loudness", "match", "json", "peak"})
        if (p.isSet(QLatin1String(other)))
            return error(QStringLiteral("--%1 cannot be combined with --spectrogram").arg(QLatin1String(other)));
    if (cl.files.isEmpty() || cl.files.size() > 2) return error(QStringLiteral("--spectrogram takes one or two files"));
    cl.output = p.value(*o[0]);
    if (cl.output.isEmpty()) return error(QStringLiteral("--spectrogram needs the picture's file: -o OUT.png"));
    const QStringList wh = p.value(*o[1]).split(QLatin1Char('x'));
    bool okw = false, okh = false;
    if (wh.size() == 2) {
        cl.width = wh[0].toInt(&okw);
        cl.height = wh[1].toInt(&okh);
    }
    if (!okw || !okh || cl.width < 16 || cl.height < 16 || cl.width > 16384 || cl.height > 4096)
        return error(QStringLiteral("--size takes WIDTHxHEIGHT from 16x16 to 16384x4096, not \"%1\"").arg(p.value(*o[1])));
    bool okn = false;
    cl.fftsize = p.value(*o[2]).toInt(&okn);
    if (!okn || cl.fftsize < 1024 || cl.fftsize > 16384 || (cl.fftsize & (cl.fftsize - 1)) != 0)
        return error(QStringLiteral("--fft takes 1024, 2048, 4096, 8192 or 16384, not \"%1\"").arg(p.value(*o[2])));
    cl.logfreq = p.isSet(*o[3]);
    cl.mode = TCommandLine::Mode::Spectrogram;
    return cl;
}

/// --levels: loads the files into a workspace as the window does and prints
/// their information lines or their levels as JSON.
int run_levels(const TCommandLine& cl, FILE* out) {
    TWorkspace ws;
    ws.setBuildSummaries(false);  // nothing draws the files here
    ws.setAutoAlign(false);       // the report is of levels only
    ws.setMatchBy(cl.matchby);
    ws.setPeakTarget(cl.peak);
    ws.setMeasureLoudness(cl.loudness || cl.json || ws.matching_needs_loudness());
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
        "when the files do not correlate well enough (r below 0.5), \"not aligned:\n"
        "sampling rates differ\" or \"not aligned: too short\" when nothing could be\n"
        "correlated; with --json one JSON object with offset_frames, ms, r, polarity\n"
        "and status instead.\n"
        "With --spectrogram, the spectrogram of FILE1 (above that of FILE2, converted\n"
        "to FILE1's rate and aligned to it) is written to the PNG file given with -o;\n"
        "exit code 1 when a file cannot be read, 2 when the picture cannot be written.\n"
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
                       "factors in force (null for an empty slot) instead of the lines. With --align: print "
                       "the estimate as one JSON object."));
    const QCommandLineOption diff(QStringLiteral("diff"),
                                  QStringLiteral("Prints the null test of FILE1 against FILE2 and exits."));
    const QCommandLineOption peak(
        QStringLiteral("peak"),
        QStringLiteral("With --levels: level matching raises the larger sample peak to 0 dBFS (sample, the "
                       "default) or the larger true peak to -1 dBTP (true)."),
        QStringLiteral("sample|true"), peak_target_key(ptsample));
    const QCommandLineOption spectrogram(QStringLiteral("spectrogram"),
                                         QStringLiteral("Writes the spectrogram of FILE1 [FILE2] to a PNG file and exits."));
    const QCommandLineOption output(QStringList{QStringLiteral("o"), QStringLiteral("output")},
                                    QStringLiteral("With --spectrogram: the PNG file to write."),
                                    QStringLiteral("OUT.png"));
    const QCommandLineOption size(QStringLiteral("size"),
                                  QStringLiteral("With --spectrogram: width and height of each file's picture "
                                                 "(1600x600 by default)."),
                                  QStringLiteral("WxH"), QStringLiteral("1600x600"));
    const QCommandLineOption fft(QStringLiteral("fft"),
                                 QStringLiteral("With --spectrogram: transform size, 1024, 2048, 4096 (the default), "
                                                "8192 or 16384."),
                                 QStringLiteral("N"), QStringLiteral("4096"));
    const QCommandLineOption logfreq(QStringLiteral("log"),
                                     QStringLiteral("With --spectrogram: logarithmic frequency axis."));
    p.addOption(help);
    p.addOption(spectrogram);
    p.addOption(output);
    p.addOption(size);
    p.addOption(fft);
    p.addOption(logfreq);
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
    if (p.isSet(spectrogram)) {
        if (p.isSet(diff)) return error(QStringLiteral("--diff cannot be combined with --spectrogram"));
        return parse_spectrogram(p, {&output, &size, &fft, &logfreq}, cl, error);
    }
    for (const QCommandLineOption* o : {&output, &size, &fft, &logfreq})
        if (p.isSet(*o)) return error(QStringLiteral("--%1 is only taken with --spectrogram").arg(o->names().last()));
    if (p.isSet(diff)) {
        for (const QCommandLineOption* o : {&levels, &align, &nonorm, &loudness, &match, &peak})
            if (p.isSet(*o)) return error(QStringLiteral("--diff and --%1 cannot be combined").arg(o->names().first()));
        if (cl.files.size() != 2) return error(QStringLiteral("--diff takes two files"));
        cl.mode = TCommandLine::Mode::Diff;
        return cl;
    }
    if (p.isSet(align)) {
        if (p.isSet(levels)) return error(QStringLiteral("--align and --levels cannot be combined"));
        for (const QCommandLineOption* o : {&nonorm, &loudness, &match, &peak})
            if (p.isSet(*o)) return error(QStringLiteral("--%1 is only taken with --levels").arg(o->names().first()));
        if (cl.files.size() != 2) return error(QStringLiteral("--align takes two files"));
        cl.mode = TCommandLine::Mode::Align;
        return cl;
    }
    if (!p.isSet(levels)) {
        // The window opens, with the files loaded into file 1 and file 2; a
        // file manager may hand over more, which the window names.
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
        case TCommandLine::Mode::Window:
        case TCommandLine::Mode::Spectrogram: return 1;  // run by the window library
        case TCommandLine::Mode::Align: return run_mode(cl, err, [&] { return run_align(cl, out, err); });
        case TCommandLine::Mode::Diff:
            return run_mode(cl, err, [&] { return run_diff(cl.files[0], cl.files[1], cl.json, out, err); });
        case TCommandLine::Mode::Levels: return run_mode(cl, err, [&] { return run_levels(cl, out); });
    }
    return 1;
}

}  // namespace wavrell
