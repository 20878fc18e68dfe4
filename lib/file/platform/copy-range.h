// Copies between two open files inside the kernel, where the system offers
// it, so the bytes never pass through the process.
#pragma once

#include <sys/types.h>

namespace fileplatform {

// Copies up to `length` bytes from the current offset of `in` to the current
// offset of `out` and advances both. Returns the number of bytes copied, 0 at
// the end of `in` (or when the file systems copy nothing this way), or -1 with
// errno set. ENOSYS, EXDEV, EINVAL and EOPNOTSUPP mean that this pair of
// files can't be copied this way and nothing was copied by the call.
ssize_t CopyRange(int in, int out, size_t length);

}  // namespace fileplatform
