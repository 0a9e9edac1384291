#pragma once

#include "settings/appdata_folders.h"
#include "tests/support/test_support.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <memory>
#include <ostream>

/// Lets GoogleTest print texts readably in failure messages.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace wavrell::test {

/// Points HOME and the XDG folders at fresh folders below one temporary
/// folder on the build folder's file system for the life of the object, and
/// restores the environment and the special-folder lookups afterwards.
class IsolatedFolders {
public:
    IsolatedFolders() : fdir(build_temp_dir()) {
        for (const char* v : kVars) fsaved.append({v, qgetenv(v), qEnvironmentVariableIsSet(v)});
        set("HOME", "home");
        set("XDG_CONFIG_HOME", "config");
        set("XDG_DATA_HOME", "data");
        set("XDG_CONFIG_DIRS", "etc-xdg");
        special_folder_lookups() = {};
    }
    ~IsolatedFolders() {
        for (const auto& s : fsaved)
            if (s.set)
                qputenv(s.name, s.value);
            else
                qunsetenv(s.name);
        special_folder_lookups() = {};
    }
    IsolatedFolders(const IsolatedFolders&) = delete;
    IsolatedFolders& operator=(const IsolatedFolders&) = delete;

    /// A path below the temporary folder.
    QString path(const QString& rel) const { return fdir->path() + QLatin1Char('/') + rel; }
    QString home() const { return path(QStringLiteral("home")); }
    QString config() const { return path(QStringLiteral("config")); }
    QString data() const { return path(QStringLiteral("data")); }
    QString etc_xdg() const { return path(QStringLiteral("etc-xdg")); }

    /// Writes a file (creating its folder) and returns its path.
    QString write_file(const QString& rel, const QByteArray& content = "x") const {
        const QString p = path(rel);
        QDir().mkpath(QFileInfo(p).absolutePath());
        QFile f(p);
        if (f.open(QIODevice::WriteOnly)) f.write(content);
        return p;
    }

private:
    void set(const char* var, const char* rel) {
        QDir().mkpath(path(QLatin1String(rel)));
        qputenv(var, QFile::encodeName(path(QLatin1String(rel))));
    }
    static constexpr const char* kVars[] = {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CONFIG_DIRS"};
    struct Saved {
        const char* name;
        QByteArray value;
        bool set;
    };
    std::unique_ptr<QTemporaryDir> fdir;
    QList<Saved> fsaved;
};

/// The whole content of a text file ("" when it cannot be read).
inline QString read_text(const QString& file) {
    QFile f(file);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

/// The whole content of a file, byte for byte ("" when it cannot be read).
inline QByteArray read_bytes(const QString& file) {
    QFile f(file);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

}  // namespace wavrell::test
