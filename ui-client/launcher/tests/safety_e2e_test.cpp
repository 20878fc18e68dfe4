// The launcher never leaves a user worse off than it found them: a refused
// package changes nothing, an incomplete installation is never started, a
// damaged one is noticed and repaired. Run against copies of the bundle and
// temporary homes.
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDirIterator>
#include <QStandardPaths>
#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <memory>

#include "bundle_runner.h"

using namespace bundle_runner;

namespace {

const QString kBundle = LUMORA_LAUNCHER_BUNDLE;
const QString kClient = LUMORA_CLIENT_BUNDLE;

QByteArray Info(int build) { return "[Version]\nbuild_version=" + QByteArray::number(build) + "\n"; }

void Install(const Home& home, int build)
{
    ASSERT_TRUE(CopyTree(kClient, home.App()));
    ASSERT_TRUE(WriteFile(home.App() + "/Contents/Resources/INFO", Info(build)));
}

// Every path below `folder` with its contents (links by their target).
QStringList Listing(const QString& folder)
{
    QStringList rows;
    for (QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot | QDir::System,
                         QDirIterator::Subdirectories);
         it.hasNext();) {
        const QString path = it.next();
        const QFileInfo info = it.fileInfo();
        QString row = QDir(folder).relativeFilePath(path);
        if (info.isSymLink())
            row += " -> " + info.symLinkTarget();
        else if (info.isFile())
            row += " " + QString::fromLatin1(ReadFile(path).toHex().left(64)) + " " + QString::number(info.size());
        rows << row;
    }
    rows.sort();
    return rows;
}

// A copy of the launcher bundle below `scratch`.
QString BundleCopy(const Home& scratch)
{
    const QString bundle = scratch.root + "/Lumora Launcher.app";
    EXPECT_TRUE(CopyTree(kBundle, bundle));
    return bundle;
}

QString PackageOf(const QString& bundle) { return bundle + "/Contents/Resources/package/tidewell.vxa"; }

// The bundle's package shortened by one byte; the digest the build recorded
// no longer matches.
void CutPackage(const QString& bundle)
{
    const QString package = PackageOf(bundle);
    ASSERT_TRUE(QFile::resize(package, QFileInfo(package).size() - 1));
}

// A package that cannot be installed takes nothing apart: not the earlier
// generation's folder with its data and client, not a running client.
TEST(Safety, ARefusedPackageStopsMigratesAndMovesNothing)
{
    Home scratch;
    const QString bundle = BundleCopy(scratch);
    CutPackage(bundle);

    Home earlier;
    ASSERT_TRUE(WriteFile(earlier.path + "/.Tidewell/data/settings.db", "user data"));
    ASSERT_TRUE(CopyTree(kClient, earlier.path + "/.Tidewell/Tidewell.app"));
    const QStringList before = Listing(earlier.path + "/.Tidewell");
    const Result run = earlier.Run(bundle);
    EXPECT_EQ(run.exitCode, 1) << "no client could be started: " << run.err.toStdString();
    EXPECT_TRUE(run.err.contains("launcher.log")) << run.err.toStdString();
    EXPECT_EQ(Listing(earlier.path + "/.Tidewell"), before) << "the earlier generation is left as it was";
    EXPECT_FALSE(QFileInfo::exists(earlier.Lumora() + "/data"));
    EXPECT_TRUE(earlier.Log().contains("is damaged: sha256")) << earlier.Log().toStdString();

    Home current;
    Install(current, 120);
    const pid_t oldPid = current.StartInstalledClient();
    ASSERT_GT(oldPid, 0);
    const QStringList installed = Listing(current.App());
    const Result kept = current.Run(bundle);
    EXPECT_EQ(kept.exitCode, 0) << kept.err.toStdString();
    EXPECT_FALSE(Gone(static_cast<pid_t>(oldPid))) << "the running client is not stopped for a refused package";
    EXPECT_EQ(Listing(current.App()), installed);
}

// Under a platform that shows no windows the failure message goes to
// standard error and the launcher ends at once; a per-user folder that is
// not a folder is named, and nothing is created.
TEST(Safety, NoClientToStartEndsAtOnceAndSaysWhy)
{
    Home scratch;
    const QString bundle = BundleCopy(scratch);
    ASSERT_TRUE(WriteFile(PackageOf(bundle), "not a package"));
    ASSERT_TRUE(RecordPackageDigest(bundle));
    for (const char* platform : {"offscreen", "minimal"}) {
        Home home;
        const Result run = home.Run(bundle, {QString("QT_QPA_PLATFORM=") + platform});
        EXPECT_EQ(run.exitCode, 1) << platform << run.err.toStdString();
        EXPECT_TRUE(run.err.contains("encountered an error")) << run.err.toStdString();
        EXPECT_TRUE(home.Log().contains("Unrecognized archive format")) << home.Log().toStdString();
        // The lock was given up: another start runs (and fails the same way).
        EXPECT_EQ(home.Run(bundle, {QString("QT_QPA_PLATFORM=") + platform}).exitCode, 1);
    }

    Home file, dangling;
    ASSERT_TRUE(WriteFile(file.Lumora(), "a file"));
    ASSERT_TRUE(QFile::link(dangling.root + "/nowhere", dangling.Lumora()));
    for (const Home* home : {&file, &dangling}) {
        const Result run = home->Run(kBundle);
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_TRUE(run.err.contains("'~/.Lumora' is not a folder")) << run.err.toStdString();
        EXPECT_FALSE(QFileInfo::exists(home->root + "/nowhere"));
    }
    EXPECT_EQ(ReadFile(file.Lumora()), "a file");
}

// A mark that cannot be written stops the upgrade before anything is moved:
// the installed client is kept and started.
TEST(Safety, NoMarkNoMove)
{
    Home home;
    Install(home, 120);
    ASSERT_TRUE(QDir().mkpath(home.App() + ".upgrading.part/occupied"));
    const QStringList before = Listing(home.App());
    const Result run = home.Run(kBundle);
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_EQ(Listing(home.App()), before);
    EXPECT_TRUE(home.Log().contains("cannot mark the installation in progress")) << home.Log().toStdString();
    EXPECT_FALSE(QFileInfo::exists(home.App() + "_tmp"));
    EXPECT_GT(home.WaitForClient(), 0);
}

// A first installation that runs out of space is never started; the next run
// with space installs cleanly. Needs a small file system of its own.
TEST(Safety, AFailedFirstInstallationIsNotStarted)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "mounting a small file system needs root";
    Home scratch;
    const QString bundle = BundleCopy(scratch);
    std::vector<Entry> entries;
    std::string noise(5 << 20, '\0');
    unsigned state = 12345;
    for (char& c : noise)
        c = static_cast<char>((state = state * 1103515245u + 12345u) >> 16);
    for (QDirIterator it(kClient, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
         it.hasNext();) {
        const QString name = QDir(kClient).relativeFilePath(it.next());
        entries.push_back({it.fileInfo().isDir() ? 'd' : 'f', name.toStdString(), ReadFile(it.filePath()).toStdString(), 0755});
    }
    entries.push_back({'f', "Contents/Resources/large", noise});
    ASSERT_TRUE(WriteArchive(QFile::encodeName(PackageOf(bundle)).toStdString(), Zip, entries));
    ASSERT_TRUE(RecordPackageDigest(bundle));

    Home home;
    ASSERT_TRUE(QDir().mkpath(home.Lumora()));
    const QByteArray target = QFile::encodeName(home.Lumora());
    if (mount("tmpfs", target.constData(), "tmpfs", 0, "size=2m") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here";
    const Result full = home.Run(bundle);
    EXPECT_EQ(full.exitCode, 1) << full.err.toStdString();
    EXPECT_EQ(home.ClientPid(), 0) << "the partial client was not started";
    const QString log = home.Log();
    EXPECT_TRUE(log.contains("is incomplete")) << log.toStdString();
    home.StopEverythingStartedHere();
    ASSERT_EQ(umount2(target.constData(), MNT_DETACH), 0);
    ASSERT_TRUE(QDir().mkpath(home.Lumora()));
    const Result roomy = home.Run(bundle);
    EXPECT_EQ(roomy.exitCode, 0) << roomy.err.toStdString();
    EXPECT_EQ(ReadFile(home.App() + "/Contents/Resources/large").size(), static_cast<int>(noise.size()));
    EXPECT_GT(home.WaitForClient(), 0);
}

// Some bundles ship read-only folders (mode 0555). An ordinary user's
// upgrade must still remove the old copy's backup afterwards: otherwise every
// upgrade leaves one more, until no slot is free and upgrades stop.
TEST(Safety, ReadOnlyFoldersDoNotKeepBackupsAround)
{
    const QString setpriv = QStandardPaths::findExecutable("setpriv");
    if (geteuid() != 0 || setpriv.isEmpty())
        GTEST_SKIP() << "running the launcher as an ordinary user needs root and setpriv";
    const QString user = "65534";
    Home scratch;
    const QString bundle = BundleCopy(scratch);
    std::vector<Entry> entries;
    for (QDirIterator it(kClient, QDir::AllEntries | QDir::NoDotAndDotDot, QDirIterator::Subdirectories); it.hasNext();) {
        const QString name = QDir(kClient).relativeFilePath(it.next());
        if (it.fileInfo().isDir())
            entries.push_back({'d', name.toStdString(), "", 0555});
        else
            entries.push_back({'f', name.toStdString(), ReadFile(it.filePath()).toStdString(), 0755});
    }
    ASSERT_TRUE(WriteArchive(QFile::encodeName(PackageOf(bundle)).toStdString(), Zip, entries));
    ASSERT_TRUE(RecordPackageDigest(bundle));

    Home home;
    Install(home, 120);
    for (const QString& folder : {home.App(), home.App() + "/Contents", home.App() + "/Contents/MacOS"})
        ASSERT_TRUE(QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner |
                                                      QFileDevice::ReadOther | QFileDevice::ExeOther));
    for (const QString& folder : {scratch.root, home.root})
        ASSERT_EQ(chmod(QFile::encodeName(folder).constData(), 0755), 0);
    ASSERT_EQ(QProcess::execute("chown", {"-R", user + ":" + user, home.path}), 0);
    const Result run = home.RunProgram(setpriv, {"--reuid=" + user, "--regid=" + user, "--clear-groups",
                                                 bundle + "/Contents/MacOS/lumora-launcher"});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_TRUE(QFileInfo(home.App() + "/Contents/MacOS/lumora-ui").isExecutable());
    EXPECT_TRUE(home.Log().contains("removing backup '" + home.App() + "_tmp'")) << home.Log().toStdString();
    EXPECT_TRUE(Poll([&] { return !QFileInfo::exists(home.App() + "_tmp"); })) << home.Log().toStdString();
    EXPECT_FALSE(home.Log().contains("failed to remove backup")) << home.Log().toStdString();
    EXPECT_EQ(QFileInfo(home.App() + "/Contents").permissions() & QFileDevice::WriteOwner, 0)
        << "the new installation keeps the package's modes";
}

// What the plain run notices in an installation whose build is current.
struct Damage {
    const char* name;
    std::function<void(const QString& app)> apply;
    const char* logged;
};

TEST(Repair, APlainRunReinstallsAMissingOrWrongSizedFile)
{
    const QString file = "/Contents/Info.plist";
    const std::vector<Damage> damages = {
        {"deleted", [&](const QString& app) { QFile::remove(app + file); }, "missing"},
        {"truncated", [&](const QString& app) { QFile::resize(app + file, 3); }, "has size 3, expected"},
        {"replaced by a folder",
         [&](const QString& app) { QFile::remove(app + file), QDir().mkpath(app + file + "/inside"); }, "folder"},
        {"a dangling link", [&](const QString& app) { QFile::remove(app + file), QFile::link(app + "/gone", app + file); },
         "link"},
    };
    for (const Damage& damage : damages) {
        Home home;
        ASSERT_EQ(home.Run(kBundle).exitCode, 0);
        const QStringList intact = Listing(home.App());
        home.StopClient();
        damage.apply(home.App());
        const Result run = home.Run(kBundle);
        EXPECT_EQ(run.exitCode, 0) << damage.name << run.err.toStdString();
        EXPECT_EQ(Listing(home.App()), intact) << damage.name;
        const QString log = home.Log();
        EXPECT_TRUE(log.contains("installation damaged: '" + home.App() + file + "' ")) << log.toStdString();
        EXPECT_TRUE(log.contains(damage.logged)) << damage.name << log.toStdString();
        EXPECT_GT(home.WaitForClient(), 0);
    }
}

// A same-size change passes the start's check by design; --repair compares
// contents, puts the package's back and keeps files the package does not
// hold.
TEST(Repair, RepairComparesContentsAndKeepsExtraFiles)
{
    Home home;
    ASSERT_EQ(home.Run(kBundle).exitCode, 0);
    const QStringList intact = Listing(home.App());
    const QString info = home.App() + "/Contents/Resources/INFO";
    QByteArray same = ReadFile(info);
    ASSERT_TRUE(same.contains("major_version=3"));
    same.replace("major_version=3", "major_version=4");
    ASSERT_TRUE(WriteFile(info, same));
    ASSERT_TRUE(WriteFile(home.App() + "/Contents/Resources/user-notes", "mine"));
    home.StopClient();

    ASSERT_EQ(home.Run(kBundle).exitCode, 0);
    EXPECT_EQ(ReadFile(info), same) << "a plain run does not read contents";

    const Result repair = home.RunProgram(kBundle + "/Contents/MacOS/lumora-launcher", {"--repair"});
    EXPECT_EQ(repair.exitCode, 0) << repair.err.toStdString();
    EXPECT_TRUE(repair.out.contains("repaired 1 files")) << repair.out.toStdString();
    EXPECT_NE(ReadFile(info), same);
    EXPECT_EQ(ReadFile(home.App() + "/Contents/Resources/user-notes"), "mine");
    QStringList repaired = Listing(home.App());
    repaired.removeAll("Contents/Resources/user-notes " + QString::fromLatin1(QByteArray("mine").toHex()) + " 4");
    EXPECT_EQ(repaired, intact);
    const QString log = home.Log();
    EXPECT_TRUE(log.contains("installation damaged: '" + info + "' contents differ")) << log.toStdString();
    EXPECT_TRUE(log.contains("user-notes' is not in the package, kept")) << log.toStdString();
    EXPECT_GT(home.WaitForClient(), 0);
    home.StopClient();

    const Result again = home.RunProgram(kBundle + "/Contents/MacOS/lumora-launcher", {"--repair"});
    EXPECT_EQ(again.exitCode, 0);
    EXPECT_TRUE(again.out.contains("installation is intact")) << again.out.toStdString();
}

// --repair with a package that cannot be installed moves nothing and says why.
TEST(Repair, ADamagedPackageRepairsNothing)
{
    Home scratch;
    const QString bundle = BundleCopy(scratch);
    Home home;
    ASSERT_EQ(home.Run(bundle).exitCode, 0);
    home.StopClient();
    const QString info = home.App() + "/Contents/Resources/INFO";
    ASSERT_TRUE(WriteFile(info, ReadFile(info).replace("major_version=3", "major_version=4")));
    const QStringList before = Listing(home.App());
    CutPackage(bundle);
    const Result repair = home.RunProgram(bundle + "/Contents/MacOS/lumora-launcher", {"--repair"});
    EXPECT_EQ(repair.exitCode, 1);
    EXPECT_TRUE(repair.err.contains("repair failed")) << repair.err.toStdString();
    EXPECT_EQ(Listing(home.App()), before);
}

}  // namespace
