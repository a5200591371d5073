#include "SystemFolders.h"

#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>

#include <algorithm>
#include <array>

namespace {

// configfs, fusectl and mqueue have no names in <linux/magic.h>.
constexpr std::array<unsigned long, 19> kSystemTypes = {PROC_SUPER_MAGIC,
                                                        SYSFS_MAGIC,
                                                        CGROUP_SUPER_MAGIC,
                                                        CGROUP2_SUPER_MAGIC,
                                                        DEBUGFS_MAGIC,
                                                        TRACEFS_MAGIC,
                                                        SECURITYFS_MAGIC,
                                                        DEVPTS_SUPER_MAGIC,
                                                        PSTOREFS_MAGIC,
                                                        BPF_FS_MAGIC,
                                                        SELINUX_MAGIC,
                                                        SMACK_MAGIC,
                                                        EFIVARFS_MAGIC,
                                                        NSFS_MAGIC,
                                                        BINFMTFS_MAGIC,
                                                        USBDEVICE_SUPER_MAGIC,
                                                        0x62656570 /* configfs */,
                                                        0x65735543 /* fusectl */,
                                                        0x19800202 /* mqueue */};

// devtmpfs reports itself as tmpfs; it is told by being the file system mounted on /dev.
bool IsDeviceFolder(const struct stat& folder) {
    static const dev_t devices = [] {
        struct stat dev {
        }, root{};
        bool own = stat("/dev", &dev) == 0 && stat("/", &root) == 0 && dev.st_dev != root.st_dev;
        return own ? dev.st_dev : dev_t(-1);
    }();
    return folder.st_dev == devices;
}

}  // namespace

bool IsSystemFolder(int fd) {
    struct statfs fs {};
    if (fstatfs(fd, &fs) == 0 &&
        std::find(kSystemTypes.begin(), kSystemTypes.end(),
                  static_cast<unsigned long>(fs.f_type)) != kSystemTypes.end())
        return true;
    struct stat st {};
    return fstat(fd, &st) == 0 && IsDeviceFolder(st);
}
