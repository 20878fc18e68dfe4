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

class InstalledScan;

namespace PackageTools {

// Makes the package work ready (loads the package module where it is one):
// false with the reason in `error` when it cannot be, before anything has
// been stopped or moved for an installation.
bool Load(std::string* error);

// SHA-256 of the open file `fd`, read from its start (pread: the
// descriptor's offset is left alone): true with the digest in lower-case
// hex, false with the reason in `error`.
bool Sha256(int fd, std::string* digest, std::string* error);

// Starts reading the CRC-32 of every file of the installation at `app` on a
// thread of its own (see installed-scan.h); null when the package work is
// not loaded or the folder cannot be opened. EndScan stops and frees it.
InstalledScan* StartScan(const ustring& app);
void EndScan(InstalledScan* scan);

// What an extraction reads and writes.
struct ExtractRequest {
    ustring package;           // the package's path, for the log (opened only when package_fd is -1)
    int package_fd = -1;       // the package as checked; every reader reads this open file
    ustring dest;              // the new bundle folder
    ustring link_source;       // the complete installation it replaces, moved aside; empty: none
    InstalledScan* scan = nullptr;  // that installation's files read ahead, or null
};

// Extracts the package below `dest`: 0 when every entry was written, -1 on
// any failure (as Extractor::Extract).
int Extract(const ExtractRequest& request);
int Extract(const ustring& package, const ustring& dest);

// Tests only (the linked package work): `hook` runs right after each digest
// computed by Sha256, before its result is returned. Null: none.
void SetAfterDigestHookForTesting(void (*hook)());

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
