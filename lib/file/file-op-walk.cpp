// The bounded folder walk that removals and moves share: a stack of the
// folders from the top of the walk down to the current one, of which only
// the deepest few are open, and the listing of one folder entry by entry.
#include "file-op-internal.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <utility>
#include <vector>

#include "log.h"

using namespace fileop_internal;

namespace {

// ---------------------------------------------------------------- tree walks

// Folder descriptors one walk keeps open at most. Folders further up are
// closed on the way down and reopened through ".." on the way back, so the
// depth of a tree never shows in the number of open descriptors, and no call
// is given a path longer than one name.
constexpr size_t kOpenFolders = 8;

bool IsDotEntry(const char* name)
{
    return strcmp(name, ".") == 0 || strcmp(name, "..") == 0;
}

// FILE_TYPE_* of a listing entry: from the listing when it tells, else from
// fstatat (a kind the layer does not know is FILE_TYPE_NONE). False with
// errno set when the entry can't be examined (ENOENT: it is gone).
bool EntryType(int dir_fd, const struct dirent* entry, int& type)
{
    if (entry->d_type != DT_UNKNOWN) {
        type = TypeOfDirent(entry->d_type);
        return true;
    }
    struct stat st;
    if (fstatat(dir_fd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return false;
    type = TypeOfMode(st.st_mode);
    if (type < 0)
        type = FILE_TYPE_NONE;
    return true;
}

}  // namespace

namespace fileop_internal {

void LogCallFailure(const char* op, const char* call, const std::string& path, int err)
{
    LOG_ERROR(FILE_OP_LOG, "%s: %s(%s): %s (%d)\n", op, call, path.c_str(), strerror(err), err);
}

// ---------------------------------------------------------------- the folder stack

bool FolderStack::OpenTop(const std::string& path)
{
    Clear();
    return Push(AT_FDCWD, path);
}

bool FolderStack::Enter(const std::string& name)
{
    return Push(dirfd(frames_.back().dir), name);
}

bool FolderStack::Leave()
{
    if (frames_.size() > 1) {
        WalkFolder& parent = frames_[frames_.size() - 2];
        if (parent.dir == nullptr && !Reopen(parent, dirfd(frames_.back().dir)))
            return false;
    }
    Close(frames_.back());
    frames_.pop_back();
    return true;
}

void FolderStack::Clear()
{
    for (; !frames_.empty(); frames_.pop_back())
        Close(frames_.back());
}

std::string FolderStack::PathOf(const std::string& name) const
{
    std::string path;
    for (const WalkFolder& folder : frames_) {
        path += folder.name;
        path += '/';
    }
    return path + name;
}

std::string FolderStack::CurrentPath() const
{
    std::string path = PathOf("");
    path.pop_back();
    return path;
}

bool FolderStack::Fail(const char* call)
{
    failed_call = call;
    failed_errno = errno;
    return false;
}

bool FolderStack::OpenListing(int fd, WalkFolder& folder, bool known)
{
    struct stat st;
    if (fstat(fd, &st) != 0) {
        Fail("fstat");
        close(fd);
        return false;
    }
    if (known && (st.st_dev != folder.dev || st.st_ino != folder.ino)) {
        errno = ESTALE;  // the folder was moved away meanwhile
        Fail("openat");
        close(fd);
        return false;
    }
    DIR* dir = fdopendir(fd);
    if (dir == nullptr) {
        Fail("fdopendir");
        close(fd);
        return false;
    }
    folder.dev = st.st_dev;
    folder.ino = st.st_ino;
    folder.mode = st.st_mode;
    folder.uid = st.st_uid;
    folder.dir = dir;
    ++open_;
    return true;
}

bool FolderStack::Push(int parent, const std::string& name)
{
    // The highest open folder makes room before the new one is opened
    // (never `parent`, the deepest), so that not even for a moment are
    // more than kOpenFolders open.
    if (open_ >= kOpenFolders && open_ > 1)
        Close(frames_[frames_.size() - open_]);
    int fd = openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return Fail("openat");
    WalkFolder folder;
    folder.name = name;
    if (!OpenListing(fd, folder, false))
        return false;
    frames_.push_back(std::move(folder));
    return true;
}

bool FolderStack::Reopen(WalkFolder& folder, int child)
{
    int fd = openat(child, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return Fail("openat");
    return OpenListing(fd, folder, true);
}

void FolderStack::Close(WalkFolder& folder)
{
    if (folder.dir == nullptr)
        return;
    closedir(folder.dir);
    folder.dir = nullptr;
    --open_;
}

// ---------------------------------------------------------------- listings

int WalkFailed(const char* op, const FolderStack& stack, const std::string& path)
{
    LogCallFailure(op, stack.failed_call, path, stack.failed_errno);
    return -3;
}

int NextEntry(DIR* dir, int fd, struct dirent** entry, int& type)
{
    for (;;) {
        errno = 0;
        *entry = readdir(dir);
        if (*entry == nullptr)
            return errno == 0 ? kEnd : kReadFailed;
        if (IsDotEntry((*entry)->d_name))
            continue;
        type = FILE_TYPE_NONE;
        if (EntryType(fd, *entry, type))
            return kEntry;
        if (errno != ENOENT)
            return kTypeFailed;
    }
}

}  // namespace fileop_internal
