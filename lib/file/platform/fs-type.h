// Name of the file-system type that holds a path, spelled the way the
// Apple systems spell it ("nfs", "smbfs", "afpfs", "msdos", "apfs", ...).
#pragma once

#include <string>

namespace fileplatform {

// Fills `name` and returns 0; on failure returns -1 with errno set by statfs.
// A Linux type without such a name is given as its magic number in hex
// ("0x1234abcd").
int FileSystemTypeName(const char* path, std::string& name);

}  // namespace fileplatform
