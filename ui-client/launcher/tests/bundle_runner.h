// Runs a launcher bundle as a user would (temporary HOME, offscreen, with a
// deadline) and stops any client it started; writes archives such as its package.
#pragma once
#include <sys/types.h>

#include <QProcess>
#include <QTemporaryDir>

#include <functional>
#include <string>
#include <vector>

namespace bundle_runner {

bool Poll(const std::function<bool()>& condition, int timeoutMs = 30000);
QByteArray ReadFile(const QString& path);
bool WriteFile(const QString& path, const QByteArray& data);  // creates the folders
bool CopyTree(const QString& from, const QString& to);        // cp -a
bool Gone(pid_t pid);                                          // no such process

// kind: 'd' folder, 'f' file, 'l' symbolic link or 'h' hard link to data, 'c' device, 'p' fifo.
struct Entry {
    char kind;
    std::string name, data = {};
    mode_t perm = 0644;
};
enum Format { Zip, Tar, TarGz };
bool WriteArchive(const std::string& path, Format format, const std::vector<Entry>& entries);
// Records the digest of the bundle's current package in its INFO, as the
// build does, so that a test's own package is accepted.
bool RecordPackageDigest(const QString& bundle);

// A package of `filler` small files first, so that extracting it takes a
// while, then the client bundle at `client`. Returns the name of the last
// entry, empty on failure.
QString FillerName(int i);    // "Resources/filler/<i / 500>/<i>"
std::string FillerData(int i);
QString WritePackage(const QString& path, int filler, const QString& client);

struct Result {
    int exitCode = -1;  // also when the launcher crashed or missed the deadline
    QString out, err;
};

class Home {
    QTemporaryDir dir_;  // first: root and path derive from it

public:
    explicit Home(const QString& homeName = "home");
    ~Home() { StopEverythingStartedHere(); }
    const QString root, path;  // canonical scratch folder, and HOME below it
    QString Lumora() const { return path + "/.Lumora"; }
    QString App() const { return Lumora() + "/Lumora.app"; }
    QString Log() const { return ReadFile(Lumora() + "/log/launcher.log"); }

    // extra: "NAME=value" sets a variable, a bare "NAME" removes it.
    QProcessEnvironment Env(const QStringList& extra = {}) const;
    void Start(QProcess& launcher, const QString& bundle, const QStringList& extra = {}) const;
    Result Run(const QString& bundle, const QStringList& extra = {}) const;
    // Runs `program` with `arguments` in this home's environment (the
    // launcher through a link, a shell, ...).
    Result RunProgram(const QString& program, const QStringList& arguments, const QStringList& extra = {}) const;
    // Starts the installed client by hand, as a user would have before the
    // launcher runs, and waits until it has written its pid file: its pid,
    // 0 when it did not start.
    pid_t StartInstalledClient() const;
    pid_t ClientPid() const;                     // from .Lumora/ui.pid, 0 when none
    pid_t WaitForClient(pid_t other = 0) const;  // a live client other than `other`, or 0
    void StopClient() const;
    // The client, and any other process whose executable lies below root.
    void StopEverythingStartedHere() const;
};

}  // namespace bundle_runner
