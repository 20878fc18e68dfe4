#include "bundle_runner.h"

#include <archive.h>
#include <archive_entry.h>
#include <sys/sysmacros.h>

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QThread>
#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

#include "child_sanitizer.h"

namespace bundle_runner {

bool Poll(const std::function<bool()>& condition, int timeoutMs)
{
    QElapsedTimer timer;
    for (timer.start(); !condition(); QThread::msleep(10))
        if (timer.elapsed() > timeoutMs)
            return false;
    return true;
}

QByteArray ReadFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool WriteFile(const QString& path, const QByteArray& data)
{
    QFile file(path);
    return QDir().mkpath(QFileInfo(path).path()) && file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

bool CopyTree(const QString& from, const QString& to)
{
    return QDir().mkpath(QFileInfo(to).path()) && QProcess::execute("cp", {"-a", from, to}) == 0;
}

bool RecordPackageDigest(const QString& bundle)
{
    const QString info = bundle + "/Contents/Resources/INFO";
    const QByteArray package = ReadFile(bundle + "/Contents/Resources/package/tidewell.vxa");
    QByteArray text = ReadFile(info);
    const int at = text.indexOf("package_sha256=");
    if (package.isEmpty() || at < 0)
        return false;
    text = text.left(at) + "package_sha256=" +
           QCryptographicHash::hash(package, QCryptographicHash::Sha256).toHex() + "\n";
    return WriteFile(info, text);
}

QString FillerName(int i) { return QString("Resources/filler/%1/%2").arg(i / 500).arg(i); }
std::string FillerData(int i) { return std::string(200, static_cast<char>('a' + i % 26)) + std::to_string(i); }

QString WritePackage(const QString& path, int filler, const QString& client)
{
    std::vector<Entry> entries;
    for (int i = 0; i < filler; ++i) {
        if (i % 500 == 0)
            entries.push_back({'d', ("Contents/" + QFileInfo(FillerName(i)).path()).toStdString(), "", 0755});
        entries.push_back({'f', ("Contents/" + FillerName(i)).toStdString(), FillerData(i)});
    }
    for (QDirIterator it(client, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
         it.hasNext();) {
        const QString name = QDir(client).relativeFilePath(it.next());
        entries.push_back({it.fileInfo().isDir() ? 'd' : 'f', name.toStdString(), ReadFile(it.filePath()).toStdString(), 0755});
    }
    const bool ok = WriteArchive(QFile::encodeName(path).toStdString(), Zip, entries);
    return ok ? QString::fromStdString(entries.back().name) : QString();
}

bool Gone(pid_t pid) { return ::kill(pid, 0) != 0 && errno == ESRCH; }

bool WriteArchive(const std::string& path, Format format, const std::vector<Entry>& entries)
{
    const char* const kinds = "dlcpfh";
    const mode_t types[] = {AE_IFDIR, AE_IFLNK, AE_IFCHR, AE_IFIFO, AE_IFREG, AE_IFREG};
    archive* w = archive_write_new();
    bool ok = (format == Zip ? archive_write_set_format_zip(w) : archive_write_set_format_pax_restricted(w)) == 0 &&
              (format != TarGz || archive_write_add_filter_gzip(w) == ARCHIVE_OK) &&
              archive_write_open_filename(w, path.c_str()) == ARCHIVE_OK;
    for (const Entry& in : entries) {
        const std::string data = in.kind == 'f' ? in.data : std::string();
        archive_entry* e = archive_entry_new();
        archive_entry_set_pathname(e, in.name.c_str());
        archive_entry_set_filetype(e, types[std::strchr(kinds, in.kind) - kinds]);
        archive_entry_set_perm(e, in.perm);
        archive_entry_set_size(e, static_cast<la_int64_t>(data.size()));
        archive_entry_set_mtime(e, 1700000000, 0);
        if (in.kind == 'l')
            archive_entry_set_symlink(e, in.data.c_str());
        if (in.kind == 'h')
            archive_entry_set_hardlink(e, in.data.c_str());
        if (in.kind == 'c')
            archive_entry_set_rdev(e, makedev(1, 3));
        ok = ok && archive_write_header(w, e) == ARCHIVE_OK &&
             (data.empty() || archive_write_data(w, data.data(), data.size()) == static_cast<la_ssize_t>(data.size()));
        archive_entry_free(e);
    }
    ok = archive_write_close(w) == ARCHIVE_OK && ok;
    archive_write_free(w);
    return ok;
}

Home::Home(const QString& homeName) : root(QDir(dir_.path()).canonicalPath()), path(root + '/' + homeName)
{
    EXPECT_TRUE(dir_.isValid() && QDir().mkpath(path)) << path.toStdString();
}

QProcessEnvironment Home::Env(const QStringList& extra) const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"})
        env.remove(name);
    env.insert("HOME", path);
    env.insert("QT_QPA_PLATFORM", "offscreen");
    wyxqt_test::SuppressOffscreenLeaks(env, root);
    for (const QString& assignment : extra) {
        if (assignment.contains('='))
            env.insert(assignment.section('=', 0, 0), assignment.section('=', 1));
        else
            env.remove(assignment);
    }
    return env;
}

void Home::Start(QProcess& launcher, const QString& bundle, const QStringList& extra) const
{
    launcher.setProcessEnvironment(Env(extra));
    launcher.setWorkingDirectory(path);
    launcher.start(bundle + "/Contents/MacOS/lumora-launcher", QStringList());
}

Result Home::Run(const QString& bundle, const QStringList& extra) const
{
    return RunProgram(bundle + "/Contents/MacOS/lumora-launcher", {}, extra);
}

Result Home::RunProgram(const QString& program, const QStringList& arguments, const QStringList& extra) const
{
    const int deadlineMs = 180000;
    QProcess launcher;
    launcher.setProcessEnvironment(Env(extra));
    launcher.setWorkingDirectory(path);
    launcher.start(program, arguments);
    const bool finished = launcher.waitForStarted(deadlineMs) && launcher.waitForFinished(deadlineMs);
    if (!finished)
        launcher.kill(), launcher.waitForFinished(deadlineMs);
    Result run{-1, launcher.readAllStandardOutput(), launcher.readAllStandardError()};
    if (finished && launcher.exitStatus() == QProcess::NormalExit)
        run.exitCode = launcher.exitCode();
    else
        run.err += "\n[launcher crashed or missed the deadline: " + launcher.errorString() + "]";
    return run;
}

pid_t Home::ClientPid() const
{
    for (const QByteArray& line : ReadFile(Lumora() + "/ui.pid").split('\n'))
        if (line.trimmed().startsWith("pid="))
            return static_cast<pid_t>(line.trimmed().mid(4).toLong());
    return 0;
}

pid_t Home::StartInstalledClient() const
{
    QProcess client;
    client.setProcessEnvironment(Env());
    client.setProgram(App() + "/Contents/MacOS/lumora-ui");
    qint64 pid = 0;
    if (!client.startDetached(&pid))
        return 0;
    return WaitForClient() == pid ? static_cast<pid_t>(pid) : 0;
}

pid_t Home::WaitForClient(pid_t other) const
{
    pid_t pid = 0;
    return Poll([&] { return (pid = ClientPid()) > 1 && pid != other && !Gone(pid); }) ? pid : 0;
}

void Home::StopClient() const
{
    const pid_t pid = ClientPid();
    if (pid > 1 && ::kill(pid, SIGTERM) == 0 && !Poll([&] { return Gone(pid); }))
        ::kill(pid, SIGKILL);
}

void Home::StopEverythingStartedHere() const
{
    StopClient();
    // A client that had not written its pid file yet, or one started from a
    // copy below this folder: whatever runs from here is ended.
    const QString prefix = root + '/';
    for (const QString& entry : QDir("/proc").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool number = false;
        const pid_t pid = static_cast<pid_t>(entry.toInt(&number));
        if (!number || pid == getpid())
            continue;
        const QString exe = QFileInfo("/proc/" + entry + "/exe").symLinkTarget();
        if (exe.startsWith(prefix))
            ::kill(pid, SIGKILL);
    }
}

}  // namespace bundle_runner
