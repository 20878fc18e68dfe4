#include "dpiinfo.h"

#include <QGuiApplication>
#include <QRegularExpression>
#include <QScreen>

#include <cmath>

namespace {
const double kStandardDpi = 96.0;
}

DPIinfo* DPIinfo::getInstance()
{
    static DPIinfo instance;
    return &instance;
}

double DPIinfo::scaleForLogicalDpi(double logicalDpi)
{
    if (!(logicalDpi > 0.0) || !std::isfinite(logicalDpi))
        return 1.0;
    const double quarters = std::round(logicalDpi / kStandardDpi * 4.0) / 4.0;
    return quarters < 1.0 ? 1.0 : quarters;
}

double DPIinfo::getDPI() const
{
    const double fixed = m_override.load();
    if (fixed > 0.0)
        return fixed;
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return 1.0;
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return 1.0;
    return scaleForLogicalDpi(screen->logicalDotsPerInch());
}

void DPIinfo::setDPI(double scale)
{
    m_override.store(std::isfinite(scale) && scale > 0.0 ? scale : 0.0);
}

QString DPIinfo::scaleStyleSheet(const QString& styleSheet, double scale)
{
    if (scale == 1.0)
        return styleSheet;
    static const QRegularExpression length(QStringLiteral("(?<![\\w.#])(\\d+(?:\\.\\d+)?)px\\b"));
    QString result;
    int last = 0;
    QRegularExpressionMatchIterator it = length.globalMatch(styleSheet);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        result += styleSheet.midRef(last, m.capturedStart() - last);
        const double value = m.captured(1).toDouble();
        result += QString::number(static_cast<long long>(std::lround(value * scale))) + QStringLiteral("px");
        last = m.capturedEnd();
    }
    result += styleSheet.midRef(last);
    return result;
}

QString DPIinfo::getScaledStyleSheet(const QString& styleSheet) const
{
    return scaleStyleSheet(styleSheet, getDPI());
}
