#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace wavrell {

/// Kinds of drive a file can lie on, in the order of the classic drive-type
/// codes: Unknown when it cannot be told, NoRootDir when the root does not
/// exist.
enum class DriveType { Unknown, NoRootDir, Removable, Fixed, Remote, CDROM, RAMDisk };

/// One line of the mount table.
struct MountEntry {
    QString source;      ///< device or server ("/dev/sda1", "server:/export")
    QString mountpoint;  ///< absolute folder
    QString fstype;      ///< "ext4", "nfs4", "fuse.sshfs", ...
};

/// The lines of a mount table in /proc/mounts form (octal escapes such as
/// "\040" decoded), in table order.
QList<MountEntry> parse_mount_table(const QByteArray& text);
/// The mount table of this process; empty when it cannot be read.
QList<MountEntry> mount_table();

/// The mount point that holds an absolute path: the longest mount point
/// that is the path or one of its parent folders, the later of equal ones
/// (it covers the earlier). Empty when none does.
QString mount_point_of(const QString& path, const QList<MountEntry>& table);
/// The drive part of a path on this system: its mount point, ending in "/";
/// empty when the mount table cannot be read.
QString drive_root(const QString& path);

/// Network file systems are remote, tmpfs and ramfs RAM disks, iso9660 and
/// udf CD-ROM, a removable block device removable, the rest fixed.
DriveType drive_type_of(const QString& fstype, bool removable_device);
/// The drive type of a root folder from the mount table, the file-system
/// type statfs reports and the block device's removable flag in sysfs.
DriveType drive_type(const QString& root);

}  // namespace wavrell
