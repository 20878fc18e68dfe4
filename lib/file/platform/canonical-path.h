// Canonical form of a path: the absolute path of an object, with every
// symbolic link on the way resolved and each component spelled the way the
// file system stores it (letter case, Unicode composition).
#pragma once

#include <string>

namespace fileplatform {

// Fills `out` with the canonical path of `path` and returns 0. With
// `follow_leaf` false a final symbolic link is not followed: the result names
// the link itself; with it true the result names what the link points to.
// Any failure returns a non-zero status and leaves `out` unchanged: on Linux
// the negated errno of the call that failed, on Apple systems the status of
// the CoreServices call.
int CanonicalPath(const char* path, bool follow_leaf, std::string& out);

}  // namespace fileplatform
