// The package module's entry point: the package work as a table.
#include "package-module.h"

#include "extractor.h"
#include "installed-scan.h"
#include "package-compare.h"
#include "sha256-file.h"

namespace {

int ExtractPackage(const PackageTools::ExtractRequest& request)
{
    Extractor extractor;
    extractor.dest_path = request.dest;
    extractor.src_path = request.package;
    extractor.package_fd = request.package_fd;
    extractor.link_source = request.link_source;
    extractor.scan = request.scan;
    return extractor.Extract();
}

InstalledScan* StartScan(const ustring& app)
{
    return new InstalledScan(app);
}

void EndScan(InstalledScan* scan)
{
    delete scan;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) const PackageModuleTable* lumora_package_module()
{
    static const PackageModuleTable table = {kPackageModuleVersion, &Sha256Descriptor, &ExtractPackage,
                                             &ComparePackage, &StartScan, &EndScan};
    return &table;
}
