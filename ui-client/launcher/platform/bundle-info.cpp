#include "platform/bundle-info.h"

#include <QDir>
#include <QFile>
#include <QXmlStreamReader>

namespace {

const char kExecutableKey[] = "CFBundleExecutable";

// Moves the reader to the next start element among the children of the
// current element; false at the end of the parent or on an error.
bool NextChild(QXmlStreamReader& xml)
{
    return xml.readNextStartElement();
}

// Walks the top-level <dict> of the property list and returns the string
// value that follows the executable key; empty when there is none.
QString FindExecutable(QXmlStreamReader& xml, QString* error)
{
    if (!NextChild(xml) || xml.name() != QLatin1String("plist")) {
        *error = QStringLiteral("no <plist> root element");
        return QString();
    }
    if (!NextChild(xml) || xml.name() != QLatin1String("dict")) {
        *error = QStringLiteral("no top-level <dict>");
        return QString();
    }
    while (NextChild(xml)) {
        if (xml.name() != QLatin1String("key")) {
            xml.skipCurrentElement();
            continue;
        }
        const QString key = xml.readElementText();
        if (xml.hasError() || !NextChild(xml))
            break;
        if (key != QLatin1String(kExecutableKey)) {
            xml.skipCurrentElement();
            continue;
        }
        if (xml.name() != QLatin1String("string")) {
            *error = QStringLiteral("%1 is not a <string>").arg(kExecutableKey);
            return QString();
        }
        return xml.readElementText();
    }
    if (xml.hasError())
        *error = QStringLiteral("malformed property list: %1").arg(xml.errorString());
    else
        *error = QStringLiteral("no %1 key").arg(kExecutableKey);
    return QString();
}

bool IsPlainName(const QString& name)
{
    return !name.isEmpty() && !name.contains(QLatin1Char('/')) && name != QLatin1String(".") &&
           name != QLatin1String("..") && !name.contains(QChar(0));
}

}  // namespace

QString BundleInfo::ExecutableName(const QString& plistPath, QString* error)
{
    QFile file(plistPath);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot open '%1': %2").arg(plistPath, file.errorString());
        return QString();
    }
    QXmlStreamReader xml(&file);
    QString name = FindExecutable(xml, error);
    // The whole document must be well-formed, not only the part before the key.
    while (!xml.atEnd())
        xml.readNext();
    if (xml.hasError()) {
        *error = QStringLiteral("malformed property list '%1': %2").arg(plistPath, xml.errorString());
        return QString();
    }
    if (name.isEmpty())
        return QString();
    name = name.trimmed();
    if (!IsPlainName(name)) {
        *error = QStringLiteral("%1 '%2' is not a plain file name").arg(kExecutableKey, name);
        return QString();
    }
    return name;
}

QString BundleInfo::ExecutablePath(const QString& bundle, QString* error)
{
    const QString name = ExecutableName(bundle + QStringLiteral("/Contents/Info.plist"), error);
    if (name.isEmpty())
        return QString();
    return QDir::cleanPath(bundle + QStringLiteral("/Contents/MacOS/") + name);
}
