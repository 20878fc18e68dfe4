// Apple systems have no asynchronous range writeback and no file-system
// wide sync of one volume; the final fsync does it all.
#include "platform/writeback.h"

namespace fileplatform {

void AdviseSequentialRead(int) {}

bool StartWriteback(int, off_t, off_t)
{
    return false;
}

bool SyncFileSystem(int)
{
    return false;
}

}  // namespace fileplatform
