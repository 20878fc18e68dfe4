#include "platform/colour-scheme.h"

// The toolkit follows the system's appearance itself on macOS.
bool DesktopPrefersDark()
{
    return false;
}

QPalette DarkPalette(const QPalette& base)
{
    return base;
}
