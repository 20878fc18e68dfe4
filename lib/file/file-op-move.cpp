// Moves (FSRename): a rename where the system can make one; across file
// systems, a copy of the whole tree that is recorded, made durable, and only
// then followed by the removal of the sources.
#include "file-op.h"
#include "file-op-internal.h"
#include "file-op-seams.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <utility>
#include <vector>

#include "log.h"
#include "platform/writeback.h"

using namespace fileop_internal;

namespace {

std::atomic<bool> durable_moves{true};

// ---------------------------------------------------------------- moves across file systems

// What a move across file systems copied: every folder entered, in the order
// entered (a folder before its subfolders), and the files copied into each.
struct MovedFolder {
    std::string name;        // its name in its parent; unused for the top
    size_t depth;            // 1 for the top
    size_t first_file;       // its files are files[first_file, first_file + file_count)
    size_t file_count;
    bool complete;           // every entry of the source folder was copied
};

struct MoveRecord {
    std::vector<MovedFolder> folders;
    std::vector<std::string> files;
};

// Copies one regular file of the current source folder into the current
// destination folder, emptying a file already there. Its fsync comes later,
// with all the others.
int CopyEntry(FolderStack& from, FolderStack& to, const std::string& name, CopyState& state)
{
    // Non-blocking: an entry that became a pipe since the listing must not
    // wait for a writer.
    int in = openat(from.TopFd(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (in < 0) {
        int err = errno;
        LogCallFailure("CopyFile", "open", from.PathOf(name), err);
        return -1;
    }
    int out = openat(to.TopFd(), name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (out < 0) {
        int err = errno;
        LogCallFailure("CopyFile", "open", to.PathOf(name), err);
        close(in);
        return -1;
    }
    Writeback writeback{out};
    int result = CopyContents(in, out, state, writeback);
    close(in);
    if (close(out) != 0 && result == 0) {
        int err = errno;
        LOG_ERROR(FILE_OP_LOG, "CopyFile: close: %s (%d)\n", strerror(err), err);
        result = -1;
    }
    return result;
}

// Reads the current source folder's listing to its end, copying its files
// and keeping its subfolders for later.
bool CopyListedEntries(FolderStack& from, FolderStack& to, MoveRecord& record, CopyState& state)
{
    WalkFolder& top = from.Top();
    MovedFolder& folder = record.folders[top.record];
    int fd = dirfd(top.dir);
    struct dirent* entry = nullptr;
    int type = FILE_TYPE_NONE;
    int next;
    while ((next = NextEntry(top.dir, fd, &entry, type)) == kEntry) {
        std::string name = entry->d_name;
        if (type == FILE_TYPE_DIR) {
            top.subfolders.push_back(name);
            continue;
        }
        if (type != FILE_TYPE_REGULAR) {
            LOG_ERROR(FILE_OP_LOG, "FSRename: '%s' is neither a file nor a folder: not moved to another file system\n",
                      from.PathOf(name).c_str());
            return false;
        }
        if (CopyEntry(from, to, name, state) != 0)
            return false;
        record.files.push_back(std::move(name));
        ++folder.file_count;
    }
    if (next != kEnd) {
        int err = errno;
        if (next == kTypeFailed)
            LogCallFailure("FSRename", "fstatat", from.PathOf(entry->d_name), err);
        else
            LogCallFailure("FSRename", "readdir", from.CurrentPath(), err);
        return false;
    }
    top.listed = true;
    return true;
}

// The destination folder `name` in the current destination folder, made
// unless it is there; whatever else is in the way (a file, a link) fails.
bool EnterCopy(FolderStack& to, const std::string& name)
{
    if (mkdirat(to.TopFd(), name.c_str(), 0777) != 0 && errno != EEXIST) {
        int err = errno;
        LogCallFailure("FSRename", "mkdirat", to.PathOf(name), err);
        return false;
    }
    if (!to.Enter(name)) {
        WalkFailed("FSRename", to, to.PathOf(name));
        return false;
    }
    return true;
}

// Copies the tree `src` into the folder `dst`, folder by folder, recording
// what was copied. The first failure stops the copy: 0 or -3.
int CopyTree(const ustring& src, const ustring& dst, MoveRecord& record)
{
    FolderStack from;
    FolderStack to;
    if (!from.OpenTop(src.c_str()))
        return WalkFailed("FSRename", from, src.c_str());
    if (!to.OpenTop(dst.c_str()))
        return WalkFailed("FSRename", to, dst.c_str());
    const dev_t to_dev = to.Top().dev;
    const ino_t to_ino = to.Top().ino;
    record.folders.push_back({std::string(), 1, 0, 0, false});
    CopyState state;
    for (;;) {
        WalkFolder& top = from.Top();
        if (!top.listed) {
            if (!CopyListedEntries(from, to, record, state))
                return -3;
            continue;
        }
        if (top.next < top.subfolders.size()) {
            std::string name = std::move(top.subfolders[top.next++]);
            if (!from.Enter(name)) {
                if (from.failed_errno == ENOENT)
                    continue;  // gone since it was listed
                return WalkFailed("FSRename", from, from.PathOf(name));
            }
            if (from.Top().dev == to_dev && from.Top().ino == to_ino) {
                LOG_ERROR(FILE_OP_LOG, "FSRename: '%s' holds the destination '%s'\n", from.CurrentPath().c_str(),
                          dst.c_str());
                return -3;
            }
            if (!EnterCopy(to, name))
                return -3;
            from.Top().record = record.folders.size();
            record.folders.push_back({name, from.Depth(), record.files.size(), 0, false});
            continue;
        }
        record.folders[top.record].complete = true;
        if (from.Depth() == 1)
            return 0;
        if (!from.Leave())
            return WalkFailed("FSRename", from, from.PathOf(".."));
        if (!to.Leave())
            return WalkFailed("FSRename", to, to.PathOf(".."));
    }
}

// Walks again the folders a move recorded below `top`, in their order:
// `visit(stack, folder)` runs in each, `leave(parent_fd, name, path, folder)`
// once back in its parent (AT_FDCWD and `top` for the top itself; `path` is
// for messages). Stops at the first false; a recorded folder that can't be
// entered again is a failure.
template <typename Visit, typename Leave>
bool ReplayFolders(const char* op, const ustring& top, const MoveRecord& record, Visit visit, Leave leave)
{
    FolderStack stack;
    auto leave_current = [&]() {
        const MovedFolder& folder = record.folders[stack.Top().record];
        if (stack.Depth() == 1) {
            stack.Clear();
            return leave(AT_FDCWD, std::string(top.c_str()), std::string(top.c_str()), folder);
        }
        if (!stack.Leave()) {
            WalkFailed(op, stack, stack.PathOf(".."));
            return false;
        }
        return leave(stack.TopFd(), folder.name, stack.PathOf(folder.name), folder);
    };
    for (size_t i = 0; i < record.folders.size(); ++i) {
        const MovedFolder& folder = record.folders[i];
        while (stack.Depth() >= folder.depth) {
            if (!leave_current())
                return false;
        }
        bool entered = folder.depth == 1 ? stack.OpenTop(top.c_str()) : stack.Enter(folder.name);
        if (!entered) {
            WalkFailed(op, stack, folder.depth == 1 ? std::string(top.c_str()) : stack.PathOf(folder.name));
            return false;
        }
        stack.Top().record = i;
        if (!visit(stack, folder))
            return false;
    }
    while (stack.Depth() > 0) {
        if (!leave_current())
            return false;
    }
    return true;
}

// The folder holding `path`, for making the entry of `path` durable.
std::string ParentOf(const std::string& path)
{
    size_t end = path.find_last_not_of('/');
    if (end == std::string::npos)
        return "/";
    size_t slash = path.rfind('/', end);
    if (slash == std::string::npos)
        return ".";
    size_t last = path.find_last_not_of('/', slash);
    return last == std::string::npos ? "/" : path.substr(0, last + 1);
}

bool SyncFolder(int fd, const std::string& path)
{
    if (fsync(fd) == 0)
        return true;
    int err = errno;
    LogCallFailure("FSRename", "fsync", path, err);
    return false;
}

// Makes every copy the move made durable: each copied file, each folder it
// copied into, and the folder holding `dst`. The file system is first
// written back as a whole, in one batch, where the system can (with
// whatever else is waiting to be written there): the fsync of each copy then
// has nothing left to write (no journal commit of its own), yet still
// reports a write error of that file. This measured faster than starting
// each file's writeback as it is copied. Every failure is reported, with the
// file it concerns; true when there was none.
bool SyncCopies(const ustring& dst, const MoveRecord& record)
{
    bool synced = true;
    int top = record.files.empty() ? -1 : open(dst.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (top >= 0) {
        fileplatform::SyncFileSystem(top);  // advisory: the fsyncs below decide
        close(top);
    }
    auto visit = [&](FolderStack& stack, const MovedFolder& folder) {
        for (size_t i = folder.first_file; i < folder.first_file + folder.file_count; ++i) {
            const std::string& name = record.files[i];
            int fd = openat(stack.TopFd(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
            if (fd < 0) {
                int err = errno;
                LogCallFailure("FSRename", "open", stack.PathOf(name), err);
                synced = false;
                continue;
            }
            if (fsync(fd) != 0) {
                int err = errno;
                LogCallFailure("FSRename", "fsync", stack.PathOf(name), err);
                synced = false;
            }
            close(fd);
        }
        synced = SyncFolder(stack.TopFd(), stack.CurrentPath()) && synced;
        return true;
    };
    auto leave = [](int, const std::string&, const std::string&, const MovedFolder&) { return true; };
    if (!ReplayFolders("FSRename", dst, record, visit, leave))
        return false;
    std::string parent = ParentOf(dst.c_str());
    int fd = open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        int err = errno;
        LogCallFailure("FSRename", "open", parent, err);
        return false;
    }
    synced = SyncFolder(fd, parent) && synced;
    close(fd);
    return synced;
}

// Removes the sources of the recorded copies: the files copied, and each
// folder all of whose entries were copied. 0, or -3 at the first failure.
int RemoveSources(const ustring& src, const MoveRecord& record)
{
    auto visit = [&](FolderStack& stack, const MovedFolder& folder) {
        for (size_t i = folder.first_file; i < folder.first_file + folder.file_count; ++i) {
            const std::string& name = record.files[i];
            if (unlinkat(stack.TopFd(), name.c_str(), 0) != 0 && errno != ENOENT) {
                int err = errno;
                LogCallFailure("FSRename", "unlinkat", stack.PathOf(name), err);
                return false;
            }
        }
        return true;
    };
    auto leave = [](int parent, const std::string& name, const std::string& path, const MovedFolder& folder) {
        if (!folder.complete || unlinkat(parent, name.c_str(), AT_REMOVEDIR) == 0)
            return true;
        int err = errno;
        LogCallFailure("FSRename", "rmdir", path, err);
        return false;
    };
    return ReplayFolders("FSRename", src, record, visit, leave) ? 0 : -3;
}

// Moves the folder `src` to `dst` on another file system. The whole tree is
// copied first, then every copy is made durable, and only then are the
// sources removed, so no source goes before its copy is on disk. A folder
// already at `dst` is merged into and a file already there is emptied and
// rewritten; a move that was cut short is thus finished by running it again.
// After a failed copy, the entries copied before it are moved all the same
// and the rest stays at `src`; when a copy can't be made durable nothing is
// removed.
int MoveFolderAcross(const ustring& src, const ustring& dst)
{
    if (FSMKDir(dst, true) != 0)
        return -3;
    MoveRecord record;
    int copied = CopyTree(src, dst, record);
    if (durable_moves.load(std::memory_order_relaxed) && !SyncCopies(dst, record))
        return -3;
    int removed = RemoveSources(src, record);
    return copied == 0 && removed == 0 ? 0 : -3;
}

}  // namespace

int FSRename(const ustring& src, const ustring& dst, bool case_sensitive)
{
    if (src.empty() || dst.empty())
        return -1;
    _FILE_INFO_tag info;
    if (FSStat(src, info, case_sensitive) < 0 || !info.exists)
        return -2;
    if (rename(src.c_str(), dst.c_str()) == 0)
        return 0;
    if (errno == ENAMETOOLONG)
        return -100;
    if (errno != EXDEV)
        return -3;
    switch (info.type) {
    case FILE_TYPE_DIR:
        return MoveFolderAcross(src, dst);
    case FILE_TYPE_REGULAR:
        return FSCopy(src, dst, true) < 0 ? -3 : 0;
    default:
        return -3;
    }
}

// ==================================================================== seams

void fileop_seams::SetDurableMoves(bool durable)
{
    durable_moves.store(durable, std::memory_order_relaxed);
}
