// The archive formats a package may come in, shared by everything that reads
// one (the extractor, the comparison with an installed copy), so that they
// all read the same entries from the same bytes.
#pragma once

struct archive;

// Every format and filter libarchive reads, with zip read only through its
// central directory: a zip whose directory is missing or damaged (a
// truncated download) would otherwise be read entry by entry from the local
// headers, which lose symbolic links and permissions.
void SupportPackageFormats(archive* handle);
