#include "app/command_line.h"

#include "workspace/levels_json.h"
#include "workspace/workspace.h"
#include "common/errors.h"

#include <QCommandLineParser>
#include <QFileInfo>

namespace wavrell {

namespace {

void print(FILE* f, const QString& text) {
    const QByteArray b = text.toLocal8Bit();
    std::fwrite(b.constData(), 1, size_t(b.size()), f);
    std::fflush(f);
}

}  // namespace

TCommandLine parse_command_line(const QStringList& args) {
    TCommandLine cl;
    QCommandLineParser p;
    p.setApplicationDescription(QStringLiteral(
        "Compares two WAV recordings. The window opens with FILE1 and FILE2 loaded\n"
        "into file 1 and file 2 (both optional).\n"
        "With --levels, the files are loaded into file 1 and file 2 as the window\n"
        "would load them and the two information lines (crest factor, RMS and peak\n"
        "in dB relative to full scale, file name; \"-\" for an empty slot) are\n"
        "printed, one per line; no window opens. --loudness adds each file's\n"
        "integrated loudness, loudness range and true peak (ITU-R BS.1770, EBU R128)\n"
        "to the lines; --json prints all levels of both files as JSON instead."));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Shows this help and exits."));
    const QCommandLineOption levels(QStringLiteral("levels"),
                                    QStringLiteral("Prints the information lines of FILE1 [FILE2] and exits."));
    const QCommandLineOption nonorm(QStringLiteral("no-normalize"),
                                    QStringLiteral("With --levels: leave level matching off (it is on by default)."));
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
    p.addOption(help);
    p.addOption(levels);
    p.addOption(nonorm);
    p.addOption(loudness);
    p.addOption(match);
    p.addOption(json);
    p.addPositionalArgument(QStringLiteral("FILE1"), QStringLiteral("WAV file for file 1."),
                            QStringLiteral("[FILE1"));
    p.addPositionalArgument(QStringLiteral("FILE2"), QStringLiteral("WAV file for file 2."),
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
    cl.files = p.positionalArguments();
    if (!p.isSet(levels)) {
        // The window opens, with the files loaded into file 1 and file 2.
        if (cl.files.size() > 2) return error(QStringLiteral("at most two files can be opened"));
        for (const QCommandLineOption* o : {&nonorm, &loudness, &match, &json})
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
        case TCommandLine::Mode::Levels: break;
    }
    TWorkspace ws;
    ws.setBuildSummaries(false);  // nothing draws the files here
    ws.setMeasureLoudness(cl.loudness || cl.json || cl.matchby != mbrms);
    ws.setMatchBy(cl.matchby);
    try {
        if (cl.normalize) ws.setNormalize(true);
        for (int slot = 0; slot < cl.files.size(); ++slot) ws.load_file(slot, cl.files[slot]);
    } catch (const Exception& e) {
        print(err, display_text(e.message()) + QLatin1Char('\n'));
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
