// Apple systems have no kernel copy between two descriptors; the caller
// copies through its own buffer.
#include "platform/copy-range.h"

#include <errno.h>

namespace fileplatform {

ssize_t CopyRange(int, int, size_t)
{
    errno = ENOSYS;
    return -1;
}

}  // namespace fileplatform
