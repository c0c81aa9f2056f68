#include "mounted_volumes.h"

#include <gtest/gtest.h>

using namespace zapfer;

TEST(MountedVolumes, RootFirstThenRealFileSystemsOnce) {
    const QByteArray mounts = "overlay / overlay rw 0 0\n"
                              "proc /proc proc rw 0 0\n"
                              "sysfs /sys sysfs rw 0 0\n"
                              "tmpfs /dev/shm tmpfs rw 0 0\n"
                              "/dev/sda2 /home ext4 rw 0 0\n"
                              "tmpfs /run/user/1000 tmpfs rw 0 0\n"
                              "/dev/sdb1 /media/u/My\\040Stick vfat rw 0 0\n"
                              "/dev/sda2 /home ext4 rw 0 0\n"
                              "server:/x /mnt/net nfs4 rw 0 0\n"
                              "/dev/sda3 /run/media/x ext4 rw 0 0\n"
                              "garbage\n";
    const QStringList expected = {QStringLiteral("/"), QStringLiteral("/home"),
                                  QStringLiteral("/media/u/My Stick"), QStringLiteral("/mnt/net")};
    EXPECT_EQ(parseMountedVolumes(mounts), expected);
}

TEST(MountedVolumes, ThisMachineHasAtLeastTheRoot) {
    const QStringList volumes = mountedVolumes();
    ASSERT_FALSE(volumes.isEmpty());
    EXPECT_EQ(volumes.first(), QStringLiteral("/"));
}
