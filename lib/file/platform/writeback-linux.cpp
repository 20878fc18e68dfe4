#include "platform/writeback.h"

#include <fcntl.h>
#include <unistd.h>

namespace fileplatform {

void AdviseSequentialRead(int fd)
{
    // Advisory only: the copy reads correctly whether or not it is honoured.
    (void)posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
}

bool StartWriteback(int fd, off_t offset, off_t length)
{
    return sync_file_range(fd, offset, length, SYNC_FILE_RANGE_WRITE) == 0;
}

bool SyncFileSystem(int fd)
{
    return syncfs(fd) == 0;
}

}  // namespace fileplatform
