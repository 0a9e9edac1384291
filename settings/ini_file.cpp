#include "settings/ini_file.h"

#include "common/errors.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace wavrell {

namespace {
bool has_line_break(const QString& s) {
    return s.contains(QLatin1Char('\n')) || s.contains(QLatin1Char('\r'));
}
bool same(const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) == 0; }

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
}  // namespace

TIniFile::TIniFile(QString filename) : ffilename(std::move(filename)) {}

void TIniFile::load() {
    if (floaded) return;
    floaded = true;
    freadfailed = false;
    fdirty = false;
    fpreamble.clear();
    fsections.clear();
    if (ffilename.isEmpty()) return;
    QFileInfo info(ffilename);
    if (!info.exists()) return;
    QFile f(ffilename);
    if (info.isDir() || !f.open(QIODevice::ReadOnly)) {
        freadfailed = true;
        freaderror = info.isDir() ? QStringLiteral("it is a folder") : f.errorString();
        return;
    }
    QByteArray data = f.readAll();
    if (f.error() != QFileDevice::NoError) {
        freadfailed = true;
        freaderror = f.errorString();
        return;
    }
    if (data.startsWith("\xEF\xBB\xBF")) data.remove(0, 3);
    const QStringList lines = QString::fromUtf8(data).split(QLatin1Char('\n'));
    Section* current = nullptr;
    for (int n = 0; n < lines.size(); ++n) {
        QString line = lines[n];
        if (line.endsWith(QLatin1Char('\r'))) line.chop(1);
        if (n == lines.size() - 1 && line.isEmpty()) break;  // after the last line break
        const QString trimmed = line.trimmed();
        if (trimmed.isEmpty()) continue;  // blank lines are written back between sections only
        if (trimmed.startsWith(QLatin1Char('[')) && trimmed.contains(QLatin1Char(']'))) {
            const QString name = trimmed.mid(1, trimmed.lastIndexOf(QLatin1Char(']')) - 1).trimmed();
            current = find_section(name);  // a repeated section continues the first one
            if (!current) {
                fsections.append(Section{name, {}});
                current = &fsections.last();
            }
            continue;
        }
        const int eq = line.indexOf(QLatin1Char('='));
        const bool comment = trimmed.startsWith(QLatin1Char(';')) || trimmed.startsWith(QLatin1Char('#'));
        Entry e;
        if (!comment && eq > 0 && !line.left(eq).trimmed().isEmpty()) {
            e.key = line.left(eq).trimmed();
            e.value = unquoted(line.mid(eq + 1));
        } else {
            e.raw = line;
        }
        if (current)
            current->entries.append(e);
        else
            fpreamble.append(line);
    }
}

bool TIniFile::ReadFailed() {
    load();
    return freadfailed;
}

TIniFile::Section* TIniFile::find_section(const QString& name) {
    for (Section& s : fsections)
        if (same(s.name, name)) return &s;
    return nullptr;
}

TIniFile::Entry* TIniFile::find_entry(Section* s, const QString& key) {
    if (!s) return nullptr;
    for (Entry& e : s->entries)
        if (!e.key.isEmpty() && same(e.key, key)) return &e;
    return nullptr;
}

bool TIniFile::ReadValue(const QString& section, const QString& key, QString* value) {
    load();
    const Entry* e = find_entry(find_section(section), key);
    if (!e) return false;
    if (value) *value = e->value;
    return true;
}

QString TIniFile::ReadString(const QString& section, const QString& key, const QString& defaultvalue) {
    QString v;
    return ReadValue(section, key, &v) ? v : defaultvalue;
}

bool TIniFile::SectionExists(const QString& section) {
    load();
    return find_section(section) != nullptr;
}

bool TIniFile::ValueExists(const QString& section, const QString& key) {
    return ReadValue(section, key, nullptr);
}

QStringList TIniFile::ReadSection(const QString& section) {
    load();
    QStringList keys;
    if (const Section* s = find_section(section))
        for (const Entry& e : s->entries)
            if (!e.key.isEmpty()) keys.append(e.key);
    return keys;
}

QStringList TIniFile::ReadSections() {
    load();
    QStringList names;
    for (const Section& s : fsections) names.append(s.name);
    return names;
}

void TIniFile::check_writable() const {
    if (ffilename.isEmpty()) throw EFileError(QStringLiteral("No ini file name given"));
    if (freadfailed)
        throw EFileError(QStringLiteral("Cannot read %1: %2; the file is left unchanged")
                             .arg(ffilename, freaderror));
}

void TIniFile::AddSection(const QString& section) {
    load();
    check_writable();
    if (has_line_break(section) || section != section.trimmed())
        throw EFileError(QStringLiteral("The section name \"%1\" cannot be stored in the ini file %2")
                             .arg(section, ffilename));
    if (find_section(section)) return;
    fsections.append(Section{section, {}});
    fdirty = true;
}

void TIniFile::WriteString(const QString& section, const QString& key, const QString& value) {
    load();
    check_writable();
    const QString t = key.trimmed();
    if (key.isEmpty() || key != t || key.contains(QLatin1Char('=')) || has_line_break(key) ||
        t.startsWith(QLatin1Char('[')) || t.startsWith(QLatin1Char(';')) || t.startsWith(QLatin1Char('#')))
        throw EFileError(QStringLiteral("The key name \"%1\" cannot be stored in the ini file %2")
                             .arg(key, ffilename));
    if (has_line_break(value))
        throw EFileError(QStringLiteral("The value of \"%1\" holds a line break, which the ini file %2 "
                                        "cannot store")
                             .arg(key, ffilename));
    AddSection(section);
    Section* s = find_section(section);
    if (Entry* e = find_entry(s, key)) {
        if (e->value == value) return;
        e->value = value;
    } else {
        s->entries.append(Entry{key, value, {}});
    }
    fdirty = true;
}

void TIniFile::EraseSection(const QString& section) {
    load();
    for (int i = 0; i < fsections.size(); ++i)
        if (same(fsections[i].name, section)) {
            check_writable();
            fsections.removeAt(i);
            fdirty = true;
            return;
        }
}

void TIniFile::DeleteKey(const QString& section, const QString& key) {
    load();
    Section* s = find_section(section);
    if (!s) return;
    for (int i = 0; i < s->entries.size(); ++i)
        if (!s->entries[i].key.isEmpty() && same(s->entries[i].key, key)) {
            check_writable();
            s->entries.removeAt(i);
            fdirty = true;
            return;
        }
}

QByteArray TIniFile::text() const {
    QString out;
    for (const QString& line : fpreamble) out += line + QLatin1Char('\n');
    bool first = fpreamble.isEmpty();
    for (const Section& s : fsections) {
        if (!first) out += QLatin1Char('\n');
        first = false;
        out += QLatin1Char('[') + s.name + QStringLiteral("]\n");
        for (const Entry& e : s.entries)
            out += (e.key.isEmpty() ? e.raw : e.key + QLatin1Char('=') + quoted(e.value)) + QLatin1Char('\n');
    }
    return out.toUtf8();
}

void TIniFile::UpdateFile() {
    if (!floaded || !fdirty) {
        Discard();
        return;
    }
    const QByteArray data = text();
    Discard();
    QSaveFile f(ffilename);
    if (!f.open(QIODevice::WriteOnly) || f.write(data) != data.size() || !f.commit())
        throw EFileError(QStringLiteral("Cannot write %1: %2").arg(ffilename, f.errorString()));
}

void TIniFile::Discard() {
    floaded = false;
    fdirty = false;
    fpreamble.clear();
    fsections.clear();
}

}  // namespace wavrell
