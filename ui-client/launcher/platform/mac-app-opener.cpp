#include "platform/mac-app-opener.h"

#include <QProcess>

bool MacAppOpener::OpenNewInstance(const QString& bundle, QString* error)
{
    const QStringList args = QStringList() << QStringLiteral("-n") << QStringLiteral("-a") << bundle;
    if (QProcess::startDetached(QStringLiteral("/usr/bin/open"), args))
        return true;
    *error = QStringLiteral("cannot start /usr/bin/open");
    return false;
}
