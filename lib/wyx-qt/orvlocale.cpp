#include "orvlocale.h"

namespace {

const char kFallbackCode[] = "enu";

QString chineseCode(const QLocale& locale)
{
    // The script decides when the locale names one (zh-Hant, zh-Hans-HK);
    // otherwise the region does.
    if (locale.script() == QLocale::TraditionalChineseScript)
        return QStringLiteral("cht");
    if (locale.script() == QLocale::SimplifiedChineseScript)
        return QStringLiteral("chs");
    switch (locale.country()) {
    case QLocale::Taiwan:
    case QLocale::HongKong:
    case QLocale::Macau:
        return QStringLiteral("cht");
    default:
        return QStringLiteral("chs");
    }
}

QString portugueseCode(const QLocale& locale)
{
    // A bare "pt" resolves to Brazil; every other country uses the European
    // spelling.
    return locale.country() == QLocale::Brazil ? QStringLiteral("ptb") : QStringLiteral("ptg");
}

}  // namespace

OrvLocale* OrvLocale::getInstance()
{
    static OrvLocale instance;
    return &instance;
}

QString OrvLocale::codeForLocale(const QLocale& locale)
{
    switch (locale.language()) {
    case QLocale::Chinese: return chineseCode(locale);
    case QLocale::Portuguese: return portugueseCode(locale);
    case QLocale::Czech: return QStringLiteral("csy");
    case QLocale::Danish: return QStringLiteral("dan");
    case QLocale::English: return QStringLiteral("enu");
    case QLocale::French: return QStringLiteral("fre");
    case QLocale::German: return QStringLiteral("ger");
    case QLocale::Hungarian: return QStringLiteral("hun");
    case QLocale::Italian: return QStringLiteral("ita");
    case QLocale::Japanese: return QStringLiteral("jpn");
    case QLocale::Korean: return QStringLiteral("krn");
    case QLocale::Dutch: return QStringLiteral("nld");
    case QLocale::NorwegianBokmal:
    case QLocale::NorwegianNynorsk: return QStringLiteral("nor");
    case QLocale::Polish: return QStringLiteral("plk");
    case QLocale::Russian: return QStringLiteral("rus");
    case QLocale::Spanish: return QStringLiteral("spn");
    case QLocale::Swedish: return QStringLiteral("sve");
    case QLocale::Thai: return QStringLiteral("tha");
    case QLocale::Turkish: return QStringLiteral("trk");
    default: return QString();
    }
}

QString OrvLocale::codeForLanguages(const QStringList& languages)
{
    for (const QString& entry : languages) {
        const QString name = entry.trimmed();
        if (name.isEmpty())
            continue;
        const QString code = codeForLocale(QLocale(name));
        if (!code.isEmpty())
            return code;
    }
    return QString::fromLatin1(kFallbackCode);
}

QString OrvLocale::getDefaultLanguage() const
{
    return codeForLanguages(QLocale::system().uiLanguages());
}
