// Apple canonical paths come from CoreServices: a path is turned into a file
// reference and the reference back into the path the file system stores.
#include "platform/canonical-path.h"

#include <CoreServices/CoreServices.h>

#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wdeprecated-declarations"

namespace fileplatform {
namespace {

constexpr UInt32 kPathBufferSize = 4096;

}  // namespace

int CanonicalPath(const char* path, bool follow_leaf, std::string& out)
{
    FSRef ref;
    OptionBits options =
        follow_leaf ? kFSPathMakeRefDefaultOptions : kFSPathMakeRefDoNotFollowLeafSymlink;
    OSStatus status = FSPathMakeRefWithOptions(reinterpret_cast<const UInt8*>(path), options,
                                               &ref, nullptr);
    if (status != noErr)
        return static_cast<int>(status);
    UInt8 buffer[kPathBufferSize] = {0};
    status = FSRefMakePath(&ref, buffer, kPathBufferSize);
    if (status != noErr)
        return static_cast<int>(status);
    out = reinterpret_cast<const char*>(buffer);
    return 0;
}

}  // namespace fileplatform

#pragma clang diagnostic pop
