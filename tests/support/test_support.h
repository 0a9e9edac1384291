#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <cstdint>
#include <memory>
#include <vector>

namespace wavrell::test {

/// Path of a file below tests/fixtures.
QString fixture(const QString& name);

/// A fresh temporary folder on the build folder's file system (a fixed
/// disk, unlike a tmpfs /tmp); removed when the object goes.
std::unique_ptr<QTemporaryDir> build_temp_dir();

/// Runs a program to its end and returns its exit code; its standard output
/// goes to *out when given. Fails the test (returns -1) if it cannot start
/// or runs longer than timeout_ms.
int run_program(const QString& program, const QStringList& args, QByteArray* out = nullptr,
                int timeout_ms = 60000, QByteArray* err = nullptr);

/// The same with the environment of this process plus `extra`, leaving
/// standard output and error in *out and *err.
int run_with_env(const QString& program, const QStringList& args, const QProcessEnvironment& extra,
                 QByteArray* out, QByteArray* err, int timeout_ms = 120000);

/// Writes a WAV file with sox from raw signed 16-bit little-endian samples
/// (interleaved) into the given sox output options, e.g. {"-b", "24"}.
/// Returns false (and the test fails) when sox is missing or fails.
bool sox_write(const QString& path, const QByteArray& raw_s16le, int rate, int channels,
               const QStringList& output_options = {});

/// Writes a sound file with libsndfile, the producer for what sox does not
/// write (RF64, Opus, channel maps): interleaved 16-bit samples stored in
/// `format` (SF_FORMAT_* container | encoding); a non-empty channel_map
/// (SF_CHANNEL_MAP_* per channel) is stored with them. Returns false (and
/// the test fails) when libsndfile refuses.
bool sndfile_write(const QString& path, const std::vector<int16_t>& interleaved, int rate, int channels,
                   int format, const std::vector<int>& channel_map = {});

/// Copies a sound file into another format with libsndfile, without loss:
/// integer samples as 32-bit integers, into a real `format` as doubles.
bool sndfile_convert(const QString& from, const QString& to, int format);

/// Runs sox with the given arguments; returns true on exit code 0.
bool sox(const QStringList& args, QByteArray* out = nullptr, QByteArray* err = nullptr);

/// Things in a folder that have a name but are not regular files, each with
/// the reason that refusing to open it gives: a named pipe without writer,
/// a socket, the folder itself and a character device (/dev/null).
struct SpecialFile {
    const char* what;
    QString path;
    const char* reason;
};
std::vector<SpecialFile> special_files(const QTemporaryDir& dir);

/// A file renamed to the name of the same folder that is the given bytes
/// (which need not be UTF-8); `name` is that name as the program spells it
/// (file_name_from_native). Removed again when the object goes, since a
/// QTemporaryDir cannot remove a name that Qt cannot spell: declare it after
/// the folder.
class BytesNamedFile {
public:
    BytesNamedFile(const QString& path, const QByteArray& name_bytes);
    ~BytesNamedFile();
    BytesNamedFile(const BytesNamedFile&) = delete;
    BytesNamedFile& operator=(const BytesNamedFile&) = delete;
    QString name;

private:
    QByteArray fnative;
};

/// A null sink on the test sound server for one test alone (loaded with
/// pactl, unloaded when the object goes), so that other tests playing at
/// the same time do not mix into its recording; its monitor is
/// name + ".monitor".
class PrivateNullSink {
public:
    /// prefix names the sink (the process id is appended); rate in Hz.
    PrivateNullSink(const QString& prefix, int rate);
    ~PrivateNullSink();
    PrivateNullSink(const PrivateNullSink&) = delete;
    PrivateNullSink& operator=(const PrivateNullSink&) = delete;

    QString name, description;
    QByteArray module;
};

}  // namespace wavrell::test
