#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

namespace wavrell {

/// The parsed contents of one ini file, kept as the file's bytes plus an
/// index into them, so that writing it back reproduces every byte the
/// program did not change: line ends (LF or CR LF), blank lines, comments,
/// lines it does not understand, a missing line end at the very end, bytes
/// that are not valid UTF-8. Only lines whose value changed and lines and
/// sections that were added are written anew (with the line end the file
/// uses); an erased section's lines go with it.
///
/// Lines are "[name]" section headers (a line that starts with "[" and
/// holds a "]"), "key=value" entries, and anything else. Names compare
/// without regard to letter case; a section that appears twice counts as
/// one (its first appearance gets new keys; reads look in all of them).
/// Blanks around keys and values do not count, a value in double quotes
/// loses them. Names and values are read as UTF-8 (invalid bytes read as
/// U+FFFD, but stay in the file).
///
/// Parsing only finds the section headers and files each name under a hash
/// of it; a section's lines are read when the section is first used. So a
/// large file costs little more than reading it, and finding a section does
/// not grow with the file. Not thread-safe; a document is used by one thread
/// at a time.
class TIniDocument {
public:
    TIniDocument();
    ~TIniDocument();
    /// A deep copy (its own index over the same, implicitly shared, bytes).
    std::unique_ptr<TIniDocument> clone() const;

    /// Parses the bytes of a file.
    static std::unique_ptr<TIniDocument> parse(const QByteArray& bytes);

    /// The bytes the document was parsed from or last written as.
    const QByteArray& source() const { return fsource; }

    bool read_value(const QString& section, const QString& key, QString* value) const;
    bool section_exists(const QString& section) const;
    /// Key names of a section (all its appearances), in file order.
    QStringList section_keys(const QString& section) const;
    /// Names of all sections (first appearance, its spelling), in file order.
    QStringList section_names() const;
    /// Sections whose name starts with `prefix` (letter case aside), in file
    /// order.
    QStringList sections_with_prefix(const QString& prefix) const;
    bool any_section_with_prefix(const QString& prefix) const;

    /// Adds an empty section at the end unless it exists; true when added.
    /// The caller checks that the name can be written.
    bool add_section(const QString& section);
    /// Sets a key's value (adding section and key as needed); true when
    /// anything changed. The caller checks names and value.
    bool write_value(const QString& section, const QString& key, const QString& value);
    /// True when the section existed.
    bool erase_section(const QString& section);
    /// True when the key existed.
    bool delete_key(const QString& section, const QString& key);

    /// The bytes of the document as it is now, which become its source:
    /// every section counts as unchanged afterwards (the caller writes them
    /// to the file, or drops the document when that fails). No parse.
    QByteArray commit();

private:
    struct Entry;
    struct Section;
    struct Slot;
    struct Writer;

    static constexpr uint32_t none = 0xFFFFFFFF;

    /// The first appearance of a section, or `none`.
    uint32_t find(const QString& section) const;
    /// The table position that holds `slot`'s name, or where it would go.
    size_t probe(uint32_t slot) const;
    /// The section's name and lines, read from the source on first use.
    Section& section_at(uint32_t slot) const;
    QString name_at(uint32_t slot) const;
    bool name_starts_with(uint32_t slot, const QString& folded_prefix) const;
    void index_slot(uint32_t slot);
    void unindex_slot(uint32_t slot);
    void rebuild_index(size_t size);
    void compact();

    QByteArray fsource;
    qsizetype fpreambleend = 0;  // bytes before the first section header
    QByteArray feol = "\n";      // line end of new lines: as the file's first
    // The sections in file order. A slot is small and holds what writing an
    // unchanged section needs, so that writing a large file walks a compact
    // array; an erased section leaves an empty slot until enough gather.
    mutable std::vector<Slot> fslots;
    size_t ferased = 0;
    // The first appearances by the hash of their case-folded name: an open
    // table of slot numbers + 1 (0: free, `gone`: erased), at most half full.
    std::vector<uint32_t> ftable;
    size_t ftableused = 0;
};

}  // namespace wavrell
