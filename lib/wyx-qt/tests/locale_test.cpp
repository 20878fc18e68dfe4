#include <QLocale>
#include <QStringList>

#include <gtest/gtest.h>

#include "helper_process.h"
#include "orvlocale.h"

namespace {

struct Case {
    const char* name;
    const char* code;
};

TEST(OrvLocale, MapsEveryLanguageToItsCode)
{
    const Case cases[] = {
        {"zh_CN", "chs"}, {"zh_TW", "cht"}, {"zh_HK", "cht"}, {"cs_CZ", "csy"}, {"da_DK", "dan"},
        {"en_US", "enu"}, {"fr_FR", "fre"}, {"de_DE", "ger"}, {"it_IT", "ita"}, {"ja_JP", "jpn"},
        {"ko_KR", "krn"}, {"nl_NL", "nld"}, {"nb_NO", "nor"}, {"nn_NO", "nor"}, {"no", "nor"},
        {"pl_PL", "plk"}, {"pt_BR", "ptb"}, {"pt_PT", "ptg"}, {"ru_RU", "rus"}, {"es_ES", "spn"},
        {"sv_SE", "sve"}, {"th_TH", "tha"}, {"tr_TR", "trk"}, {"hu_HU", "hun"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(OrvLocale::codeForLocale(QLocale(QString::fromLatin1(c.name))).toStdString(), c.code) << c.name;
}

TEST(OrvLocale, RegionalVariantsAndScriptsPickTheNearestCode)
{
    const Case cases[] = {
        {"fr_CA", "fre"}, {"es_MX", "spn"}, {"de_AT", "ger"},   {"en_GB", "enu"},  {"pt", "ptb"},
        {"pt_AO", "ptg"}, {"zh", "chs"},    {"zh_SG", "chs"},   {"zh_MO", "cht"},  {"zh-Hant", "cht"},
        {"zh-Hant-CN", "cht"}, {"zh-Hans-HK", "chs"}, {"sv-FI", "sve"}, {"nl_BE", "nld"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(OrvLocale::codeForLanguages({QString::fromLatin1(c.name)}).toStdString(), c.code) << c.name;
}

TEST(OrvLocale, UnknownLanguagesFallBackToEnglish)
{
    EXPECT_EQ(OrvLocale::codeForLanguages({}), QStringLiteral("enu"));
    EXPECT_EQ(OrvLocale::codeForLanguages({QStringLiteral("C")}), QStringLiteral("enu"));
    EXPECT_EQ(OrvLocale::codeForLanguages({QStringLiteral("el_GR")}), QStringLiteral("enu"));
    EXPECT_EQ(OrvLocale::codeForLanguages({QStringLiteral("not a locale")}), QStringLiteral("enu"));
    EXPECT_TRUE(OrvLocale::codeForLocale(QLocale(QStringLiteral("fi_FI"))).isEmpty());
    // The first language the launcher has wins; unknown ones before it are skipped.
    EXPECT_EQ(OrvLocale::codeForLanguages({QString(), QStringLiteral("fi_FI"), QStringLiteral("ko-KR"),
                                           QStringLiteral("de")}),
              QStringLiteral("krn"));
}

TEST(OrvLocale, ReadsTheLanguageFromTheEnvironment)
{
    using wyxqt_test::LocaleEnvironment;
    using wyxqt_test::RunHelper;
    const QStringList lang{QStringLiteral("lang")};
    EXPECT_EQ(RunHelper(lang, LocaleEnvironment({"LANG=th_TH.UTF-8"})), QStringLiteral("tha"));
    EXPECT_EQ(RunHelper(lang, LocaleEnvironment({"LANG=de_DE.UTF-8", "LC_MESSAGES=zh_TW.UTF-8"})),
              QStringLiteral("cht"));
    EXPECT_EQ(RunHelper(lang, LocaleEnvironment({"LANG=de_DE.UTF-8", "LC_MESSAGES=zh_TW.UTF-8",
                                                 "LC_ALL=pt_PT.UTF-8"})),
              QStringLiteral("ptg"));
    EXPECT_EQ(RunHelper(lang, LocaleEnvironment({"LC_ALL=de_DE.UTF-8", "LANGUAGE=ja:de"})), QStringLiteral("jpn"));
    EXPECT_EQ(RunHelper(lang, LocaleEnvironment({"LANG=C.UTF-8"})), QStringLiteral("enu"));
    EXPECT_EQ(RunHelper(lang, LocaleEnvironment({"LANG=el_GR.UTF-8"})), QStringLiteral("enu"));
    EXPECT_EQ(RunHelper(lang, LocaleEnvironment({})), QStringLiteral("enu"));
}

}  // namespace
