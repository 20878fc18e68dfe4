// The launcher bundle run as a user would run it, against temporary homes.

#include <archive.h>
#include <archive_entry.h>
#include <signal.h>
#include <sys/stat.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>

namespace fs = std::filesystem;

namespace {

const std::string kBundle = LUMORA_LAUNCHER_BUNDLE;
const std::string kClient = LUMORA_CLIENT_BUNDLE;

std::string Read(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void Write(const std::string& path, const std::string& text)
{
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

bool Poll(const std::function<bool()>& condition, int ms = 20000)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > ms)
            return false;
        QThread::msleep(10);
    }
    return true;
}

std::string Info(int build)
{
    return "[Version]\nmajor_version=3\nminor_version=2\nbuild_version=" + std::to_string(build) +
           "\nicon_overlay_version=1\n";
}

// One temporary home; whatever client runs from it is stopped at the end.
struct Home {
    Home() : path(QFile::encodeName(dir.path()).toStdString()) {}
    ~Home() { StopClient(); }

    std::string Lumora() const { return path + "/.Lumora"; }
    std::string App() const { return Lumora() + "/Lumora.app"; }
    std::string InstalledInfo() const { return Read(App() + "/Contents/Resources/INFO"); }

    QProcessEnvironment Env() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", QString::fromStdString(path));
        env.insert("QT_QPA_PLATFORM", "offscreen");
        return env;
    }
    void Start(QProcess& launcher, const std::string& bundle = kBundle) const
    {
        launcher.setProcessEnvironment(Env());
        launcher.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        launcher.start(QString::fromStdString(bundle + "/Contents/MacOS/lumora-launcher"), QStringList());
    }
    int Run(const std::string& bundle = kBundle) const
    {
        QProcess launcher;
        Start(launcher, bundle);
        if (!launcher.waitForFinished(120000))
            return -100;
        return launcher.exitStatus() == QProcess::NormalExit ? launcher.exitCode() : -200;
    }
    pid_t ClientPid() const
    {
        std::istringstream in(Read(Lumora() + "/ui.pid"));
        std::string line;
        while (std::getline(in, line))
            if (line.rfind("pid=", 0) == 0)
                return static_cast<pid_t>(std::atol(line.c_str() + 4));
        return 0;
    }
    pid_t WaitForClient(pid_t other = 0) const
    {
        pid_t pid = 0;
        Poll([&] {
            pid = ClientPid();
            return pid > 0 && pid != other && kill(pid, 0) == 0;
        });
        return pid;
    }
    void StopClient() const
    {
        const pid_t pid = ClientPid();
        if (pid <= 0 || kill(pid, SIGTERM) != 0)
            return;
        if (!Poll([&] { return kill(pid, 0) != 0; }, 10000))
            kill(pid, SIGKILL);
    }
    // An installation of the client at `build` from the built client bundle.
    void Install(int build) const
    {
        fs::create_directories(Lumora());
        fs::copy(kClient, App(), fs::copy_options::recursive | fs::copy_options::copy_symlinks);
        Write(App() + "/Contents/Resources/INFO", Info(build));
    }

    QTemporaryDir dir;
    std::string path;
};

bool Gone(pid_t pid)
{
    return Poll([&] { return kill(pid, 0) != 0 && errno == ESRCH; }, 5000);
}

}  // namespace

TEST(EndToEnd, FreshInstallThenNothingToDo)
{
    Home home;
    ASSERT_EQ(home.Run(), 0);
    EXPECT_EQ(home.InstalledInfo(), Read(kBundle + "/Contents/Resources/INFO"))
        << "the package and the launcher carry the same INFO";
    EXPECT_EQ(Read(home.App() + "/Contents/MacOS/lumora-ui"), Read(kClient + "/Contents/MacOS/lumora-ui"));
    EXPECT_FALSE(fs::exists(home.App() + ".upgrading"));
    const pid_t first = home.WaitForClient();
    ASSERT_GT(first, 0);
    home.StopClient();
    ASSERT_TRUE(Gone(first));

    struct stat before, after;
    ASSERT_EQ(stat((home.App() + "/Contents/MacOS/lumora-ui").c_str(), &before), 0);
    ASSERT_EQ(home.Run(), 0);
    ASSERT_EQ(stat((home.App() + "/Contents/MacOS/lumora-ui").c_str(), &after), 0);
    EXPECT_EQ(before.st_ino, after.st_ino) << "an up-to-date installation is left alone";
    EXPECT_GT(home.WaitForClient(first), 0);
}

TEST(EndToEnd, UpgradeStopsTheRunningOldClient)
{
    Home home;
    home.Install(120);
    QProcess old;
    old.setProcessEnvironment(home.Env());
    old.setProgram(QString::fromStdString(home.App() + "/Contents/MacOS/lumora-ui"));
    qint64 old_pid = 0;
    ASSERT_TRUE(old.startDetached(&old_pid));
    ASSERT_EQ(home.WaitForClient(), static_cast<pid_t>(old_pid));

    ASSERT_EQ(home.Run(), 0);
    EXPECT_TRUE(Gone(static_cast<pid_t>(old_pid)));
    EXPECT_EQ(home.InstalledInfo(), Read(kBundle + "/Contents/Resources/INFO"));
    EXPECT_GT(home.WaitForClient(static_cast<pid_t>(old_pid)), 0);
    for (const char* leftover : {"_tmp", ".upgrading"})
        EXPECT_FALSE(fs::exists(home.App() + leftover)) << leftover;
}

TEST(EndToEnd, NoDowngradeAndTheAgedFolderGoes)
{
    Home home;
    home.Install(9999);
    Write(home.App() + "/Contents/Resources/keep", "newer client's own file");
    Write(home.path + "/.Tidewell/app/old", "aged");
    ASSERT_EQ(home.Run(), 0);
    EXPECT_EQ(home.InstalledInfo(), Info(9999));
    EXPECT_TRUE(fs::exists(home.App() + "/Contents/Resources/keep"));
    EXPECT_FALSE(fs::exists(home.path + "/.Tidewell/app"));
    EXPECT_GT(home.WaitForClient(), 0);
}

TEST(EndToEnd, EarlierGenerationIsMigratedWithItsData)
{
    Home home;
    Write(home.path + "/.Tidewell/data/settings.db", "user data");
    Write(home.path + "/.Tidewell/app/old", "aged");
    ASSERT_EQ(home.Run(), 0);
    EXPECT_EQ(Read(home.Lumora() + "/data/settings.db"), "user data");
    EXPECT_FALSE(fs::exists(home.path + "/.Tidewell"));
    EXPECT_EQ(home.InstalledInfo(), Read(kBundle + "/Contents/Resources/INFO"));
    EXPECT_GT(home.WaitForClient(), 0);
}

namespace {

std::string FillerName(int i)
{
    return "Contents/Resources/filler/" + std::to_string(i / 500) + "/" + std::to_string(i);
}

std::string FillerData(int i)
{
    return std::string(200, static_cast<char>('a' + i % 26)) + std::to_string(i);
}

// A zip package: `filler` small files first, so that extracting them takes
// a while, then the client bundle. Returns the name of the last entry, or
// an empty string when the archive could not be written.
std::string WritePackage(const std::string& path, int filler)
{
    archive* w = archive_write_new();
    bool ok = archive_write_set_format_zip(w) == ARCHIVE_OK &&
              archive_write_set_options(w, "zip:compression=store") == ARCHIVE_OK &&
              archive_write_open_filename(w, path.c_str()) == ARCHIVE_OK;
    std::string last;
    auto add = [&](const std::string& name, const std::string& data, mode_t type, mode_t perm) {
        archive_entry* e = archive_entry_new();
        archive_entry_set_pathname(e, name.c_str());
        archive_entry_set_filetype(e, type);
        archive_entry_set_perm(e, perm);
        archive_entry_set_size(e, static_cast<la_int64_t>(data.size()));
        ok = ok && archive_write_header(w, e) == ARCHIVE_OK;
        ok = ok && (data.empty() ||
                    archive_write_data(w, data.data(), data.size()) == static_cast<la_ssize_t>(data.size()));
        archive_entry_free(e);
        last = name;
    };
    for (int i = 0; i < filler; ++i) {
        if (i % 500 == 0)
            add(fs::path(FillerName(i)).parent_path().string(), "", AE_IFDIR, 0755);
        add(FillerName(i), FillerData(i), AE_IFREG, 0644);
    }
    for (const auto& entry : fs::recursive_directory_iterator(kClient)) {
        const std::string name = entry.path().lexically_relative(kClient).string();
        if (entry.is_directory())
            add(name, "", AE_IFDIR, 0755);
        else
            add(name, Read(entry.path().string()), AE_IFREG, 0755);
    }
    ok = archive_write_close(w) == ARCHIVE_OK && ok;
    archive_write_free(w);
    return ok ? last : std::string();
}

enum class Kill { Landed, TooLate, NoExtraction };

// Runs the launcher of `bundle` on `home` and kills it once the upgrade mark
// and the first extracted entry are on disk. TooLate when the launcher had
// already written the last entry or finished by itself.
Kill KillMidExtraction(const Home& home, const std::string& bundle, const std::string& last_entry)
{
    QProcess launcher;
    home.Start(launcher, bundle);
    if (!launcher.waitForStarted(60000))
        return Kill::NoExtraction;
    const std::string first = home.App() + "/" + FillerName(0);
    bool ended = false;
    // waitForFinished(1) is the pause between two looks, and notices a
    // launcher that finished before the extraction was seen.
    const bool begun = Poll(
        [&] {
            ended = ended || launcher.waitForFinished(1);
            return ended || (fs::exists(home.App() + ".upgrading") && fs::exists(first));
        },
        60000);
    if (!ended)
        kill(static_cast<pid_t>(launcher.processId()), SIGKILL);
    if (!launcher.waitForFinished(60000))
        return Kill::NoExtraction;
    if (ended || fs::exists(home.App() + "/" + last_entry))
        return Kill::TooLate;
    return begun ? Kill::Landed : Kill::NoExtraction;
}

}  // namespace

// A launcher killed while it extracts leaves a partial bundle and its
// upgrade mark; the next run must reinstall in full and tidy the backups. An
// extraction too quick for the kill is tried again with a larger package.
TEST(EndToEnd, LauncherKilledMidExtractionIsRepairedByTheNextRun)
{
    QTemporaryDir copy_dir;
    ASSERT_TRUE(copy_dir.isValid());
    const std::string bundle = QFile::encodeName(copy_dir.path()).toStdString() + "/Lumora Launcher.app";
    fs::copy(kBundle, bundle, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    const std::string package = bundle + "/Contents/Resources/package/tidewell.vxa";

    int filler = 0;
    std::string last_entry;
    std::unique_ptr<Home> home;
    Kill kill_result = Kill::TooLate;
    for (int attempt = 0; attempt < 4 && kill_result == Kill::TooLate; ++attempt) {
        filler = attempt == 0 ? 3000 : filler * 4;
        ASSERT_TRUE(fs::remove(package));
        last_entry = WritePackage(package, filler);
        ASSERT_FALSE(last_entry.empty());
        home = std::make_unique<Home>();
        home->Install(120);
        Write(home->App() + "/Contents/Resources/old-only", "old");
        kill_result = KillMidExtraction(*home, bundle, last_entry);
        if (kill_result == Kill::TooLate)
            std::cerr << "extraction of " << filler << " small files ended before the kill; trying a larger package\n";
    }
    ASSERT_EQ(kill_result, Kill::Landed) << "launcher log:\n" << Read(home->Lumora() + "/log/launcher.log");
    ASSERT_TRUE(fs::exists(home->App() + ".upgrading"));
    ASSERT_TRUE(fs::exists(home->App() + "_tmp")) << "the old installation was moved aside";

    ASSERT_EQ(home->Run(bundle), 0);
    EXPECT_FALSE(fs::exists(home->App() + ".upgrading"));
    const int last_filler = filler - 1;
    EXPECT_EQ(Read(home->App() + "/" + FillerName(0)), FillerData(0));
    EXPECT_EQ(Read(home->App() + "/" + FillerName(last_filler)), FillerData(last_filler));
    EXPECT_TRUE(fs::exists(home->App() + "/" + last_entry)) << last_entry;
    EXPECT_EQ(Read(home->App() + "/Contents/MacOS/lumora-ui"), Read(kClient + "/Contents/MacOS/lumora-ui"));
    EXPECT_EQ(home->InstalledInfo(), Read(kClient + "/Contents/Resources/INFO"));
    EXPECT_FALSE(fs::exists(home->App() + "/Contents/Resources/old-only"));
    for (const char* leftover : {"_tmp", "_tmp1"})
        EXPECT_FALSE(fs::exists(home->App() + leftover)) << leftover;
    EXPECT_GT(home->WaitForClient(), 0);
}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
