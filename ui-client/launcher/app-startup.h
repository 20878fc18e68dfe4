// Pure helpers of the launcher's start-up: the path table, the plug-in folder
// and the application font. Nothing here logs or touches the file system.
#pragma once

#include <QFont>
#include <QPair>
#include <QString>
#include <QVector>

namespace startup {

using PathEntry = QPair<QString, QString>;  // key, normalised value

// The nine registry entries in the order they are stored: per-user paths
// below home, and the bundle's resource folder next to the executable's
// folder. Every value is normalised with QDir::cleanPath.
QVector<PathEntry> PathTable(const QString& home, const QString& appDir);

// The plug-in folder of the bundle that holds the executable: the path two
// levels up from the executable plus "Frameworks/plugins", normalised. A
// relative executable path is resolved against the current folder, and a
// bare name (found through PATH) against PATH, so the folder does not
// depend on how the launcher was started.
QString PluginFolder(const QString& executablePath);

// The home folder the launcher works in, from the HOME variable as the
// process got it (`env`, null when unset), the account's home folder in the
// password database (`account`) and the current folder (`cwd`): HOME when
// set, else the account's; a relative one made absolute against `cwd`. Empty,
// with the reason in `error`, when there is none or it is not valid UTF-8
// (every path the launcher stores is UTF-8 text).
QByteArray ResolveHome(const char* env, const QByteArray& account, const QByteArray& cwd, QString* error);

// Which platform plug-in can show the dialog, from the environment:
// `platform` (QT_QPA_PLATFORM), `x11` (DISPLAY) and `wayland`
// (WAYLAND_DISPLAY). Returns the plug-in to ask for ("" keeps Qt's choice,
// e.g. an explicit QT_QPA_PLATFORM or an X display), or null with nothing
// to display on.
const char* PlatformFor(const char* platform, const char* x11, const char* wayland, bool* usable);

// Font family for a language code: "Microsoft Sans Serif" for "tha"
// (case-sensitive), "Arial" otherwise.
QString FontFamilyFor(const QString& languageCode);

// The application font for a language code, 12 points.
QFont ApplicationFontFor(const QString& languageCode);

}  // namespace startup
