#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace wavrell {

/// An ordinary ini file: "[Section]" lines and "key=value" lines below them,
/// UTF-8, one line per entry, readable and writable by other programs.
/// Section and key names compare without regard to letter case and keep the
/// case they were first written in. Blanks around keys and values do not
/// count ("key = value" reads as "value"); a value that begins or ends with
/// a blank, or is itself in double quotes, is written in double quotes,
/// which reading removes, so every text comes back as it was written.
/// Comment lines (";" or "#") and unknown lines are kept.
///
/// The file is read on first use and held in memory; UpdateFile writes the
/// changes and drops the copy, so the next access reads the file again.
/// Writing replaces the whole file at once (temporary file and rename), so a
/// crash while writing leaves either the old or the new file. A file that
/// exists but cannot be read is never overwritten: writes then raise
/// EFileError. GUI thread.
class TIniFile {
public:
    explicit TIniFile(QString filename = {});

    const QString& FileName() const { return ffilename; }

    /// The value of a key; false when the section or key is missing.
    bool ReadValue(const QString& section, const QString& key, QString* value);
    QString ReadString(const QString& section, const QString& key, const QString& defaultvalue);
    bool SectionExists(const QString& section);
    bool ValueExists(const QString& section, const QString& key);
    /// Key names of a section / names of all sections, in file order.
    QStringList ReadSection(const QString& section);
    QStringList ReadSections();

    /// EFileError for names and values that a plain ini file cannot hold
    /// (line breaks, a key with "=" or surrounding blanks, ...) and for a file
    /// that could not be read.
    void WriteString(const QString& section, const QString& key, const QString& value);
    /// Adds an empty section unless it exists.
    void AddSection(const QString& section);
    void EraseSection(const QString& section);
    void DeleteKey(const QString& section, const QString& key);

    /// Writes pending changes (EFileError naming the file and the reason when
    /// that fails) and drops the copy in memory in every case.
    void UpdateFile();
    /// Drops the copy in memory with its unwritten changes.
    void Discard();
    bool Modified() const { return fdirty; }
    /// True when the file exists but could not be read.
    bool ReadFailed();

private:
    struct Entry {
        QString key;  // empty for a comment or unknown line
        QString value;
        QString raw;  // the line as read, for comment and unknown lines
    };
    struct Section {
        QString name;
        QList<Entry> entries;
    };

    void load();
    void check_writable() const;
    Section* find_section(const QString& name);
    Entry* find_entry(Section* s, const QString& key);
    QByteArray text() const;

    QString ffilename;
    bool floaded = false;
    bool freadfailed = false;
    QString freaderror;
    bool fdirty = false;
    QStringList fpreamble;  // lines before the first section
    QList<Section> fsections;
};

}  // namespace wavrell
