// Noticing and repairing a damaged installation: the install-time list of
// the bundle's files checked at every start, the full comparison with the
// package that --repair makes, and the files a repair keeps.
#include "cloud-service.h"

#include <algorithm>

#include "file-op.h"
#include "install-manifest.h"
#include "log.h"
#include "package-tools.h"

namespace {

const char kComponent[] = "service_debug";

// Whether `path` lies below one of `folders` (all relative to the bundle).
bool Below(const ustring& path, const std::vector<ustring>& folders)
{
    for (const ustring& folder : folders) {
        const std::string f(folder.c_str()), p(path.c_str());
        if (p.size() > f.size() && p.compare(0, f.size(), f) == 0 && p[f.size()] == '/')
            return true;
    }
    return false;
}

}  // namespace

bool Service::InstallationDamaged()
{
    const ustring app(app_path);
    InstallManifest::Damage damage;
    switch (InstallManifest::Check(app, InstallManifest::PathFor(app), &damage)) {
    case InstallManifest::Result::Intact:
        return false;
    case InstallManifest::Result::NoManifest:
        LOG_DEBUG(kComponent, "'%s' has no list of its files, not checked\n", app.c_str());
        return false;
    case InstallManifest::Result::Unreadable:
        LOG_WARNING(kComponent, "the list of the files of '%s' cannot be read, not checked\n", app.c_str());
        return false;
    case InstallManifest::Result::Damaged:
        break;
    }
    LOG_INFO(kComponent, "installation damaged: '%s' %s\n", damage.path.c_str(), damage.what.c_str());
    return true;
}

bool Service::RepairNeeded()
{
    const ustring app(app_path);
    if (!VerifyPackage()) {
        repair_failure = "the package cannot be installed (see the log)";
        return false;
    }
    PackageTools::Comparison comparison;
    std::string error;
    const ustring package = PackagePath();
    if (PackageTools::Compare(package, app, &comparison, &error) != 0) {
        LOG_ERROR(kComponent, "cannot compare '%s' with package '%s': %s\n", app.c_str(), package.c_str(),
                  error.c_str());
        repair_failure = "cannot read the package: " + error;
        return false;
    }
    for (const PackageTools::Difference& difference : comparison.damaged)
        LOG_INFO(kComponent, "installation damaged: '%s/%s' %s\n", app.c_str(), difference.path.c_str(),
                 difference.what.c_str());
    for (const ustring& extra : comparison.extra)
        LOG_INFO(kComponent, "'%s/%s' is not in the package, kept\n", app.c_str(), extra.c_str());
    repaired_files = static_cast<int>(comparison.damaged.size());
    extra_files = comparison.extra;
    return repaired_files > 0;
}

bool Service::FinishInstallation(const ustring& app, const ustring& backup)
{
    if (repair && !backup.empty())
        KeepExtraFiles(app, backup);
    // The list describes this bundle only: a list of the previous one left in
    // place would call the new bundle damaged on every start.
    const ustring manifest = InstallManifest::PathFor(app);
    std::string error;
    if (!InstallManifest::Write(app, manifest, &error)) {
        LOG_WARNING(kComponent, "cannot list the files of '%s' (%s), it is not checked at start\n", app.c_str(),
                    error.c_str());
        if (FSRemove(manifest, false) != 0)
            LOG_ERROR(kComponent, "failed to remove '%s'\n", manifest.c_str());
    }
    return true;
}

// Files the package does not hold go back into the repaired bundle: a
// repair replaces what is damaged and deletes nothing of the user's. A
// folder the package does not hold moves with its contents.
void Service::KeepExtraFiles(const ustring& app, const ustring& backup)
{
    std::vector<ustring> moved;
    std::vector<ustring> extras = extra_files;
    std::sort(extras.begin(), extras.end());  // a folder before what lies below it
    for (const ustring& extra : extras) {
        if (Below(extra, moved))
            continue;
        const ustring from = backup + "/" + extra;
        const ustring to = app + "/" + extra;
        if (IsFileExist(to, false) || !IsFileExist(from, false))
            continue;
        if (FSRename(from, to, false) != 0) {
            LOG_WARNING(kComponent, "failed to keep '%s' in the repaired installation\n", to.c_str());
            continue;
        }
        LOG_DEBUG(kComponent, "kept '%s'\n", to.c_str());
        moved.push_back(extra);
    }
}
