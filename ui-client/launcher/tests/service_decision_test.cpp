// The upgrade decision and the loading of the two INFO files.
#include "mac/mac-service.h"
#include "service_fixture.h"

struct ServiceDecision : ServiceHome {
    bool decide()
    {
        MacService service;
        service.PreUpgrade();
        return service.IsNeedUpgrade();
    }
    // Writes the INFO of `build` to `relative`, or removes it when null.
    void place(const char* relative, const char* build)
    {
        QDir(path(relative)).removeRecursively();
        QFile::remove(path(relative));
        if (build)
            writeFile(relative, info(build));
    }
};

TEST_F(ServiceDecision, ComparesBuildsAndChecksExecutableAndMark)
{
    enum { None, File, Folder };
    const struct { int executable; const char *source, *target; bool upgrade; } rows[] = {
        {None, "120", "120", true}, {None, "130", "120", true}, {None, nullptr, nullptr, true},
        {File, "120", "120", false}, {File, "130", "120", false}, {File, "120", "130", true},
        {Folder, "130", "120", false},  // a folder in its place counts as present
        {File, nullptr, "5", true},     // a missing INFO counts as build 0
        {File, "120", nullptr, false},
        {File, "41", "  42abc", true}, {File, "42", "  42abc", false},  // atoi semantics
        {File, "0", "abc", false}, {File, "-1", "abc", true},
        {File, "-10", "-5", true}, {File, "1", "-5", false},
        // Out of range saturates, it does not wrap.
        {File, "130", "99999999999", true}, {File, "99999999999", "130", false},
        {File, "-99999999999", "1", true},
    };
    for (const auto& row : rows) {
        place(kClientExecutable, nullptr);
        if (row.executable == File)
            makeClientExecutable();
        else if (row.executable == Folder)
            makeDir(kClientExecutable);
        place(kSourceInfo, row.source);
        place(kTargetInfo, row.target);
        EXPECT_EQ(row.upgrade, decide()) << row.executable << (row.source ? row.source : "-") << " -> "
                                         << (row.target ? row.target : "-");
    }
    // Equal builds with other major and minor versions: no upgrade.
    writeFile(kSourceInfo, info("130", "3"));
    writeFile(kTargetInfo, "[Version]\nmajor_version=4\nminor_version=7\nbuild_version=130\n");
    EXPECT_FALSE(decide());
    // The mark of an interrupted installation forces a new one.
    writeFile(".Lumora/Lumora.app.upgrading", "");
    EXPECT_TRUE(decide());
}

TEST_F(ServiceDecision, LoadsVersionRecords)
{
    // icon_overlay_version outside [Version] is not read.
    writeFile(kSourceInfo, "[Version]\nmajor_version=3\nminor_version=2\nbuild_version=120\n"
                           "[Other]\nicon_overlay_version=9\n");
    writeFile(kTargetInfo, info("130"));
    MacService service;
    service.PreUpgrade();
    EXPECT_TRUE(logHas("source_version = (3, 2, 120, )"));
    EXPECT_TRUE(logHas("target_version = (3, 2, 130, 1)"));
    // A second load without the files keeps what the first one read.
    QFile::remove(path(kSourceInfo));
    QFile::remove(path(kTargetInfo));
    service.LoadSourceVerInfo();
    service.LoadTargetVerInfo();
    EXPECT_STREQ("120", service.source_version.build_version.c_str());
    EXPECT_STREQ("130", service.target_version.build_version.c_str());
    // A fresh record without its file still logs four empty fields.
    MacService().LoadTargetVersion();
    EXPECT_TRUE(logHas("target_version = (, , , )"));

    // Empty, binary or misplaced content gives empty records and no upgrade.
    makeClientExecutable();
    const QByteArray bad[] = {
        "", "build_version=130\nmajor_version=3\n",  // keys outside the section
        QByteArray("\x00\xff\xfe[Version\x01\nbuild\x00=\x80\x81", 16), "[Version]\nbuild_version\n"};
    for (const QByteArray& content : bad) {
        writeFile(kSourceInfo, content);
        writeFile(kTargetInfo, content);
        MacService service;
        service.PreUpgrade();
        EXPECT_STREQ("", service.target_version.build_version.c_str());
        EXPECT_STREQ("", service.target_version.major_version.c_str());
        EXPECT_FALSE(service.IsNeedUpgrade());
    }
}
