// The package's archive and digest work: the code that needs libarchive and
// libcrypto. Tests and tools link it in (package-tools-linked.cpp); the
// launcher executable keeps those libraries out of every start and loads
// them with its package module the first time a run installs
// (package-tools-module.cpp), so a run with nothing to install never pays
// for them.
#pragma once

#include <string>
#include <vector>

#include "ustring.h"

namespace PackageTools {

// Makes the package work ready (loads the package module where it is one):
// false with the reason in `error` when it cannot be, before anything has
// been stopped or moved for an installation.
bool Load(std::string* error);

// SHA-256 of the file at `path`: true with the digest in lower-case hex,
// false with the reason in `error`.
bool Sha256(const ustring& path, std::string* digest, std::string* error);

// Extracts `package` below `dest`: 0 when every entry was written, -1 on any
// failure (as Extractor::Extract).
int Extract(const ustring& package, const ustring& dest);

// One way an installed copy differs from its package. `path` is relative to
// the bundle folder, as the package names it ("Contents/MacOS/lumora-ui",
// without "./" or a trailing '/'); `what` is "missing", "has size N,
// expected M", "contents differ", "mode 0644, expected 0755", "link target
// 'a', expected 'b'", "is a folder, expected a file", ...
struct Difference {
    ustring path;
    std::string what;
};

// What Compare found: `damaged` in the package's order, at most one
// difference a path; `extra` the paths below the bundle that the package
// does not hold (a folder once, not what it holds), relative to it.
struct Comparison {
    std::vector<Difference> damaged;
    std::vector<ustring> extra;
};

// Reads every entry of `package` and compares it with the tree below `app`
// as the extraction would have left it: type, size, permission bits, link
// target and contents byte for byte. A folder that is missing or is not a
// folder is reported once, without the entries below it. 0 when the
// comparison ran (both lists empty: the copy is intact), -1 with the reason
// in `error` when the package cannot be read.
int Compare(const ustring& package, const ustring& app, Comparison* result, std::string* error);

}  // namespace PackageTools
