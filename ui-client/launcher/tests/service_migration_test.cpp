// Migration of the earlier generation's folder and removal of its "app" folder.
#include "mac/mac-service.h"
#include "service_fixture.h"

using ServiceMigration = ServiceHome;

TEST_F(ServiceMigration, MovesDataOrLosesNothing)
{
    const struct { QStringList files, present, absent; bool fails; } cases[] = {
        {{".Tidewell/data/db", ".Tidewell/data/sub/cache", ".Tidewell/ui.pid"},
         {".Lumora/data/db", ".Lumora/data/sub/cache"}, {".Tidewell"}, false},
        {{".Tidewell/app/old"}, {".Lumora"}, {".Tidewell", ".Lumora/data"}, false},  // no data
        // Current data present, or a file in the way: both folders stay for a later attempt.
        {{".Tidewell/data/old", ".Lumora/data/new"}, {".Tidewell/data/old", ".Lumora/data/new"},
         {".Lumora/data/old"}, true},
        {{".Tidewell/data/old", ".Lumora"}, {".Tidewell/data/old"}, {}, true},
    };
    for (const auto& c : cases) {
        for (const char* folder : {".Tidewell", ".Lumora"}) {
            QDir(path(folder)).removeRecursively();
            QFile::remove(path(folder));
        }
        for (const QString& file : c.files)
            writeFile(file, "x");
        const int logStart = log().size();
        MacService().MigrateService();
        const QString added = log().mid(logStart);
        for (const QString& file : c.present)
            EXPECT_TRUE(exists(file)) << qPrintable(file);
        for (const QString& file : c.absent)
            EXPECT_FALSE(exists(file)) << qPrintable(file);
        EXPECT_EQ(c.fails, added.contains("Failed to move data to Lumora folder")) << qPrintable(added);
        EXPECT_EQ(c.fails, added.contains("ERROR")) << qPrintable(added);
    }
}

TEST_F(ServiceMigration, RemovesAgedAppFolderOnly)
{
    MacService service;
    service.RemoveAgedFolders();  // nothing there
    EXPECT_TRUE(logHas(QString("removing aged app folder %1/.Tidewell/app").arg(home())));
    writeFile(".Tidewell/app/Contents/bin", "x");
    writeFile(".Tidewell/data/keep", "x");
    service.RemoveAgedFolders();
    EXPECT_FALSE(exists(".Tidewell/app"));
    EXPECT_TRUE(exists(".Tidewell/data/keep"));
}
