// The comparison of an installed bundle with the package it was extracted
// from (PackageTools::Compare), in the package module with the extractor.
#pragma once

#include <string>

#include "package-tools.h"
#include "ustring.h"

// As PackageTools::Compare.
int ComparePackage(const ustring& package, const ustring& app, PackageTools::Comparison* result,
                   std::string* error);
