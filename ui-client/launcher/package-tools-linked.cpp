// The package work linked into the program that calls it: the package
// module's own table, called in-process.
#include "package-tools.h"

#include <atomic>

#include "package-module.h"

namespace PackageTools {

namespace {

std::atomic<void (*)()> g_after_digest{nullptr};

}  // namespace

bool Load(std::string*)
{
    return true;
}

bool Sha256(int fd, std::string* digest, std::string* error)
{
    const bool hashed = lumora_package_module()->sha256(fd, digest, error);
    if (void (*hook)() = g_after_digest.load())
        hook();
    return hashed;
}

InstalledScan* StartScan(const ustring& app)
{
    return lumora_package_module()->start_scan(app);
}

void EndScan(InstalledScan* scan)
{
    if (scan != nullptr)
        lumora_package_module()->end_scan(scan);
}

int Extract(const ExtractRequest& request)
{
    return lumora_package_module()->extract(request);
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
    return lumora_package_module()->compare(package, app, result, error);
}

void SetAfterDigestHookForTesting(void (*hook)())
{
    g_after_digest = hook;
}

}  // namespace PackageTools
