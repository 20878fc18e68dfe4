// The package work of the launcher executable: its package module, loaded
// from the bundle's Frameworks folder the first time it is needed and kept
// for the rest of the run. A module that cannot be loaded fails the
// operation with the loader's reason, so the installed client is kept.
#include "package-tools.h"

#include <dlfcn.h>

#include <mutex>

#include <QByteArray>
#include <QCoreApplication>
#include <QFile>

#include "log.h"
#include "package-module.h"

namespace {

const char kComponent[] = "extractor_debug";

const PackageModuleTable* g_table = nullptr;
std::string g_failure;

void LoadModule()
{
    const QByteArray path = QFile::encodeName(QCoreApplication::applicationDirPath() +
                                              QStringLiteral("/../Frameworks/") + QLatin1String(kPackageModuleFile));
    void* handle = dlopen(path.constData(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* reason = dlerror();
        g_failure = std::string("dlopen: ") + (reason != nullptr ? reason : "unknown error");
        return;
    }
    using Entry = const PackageModuleTable* (*)();
    const auto entry = reinterpret_cast<Entry>(dlsym(handle, kPackageModuleEntry));
    const PackageModuleTable* table = entry != nullptr ? entry() : nullptr;
    if (table == nullptr || table->version != kPackageModuleVersion) {
        g_failure = std::string("'") + path.constData() + "' is not this launcher's package module";
        dlclose(handle);
        return;
    }
    LOG_DEBUG(kComponent, "loaded package module '%s'\n", path.constData());
    g_table = table;
}

const PackageModuleTable* Module()
{
    static std::once_flag once;
    std::call_once(once, LoadModule);
    if (g_table == nullptr)
        LOG_ERROR(kComponent, "cannot load the package module: %s\n", g_failure.c_str());
    return g_table;
}

}  // namespace

namespace PackageTools {

bool Load(std::string* error)
{
    if (Module() != nullptr)
        return true;
    *error = "cannot load the package module: " + g_failure;
    return false;
}

bool Sha256(int fd, std::string* digest, std::string* error)
{
    const PackageModuleTable* module = Module();
    if (module == nullptr) {
        *error = "cannot load the package module: " + g_failure;
        return false;
    }
    return module->sha256(fd, digest, error);
}

InstalledScan* StartScan(const ustring& app)
{
    const PackageModuleTable* module = Module();
    return module != nullptr ? module->start_scan(app) : nullptr;
}

void EndScan(InstalledScan* scan)
{
    // A scan was only ever made by the module, which stays loaded.
    if (scan != nullptr && Module() != nullptr)
        Module()->end_scan(scan);
}

int Extract(const ExtractRequest& request)
{
    const PackageModuleTable* module = Module();
    return module != nullptr ? module->extract(request) : -1;
}

int Extract(const ustring& package, const ustring& dest)
{
    ExtractRequest request;
    request.package = package;
    request.dest = dest;
    return Extract(request);
}

int Compare(const ustring& package, const ustring& app, Comparison* result, std::string* error)
{
    const PackageModuleTable* module = Module();
    if (module == nullptr) {
        *error = "cannot load the package module: " + g_failure;
        return -1;
    }
    return module->compare(package, app, result, error);
}

// The executable has no test seam: the hook is never run.
void SetAfterDigestHookForTesting(void (*)()) {}

}  // namespace PackageTools
