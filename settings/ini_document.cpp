#include "settings/ini_document.h"
#include "common/native_file_name.h"

#include <QStringDecoder>

#include <algorithm>
#include <cstring>

namespace wavrell {

// A section is the run of bytes from its header line up to the next header
// (or the end of the file). Parsing notes where each run lies, where its
// name lies and a hash of the name, in a small slot per section in an array
// of its own; nothing else is made until a section is used. A section nobody
// changed is written back as its run, and runs of unchanged sections that
// follow each other are copied in one piece, so writing a large file costs
// little more than copying it. The offsets of a section's lines count from
// the section's first byte, so a write moves a section by changing its slot
// alone.

struct TIniDocument::Entry {
    QString key;  // empty: a blank, comment or unknown line
    QString value;
    qsizetype begin = 0, end = 0;  // the line in the source, from the section's first byte
    QByteArray text;               // the line written anew, with its line end (fresh only)
    bool fresh = false;            // text replaces the source bytes
    bool blank = false;
};

struct TIniDocument::Section {
    QString name;
    qsizetype headerend = 0;  // the header line's end, from the section's first byte
    std::vector<Entry> entries;
    bool fresh = false;  // added since the last commit: header written anew
};

struct TIniDocument::Slot {
    qsizetype begin = 0, end = 0;       // the section's bytes in the source
    qsizetype nameoff = 0, namelen = 0;  // its name's bytes, from begin
    uint32_t hash = 0;                   // of the case-folded name
    uint32_t next = TIniDocument::none;  // the next appearance of the same name
    uint32_t last = TIniDocument::none;  // on a first appearance: the last one
    std::unique_ptr<Section> section;    // made on first use
    bool first = false;                  // the first appearance of its name
    bool erased = false;
    bool dirty = false;  // fresh, or lines written anew, added or removed
};

namespace {

bool is_blank_byte(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

/// The line without the blanks around it, as a range of `data`.
void trim(const char* data, qsizetype& b, qsizetype& e) {
    while (b < e && is_blank_byte(data[b])) ++b;
    while (e > b && is_blank_byte(data[e - 1])) --e;
}

bool in_quotes(const QString& v) {
    return v.size() >= 2 && v.startsWith(QLatin1Char('"')) && v.endsWith(QLatin1Char('"'));
}

/// The value as it stands in the file.
QString quoted(const QString& v) {
    if (v != v.trimmed() || in_quotes(v)) return QLatin1Char('"') + v + QLatin1Char('"');
    return v;
}

/// The value of the text after "=".
QString unquoted(const QString& text) {
    const QString t = text.trimmed();
    return in_quotes(t) ? t.mid(1, t.size() - 2) : t;
}

constexpr uint32_t gone = 0xFFFFFFFF;  // a table place whose section was erased

QString folded(const QString& name) { return name.toCaseFolded(); }

uint32_t hash_of(QStringView foldedname) { return uint32_t(qHash(foldedname, size_t(0x5eed))); }

/// The hash of a name as a query gives it.
uint32_t name_hash(const QString& name) { return hash_of(folded(name)); }

/// The hash of a header's name, from its bytes: decoded as UTF-8 as
/// QString::fromUtf8 does, its blanks trimmed and its letter case folded as
/// QString does, so that it equals name_hash of the name; short names
/// without making a string (a large file has many).
uint32_t name_hash(const char* bytes, qsizetype n) {
    constexpr qsizetype room = 256;
    if (n > room) return name_hash(QString::fromUtf8(bytes, n).trimmed());
    QChar decoded[room];
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QStringView name = QStringView(decoded, utf8.appendToBuffer(decoded, QByteArrayView(bytes, n))).trimmed();
    char16_t out[2 * room];
    qsizetype k = 0;
    for (qsizetype i = 0; i < name.size(); ++i) {
        char32_t c = name[i].unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < name.size() && name[i + 1].isLowSurrogate())
            c = QChar::surrogateToUcs4(char16_t(c), name[++i].unicode());
        const char32_t f = QChar::toCaseFolded(c);
        if (QChar::requiresSurrogates(f)) {
            out[k++] = QChar::highSurrogate(f);
            out[k++] = QChar::lowSurrogate(f);
        } else {
            out[k++] = char16_t(f);
        }
    }
    return hash_of(QStringView(out, k));
}

/// The line end that closes `line` ("\r\n", "\n" or none).
QByteArray line_end_of(const char* data, qsizetype b, qsizetype e) {
    if (e > b && data[e - 1] == '\n') return e - 1 > b && data[e - 2] == '\r' ? "\r\n" : "\n";
    return {};
}

bool ends_with_blank_line(const QByteArray& out) {
    // out ends with a line end; the line before it is blank when it is empty
    // or holds nothing but a CR.
    qsizetype i = out.size() - 1;  // the '\n'
    if (i > 0 && out[i - 1] == '\r') --i;
    return i == 0 || out[i - 1] == '\n';
}

}  // namespace

/// Collects the output: byte ranges of the source (adjacent ones joined into
/// one copy) and new text, which always starts on a line of its own.
struct TIniDocument::Writer {
    const QByteArray& src;
    const QByteArray& eol;
    QByteArray out;
    qsizetype runb = -1, rune = -1;

    qsizetype pos() const { return out.size() + (runb < 0 ? 0 : rune - runb); }
    void flush() {
        if (runb >= 0) out.append(src.constData() + runb, rune - runb);
        runb = -1;
    }
    void source(qsizetype b, qsizetype e) {
        if (b >= e) return;
        if (runb >= 0 && rune == b) {
            rune = e;
            return;
        }
        flush();
        runb = b;
        rune = e;
    }
    void line_start() {
        flush();
        if (!out.isEmpty() && !out.endsWith('\n')) out += eol;
    }
    void blank_line_before() {
        line_start();
        if (!out.isEmpty() && !ends_with_blank_line(out)) out += eol;
    }
    void text(const QByteArray& t) {
        flush();
        out += t;
    }
};

TIniDocument::TIniDocument() = default;
TIniDocument::~TIniDocument() = default;

std::unique_ptr<TIniDocument> TIniDocument::parse(const QByteArray& bytes) {
    auto doc = std::make_unique<TIniDocument>();
    doc->fsource = bytes;
    const char* data = bytes.constData();
    const qsizetype size = bytes.size();
    qsizetype at = bytes.startsWith("\xEF\xBB\xBF") ? 3 : 0;
    doc->fpreambleend = at;
    if (const char* nl = static_cast<const char*>(std::memchr(data, '\n', size_t(size))))
        doc->feol = nl > data && nl[-1] == '\r' ? QByteArray("\r\n") : QByteArray("\n");
    // Room for a section per line, so that neither the slots nor the index
    // grow piece by piece.
    size_t lines = 1;
    for (const char* p = data; (p = static_cast<const char*>(std::memchr(p, '\n', size_t(data + size - p))));
         ++p)
        ++lines;
    doc->fslots.reserve(lines + 64);
    doc->rebuild_index(lines);

    bool insection = false;
    while (at < size) {
        const char* nl = static_cast<const char*>(std::memchr(data + at, '\n', size_t(size - at)));
        const qsizetype lineend = nl ? nl - data + 1 : size;
        qsizetype b = at, e = nl ? nl - data : size;
        trim(data, b, e);
        if (b < e && data[b] == '[' && std::memchr(data + b, ']', size_t(e - b))) {
            qsizetype ne = e;
            while (data[ne - 1] != ']') --ne;  // the last "]"
            --ne;
            if (insection) doc->fslots.back().end = at;
            Slot slot;
            slot.begin = at;
            slot.end = lineend;
            slot.nameoff = b + 1 - at;
            slot.namelen = ne - (b + 1);
            slot.hash = name_hash(data + b + 1, ne - (b + 1));
            doc->fslots.push_back(std::move(slot));
            doc->index_slot(uint32_t(doc->fslots.size() - 1));
            insection = true;
        } else if (!insection) {
            doc->fpreambleend = lineend;
        }
        at = lineend;
    }
    if (insection) doc->fslots.back().end = size;
    return doc;
}

std::unique_ptr<TIniDocument> TIniDocument::clone() const {
    auto doc = std::make_unique<TIniDocument>();
    doc->fsource = fsource;
    doc->fpreambleend = fpreambleend;
    doc->feol = feol;
    doc->ferased = ferased;
    doc->ftable = ftable;
    doc->ftableused = ftableused;
    doc->fslots.reserve(fslots.size());
    for (const Slot& slot : fslots) {
        Slot copy;
        copy.begin = slot.begin;
        copy.end = slot.end;
        copy.nameoff = slot.nameoff;
        copy.namelen = slot.namelen;
        copy.hash = slot.hash;
        copy.next = slot.next;
        copy.last = slot.last;
        if (slot.section) copy.section = std::make_unique<Section>(*slot.section);
        copy.first = slot.first;
        copy.erased = slot.erased;
        copy.dirty = slot.dirty;
        doc->fslots.push_back(std::move(copy));
    }
    return doc;
}

// ---- names and the index

QString TIniDocument::name_at(uint32_t i) const {
    const Slot& slot = fslots[i];
    if (slot.section) return slot.section->name;
    return QString::fromUtf8(fsource.constData() + slot.begin + slot.nameoff, slot.namelen).trimmed();
}

size_t TIniDocument::probe(uint32_t i) const {
    // Linear probing from the hash; the first free place ends the search.
    const size_t mask = ftable.size() - 1;
    const uint32_t h = fslots[i].hash;
    QString name;  // made only when another name has the same hash
    for (size_t at = h & mask;; at = (at + 1) & mask) {
        const uint32_t v = ftable[at];
        if (v == 0) return at;
        if (v == gone || fslots[v - 1].hash != h) continue;
        if (name.isNull()) name = folded(name_at(i));
        if (folded(name_at(v - 1)) == name) return at;
    }
}

void TIniDocument::index_slot(uint32_t i) {
    if ((ftableused + 1) * 2 > ftable.size()) {
        rebuild_index(fslots.size());  // a larger table, with this slot in it
        return;
    }
    Slot& slot = fslots[i];
    const size_t at = probe(i);
    if (const uint32_t v = ftable[at]; v != 0) {
        // Another appearance of a name continues the first one's chain.
        Slot& first = fslots[v - 1];
        fslots[first.last].next = i;
        first.last = i;
        return;
    }
    slot.first = true;
    slot.last = i;
    ftable[at] = i + 1;
    ++ftableused;
}

void TIniDocument::unindex_slot(uint32_t i) {
    const size_t at = probe(i);
    if (ftable[at] == i + 1) ftable[at] = gone;  // stays used: searches go on past it
}

uint32_t TIniDocument::find(const QString& section) const {
    if (ftable.empty()) return none;
    const QString f = folded(section);
    const uint32_t h = hash_of(f);
    const size_t mask = ftable.size() - 1;
    for (size_t at = h & mask;; at = (at + 1) & mask) {
        const uint32_t v = ftable[at];
        if (v == 0) return none;
        if (v != gone && fslots[v - 1].hash == h && folded(name_at(v - 1)) == f) return v - 1;
    }
}

TIniDocument::Section& TIniDocument::section_at(uint32_t i) const {
    Slot& slot = fslots[i];
    if (slot.section) return *slot.section;
    auto s = std::make_unique<Section>();
    s->name = name_at(i);
    const char* data = fsource.constData();
    const char* nl = static_cast<const char*>(std::memchr(data + slot.begin, '\n', size_t(slot.end - slot.begin)));
    s->headerend = nl ? nl - data + 1 - slot.begin : slot.end - slot.begin;
    for (qsizetype at = slot.begin + s->headerend; at < slot.end;) {
        const char* lnl = static_cast<const char*>(std::memchr(data + at, '\n', size_t(slot.end - at)));
        const qsizetype lineend = lnl ? lnl - data + 1 : slot.end;
        qsizetype b = at, e = lnl ? lnl - data : slot.end;
        trim(data, b, e);
        Entry entry;
        entry.begin = at - slot.begin;
        entry.end = lineend - slot.begin;
        entry.blank = b == e;
        if (b < e && data[b] != ';' && data[b] != '#') {
            const char* eq = static_cast<const char*>(std::memchr(data + at, '=', size_t(e - at)));
            if (eq && eq > data + at) {
                const QString key = QString::fromUtf8(data + at, eq - (data + at)).trimmed();
                if (!key.isEmpty()) {
                    entry.key = key;
                    entry.value = unquoted(file_name_from_native(QByteArray::fromRawData(eq + 1, data + e - (eq + 1))));
                }
            }
        }
        s->entries.push_back(std::move(entry));
        at = lineend;
    }
    slot.section = std::move(s);
    return *slot.section;
}

namespace {
/// The first character of a name from its bytes, as the name decoded and
/// trimmed starts; 0xFFFFFFFF when that takes the whole name (it starts
/// with a byte order mark or a blank that is no ASCII blank).
char32_t first_char(const char* p, qsizetype n) {
    constexpr char32_t unknown = 0xFFFFFFFF;
    while (n > 0 && is_blank_byte(*p)) {
        ++p;
        --n;
    }
    if (n == 0 || (n >= 3 && QByteArrayView(p, 3) == "\xEF\xBB\xBF")) return unknown;
    // The first character never needs more than four bytes.
    QChar buf[8];
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QChar* e = utf8.appendToBuffer(buf, QByteArrayView(p, std::min<qsizetype>(n, 4)));
    if (e == buf) return unknown;
    char32_t c = buf[0].unicode();
    if (QChar::isHighSurrogate(c) && e > buf + 1 && buf[1].isLowSurrogate())
        c = QChar::surrogateToUcs4(buf[0], buf[1]);
    return QChar::isSpace(c) ? unknown : c;
}
}  // namespace

bool TIniDocument::name_starts_with(uint32_t i, const QString& folded_prefix) const {
    const Slot& slot = fslots[i];
    // Most names are told apart by their first character, without decoding
    // them whole.
    if (!slot.section && !folded_prefix.isEmpty()) {
        const char32_t c = first_char(fsource.constData() + slot.begin + slot.nameoff, slot.namelen);
        char32_t p = folded_prefix[0].unicode();
        if (QChar::isHighSurrogate(p) && folded_prefix.size() > 1)
            p = QChar::surrogateToUcs4(folded_prefix[0], folded_prefix[1]);
        if (c != 0xFFFFFFFF && QChar::toCaseFolded(c) != p) return false;
    }
    return folded(name_at(i)).startsWith(folded_prefix);
}

void TIniDocument::rebuild_index(size_t size) {
    size_t places = 16;
    while (places < 2 * size + 2) places *= 2;
    ftable.assign(places, 0);
    ftableused = 0;
    for (Slot& slot : fslots) {
        slot.next = slot.last = none;
        slot.first = false;
    }
    for (uint32_t i = 0; i < fslots.size(); ++i)
        if (!fslots[i].erased) index_slot(i);
}

// ---- reading

bool TIniDocument::read_value(const QString& section, const QString& key, QString* value) const {
    for (uint32_t i = find(section); i != none; i = fslots[i].next)
        for (const Entry& e : section_at(i).entries)
            if (!e.key.isEmpty() && e.key.compare(key, Qt::CaseInsensitive) == 0) {
                if (value) *value = e.value;
                return true;
            }
    return false;
}

bool TIniDocument::section_exists(const QString& section) const { return find(section) != none; }

QStringList TIniDocument::section_keys(const QString& section) const {
    QStringList keys;
    for (uint32_t i = find(section); i != none; i = fslots[i].next)
        for (const Entry& e : section_at(i).entries)
            if (!e.key.isEmpty()) keys.append(e.key);
    return keys;
}

QStringList TIniDocument::section_names() const {
    QStringList names;
    for (uint32_t i = 0; i < fslots.size(); ++i)
        if (fslots[i].first && !fslots[i].erased) names.append(name_at(i));
    return names;
}

QStringList TIniDocument::sections_with_prefix(const QString& prefix) const {
    const QString p = folded(prefix);
    QStringList names;
    for (uint32_t i = 0; i < fslots.size(); ++i)
        if (fslots[i].first && !fslots[i].erased && name_starts_with(i, p)) names.append(name_at(i));
    return names;
}

bool TIniDocument::any_section_with_prefix(const QString& prefix) const {
    const QString p = folded(prefix);
    for (uint32_t i = 0; i < fslots.size(); ++i)
        if (fslots[i].first && !fslots[i].erased && name_starts_with(i, p)) return true;
    return false;
}

// ---- changing

bool TIniDocument::add_section(const QString& section) {
    if (find(section) != none) return false;
    Slot slot;
    slot.begin = slot.end = fsource.size();
    slot.hash = name_hash(section);
    slot.section = std::make_unique<Section>();
    slot.section->name = section;
    slot.section->fresh = true;
    slot.dirty = true;
    fslots.push_back(std::move(slot));
    index_slot(uint32_t(fslots.size() - 1));
    return true;
}

bool TIniDocument::write_value(const QString& section, const QString& key, const QString& value) {
    add_section(section);
    const uint32_t first = find(section);
    const QByteArray line = native_file_name(quoted(value));
    for (uint32_t i = first; i != none; i = fslots[i].next) {
        Slot& slot = fslots[i];
        for (Entry& e : section_at(i).entries)
            if (!e.key.isEmpty() && e.key.compare(key, Qt::CaseInsensitive) == 0) {
                if (e.value == value) return false;
                const QByteArray end =
                    e.fresh ? line_end_of(e.text.constData(), 0, e.text.size())
                            : line_end_of(fsource.constData(), slot.begin + e.begin, slot.begin + e.end);
                e.value = value;
                e.text = e.key.toUtf8() + '=' + line + end;
                e.fresh = true;
                slot.dirty = true;
                return true;
            }
    }
    // A new key goes after the section's last line that is not blank, so
    // that the blank lines before the next section stay where they are.
    std::vector<Entry>& entries = section_at(first).entries;
    auto at = entries.end();
    while (at != entries.begin() && std::prev(at)->blank) --at;
    Entry e;
    e.key = key;
    e.value = value;
    e.text = key.toUtf8() + '=' + line + feol;
    e.fresh = true;
    entries.insert(at, std::move(e));
    fslots[first].dirty = true;
    return true;
}

bool TIniDocument::erase_section(const QString& section) {
    const uint32_t first = find(section);
    if (first == none) return false;
    unindex_slot(first);
    for (uint32_t i = first; i != none; i = fslots[i].next) {
        fslots[i].erased = true;
        fslots[i].section.reset();
        ++ferased;
    }
    return true;
}

bool TIniDocument::delete_key(const QString& section, const QString& key) {
    for (uint32_t i = find(section); i != none; i = fslots[i].next) {
        std::vector<Entry>& entries = section_at(i).entries;
        for (auto it = entries.begin(); it != entries.end(); ++it)
            if (!it->key.isEmpty() && it->key.compare(key, Qt::CaseInsensitive) == 0) {
                entries.erase(it);
                fslots[i].dirty = true;
                return true;
            }
    }
    return false;
}

// ---- writing

QByteArray TIniDocument::commit() {
    Writer w{fsource, feol, {}};
    w.out.reserve(fsource.size() + 256);
    w.source(0, fpreambleend);
    for (Slot& slot : fslots) {
        if (slot.erased) continue;
        const qsizetype begin = w.pos();
        if (!slot.dirty) {
            w.source(slot.begin, slot.end);
        } else {
            Section& s = *slot.section;
            if (s.fresh) {
                w.blank_line_before();
                w.text('[' + s.name.toUtf8() + ']' + feol);
                slot.nameoff = w.pos() - begin - feol.size() - 1 - s.name.toUtf8().size();
                slot.namelen = s.name.toUtf8().size();
            } else {
                w.source(slot.begin, slot.begin + s.headerend);
            }
            s.headerend = w.pos() - begin;
            for (Entry& e : s.entries) {
                const qsizetype eb = w.pos();
                if (e.fresh) {
                    w.line_start();
                    w.text(e.text);
                } else {
                    w.source(slot.begin + e.begin, slot.begin + e.end);
                }
                e.begin = eb - begin;
                e.end = w.pos() - begin;
                e.fresh = false;
                e.text.clear();
            }
            s.fresh = false;
            slot.dirty = false;
        }
        slot.begin = begin;
        slot.end = w.pos();
    }
    w.flush();
    fsource = w.out;
    // Erased sections leave the list once they are many.
    if (ferased > 16 && ferased > fslots.size() / 8) compact();
    return fsource;
}

void TIniDocument::compact() {
    std::erase_if(fslots, [](const Slot& slot) { return slot.erased; });
    ferased = 0;
    rebuild_index(fslots.size());
}

}  // namespace wavrell
