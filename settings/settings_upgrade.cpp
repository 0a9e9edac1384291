#include "settings/settings_upgrade.h"

#include "settings/appdata_folders.h"
#include "settings/prog_id.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QVersionNumber>

namespace wavrell {

namespace {

/// The folder's name read as a whole version number; null otherwise.
QVersionNumber version_of(const QString& name) {
    qsizetype end = 0;
    const QVersionNumber v = QVersionNumber::fromString(name, &end);
    return end == name.size() ? v : QVersionNumber();
}

/// Copies the regular files below `from` (sub-folders too) into `to`;
/// lock files stay behind.
bool copy_tree(const QString& from, const QString& to) {
    if (!QDir().mkpath(to)) return false;
    QDirIterator it(from, QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo f(it.next());
        const QString target = to + QLatin1Char('/') + QDir(from).relativeFilePath(f.filePath());
        if (f.isDir() && !f.isSymLink()) {
            if (!QDir().mkpath(target)) return false;
        } else if (f.isFile() && !f.fileName().endsWith(QLatin1String(".lock"))) {
            if (!QFile::copy(f.filePath(), target)) return false;
        }
    }
    return true;
}

}  // namespace

QString adopt_older_settings(const TProgId& id) {
    const QString roaming = special_folder(SpecialFolder::Roaming);
    const QVersionNumber current = version_of(id.Version());
    if (roaming.isEmpty() || current.isNull()) return {};
    const QDir product(roaming + QLatin1Char('/') + id.Company() + QLatin1Char('/') + id.ProductName());
    const QString own = product.filePath(id.Version());
    if (QFileInfo::exists(own)) return {};

    QString newest;
    QVersionNumber newestversion;
    for (const QString& name : product.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QVersionNumber v = version_of(name);
        if (!v.isNull() && v < current && (newestversion.isNull() || v > newestversion)) {
            newest = name;
            newestversion = v;
        }
    }
    if (newest.isEmpty()) return {};

    const QString temporary =
        own + QStringLiteral(".copy-%1").arg(QCoreApplication::applicationPid());
    QDir(temporary).removeRecursively();
    // Another program of this version that was quicker has the folder in
    // place already: its copy counts.
    const bool copied = copy_tree(product.filePath(newest), temporary) && QDir().rename(temporary, own);
    if (!copied) {
        QDir(temporary).removeRecursively();
        return {};
    }
    return newest;
}

}  // namespace wavrell
