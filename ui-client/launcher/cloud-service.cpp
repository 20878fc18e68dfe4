#include "cloud-service.h"

#include <QDir>
#include <QSettings>
#include <QVariant>

#include "file-op.h"
#include "log.h"
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

}  // namespace

Service::Service() : timeout(0) {}

Service::~Service() = default;

void Service::SetTimeout(int value)
{
    timeout = value;
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

// --- per-user installation: begin ---
// Backup, extraction and rollback of the per-user bundle, and the recursive
// copy.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "extractor.h"

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

// Marks an installation in progress before anything is moved: until the mark
// is removed, the per-user bundle counts as incomplete and is reinstalled.
void SetUpgradeMark(const ustring& mark)
{
    const ustring folder = FSParentPath(mark);
    if (FSMKDir(folder, true) < 0) {
        LOG_ERROR(kComponent, "failed to create folder: '%s'\n", folder.c_str());
        return;
    }
    int fd = open(mark.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        LOG_ERROR(kComponent, "open(%s): %s\n", mark.c_str(), std::strerror(errno));
        return;
    }
    if (fsync(fd) != 0)
        LOG_ERROR(kComponent, "fsync(%s): %s\n", mark.c_str(), std::strerror(errno));
    close(fd);
    SyncFolder(folder);
}

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

int Service::PrepareUserEnv()
{
    const ustring app(app_path);
    const ustring mark = UpgradeMarkPath();
    // A mark left by an interrupted run means the bundle in place may be
    // partial: only a complete installation may clear it then.
    const bool interrupted_before = IsFileExist(mark, false);
    ustring backup;
    int k = 0;
    SetUpgradeMark(mark);
    if (IsFileExist(app, false)) {
        for (k = 0;; ++k) {
            backup = GetAppBackupDir(app, k);
            if (FSRename(app, backup, false) == 0)
                break;
            if (k == 9) {
                LOG_ERROR(kComponent, "failed to backup app from '%s' -> '%s' at max retries, exiting\n",
                          app.c_str(), backup.c_str());
                if (!interrupted_before)
                    ClearUpgradeMark(mark, app);
                return -1;
            }
            LOG_ERROR(kComponent, "failed to backup app from '%s' -> '%s'\n", app.c_str(), backup.c_str());
        }
    }
    if (ExtractPackage() == 0) {
        LOG_INFO(kComponent, "user installation is ready, removing backup app\n");
        ClearUpgradeMark(mark, app);
        for (int j = 0; j <= k; ++j)
            FSRemove(GetAppBackupDir(app, j), false);
        return 0;
    }
    if (!backup.empty()) {
        LOG_ERROR(kComponent, "Failed to extract package, rollback to old installation\n");
        FSRemove(app, false);
        if (FSRename(backup, app, false) == 0 && !interrupted_before)
            ClearUpgradeMark(mark, app);
        return -1;
    }
    // The mark stays: what the extraction left is reinstalled on the next run.
    LOG_ERROR(kComponent, "Failed to extract package, and no old installation to rollback\n");
    return -1;
}

int Service::ExtractPackage()
{
    const ustring package = ToUtf8(RegisteredPath("root_resource_path")) + "/package/tidewell.vxa";
    const ustring dest = ToUtf8(RegisteredPath("user_lumora_app_path"));
    if (FSMKDir(dest, true) < 0) {
        LOG_ERROR(kComponent, "failed to create folder: '%s'\n", dest.c_str());
        return -1;
    }
    LOG_INFO(kComponent, "extract package: '%s' -> '%s'\n", package.c_str(), dest.c_str());
    Extractor extractor;
    extractor.dest_path = dest;
    extractor.src_path = package;
    return extractor.Extract();
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
// --- per-user installation: end ---
