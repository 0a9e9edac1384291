#pragma once

#include "workspace/abx_test.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <array>
#include <cstdint>

namespace wavrell {

/// What the log says of one of the two files.
struct TAbxFileFacts {
    QString path;             ///< full path
    int64_t size = -1;        ///< bytes; -1 when the file could not be read
    QByteArray sha256;        ///< 64 lower-case hex digits; empty when unread
    int32_t rate = 0;         ///< sampling rate of the samples played, Hz
    int32_t sourcerate = 0;   ///< the file's own rate (differs when converted)
    QString error;            ///< why size and hash are missing
    /// The file read: device, inode, size and modification time (ns).
    std::array<int64_t, 4> identity{};
};

/// Size and SHA-256 of a file as it is on disk (read in blocks; any thread),
/// with its identity. Only a regular file is read (a named pipe put in its
/// place never blocks the reader). A file that cannot be read, or that
/// changed while it was read, gives size -1 and the reason in `error`.
/// Made while a file is loaded, so that the log names the bytes that were
/// loaded, not whatever lies under the path later.
TAbxFileFacts abx_file_facts(const QString& path);
/// Facts made beside a load are those of the loaded bytes only if the path
/// still names the same file, unchanged, once the load is done; otherwise
/// they are cleared with the reason.
void abx_confirm_file_facts(TAbxFileFacts& facts, const QString& path);

/// File 2's polarity as heard: as it is, found inverted and played so, or
/// found inverted and played negated ("Correct polarity").
enum class TAbxPolarity { normal, inverted, corrected };

/// How the two files were presented during the test.
struct TAbxConditions {
    QString criterion = QStringLiteral("RMS");  ///< the level-matching criterion, as the Levels menu names it
    bool matching = false;                      ///< level matching on
    std::array<double, 2> factordb{0.0, 0.0};   ///< factor applied to A and B, dB
    int64_t offsetframes = 0;                   ///< B's time offset against A, frames
    double offsetms = 0;                        ///< the same in milliseconds
    TAbxPolarity polarity = TAbxPolarity::normal;
};

struct TAbxLogHeader {
    QString program;          ///< e.g. "Wavrell 0.2"
    QDateTime when;           ///< when the log is written (local time)
    std::array<TAbxFileFacts, 2> files;
    TAbxConditions conditions;
    QString server;           ///< the sound server, name and version
    QString device;           ///< the output device played on
    QString transition;       ///< what every press of A, B or X sounds like
};

/// The log as UTF-8 text: program, date, both files (path, size, SHA-256,
/// rate), the presentation, the sound server, device and transition, the
/// commitment to the planned X's, every answered trial, the score, its
/// p-value and the 95 % confidence interval of the hit rate, marks for a
/// test ended early or whose score was shown during it, the key and the X
/// sequence once the test is finished, and as its last line "SHA-256: " with the hash of every byte of
/// the log before that line, so that an edited log can be told.
QByteArray abx_log_text(const TAbxLogHeader& header, const TAbxTest& test);

/// True when the last line of a log is "SHA-256: " followed by the hash of
/// all bytes before it.
bool abx_log_intact(const QByteArray& log);

/// The folder of the logs: $XDG_DATA_HOME/wavrell/abx.
QString abx_log_folder();
/// "abx-YYYYMMDD-HHMMSS.txt" for the given local time.
QString abx_log_file_name(const QDateTime& when);

/// Writes a log into `folder` (made when missing) under the name of `when`;
/// a name already taken (two logs within one second) gets "-2", "-3", …
/// before ".txt" rather than replacing an earlier log. Returns the full
/// path. Raises EFileError naming the file when it cannot be written.
QString write_abx_log(const QByteArray& text, const QDateTime& when, const QString& folder);
/// Writes a log to the given path (replacing the file); raises EFileError.
void write_abx_log_to(const QByteArray& text, const QString& path);

}  // namespace wavrell
