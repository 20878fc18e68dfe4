// File operations on ustring paths over the POSIX calls, with the canonical
// path of an object taken from the platform layer.
#include "file-op.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <exception>
#include <string>

#include "log.h"
#include "platform/canonical-path.h"
#include "platform/fs-type.h"
#include "platform/writeback.h"
#include "tmp_name_gen.h"

#define FILE_OP_LOG "file_op_debug"

namespace {

constexpr size_t kCopyBufferSize = 8192;
// Written bytes after which the copy asks for their writeback to start.
constexpr off_t kWritebackStep = 8 * 1024 * 1024;
constexpr size_t kTempPathBufferSize = 4096;
constexpr size_t kLinkBufferSize = 1024;
constexpr unsigned short kDefaultMode = 0xFFFF;

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

int RemoveFolder(const ustring& path)
{
    if (IsLinkBehindSeparator(path))
        return -3;
    int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return -3;
    DIR* listing = fdopendir(fd);
    if (listing == nullptr) {
        close(fd);
        return -3;
    }
    while (struct dirent* entry = readdir(listing)) {
        if (IsDotEntry(entry->d_name))
            continue;
        if (FSRemove(Joined(path, entry->d_name), false) != 0) {
            closedir(listing);
            return -3;
        }
    }
    closedir(listing);
    return remove(path.c_str()) == 0 ? 0 : -3;
}

// Moves a folder to another file system entry by entry, then removes it.
int MoveFolderAcross(const ustring& src, const ustring& dst, bool case_sensitive)
{
    if (FSMKDir(dst, true) != 0)
        return -3;
    DIR* listing = opendir(src.c_str());
    if (listing == nullptr)
        return -3;
    while (struct dirent* entry = readdir(listing)) {
        if (IsDotEntry(entry->d_name))
            continue;
        if (FSRename(Joined(src, entry->d_name), Joined(dst, entry->d_name), case_sensitive) != 0) {
            closedir(listing);
            return -3;
        }
    }
    closedir(listing);
    return remove(src.c_str()) == 0 ? 0 : -3;
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

int CopyBytes(int in, int out, char* buffer)
{
    fileplatform::AdviseSequentialRead(in);
    Writeback writeback{out};
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

int CopyThroughBuffer(int in, int out)
{
    char* buffer = static_cast<char*>(malloc(kCopyBufferSize));
    if (buffer == nullptr) {
        int err = errno;
        LOG_ERROR(FILE_OP_LOG, "FSCopy: malloc(%d): %s (%d)\n", static_cast<int>(kCopyBufferSize),
                  strerror(err), err);
        return -1;
    }
    int result = CopyBytes(in, out, buffer);
    free(buffer);
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
    return SamePathText(info.path, path);
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

int FSRemove(const ustring& path, bool)
{
    if (path.empty())
        return -1;
    _FILE_INFO_tag info;
    if (GetFileInfo(path, info) != 0)
        return -1;
    if (!info.exists)
        return 0;
    if (info.type != FILE_TYPE_DIR)
        return remove(path.c_str()) == 0 ? 0 : -3;
    return RemoveFolder(path);
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
        return MoveFolderAcross(src, dst, case_sensitive);
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
    int result = CopyThroughBuffer(in, out);
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
