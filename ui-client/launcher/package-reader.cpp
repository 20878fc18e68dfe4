#include "package-reader.h"

#include <archive.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include <minizip/unzip.h>

namespace package_reader {

namespace {

// A read right after a seek asks for little: a reader that skips the
// entries another one writes reads their local headers only. Reads that
// follow one another (an entry's data) double up to the largest block.
const size_t kFirstBlock = 4 * 1024;
const size_t kReadBlock = 64 * 1024;

la_ssize_t ReadBlock(archive* handle, void* data, const void** block)
{
    auto* source = static_cast<FdSource*>(data);
    const size_t want = source->next_read < kFirstBlock ? kFirstBlock : source->next_read;
    for (;;) {
        const ssize_t n = pread(source->fd, &source->buffer[0], want, source->offset);
        if (n >= 0) {
            source->offset += n;
            source->next_read = want * 2 < source->buffer.size() ? want * 2 : source->buffer.size();
            *block = source->buffer.data();
            return n;
        }
        if (errno != EINTR) {
            archive_set_error(handle, errno, "pread of the package failed");
            return -1;
        }
    }
}

la_int64_t SeekTo(archive*, void* data, la_int64_t offset, int whence)
{
    auto* source = static_cast<FdSource*>(data);
    const int64_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? source->offset : source->size;
    if (base + offset < 0)
        return ARCHIVE_FATAL;
    source->offset = base + offset;
    source->next_read = kFirstBlock;
    return source->offset;
}

la_int64_t SkipAhead(archive*, void* data, la_int64_t request)
{
    auto* source = static_cast<FdSource*>(data);
    const int64_t left = source->size > source->offset ? source->size - source->offset : 0;
    const int64_t skipped = request < left ? request : left;
    source->offset += skipped;
    source->next_read = kFirstBlock;
    return skipped;
}

// minizip's file functions over a descriptor: the "file name" it is given
// is the FdSource itself.
voidpf ZipOpen(voidpf, const void* name, int mode)
{
    return (mode & ZLIB_FILEFUNC_MODE_WRITE) != 0 ? nullptr : const_cast<void*>(name);
}

// minizip reads a central directory a few bytes at a time: those reads are
// served from a window of the file read in one call.
bool FillWindow(FdSource* source)
{
    source->buffer.resize(kReadBlock);
    for (;;) {
        const ssize_t n = pread(source->fd, &source->buffer[0], source->buffer.size(), source->offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        source->window_start = source->offset;
        source->window_length = static_cast<size_t>(n);
        return true;
    }
}

uLong ZipRead(voidpf, voidpf stream, void* buffer, uLong size)
{
    auto* source = static_cast<FdSource*>(stream);
    if (size < kReadBlock / 4) {
        const bool inside = source->offset >= source->window_start &&
                            source->offset + static_cast<int64_t>(size) <=
                                source->window_start + static_cast<int64_t>(source->window_length);
        if (!inside && !FillWindow(source))
            return 0;
        const size_t at = static_cast<size_t>(source->offset - source->window_start);
        const size_t n = size < source->window_length - at ? size : source->window_length - at;
        std::memcpy(buffer, source->buffer.data() + at, n);
        source->offset += static_cast<int64_t>(n);
        return static_cast<uLong>(n);
    }
    size_t done = 0;
    while (done < size) {
        const ssize_t n = pread(source->fd, static_cast<char*>(buffer) + done, size - done, source->offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<size_t>(n);
        source->offset += n;
    }
    return static_cast<uLong>(done);
}

uLong ZipWrite(voidpf, voidpf, const void*, uLong)
{
    return 0;
}

ZPOS64_T ZipTell(voidpf, voidpf stream)
{
    return static_cast<ZPOS64_T>(static_cast<FdSource*>(stream)->offset);
}

long ZipSeek(voidpf, voidpf stream, ZPOS64_T offset, int origin)
{
    auto* source = static_cast<FdSource*>(stream);
    const int64_t base = origin == ZLIB_FILEFUNC_SEEK_SET ? 0
                         : origin == ZLIB_FILEFUNC_SEEK_CUR ? source->offset
                                                            : source->size;
    source->offset = base + static_cast<int64_t>(offset);
    return 0;
}

int ZipClose(voidpf, voidpf)
{
    return 0;
}

int ZipError(voidpf, voidpf)
{
    return 0;
}

bool SizeOf(int fd, int64_t* size)
{
    struct stat st;
    if (fstat(fd, &st) != 0)
        return false;
    *size = st.st_size;
    return true;
}

}  // namespace

int OpenOnDescriptor(archive* handle, int fd, FdSource* source)
{
    source->fd = fd;
    source->offset = 0;
    source->buffer.resize(kReadBlock);
    if (!SizeOf(fd, &source->size)) {
        archive_set_error(handle, errno, "fstat of the package failed");
        return ARCHIVE_FATAL;
    }
    archive_read_set_read_callback(handle, ReadBlock);
    archive_read_set_seek_callback(handle, SeekTo);
    archive_read_set_skip_callback(handle, SkipAhead);
    archive_read_set_callback_data(handle, source);
    return archive_read_open1(handle);
}

bool ReadZipCrcs(int fd, std::unordered_map<std::string, ZipCrc>* crcs, std::string* error)
{
    FdSource source;
    source.fd = fd;
    if (!SizeOf(fd, &source.size)) {
        *error = std::string("fstat: ") + std::strerror(errno);
        return false;
    }
    zlib_filefunc64_def functions = {ZipOpen, ZipRead, ZipWrite, ZipTell, ZipSeek, ZipClose, ZipError, nullptr};
    unzFile zip = unzOpen2_64(&source, &functions);
    if (zip == nullptr) {
        *error = "unzOpen2_64 failed: no zip central directory";
        return false;
    }
    std::vector<char> name(65536 + 1);
    int r = unzGoToFirstFile(zip);
    for (; r == UNZ_OK; r = unzGoToNextFile(zip)) {
        unz_file_info64 info;
        if (unzGetCurrentFileInfo64(zip, &info, name.data(), name.size() - 1, nullptr, 0, nullptr, 0) != UNZ_OK)
            break;
        name[info.size_filename < name.size() - 1 ? info.size_filename : name.size() - 1] = '\0';
        const std::string key = NormalName(name.data());
        const ZipCrc value{static_cast<uint32_t>(info.crc), info.uncompressed_size, false};
        auto inserted = crcs->emplace(key, value);
        ZipCrc& known = inserted.first->second;
        if (!inserted.second && (known.crc != value.crc || known.size != value.size))
            known.ambiguous = true;
    }
    unzClose(zip);
    if (r != UNZ_END_OF_LIST_OF_FILE) {
        *error = "unzGetCurrentFileInfo64 failed: " + std::to_string(r);
        crcs->clear();
        return false;
    }
    return true;
}

std::string NormalName(const std::string& name)
{
    std::string normal;
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = name.find('/', start);
        if (end == std::string::npos)
            end = name.size();
        const size_t length = end - start;
        if (length == 2 && name.compare(start, 2, "..") == 0)
            return std::string();
        if (length > 0 && !(length == 1 && name[start] == '.')) {
            if (!normal.empty())
                normal += '/';
            normal.append(name, start, length);
        }
        start = end + 1;
    }
    return normal;
}

}  // namespace package_reader
