// Finding the stored spelling of a directory entry on Linux.
#include "platform/stored-name.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <string.h>

#include <vector>

#include "ustring.h"

namespace fileplatform {
namespace {

std::string Join(const std::string& dir, const std::string& name)
{
    return dir == "/" ? dir + name : dir + "/" + name;
}

bool SameObject(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The name with every ASCII letter in the other case.
std::string FlippedCase(const std::string& name)
{
    std::string flipped = name;
    for (char& c : flipped) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
        else if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return flipped;
}

bool HasNonAscii(const std::string& name)
{
    for (char c : name) {
        if (static_cast<unsigned char>(c) >= 0x80)
            return true;
    }
    return false;
}

// Other spellings under which a loosely matching file system would find the
// same entry: the other letter case, and the other Unicode composition.
std::vector<std::string> OtherSpellings(const std::string& name)
{
    std::vector<std::string> spellings;
    std::string flipped = FlippedCase(name);
    if (flipped != name)
        spellings.push_back(flipped);
    if (HasNonAscii(name) && ustring::is_valid(ustring(name))) {
        for (ustring::normalization_form form : {ustring::NFC, ustring::NFD}) {
            std::string other = ustring::normalize(ustring(name), form).c_str();
            if (!other.empty() && other != name)
                spellings.push_back(other);
        }
    }
    return spellings;
}

// Scans `dir` for the entry that is `st`. Exact name first; then entries
// whose inode number matches; then, for file systems whose listing numbers
// differ from stat's (mount points, overlays), every entry by fstatat.
bool ScanFolder(DIR* listing, const std::string& name, const struct stat& st, std::string& stored)
{
    std::vector<std::string> names;
    errno = 0;
    while (struct dirent* entry = readdir(listing)) {
        std::string entry_name = entry->d_name;
        if (entry_name == "." || entry_name == "..")
            continue;
        if (entry_name == name || entry->d_ino == st.st_ino) {
            stored = entry_name;
            if (entry_name == name)
                return true;
        }
        names.push_back(entry_name);
    }
    if (errno != 0)
        return false;
    if (!stored.empty())
        return true;
    for (const std::string& candidate : names) {
        struct stat other;
        if (fstatat(dirfd(listing), candidate.c_str(), &other, AT_SYMLINK_NOFOLLOW) == 0 &&
            SameObject(other, st)) {
            stored = candidate;
            return true;
        }
    }
    errno = ENOENT;
    return false;
}

}  // namespace

bool MayMatchLoosely(const std::string& dir, const std::string& name, const struct stat& st)
{
    for (const std::string& spelling : OtherSpellings(name)) {
        struct stat other;
        if (lstat(Join(dir, spelling).c_str(), &other) == 0 && SameObject(other, st))
            return true;
    }
    return false;
}

bool StoredEntryName(const std::string& dir, const std::string& name, const struct stat& st,
                     std::string& stored)
{
    DIR* listing = opendir(dir.c_str());
    if (listing == nullptr)
        return false;
    std::string found;
    bool ok = ScanFolder(listing, name, st, found);
    int scan_errno = errno;
    closedir(listing);
    errno = scan_errno;
    if (ok)
        stored = found;
    return ok;
}

}  // namespace fileplatform
