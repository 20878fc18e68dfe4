// The desktop entry the client registers for itself in the user's
// applications folder, so desktop environments list it.
#pragma once

#include <QHash>
#include <QString>

class DesktopEntry {
public:
    // File name of the client's entry.
    static QString FileName();
    // $XDG_DATA_HOME/applications, or ~/.local/share/applications.
    static QString ApplicationsFolder();
    // ApplicationsFolder() + "/" + FileName().
    static QString EntryPath();

    // The keys of the [Desktop Entry] group of the file at `path` with their
    // values, trimmed (the first of a repeated key); empty when the file
    // cannot be read.
    static QHash<QString, QString> MainGroup(const QString& path);
    // One key's value from MainGroup; empty when there is no such key.
    static QString Value(const QString& path, const QString& key);
    // The program named by the Exec key (its first word, quotes removed).
    static QString ExecProgram(const QHash<QString, QString>& main_group);
    static QString ExecProgram(const QString& path);

    // Writes the entry for `executable` with the display `name` at `path`,
    // atomically. False with the reason in `error` on failure.
    static bool Write(const QString& path, const QString& name, const QString& executable,
                      QString* error);
};
