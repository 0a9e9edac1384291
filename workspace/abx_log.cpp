#include "workspace/abx_log.h"

#include "common/errors.h"
#include "settings/appdata_folders.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace wavrell {

namespace {

const QByteArray kHashPrefix = QByteArrayLiteral("SHA-256: ");

QString source_text(int s) { return s == 1 ? QStringLiteral("B") : QStringLiteral("A"); }

QString decibels(double db) { return QString::asprintf("%+.2f dB", db); }

}  // namespace

TAbxFileFacts abx_file_facts(const QString& path) {
    TAbxFileFacts f;
    f.path = QFileInfo(path).absoluteFilePath();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        f.error = file.errorString();
        return f;
    }
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!hash.addData(&file)) {
        f.error = file.errorString();
        return f;
    }
    f.size = file.size();
    f.sha256 = hash.result().toHex();
    return f;
}

QByteArray abx_log_text(const TAbxLogHeader& h, const TAbxTest& test) {
    QString t;
    auto line = [&t](const QString& s) { t += s + QLatin1Char('\n'); };
    line(QStringLiteral("Blind ABX test"));
    line(QStringLiteral("Program: %1").arg(h.program));
    line(QStringLiteral("Date: %1").arg(h.when.toString(Qt::ISODate)));
    for (int s = 0; s < 2; ++s) {
        const TAbxFileFacts& f = h.files[size_t(s)];
        line(QStringLiteral("File %1 (file %2): %3").arg(source_text(s)).arg(s + 1).arg(f.path));
        if (f.size >= 0) {
            line(QStringLiteral("  Size: %1 bytes").arg(f.size));
            line(QStringLiteral("  File SHA-256: %1").arg(QString::fromLatin1(f.sha256)));
        } else {
            line(QStringLiteral("  Size and SHA-256: not read (%1)").arg(f.error));
        }
        QString rate = QStringLiteral("  Sampling rate: %1 Hz").arg(f.rate);
        if (f.sourcerate > 0 && f.sourcerate != f.rate)
            rate += QStringLiteral(" (converted from %1 Hz)").arg(f.sourcerate);
        line(rate);
    }
    const TAbxConditions& c = h.conditions;
    line(QStringLiteral("Level matching: %1, %2").arg(c.criterion, c.matching ? QStringLiteral("on") : QStringLiteral("off")));
    line(QStringLiteral("Factor A: %1").arg(decibels(c.factordb[0])));
    line(QStringLiteral("Factor B: %1").arg(decibels(c.factordb[1])));
    line(QStringLiteral("Alignment offset of B: %1 frames (%2 ms)")
             .arg(c.offsetframes)
             .arg(QString::asprintf("%.3f", c.offsetms)));
    static const QString polarities[3] = {QStringLiteral("normal"), QStringLiteral("inverted"),
                                          QStringLiteral("corrected")};
    line(QStringLiteral("Polarity of B: %1").arg(polarities[int(c.polarity)]));
    line(QStringLiteral("Planned trials: %1").arg(test.planned()));
    if (!test.finished())
        line(QStringLiteral("Test not finished: %1 of %2 trials answered").arg(test.done()).arg(test.planned()));
    line(QStringLiteral("Trial  Answer  Truth  Correct  Time (s)  Switches"));
    for (const TAbxTrial& r : test.trials())
        line(QString::asprintf("%5d  %-6s  %-5s  %-7s  %8.3f  %8d", r.number, qPrintable(source_text(r.answer)),
                               qPrintable(source_text(r.truth)), r.correct ? "yes" : "no", double(r.ms) / 1000.0,
                               r.switches));
    line(QStringLiteral("Score: %1 of %2 correct").arg(test.correct()).arg(test.done()));
    line(QStringLiteral("p-value: %1").arg(QString::asprintf("%.17g", test.pvalue())));
    line(QStringLiteral("p-value (3 significant digits): %1").arg(TAbxTest::three_significant(test.pvalue())));
    QByteArray bytes = t.toUtf8();
    bytes += kHashPrefix + QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex() + '\n';
    return bytes;
}

bool abx_log_intact(const QByteArray& log) {
    QByteArray body = log;
    if (body.endsWith('\n')) body.chop(1);
    const qsizetype cut = body.lastIndexOf('\n') + 1;  // start of the last line
    const QByteArray last = body.mid(cut);
    if (!last.startsWith(kHashPrefix)) return false;
    const QByteArray hex = last.mid(kHashPrefix.size());
    return hex.size() == 64 && hex == QCryptographicHash::hash(log.left(cut), QCryptographicHash::Sha256).toHex();
}

QString abx_log_folder() {
    const QString local = special_folder(SpecialFolder::Local);
    return local.isEmpty() ? QString() : local + QStringLiteral("/wavrell/abx");
}

QString abx_log_file_name(const QDateTime& when) {
    return QStringLiteral("abx-%1.txt").arg(when.toString(QStringLiteral("yyyyMMdd-HHmmss")));
}

void write_abx_log_to(const QByteArray& text, const QString& path) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit())
        throw EFileError(QStringLiteral("Cannot write the test log \"%1\": %2").arg(path, file.errorString()));
}

QString write_abx_log(const QByteArray& text, const QDateTime& when, const QString& folder) {
    if (folder.isEmpty())
        throw EFileError(QStringLiteral("Cannot write the test log: there is no folder for the program's data "
                                        "($XDG_DATA_HOME or $HOME is not set)"));
    if (!QDir().mkpath(folder))
        throw EFileError(QStringLiteral("Cannot write the test log: the folder \"%1\" cannot be made").arg(folder));
    const QString base = abx_log_file_name(when).chopped(4);
    QString path = QDir(folder).filePath(base + QStringLiteral(".txt"));
    for (int n = 2; QFileInfo::exists(path); ++n)
        path = QDir(folder).filePath(QStringLiteral("%1-%2.txt").arg(base).arg(n));
    write_abx_log_to(text, path);
    return path;
}

}  // namespace wavrell
