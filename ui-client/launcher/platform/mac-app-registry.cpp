#include "platform/mac-app-registry.h"

#include <QProcess>

int MacAppRegistry::Unregister(const QString& bundle, QString* error)
{
    static const QString tool = QStringLiteral(
        "/System/Library/Frameworks/CoreServices.framework/Frameworks/LaunchServices.framework/"
        "Support/lsregister");
    const int code = QProcess::execute(tool, QStringList() << QStringLiteral("-u") << bundle);
    if (code != 0)
        *error = QStringLiteral("lsregister exited with %1").arg(code);
    return code;
}
