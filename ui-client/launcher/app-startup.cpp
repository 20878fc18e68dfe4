#include "app-startup.h"

#include <QDir>
#include <QStandardPaths>

namespace startup {

QVector<PathEntry> PathTable(const QString& home, const QString& appDir)
{
    const QString lumora = home + QStringLiteral("/.Lumora");
    const QString app = lumora + QStringLiteral("/Lumora.app");
    const QString tidewell = home + QStringLiteral("/.Tidewell");
    const QVector<PathEntry> raw = {
        {QStringLiteral("user_lumora_path"), lumora},
        {QStringLiteral("user_lumora_app_path"), app},
        {QStringLiteral("user_lumora_resource_path"), app + QStringLiteral("/Contents/Resources")},
        {QStringLiteral("user_lumora_data_path"), lumora + QStringLiteral("/data")},
        {QStringLiteral("user_lumora_working_dir_path"), app + QStringLiteral("/Contents/MacOS")},
        {QStringLiteral("user_lumora_ui_path"), app + QStringLiteral("/Contents/MacOS/lumora-ui")},
        {QStringLiteral("user_tidewell_path"), tidewell},
        {QStringLiteral("user_tidewell_resource_path"),
         tidewell + QStringLiteral("/Tidewell.app/Contents/Resources")},
        {QStringLiteral("root_resource_path"), appDir + QStringLiteral("/../Resources")},
    };
    QVector<PathEntry> table;
    table.reserve(raw.size());
    for (const PathEntry& entry : raw)
        table.append({entry.first, QDir::cleanPath(entry.second)});
    return table;
}

QString PluginFolder(const QString& executablePath)
{
    QString exe = executablePath;
    if (!exe.isEmpty() && !exe.contains(QLatin1Char('/'))) {
        const QString found = QStandardPaths::findExecutable(exe);
        if (!found.isEmpty())
            exe = found;
    }
    if (QDir::isRelativePath(exe))
        exe = QDir::current().absoluteFilePath(exe);
    return QDir::cleanPath(exe + QStringLiteral("/../../Frameworks/plugins"));
}

QByteArray ResolveHome(const char* env, const QByteArray& account, const QByteArray& cwd, QString* error)
{
    QByteArray home = env != nullptr ? QByteArray(env) : QByteArray();
    if (home.isEmpty())
        home = account;
    if (home.isEmpty()) {
        *error = QStringLiteral("no home folder: HOME is not set and the account has none");
        return QByteArray();
    }
    if (!home.startsWith('/'))
        home = cwd + '/' + home;
    if (QString::fromUtf8(home).toUtf8() != home) {
        *error = QStringLiteral("the home folder's name is not valid UTF-8: %1").arg(QString::fromLocal8Bit(home));
        return QByteArray();
    }
    return QDir::cleanPath(QString::fromUtf8(home)).toUtf8();
}

const char* PlatformFor(const char* platform, const char* x11, const char* wayland, bool* usable)
{
    const auto set = [](const char* value) { return value != nullptr && *value != '\0'; };
    *usable = true;
    if (set(platform) || set(x11))
        return "";
    if (set(wayland))
        return "wayland";
    *usable = false;
    return nullptr;
}

QString FontFamilyFor(const QString& languageCode)
{
    if (languageCode == QLatin1String("tha"))
        return QStringLiteral("Microsoft Sans Serif");
    return QStringLiteral("Arial");
}

QFont ApplicationFontFor(const QString& languageCode)
{
    return QFont(FontFamilyFor(languageCode), 12);
}

}  // namespace startup
