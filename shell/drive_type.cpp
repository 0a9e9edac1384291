#include "shell/drive_type.h"

#include <QDir>
#include <QFile>
#include <QSet>

#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>

#include <cerrno>

namespace wavrell {

namespace {
QString unescape_mount_field(const QByteArray& field) {
    QByteArray out;
    for (int i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            bool ok = false;
            const int code = field.mid(i + 1, 3).toInt(&ok, 8);
            if (ok) {
                out += char(code);
                i += 3;
                continue;
            }
        }
        out += field[i];
    }
    return QFile::decodeName(out);
}

bool is_remote_type(const QString& fstype) {
    static const QSet<QString> remote{
        QStringLiteral("nfs"),       QStringLiteral("nfs4"),         QStringLiteral("cifs"),
        QStringLiteral("smb3"),      QStringLiteral("smbfs"),        QStringLiteral("ncpfs"),
        QStringLiteral("afs"),       QStringLiteral("9p"),           QStringLiteral("ceph"),
        QStringLiteral("glusterfs"), QStringLiteral("lustre"),       QStringLiteral("coda"),
        QStringLiteral("davfs"),     QStringLiteral("fuse.sshfs"),   QStringLiteral("fuse.rclone"),
        QStringLiteral("fuse.davfs2"), QStringLiteral("fuse.s3fs"),  QStringLiteral("fuse.glusterfs"),
        QStringLiteral("fuse.cephfs"), QStringLiteral("fuse.curlftpfs")};
    return remote.contains(fstype);
}

/// The classification by the statfs magic number, Fixed when it says
/// nothing special.
DriveType drive_type_of_magic(unsigned long magic) {
    switch (magic) {
        case 0x6969:      // NFS
        case 0x517B:      // SMB
        case 0xFE534D42:  // SMB2
        case 0xFF534D42:  // CIFS
        case 0x5346414F:  // AFS
        case 0x73757245:  // CODA
        case 0x01021997:  // 9P
        case 0x00C36400:  // CEPH
            return DriveType::Remote;
        case 0x01021994:  // TMPFS
        case 0x858458F6:  // RAMFS
            return DriveType::RAMDisk;
        case 0x9660:      // ISO 9660
        case 0x15013346:  // UDF
            return DriveType::CDROM;
        default: return DriveType::Fixed;
    }
}

/// Whether the block device behind a file system is removable; a
/// partition takes the flag of its disk.
bool removable_device(dev_t dev) {
    const QString sys = QStringLiteral("/sys/dev/block/%1:%2").arg(major(dev)).arg(minor(dev));
    QString dir = QDir(sys).canonicalPath();
    if (dir.isEmpty()) return false;  // not a block device (tmpfs, overlay, ...)
    if (QFile::exists(dir + QStringLiteral("/partition"))) dir = QDir::cleanPath(dir + QStringLiteral("/.."));
    QFile f(dir + QStringLiteral("/removable"));
    return f.open(QIODevice::ReadOnly) && f.readAll().trimmed() == "1";
}
}  // namespace

QList<MountEntry> parse_mount_table(const QByteArray& text) {
    QList<MountEntry> table;
    for (const QByteArray& line : text.split('\n')) {
        const QList<QByteArray> f = line.simplified().split(' ');
        if (f.size() < 3 || f[1].isEmpty() || !f[1].startsWith('/')) continue;
        table.append({unescape_mount_field(f[0]), unescape_mount_field(f[1]), unescape_mount_field(f[2])});
    }
    return table;
}

QList<MountEntry> mount_table() {
    QFile f(QStringLiteral("/proc/self/mounts"));
    if (!f.open(QIODevice::ReadOnly)) return {};
    return parse_mount_table(f.readAll());
}

QString mount_point_of(const QString& path, const QList<MountEntry>& table) {
    QString best;
    bool found = false;
    for (const MountEntry& m : table) {
        const QString mp = m.mountpoint == QLatin1String("/") ? m.mountpoint : QDir::cleanPath(m.mountpoint);
        const bool holds = mp == QLatin1String("/") || path == mp || path.startsWith(mp + QLatin1Char('/'));
        if (holds && (!found || mp.size() >= best.size())) {
            best = mp;
            found = true;
        }
    }
    return best;
}

QString drive_root(const QString& path) {
    const QString mp = mount_point_of(QDir::cleanPath(path), mount_table());
    if (mp.isEmpty()) return {};
    return mp.endsWith(QLatin1Char('/')) ? mp : mp + QLatin1Char('/');
}

DriveType drive_type_of(const QString& fstype, bool removable) {
    if (is_remote_type(fstype)) return DriveType::Remote;
    if (fstype == QLatin1String("tmpfs") || fstype == QLatin1String("ramfs")) return DriveType::RAMDisk;
    if (fstype == QLatin1String("iso9660") || fstype == QLatin1String("udf")) return DriveType::CDROM;
    return removable ? DriveType::Removable : DriveType::Fixed;
}

DriveType drive_type(const QString& root) {
    const QByteArray name = QFile::encodeName(root);
    struct statfs fs {};
    if (::statfs(name.constData(), &fs) != 0)
        return errno == ENOENT || errno == ENOTDIR ? DriveType::NoRootDir : DriveType::Unknown;
    struct stat st {};
    const bool removable = ::stat(name.constData(), &st) == 0 && removable_device(st.st_dev);

    QString fstype;
    const QString mp = root.size() > 1 && root.endsWith(QLatin1Char('/')) ? root.chopped(1) : root;
    for (const MountEntry& m : mount_table())
        if (QDir::cleanPath(m.mountpoint) == mp) fstype = m.fstype;  // the last one covers the others
    const DriveType by_name = drive_type_of(fstype, removable);
    if (by_name != DriveType::Fixed) return by_name;
    // A type name the table does not know (or no entry): the magic number
    // may still tell a network or memory file system.
    const DriveType by_magic = drive_type_of_magic(static_cast<unsigned long>(fs.f_type) & 0xFFFFFFFFul);
    return by_magic == DriveType::Fixed ? by_name : by_magic;
}

}  // namespace wavrell
