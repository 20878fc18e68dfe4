// Where the running executable lies, from the system rather than from
// argv[0] (which a link, an alias or "exec -a" can make anything).
#pragma once

#include <QString>

// The executable's absolute path with links resolved; empty when the system
// cannot tell.
QString RunningExecutablePath();
