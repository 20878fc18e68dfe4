// Finding the stored spelling of a directory entry on Linux.
#include "platform/stored-name.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <map>
#include <memory>
#include <unordered_map>
#include <utility>
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

// How much older than a listing its folder's modification time must be for
// any later change to show as another time: the time's granularity (whole
// seconds when it has no fraction, up to two on FAT volumes; else a clock
// tick) and the lag of the clock the file system reads, with room to spare.
struct timespec TrustMargin(const struct timespec& mtime)
{
    if (mtime.tv_nsec == 0)
        return {3, 0};
    return {0, 100 * 1000 * 1000};
}

bool Before(const struct timespec& a, const struct timespec& b)
{
    return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}

struct timespec Plus(const struct timespec& a, const struct timespec& b)
{
    struct timespec sum = {a.tv_sec + b.tv_sec, a.tv_nsec + b.tv_nsec};
    if (sum.tv_nsec >= 1000000000L) {
        ++sum.tv_sec;
        sum.tv_nsec -= 1000000000L;
    }
    return sum;
}

// One folder's listing, with indexes to find an entry by name, by the inode
// number the listing gives, and (made on first need) by device and inode.
struct Listing {
    dev_t dev = 0;
    ino_t ino = 0;
    struct timespec mtime = {};
    std::vector<std::string> names;  // listing order, "." and ".." left out
    std::unordered_map<std::string, size_t> by_name;
    std::unordered_map<ino_t, size_t> by_listed_inode;  // the first entry of each number
    bool objects_known = false;
    std::map<std::pair<dev_t, ino_t>, size_t> by_object;  // the first entry of each object
};

// Listings kept for the look-ups that follow on the same thread, the most
// recently used first. A listing is kept only while the folder's modification
// time is what it was when the listing was read, and only when that time was
// older than the reading by more than TrustMargin: a change made after the
// reading then always moves the time. Every name a kept listing gives is
// checked against the folder all the same, and a look-up it can't answer
// drops it and reads the folder again.
constexpr size_t kKeptListings = 4;
thread_local std::vector<std::shared_ptr<Listing>> kept_listings;
thread_local unsigned long listings_read = 0;

void Keep(const std::shared_ptr<Listing>& listing)
{
    kept_listings.insert(kept_listings.begin(), listing);
    if (kept_listings.size() > kKeptListings)
        kept_listings.pop_back();
}

// Takes the kept listing of the folder `dir` out of the kept ones; null when
// there is none or the folder changed since.
std::shared_ptr<Listing> TakeKeptListing(const struct stat& dir)
{
    for (size_t i = 0; i < kept_listings.size(); ++i) {
        std::shared_ptr<Listing> listing = kept_listings[i];
        if (listing->dev != dir.st_dev || listing->ino != dir.st_ino)
            continue;
        kept_listings.erase(kept_listings.begin() + static_cast<std::ptrdiff_t>(i));
        bool unchanged = listing->mtime.tv_sec == dir.st_mtim.tv_sec && listing->mtime.tv_nsec == dir.st_mtim.tv_nsec;
        return unchanged ? listing : nullptr;
    }
    return nullptr;
}

// Reads `path`, whose stat is `dir`, taken after `read_at`; keeps the
// listing when it may be trusted later. Null with errno set on failure.
std::shared_ptr<Listing> ReadListing(const std::string& path, const struct stat& dir, const struct timespec& read_at)
{
    DIR* stream = opendir(path.c_str());
    if (stream == nullptr)
        return nullptr;
    ++listings_read;
    auto listing = std::make_shared<Listing>();
    listing->dev = dir.st_dev;
    listing->ino = dir.st_ino;
    listing->mtime = dir.st_mtim;
    errno = 0;
    while (struct dirent* entry = readdir(stream)) {
        std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        size_t index = listing->names.size();
        listing->by_name.emplace(name, index);
        listing->by_listed_inode.emplace(entry->d_ino, index);
        listing->names.push_back(std::move(name));
        errno = 0;
    }
    int read_errno = errno;
    closedir(stream);
    if (read_errno != 0) {
        errno = read_errno;
        return nullptr;
    }
    if (Before(Plus(listing->mtime, TrustMargin(listing->mtime)), read_at))
        Keep(listing);
    return listing;
}

// Fills the index by object, one lstat per entry: for folders whose listing
// numbers differ from stat's (mount points, overlays).
void KnowObjects(const std::string& path, Listing& listing)
{
    if (listing.objects_known)
        return;
    int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (size_t i = 0; fd >= 0 && i < listing.names.size(); ++i) {
        struct stat other;
        if (fstatat(fd, listing.names[i].c_str(), &other, AT_SYMLINK_NOFOLLOW) == 0)
            listing.by_object.emplace(std::make_pair(other.st_dev, other.st_ino), i);
    }
    if (fd >= 0)
        close(fd);
    listing.objects_known = fd >= 0;
}

bool IsEntryOf(const std::string& dir, const std::string& name, const struct stat& st)
{
    struct stat other;
    return lstat(Join(dir, name).c_str(), &other) == 0 && SameObject(other, st);
}

// The entry of `listing` that is `st`: exact name first; then the first
// entry whose listed inode number is the object's; then the first entry that
// is the object by lstat. A listing read before this look-up (`checked`) has
// each answer checked against the folder.
bool FindEntry(const std::string& dir, Listing& listing, const std::string& name, const struct stat& st,
               bool checked, std::string& stored)
{
    auto accept = [&](const std::string& candidate) {
        if (checked && !IsEntryOf(dir, candidate, st))
            return false;
        stored = candidate;
        return true;
    };
    auto exact = listing.by_name.find(name);
    if (exact != listing.by_name.end())
        return accept(name);
    auto listed = listing.by_listed_inode.find(st.st_ino);
    if (listed != listing.by_listed_inode.end() && accept(listing.names[listed->second]))
        return true;
    KnowObjects(dir, listing);
    auto object = listing.by_object.find(std::make_pair(st.st_dev, st.st_ino));
    return object != listing.by_object.end() && accept(listing.names[object->second]);
}

}  // namespace

unsigned long FolderListingsRead()
{
    return listings_read;
}

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
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    struct stat folder;
    if (stat(dir.c_str(), &folder) != 0)
        return false;
    std::string found;
    std::shared_ptr<Listing> kept = TakeKeptListing(folder);
    if (kept != nullptr && FindEntry(dir, *kept, name, st, true, found)) {
        Keep(kept);
        stored = found;
        return true;
    }
    std::shared_ptr<Listing> listing = ReadListing(dir, folder, now);
    if (listing == nullptr)
        return false;
    if (!FindEntry(dir, *listing, name, st, false, found)) {
        errno = ENOENT;
        return false;
    }
    stored = found;
    return true;
}

}  // namespace fileplatform
