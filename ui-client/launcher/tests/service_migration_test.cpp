// Migration of the earlier generation's folder and removal of its "app" folder.
#include "mac/mac-service.h"
#include "service_fixture.h"

namespace {

using ServiceMigration = ServiceHome;

TEST_F(ServiceMigration, MovesDataAndRemovesEarlierFolder)
{
    writeFile(".Tidewell/data/settings.db", "kept");
    writeFile(".Tidewell/data/sub/cache", "cache");
    writeFile(".Tidewell/ui.pid", "pid=1\n");
    MacService().MigrateService();
    EXPECT_FALSE(exists(".Tidewell"));
    EXPECT_TRUE(exists(".Lumora/data/settings.db"));
    EXPECT_TRUE(exists(".Lumora/data/sub/cache"));
    EXPECT_FALSE(logHas("ERROR"));
}

TEST_F(ServiceMigration, EarlierFolderWithoutData)
{
    writeFile(".Tidewell/app/old", "x");
    MacService().MigrateService();
    EXPECT_FALSE(exists(".Tidewell"));
    EXPECT_TRUE(exists(".Lumora"));
    EXPECT_FALSE(exists(".Lumora/data"));
}

TEST_F(ServiceMigration, ExistingDataIsNotMerged)
{
    writeFile(".Tidewell/data/old", "old");
    writeFile(".Lumora/data/new", "new");
    MacService().MigrateService();
    EXPECT_TRUE(logHas("Failed to move data to Lumora folder"));
    // Nothing lost: both data folders remain, the earlier one for a later attempt.
    EXPECT_TRUE(exists(".Tidewell/data/old"));
    EXPECT_TRUE(exists(".Lumora/data/new"));
    EXPECT_FALSE(exists(".Lumora/data/old"));
}

TEST_F(ServiceMigration, FileInPlaceOfCurrentFolderLosesNothing)
{
    writeFile(".Tidewell/data/old", "old");
    writeFile(".Lumora", "a file in the way");
    MacService().MigrateService();
    EXPECT_TRUE(logHas("Failed to move data to Lumora folder"));
    EXPECT_TRUE(exists(".Tidewell/data/old"));
}

TEST_F(ServiceMigration, RemovesAgedAppFolderOnly)
{
    MacService service;
    service.RemoveAgedFolders();  // nothing there
    EXPECT_TRUE(logHas(QString("removing aged app folder %1/.Tidewell/app").arg(home())));
    EXPECT_FALSE(exists(".Tidewell"));

    writeFile(".Tidewell/app/Contents/bin", "x");
    writeFile(".Tidewell/data/keep", "x");
    service.RemoveAgedFolders();
    EXPECT_FALSE(exists(".Tidewell/app"));
    EXPECT_TRUE(exists(".Tidewell/data/keep"));
}

}  // namespace
