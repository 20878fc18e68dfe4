// The package work linked into the program that calls it.
#include "package-tools.h"

#include "extractor.h"
#include "sha256-file.h"

namespace PackageTools {

bool Sha256(const ustring& path, std::string* digest, std::string* error)
{
    return Sha256File(path, digest, error);
}

int Extract(const ustring& package, const ustring& dest)
{
    Extractor extractor;
    extractor.dest_path = dest;
    extractor.src_path = package;
    return extractor.Extract();
}

}  // namespace PackageTools
