// File operations on ustring paths over the POSIX calls, with the canonical
// path of an object taken from the platform layer.
#include "file-op.h"
#include "file-op-seams.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <exception>
#include <string>
#include <utility>
#include <vector>

#include "log.h"
#include "platform/canonical-path.h"
#include "platform/copy-range.h"
#include "platform/fs-type.h"
#include "platform/writeback.h"
#include "tmp_name_gen.h"

#define FILE_OP_LOG "file_op_debug"

namespace {

constexpr size_t kCopyBufferSize = 8192;
// Bytes one kernel copy call is asked for.
constexpr size_t kCopyRangeStep = 8 * 1024 * 1024;
// Written bytes after which the copy asks for their writeback to start.
constexpr off_t kWritebackStep = 8 * 1024 * 1024;
constexpr size_t kTempPathBufferSize = 4096;
constexpr size_t kLinkBufferSize = 1024;
constexpr unsigned short kDefaultMode = 0xFFFF;

std::atomic<bool> durable_moves{true};

// ---------------------------------------------------------------- records

ustring BaseName(const ustring& path)
{
    size_t slash = path.rfind('/');
    if (slash == ustring::npos)
        return path;
    return path.substr(slash + 1);
}

ustring Joined(const ustring& dir, const char* name)
{
    ustring joined(dir);
    joined += "/";
    joined += name;
    return joined;
}

bool IsDotEntry(const char* name)
{
    return strcmp(name, ".") == 0 || strcmp(name, "..") == 0;
}

int32_t LowSeconds(time_t seconds)
{
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(seconds)));
}

// FILE_TYPE_* of a mode word, or -1 for a kind the layer does not know.
int TypeOfMode(mode_t mode)
{
    switch (mode & S_IFMT) {
    case S_IFREG: return FILE_TYPE_REGULAR;
    case S_IFDIR: return FILE_TYPE_DIR;
    case S_IFLNK: return FILE_TYPE_LINK;
    case S_IFCHR:
    case S_IFBLK: return FILE_TYPE_DEVICE;
    case S_IFIFO: return FILE_TYPE_FIFO;
    case S_IFSOCK: return FILE_TYPE_SOCKET;
    default: return -1;
    }
}

int TypeOfDirent(unsigned char d_type)
{
    switch (d_type) {
    case DT_FIFO: return FILE_TYPE_FIFO;
    case DT_CHR:
    case DT_BLK: return FILE_TYPE_DEVICE;
    case DT_DIR: return FILE_TYPE_DIR;
    case DT_REG: return FILE_TYPE_REGULAR;
    case DT_LNK: return FILE_TYPE_LINK;
    case DT_SOCK: return FILE_TYPE_SOCKET;
    default: return FILE_TYPE_NONE;
    }
}

void FillMissing(const ustring& path, _FILE_INFO_tag& info)
{
    info.exists = false;
    info.mtime = 0;
    info.name = BaseName(path);
    info.path = path;
    info.size = 0;
    info.type = FILE_TYPE_NONE;
    info.uid = 0;
    info.gid = 0;
    info.mode = 0;
    info.dev = 0;
}

void FillExisting(const ustring& path, const struct stat& st, int type, _FILE_INFO_tag& info)
{
    info.exists = true;
    info.mtime = LowSeconds(st.st_mtime);
    info.name = BaseName(path);
    info.path = path;
    info.size = static_cast<int64_t>(st.st_size);
    info.uid = static_cast<uint32_t>(st.st_uid);
    info.gid = static_cast<uint32_t>(st.st_gid);
    info.mode = static_cast<int32_t>(st.st_mode);
    info.dev = static_cast<int64_t>(st.st_dev);
    info.type = type;
}

// NFC forms compared byte for byte; text that is not UTF-8 can't be
// normalised and is compared as it stands.
bool SamePathText(const ustring& a, const ustring& b)
{
    if (!ustring::is_valid(a) || !ustring::is_valid(b))
        return a == b;
    ustring nfc_a = ustring::normalize(a, ustring::NFC);
    ustring nfc_b = ustring::normalize(b, ustring::NFC);
    if ((nfc_a.empty() && !a.empty()) || (nfc_b.empty() && !b.empty()))
        return a == b;
    return nfc_a == nfc_b;
}

// ---------------------------------------------------------------- folders

// One step of FSMKDirP on the prefix ending at the current component.
int MakeComponent(const char* prefix, mode_t mode, bool force, bool last)
{
    struct stat st;
    if (stat(prefix, &st) != 0)
        return mkdir(prefix, mode) == 0 ? 0 : -1;
    if (S_ISDIR(st.st_mode))
        return 0;
    if (force) {
        if (remove(prefix) != 0)
            return -1;
        return mkdir(prefix, mode) == 0 ? 0 : -1;
    }
    if (last) {
        errno = EEXIST;
        LOG_INFO(FILE_OP_LOG, "FSMKDirP: path: %s is existing file or symbolic link pointed to file\n",
                 prefix);
        return -1;
    }
    return 0;
}

// Walks `copy` component by component; returns the result and leaves in
// `stop` the offset where the walk ended.
int MakeComponents(char* copy, mode_t mode, bool force, size_t& stop)
{
    size_t pos = copy[0] == '/' ? 1 : 0;
    for (;; ++pos) {
        if (copy[pos] != '/' && copy[pos] != '\0')
            continue;
        char separator = copy[pos];
        bool last = separator == '\0' || copy[pos + 1] == '\0';
        copy[pos] = '\0';
        int result = MakeComponent(copy, mode, force, last);
        copy[pos] = separator;
        if (result != 0 || last) {
            stop = pos;
            return result;
        }
    }
}

// The root a removal works on: `path` without its trailing "." components,
// so that "link/." names the link itself, as its letters say, and never
// the folder the link leads to. A path without them is kept as given.
// Null, or why the path is refused: a last component ".." would take the
// folder above along, and "." components alone name the working folder.
const char* RemovalRoot(const std::string& path, std::string& root)
{
    root = path;
    bool had_dot = false;
    for (;;) {
        const size_t end = root.find_last_not_of('/');
        if (end == std::string::npos) {
            if (root.empty())
                return "it names the working folder";
            root = "/";
            return nullptr;
        }
        const size_t slash = root.rfind('/', end);
        const size_t start = slash == std::string::npos ? 0 : slash + 1;
        const std::string last = root.substr(start, end + 1 - start);
        if (last == "..")
            return "its last component is '..'";
        if (last != ".") {
            if (had_dot)
                root.erase(end + 1);  // the separator that came before the "."
            return nullptr;
        }
        root.erase(start);
        had_dot = true;
    }
}

// A folder given with a trailing separator whose last component is a link:
// the system would follow the link, so it is not removed through it.
bool IsLinkBehindSeparator(const ustring& path)
{
    std::string bare = path.c_str();
    if (bare.size() < 2 || bare.back() != '/')
        return false;
    while (bare.size() > 1 && bare.back() == '/')
        bare.pop_back();
    struct stat st;
    return lstat(bare.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

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

// Lets the disk write what is copied while the copy goes on; stops asking
// once the destination refuses.
struct Writeback {
    int fd;
    off_t started = 0;
    off_t written = 0;
    bool supported = true;

    void Advance(ssize_t length)
    {
        written += length;
        if (!supported || written - started < kWritebackStep)
            return;
        supported = fileplatform::StartWriteback(fd, started, written - started);
        started = written;
    }
};

// What one copy, or all the copies of a tree, share: the byte loop's
// buffer, allocated on first use (a copy the kernel makes needs none), and
// whether the kernel still takes the files being copied.
class CopyState {
public:
    CopyState() = default;
    CopyState(const CopyState&) = delete;
    CopyState& operator=(const CopyState&) = delete;
    ~CopyState() { free(data_); }

    bool kernel_copy = true;

    char* Buffer()
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

private:
    char* data_ = nullptr;
};

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

// Copies `in` to `out` from their current offsets to the end of `in`: in the
// kernel while it takes the pair, then through the buffer for the rest. The
// first kernel copy failing for any reason hands the whole copy to the byte
// loop, whose read and write report a lasting failure in their own words. A
// kernel copy that copies nothing at all (an empty file, or a file system
// that reports a size it does not serve this way) is settled by the loop too.
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

// ---------------------------------------------------------------- tree walks

// Folder descriptors one walk keeps open at most. Folders further up are
// closed on the way down and reopened through ".." on the way back, so the
// depth of a tree never shows in the number of open descriptors, and no call
// is given a path longer than one name.
constexpr size_t kOpenFolders = 8;
// Listings of one folder a removal makes at most when entries keep appearing
// behind it (or a file system's listing skipped some while they were removed).
constexpr int kRemovalPasses = 4;

void LogCallFailure(const char* op, const char* call, const std::string& path, int err)
{
    LOG_ERROR(FILE_OP_LOG, "%s: %s(%s): %s (%d)\n", op, call, path.c_str(), strerror(err), err);
}

// One folder on the way from the top of a walk down to the current folder.
struct WalkFolder {
    std::string name;        // its name in its parent; the caller's path for the top
    dev_t dev = 0;
    ino_t ino = 0;
    mode_t mode = 0;         // as fstat found it when the folder was opened
    uid_t uid = 0;           // its owner
    DIR* dir = nullptr;      // null while closed to save descriptors
    bool listed = false;     // the listing was read to its end
    std::vector<std::string> subfolders;  // found by the listing, entered one by one
    size_t next = 0;         // subfolders[next] is the next to enter
    size_t removed = 0;      // entries a removal took out of it
    int pass = 1;            // which listing of the folder this is
    size_t record = 0;       // the move's record of the folder
};

// The folders of a walk from its top down to the current one. Only the
// deepest kOpenFolders are open; a closed folder is reopened through ".." of
// its child and must then be the same folder (device and inode) as before.
// A failed call leaves its name and errno in `failed_call`/`failed_errno`.
class FolderStack {
public:
    FolderStack() = default;
    FolderStack(const FolderStack&) = delete;
    FolderStack& operator=(const FolderStack&) = delete;
    ~FolderStack() { Clear(); }

    bool OpenTop(const std::string& path)
    {
        Clear();
        return Push(AT_FDCWD, path);
    }
    bool Enter(const std::string& name) { return Push(dirfd(frames_.back().dir), name); }
    // Back to the parent of the current folder, reopening it if needed.
    bool Leave()
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
    void Clear()
    {
        for (; !frames_.empty(); frames_.pop_back())
            Close(frames_.back());
    }

    WalkFolder& Top() { return frames_.back(); }
    int TopFd() { return dirfd(frames_.back().dir); }
    size_t Depth() const { return frames_.size(); }
    // `name` in the current folder as a path from the top, for messages only.
    std::string PathOf(const std::string& name) const
    {
        std::string path;
        for (const WalkFolder& folder : frames_) {
            path += folder.name;
            path += '/';
        }
        return path + name;
    }
    std::string CurrentPath() const
    {
        std::string path = PathOf("");
        path.pop_back();
        return path;
    }

    const char* failed_call = "";
    int failed_errno = 0;

private:
    bool Fail(const char* call)
    {
        failed_call = call;
        failed_errno = errno;
        return false;
    }
    // A descriptor of a folder as a listing, with the folder's identity;
    // with `known`, the identity must be the one recorded before.
    bool OpenListing(int fd, WalkFolder& folder, bool known)
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
    bool Push(int parent, const std::string& name)
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
    bool Reopen(WalkFolder& folder, int child)
    {
        int fd = openat(child, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0)
            return Fail("openat");
        return OpenListing(fd, folder, true);
    }
    void Close(WalkFolder& folder)
    {
        if (folder.dir == nullptr)
            return;
        closedir(folder.dir);
        folder.dir = nullptr;
        --open_;
    }

    std::vector<WalkFolder> frames_;
    size_t open_ = 0;  // the open folders are always the deepest ones
};

int WalkFailed(const char* op, const FolderStack& stack, const std::string& path)
{
    LogCallFailure(op, stack.failed_call, path, stack.failed_errno);
    return -3;
}

bool IsNotEmptyError(int err)
{
    return err == ENOTEMPTY || err == EEXIST;
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

// The next entry of an open folder other than "." and "..", with its type:
// kEntry, kEnd, or a failure with errno set (kReadFailed, kTypeFailed). An
// entry gone between the listing and the look at its type is passed over.
const int kEntry = 1, kEnd = 0, kReadFailed = -1, kTypeFailed = -2;
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

// A folder of the tree being removed that its owner may not write (some
// bundles ship their folders read-only) is given the owner's write
// permission, without which its entries can't be removed. Only the owner may
// do that, and only folders inside the tree are ever changed: the top's
// parent, from which the top itself is removed, keeps its mode.
bool MakeRemovable(FolderStack& stack)
{
    WalkFolder& top = stack.Top();
    if ((top.mode & S_IWUSR) != 0 || top.uid != geteuid())
        return true;
    const mode_t mode = (top.mode & 07777) | S_IWUSR;
    if (fchmod(stack.TopFd(), mode) != 0) {
        int err = errno;
        LogCallFailure("FSRemove", "fchmod", stack.CurrentPath(), err);
        return false;
    }
    top.mode = (top.mode & S_IFMT) | mode;
    return true;
}

// Reads the current folder's listing to its end, removing every entry that
// is not a folder on the way and keeping the folders for later.
bool RemoveListedEntries(FolderStack& stack)
{
    if (!MakeRemovable(stack))
        return false;
    WalkFolder& top = stack.Top();
    int fd = dirfd(top.dir);
    struct dirent* entry = nullptr;
    int type = FILE_TYPE_NONE;
    int next;
    while ((next = NextEntry(top.dir, fd, &entry, type)) == kEntry) {
        const char* name = entry->d_name;
        if (type != FILE_TYPE_DIR) {
            if (unlinkat(fd, name, 0) == 0) {
                ++top.removed;
                continue;
            }
            int err = errno;
            if (err == ENOENT)
                continue;
            if (err != EISDIR) {  // EISDIR: it became a folder since it was listed
                LogCallFailure("FSRemove", "unlinkat", stack.PathOf(name), err);
                return false;
            }
        }
        top.subfolders.emplace_back(name);
    }
    if (next != kEnd) {
        int err = errno;
        if (next == kTypeFailed)
            LogCallFailure("FSRemove", "fstatat", stack.PathOf(entry->d_name), err);
        else
            LogCallFailure("FSRemove", "readdir", stack.CurrentPath(), err);
        return false;
    }
    top.listed = true;
    return true;
}

// Removes the folder `path` and everything in it, never following a link.
// Each folder is listed to its end first, everything but its subfolders
// going at once; the subfolders are then entered one after the other, and a
// folder is removed from its parent once it has been left empty. The first
// failure stops the walk, leaving that entry and those not yet reached.
int RemoveTree(const ustring& path)
{
    FolderStack stack;
    if (!stack.OpenTop(path.c_str()))
        return WalkFailed("FSRemove", stack, path.c_str());
    for (;;) {
        WalkFolder& top = stack.Top();
        if (!top.listed) {
            if (!RemoveListedEntries(stack))
                return -3;
            continue;
        }
        if (top.next < top.subfolders.size()) {
            std::string name = std::move(top.subfolders[top.next++]);
            if (!stack.Enter(name) && stack.failed_errno != ENOENT)
                return WalkFailed("FSRemove", stack, stack.PathOf(name));
            continue;
        }
        // The folder is empty unless entries appeared meanwhile: then it is
        // listed again as long as its listings keep removing something.
        std::string name = top.name;
        bool again = top.removed > 0 && top.pass < kRemovalPasses;
        int pass = top.pass;
        int err = 0;
        if (stack.Depth() == 1) {
            stack.Clear();
            if (rmdir(path.c_str()) == 0)
                return 0;
            err = errno;
            if (IsNotEmptyError(err) && again && stack.OpenTop(path.c_str())) {
                stack.Top().pass = pass + 1;
                continue;
            }
            LogCallFailure("FSRemove", "rmdir", path.c_str(), err);
            return -3;
        }
        if (!stack.Leave())
            return WalkFailed("FSRemove", stack, stack.PathOf(".."));
        if (unlinkat(stack.TopFd(), name.c_str(), AT_REMOVEDIR) == 0 || errno == ENOENT) {
            ++stack.Top().removed;
            continue;
        }
        err = errno;
        if (IsNotEmptyError(err) && again && stack.Enter(name)) {
            stack.Top().pass = pass + 1;
            continue;
        }
        LogCallFailure("FSRemove", "unlinkat", stack.PathOf(name), err);
        return -3;
    }
}

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

// ---------------------------------------------------------------- types

// Type name of the file system holding `path`; false with errno set.
bool TypeName(const ustring& path, std::string& name)
{
    return fileplatform::FileSystemTypeName(path.c_str(), name) == 0;
}

}  // namespace

// ==================================================================== records

bool operator==(const _FILE_INFO_tag& a, const _FILE_INFO_tag& b)
{
    return a.exists == b.exists && a.size == b.size && a.mtime == b.mtime && a.type == b.type &&
           a.path == b.path && a.name == b.name;
}

bool operator!=(const _FILE_INFO_tag& a, const _FILE_INFO_tag& b)
{
    return !(a == b);
}

// ==================================================================== look-ups

int GetFileInfo(const ustring& path, _FILE_INFO_tag& info)
{
    const ustring given(path);  // `path` may be a field of `info`
    struct stat st;
    if (lstat(given.c_str(), &st) != 0) {
        if (errno != ENOENT)
            return -1;
        FillMissing(given, info);
        return 0;
    }
    int type = TypeOfMode(st.st_mode);
    if (type < 0)
        return -1;
    FillExisting(given, st, type, info);
    LOG_DEBUG(FILE_OP_LOG, "Input file path = [%s].\n", given.c_str());
    std::string canonical;
    int status = fileplatform::CanonicalPath(given.c_str(), false, canonical);
    if (status != 0) {
        LOG_ERROR(FILE_OP_LOG, "FSPathMakeRef: %d\n", status);
        return -1;
    }
    info.path = canonical;
    LOG_DEBUG(FILE_OP_LOG, "FSRefMakePath outTargetPath path = [%s].\n", info.path.c_str());
    info.name = BaseName(info.path);
    return 0;
}

bool IsFileExist(const ustring& path, bool case_sensitive)
{
    if (path.empty())
        return false;
    _FILE_INFO_tag info;
    if (GetFileInfo(path, info) < 0 || !info.exists)
        return false;
    if (!case_sensitive)
        return true;
    // The canonical path resolves the links above the entry; only the
    // entry's own name is compared with the name the folder stores, so a
    // home reached through a link is not "missing".
    const ustring name = BaseName(path);
    if (name.empty() || name == ustring(".") || name == ustring(".."))
        return SamePathText(info.path, path);
    return SamePathText(info.name, name);
}

int FSStat(const ustring& path, _FILE_INFO_tag& info, bool case_sensitive)
{
    if (path.empty())
        return -1;
    if (!IsFileExist(path, case_sensitive)) {
        info.exists = false;
        return 0;
    }
    return GetFileInfo(path, info) < 0 ? -2 : 0;
}

// ==================================================================== folders

int FSMKDir(const ustring& path, bool recursive)
{
    if (path.empty())
        return -1;
    _FILE_INFO_tag info;
    if (GetFileInfo(path, info) != 0) {
        LOG_ERROR(FILE_OP_LOG, "FSMKDir: Failed to to file info '%s'\n", path.c_str());
        return -1;
    }
    if (info.exists) {
        if (info.type == FILE_TYPE_DIR)
            return 0;
        LOG_ERROR(FILE_OP_LOG, "FSMKDir: Create a folder but local file system is not directory '%s' (%d)\n",
                  path.c_str(), info.type);
        return -1;
    }
    int made = recursive ? FSMKDirP(path, nullptr, false, kDefaultMode) : mkdir(path.c_str(), 0777);
    if (made != 0) {
        int err = errno;
        LOG_ERROR(FILE_OP_LOG, "path = %s errno : %s\n", path.c_str(), strerror(err));
        return -2;
    }
    return 0;
}

int FSMKDirP(const ustring& path, char** fail_pos, bool force, unsigned short mode)
{
    if (path.empty())
        return -1;
    char* copy = strdup(path.c_str());
    if (copy == nullptr)
        return -1;
    bool exact_mode = mode != kDefaultMode;
    mode_t create_mode = exact_mode ? static_cast<mode_t>(mode) : 0777;
    mode_t previous_mask = exact_mode ? umask(0) : 0;
    size_t stop = 0;
    int result = MakeComponents(copy, create_mode, force, stop);
    int err = errno;
    if (fail_pos != nullptr)
        *fail_pos = const_cast<char*>(path.c_str()) + stop;
    if (exact_mode)
        umask(previous_mask);
    free(copy);
    errno = err;
    return result;
}

int FSRemove(const ustring& given, bool)
{
    if (given.empty())
        return -1;
    std::string root;
    if (const char* refusal = RemovalRoot(given.c_str(), root)) {
        LOG_ERROR(FILE_OP_LOG, "FSRemove: refusing to remove '%s': %s\n", given.c_str(), refusal);
        return -1;
    }
    const ustring path(root);
    _FILE_INFO_tag info;
    if (GetFileInfo(path, info) != 0)
        return -1;
    if (!info.exists)
        return 0;
    if (info.type != FILE_TYPE_DIR) {
        if (remove(path.c_str()) == 0)
            return 0;
        int err = errno;
        LogCallFailure("FSRemove", "remove", path.c_str(), err);
        return -3;
    }
    if (IsLinkBehindSeparator(path))
        return -3;
    return RemoveTree(path);
}

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

// ==================================================================== listings

int FSOpenDir(const ustring& path, int flags, DIR_HANDLE& handle)
{
    DIR* dir = opendir(path.c_str());
    if (dir == nullptr) {
        int err = errno;
        LOG_ERROR(FILE_OP_LOG, "FSOpenDir: Failed to open directory '%s'. %s\n", path.c_str(), strerror(err));
        return -1;
    }
    handle.dir = dir;
    handle.path = path;
    handle.flags = flags;
    return 0;
}

int FSReadDir(DIR_HANDLE& handle, DIR_ENTRY& entry)
{
    struct dirent* next = readdir(handle.dir);
    if (next == nullptr)
        return 0;
    entry.mtime = 0;
    entry.size = 0;
    if (handle.flags & FS_READDIR_STAT) {
        ustring joined = Joined(handle.path, next->d_name);
        _FILE_INFO_tag info;
        if (FSStat(joined, info, true) < 0) {
            LOG_ERROR(FILE_OP_LOG, "FSOpenDir: Failed to get info for '%s'\n", joined.c_str());
            return -1;
        }
        entry.mtime = info.mtime;
        entry.size = info.size;
    }
    entry.name = next->d_name;
    entry.type = TypeOfDirent(next->d_type);
    return 1;
}

void FSCloseDir(DIR_HANDLE& handle)
{
    if (handle.dir != nullptr)
        closedir(handle.dir);
    handle.dir = nullptr;
    handle.path.clear();
}

// ==================================================================== path names

ustring FSParentPath(const ustring& path)
{
    size_t slash = path.rfind('/');
    if (slash == ustring::npos || slash == 0)
        return ustring("/");
    return path.substr(0, slash);
}

ustring FSBaseName(const ustring& path)
{
    return BaseName(path);
}

bool FSIsParentFolder(const ustring& parent, const ustring& child)
{
    size_t n = parent.length();
    if (child.length() < n)
        return false;
    if (child.length() > n && child[n] != '/')
        return false;
    return child.compare(parent, n) == 0;
}

int FSMKDirFromRoot(const ustring& target, const ustring& root)
{
    if (root.length() > target.length()) {
        LOG_ERROR(FILE_OP_LOG, "Giving a root '%s' whose length is larger then target's '%s'.\n",
                  root.c_str(), target.c_str());
        return -1;
    }
    if (!FSIsParentFolder(root, target)) {
        LOG_ERROR(FILE_OP_LOG, "root '%s' is not a parent folder of target '%s'\n", root.c_str(),
                  target.c_str());
        return -1;
    }
    ustring rest = target.substr(root.length());
    ustring done;
    while (done != rest) {
        size_t slash = rest.find('/', done.length() + 1);
        done = rest.substr(0, slash);
        LOG_DEBUG(FILE_OP_LOG, "FSMKDirFromRoot: create %s\n", done.c_str());
        if (FSMKDir(root + done, false) < 0)
            return -1;
    }
    return 0;
}

// ==================================================================== temporaries

int FSMktemp(const ustring& dir, ustring& out)
{
    char buffer[kTempPathBufferSize];
    snprintf(buffer, sizeof buffer, "%s/XXXXXX", dir.c_str());
    int fd = mkstemp(buffer);
    if (fd < 0) {
        int err = errno;
        LOG_ERROR(FILE_OP_LOG, "mkstemp(%s): %s\n", buffer, strerror(err));
        return -1;
    }
    close(fd);
    out = buffer;
    chmod(buffer, 0644);
    return 0;
}

int FSCreateTempPath(const ustring& dir, ustring& out)
{
    try {
        out = TmpNameGen::getInstance().getTmpPath(std::string(dir.c_str()));
    } catch (const std::exception& error) {
        LOG_ERROR(FILE_OP_LOG, "FSCreateTempPath: %s\n", error.what());
        return -1;
    }
    return out.empty() ? -1 : 0;
}

// ==================================================================== times, access, types

int FSUTime(const ustring& path, long atime, long mtime)
{
    struct timeval times[2];
    times[0].tv_sec = static_cast<time_t>(atime);
    times[0].tv_usec = 0;
    times[1].tv_sec = static_cast<time_t>(mtime);
    times[1].tv_usec = 0;
    return lutimes(path.c_str(), times) < 0 ? -1 : 0;
}

bool FSTimeEqual(long a, long b)
{
    return a == b;
}

bool isFileLocked(const ustring& path, int mode)
{
    if (access(path.c_str(), mode) == 0)
        return false;
    return errno == EACCES || errno == EPERM;
}

bool hasFilePermission(const ustring& path, int mode)
{
    if (access(path.c_str(), mode) == 0)
        return true;
    return !(errno == EACCES || errno == EPERM);
}

bool isMountPoint(const ustring& path)
{
    std::string name;
    if (!TypeName(path, name)) {
        int err = errno;
        LOG_ERROR(FILE_OP_LOG, "isMountPoint: Failed to get file system info '%s'. %s\n", path.c_str(),
                  strerror(err));
        return false;
    }
    return name == "nfs" || name == "smbfs" || name == "afpfs";
}

bool IsMSDOS(const ustring& path)
{
    std::string name;
    if (!TypeName(path, name)) {
        int err = errno;
        LOG_ERROR(FILE_OP_LOG, "IsSupportLargeFile: Failed to get file system info '%s'. %s\n",
                  path.c_str(), strerror(err));
        return false;
    }
    if (name != "msdos")
        return false;
    LOG_WARNING(FILE_OP_LOG, "Detect a MSDOS platform for path '%s'.\n", path.c_str());
    return true;
}

// ==================================================================== real paths, links, owners

int FSGetRealPath(ustring& path)
{
    LOG_DEBUG(FILE_OP_LOG, " org path [%s]\n", path.c_str());
    std::string real;
    if (fileplatform::CanonicalPath(path.c_str(), true, real) != 0)
        return -1;
    path = real;
    LOG_DEBUG(FILE_OP_LOG, " get full path [%s]\n", path.c_str());
    return 0;
}

int FSCreateSymbolicLink(const ustring& target, const ustring& link_path)
{
    if (symlink(target.c_str(), link_path.c_str()) == 0)
        return 0;
    int err = errno;
    LOG_ERROR(FILE_OP_LOG, "FSCreateSymbolicLink: Failed to create symbolic link '%s' -> '%s' (code: %d, msg: %s)\n",
              target.c_str(), link_path.c_str(), err, strerror(err));
    return -1;
}

int FSReadSymbolicLink(const ustring& path, ustring& target)
{
    char buffer[kLinkBufferSize];
    memset(buffer, 0, sizeof buffer);
    ssize_t length = readlink(path.c_str(), buffer, sizeof buffer);
    if (length < 0) {
        int err = errno;
        LOG_ERROR(FILE_OP_LOG, "FSReadSymbolicLink: Failed to read symbolic link '%s' (code: %d, msg: %s)\n",
                  path.c_str(), err, strerror(err));
        return -1;
    }
    if (static_cast<size_t>(length) >= kLinkBufferSize) {
        LOG_ERROR(FILE_OP_LOG, "FSReadSymbolicLink: path of '%s' is more than %d\n", path.c_str(),
                  static_cast<int>(kLinkBufferSize));
        return -1;
    }
    buffer[length] = '\0';
    target = buffer;
    return 0;
}

int FSChown(const ustring& path, unsigned int uid, unsigned int gid)
{
    if (lchown(path.c_str(), static_cast<uid_t>(uid), static_cast<gid_t>(gid)) == 0)
        return 0;
    int err = errno;
    LOG_ERROR(FILE_OP_LOG, "FSChown: Failed to chown '%s' (code: %d, msg: %s)\n", path.c_str(), err,
              strerror(err));
    return -1;
}

// ==================================================================== seams

void fileop_seams::SetDurableMoves(bool durable)
{
    durable_moves.store(durable, std::memory_order_relaxed);
}
