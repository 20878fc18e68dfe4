// Apple systems have no asynchronous range writeback; the final fsync does it all.
#include "platform/writeback.h"

namespace fileplatform {

void AdviseSequentialRead(int) {}

bool StartWriteback(int, off_t, off_t)
{
    return false;
}

}  // namespace fileplatform
