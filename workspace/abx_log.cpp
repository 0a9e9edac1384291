#include "workspace/abx_log.h"

#include "common/errors.h"
#include "settings/appdata_folders.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace wavrell {

namespace {

const QByteArray kHashPrefix = QByteArrayLiteral("SHA-256: ");

QString source_text(int s) { return s == 1 ? QStringLiteral("B") : QStringLiteral("A"); }

QString decibels(double db) { return QString::asprintf("%+.2f dB", db); }

}  // namespace

namespace {

std::array<int64_t, 4> identity_of(const struct stat& st) {
    return {int64_t(st.st_dev), int64_t(st.st_ino), int64_t(st.st_size),
            int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

void unread(TAbxFileFacts& f, const QString& why) {
    f.size = -1;
    f.sha256.clear();
    f.error = why;
}

}  // namespace

TAbxFileFacts abx_file_facts(const QString& path) {
    TAbxFileFacts f;
    f.path = QFileInfo(path).absoluteFilePath();
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        unread(f, QString::fromLocal8Bit(std::strerror(errno)));
        return f;
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat before{};
    if (::fstat(fd, &before) != 0 || !S_ISREG(before.st_mode)) {
        unread(f, QStringLiteral("not a regular file"));
        return f;
    }
    QCryptographicHash hash(QCryptographicHash::Sha256);
    std::vector<char> buf(1 << 20);
    int64_t total = 0;
    for (;;) {
        const ssize_t n = ::read(fd, buf.data(), buf.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            unread(f, QString::fromLocal8Bit(std::strerror(errno)));
            return f;
        }
        if (n == 0) break;
        hash.addData(QByteArrayView(buf.data(), n));
        total += n;
    }
    struct stat after{};
    if (::fstat(fd, &after) != 0 || identity_of(after) != identity_of(before) || total != before.st_size) {
        unread(f, QStringLiteral("the file changed while it was read"));
        return f;
    }
    f.identity = identity_of(before);
    f.size = total;
    f.sha256 = hash.result().toHex();
    return f;
}

void abx_confirm_file_facts(TAbxFileFacts& facts, const QString& path) {
    if (facts.size < 0) return;
    struct stat now{};
    if (::stat(QFile::encodeName(path).constData(), &now) != 0 || identity_of(now) != facts.identity)
        unread(facts, QStringLiteral("the file changed while it was loaded"));
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
    if (!h.server.isEmpty()) line(QStringLiteral("Sound server: %1").arg(h.server));
    if (!h.device.isEmpty()) line(QStringLiteral("Output device: %1").arg(h.device));
    if (!h.transition.isEmpty()) line(QStringLiteral("Transition: %1").arg(h.transition));
    line(QStringLiteral("Planned trials: %1").arg(test.planned()));
    line(QStringLiteral("Commitment (SHA-256 of the key and the X sequence): %1")
             .arg(QString::fromLatin1(test.commitment().toHex())));
    if (!test.finished())
        line(QStringLiteral("Ended early after %1 trials (of %2 planned); the key and the X sequence stay secret")
                 .arg(test.done())
                 .arg(test.planned()));
    if (test.score_shown()) line(QStringLiteral("Score shown during the test"));
    line(QStringLiteral("Trial  Answer  Truth  Correct  Time (s)  Switches"));
    for (const TAbxTrial& r : test.trials())
        line(QString::asprintf("%5d  %-6s  %-5s  %-7s  %8.3f  %8d", r.number, qPrintable(source_text(r.answer)),
                               qPrintable(source_text(r.truth)), r.correct ? "yes" : "no", double(r.ms) / 1000.0,
                               r.switches));
    line(QStringLiteral("Score: %1 of %2 correct").arg(test.correct()).arg(test.done()));
    line(QStringLiteral("p-value: %1").arg(QString::asprintf("%.17g", test.pvalue())));
    line(QStringLiteral("p-value (3 significant digits): %1").arg(TAbxTest::three_significant(test.pvalue())));
    const auto [lo, hi] = TAbxTest::confidence_interval(test.done(), test.correct());
    line(QStringLiteral("95 % confidence interval of the hit rate: %1 to %2")
             .arg(QString::asprintf("%.4f", lo), QString::asprintf("%.4f", hi)));
    if (test.finished()) {
        // Anyone can check that the X's were fixed before the first answer:
        // SHA-256 of the key's 32 bytes followed by the letters of the
        // sequence is the commitment above.
        line(QStringLiteral("Key: %1").arg(QString::fromLatin1(test.key().toHex())));
        line(QStringLiteral("X sequence: %1").arg(QString::fromLatin1(test.sequence())));
    }
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
