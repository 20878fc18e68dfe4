// The entry point of the package module (Contents/Frameworks/
// liblumora-package.so): a table of its operations. The module uses the
// launcher's own logger, texts and progress relay, which the executable
// exports, so it is only ever loaded by the launcher executable. Programs
// that link the package work in call the same table directly.
#pragma once

#include <string>

#include "package-tools.h"
#include "ustring.h"

struct PackageModuleTable {
    int version;  // kPackageModuleVersion of the module's build
    bool (*sha256)(int fd, std::string* digest, std::string* error);
    int (*extract)(const PackageTools::ExtractRequest& request);
    int (*compare)(const ustring& package, const ustring& app, PackageTools::Comparison* result,
                   std::string* error);
    InstalledScan* (*start_scan)(const ustring& app);
    void (*end_scan)(InstalledScan* scan);
};

// Raised whenever the table or what its operations take changes.
constexpr int kPackageModuleVersion = 3;
constexpr char kPackageModuleFile[] = "liblumora-package.so";
constexpr char kPackageModuleEntry[] = "lumora_package_module";

extern "C" const PackageModuleTable* lumora_package_module();
