// The desktop entry the client keeps for itself while it runs
// (lumora-ui.desktop in the user's applications folder). It is hidden from
// menus (NoDisplay): the launcher's entry is the one users start, and the
// client's only ties its windows to the launcher's icon and to this
// executable. The launcher removes it when its Exec points into the bundle it
// replaces, so Exec names the executable the way DesktopEntry::ExecProgram
// reads it back.
#pragma once

#include <QString>

namespace client_entry {

struct Names {
    QString name;       // Name=
    QString icon;       // Icon=, a themed icon name
    QString wmClass;    // StartupWMClass=
};

// The entry's text for `executable`.
QString Text(const Names& names, const QString& executable);

// Writes Text() to `path` atomically, creating its folder. False with the
// reason in `error` on failure.
bool Write(const QString& path, const Names& names, const QString& executable, QString* error);

}  // namespace client_entry
