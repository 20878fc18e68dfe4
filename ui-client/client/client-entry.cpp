#include "client-entry.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

namespace client_entry {

namespace {

// A double-quoted Exec word: the characters that keep a meaning inside
// double quotes are escaped with a backslash.
QString Quote(const QString& path)
{
    QString quoted;
    quoted.reserve(path.size() + 2);
    for (const QChar c : path) {
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') || c == QLatin1Char('\\'))
            quoted += QLatin1Char('\\');
        quoted += c;
    }
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

// A value on one line: line breaks and tabs would end or split the key.
QString Value(QString text)
{
    return text.replace(QLatin1Char('\n'), QLatin1Char(' '))
        .replace(QLatin1Char('\r'), QLatin1Char(' '))
        .replace(QLatin1Char('\t'), QLatin1Char(' '));
}

// A string value: a backslash is the escape character of the format.
QString StringValue(QString text)
{
    return Value(text.replace(QLatin1Char('\\'), QStringLiteral("\\\\")));
}

}  // namespace

// TryExec names the executable: once the per-user client is gone (its
// folder removed by hand), desktops ignore the entry instead of offering a
// program that no longer exists.
QString Text(const Names& names, const QString& executable)
{
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=%1\n"
                          "Exec=%2\n"
                          "TryExec=%5\n"
                          "Icon=%3\n"
                          "StartupWMClass=%4\n"
                          "NoDisplay=true\n"
                          "Terminal=false\n"
                          "Categories=Network;FileTransfer;\n")
        .arg(Value(names.name), Quote(Value(executable)), Value(names.icon), Value(names.wmClass),
             StringValue(executable));
}

bool Write(const QString& path, const Names& names, const QString& executable, QString* error)
{
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
        *error = QStringLiteral("cannot create the folder of '%1'").arg(path);
        return false;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = file.errorString();
        return false;
    }
    const QByteArray data = Text(names, executable).toUtf8();
    if (file.write(data) != data.size() || !file.commit()) {
        *error = file.errorString();
        return false;
    }
    return true;
}

}  // namespace client_entry
