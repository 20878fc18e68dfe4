// Unpacks the package archive below a destination folder, counting its
// entries first so that the progress dialog can show an exact percentage.
#pragma once

#include <string>
#include <unordered_set>

#include "ustring.h"

struct archive;
struct archive_entry;

class Extractor {
public:
    // Writes every entry below dest_path: 0 when all were written, -1 on any
    // failure (what was written before the failure stays on disk).
    int Extract();
    // Number of entries, or -1 when the archive cannot be opened. Counting
    // stops at an entry whose header can't be read; count_failure then
    // holds the reason (it is empty when the listing reached its end).
    int Count();
    // Prints every entry name on standard output; 0, or -1 when the archive
    // cannot be opened.
    int List();
    // Copies the data blocks of the current entry from ar to aw.
    int copy_data(archive* ar, archive* aw);

    // Why a libarchive call failed: the first handle's reason, else the
    // second's; never null.
    static std::string FailureReason(archive* first, archive* second = nullptr);

    ustring dest_path;  // destination folder
    ustring src_path;   // archive file

private:
    archive* OpenForListing();
    int ExtractEntries(archive* reader, archive* writer, int total);
    int PrepareEntry(archive_entry* entry);
    bool ReachesThroughLink(const ustring& relative, bool include_last);
    void ForgetSafeFolder(const ustring& relative);

    // Folders below dest_path already found to be real folders in this extraction.
    std::unordered_set<std::string> safe_folders;
    // Why the last Count stopped before the end of the listing; empty when it did not.
    std::string count_failure;
};
