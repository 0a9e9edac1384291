#include "app/command_line.h"

#include "workspace/workspace.h"
#include "common/errors.h"
#include "common/native_file_name.h"

#include <QCommandLineParser>
#include <QFileInfo>

#include <exception>
#include <new>

namespace wavrell {

namespace {

/// Prints text as UTF-8; file names keep the bytes they were given with,
/// also those that are not UTF-8.
void print(FILE* f, const QString& text) {
    const QByteArray b = native_file_name(text);
    std::fwrite(b.constData(), 1, size_t(b.size()), f);
    std::fflush(f);
}

}  // namespace

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
        "printed, one per line; no window opens."));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Shows this help and exits."));
    const QCommandLineOption levels(QStringLiteral("levels"),
                                    QStringLiteral("Prints the information lines of FILE1 [FILE2] and exits."));
    const QCommandLineOption nonorm(QStringLiteral("no-normalize"),
                                    QStringLiteral("With --levels: leave level matching off (it is on by default)."));
    p.addOption(help);
    p.addOption(levels);
    p.addOption(nonorm);
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
    cl.files = p.positionalArguments();
    if (!p.isSet(levels)) {
        // The window opens, with the files loaded into file 1 and file 2.
        if (cl.files.size() > 2) return error(QStringLiteral("at most two files can be opened"));
        if (p.isSet(nonorm)) return error(QStringLiteral("--no-normalize is only taken with --levels"));
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
        case TCommandLine::Mode::Levels: break;
    }
    TWorkspace ws;
    ws.setBuildSummaries(false);  // nothing draws the files here
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
    print(out, ws.infoline(0) + QLatin1Char('\n') + ws.infoline(1) + QLatin1Char('\n'));
    return 0;
}

}  // namespace wavrell
