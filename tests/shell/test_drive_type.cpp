#include "shell/drive_type.h"

#include "tests/settings/isolated_folders.h"

#include <gtest/gtest.h>

using namespace wavrell;

namespace {

TEST(DriveType, FileSystemTypesAndRemovableDevices) {
    struct Case {
        const char* fstype;
        bool removable;
        DriveType type;
    } cases[] = {
        {"ext4", false, DriveType::Fixed},        {"ext4", true, DriveType::Removable},
        {"vfat", true, DriveType::Removable},     {"btrfs", false, DriveType::Fixed},
        {"overlay", false, DriveType::Fixed},     {"nfs4", false, DriveType::Remote},
        {"cifs", false, DriveType::Remote},       {"fuse.sshfs", false, DriveType::Remote},
        {"9p", false, DriveType::Remote},         {"tmpfs", false, DriveType::RAMDisk},
        {"ramfs", false, DriveType::RAMDisk},     {"iso9660", true, DriveType::CDROM},
        {"udf", false, DriveType::CDROM},
    };
    for (const Case& c : cases)
        EXPECT_EQ(drive_type_of(QLatin1String(c.fstype), c.removable), c.type) << c.fstype << c.removable;
}

TEST(DriveType, MountPointOfAPath) {
    const QList<MountEntry> table = parse_mount_table(
        "/dev/vda / ext4 rw 0 0\n"
        "tmpfs /dev/shm tmpfs rw 0 0\n"
        "server:/music /mnt/my\\040music nfs4 rw 0 0\n"
        "/dev/sdb1 /mnt/a vfat rw 0 0\n"
        "tmpfs /mnt/a tmpfs rw 0 0\n");
    ASSERT_EQ(table.size(), 5);
    EXPECT_EQ(table[2].mountpoint, QStringLiteral("/mnt/my music"));
    EXPECT_EQ(table[2].source, QStringLiteral("server:/music"));
    EXPECT_EQ(table[2].fstype, QStringLiteral("nfs4"));
    EXPECT_EQ(mount_point_of(QStringLiteral("/mnt/my music/x.wav"), table), QStringLiteral("/mnt/my music"));
    EXPECT_EQ(mount_point_of(QStringLiteral("/mnt/ab/x.wav"), table), QStringLiteral("/"));
    EXPECT_EQ(mount_point_of(QStringLiteral("/mnt/a/x.wav"), table), QStringLiteral("/mnt/a"));
    EXPECT_EQ(mount_point_of(QStringLiteral("/dev/shm"), table), QStringLiteral("/dev/shm"));
    EXPECT_EQ(mount_point_of(QStringLiteral("/x"), {}), QString());
}

TEST(DriveType, DrivesOfThisMachine) {
    auto dir = test::build_temp_dir();
    const QString root = drive_root(dir->path() + QStringLiteral("/x.wav"));
    ASSERT_FALSE(root.isEmpty());
    EXPECT_TRUE(root.endsWith('/'));
    EXPECT_EQ(drive_type(root), DriveType::Fixed) << root.toStdString();
    EXPECT_EQ(drive_type(QStringLiteral("/no/such/root/")), DriveType::NoRootDir);

    bool shm_is_tmpfs = false;
    for (const MountEntry& m : mount_table())
        if (m.mountpoint == QLatin1String("/dev/shm")) shm_is_tmpfs = m.fstype == QLatin1String("tmpfs");
    if (!shm_is_tmpfs) GTEST_SKIP() << "/dev/shm is not a tmpfs here";
    EXPECT_EQ(drive_root(QStringLiteral("/dev/shm/x.wav")), QStringLiteral("/dev/shm/"));
    EXPECT_EQ(drive_type(QStringLiteral("/dev/shm/")), DriveType::RAMDisk);
}

}  // namespace
