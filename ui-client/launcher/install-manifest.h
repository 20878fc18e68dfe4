// A record of what an installed bundle holds, kept next to it, so that every
// run can tell cheaply whether the installation is still whole: every
// regular file with its size and every symbolic link with its target. Only
// presence, type, size and link targets are checked, never contents: a check
// must cost about as much as looking at each file once.
#pragma once

#include <string>

#include "ustring.h"

namespace InstallManifest {

// The first difference found: the full path and what is wrong with it
// ("missing", "has size 10, expected 12", "is a folder, expected a file",
// "is a symbolic link to 'x', expected a file", "is a file, expected a
// symbolic link", ...).
struct Damage {
    ustring path;
    std::string what;
};

// Where the record of the bundle `app` lives: app + ".manifest", next to
// the bundle folder rather than inside it.
ustring PathFor(const ustring& app);

// Records every regular file and symbolic link below `app` in `manifest`.
// The record is written whole to manifest + ".part", made durable and then
// renamed over `manifest`, so a reader finds the previous record or the
// new one, never a part. False, with the failing call and its reason in
// *error, when it could not be written.
bool Write(const ustring& app, const ustring& manifest, std::string* error);

enum class Result {
    Intact,      // everything recorded is there as recorded
    Damaged,     // *first says what differs
    NoManifest,  // nothing recorded for this bundle
    Unreadable,  // a record that cannot be read or is not one (logged)
};

// Checks that every recorded path is present below `app` with the recorded
// type and size or link target; links are never followed (a dangling link
// where a file belongs is damage). Stops at the first difference. Files
// that were not recorded are ignored.
Result Check(const ustring& app, const ustring& manifest, Damage* first);

}  // namespace InstallManifest
