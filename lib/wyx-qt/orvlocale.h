// The user's language as one of the launcher's three-letter codes.
#pragma once

#include <QLocale>
#include <QString>
#include <QStringList>

class OrvLocale {
public:
    static OrvLocale* getInstance();

    // The user's language from the environment (LANGUAGE, LC_ALL, LC_MESSAGES,
    // LANG, as QLocale::system().uiLanguages() reads them): the code of the
    // first listed language the launcher has, "enu" when there is none.
    QString getDefaultLanguage() const;

    // The code of one locale ("chs", "ger", ...), or an empty string when
    // the launcher has no such language.
    static QString codeForLocale(const QLocale& locale);

    // The code of the first entry of a preference list that the launcher
    // has (entries like "de_DE", "pt-BR", "zh-Hant-TW"); "enu" when none.
    static QString codeForLanguages(const QStringList& languages);

private:
    OrvLocale() = default;
};
