#include "pid-file.h"

#include <QCoreApplication>
#include <QFile>
#include <QSaveFile>

PidFile::PidFile(const QString& path) : m_path(path) {}

bool PidFile::Write(QString* error)
{
    QSaveFile file(m_path);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = file.errorString();
        return false;
    }
    const QByteArray line = "pid=" + QByteArray::number(QCoreApplication::applicationPid()) + "\n";
    if (file.write(line) != line.size() || !file.commit()) {
        *error = file.errorString();
        return false;
    }
    return true;
}

qint64 PidFile::ReadPid() const
{
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> lines = file.read(4096).split('\n');
    for (const QByteArray& raw : lines) {
        const QByteArray line = raw.trimmed();
        if (!line.startsWith("pid"))
            continue;
        const int eq = line.indexOf('=');
        if (eq < 0 || line.left(eq).trimmed() != "pid")
            continue;
        bool ok = false;
        const qint64 pid = line.mid(eq + 1).trimmed().toLongLong(&ok);
        return ok && pid > 0 ? pid : 0;
    }
    return 0;
}

void PidFile::Remove()
{
    if (ReadPid() == QCoreApplication::applicationPid())
        QFile::remove(m_path);
}
