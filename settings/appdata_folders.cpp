#include "settings/appdata_folders.h"

#include <QCoreApplication>
#include <QDir>

#include <unistd.h>

namespace wavrell {

namespace {
QString absolute_or_empty(const QString& path) {
    if (path.isEmpty() || !QDir::isAbsolutePath(path)) return {};
    QString p = QDir::cleanPath(path);
    return p;
}

QString env_folder(const char* var, const char* below_home) {
    QString v = absolute_or_empty(qEnvironmentVariable(var));
    if (!v.isEmpty()) return v;
    const QString home = absolute_or_empty(qEnvironmentVariable("HOME"));
    if (home.isEmpty()) return {};
    return QDir::cleanPath(home + QLatin1Char('/') + QLatin1String(below_home));
}

QString call(const std::function<QString()>& f, QString (*fallback)()) {
    QString v = f ? f() : fallback();
    while (v.size() > 1 && v.endsWith(QLatin1Char('/'))) v.chop(1);
    return v;
}

QString default_last_resort() { return QStringLiteral("/etc"); }
QString default_executable() { return QCoreApplication::applicationFilePath(); }
}  // namespace

QString xdg_config_home() { return env_folder("XDG_CONFIG_HOME", ".config"); }
QString xdg_data_home() { return env_folder("XDG_DATA_HOME", ".local/share"); }

QString xdg_first_config_dir() {
    const QStringList dirs = qEnvironmentVariable("XDG_CONFIG_DIRS").split(QLatin1Char(':'), Qt::SkipEmptyParts);
    for (const QString& d : dirs) {
        QString v = absolute_or_empty(d);
        if (!v.isEmpty()) return v;
    }
    return QStringLiteral("/etc/xdg");
}

SpecialFolderLookups& special_folder_lookups() {
    static SpecialFolderLookups lookups;
    return lookups;
}

QString special_folder(SpecialFolder folder) {
    const SpecialFolderLookups& l = special_folder_lookups();
    switch (folder) {
        case SpecialFolder::Roaming: return call(l.roaming, &xdg_config_home);
        case SpecialFolder::Local: return call(l.local, &xdg_data_home);
        case SpecialFolder::Common: return call(l.common, &xdg_first_config_dir);
    }
    return {};
}

QString last_resort_folder() { return call(special_folder_lookups().last_resort, &default_last_resort); }

bool runs_as_administrator() {
    const auto& f = special_folder_lookups().administrator;
    return f ? f() : ::geteuid() == 0;
}

QString executable_path() {
    const auto& f = special_folder_lookups().executable_path;
    return f ? f() : default_executable();
}

}  // namespace wavrell
