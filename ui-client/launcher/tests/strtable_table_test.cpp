// The string table itself: its layout, the fixed ids, escape handling in
// LoadStr and key lookup. Runs without any translator installed.

#include <QCoreApplication>
#include <QSet>
#include <QString>
#include <QTranslator>

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>

#include "strtable.h"

namespace {

struct Row {
    int id;
    const char* key;
};

// The first and last key of each run of 25 ids: a row added or dropped in
// the data file shifts at least one of them.
const Row kRunEnds[] = {
    {0, "tray_delete"}, {24, "title_name"}, {25, "title_value"}, {49, "files_update"},
    {50, "msg_folder_readonly"}, {74, "manage_proxy_title"}, {75, "manage_setting_no_change"},
    {99, "btn_continue"}, {100, "selective_sync"}, {124, "tray_syncing_file_cnt"},
    {125, "folder_selective_sync"}, {149, "status_desc_abnormal_short"},
    {150, "col_computer_name"}, {174, "msg_download_done"}, {175, "msg_download_fail"},
    {199, "msi_button_print"}, {200, "msi_filesinuse_dlg_closenone"}, {224, "msi_button_install"},
    {225, "msi_maintenance_welcome_dlg_description"},
    {249, "msi_maintenance_dlg_change_text_disabled"}, {250, "msi_maintenance_dlg_change_tooltip"},
    {274, "msi_exit_dlg_subtitle"}, {275, "msi_userexit_dlg_subtitle"}, {299, "history_yesterday"},
    {300, "wizard_setup_mode_page_desc"}, {324, "history_delete"}, {325, "history_download"},
    {349, "month_dec"}, {350, "history_file_type"}, {374, "open_main_app"},
    {375, "wizard_sync_folder_new_nas"}, {399, "conflict_policy_desc"},
    {400, "wizard_welcome_title"}, {424, "wizard_quotafull_sync_folder_warning"},
    {425, "wizard_ssl_verify_fail_sync_folder_warning"}, {449, "quick_mode_open_folder_btn"},
    {450, "err_share_nonexist_short"}, {474, "wizard_client_upgrade_failed"},
    {475, "sharing_apply_and_copy_button"}, {499, "accessible_tutorial_close_button"},
    {500, "accessible_version_download_abort_button"}, {524, "msg_running_lumora"},
    {525, "filter_from"}, {549, "wizard_welcome_desc_lumora"}, {550, "almost_done_lumora_server"},
    {574, "msg_running"}, {575, "quick_mode_end_msg"}, {599, "desc_cannot_open_portal"},
    {600, "share_invite"}, {624, "display_setting_bw_desc"}, {625, "display_tab"},
    {649, "wizard_shared_with_me_title"}, {650, "create_sync_task_title"}, {674, "btn_unlink"},
    {675, "connection_password"}, {699, "commenter"}, {700, "sharelink_manage_tooltip"},
    {724, "wizard_summary_table_remote_title"}, {725, "history_page_title"},
    {749, "denied_access_IPaddr_desc"}, {750, "invalid_certificate_err_desc"},
    {774, "bkp_summary_thur"}, {775, "bkp_summary_sat"}, {799, "bkp_title_diskfull"},
    {800, "bkp_title_err_init_failed"}, {824, "quick_mode_finish_page_more_detail"},
    {825, "quick_mode_finish_page_more_detail_lumora"}, {849, "backup_err_ssl_change"},
    {850, "open_lumora_web_portal"}, {874, "wizard_warning_invalid_on_demand_sync_path"},
    {875, "enable_on_demand_sync_elaborate"}, {899, "history_placeholder_available"},
    {900, "wizard_welcome_footer_info_lumora"}, {924, "wizard_setsyncfolder_title"},
    {925, "backup_err_user_not_allowed"}, {949, "msg_fail_load_session"}, {950, "msg_loading"},
    {974, "setting_filter_zero_desc"}, {975, "setting_option_language_default"},
    {999, "schedulebkp_backup_now"}, {1000, "selective_sync_file_title"},
    {1024, "enable_protection_sharing"}, {1025, "msg_adv_sharing_bubble_suffix"},
    {1049, "file_size_limit_tooltip_ZRT"}, {1050, "wizard_conflict_backup_task_warning"},
};

struct Text {
    int id;
    const char* key;
    const char* text;
};

const Text kFixedTexts[] = {
    {0, "tray_delete", "Deleted"},
    {7, "err_inval",
     "An error occurred (error code: %1). Please contact Orvendal Online Support for help."},
    {193, "msi_welcome_dlg_title", "[ProductName] Setup"},
    {521, "desc_tdwl_env_preparation_done_lumora", "%1 is ready."},
    {537, "desc_tdwl_env_preparing_lumora", "%1 is initializing..."},
    {559, "app_name", "Lumora"},
    {562, "desc_tdwl_env_preparation_done", "Lumora is ready."},
    {563, "desc_tdwl_env_preparing", "Lumora is initializing..."},
    {841, "app_name_lumora_client", "Lumora Client"},
};

bool IsKeyCharacter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// Answers one source text with a fixed translation, everything else untouched.
class OneTextTranslator : public QTranslator {
public:
    OneTextTranslator(const char* source, QString translation)
        : source_(source), translation_(std::move(translation)) {}

    bool isEmpty() const override { return false; }

    QString translate(const char* context, const char* source, const char*, int) const override
    {
        if (std::strcmp(context, "global") == 0 && std::strcmp(source, source_) == 0)
            return translation_;
        return QString();
    }

private:
    const char* source_;
    QString translation_;
};

}  // namespace

TEST(StrTableLayout, KeysAreWellFormedAndDistinctIgnoringCase)
{
    QSet<QString> folded;
    for (int i = 0; i < StrTable::kStrCount; ++i) {
        const char* key = StrTable::ktab[i];
        ASSERT_NE(key, nullptr) << "id " << i;
        const size_t length = std::strlen(key);
        EXPECT_GE(length, 1u) << "id " << i;
        EXPECT_LE(length, 55u) << key;
        for (size_t c = 0; c < length; ++c)
            EXPECT_TRUE(IsKeyCharacter(key[c])) << key;
        folded.insert(QString::fromLatin1(key).toLower());
    }
    EXPECT_EQ(folded.size(), 1051);
}

TEST(StrTableLayout, TextsHoldTheFixedCountsOfDistinctAndSharedTexts)
{
    std::map<std::string, int> uses;
    for (int i = 0; i < StrTable::kStrCount; ++i) {
        ASSERT_NE(StrTable::stab[i], nullptr) << "id " << i;
        EXPECT_GT(std::strlen(StrTable::stab[i]), 0u) << "id " << i;
        ++uses[StrTable::stab[i]];
    }
    EXPECT_EQ(uses.size(), 924u);
    EXPECT_EQ(uses["[ProductName] Setup"], 14);
    // The shared title belongs to installer dialog titles only.
    for (int i = 0; i < StrTable::kStrCount; ++i) {
        if (std::strcmp(StrTable::stab[i], "[ProductName] Setup") == 0) {
            const QString key = QString::fromLatin1(StrTable::ktab[i]);
            EXPECT_TRUE(key.startsWith("msi_") && key.endsWith("_title")) << qPrintable(key);
        }
    }
}

TEST(StrTableLayout, FixedIdsCarryTheirKeysAndTexts)
{
    for (const Row& row : kRunEnds)
        EXPECT_STREQ(StrTable::ktab[row.id], row.key) << "id " << row.id;
    for (const Text& text : kFixedTexts) {
        EXPECT_STREQ(StrTable::ktab[text.id], text.key) << "id " << text.id;
        EXPECT_STREQ(StrTable::stab[text.id], text.text) << "id " << text.id;
        EXPECT_EQ(StrTable::LoadStr(text.id), QString::fromUtf8(text.text)) << "id " << text.id;
    }
    // Filling the table again changes nothing.
    const char* key = StrTable::ktab[537];
    const char* text = StrTable::stab[537];
    StrTable::InitStrTable();
    EXPECT_EQ(StrTable::ktab[537], key);
    EXPECT_EQ(StrTable::stab[537], text);
}

TEST(StrTableLoad, EscapesBecomeLineBreaksAndTabs)
{
    // English texts: the stored escapes are two characters, LoadStr expands them.
    for (int i = 0; i < StrTable::kStrCount; ++i) {
        const QString raw = QString::fromUtf8(StrTable::stab[i]);
        const QString loaded = StrTable::LoadStr(i);
        EXPECT_FALSE(loaded.contains("\\n") || loaded.contains("\\t")) << "id " << i;
        EXPECT_EQ(loaded.count('\n'), raw.count("\\n")) << "id " << i;
        EXPECT_EQ(loaded.count('\t'), raw.count("\\t")) << "id " << i;
    }
    const QString progress = StrTable::LoadStr(256);
    EXPECT_TRUE(progress.contains(".\nThis may take")) << qPrintable(progress);

    // A translated text gets the same treatment; other backslashes stay.
    OneTextTranslator translator(StrTable::stab[841], QStringLiteral("A\\nB\\tC\\x\\\\D\\"));
    ASSERT_TRUE(QCoreApplication::installTranslator(&translator));
    const QString translated = StrTable::LoadStr(841);
    QCoreApplication::removeTranslator(&translator);
    EXPECT_EQ(translated, QStringLiteral("A\nB\tC\\x\\\\D\\"));
    EXPECT_EQ(StrTable::LoadStr(841), QStringLiteral("Lumora Client"));
}

TEST(StrTableLoad, IdsOutsideTheTableGiveAnEmptyText)
{
    EXPECT_TRUE(StrTable::LoadStr(-1).isEmpty());
    EXPECT_TRUE(StrTable::LoadStr(StrTable::kStrCount).isEmpty());
    EXPECT_TRUE(StrTable::LoadStr(1 << 30).isEmpty());
    EXPECT_FALSE(StrTable::LoadStr(StrTable::kStrCount - 1).isEmpty());
}

TEST(StrTableLookup, FindsEveryKeyIgnoringCase)
{
    for (int i = 0; i < StrTable::kStrCount; ++i) {
        const QString key = QString::fromLatin1(StrTable::ktab[i]);
        EXPECT_EQ(StrTable::LookupStrID(key), i) << qPrintable(key);
        EXPECT_EQ(StrTable::LookupStrID(key.toUpper()), i) << qPrintable(key);
    }
    EXPECT_EQ(StrTable::LookupStrID("APP_NAME"), 559);
    EXPECT_EQ(StrTable::LookupStrID("App_Name_Lumora_Client"), 841);
    EXPECT_EQ(StrTable::LookupStrID("nsis_lumora_installed_newer"), 529);
}

TEST(StrTableLookup, UnknownKeysGiveMinusOne)
{
    EXPECT_EQ(StrTable::LookupStrID("no_such_key"), -1);
    EXPECT_EQ(StrTable::LookupStrID(""), -1);
    EXPECT_EQ(StrTable::LookupStrID("app_nam"), -1);       // a prefix
    EXPECT_EQ(StrTable::LookupStrID("app_name "), -1);     // trailing blank
    EXPECT_EQ(StrTable::LookupStrID("Lumora Client"), -1);  // a text, not a key
}
