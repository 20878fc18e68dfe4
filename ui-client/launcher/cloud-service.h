// The upgrade service: decides whether the per-user copy of the client must
// be replaced by the package shipped with the launcher, and carries the
// replacement out. Service holds the state and the platform-neutral steps;
// MacService (mac/mac-service.h) the platform steps and their order.
#pragma once

#include <QString>

#include <cstdint>
#include <string>
#include <vector>

#include "ustring.h"

class InstalledScan;

// Version of one installation, as read from its INFO file. A field whose key
// is absent keeps its previous value (empty for a fresh record).
struct VersionInfo {
    ustring major_version;
    ustring minor_version;
    ustring build_version;
    ustring icon_overlay_version;
};

class Service {
public:
    Service();
    virtual ~Service();

    virtual void StopService() = 0;
    virtual void SetTimeout(int value);
    virtual int HandlePackageUpgrade() = 0;
    virtual void PostUpgrade() = 0;
    virtual void PreUpgrade() = 0;
    virtual bool IsNeedUpgrade() = 0;
    virtual int ExtractPackage();
    virtual void LoadSourceVersion();
    virtual void LoadTargetVersion();
    virtual int PrepareUserEnv();
    virtual void MigrateService();

    // Removes the earlier generation's "app" folder; the outcome is not examined.
    void RemoveAgedFolders();
    // Removes the backups of the per-user bundle once the bundle in place is
    // complete (no mark, client executable present); left for a later run
    // otherwise, or when a removal fails.
    void RemoveLeftoverBackups();
    // Whether the package can be installed: the package module loads and the
    // package matches the digest recorded in the launcher's INFO (no digest
    // recorded: true, with a NOTE). Checked once a run; later calls give the
    // first answer.
    bool VerifyPackage();
    // Whether the installation in place differs from what was installed: a
    // file or link missing, or of another size or type, than its install-time
    // list records (the first difference is logged). False when there is no
    // such list.
    bool InstallationDamaged();
    // For --repair: compares every file of the installation with the package
    // and logs each difference and each file the package does not hold.
    // True when a reinstallation is needed; repair_failure is set when the
    // comparison could not be made.
    bool RepairNeeded();
    // Whether an extracted bundle can be started: its executable is a regular
    // executable file and its INFO carries the target build.
    bool VerifyInstallation(const ustring& app);
    // Recursive copy of a file or a folder tree: 0 when complete, -1 on failure.
    int FSCopyPath(const ustring& from, const ustring& to);
    // The package archive in the launcher bundle's resources.
    static ustring PackagePath();
    // The user's home folder; every per-user path is built from it.
    static QString GetUserInstallPath();
    // The file that marks an installation in progress: app_path + ".upgrading".
    // While it exists the per-user bundle counts as incomplete.
    ustring UpgradeMarkPath() const;

    // State, public as in a plain record: the worker and tests read it.
    int32_t timeout;
    ustring app_path;               // per-user bundle folder, UTF-8
    VersionInfo target_version;     // the package shipped in the launcher bundle
    VersionInfo source_version;     // the per-user installation
    ustring package_sha256;         // digest of the shipped package, lower-case hex; empty if not recorded
    bool client_started = true;     // false once PostUpgrade could not start the client

    // --repair: compare the installation with the package, reinstall what
    // differs, keep what the package does not hold.
    bool repair = false;
    int repaired_files = 0;              // differences found by RepairNeeded
    std::vector<ustring> extra_files;    // paths relative to the bundle, kept by a repair
    std::string repair_failure;          // why the repair could not be done; empty when it could

private:
    enum class BackupResult { Moved, Failed, NoMark };
    enum class PackageCheck { NotYet, Accepted, Refused };

    // What the mark of an interrupted installation says.
    struct UpgradeMark {
        bool exists = false;
        ustring complete_backup;  // backup folder holding the last complete installation, or empty
    };
    UpgradeMark ReadUpgradeMark(const ustring& mark, const ustring& app);
    bool WriteUpgradeMark(const ustring& mark, const ustring& complete_backup, std::string* reason);
    BackupResult MoveToBackup(const ustring& app, const ustring& mark, bool resuming, ustring* backup);
    void RestoreMark(const ustring& mark, const ustring& app, bool resuming, const ustring& complete);
    void RestoreCompleteBackup(const ustring& app, const ustring& mark, const ustring& complete,
                               const ustring& fallback);
    bool CheckPackage();
    void StartInstalledScan();
    // The last steps of a verified extraction, before the mark goes: the
    // install-time list of the new bundle, and the files a repair keeps.
    bool FinishInstallation(const ustring& app, const ustring& backup);
    void KeepExtraFiles(const ustring& app, const ustring& backup);

    PackageCheck package_check = PackageCheck::NotYet;
    // The package as CheckPackage opened it: its digest is computed from this
    // open file and the extraction reads the same one, whatever is moved to
    // the package's path in between. -1 until checked.
    int package_fd = -1;
    // The installed files' CRC-32, read while the package is checked.
    InstalledScan* installed_scan = nullptr;
    // The complete installation this run moved aside, which unchanged files
    // are linked from; empty when there is none.
    ustring link_source;

    Service(const Service&) = delete;
    Service& operator=(const Service&) = delete;
};
