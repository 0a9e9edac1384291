#pragma once

// What an installed Wavrell consists of, for the tests of the installed tree
// and of the package.

#include <QDir>
#include <QDirIterator>
#include <QStringList>

namespace wavrell::test {

/// The icon sizes of the hicolor theme that are installed as PNG files.
inline const QList<int> installed_icon_sizes{16, 24, 32, 48, 64, 128, 256};

/// The AppStream metadata file below share/metainfo.
inline const QString metainfo_name = QStringLiteral("example.ostreldata.wavrell.metainfo.xml");

/// Every file of an installed tree, relative to its prefix, sorted.
inline QStringList installed_files() {
    QStringList files{
        QStringLiteral("bin/wavrell"),
        QStringLiteral("lib/wavrell/libwavrell_gui.so"),
        QStringLiteral("lib/wavrell/libwavrellconnstate.so"),
        QStringLiteral("share/applications/wavrell.desktop"),
        QStringLiteral("share/doc/wavrell/changelog.gz"),
        QStringLiteral("share/doc/wavrell/copyright"),
        QStringLiteral("share/doc/wavrell/wavrell.html"),
        QStringLiteral("share/icons/hicolor/scalable/apps/wavrell.svg"),
        QStringLiteral("share/man/man1/wavrell.1.gz"),
        QStringLiteral("share/metainfo/") + metainfo_name,
        QStringLiteral("share/wavrell/demo/wavrell-demo-loud.wav"),
        QStringLiteral("share/wavrell/demo/wavrell-demo-original.wav"),
    };
    for (int size : installed_icon_sizes)
        files << QStringLiteral("share/icons/hicolor/%1x%1/apps/wavrell.png").arg(size);
    files.sort();
    return files;
}

/// The files (not folders) below `root`, relative to it, sorted.
inline QStringList files_below(const QString& root) {
    QStringList files;
    const QDir base(root);
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) files << base.relativeFilePath(it.next());
    files.sort();
    return files;
}

}  // namespace wavrell::test
