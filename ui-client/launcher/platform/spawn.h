// Starts a program without copying the launcher's address space (posix_spawn):
// standard streams on /dev/null, default signal dispositions, an empty
// signal mask, the given working folder.
#pragma once

#include <QString>
#include <QStringList>

struct SpawnOptions {
    QString workingFolder;    // empty: the launcher's own
    bool newSession = false;  // the child leads a session of its own (outlives the launcher's)
    bool reap = false;        // nobody waits for the child: it is reaped when it ends, never left a zombie
};

// Starts `program` with `arguments`. True with the child's id in `pid`;
// false with the failing call and the system's reason in `error`.
bool SpawnProgram(const QString& program, const QStringList& arguments, const SpawnOptions& options, long* pid,
                  QString* error);

// Starts `program` and waits for it: its exit status, or -1 (with `error`)
// when it could not start or did not exit normally.
int RunProgram(const QString& program, const QStringList& arguments, QString* error);
