// The "ui.pid" file the client keeps in its per-user folder while it runs:
// one line "pid=<process id>".
#pragma once

#include <QString>

class PidFile {
public:
    explicit PidFile(const QString& path);

    // Writes this process's id, atomically. False with the reason in `error`.
    bool Write(QString* error);
    // Removes the file when it still names this process.
    void Remove();
    // The process id the file names; 0 when it is missing or names none.
    qint64 ReadPid() const;

    const QString& path() const { return m_path; }

private:
    QString m_path;
};
