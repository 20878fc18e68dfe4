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
// copy; GetAppBackupDir(app, index) goes here too.

int Service::PrepareUserEnv()
{
    return -1;
}

int Service::ExtractPackage()
{
    return -1;
}

int Service::FSCopyPath(const ustring& from, const ustring& to)
{
    (void)from;
    (void)to;
    return -1;
}
// --- per-user installation: end ---
