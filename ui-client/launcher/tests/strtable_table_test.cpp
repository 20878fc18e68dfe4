// The string table itself: its layout, the fixed ids, escapes in LoadStr and
// key lookup; and the entry of the string table tests.
#include <QCoreApplication>
#include <QSet>
#include <QTranslator>
#include <gtest/gtest.h>
#include <cstring>
#include <map>
#include "strtable.h"

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);  // translators need one
    Q_INIT_RESOURCE(texts);
    StrTable::InitStrTable();
    return RUN_ALL_TESTS();
}

TEST(StrTable, LayoutCountsAndFixedIds)
{
    QSet<QString> folded;
    std::map<std::string, int> uses;
    for (int i = 0; i < StrTable::kStrCount; ++i) {
        ASSERT_TRUE(StrTable::ktab[i] && StrTable::stab[i] && *StrTable::stab[i]) << "id " << i;
        folded.insert(QString::fromLatin1(StrTable::ktab[i]).toLower());
        ++uses[StrTable::stab[i]];
    }
    EXPECT_EQ(folded.size(), 1051);
    EXPECT_EQ(uses.size(), 924u);
    EXPECT_EQ(uses["[ProductName] Setup"], 14);

    const struct { int id; const char *key, *text; } fixed[] = {
        {0, "tray_delete", "Deleted"}, {559, "app_name", "Lumora"}, {841, "app_name_lumora_client", "Lumora Client"},
        {7, "err_inval", "An error occurred (error code: %1). Please contact Orvendal Online Support for help."},
        {193, "msi_welcome_dlg_title", "[ProductName] Setup"},
        {521, "desc_tdwl_env_preparation_done_lumora", "%1 is ready."},
        {537, "desc_tdwl_env_preparing_lumora", "%1 is initializing..."},
        {562, "desc_tdwl_env_preparation_done", "Lumora is ready."},
        {563, "desc_tdwl_env_preparing", "Lumora is initializing..."},
    };
    for (const auto& row : fixed) {
        EXPECT_STREQ(StrTable::ktab[row.id], row.key) << "id " << row.id;
        EXPECT_EQ(StrTable::LoadStr(row.id).toStdString(), row.text) << "id " << row.id;
    }
    EXPECT_STREQ(StrTable::ktab[1050], "wizard_conflict_backup_task_warning");  // the last row stays last
}

// Answers one source text with a fixed translation.
struct OneTextTranslator : QTranslator {
    OneTextTranslator(const char* source, QString translation) : source(source), translation(translation) {}
    bool isEmpty() const override { return false; }
    QString translate(const char* context, const char* text, const char*, int) const override
    {
        return std::strcmp(context, "global") == 0 && std::strcmp(text, source) == 0 ? translation : QString();
    }
    const char* source;
    QString translation;
};

TEST(StrTable, LoadStrTurnsEscapesIntoLineBreaksAndTabs)
{
    for (int i = 0; i < StrTable::kStrCount; ++i)
        EXPECT_EQ(StrTable::LoadStr(i), QString(StrTable::stab[i]).replace("\\n", "\n").replace("\\t", "\t")) << i;
    // A translated text gets the same treatment; other backslashes stay.
    OneTextTranslator translator(StrTable::stab[841], QStringLiteral("A\\nB\\tC\\x\\\\D\\"));
    ASSERT_TRUE(QCoreApplication::installTranslator(&translator));
    const QString translated = StrTable::LoadStr(841);
    QCoreApplication::removeTranslator(&translator);
    EXPECT_EQ(translated.toStdString(), "A\nB\tC\\x\\\\D\\");

    EXPECT_TRUE(StrTable::LoadStr(-1).isEmpty());
    EXPECT_TRUE(StrTable::LoadStr(StrTable::kStrCount).isEmpty());
}

TEST(StrTable, LookupStrIdIgnoresCase)
{
    for (int i = 0; i < StrTable::kStrCount; ++i)
        EXPECT_EQ(StrTable::LookupStrID(QString::fromLatin1(StrTable::ktab[i]).toUpper()), i) << StrTable::ktab[i];
    EXPECT_EQ(StrTable::LookupStrID("App_Name_Lumora_Client"), 841);
    for (const char* unknown : {"no_such_key", "", "app_nam", "app_name ", "Lumora Client"})
        EXPECT_EQ(StrTable::LookupStrID(unknown), -1) << unknown;
}
