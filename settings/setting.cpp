#include "settings/setting.h"

#include "settings/ini_file.h"
#include "settings/prog_id.h"
#include "settings/registry.h"
#include "settings/appdata_folders.h"

#include <QDir>
#include <QFileInfo>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <type_traits>

namespace wavrell {

namespace {
const QString kNoProgId = QStringLiteral("Nothing assigned to ProgId");

QString with_slash(const QString& dir) {
    return dir.endsWith(QLatin1Char('/')) ? dir : dir + QLatin1Char('/');
}

/// The file-name part of a path with its extension replaced by ".ini".
QString ini_name_of(const QString& path) {
    QString name = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
    if (name.isEmpty()) return {};
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot > 0) name.truncate(dot);
    return name + QStringLiteral(".ini");
}

/// Integer text of an ini file: decimal, or hexadecimal after "0x"/"0X"
/// (the full 32 bits, so "0xFFFFFFFF" is -1).
bool parse_integer(const QString& text, int32_t* v) {
    const QString t = text.trimmed();
    bool ok = false;
    if (t.size() >= 3 && (t.startsWith(QLatin1String("0x")) || t.startsWith(QLatin1String("0X")))) {
        const uint u = t.mid(2).toUInt(&ok, 16);
        if (ok && !t.mid(2).startsWith(QLatin1Char('+')) && !t.mid(2).startsWith(QLatin1Char('-'))) {
            *v = static_cast<int32_t>(u);
            return true;
        }
        return false;
    }
    const int i = t.toInt(&ok, 10);
    if (ok) *v = i;
    return ok;
}
}  // namespace

TSetting::TSetting(QObject* owner)
    : QObject(owner), windir(last_resort_folder()), reg(std::make_unique<TRegistry>()),
      ini(std::make_unique<TIniFile>()) {}

TSetting::~TSetting() = default;

// ---- identity, folders and the effective store

QString TSetting::Company() {
    if (!fprogid) throw ESettingError(kNoProgId);
    const QString v = fprogid->Company();
    if (v != fCompany) {
        fCompany = v;
        identity_changed();
    }
    return v;
}

QString TSetting::ProductName() {
    if (!fprogid) throw ESettingError(kNoProgId);
    const QString v = fprogid->ProductName();
    if (v != fProductName) {
        fProductName = v;
        identity_changed();
    }
    return v;
}

QString TSetting::Version() {
    if (!fprogid) throw ESettingError(kNoProgId);
    const QString v = fprogid->Version();
    if (v != fVersion) {
        fVersion = v;
        identity_changed();
    }
    return v;
}

void TSetting::identity_changed() {
    // The folder of the ini locations carries the identity, so the store is
    // computed again.
    inifilenamedirty = true;
    fix_paths();
}

void TSetting::find_dir() {
    dirfound = false;
    QString dir;
    switch (fLocation) {
        case slroaming: dir = special_folder(SpecialFolder::Roaming); break;
        case slnonroaming: dir = special_folder(SpecialFolder::Local); break;
        case slcommonadmin:
        case slcommoninsecure: dir = special_folder(SpecialFolder::Common); break;
        default: break;
    }
    if (!dir.isEmpty()) {
        fautodir = dir;
        dirfound = true;
    }
}

void TSetting::fix_paths() {
    if (fixingpaths) return;
    fixingpaths = true;
    struct Guard {
        bool& flag;
        ~Guard() { flag = false; }
    } guard{fixingpaths};
    find_dir();
    if (dirfound)
        fautofilename = with_slash(fautodir) + Company() + QLatin1Char('/') + ProductName() + QLatin1Char('/') +
                        Version() + QLatin1Char('/');
    else
        fautofilename = with_slash(windir);
}

tsettinglocation TSetting::Location() const {
    if (dirfound) return fLocation;
    switch (fLocation) {
        case slroaming:
        case slnonroaming: return sluser;
        case slcommonadmin: return slmachine;
        default: return fLocation;
    }
}

void TSetting::setLocation(tsettinglocation v) {
    fLocation = v;
    inifilenamedirty = true;
    fix_paths();
}

void TSetting::setFilename(const QString& v) {
    fFilename = v;
    inifilenamedirty = true;
}

void TSetting::setIniFilename(const QString& v) {
    fIniFilename = v;
    inifilenamedirty = true;
    fix_paths();
}

QString TSetting::IniFilename() {
    if (!inifilenamedirty) return feffective;
    fix_paths();
    const tsettinglocation loc = Location();
    QString r;
    switch (loc) {
        case sluser: r = QStringLiteral("HKEY_CURRENT_USER"); break;
        case slmachine: r = QStringLiteral("HKEY_LOCAL_MACHINE"); break;
        case slfile: r = fFilename; break;
        default: {
            // Only what the caller set counts as the name, never an earlier
            // result such as "HKEY_CURRENT_USER" or the Filename of slfile.
            QString name = ini_name_of(fIniFilename);
            if (name.isEmpty()) name = ini_name_of(executable_path());
            r = fautofilename + (loc == slcommoninsecure && dirfound ? QStringLiteral("insecure/") : QString()) +
                name;
        }
    }
    feffective = r;
    inifilenamedirty = false;
    return r;
}

void TSetting::setManualIniClose(bool v) {
    fmanualiniclose = v;
    if (!v) IniClose();
}

void TSetting::IniClose() { ini->UpdateFile(); }
void TSetting::IniDiscard() { ini->Discard(); }

void TSetting::Loaded() {
    if (!fprogid) throw ESettingError(QStringLiteral("Nothing assigned to ") + objectName() + QStringLiteral(".ProgId"));
}

// ---- the two kinds of store

bool TSetting::is_registry() const {
    const tsettinglocation loc = Location();
    return loc == sluser || loc == slmachine;
}

void TSetting::use_registry_root() {
    reg->setRootKey(Location() == slmachine ? RegistryRoot::LocalMachine : RegistryRoot::CurrentUser);
}

QString TSetting::product_key() {
    return QStringLiteral("\\Software\\") + Company() + QLatin1Char('\\') + ProductName() + QLatin1Char('\\') +
           Version();
}

QString TSetting::section_key(const QString& section) { return product_key() + QLatin1Char('\\') + section; }

void TSetting::take_identity() {
    // A changed identity may move the store and its fall-back, so it is
    // taken in before the kind of store is decided. Without identity the
    // operation itself reports it.
    if (fprogid && fLocation != slfile) {
        Company();
        ProductName();
        Version();
    }
}

QString TSetting::ini_path() {
    if (fLocation == slfile) return fFilename;
    if (!fprogid) throw ESettingError(kNoProgId);
    return IniFilename();
}

TIniFile& TSetting::ini_for(const QString& path) {
    if (ini->FileName() != path) {
        if (ini->Modified()) ini->UpdateFile();
        ini = std::make_unique<TIniFile>(path);
    }
    return *ini;
}

template <class F> auto TSetting::ini_op(bool write, F&& f) {
    const QString path = ini_path();
    if (write && !path.isEmpty()) {
        const QString dir = QFileInfo(path).absolutePath();
        if (!QDir().mkpath(dir))
            throw EFileError(QStringLiteral("Cannot create the folder %1 for %2").arg(dir, path));
    }
    TIniFile& file = ini_for(path);
    if (fmanualiniclose) return f(file);
    try {
        if constexpr (std::is_void_v<decltype(f(file))>) {
            f(file);
            file.UpdateFile();
        } else {
            auto r = f(file);
            file.UpdateFile();
            return r;
        }
    } catch (...) {
        file.Discard();
        throw;
    }
}

template <class F> void TSetting::registry_write(const QString& key, F&& f) {
    use_registry_root();
    if (!reg->OpenKey(key, true)) throw ERegistryError(QStringLiteral("Cannot open the registry key %1").arg(key));
    try {
        f(*reg);
    } catch (...) {
        reg->CloseKey();
        throw;
    }
    reg->CloseKey();
}

// ---- reads

QString TSetting::ReadString(const QString& section, const QString& key, const QString& defaultvalue) {
    take_identity();
    QString r;
    if (is_registry()) {
        try {
            use_registry_root();
            if (reg->OpenKeyReadOnly(section_key(section))) r = reg->ReadString(key);
        } catch (const Exception&) {
            r.clear();
        }
        reg->CloseKey();
    } else {
        r = ini_op(false, [&](TIniFile& f) { return f.ReadString(section, key, QString()); });
    }
    return r.isEmpty() ? defaultvalue : r;
}

int32_t TSetting::ReadInteger(const QString& section, const QString& key, int32_t defaultvalue) {
    take_identity();
    if (is_registry()) {
        int32_t r = defaultvalue;
        try {
            use_registry_root();
            if (reg->OpenKeyReadOnly(section_key(section))) r = reg->ReadInteger(key);
        } catch (const Exception&) {
            r = defaultvalue;
        }
        reg->CloseKey();
        return r;
    }
    QString text;
    const bool present = ini_op(false, [&](TIniFile& f) { return f.ReadValue(section, key, &text); });
    int32_t r = defaultvalue;
    if (present && parse_integer(text, &r)) return r;
    return defaultvalue;
}

bool TSetting::ReadBool(const QString& section, const QString& key, bool defaultvalue) {
    return ReadInteger(section, key, defaultvalue ? 1 : 0) == 1;
}

double TSetting::ReadFloat(const QString& section, const QString& key, double defaultvalue) {
    const QString text = ReadString(section, key, float_text(defaultvalue));
    double x = 0;
    return parse_float_text(text, &x) ? x : defaultvalue;
}

TSettingFont& TSetting::ReadFont(const QString& section, const QString& key, TSettingFont& font) {
    const QString name = ReadString(section, key + QStringLiteral("Name"), QString());
    if (!name.isEmpty()) font.Name = name.left(255);
    const int32_t size = ReadInteger(section, key + QStringLiteral("Size"), 0);
    if (size != 0) font.Size = size;
    font.Bold = ReadBool(section, key + QStringLiteral("Bold"), false);
    font.Italic = ReadBool(section, key + QStringLiteral("Italics"), false);
    font.Underline = ReadBool(section, key + QStringLiteral("Underline"), false);
    font.StrikeOut = ReadBool(section, key + QStringLiteral("Strikeout"), false);
    font.Color = ReadInteger(section, key + QStringLiteral("Color"), 0);
    return font;
}

void TSetting::ReadSection(const QString& Section, QStringList& Strings) {
    Strings.clear();
    take_identity();
    if (is_registry()) {
        try {
            use_registry_root();
            if (reg->OpenKeyReadOnly(section_key(Section))) Strings = reg->GetValueNames();
        } catch (const Exception&) {
        }
        reg->CloseKey();
        return;
    }
    Strings = ini_op(false, [&](TIniFile& f) { return f.ReadSection(Section); });
}

void TSetting::ReadSections(QStringList& Strings) {
    Strings.clear();
    take_identity();
    if (is_registry()) {
        try {
            use_registry_root();
            if (reg->OpenKeyReadOnly(product_key())) Strings = reg->GetKeyNames();
        } catch (const Exception&) {
        }
        reg->CloseKey();
        return;
    }
    Strings = ini_op(false, [&](TIniFile& f) { return f.ReadSections(); });
}

// ---- writes

void TSetting::WriteString(const QString& section, const QString& key, const QString& value) {
    take_identity();
    if (is_registry())
        registry_write(section_key(section), [&](TRegistry& r) { r.WriteString(key, value); });
    else
        ini_op(true, [&](TIniFile& f) { f.WriteString(section, key, value); });
}

void TSetting::WriteInteger(const QString& section, const QString& key, int32_t value) {
    take_identity();
    if (is_registry())
        registry_write(section_key(section), [&](TRegistry& r) { r.WriteInteger(key, value); });
    else
        ini_op(true, [&](TIniFile& f) { f.WriteString(section, key, QString::number(value)); });
}

void TSetting::WriteBool(const QString& section, const QString& key, bool value) {
    WriteInteger(section, key, value ? 1 : 0);
}

void TSetting::WriteFloat(const QString& section, const QString& key, double value) {
    WriteString(section, key, float_text(value));
}

void TSetting::WriteFont(const QString& section, const QString& key, const TSettingFont& value) {
    WriteString(section, key + QStringLiteral("Name"), value.Name);
    WriteInteger(section, key + QStringLiteral("Size"), value.Size);
    WriteInteger(section, key + QStringLiteral("Color"), value.Color);
    WriteBool(section, key + QStringLiteral("Bold"), value.Bold);
    WriteBool(section, key + QStringLiteral("Italics"), value.Italic);
    WriteBool(section, key + QStringLiteral("Underline"), value.Underline);
    WriteBool(section, key + QStringLiteral("Strikeout"), value.StrikeOut);
}

void TSetting::DeleteSection(const QString& Section) {
    take_identity();
    if (is_registry()) {
        use_registry_root();
        reg->DeleteKey(section_key(Section));
        return;
    }
    try {
        ini_op(true, [&](TIniFile& f) { f.EraseSection(Section); });
    } catch (const EFileError&) {
        // Erasing a section ignores failures of the file.
    }
}

void TSetting::DeleteKey(const QString& Section, const QString& Key) {
    take_identity();
    if (is_registry()) {
        registry_write(section_key(Section), [&](TRegistry& r) { r.DeleteValue(Key); });
        return;
    }
    ini_op(true, [&](TIniFile& f) { f.DeleteKey(Section, Key); });
}

bool TSetting::OkToWrite() {
    try {
        take_identity();
        if (is_registry()) {
            registry_write(product_key(), [&](TRegistry& r) {
                r.WriteString(QStringLiteral("~testkey"), QStringLiteral("test"));
                if (!r.DeleteValue(QStringLiteral("~testkey")))
                    throw ERegistryError(QStringLiteral("Cannot delete a registry value"));
            });
            return true;
        }
        const QString path = ini_path();
        if (path.isEmpty()) return false;
        if (!QDir().mkpath(QFileInfo(path).absolutePath())) return false;
        // A probe of its own, so that changes held back by ManualIniClose
        // stay held back.
        // Written twice: a write that changes nothing would not touch the
        // file, so the test section is stored first, then erased.
        TIniFile probe(path);
        probe.WriteString(QStringLiteral("~testsection"), QStringLiteral("~testkey"), QStringLiteral("test"));
        probe.UpdateFile();
        probe.EraseSection(QStringLiteral("~testsection"));
        probe.UpdateFile();
        return true;
    } catch (...) {
        reg->CloseKey();
        return false;
    }
}

// ---- float text

QString TSetting::float_text(double x) {
    if (std::isnan(x)) return QStringLiteral("NAN").rightJustified(23);
    if (std::isinf(x)) return (x < 0 ? QStringLiteral("-INF") : QStringLiteral("INF")).rightJustified(23);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.14E", x);  // "-1.00000000000000E-03"
    QString s = QString::fromLatin1(buf);
    const int e = s.indexOf(QLatin1Char('E'));
    QString mantissa = s.left(e);
    const int exponent = s.mid(e + 1).toInt();
    const QChar sign = mantissa.startsWith(QLatin1Char('-')) ? QLatin1Char('-') : QLatin1Char(' ');
    if (sign == QLatin1Char('-')) mantissa.remove(0, 1);
    return sign + mantissa + QLatin1Char('E') + (exponent < 0 ? QLatin1Char('-') : QLatin1Char('+')) +
           QStringLiteral("%1").arg(std::abs(exponent), 4, 10, QLatin1Char('0'));
}

bool TSetting::parse_float_text(const QString& text, double* x) {
    QString t = text.trimmed();
    if (t.startsWith(QLatin1Char('+'))) t.remove(0, 1);
    if (t.isEmpty() || t.startsWith(QLatin1Char('+'))) return false;
    for (QChar c : t)
        if (c.unicode() > 0x7F) return false;
    const std::string s = t.toStdString();
    double v = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v, std::chars_format::general);
    if (ec != std::errc() || end != s.data() + s.size()) return false;
    *x = v;
    return true;
}

}  // namespace wavrell
