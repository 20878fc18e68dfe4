// The upgrade decision and the loading of the two INFO files.
#include <QFile>

#include "mac/mac-service.h"
#include "service_fixture.h"

namespace {

class ServiceDecision : public ServiceHome {
protected:
    // Builds a fresh service, loads both records and decides.
    bool decide()
    {
        MacService service;
        service.PreUpgrade();
        return service.IsNeedUpgrade();
    }
};

TEST_F(ServiceDecision, ComparesBuildNumbersOnly)
{
    makeClientExecutable();
    struct Row {
        QByteArray source;
        QByteArray target;
        bool upgrade;
    };
    const Row rows[] = {
        {"120", "130", true},
        {"120", "120", false},
        {"130", "120", false},        // no downgrade
        {"41", "  42abc", true},      // atoi: blanks skipped, stops at the letters
        {"42", "  42abc", false},
        {"0", "abc", false},          // no digits: 0
        {"-10", "-5", true},          // signed comparison
        {"1", "-5", false},
        {"130", "99999999999", true},  // out of range saturates, it does not wrap
        {"-99999999999", "1", true},
        {"99999999999", "130", false},
    };
    for (const Row& row : rows) {
        writeSourceInfo(info(row.source));
        writeTargetInfo(info(row.target));
        EXPECT_EQ(row.upgrade, decide()) << row.source.constData() << " -> " << row.target.constData();
    }
    EXPECT_TRUE(logHas("source version = 41, target version = 42"));
    EXPECT_TRUE(logHas("source version = 130, target version = 2147483647"));

    // Equal builds with another major version: still no upgrade.
    writeSourceInfo(info("130", "3"));
    writeTargetInfo(info("130", "4"));
    EXPECT_FALSE(decide());
}

TEST_F(ServiceDecision, MissingFilesAndExecutable)
{
    // Nothing installed, nothing shipped: the missing executable decides.
    EXPECT_TRUE(decide());

    makeClientExecutable();
    writeTargetInfo(info("5"));
    EXPECT_TRUE(decide());  // source INFO missing counts as build 0
    EXPECT_TRUE(logHas("source does not exist"));

    QFile::remove(path(kTargetInfo));
    writeSourceInfo(info("120"));
    EXPECT_FALSE(decide());  // target INFO missing counts as build 0

    // A missing executable forces an installation whatever the numbers say.
    writeTargetInfo(info("120"));
    writeSourceInfo(info("130"));
    QFile::remove(path(kClientExecutable));
    EXPECT_TRUE(decide());

    // A directory in place of the executable counts as present.
    makeDir(kClientExecutable);
    EXPECT_TRUE(MacService().PerUserBinPathExist());
    EXPECT_FALSE(decide());
}

TEST_F(ServiceDecision, UpgradeMarkForcesReinstallation)
{
    makeClientExecutable();
    writeSourceInfo(info("130"));
    writeTargetInfo(info("130"));
    MacService service;
    EXPECT_EQ(service.app_path + ".upgrading", service.UpgradeMarkPath());
    EXPECT_EQ(std::string((home() + "/.Lumora/Lumora.app.upgrading").toStdString()),
              service.UpgradeMarkPath().c_str());
    EXPECT_FALSE(decide());

    writeFile(".Lumora/Lumora.app.upgrading", "");
    EXPECT_TRUE(decide());
    EXPECT_TRUE(logHas("Lumora.app.upgrading' exists"));
}

TEST_F(ServiceDecision, LoadsVersionRecords)
{
    writeSourceInfo("[Version]\nmajor_version=3\nminor_version=2\nbuild_version=120\n"
                    "[Other]\nicon_overlay_version=9\n");
    writeTargetInfo(info("130"));
    MacService service;
    service.PreUpgrade();
    EXPECT_STREQ("3", service.source_version.major_version.c_str());
    EXPECT_STREQ("2", service.source_version.minor_version.c_str());
    EXPECT_STREQ("120", service.source_version.build_version.c_str());
    EXPECT_STREQ("", service.source_version.icon_overlay_version.c_str());  // other section
    EXPECT_STREQ("130", service.target_version.build_version.c_str());
    EXPECT_TRUE(logHas("source_version = (3, 2, 120, )"));
    EXPECT_TRUE(logHas("target_version = (3, 2, 130, 1)"));
    EXPECT_TRUE(logHas("Source version: ('120', '')"));
    EXPECT_TRUE(logHas("Target version: ('130', '1')"));

    // A second load without the file keeps what the first one read.
    QFile::remove(path(kSourceInfo));
    service.LoadSourceVerInfo();
    EXPECT_STREQ("120", service.source_version.build_version.c_str());
    QFile::remove(path(kTargetInfo));
    service.LoadTargetVerInfo();
    EXPECT_STREQ("130", service.target_version.build_version.c_str());
}

TEST_F(ServiceDecision, BadInfoFilesGiveEmptyRecords)
{
    makeClientExecutable();
    const QByteArray bad[] = {
        "",                                                       // empty
        "build_version=130\nmajor_version=3\n",                   // keys outside the section
        QByteArray("\x00\xff\xfe[Version\x01\nbuild\x00=\x80\x81", 16),  // binary
        "[Version]\nbuild_version\n",                             // key without a value
    };
    for (const QByteArray& content : bad) {
        writeSourceInfo(content);
        writeTargetInfo(content);
        MacService service;
        service.PreUpgrade();
        EXPECT_STREQ("", service.target_version.build_version.c_str());
        EXPECT_STREQ("", service.target_version.major_version.c_str());
        EXPECT_FALSE(service.IsNeedUpgrade());  // 0 against 0
    }
    QFile::remove(path(kTargetInfo));
    MacService service;
    service.LoadTargetVersion();
    EXPECT_TRUE(logHas("target_version = (, , , )"));
}

}  // namespace
