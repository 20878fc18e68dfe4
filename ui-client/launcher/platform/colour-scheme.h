// Whether the desktop asks applications for dark colours, where the
// toolkit's own platform theme does not pass that on.
#pragma once

#include <QPalette>

// True when the desktop prefers a dark colour scheme.
bool DesktopPrefersDark();

// A dark palette for windows of the launcher, built on `base` (the
// application's palette): used when the desktop prefers dark but the
// palette in force is light.
QPalette DarkPalette(const QPalette& base);
