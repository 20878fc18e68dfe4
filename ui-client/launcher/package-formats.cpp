#include "package-formats.h"

#include <archive.h>

void SupportPackageFormats(archive* handle)
{
    archive_read_support_filter_all(handle);
    // The order of libarchive's own "all": a format registered earlier bids
    // first (tar before iso9660, or a truncated tar reads as ending early).
    archive_read_support_format_ar(handle);
    archive_read_support_format_cpio(handle);
    archive_read_support_format_empty(handle);
    archive_read_support_format_lha(handle);
    archive_read_support_format_mtree(handle);
    archive_read_support_format_tar(handle);
    archive_read_support_format_xar(handle);
    archive_read_support_format_warc(handle);
    archive_read_support_format_7zip(handle);
    archive_read_support_format_cab(handle);
    archive_read_support_format_rar(handle);
    archive_read_support_format_rar5(handle);
    archive_read_support_format_iso9660(handle);
    archive_read_support_format_zip_seekable(handle);
}
