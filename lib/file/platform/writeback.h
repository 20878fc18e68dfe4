// Hints that let a long copy overlap its disk writes with its reads, so that
// the final fsync has little left to do. Both are advisory: a file system or
// device that refuses them is copied all the same.
#pragma once

#include <sys/types.h>

namespace fileplatform {

// Announces that `fd` will be read from start to end.
void AdviseSequentialRead(int fd);

// Starts writing back `length` bytes of `fd` from `offset` without waiting
// for them; returns false when the descriptor does not support it.
bool StartWriteback(int fd, off_t offset, off_t length);

// Writes back everything written to the file system holding `fd` and waits
// for it, in one batch; false when that fails or the system has no such
// call. Errors of single files are left for their own fsync to report.
bool SyncFileSystem(int fd);

}  // namespace fileplatform
