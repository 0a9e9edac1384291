#include "settings/ini_document.h"

#include <algorithm>
#include <cstring>
#include <type_traits>

namespace wavrell {

// A section is the run of bytes from its header line up to the next header
// (or the end of the file). A section nobody changed is written back as that
// run; runs of unchanged sections that follow each other in the file are
// copied in one piece, so writing a large file costs little more than
// copying it. Offsets of a section's lines count from the section's first
// byte, so that a write moves a section by changing its own three offsets.

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
    qsizetype begin = 0, headerend = 0, end = 0;  // headerend counts from begin
    std::vector<Entry> entries;
    Section* next = nullptr;  // the next appearance of the same name
    Section* last = nullptr;  // on a first appearance: the last one
    size_t order = 0;         // index in fsections
    bool fresh = false;       // added since the last write: header written anew
    bool changed = false;     // lines written anew, added or removed
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
                if (current) current->end = at;
                auto s = std::make_unique<Section>();
                s->name = name;
                s->folded = folded(name);
                s->begin = at;
                s->headerend = lineend - at;
                s->order = doc->fsections.size();
                current = s.get();
                doc->fsections.push_back(std::move(s));
                doc->index_section(current);
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
        entry.begin = at - current->begin;
        entry.end = lineend - current->begin;
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
    if (current) current->end = size;
    return doc;
}

std::unique_ptr<TIniDocument> TIniDocument::clone() const {
    auto doc = std::make_unique<TIniDocument>();
    doc->fsource = fsource;
    doc->fpreambleend = fpreambleend;
    doc->feol = feol;
    for (const auto& s : fsections) {
        if (!s) {
            doc->fsections.push_back(nullptr);
            continue;
        }
        auto copy = std::make_unique<Section>(*s);
        copy->next = copy->last = nullptr;
        Section* p = copy.get();
        doc->fsections.push_back(std::move(copy));
        doc->index_section(p);
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
    for (const auto& s : fsections)
        if (s && fbyname.value(s->folded) == s.get()) names.append(s->name);
    return names;
}

QStringList TIniDocument::sections_with_prefix(const QString& prefix) const {
    const QString p = folded(prefix);
    std::vector<const Section*> found;
    const auto& index = ordered();
    for (auto it = index.lower_bound(p); it != index.end() && it->first.startsWith(p); ++it)
        found.push_back(it->second);
    std::sort(found.begin(), found.end(), [](const Section* a, const Section* b) { return a->order < b->order; });
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
    s->order = fsections.size();
    s->fresh = true;
    Section* p = s.get();
    fsections.push_back(std::move(s));
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
                                               : line_end_of(fsource.constData(), s->begin + e.begin,
                                                             s->begin + e.end);
                e.value = value;
                e.text = e.key.toUtf8() + '=' + line + end;
                e.fresh = true;
                s->changed = true;
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
    first->changed = true;
    return true;
}

bool TIniDocument::erase_section(const QString& section) {
    Section* first = first_section(section);
    if (!first) return false;
    unindex_section(first);
    for (Section* s = first; s;) {
        Section* next = s->next;
        fsections[s->order].reset();
        s = next;
    }
    return true;
}

bool TIniDocument::delete_key(const QString& section, const QString& key) {
    for (Section* s = first_section(section); s; s = s->next)
        for (auto it = s->entries.begin(); it != s->entries.end(); ++it)
            if (!it->key.isEmpty() && it->key.compare(key, Qt::CaseInsensitive) == 0) {
                s->entries.erase(it);
                s->changed = true;
                return true;
            }
    return false;
}

// ---- writing

template <class Note>
void TIniDocument::walk(Writer& w, const std::vector<std::unique_ptr<Section>>& sections, Note&& note) {
    for (const auto& owned : sections) {
        if (!owned) continue;
        Section& s = *owned;
        const qsizetype begin = w.pos();
        if (!s.fresh && !s.changed) {
            w.source(s.begin, s.end);
            note.section(s, begin, w.pos());
            continue;
        }
        if (s.fresh) {
            w.blank_line_before();
            w.text('[' + s.name.toUtf8() + ']' + w.eol);
        } else {
            w.source(s.begin, s.begin + s.headerend);
        }
        note.header(s, w.pos() - begin);
        for (Entry& e : s.entries) {
            const qsizetype eb = w.pos();
            if (e.fresh) {
                w.line_start();
                w.text(e.text);
            } else {
                w.source(s.begin + e.begin, s.begin + e.end);
            }
            note.entry(e, eb - begin, w.pos() - begin);
        }
        note.section(s, begin, w.pos());
    }
    w.flush();
}

namespace {
struct NoNotes {
    template <class S> void section(S&, qsizetype, qsizetype) {}
    template <class S> void header(S&, qsizetype) {}
    template <class E> void entry(E&, qsizetype, qsizetype) {}
};
}  // namespace

QByteArray TIniDocument::text() const {
    Writer w{fsource, feol, {}};
    w.out.reserve(fsource.size() + 256);
    w.source(0, fpreambleend);
    walk(w, fsections, NoNotes{});
    return w.out;
}

void TIniDocument::rebase(const QByteArray& bytes) {
    // Walks the document as text() does and notes where each section and
    // line now stands; `bytes` must be exactly what text() gave.
    struct Notes {
        void section(Section& s, qsizetype begin, qsizetype end) {
            s.begin = begin;
            s.end = end;
            s.fresh = s.changed = false;
        }
        void header(Section& s, qsizetype headerend) { s.headerend = headerend; }
        void entry(Entry& e, qsizetype begin, qsizetype end) {
            e.begin = begin;
            e.end = end;
            e.fresh = false;
            e.text.clear();
        }
    };
    Writer w{fsource, feol, {}};
    w.out.reserve(bytes.size());
    w.source(0, fpreambleend);
    walk(w, fsections, Notes{});
    Q_ASSERT(w.out == bytes);
    // Erased sections leave the list; the others keep their file order.
    std::erase_if(fsections, [](const std::unique_ptr<Section>& s) { return !s; });
    for (size_t i = 0; i < fsections.size(); ++i) fsections[i]->order = i;
    fsource = bytes;
}

}  // namespace wavrell
