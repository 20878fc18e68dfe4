#include "mac/mac-service.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "config.h"
#include "file-op.h"
#include "log.h"
#include "platform/app-opener.h"
#include "platform/app-registry.h"
#include "platform/process-control.h"
#include "uipathmanager.h"

namespace {

const char kComponent[] = "service_debug";

// Waiting for a terminated client: probes one second apart, then SIGKILL.
const int kStopProbes = 15;
const unsigned int kProbeIntervalSeconds = 1;

// A process-id file is a line or two; anything larger is not one.
const qint64 kMaxPidFileSize = 64 * 1024;

QString RegisteredPath(const char* key)
{
    return UIPathManager::getInstance()->getPath(QString::fromLatin1(key));
}

// Decimal text as atoi reads it (leading blanks, sign, digits up to the
// first other character; no digits gives 0), saturated to the int range
// instead of overflowing.
int BuildNumber(const ustring& text)
{
    if (text.empty())
        return 0;
    errno = 0;
    const long long value = std::strtoll(text.c_str(), nullptr, 10);
    if (value > INT_MAX)
        return INT_MAX;
    if (value < INT_MIN)
        return INT_MIN;
    return static_cast<int>(value);
}

// The "pid" value as atol reads it, when it names one process: positive and
// within the range of pid_t. 0 otherwise (missing, empty, zero, negative or
// out of range), since kill() with 0 or -1 would reach whole process groups.
pid_t ProcessId(const std::string& text)
{
    errno = 0;
    const long long value = std::strtoll(text.c_str(), nullptr, 10);
    if (errno == ERANGE || value <= 0 || value > INT_MAX)
        return 0;
    return static_cast<pid_t>(value);
}

// Whether a pid file is worth reading: a regular file of a sane size. A FIFO
// or a link to a device would block or never end.
bool IsPlausiblePidFile(const QString& path)
{
    const QFileInfo info(path);
    return info.isFile() && info.size() <= kMaxPidFileSize;
}

// Whether `pid` runs an executable that lies inside `folder`: a stale pid
// file may name an unrelated process, which must not be signalled.
bool RunsFromFolder(ProcessControl* processes, pid_t pid, const QString& folder)
{
    const QString realFolder = QFileInfo(folder).canonicalFilePath();
    const QString executable = processes->ExecutablePath(pid);
    return !realFolder.isEmpty() && !executable.isEmpty() &&
           executable.startsWith(realFolder + QLatin1Char('/'));
}

}  // namespace

MacService::MacService()
{
    timeout = 10000;
    app_path = ustring(RegisteredPath("user_lumora_app_path").toUtf8().toStdString());
}

MacService::~MacService() = default;

MacService* MacService::GetInstace()
{
    static MacService instance;
    return &instance;
}

void MacService::LoadSourceVerInfo()
{
    LoadSourceVersion();
}

void MacService::LoadTargetVerInfo()
{
    LoadTargetVersion();
}

void MacService::PreUpgrade()
{
    LoadTargetVersion();
    LoadSourceVersion();
    LOG_DEBUG(kComponent, "Source version: ('%s', '%s')\n", source_version.build_version.c_str(),
              source_version.icon_overlay_version.c_str());
    LOG_DEBUG(kComponent, "Target version: ('%s', '%s')\n", target_version.build_version.c_str(),
              target_version.icon_overlay_version.c_str());
}

bool MacService::IsNeedUpgrade()
{
    const int source = BuildNumber(source_version.build_version);
    const int target = BuildNumber(target_version.build_version);
    LOG_DEBUG(kComponent, "source version = %d, target version = %d\n", source, target);
    const bool executableExists = PerUserBinPathExist();

    // An interrupted installation leaves its mark: the bundle is incomplete
    // whatever its INFO file says.
    const ustring mark = UpgradeMarkPath();
    const bool interrupted = IsFileExist(mark, false);
    if (interrupted)
        LOG_DEBUG(kComponent, "upgrade mark '%s' exists, the last installation is incomplete\n",
                  mark.c_str());
    if (target > source || !executableExists || interrupted)
        return true;
    if (target < source)
        LOG_INFO(kComponent, "installed build %d is newer than the shipped build %d, not downgraded\n", source,
                 target);
    // The build is current: the files must still be there as installed.
    return repair ? RepairNeeded() : InstallationDamaged();
}

int MacService::HandlePackageUpgrade()
{
    // Nothing is stopped, migrated or moved for a package that will be
    // refused: PrepareUserEnv then only settles an earlier run's mark.
    if (!VerifyPackage())
        return PrepareUserEnv();
    if (PerUserBinPathExist()) {
        LOG_DEBUG(kComponent, "local appdata exist\n");
        StopService();
    } else {
        const QString earlier = QDir::toNativeSeparators(RegisteredPath("user_tidewell_path"));
        if (IsFileExist(ustring(earlier.toUtf8().toStdString()), true))
            MigrateIfStopped(earlier);
    }
    return PrepareUserEnv();
}

// The earlier generation's data moves only once nothing runs from its
// folder any more; otherwise a later run tries again.
void MacService::MigrateIfStopped(const QString& earlier)
{
    migration_tried = true;
    if (!StopClientByPath(earlier)) {
        LOG_WARNING(kComponent, "the client in '%s' is still running, its data is migrated on a later run\n",
                    earlier.toUtf8().constData());
        return;
    }
    MigrateService();
}

void MacService::PostUpgrade()
{
    // A migration that failed or was put off on an earlier run: the earlier
    // data is still there and nothing has taken its place. Only a complete
    // current installation takes it over; without one (a refused package,
    // a failed first installation) the earlier generation stays as it is.
    const ustring mark = UpgradeMarkPath();
    const bool incomplete = IsFileExist(mark, false);
    if (!migration_tried && !incomplete && PerUserBinPathExist()) {
        const QString earlier = QDir::toNativeSeparators(RegisteredPath("user_tidewell_path"));
        const QString current = QDir::toNativeSeparators(RegisteredPath("user_lumora_path"));
        if (IsFileExist(ustring((earlier + QStringLiteral("/data")).toUtf8().toStdString()), true) &&
            !IsFileExist(ustring((current + QStringLiteral("/data")).toUtf8().toStdString()), true)) {
            LOG_NOTE(kComponent, "data of '%s' not migrated yet, migrating\n", earlier.toUtf8().constData());
            MigrateIfStopped(earlier);
        }
    }
    // A bundle whose installation never completed is not started: it may
    // lack anything but the executable.
    if (incomplete) {
        LOG_ERROR(kComponent, "the installation in '%s' is incomplete ('%s' exists), not starting it\n",
                  app_path.c_str(), mark.c_str());
        client_started = false;
    } else {
        client_started = LaunchPerUserBin() == 0;
    }
    if (!client_started)
        LOG_ERROR(kComponent, "Failed to launch Tidewell UI\n");
    // Old copies go once the client runs: the user never waits for them.
    RemoveLeftoverBackups();
}

void MacService::StopService()
{
    StopServiceByPath(RegisteredPath("user_lumora_path"));
}

void MacService::StopServiceByPath(const QString& folder)
{
    StopClientByPath(folder);
}

// True when nothing runs from `folder` afterwards: no client named, none
// running, or it ended (terminated, or killed after the probes). False when
// the named process runs from elsewhere (refused) or could not be signalled.
bool MacService::StopClientByPath(const QString& folder)
{
    const QString filePath = folder + QStringLiteral("/ui.pid");
    const std::string file = filePath.toUtf8().toStdString();
    if (!IsFileExist(ustring(file), false)) {
        LOG_DEBUG(kComponent, "pid file '%s' does not exist, no need to terminate\n", file.c_str());
        return true;
    }
    Config config;
    config.keep_quotes = false;
    if (!IsPlausiblePidFile(filePath) || config.read(file) < 0) {
        LOG_NOTE(kComponent, "Failed to read pid file '%s', not exist ?\n", file.c_str());
        return true;
    }
    const std::string text = config["pid"];
    const pid_t pid = ProcessId(text);
    if (pid == 0) {
        LOG_NOTE(kComponent, "pid file '%s' names no process ('%s'), nothing to terminate\n",
                 file.c_str(), text.c_str());
        return true;
    }

    ProcessControl* processes = ProcessControl::Current();
    if (processes->Signal(pid, 0) == ESRCH)
        return true;  // not running
    if (!RunsFromFolder(processes, pid, folder)) {
        LOG_WARNING(kComponent, "process %d named in '%s' does not run from that folder, not terminated\n",
                    static_cast<int>(pid), file.c_str());
        return false;
    }

    const int error = processes->Signal(pid, SIGTERM);
    if (error == ESRCH)
        return true;
    if (error != 0)
        LOG_ERROR(kComponent, "kill: %s (%d)\n", std::strerror(error), error);

    for (int probe = 0; probe < kStopProbes; ++probe) {
        if (processes->Signal(pid, 0) == ESRCH || processes->WaitForEnd(pid, kProbeIntervalSeconds)) {
            LOG_INFO(kComponent, "stopped the client (pid %d)\n", static_cast<int>(pid));
            return true;
        }
    }
    const int killed = processes->Signal(pid, SIGKILL);
    if (killed == 0 || killed == ESRCH)
        LOG_INFO(kComponent, "stopped the client (pid %d) with SIGKILL, it did not end after SIGTERM\n",
                 static_cast<int>(pid));
    return killed == 0 || killed == ESRCH;
}

bool MacService::PerUserBinPathExist()
{
    const QByteArray path = RegisteredPath("user_lumora_ui_path").toUtf8();
    return ::access(path.constData(), F_OK) == 0;
}

int MacService::LaunchPerUserBin()
{
    const QString bundle = RegisteredPath("user_lumora_app_path");
    QString reason;
    if (AppRegistry::Current()->Unregister(bundle, &reason) != 0) {
        LOG_ERROR(kComponent, "Cannot unregister bundle, %s\n", bundle.toUtf8().constData());
        LOG_DEBUG(kComponent, "unregister: %s\n", reason.toUtf8().constData());
    }
    reason.clear();
    AppOpener* opener = AppOpener::Current();
    if (!opener->OpenNewInstance(bundle, &reason)) {
        LOG_WARNING(kComponent, "cannot open '%s': %s\n", bundle.toUtf8().constData(),
                    reason.toUtf8().constData());
        return -1;
    }
    const QString started = opener->LastStarted();
    LOG_INFO(kComponent, "started the client %s\n",
             (started.isEmpty() ? QStringLiteral("'%1'").arg(bundle) : started).toUtf8().constData());
    return 0;
}
