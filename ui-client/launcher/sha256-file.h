// SHA-256 of a file's contents, for checking the shipped package.
#pragma once

#include <string>

#include "ustring.h"

// Hashes the file at `path`. True with the digest in lower-case hex; false
// with the failing call and the system's reason in `error`.
bool Sha256File(const ustring& path, std::string* digest, std::string* error);

// Hashes the open file `fd` from its start with pread, leaving its offset
// alone, so that several readers may share the descriptor. As Sha256File.
bool Sha256Descriptor(int fd, std::string* digest, std::string* error);
