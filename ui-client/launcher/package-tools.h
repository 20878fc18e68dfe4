// The package's archive and digest work: the code that needs libarchive and
// libcrypto. Tests and tools link it in (package-tools-linked.cpp); the
// launcher executable keeps those libraries out of every start and loads
// them with its package module the first time a run installs
// (package-tools-module.cpp), so a run with nothing to install never pays
// for them.
#pragma once

#include <string>

#include "ustring.h"

namespace PackageTools {

// SHA-256 of the file at `path`: true with the digest in lower-case hex,
// false with the reason in `error`.
bool Sha256(const ustring& path, std::string* digest, std::string* error);

// Extracts `package` below `dest`: 0 when every entry was written, -1 on any
// failure (as Extractor::Extract).
int Extract(const ustring& package, const ustring& dest);

}  // namespace PackageTools
