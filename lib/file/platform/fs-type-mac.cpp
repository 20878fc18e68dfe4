// Apple systems name the file-system type in statfs itself.
#include "platform/fs-type.h"

#include <sys/mount.h>
#include <sys/param.h>

namespace fileplatform {

int FileSystemTypeName(const char* path, std::string& name)
{
    struct statfs info;
    if (statfs(path, &info) != 0)
        return -1;
    name = info.f_fstypename;
    return 0;
}

}  // namespace fileplatform
