// Linux helpers of the canonical-path layer: finding the spelling a
// directory entry is stored under when the file system matched a name in
// some looser way (case-insensitive or normalisation-insensitive volumes,
// short-name aliases).
#pragma once

#include <sys/stat.h>

#include <string>

namespace fileplatform {

// Whether a look-up of `name` in `dir`, which found the object `st`, may have
// matched an entry stored under another spelling: true when a differently
// cased or differently composed spelling of the name finds the same object.
bool MayMatchLoosely(const std::string& dir, const std::string& name, const struct stat& st);

// The name under which `dir` stores the object `st` that a look-up of `name`
// found: `name` itself when an entry of exactly that name is the object, else
// the first entry that is the same object (same device and inode). Returns
// false, with errno set, when the folder can't be read or holds no such entry.
// A folder's listing is read once for the look-ups of all its entries: each
// thread keeps the last few listings it read while their folders stay
// unchanged.
bool StoredEntryName(const std::string& dir, const std::string& name, const struct stat& st,
                     std::string& stored);

// How many folder listings StoredEntryName has read on this thread.
unsigned long FolderListingsRead();

}  // namespace fileplatform
