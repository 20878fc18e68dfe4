// The launcher bundle run as a user would run it, against temporary homes.

#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

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

// The client bundle plus `filler` files of 64 KiB, as an uncompressed tar.
std::string PackageBytes(int filler)
{
    archive* w = archive_write_new();
    archive_write_set_format_pax_restricted(w);
    archive_write_add_filter_none(w);
    std::string out;
    archive_write_open(
        w, &out, nullptr,
        [](archive*, void* data, const void* buffer, size_t size) -> la_ssize_t {
            static_cast<std::string*>(data)->append(static_cast<const char*>(buffer), size);
            return static_cast<la_ssize_t>(size);
        },
        nullptr);
    auto add = [&](const std::string& name, const std::string& data, mode_t type, mode_t perm) {
        archive_entry* e = archive_entry_new();
        archive_entry_set_pathname(e, name.c_str());
        archive_entry_set_filetype(e, type);
        archive_entry_set_perm(e, perm);
        archive_entry_set_size(e, static_cast<la_int64_t>(data.size()));
        archive_write_header(w, e);
        archive_write_data(w, data.data(), data.size());
        archive_entry_free(e);
    };
    for (const auto& entry : fs::recursive_directory_iterator(kClient)) {
        const std::string name = entry.path().lexically_relative(kClient).string();
        if (entry.is_directory())
            add(name, "", AE_IFDIR, 0755);
        else
            add(name, Read(entry.path().string()), AE_IFREG, 0755);
    }
    for (int i = 0; i < filler; ++i)
        add("Contents/Resources/filler/" + std::to_string(i), std::string(65536, static_cast<char>('a' + i % 26)),
            AE_IFREG, 0644);
    archive_write_close(w);
    archive_write_free(w);
    return out;
}

// Opens the write end of a pipe once the launcher opens its read end.
int OpenWriter(const std::string& fifo)
{
    int fd = -1;
    Poll([&] {
        fd = open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        return fd >= 0;
    });
    if (fd >= 0)
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

// 0 when all was written, 1 when the reader went away first, -1 on error.
int WriteAll(int fd, const char* data, size_t size)
{
    while (size > 0) {
        ssize_t n = write(fd, data, size);
        if (n <= 0)
            return errno == EPIPE ? 1 : -1;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return 0;
}

}  // namespace

// Not yet reliable: in some runs the kill is not reached within the deadline.
// The package is fed through a pipe: the launcher gets all of it for
// counting and only half of it for extracting, so the kill lands while the
// extraction waits for the rest.
TEST(EndToEnd, DISABLED_LauncherKilledMidExtractionIsRepairedByTheNextRun)
{
    signal(SIGPIPE, SIG_IGN);
    QTemporaryDir copy_dir;
    const std::string bundle = QFile::encodeName(copy_dir.path()).toStdString() + "/Lumora Launcher.app";
    fs::copy(kBundle, bundle, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    const std::string package = bundle + "/Contents/Resources/package/tidewell.vxa";
    const std::string bytes = PackageBytes(64);
    fs::remove(package);
    ASSERT_EQ(mkfifo(package.c_str(), 0600), 0);

    Home home;
    home.Install(120);
    Write(home.App() + "/Contents/Resources/old-only", "old");
    QProcess launcher;
    home.Start(launcher, bundle);

    // Counting pass: it may stop reading at the end marker.
    int fd = OpenWriter(package);
    ASSERT_GE(fd, 0);
    ASSERT_GE(WriteAll(fd, bytes.data(), bytes.size()), 0);
    close(fd);
    // Extraction pass; a write end that met the counting pass's reader on
    // its way out is opened again.
    int written = 1;
    for (int attempt = 0; attempt < 10 && written == 1; ++attempt) {
        fd = OpenWriter(package);
        ASSERT_GE(fd, 0);
        written = WriteAll(fd, bytes.data(), bytes.size() / 2);
        if (written == 1)
            close(fd);
    }
    ASSERT_EQ(written, 0);
    const std::string first_filler = home.App() + "/Contents/Resources/filler/0";
    EXPECT_TRUE(Poll([&] { return fs::exists(first_filler) && fs::exists(home.App() + ".upgrading"); }))
        << Read(home.Lumora() + "/log/launcher.log");
    kill(static_cast<pid_t>(launcher.processId()), SIGKILL);
    launcher.waitForFinished(10000);
    close(fd);
    ASSERT_FALSE(fs::exists(home.App() + "/Contents/Resources/filler/63")) << "the kill came too late";
    ASSERT_TRUE(fs::exists(home.App() + ".upgrading"));

    fs::remove(package);
    Write(package, bytes);
    ASSERT_EQ(home.Run(bundle), 0);
    EXPECT_FALSE(fs::exists(home.App() + ".upgrading"));
    EXPECT_EQ(Read(home.App() + "/Contents/Resources/filler/63"), std::string(65536, 'a' + 63 % 26));
    EXPECT_EQ(home.InstalledInfo(), Read(kClient + "/Contents/Resources/INFO"));
    EXPECT_FALSE(fs::exists(home.App() + "/Contents/Resources/old-only"));
    for (const char* leftover : {"_tmp", "_tmp1"})
        EXPECT_FALSE(fs::exists(home.App() + leftover)) << leftover;
    EXPECT_GT(home.WaitForClient(), 0);
}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
