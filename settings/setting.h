#pragma once

#include "common/errors.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>

namespace wavrell {

class TProgId;
class TIniFile;
class TRegistry;

/// A settings store error: no identity assigned.
WAVRELL_DECLARE_ERROR(ESettingError);

/// Where a TSetting keeps its values, in this order.
enum tsettinglocation {
    sluser,            ///< per-user registry store
    slmachine,         ///< machine-wide registry store
    slroaming,         ///< ini file below the roaming folder ($XDG_CONFIG_HOME)
    slnonroaming,      ///< ini file below the local folder ($XDG_DATA_HOME)
    slcommonadmin,     ///< ini file below the common folder (first of $XDG_CONFIG_DIRS)
    slcommoninsecure,  ///< ini file in the sub-folder "insecure" of that
    slfile             ///< the ini file named by Filename
};

/// A font as the settings store keeps it: seven values under one key.
struct TSettingFont {
    QString Name;
    int32_t Size = 0;    ///< points
    int32_t Color = 0;   ///< colour value 0x00BBGGRR
    bool Bold = false;
    bool Italic = false;
    bool Underline = false;
    bool StrikeOut = false;
};

/// Reads and writes named values in sections, at one of seven locations
/// derived from the program identity: registry key
/// "\Software\<company>\<product>\<version>\<section>", or the ini file
/// <folder>/<company>/<product>/<version>/<name>.ini, where <name> is taken
/// from IniFilename or else from the executable file. A location whose
/// special folder is not found falls back (roaming and local to the user
/// store, common to the machine store, common-insecure to the last-resort
/// folder). Ini files are plain ini files, replaced atomically on every
/// flush. Owns its registry and ini accessors; the identity is not owned.
/// GUI thread.
class TSetting : public QObject {
public:
    explicit TSetting(QObject* owner = nullptr);
    ~TSetting() override;

    /// The effective location: the stored one, or its fall-back when the
    /// last lookup did not find its folder.
    tsettinglocation Location() const;
    /// Stores the location and looks its folder up again.
    void setLocation(tsettinglocation v);
    TProgId* ProgId() const { return fprogid; }
    void setProgId(TProgId* v) { fprogid = v; }
    QString Filename() const { return fFilename; }
    void setFilename(const QString& v);
    /// The effective store: "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE" or the
    /// full path of the ini file.
    QString IniFilename();
    /// Only the file-name part of the text counts, its extension becoming
    /// ".ini"; empty: the executable's name.
    void setIniFilename(const QString& v);
    bool ManualIniClose() const { return fmanualiniclose; }
    /// false flushes pending ini changes at once.
    void setManualIniClose(bool v);

    /// The identity's values; ESettingError "Nothing assigned to ProgId"
    /// without identity. A changed value makes the next operation use the
    /// new key and folder.
    QString Company();
    QString ProductName();
    QString Version();

    QString ReadString(const QString& section, const QString& key, const QString& defaultvalue);
    int32_t ReadInteger(const QString& section, const QString& key, int32_t defaultvalue);
    bool ReadBool(const QString& section, const QString& key, bool defaultvalue);
    double ReadFloat(const QString& section, const QString& key, double defaultvalue);
    /// Changes and returns the font passed in.
    TSettingFont& ReadFont(const QString& section, const QString& key, TSettingFont& defaultvalue);
    /// Writes raise the accessor's error (ERegistryError, EFileError).
    void WriteString(const QString& section, const QString& key, const QString& value);
    void WriteInteger(const QString& section, const QString& key, int32_t value);
    void WriteBool(const QString& section, const QString& key, bool value);
    void WriteFloat(const QString& section, const QString& key, double value);
    void WriteFont(const QString& section, const QString& key, const TSettingFont& value);
    /// Replaces Strings with the key names of a section / the section names.
    void ReadSection(const QString& Section, QStringList& Strings);
    void ReadSections(QStringList& Strings);
    void DeleteSection(const QString& Section);
    void DeleteKey(const QString& Section, const QString& Key);
    /// Whether the location can be written (tries it); never raises.
    bool OkToWrite();
    /// Flushes the ini file.
    void IniClose();
    /// Drops ini changes not yet flushed (with ManualIniClose).
    void IniDiscard();

    /// Raises ESettingError "Nothing assigned to <name>.ProgId" without
    /// identity.
    void Loaded();

    /// The 23-character float text: " 1.50000000000000E+0000",
    /// "-1.00000000000000E-0003".
    static QString float_text(double x);
    /// Reads that form ("." as decimal point, blanks around allowed); false
    /// unless the whole text is a number.
    static bool parse_float_text(const QString& text, double* x);

private:
    bool is_registry() const;
    QString section_key(const QString& section);
    QString product_key();
    void fix_paths();
    void find_dir();
    void identity_changed();
    void take_identity();
    QString ini_path();
    TIniFile& ini_for(const QString& path);
    template <class F> auto ini_op(bool write, F&& f);
    template <class F> void registry_write(const QString& key, F&& f);
    void use_registry_root();

    tsettinglocation fLocation = sluser;
    QString fCompany, fProductName, fVersion;
    QString fFilename;
    QString fIniFilename;  // as set by the caller
    QString feffective;    // the effective store as last computed
    QString fautofilename;
    QString fautodir;
    QPointer<TProgId> fprogid;
    bool fmanualiniclose = false;
    bool inifilenamedirty = true;
    QString windir;
    bool dirfound = false;
    bool fixingpaths = false;
    std::unique_ptr<TRegistry> reg;
    std::unique_ptr<TIniFile> ini;
};

}  // namespace wavrell
