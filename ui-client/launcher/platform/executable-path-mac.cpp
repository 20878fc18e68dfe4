#include "platform/executable-path.h"

#include <mach-o/dyld.h>

#include <QFile>

#include <climits>
#include <cstdlib>
#include <vector>

QString RunningExecutablePath()
{
    uint32_t size = 0;
    _NSGetExecutablePath(nullptr, &size);
    std::vector<char> path(size + 1);
    if (_NSGetExecutablePath(path.data(), &size) != 0)
        return QString();
    char resolved[PATH_MAX];
    if (realpath(path.data(), resolved) == nullptr)
        return QString();
    return QFile::decodeName(resolved);
}
