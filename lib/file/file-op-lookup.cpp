// Look-ups of the file layer: what an entry is and where it really is
// (GetFileInfo), whether it exists under the name given (IsFileExist,
// FSStat), and the parts of a path name.
#include "file-op.h"
#include "file-op-internal.h"

#include <errno.h>
#include <stdint.h>
#include <sys/stat.h>

#include <string>

#include "log.h"
#include "platform/canonical-path.h"

namespace {

// ---------------------------------------------------------------- records

ustring BaseName(const ustring& path)
{
    size_t slash = path.rfind('/');
    if (slash == ustring::npos)
        return path;
    return path.substr(slash + 1);
}

int32_t LowSeconds(time_t seconds)
{
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(seconds)));
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

}  // namespace

namespace fileop_internal {

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

}  // namespace fileop_internal

using fileop_internal::TypeOfMode;

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
