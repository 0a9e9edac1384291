#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>
#include <sys/types.h>

namespace wavrell {

class TIniDocument;

/// An ordinary ini file: "[Section]" lines and "key=value" lines below them,
/// UTF-8, one line per entry, readable and writable by other programs.
/// Section and key names compare without regard to letter case and keep the
/// case they were first written in. Blanks around keys and values do not
/// count ("key = value" reads as "value"); a value that begins or ends with
/// a blank, or is itself in double quotes, is written in double quotes,
/// which reading removes, so every text comes back as it was written.
///
/// Writing changes only the lines of the values that changed (and adds or
/// removes lines and sections): every other byte of the file stays as it
/// was, comments, CR LF line ends, lines it does not understand and bytes
/// that are not valid UTF-8 included (TIniDocument).
///
/// A file is parsed once per change of the file: the parsed form is shared
/// by every TIniFile of the same path and used again as long as the file's
/// identity, size and times are unchanged; a file this program writes is not
/// parsed again at all. Each access checks the file (one stat), so changes
/// by other programs are seen. Writing replaces the whole file at once
/// (temporary file and rename), so a crash while writing leaves either the
/// old or the new file; a write that would not change the file's bytes is
/// left out. Writing holds the lock beside the file (TIniLock); when another
/// process wrote the file since it was read, the changes are made again on
/// what the file holds now, so that writers of different keys never undo
/// each other's. A file that exists but cannot be read is never overwritten:
/// writes then raise EFileError. One thread at a time per object.
class TIniFile {
public:
    explicit TIniFile(QString filename = {});
    ~TIniFile();
    TIniFile(const TIniFile&) = delete;
    TIniFile& operator=(const TIniFile&) = delete;

    const QString& FileName() const { return ffilename; }

    /// The value of a key; false when the section or key is missing.
    bool ReadValue(const QString& section, const QString& key, QString* value);
    QString ReadString(const QString& section, const QString& key, const QString& defaultvalue);
    bool SectionExists(const QString& section);
    bool ValueExists(const QString& section, const QString& key);
    /// Key names of a section / names of all sections, in file order.
    QStringList ReadSection(const QString& section);
    QStringList ReadSections();
    /// Names of the sections that start with `prefix` (letter case aside),
    /// in file order; whether there is any.
    QStringList SectionsWithPrefix(const QString& prefix);
    bool AnySectionWithPrefix(const QString& prefix);

    /// EFileError for names and values that a plain ini file cannot hold
    /// (line breaks, a key with "=" or surrounding blanks, ...) and for a file
    /// that could not be read.
    void WriteString(const QString& section, const QString& key, const QString& value);
    /// Adds an empty section unless it exists.
    void AddSection(const QString& section);
    void EraseSection(const QString& section);
    void DeleteKey(const QString& section, const QString& key);

    /// Writes pending changes (EFileError naming the file and the reason when
    /// that fails; the changes are then dropped). Ends an access: the
    /// parsed file is left to the other readers of the process.
    void UpdateFile();
    /// Drops the changes not yet written.
    void Discard();
    bool Modified() const { return fdirty; }
    /// True when the file exists but could not be read.
    bool ReadFailed();

    /// The file's state as last seen: device, inode, size and times.
    struct Stamp {
        bool exists = false;
        dev_t dev = 0;
        ino_t ino = 0;
        off_t size = 0;
        long long mtime_ns = 0;
        long long ctime_ns = 0;
        bool operator==(const Stamp&) const = default;
    };

private:
    void load();
    TIniDocument& edit();
    /// Makes a change on the document and keeps it for reload_for_write.
    void change(std::function<void(TIniDocument&)> op);
    /// Reads the file as it is now and makes the pending changes on it;
    /// false when it cannot be read.
    bool reload_for_write();
    void release();
    void check_writable() const;

    QString ffilename;
    std::shared_ptr<TIniDocument> fdoc;  // shared with the cache until edited
    // The changes not yet written, to be made again on the file as another
    // process left it.
    std::vector<std::function<void(TIniDocument&)>> fpending;
    Stamp fstamp;                        // of the file fdoc was read from or written as
    bool freadfailed = false;
    QString freaderror;
    bool fdirty = false;
};

}  // namespace wavrell
