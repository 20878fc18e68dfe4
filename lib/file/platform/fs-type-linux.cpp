// Linux statfs reports a magic number; the names are the ones the rest of
// the file layer compares against.
#include "platform/fs-type.h"

#include <sys/vfs.h>

#include <cstdio>

namespace fileplatform {
namespace {

struct TypeName {
    unsigned long magic;
    const char* name;
};

// Magic numbers from linux/magic.h and the file systems' own sources.
constexpr TypeName kTypeNames[] = {
    {0x6969UL, "nfs"},          // NFS (all versions)
    {0x517BUL, "smbfs"},        // smbfs
    {0xFF534D42UL, "smbfs"},    // cifs
    {0xFE534D42UL, "smbfs"},    // smb3
    {0x4d44UL, "msdos"},        // msdos and vfat
    {0x2011BAB0UL, "exfat"},
    {0x5346544eUL, "ntfs"},
    {0x7366746eUL, "ntfs"},     // ntfs3
    {0x4244UL, "hfs"},
    {0x482bUL, "hfs"},          // hfsplus
    {0xEF53UL, "ext4"},         // ext2, ext3, ext4
    {0x01021994UL, "tmpfs"},
    {0x58465342UL, "xfs"},
    {0x9123683EUL, "btrfs"},
    {0x794c7630UL, "overlay"},
    {0x65735546UL, "fuse"},
    {0x01021997UL, "9p"},
    {0x6a656a63UL, "virtiofs"},
    {0x9660UL, "cd9660"},
    {0x73717368UL, "squashfs"},
    {0xF2F52010UL, "f2fs"},
};

}  // namespace

int FileSystemTypeName(const char* path, std::string& name)
{
    struct statfs info;
    if (statfs(path, &info) != 0)
        return -1;
    unsigned long magic = static_cast<unsigned long>(info.f_type) & 0xFFFFFFFFUL;
    for (const TypeName& entry : kTypeNames) {
        if (entry.magic == magic) {
            name = entry.name;
            return 0;
        }
    }
    char hex[24];
    snprintf(hex, sizeof hex, "0x%lx", magic);
    name = hex;
    return 0;
}

}  // namespace fileplatform
