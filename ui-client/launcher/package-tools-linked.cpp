// The package work linked into the program that calls it: the package
// module's own table, called in-process.
#include "package-tools.h"

#include "package-module.h"

namespace PackageTools {

bool Load(std::string*)
{
    return true;
}

bool Sha256(const ustring& path, std::string* digest, std::string* error)
{
    return lumora_package_module()->sha256(path, digest, error);
}

int Extract(const ustring& package, const ustring& dest)
{
    return lumora_package_module()->extract(package, dest);
}

int Compare(const ustring& package, const ustring& app, Comparison* result, std::string* error)
{
    return lumora_package_module()->compare(package, app, result, error);
}

}  // namespace PackageTools
