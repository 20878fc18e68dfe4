// The package module's entry point: the package work as a table.
#include "package-module.h"

#include "extractor.h"
#include "package-compare.h"
#include "sha256-file.h"

namespace {

int ExtractPackage(const ustring& package, const ustring& dest)
{
    Extractor extractor;
    extractor.dest_path = dest;
    extractor.src_path = package;
    return extractor.Extract();
}

}  // namespace

extern "C" __attribute__((visibility("default"))) const PackageModuleTable* lumora_package_module()
{
    static const PackageModuleTable table = {kPackageModuleVersion, &Sha256File, &ExtractPackage,
                                             &ComparePackage};
    return &table;
}
