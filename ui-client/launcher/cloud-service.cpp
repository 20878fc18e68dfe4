#include "cloud-service.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include <QDir>
#include <QSettings>
#include <QVariant>

#include "config.h"
#include "file-op.h"
#include "log.h"
#include "package-tools.h"
#include "platform/bundle-info.h"
#include "uipathmanager.h"

namespace {

const char kComponent[] = "service_debug";

ustring ToUtf8(const QString& text)
{
    return ustring(text.toUtf8().toStdString());
}

QString RegisteredPath(const char* key)
{
    return UIPathManager::getInstance()->getPath(QString::fromLatin1(key));
}

// Reads the [Version] group of an INFO file; a key that is absent leaves
// its field as it was.
void ReadVersionFile(const ustring& path, VersionInfo& record)
{
    QSettings settings(QString::fromUtf8(path.c_str()), QSettings::IniFormat);
    settings.beginGroup(QStringLiteral("Version"));
    struct Field {
        const char* key;
        ustring* value;
    };
    const Field fields[] = {
        {"major_version", &record.major_version},
        {"minor_version", &record.minor_version},
        {"build_version", &record.build_version},
        {"icon_overlay_version", &record.icon_overlay_version},
    };
    for (const Field& field : fields) {
        const QString key = QString::fromLatin1(field.key);
        if (settings.contains(key))
            *field.value = ToUtf8(settings.value(key, QVariant()).toString());
    }
    settings.endGroup();
}

// The package's SHA-256 digest that the build recorded beside the version
// keys of the launcher's INFO file, in lower-case hex; empty when absent.
ustring ReadPackageDigest(const ustring& path)
{
    QSettings settings(QString::fromUtf8(path.c_str()), QSettings::IniFormat);
    return ToUtf8(settings.value(QStringLiteral("Version/package_sha256")).toString().trimmed().toLower());
}

}  // namespace

Service::Service() : timeout(0) {}

Service::~Service()
{
    PackageTools::EndScan(installed_scan);
    if (package_fd >= 0)
        close(package_fd);
}

void Service::SetTimeout(int value)
{
    timeout = value;
}

ustring Service::PackagePath()
{
    return ToUtf8(RegisteredPath("root_resource_path")) + "/package/tidewell.vxa";
}

QString Service::GetUserInstallPath()
{
    return QDir::homePath();
}

ustring Service::UpgradeMarkPath() const
{
    return app_path + ".upgrading";
}

void Service::LoadSourceVersion()
{
    const ustring path = ToUtf8(RegisteredPath("user_lumora_resource_path")) + "/INFO";
    if (!IsFileExist(path, false)) {
        LOG_INFO(kComponent, "source does not exist\n");
        return;
    }
    ReadVersionFile(path, source_version);
    LOG_INFO(kComponent, "source_version = (%s, %s, %s, %s)\n", source_version.major_version.c_str(),
             source_version.minor_version.c_str(), source_version.build_version.c_str(),
             source_version.icon_overlay_version.c_str());
}

void Service::LoadTargetVersion()
{
    const ustring path = ToUtf8(RegisteredPath("root_resource_path")) + "/INFO";
    ReadVersionFile(path, target_version);
    package_sha256 = ReadPackageDigest(path);
    LOG_INFO(kComponent, "target_version = (%s, %s, %s, %s)\n", target_version.major_version.c_str(),
             target_version.minor_version.c_str(), target_version.build_version.c_str(),
             target_version.icon_overlay_version.c_str());
}

void Service::MigrateService()
{
    const QString earlier = QDir::toNativeSeparators(RegisteredPath("user_tidewell_path"));
    const QString current = QDir::toNativeSeparators(RegisteredPath("user_lumora_path"));
    const ustring currentFolder = ToUtf8(current);
    if (!IsFileExist(currentFolder, true) && FSMKDir(currentFolder, true) < 0) {
        LOG_ERROR(kComponent, "Failed to create Lumora folder\n");
        return;
    }

    const ustring earlierFolder = ToUtf8(earlier);
    const ustring earlierData = ToUtf8(QDir::toNativeSeparators(earlier + QStringLiteral("/data")));
    const ustring currentData = ToUtf8(QDir::toNativeSeparators(current + QStringLiteral("/data")));
    if (IsFileExist(earlierData, true) && FSRename(earlierData, currentData, true) < 0) {
        // The earlier folder still holds the data: keep it for a later attempt.
        LOG_ERROR(kComponent, "Failed to move data to Lumora folder\n");
        return;
    }
    if (IsFileExist(earlierFolder, true) && FSRemove(earlierFolder, false) < 0)
        LOG_ERROR(kComponent, "Failed to remove old .Tidewell folder\n");
}

void Service::RemoveAgedFolders()
{
    const ustring aged = ToUtf8(RegisteredPath("user_tidewell_path") + QStringLiteral("/app"));
    LOG_INFO(kComponent, "removing aged app folder %s\n", aged.c_str());
    FSRemove(aged, false);
}

namespace {

// Name of backup folder `index`: the bundle path + "_tmp", then + "_tmp1" to "_tmp9".
ustring GetAppBackupDir(const ustring& app, int index)
{
    ustring dir = app + "_tmp";
    if (index == 0)
        return dir;
    char postfix[8];
    int n = std::snprintf(postfix, sizeof postfix, "%d", index);
    if (n < 0 || n >= static_cast<int>(sizeof postfix)) {
        LOG_ERROR(kComponent, "snprintf failed (continuing without postfix)\n");
        return dir;
    }
    dir += postfix;
    return dir;
}

// Makes a metadata change in `folder` (a created or removed name) durable.
void SyncFolder(const ustring& folder)
{
    int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        LOG_ERROR(kComponent, "open(%s): %s\n", folder.c_str(), std::strerror(errno));
        return;
    }
    if (fsync(fd) != 0)
        LOG_ERROR(kComponent, "fsync(%s): %s\n", folder.c_str(), std::strerror(errno));
    close(fd);
}

// Writes everything below `folder` to disk, so that the installation
// survives a power loss once its mark is gone.
void SyncInstallation(const ustring& folder)
{
#ifdef __linux__
    int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        LOG_ERROR(kComponent, "open(%s): %s\n", folder.c_str(), std::strerror(errno));
        return;
    }
    if (syncfs(fd) != 0)
        LOG_ERROR(kComponent, "syncfs(%s): %s\n", folder.c_str(), std::strerror(errno));
    close(fd);
#else
    (void)folder;
    sync();
#endif
}

// Creates `folder` unless it is one already; a link to a folder counts
// (a per-user folder kept elsewhere and linked into the home).
bool EnsureFolder(const ustring& folder)
{
    struct stat st;
    if (stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        return true;
    if (FSMKDir(folder, true) < 0) {
        LOG_ERROR(kComponent, "failed to create folder: '%s'\n", folder.c_str());
        return false;
    }
    return true;
}

}  // namespace

// Marks an installation in progress before anything is moved: until the mark
// is removed, the per-user bundle counts as incomplete and is reinstalled.
// The mark names the backup that holds the last complete installation
// ("backup=<index>", or "backup=none"); it is written whole and made durable
// before it replaces the previous mark. False, with the failing call in
// `reason`, when it could not be: nothing may be moved then.
bool Service::WriteUpgradeMark(const ustring& mark, const ustring& complete_backup, std::string* reason)
{
    const ustring folder = FSParentPath(mark);
    if (!EnsureFolder(folder)) {
        *reason = "cannot create '" + std::string(folder.c_str()) + "'";
        return false;
    }
    std::string text = "backup=none\n";
    for (int k = 0; k <= 9 && !complete_backup.empty(); ++k)
        if (complete_backup == GetAppBackupDir(app_path, k))
            text = "backup=" + std::to_string(k) + "\n";
    const ustring part = mark + ".part";
    const auto failed = [&](const char* call, const ustring& path) {
        *reason = std::string(call) + "(" + path.c_str() + "): " + std::strerror(errno);
        LOG_ERROR(kComponent, "%s\n", reason->c_str());
        return false;
    };
    int fd = open(part.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return failed("open", part);
    const ssize_t written = write(fd, text.data(), text.size());
    if (written != static_cast<ssize_t>(text.size())) {
        if (written >= 0)
            errno = ENOSPC;  // a short write of a few bytes: the disk is full
        failed("write", part);
        close(fd);
        unlink(part.c_str());
        return false;
    }
    if (fsync(fd) != 0) {
        failed("fsync", part);
        close(fd);
        unlink(part.c_str());
        return false;
    }
    close(fd);
    if (rename(part.c_str(), mark.c_str()) != 0) {
        failed("rename", part);
        unlink(part.c_str());
        return false;
    }
    SyncFolder(folder);
    return true;
}

// What an earlier run's mark says. A mark naming a backup that is gone
// means that backup was never made or has been put back: the bundle in
// place is the complete one. A mark of an older launcher names nothing;
// the most recent backup that holds a client is taken then.
Service::UpgradeMark Service::ReadUpgradeMark(const ustring& mark, const ustring& app)
{
    UpgradeMark state;
    if (!IsFileExist(mark, false))
        return state;
    Config config;
    config.keep_quotes = false;
    config.read(mark.c_str());
    const auto found = config.find("backup");
    if (found == config.end()) {
        for (int k = 9; k >= 0; --k) {
            const ustring backup = GetAppBackupDir(app, k);
            if (IsFileExist(backup + "/Contents/MacOS", false)) {
                state.complete_backup = backup;
                break;
            }
        }
        state.exists = true;
        return state;
    }
    const std::string& value = found->second;
    if (value.size() == 1 && value[0] >= '0' && value[0] <= '9') {
        const ustring backup = GetAppBackupDir(app, value[0] - '0');
        if (!IsFileExist(backup, false)) {
            LOG_NOTE(kComponent, "'%s' was never made or is back in place\n", backup.c_str());
            return state;
        }
        state.complete_backup = backup;
    }
    state.exists = true;
    return state;
}

namespace {

// Removes the mark once the bundle it covers is complete on disk.
void ClearUpgradeMark(const ustring& mark, const ustring& app)
{
    SyncInstallation(FSParentPath(app));
    if (FSRemove(mark, false) != 0) {
        LOG_ERROR(kComponent, "failed to remove '%s'\n", mark.c_str());
        return;
    }
    SyncFolder(FSParentPath(mark));
}

}  // namespace

// Moves the complete bundle in place to the first backup slot that takes
// it. Each slot is named in the mark before the move, so a kill at any
// point leaves a way back; a slot that a leftover occupies is passed over
// like a failed move, since the slot a mark names must hold nothing but this
// bundle. After an interrupted run (`resuming`) the mark already names the
// complete backup and any slot will do.
Service::BackupResult Service::MoveToBackup(const ustring& app, const ustring& mark, bool resuming, ustring* backup)
{
    for (int k = 0; k <= 9; ++k) {
        *backup = GetAppBackupDir(app, k);
        if (resuming || !IsFileExist(*backup, false)) {
            std::string reason;
            if (!resuming && !WriteUpgradeMark(mark, *backup, &reason)) {
                LOG_ERROR(kComponent, "cannot mark the installation in progress (%s): upgrade refused, '%s' is kept\n",
                          reason.c_str(), app.c_str());
                return BackupResult::NoMark;
            }
            if (FSRename(app, *backup, false) == 0)
                return BackupResult::Moved;
        }
        LOG_ERROR(kComponent, "failed to backup app from '%s' -> '%s'\n", app.c_str(), backup->c_str());
    }
    LOG_ERROR(kComponent, "failed to backup app from '%s' -> '%s' at max retries, exiting\n", app.c_str(),
              backup->c_str());
    return BackupResult::Failed;
}

// After a backup that did not happen, the mark says again what it said
// before this run: the earlier run's complete backup, or nothing at all.
void Service::RestoreMark(const ustring& mark, const ustring& app, bool resuming, const ustring& complete)
{
    std::string reason;
    if (resuming)
        WriteUpgradeMark(mark, complete, &reason);
    else if (IsFileExist(mark, false))
        ClearUpgradeMark(mark, app);
}

int Service::PrepareUserEnv()
{
    const ustring app(app_path);
    const ustring mark = UpgradeMarkPath();
    // A mark left by an interrupted run means the bundle in place may be
    // partial; the mark names the backup that holds the last complete
    // installation, if there is one.
    const UpgradeMark previous = ReadUpgradeMark(mark, app);

    // A damaged package must never replace a working client: it is checked
    // before anything is moved.
    if (!VerifyPackage()) {
        if (previous.exists)
            RestoreCompleteBackup(app, mark, previous.complete_backup, ustring());
        return -1;
    }

    ustring complete = previous.complete_backup;
    ustring backup;
    const bool installed = IsFileExist(app, false);
    // Without an earlier mark the bundle in place is complete and its first
    // mark is written by the move to its backup; otherwise the mark goes
    // first, and without one nothing is written at all.
    if (previous.exists || !installed) {
        std::string reason;
        if (!WriteUpgradeMark(mark, complete, &reason)) {
            LOG_ERROR(kComponent, "cannot mark the installation in progress (%s): upgrade refused\n", reason.c_str());
            return -1;
        }
    }
    if (installed) {
        if (MoveToBackup(app, mark, previous.exists, &backup) != BackupResult::Moved) {
            RestoreMark(mark, app, previous.exists, complete);
            return -1;
        }
        if (!previous.exists)
            complete = backup;
    }
    // Unchanged files are linked only from a complete installation.
    link_source = installed && !previous.exists ? backup : ustring();
    if (ExtractPackage() == 0 && VerifyInstallation(app) && FinishInstallation(app, backup)) {
        // The backups go after the client has started (RemoveLeftoverBackups);
        // from here on the new bundle is the complete one.
        LOG_INFO(kComponent, "user installation is ready, removing backup app\n");
        ClearUpgradeMark(mark, app);
        return 0;
    }
    if (!complete.empty() || !backup.empty()) {
        LOG_ERROR(kComponent, "Failed to extract package, rollback to old installation\n");
        RestoreCompleteBackup(app, mark, complete, backup);
        return -1;
    }
    // The mark stays: what the extraction left is reinstalled on the next
    // run, and never started.
    LOG_ERROR(kComponent, "Failed to extract package, and no old installation to rollback\n");
    return -1;
}

// Puts the last complete installation back in place of a partial one and
// clears the mark. Without a complete backup, `fallback` (this run's backup
// of a bundle that was already partial) goes back, and the mark stays.
void Service::RestoreCompleteBackup(const ustring& app, const ustring& mark, const ustring& complete,
                                    const ustring& fallback)
{
    const ustring& source = !complete.empty() && IsFileExist(complete, false) ? complete : fallback;
    if (source.empty() || !IsFileExist(source, false)) {
        LOG_WARNING(kComponent, "no complete installation to restore, '%s' stays as it is\n", app.c_str());
        return;
    }
    if (IsFileExist(app, false) && FSRemove(app, false) != 0) {
        LOG_ERROR(kComponent, "failed to remove the partial installation '%s'\n", app.c_str());
        return;
    }
    if (FSRename(source, app, false) != 0) {
        LOG_ERROR(kComponent, "failed to restore '%s' -> '%s'\n", source.c_str(), app.c_str());
        return;
    }
    LOG_NOTE(kComponent, "restored the installation from '%s'\n", source.c_str());
    if (source == complete)
        ClearUpgradeMark(mark, app);
}

bool Service::VerifyPackage()
{
    if (package_check == PackageCheck::NotYet)
        package_check = CheckPackage() ? PackageCheck::Accepted : PackageCheck::Refused;
    return package_check == PackageCheck::Accepted;
}

// Compares the package with the digest the build recorded. A package that
// cannot be read or does not match is refused; a bundle that records no
// digest (an older build) is installed unchecked, once the code that
// installs it has loaded.
bool Service::CheckPackage()
{
    const ustring package = PackagePath();
    // Opened once: what is hashed is what is extracted.
    package_fd = open(package.c_str(), O_RDONLY | O_CLOEXEC);
    const int open_error = errno;
    if (package_sha256.empty()) {
        LOG_NOTE(kComponent, "no package digest recorded, '%s' is not verified\n", package.c_str());
        std::string error;
        if (!PackageTools::Load(&error)) {
            LOG_ERROR(kComponent, "cannot install package '%s': %s\n", package.c_str(), error.c_str());
            return false;
        }
        StartInstalledScan();
        return true;
    }
    std::string digest;
    std::string error;
    bool hashed = false;
    if (PackageTools::Load(&error)) {
        if (package_fd < 0) {
            error = std::string("open: ") + std::strerror(open_error);
        } else {
            StartInstalledScan();
            hashed = PackageTools::Sha256(package_fd, &digest, &error);
        }
    }
    if (!hashed) {
        LOG_ERROR(kComponent, "cannot verify package '%s': %s (expected sha256 %s)\n", package.c_str(),
                  error.c_str(), package_sha256.c_str());
        return false;
    }
    if (digest != package_sha256.c_str()) {
        LOG_ERROR(kComponent, "package '%s' is damaged: sha256 %s, expected %s\n", package.c_str(),
                  digest.c_str(), package_sha256.c_str());
        return false;
    }
    LOG_DEBUG(kComponent, "package '%s' matches sha256 %s\n", package.c_str(), digest.c_str());
    return true;
}

// The files of a complete installation are read on a thread of their own
// while the package is checked, for an upgrade to link those it keeps. A
// bundle under a mark is partial: nothing is linked from it.
void Service::StartInstalledScan()
{
    if (installed_scan == nullptr && IsFileExist(app_path, false) && !IsFileExist(UpgradeMarkPath(), false))
        installed_scan = PackageTools::StartScan(app_path);
}

// An extracted bundle is complete enough to start: its executable (named by
// Contents/Info.plist) is a regular file that may be executed, and its INFO
// carries the build the launcher ships.
bool Service::VerifyInstallation(const ustring& app)
{
    QString reason;
    const QString executable = BundleInfo::ExecutablePath(QString::fromUtf8(app.c_str()), &reason);
    if (executable.isEmpty()) {
        LOG_ERROR(kComponent, "installation '%s' has no executable: %s\n", app.c_str(),
                  reason.toUtf8().constData());
        return false;
    }
    struct stat st;
    const QByteArray exe = executable.toUtf8();
    if (lstat(exe.constData(), &st) != 0 || !S_ISREG(st.st_mode) || (st.st_mode & S_IXUSR) == 0) {
        LOG_ERROR(kComponent, "installation '%s': '%s' is not an executable file\n", app.c_str(),
                  exe.constData());
        return false;
    }
    VersionInfo installed;
    ReadVersionFile(app + "/Contents/Resources/INFO", installed);
    if (installed.build_version != target_version.build_version) {
        LOG_ERROR(kComponent, "installation '%s' has build '%s', expected '%s'\n", app.c_str(),
                  installed.build_version.c_str(), target_version.build_version.c_str());
        return false;
    }
    return true;
}

// Backups left by this or an earlier run, removed once the installation in
// place is complete: its mark is gone and its client executable is there.
void Service::RemoveLeftoverBackups()
{
    const ustring app(app_path);
    if (IsFileExist(UpgradeMarkPath(), false) ||
        !IsFileExist(ToUtf8(RegisteredPath("user_lumora_ui_path")), false))
        return;
    for (int k = 0; k <= 9; ++k) {
        const ustring backup = GetAppBackupDir(app, k);
        if (!IsFileExist(backup, false))
            continue;
        LOG_INFO(kComponent, "removing backup '%s'\n", backup.c_str());
        if (FSRemove(backup, false) != 0)
            LOG_WARNING(kComponent, "failed to remove backup '%s', trying again on the next run\n",
                        backup.c_str());
    }
}

int Service::ExtractPackage()
{
    const ustring package = PackagePath();
    const ustring dest = ToUtf8(RegisteredPath("user_lumora_app_path"));
    if (FSMKDir(dest, true) < 0) {
        LOG_ERROR(kComponent, "failed to create folder: '%s'\n", dest.c_str());
        return -1;
    }
    LOG_INFO(kComponent, "extract package: '%s' -> '%s'\n", package.c_str(), dest.c_str());
    PackageTools::ExtractRequest request;
    request.package = package;
    request.package_fd = package_fd;
    request.dest = dest;
    request.link_source = link_source;
    request.scan = installed_scan;
    return PackageTools::Extract(request);
}

int Service::FSCopyPath(const ustring& from, const ustring& to)
{
    LOG_DEBUG(kComponent, "copy from '%s' to '%s'\n", from.c_str(), to.c_str());
    _FILE_INFO_tag info;
    if (FSStat(from, info, false) < 0) {
        LOG_ERROR(kComponent, "FSCopyPath: failed to stat source '%s'\n", from.c_str());
        return -1;
    }
    if (!info.exists) {
        LOG_ERROR(kComponent, "FSCopyPath: source path '%s' does not exist\n", from.c_str());
        return -1;
    }
    if (info.type != FILE_TYPE_DIR) {
        if (FSCopy(from, to, false) < 0) {
            LOG_ERROR(kComponent, "FSCopyPath: failed to copy from '%s' to '%s'\n", from.c_str(), to.c_str());
            return -1;
        }
        return 0;
    }
    if (FSMKDir(to, true) < 0) {
        LOG_ERROR(kComponent, "FSCopyPath: failed to create dest folder '%s'\n", to.c_str());
        return -1;
    }
    DIR_HANDLE handle;
    if (FSOpenDir(from, 0, handle) != 0) {
        LOG_WARNING(kComponent, "FSCopyPath: failed to create handle  for src '%s' failed\n", from.c_str());
        return 0;
    }
    int result = 0;
    DIR_ENTRY entry;
    while (result == 0 && FSReadDir(handle, entry) >= 1) {
        if (entry.name == ustring(".") || entry.name == ustring(".."))
            continue;
        const ustring src = from + "/" + entry.name;
        const ustring dst = to + "/" + entry.name;
        int r = entry.type == FILE_TYPE_DIR ? FSCopyPath(src, dst) : FSCopy(src, dst, false);
        if (r < 0) {
            LOG_ERROR(kComponent, "FSCopyPath: failed to copy from '%s' to '%s'\n", src.c_str(), dst.c_str());
            result = -1;
        }
    }
    FSCloseDir(handle);
    return result;
}
