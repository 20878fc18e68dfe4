// Removals (FSRemove): the root a removal may work on, and the walk that
// empties each folder of a tree before removing the folder itself.
#include "file-op.h"
#include "file-op-internal.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <utility>

#include "log.h"

using namespace fileop_internal;

namespace {

// Listings of one folder a removal makes at most when entries keep appearing
// behind it (or a file system's listing skipped some while they were removed).
constexpr int kRemovalPasses = 4;

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

bool IsNotEmptyError(int err)
{
    return err == ENOTEMPTY || err == EEXIST;
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

}  // namespace

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
