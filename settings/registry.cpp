#include "settings/registry.h"

#include "settings/ini_file.h"
#include "settings/appdata_folders.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

#include <unistd.h>

// Each store is one ini file. A key is a section named by its path below the
// root ("Software\OstrelData\Wavrell"); a value is a line
// "name=sz:text" (string) or "name=dword:123" (32-bit integer). Parent keys
// exist implicitly through their sub-keys. In names "%", "=", line breaks and
// characters that an ini reader would take for syntax are written as %XX; in
// texts "%" and line breaks are.

namespace wavrell {

namespace {
const QString kString = QStringLiteral("sz:");
const QString kInteger = QStringLiteral("dword:");

QString encode(const QString& s, bool name) {
    QString out;
    for (int i = 0; i < s.size(); ++i) {
        const QChar c = s[i];
        const bool edge = i == 0 || i == s.size() - 1;
        const bool special = c == QLatin1Char('%') || c == QLatin1Char('\n') || c == QLatin1Char('\r') ||
                             (name && (c == QLatin1Char('=') || (edge && c.isSpace()) ||
                                       (i == 0 && (c == QLatin1Char('[') || c == QLatin1Char(';') ||
                                                   c == QLatin1Char('#')))));
        if (special && c.unicode() < 0x80)
            out += QStringLiteral("%%1").arg(c.unicode(), 2, 16, QLatin1Char('0')).toUpper();
        else
            out += c;
    }
    return out;
}

QString decode(const QString& s) {
    if (!s.contains(QLatin1Char('%'))) return s;
    QString out;
    for (int i = 0; i < s.size(); ++i) {
        bool ok = false;
        if (s[i] == QLatin1Char('%') && i + 2 < s.size()) {
            const int code = s.mid(i + 1, 2).toInt(&ok, 16);
            if (ok) {
                out += QChar(code);
                i += 2;
                continue;
            }
        }
        out += s[i];
    }
    return out;
}

QString normalize(const QString& key) {
    return key.split(QLatin1Char('\\'), Qt::SkipEmptyParts).join(QLatin1Char('\\'));
}

bool is_at_or_below(const QString& path, const QString& key) {
    if (key.isEmpty()) return true;
    return path.compare(key, Qt::CaseInsensitive) == 0 ||
           path.startsWith(key + QLatin1Char('\\'), Qt::CaseInsensitive);
}

/// Whether the store file could be replaced: its folder (or the nearest
/// existing parent, which then must be creatable below) allows writing.
bool store_writable(const QString& file) {
    if (file.isEmpty()) return false;
    QFileInfo info(file);
    if (info.exists() && (!info.isFile() || ::access(QFile::encodeName(file).constData(), W_OK) != 0))
        return false;
    QString dir = info.absolutePath();
    while (!QFileInfo::exists(dir)) {
        const QString parent = QFileInfo(dir).absolutePath();
        if (parent == dir) return false;
        dir = parent;
    }
    return QFileInfo(dir).isDir() && ::access(QFile::encodeName(dir).constData(), W_OK) == 0;
}

void save(TIniFile& ini) {
    const QString dir = QFileInfo(ini.FileName()).absolutePath();
    if (!QDir().mkpath(dir)) {
        ini.Discard();
        throw ERegistryError(QStringLiteral("Cannot create the folder %1 of the registry store").arg(dir));
    }
    try {
        ini.UpdateFile();
    } catch (const EFileError& e) {
        throw ERegistryError(e.message());
    }
}
}  // namespace

struct TRegistry::Impl {
    RegistryRoot root = RegistryRoot::CurrentUser;
    bool open = false;
    bool writable = false;
    QString key;  // normalized path of the open key

    QString file() const { return TRegistry::StoreFileName(root); }
    /// The machine-wide store is an administrator's to write, like the
    /// registry's machine branch; anyone's store needs a writable file.
    bool may_write() const {
        return (root == RegistryRoot::CurrentUser || runs_as_administrator()) && store_writable(file());
    }
    /// True when the store holds the key or a key below it.
    static bool exists(TIniFile& ini, const QString& key) {
        if (key.isEmpty()) return true;
        return ini.SectionExists(key) || ini.AnySectionWithPrefix(key + QLatin1Char('\\'));
    }
    void require_open() const {
        if (!open) throw ERegistryError(QStringLiteral("No registry key is open"));
    }
    void require_writable(const QString& name) const {
        if (!open || !writable)
            throw ERegistryError(
                QStringLiteral("Cannot write the registry value \"%1\": no key is open for writing").arg(name));
    }
    /// The raw text of a value; false when the key or value is missing.
    bool raw(const QString& name, QString* value) const {
        if (!open) return false;
        TIniFile ini(file());
        return ini.ReadValue(key, encode(name, true), value);
    }
    void write(const QString& name, const QString& raw) {
        require_writable(name);
        TIniFile ini(file());
        if (ini.ReadFailed())
            throw ERegistryError(QStringLiteral("Cannot read the registry store %1").arg(ini.FileName()));
        try {
            ini.WriteString(key, encode(name, true), raw);
        } catch (const EFileError& e) {
            throw ERegistryError(e.message());
        }
        save(ini);
    }
};

TRegistry::TRegistry(RegistryRoot root) : d(new Impl) { d->root = root; }
TRegistry::~TRegistry() { delete d; }

RegistryRoot TRegistry::RootKey() const { return d->root; }

void TRegistry::setRootKey(RegistryRoot root) {
    CloseKey();
    d->root = root;
}

QString TRegistry::StoreFileName(RegistryRoot root) {
    const QString dir = root == RegistryRoot::CurrentUser ? xdg_config_home() : xdg_first_config_dir();
    if (dir.isEmpty()) return {};
    return dir + QStringLiteral("/wavrell-registry.ini");
}

bool TRegistry::OpenKey(const QString& key, bool cancreate) {
    CloseKey();
    const QString k = normalize(key);
    if (!d->may_write()) return false;
    TIniFile ini(d->file());
    if (ini.ReadFailed()) return false;
    if (!Impl::exists(ini, k)) {
        if (!cancreate) return false;
        try {
            ini.AddSection(k);
            save(ini);
        } catch (const Exception&) {
            return false;
        }
    }
    d->open = true;
    d->writable = true;
    d->key = k;
    return true;
}

bool TRegistry::OpenKeyReadOnly(const QString& key) {
    CloseKey();
    const QString k = normalize(key);
    TIniFile ini(d->file());
    if (d->file().isEmpty() || !Impl::exists(ini, k)) return false;
    d->open = true;
    d->writable = false;
    d->key = k;
    return true;
}

void TRegistry::CloseKey() {
    d->open = false;
    d->writable = false;
    d->key.clear();
}

bool TRegistry::KeyExists(const QString& key) const {
    if (d->file().isEmpty()) return false;
    TIniFile ini(d->file());
    return Impl::exists(ini, normalize(key));
}

QString TRegistry::CurrentPath() const { return d->key; }
bool TRegistry::HasOpenKey() const { return d->open; }

bool TRegistry::ValueExists(const QString& name) const { return d->raw(name, nullptr); }

QString TRegistry::ReadString(const QString& name) const {
    d->require_open();
    QString raw;
    if (!d->raw(name, &raw))
        throw ERegistryError(QStringLiteral("The registry value \"%1\" does not exist").arg(name));
    if (raw.startsWith(kInteger))
        throw ERegistryError(QStringLiteral("The registry value \"%1\" is not a string").arg(name));
    // A line without a type, e.g. written by hand, counts as a string.
    return decode(raw.startsWith(kString) ? raw.mid(kString.size()) : raw);
}

int32_t TRegistry::ReadInteger(const QString& name) const {
    d->require_open();
    QString raw;
    if (!d->raw(name, &raw))
        throw ERegistryError(QStringLiteral("The registry value \"%1\" does not exist").arg(name));
    bool ok = false;
    const qlonglong v = raw.startsWith(kInteger) ? raw.mid(kInteger.size()).trimmed().toLongLong(&ok) : 0;
    if (!ok || v < INT32_MIN || v > INT32_MAX)
        throw ERegistryError(QStringLiteral("The registry value \"%1\" is not an integer").arg(name));
    return static_cast<int32_t>(v);
}

void TRegistry::WriteString(const QString& name, const QString& value) {
    d->write(name, kString + encode(value, false));
}

void TRegistry::WriteInteger(const QString& name, int32_t value) {
    d->write(name, kInteger + QString::number(value));
}

bool TRegistry::DeleteValue(const QString& name) {
    if (!d->open || !d->writable) return false;
    TIniFile ini(d->file());
    if (!ini.ValueExists(d->key, encode(name, true))) return false;
    try {
        ini.DeleteKey(d->key, encode(name, true));
        save(ini);
    } catch (const Exception&) {
        return false;
    }
    return true;
}

bool TRegistry::DeleteKey(const QString& key) {
    const QString k = normalize(key);
    if (k.isEmpty() || !d->may_write()) return false;
    TIniFile ini(d->file());
    if (ini.ReadFailed() || !Impl::exists(ini, k)) return false;
    try {
        const QStringList below = ini.SectionsWithPrefix(k + QLatin1Char('\\'));
        ini.EraseSection(k);
        for (const QString& s : below) ini.EraseSection(s);
        save(ini);
    } catch (const Exception&) {
        return false;
    }
    if (d->open && is_at_or_below(d->key, k)) CloseKey();
    return true;
}

QStringList TRegistry::GetValueNames() const {
    QStringList names;
    if (!d->open) return names;
    TIniFile ini(d->file());
    for (const QString& n : ini.ReadSection(d->key)) names.append(decode(n));
    return names;
}

QStringList TRegistry::GetKeyNames() const {
    QStringList names;
    if (!d->open) return names;
    TIniFile ini(d->file());
    const QString prefix = d->key.isEmpty() ? QString() : d->key + QLatin1Char('\\');
    QSet<QString> seen;
    for (const QString& s : ini.SectionsWithPrefix(prefix)) {
        if (s.size() == prefix.size()) continue;
        const QString child = normalize(s.mid(prefix.size())).section(QLatin1Char('\\'), 0, 0);
        if (child.isEmpty()) continue;
        if (seen.contains(child.toCaseFolded())) continue;
        seen.insert(child.toCaseFolded());
        names.append(child);
    }
    return names;
}

}  // namespace wavrell
