#include "tests/support/test_support.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryFile>

#include "common/native_file_name.h"

#include <cstdio>

#include <sndfile.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace wavrell::test {

QString fixture(const QString& name) {
    return QStringLiteral(WAVRELL_SOURCE_DIR "/tests/fixtures/") + name;
}

std::unique_ptr<QTemporaryDir> build_temp_dir() {
    QDir().mkpath(QStringLiteral(WAVRELL_BINARY_DIR "/test-tmp"));
    auto dir = std::make_unique<QTemporaryDir>(QStringLiteral(WAVRELL_BINARY_DIR "/test-tmp/XXXXXX"));
    EXPECT_TRUE(dir->isValid());
    return dir;
}

int run_program(const QString& program, const QStringList& args, QByteArray* out, int timeout_ms,
                QByteArray* err) {
    return run_with_env(program, args, {}, out, err, timeout_ms);
}

int run_with_env(const QString& program, const QStringList& args, const QProcessEnvironment& extra,
                 QByteArray* out, QByteArray* err, int timeout_ms) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString& key : extra.keys()) env.insert(key, extra.value(key));
    p.setProcessEnvironment(env);
    p.start(program, args);
    if (!p.waitForStarted(10000)) {
        ADD_FAILURE() << "cannot start " << program.toStdString();
        return -1;
    }
    p.closeWriteChannel();
    if (!p.waitForFinished(timeout_ms)) {
        p.kill();
        p.waitForFinished();
        ADD_FAILURE() << program.toStdString() << " did not finish in time";
        return -1;
    }
    if (out) *out = p.readAllStandardOutput();
    if (err) *err = p.readAllStandardError();
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

bool sox(const QStringList& args, QByteArray* out, QByteArray* err) {
    QByteArray e;
    int rc = run_program(QStringLiteral("sox"), args, out, 120000, &e);
    if (err) *err = e;
    if (rc != 0) ADD_FAILURE() << "sox " << args.join(' ').toStdString() << " failed: " << e.toStdString();
    return rc == 0;
}

bool sndfile_write(const QString& path, const std::vector<int16_t>& interleaved, int rate, int channels,
                   int format, const std::vector<int>& channel_map) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = format;
    SNDFILE* f = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
    if (!f) {
        ADD_FAILURE() << "libsndfile cannot write " << path.toStdString() << ": " << sf_strerror(nullptr);
        return false;
    }
    bool ok = true;
    if (!channel_map.empty() &&
        sf_command(f, SFC_SET_CHANNEL_MAP_INFO, const_cast<int*>(channel_map.data()),
                   int(channel_map.size() * sizeof(int))) != SF_TRUE) {
        ADD_FAILURE() << "libsndfile stores no channel map in " << path.toStdString();
        ok = false;
    }
    const sf_count_t frames = sf_count_t(interleaved.size()) / channels;
    if (sf_writef_short(f, interleaved.data(), frames) != frames) {
        ADD_FAILURE() << "libsndfile cannot write " << path.toStdString() << ": " << sf_strerror(f);
        ok = false;
    }
    if (sf_close(f) != 0) ok = false;
    return ok;
}

bool sndfile_convert(const QString& from, const QString& to, int format) {
    SF_INFO in{};
    SNDFILE* src = sf_open(QFile::encodeName(from).constData(), SFM_READ, &in);
    if (!src) {
        ADD_FAILURE() << "libsndfile cannot read " << from.toStdString() << ": " << sf_strerror(nullptr);
        return false;
    }
    SF_INFO out{};
    out.samplerate = in.samplerate;
    out.channels = in.channels;
    out.format = format;
    SNDFILE* dst = sf_open(QFile::encodeName(to).constData(), SFM_WRITE, &out);
    if (!dst) {
        ADD_FAILURE() << "libsndfile cannot write " << to.toStdString() << ": " << sf_strerror(nullptr);
        sf_close(src);
        return false;
    }
    const int sub = format & SF_FORMAT_SUBMASK;
    const bool real = sub == SF_FORMAT_FLOAT || sub == SF_FORMAT_DOUBLE;
    std::vector<int> ints(size_t(4096) * size_t(in.channels));
    std::vector<double> reals(ints.size());
    bool ok = true;
    for (;;) {
        const sf_count_t n = real ? sf_readf_double(src, reals.data(), 4096) : sf_readf_int(src, ints.data(), 4096);
        if (n <= 0) break;
        if ((real ? sf_writef_double(dst, reals.data(), n) : sf_writef_int(dst, ints.data(), n)) != n) ok = false;
    }
    sf_close(src);
    if (sf_close(dst) != 0) ok = false;
    if (!ok) ADD_FAILURE() << "libsndfile cannot write " << to.toStdString();
    return ok;
}

bool sox_write(const QString& path, const QByteArray& raw, int rate, int channels,
               const QStringList& output_options) {
    QTemporaryFile in(QDir::tempPath() + QStringLiteral("/wavrell-raw-XXXXXX.raw"));
    if (!in.open()) return false;
    in.write(raw);
    in.flush();
    QStringList args{QStringLiteral("-t"), QStringLiteral("raw"), QStringLiteral("-r"), QString::number(rate),
                     QStringLiteral("-e"), QStringLiteral("signed"), QStringLiteral("-b"), QStringLiteral("16"),
                     QStringLiteral("-c"), QString::number(channels), QStringLiteral("-L"), in.fileName()};
    args += output_options;
    args << path;
    return sox(args);
}

std::vector<SpecialFile> special_files(const QTemporaryDir& dir) {
    const QString fifo = dir.filePath(QStringLiteral("pipe.wav"));
    EXPECT_EQ(::mkfifo(native_file_name(fifo).constData(), 0600), 0) << fifo.toStdString();
    // A socket's name stays in the folder after the socket is closed.
    const QString socket = dir.filePath(QStringLiteral("socket.wav"));
    const QByteArray sname = native_file_name(socket);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    EXPECT_LT(size_t(sname.size()), sizeof addr.sun_path) << "the test folder's path is too long for a socket";
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", sname.constData());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    EXPECT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr), 0) << socket.toStdString();
    ::close(fd);
    const QString folder = dir.filePath(QStringLiteral("folder.wav"));
    EXPECT_TRUE(QDir().mkpath(folder));
    return {{"named pipe", fifo, "it is a named pipe (FIFO), not a file"},
            {"socket", socket, "it is a socket, not a file"},
            {"folder", folder, "Is a directory"},
            {"device", QStringLiteral("/dev/null"), "it is a character device, not a file"}};
}

BytesNamedFile::BytesNamedFile(const QString& path, const QByteArray& name_bytes) {
    const QByteArray from = native_file_name(path);
    fnative = from.left(from.lastIndexOf('/') + 1) + name_bytes;
    EXPECT_EQ(::rename(from.constData(), fnative.constData()), 0) << path.toStdString();
    name = file_name_from_native(fnative);
}

BytesNamedFile::~BytesNamedFile() { ::unlink(fnative.constData()); }

PrivateNullSink::PrivateNullSink(const QString& prefix, int rate) {
    name = prefix.toLower() + QString::number(::getpid());
    description = prefix + QString::number(::getpid());
    QByteArray out;
    const int rc = run_program(
        QStringLiteral("pactl"),
        {QStringLiteral("load-module"), QStringLiteral("module-null-sink"), QStringLiteral("sink_name=") + name,
         QStringLiteral("rate=%1").arg(rate), QStringLiteral("channels=2"),
         QStringLiteral("sink_properties=device.description=") + description},
        &out);
    EXPECT_EQ(rc, 0) << "no sound server; run the tests through scripts/test";
    module = out.trimmed();
}

PrivateNullSink::~PrivateNullSink() {
    if (!module.isEmpty())
        run_program(QStringLiteral("pactl"), {QStringLiteral("unload-module"), QString::fromLatin1(module)});
}

}  // namespace wavrell::test
