#include "platform/desktop-entry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTextStream>

QString DesktopEntry::FileName()
{
    return QStringLiteral("lumora-ui.desktop");
}

QString DesktopEntry::ApplicationsFolder()
{
    // Under the XDG base directory rules a relative XDG_DATA_HOME is invalid
    // and ignored.
    QString data = QFile::decodeName(qgetenv("XDG_DATA_HOME"));
    if (data.isEmpty() || !QDir::isAbsolutePath(data))
        data = QDir::homePath() + QStringLiteral("/.local/share");
    return QDir::cleanPath(data + QStringLiteral("/applications"));
}

QString DesktopEntry::EntryPath()
{
    return ApplicationsFolder() + QLatin1Char('/') + FileName();
}

namespace {

// First word of an Exec value; a leading double-quoted word may hold blanks
// and backslash escapes.
QString FirstWord(const QString& value)
{
    const QString text = value.trimmed();
    if (!text.startsWith(QLatin1Char('"')))
        return text.section(QLatin1Char(' '), 0, 0);
    QString word;
    for (int i = 1; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('"'))
            return word;
        if (c == QLatin1Char('\\') && i + 1 < text.size())
            word += text.at(++i);
        else
            word += c;
    }
    return QString();  // unterminated quote
}

QString Quote(const QString& path)
{
    QString quoted;
    for (const QChar c : path) {
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') ||
            c == QLatin1Char('\\'))
            quoted += QLatin1Char('\\');
        quoted += c;
    }
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

}  // namespace

QHash<QString, QString> DesktopEntry::MainGroup(const QString& path)
{
    QHash<QString, QString> keys;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return keys;
    QTextStream in(&file);
    in.setCodec("UTF-8");
    bool inMainGroup = false;
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inMainGroup = (line == QLatin1String("[Desktop Entry]"));
            continue;
        }
        const int eq = line.indexOf(QLatin1Char('='));
        if (!inMainGroup || eq <= 0)
            continue;
        const QString key = line.left(eq).trimmed();
        if (!keys.contains(key))
            keys.insert(key, line.mid(eq + 1).trimmed());
    }
    return keys;
}

QString DesktopEntry::Value(const QString& path, const QString& key)
{
    return MainGroup(path).value(key);
}

QString DesktopEntry::ExecProgram(const QHash<QString, QString>& main_group)
{
    return FirstWord(main_group.value(QStringLiteral("Exec")));
}

QString DesktopEntry::ExecProgram(const QString& path)
{
    return ExecProgram(MainGroup(path));
}

bool DesktopEntry::Write(const QString& path, const QString& name, const QString& executable,
                         QString* error)
{
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
        *error = QStringLiteral("cannot create the folder of '%1'").arg(path);
        return false;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text)) {
        *error = file.errorString();
        return false;
    }
    QTextStream out(&file);
    out.setCodec("UTF-8");
    out << "[Desktop Entry]\n"
        << "Type=Application\n"
        << "Name=" << name << "\n"
        << "Exec=" << Quote(executable) << "\n"
        << "Terminal=false\n"
        << "Categories=Network;FileTransfer;\n";
    out.flush();
    if (!file.commit()) {
        *error = file.errorString();
        return false;
    }
    return true;
}
