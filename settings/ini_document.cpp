#include "settings/ini_document.h"

#include <algorithm>
#include <cstring>
#include <type_traits>

namespace wavrell {

// A section is the run of bytes from its header line up to the next header
// (or the end of the file). A section nobody changed is written back as that
// run; runs of unchanged sections that follow each other in the file are
// copied in one piece, so writing a large file costs little more than
// copying it. Where a section's run lies is kept in a small slot in an array
// of its own; the offsets of its lines count from the section's first byte,
// so a write moves a section by changing its slot alone.

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
    QString folded;
    qsizetype headerend = 0;  // the header line's end, from the section's first byte
    std::vector<Entry> entries;
    Section* next = nullptr;  // the next appearance of the same name
    Section* last = nullptr;  // on a first appearance: the last one
    size_t slot = 0;          // index in fslots
    bool fresh = false;       // added since the last commit: header written anew
};

struct TIniDocument::Slot {
    qsizetype begin = 0, end = 0;      // the section's bytes in the source
    std::unique_ptr<Section> section;  // null: erased
    bool dirty = false;                // fresh, or lines written anew, added or removed
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

QString folded(const QString& name) { return name.toCaseFolded(); }

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

    Section* current = nullptr;
    qsizetype base = 0;  // the current section's first byte
    while (at < size) {
        const char* nl = static_cast<const char*>(std::memchr(data + at, '\n', size_t(size - at)));
        const qsizetype lineend = nl ? nl - data + 1 : size;
        qsizetype b = at, e = nl ? nl - data : size;
        trim(data, b, e);
        if (b < e && data[b] == '[') {
            const char* close = static_cast<const char*>(std::memchr(data + b, ']', size_t(e - b)));
            if (close) {
                qsizetype nb = b + 1, ne = e;
                while (data[ne - 1] != ']') --ne;  // the last "]"
                --ne;
                const QString name = QString::fromUtf8(data + nb, ne - nb).trimmed();
                if (current) doc->fslots.back().end = at;
                auto sec = std::make_unique<Section>();
                sec->name = name;
                sec->folded = folded(name);
                sec->headerend = lineend - at;
                sec->slot = doc->fslots.size();
                current = sec.get();
                doc->fslots.push_back(Slot{at, lineend, std::move(sec), false});
                doc->index_section(current);
                base = at;
                at = lineend;
                continue;
            }
        }
        if (!current) {
            doc->fpreambleend = lineend;
            at = lineend;
            continue;
        }
        Entry entry;
        entry.begin = at - base;
        entry.end = lineend - base;
        entry.blank = b == e;
        if (b < e && data[b] != ';' && data[b] != '#') {
            const char* eq = static_cast<const char*>(std::memchr(data + at, '=', size_t(e - at)));
            if (eq && eq > data + at) {
                const QString key = QString::fromUtf8(data + at, eq - (data + at)).trimmed();
                if (!key.isEmpty()) {
                    entry.key = key;
                    entry.value = unquoted(QString::fromUtf8(eq + 1, data + e - (eq + 1)));
                }
            }
        }
        current->entries.push_back(std::move(entry));
        at = lineend;
    }
    if (current) doc->fslots.back().end = size;
    return doc;
}

std::unique_ptr<TIniDocument> TIniDocument::clone() const {
    auto doc = std::make_unique<TIniDocument>();
    doc->fsource = fsource;
    doc->fpreambleend = fpreambleend;
    doc->feol = feol;
    doc->ferased = ferased;
    doc->fslots.reserve(fslots.size());
    for (const Slot& slot : fslots) {
        Slot copy{slot.begin, slot.end, nullptr, slot.dirty};
        if (slot.section) {
            copy.section = std::make_unique<Section>(*slot.section);
            copy.section->next = copy.section->last = nullptr;
        }
        doc->fslots.push_back(std::move(copy));
        if (Section* p = doc->fslots.back().section.get()) doc->index_section(p);
    }
    return doc;
}

// ---- the index

void TIniDocument::index_section(Section* s) {
    auto it = fbyname.find(s->folded);
    if (it == fbyname.end()) {
        s->last = s;
        fbyname.insert(s->folded, s);
        if (fordered) fordered->emplace(s->folded, s);
        return;
    }
    Section* first = it.value();
    first->last->next = s;
    first->last = s;
}

void TIniDocument::unindex_section(Section* first) {
    fbyname.remove(first->folded);
    if (fordered) fordered->erase(first->folded);
}

TIniDocument::Section* TIniDocument::first_section(const QString& section) const {
    return fbyname.value(folded(section), nullptr);
}

qsizetype TIniDocument::begin_of(const Section* s) const { return fslots[s->slot].begin; }

const std::map<QString, TIniDocument::Section*>& TIniDocument::ordered() const {
    if (!fordered) {
        fordered = std::make_unique<std::map<QString, Section*>>();
        for (auto it = fbyname.cbegin(); it != fbyname.cend(); ++it) fordered->emplace(it.key(), it.value());
    }
    return *fordered;
}

// ---- reading

bool TIniDocument::read_value(const QString& section, const QString& key, QString* value) const {
    for (const Section* s = first_section(section); s; s = s->next)
        for (const Entry& e : s->entries)
            if (!e.key.isEmpty() && e.key.compare(key, Qt::CaseInsensitive) == 0) {
                if (value) *value = e.value;
                return true;
            }
    return false;
}

bool TIniDocument::section_exists(const QString& section) const { return first_section(section) != nullptr; }

QStringList TIniDocument::section_keys(const QString& section) const {
    QStringList keys;
    for (const Section* s = first_section(section); s; s = s->next)
        for (const Entry& e : s->entries)
            if (!e.key.isEmpty()) keys.append(e.key);
    return keys;
}

QStringList TIniDocument::section_names() const {
    QStringList names;
    names.reserve(fbyname.size());
    for (const Slot& slot : fslots)
        if (const Section* s = slot.section.get(); s && s->last) names.append(s->name);
    return names;
}

QStringList TIniDocument::sections_with_prefix(const QString& prefix) const {
    const QString p = folded(prefix);
    std::vector<const Section*> found;
    const auto& index = ordered();
    for (auto it = index.lower_bound(p); it != index.end() && it->first.startsWith(p); ++it)
        found.push_back(it->second);
    std::sort(found.begin(), found.end(), [](const Section* a, const Section* b) { return a->slot < b->slot; });
    QStringList names;
    for (const Section* s : found) names.append(s->name);
    return names;
}

bool TIniDocument::any_section_with_prefix(const QString& prefix) const {
    const QString p = folded(prefix);
    const auto& index = ordered();
    const auto it = index.lower_bound(p);
    return it != index.end() && it->first.startsWith(p);
}

// ---- changing

bool TIniDocument::add_section(const QString& section) {
    if (first_section(section)) return false;
    auto s = std::make_unique<Section>();
    s->name = section;
    s->folded = folded(section);
    s->slot = fslots.size();
    s->fresh = true;
    Section* p = s.get();
    const qsizetype end = fsource.size();
    fslots.push_back(Slot{end, end, std::move(s), true});
    index_section(p);
    return true;
}

bool TIniDocument::write_value(const QString& section, const QString& key, const QString& value) {
    add_section(section);
    Section* first = first_section(section);
    const QByteArray line = quoted(value).toUtf8();
    for (Section* s = first; s; s = s->next)
        for (Entry& e : s->entries)
            if (!e.key.isEmpty() && e.key.compare(key, Qt::CaseInsensitive) == 0) {
                if (e.value == value) return false;
                const QByteArray end = e.fresh ? line_end_of(e.text.constData(), 0, e.text.size())
                                               : line_end_of(fsource.constData(), begin_of(s) + e.begin,
                                                             begin_of(s) + e.end);
                e.value = value;
                e.text = e.key.toUtf8() + '=' + line + end;
                e.fresh = true;
                fslots[s->slot].dirty = true;
                return true;
            }
    // A new key goes after the section's last line that is not blank, so
    // that the blank lines before the next section stay where they are.
    auto at = first->entries.end();
    while (at != first->entries.begin() && std::prev(at)->blank) --at;
    Entry e;
    e.key = key;
    e.value = value;
    e.text = key.toUtf8() + '=' + line + feol;
    e.fresh = true;
    first->entries.insert(at, std::move(e));
    fslots[first->slot].dirty = true;
    return true;
}

bool TIniDocument::erase_section(const QString& section) {
    Section* first = first_section(section);
    if (!first) return false;
    unindex_section(first);
    for (Section* s = first; s;) {
        Section* next = s->next;
        fslots[s->slot].section.reset();
        ++ferased;
        s = next;
    }
    return true;
}

bool TIniDocument::delete_key(const QString& section, const QString& key) {
    for (Section* s = first_section(section); s; s = s->next)
        for (auto it = s->entries.begin(); it != s->entries.end(); ++it)
            if (!it->key.isEmpty() && it->key.compare(key, Qt::CaseInsensitive) == 0) {
                s->entries.erase(it);
                fslots[s->slot].dirty = true;
                return true;
            }
    return false;
}

// ---- writing

QByteArray TIniDocument::commit() {
    Writer w{fsource, feol, {}};
    w.out.reserve(fsource.size() + 256);
    w.source(0, fpreambleend);
    for (Slot& slot : fslots) {
        if (!slot.section) continue;
        const qsizetype begin = w.pos();
        if (!slot.dirty) {
            w.source(slot.begin, slot.end);
        } else {
            Section& s = *slot.section;
            if (s.fresh) {
                w.blank_line_before();
                w.text('[' + s.name.toUtf8() + ']' + feol);
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
    // Erased sections leave the list once they are many: the other sections
    // then get their new places.
    if (ferased > 16 && ferased > fslots.size() / 8) compact();
    return fsource;
}

void TIniDocument::compact() {
    std::erase_if(fslots, [](const Slot& slot) { return !slot.section; });
    for (size_t i = 0; i < fslots.size(); ++i) fslots[i].section->slot = i;
    ferased = 0;
}

}  // namespace wavrell
