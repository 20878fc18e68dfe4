// Copies of one file (FSCopy): in the kernel where it takes the two files
// (copy_file_range), else through a buffer, with the writeback started as
// the copy goes and the copy on disk before its source may go.
#include "file-op.h"
#include "file-op-internal.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "log.h"
#include "platform/copy-range.h"
#include "platform/writeback.h"

using namespace fileop_internal;

namespace {

constexpr size_t kCopyBufferSize = 8192;
// Bytes one kernel copy call is asked for.
constexpr size_t kCopyRangeStep = 8 * 1024 * 1024;
// Written bytes after which the copy asks for their writeback to start.
constexpr off_t kWritebackStep = 8 * 1024 * 1024;

// ---------------------------------------------------------------- copy

bool IsFullError(int err)
{
    return err == ENOSPC || err == EDQUOT;
}

// Refuses a destination that is the source itself: opening it with truncate
// would destroy the data before the first read.
bool IsSameFile(int source_fd, const ustring& dst)
{
    struct stat source;
    struct stat target;
    if (fstat(source_fd, &source) != 0 || stat(dst.c_str(), &target) != 0)
        return false;
    return source.st_dev == target.st_dev && source.st_ino == target.st_ino;
}

int WriteChunk(int out, const char* buffer, ssize_t length)
{
    ssize_t done = 0;
    while (done < length) {
        ssize_t written = write(out, buffer + done, static_cast<size_t>(length - done));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            int err = errno;
            LOG_ERROR(FILE_OP_LOG, "CopyFile: write: %s (%d)\n", strerror(err), err);
            return IsFullError(err) ? -2 : -1;
        }
        done += written;
    }
    return 0;
}

int CopyBytes(int in, int out, char* buffer, Writeback& writeback)
{
    fileplatform::AdviseSequentialRead(in);
    for (;;) {
        ssize_t length = read(in, buffer, kCopyBufferSize);
        if (length == 0)
            return 0;
        if (length < 0 && errno == EINTR)
            continue;
        if (length < 0) {
            int err = errno;
            LOG_ERROR(FILE_OP_LOG, "CopyFile: read: %s (%d)\n", strerror(err), err);
            return -1;
        }
        int result = WriteChunk(out, buffer, length);
        if (result != 0)
            return result;
        writeback.Advance(length);
    }
}

// Errors of the kernel copy that only say this pair of files can't be copied
// that way.
bool IsCopyRangeRefusal(int err)
{
    return err == ENOSYS || err == EXDEV || err == EINVAL || err == EOPNOTSUPP || err == ENOTSUP;
}

// Refusals that hold for every file between the same two file systems.
bool IsCopyRangeUnavailable(int err)
{
    return err == ENOSYS || err == EXDEV || err == EOPNOTSUPP || err == ENOTSUP;
}

// Flushes and closes the destination. A copy counts as done only when both
// succeed; an earlier failure keeps its own code and message.
int FinishDestination(int out, int result)
{
    if (fsync(out) != 0 && result == 0) {
        int err = errno;
        LOG_ERROR(FILE_OP_LOG, "CopyFile: fsync: %s (%d)\n", strerror(err), err);
        result = IsFullError(err) ? -2 : -1;
    }
    if (close(out) != 0 && result == 0) {
        int err = errno;
        LOG_ERROR(FILE_OP_LOG, "CopyFile: close: %s (%d)\n", strerror(err), err);
        result = IsFullError(err) ? -2 : -1;
    }
    return result;
}

int OpenForCopy(const ustring& path, int flags)
{
    int fd = open(path.c_str(), flags | O_CLOEXEC, 0666);
    if (fd < 0) {
        int err = errno;
        LOG_ERROR(FILE_OP_LOG, "CopyFile: open(%s): %s (%d)\n", path.c_str(), strerror(err), err);
    }
    return fd;
}

}  // namespace

namespace fileop_internal {

void Writeback::Advance(ssize_t length)
{
    written += length;
    if (!supported || written - started < kWritebackStep)
        return;
    supported = fileplatform::StartWriteback(fd, started, written - started);
    started = written;
}

char* CopyState::Buffer()
{
    if (data_ != nullptr)
        return data_;
    data_ = static_cast<char*>(malloc(kCopyBufferSize));
    if (data_ == nullptr) {
        int err = errno;
        LOG_ERROR(FILE_OP_LOG, "FSCopy: malloc(%d): %s (%d)\n", static_cast<int>(kCopyBufferSize),
                  strerror(err), err);
    }
    return data_;
}

int CopyContents(int in, int out, CopyState& state, Writeback& writeback)
{
    off_t copied = 0;
    while (state.kernel_copy) {
        ssize_t length = fileplatform::CopyRange(in, out, kCopyRangeStep);
        if (length > 0) {
            copied += length;
            writeback.Advance(length);
            continue;
        }
        if (length == 0) {
            if (copied > 0)
                return 0;
            break;
        }
        int err = errno;
        if (err == EINTR)
            continue;
        if (IsCopyRangeUnavailable(err))
            state.kernel_copy = false;
        if (copied == 0 || IsCopyRangeRefusal(err))
            break;
        LOG_ERROR(FILE_OP_LOG, "CopyFile: copy_file_range: %s (%d)\n", strerror(err), err);
        return IsFullError(err) ? -2 : -1;
    }
    char* bytes = state.Buffer();
    if (bytes == nullptr)
        return -1;
    return CopyBytes(in, out, bytes, writeback);
}

}  // namespace fileop_internal

// ==================================================================== copy

int FSCopy(const ustring& src, const ustring& dst, bool remove_src)
{
    int in = OpenForCopy(src, O_RDONLY);
    if (in < 0)
        return -1;
    if (IsSameFile(in, dst)) {
        LOG_ERROR(FILE_OP_LOG, "CopyFile: '%s' and '%s' are the same file\n", src.c_str(), dst.c_str());
        close(in);
        return -1;
    }
    int out = OpenForCopy(dst, O_WRONLY | O_CREAT | O_TRUNC);
    if (out < 0) {
        close(in);
        return -1;
    }
    CopyState state;
    Writeback writeback{out};
    int result = CopyContents(in, out, state, writeback);
    // The destination is on disk before the source may go.
    result = FinishDestination(out, result);
    close(in);
    if (result == 0 && remove_src && remove(src.c_str()) != 0) {
        int err = errno;
        LOG_ERROR(FILE_OP_LOG, "CopyFile: remove(%s): %s (%d)\n", src.c_str(), strerror(err), err);
        result = -1;
    }
    return result;
}
