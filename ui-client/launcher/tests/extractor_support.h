// Helpers shared by the extractor and installation tests: archives written
// with libarchive's writer, a snapshot of a folder tree, the test log and the
// progress reports.
#pragma once

#include <sys/types.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

struct archive;

namespace extractor_test {

// Builds an archive file entry by entry.
class ArchiveBuilder {
public:
    enum Format { Zip, Tar, TarGz };

    ArchiveBuilder(const std::string& path, Format format);
    ~ArchiveBuilder();
    bool ok() const { return ok_; }

    void Dir(const std::string& name, mode_t perm = 0755);
    void File(const std::string& name, const std::string& data, mode_t perm = 0644);
    void Symlink(const std::string& name, const std::string& target);
    void HardLink(const std::string& name, const std::string& target);
    void Node(const std::string& name, mode_t type);
    // Finishes the archive; returns false when any step failed.
    bool Close();

private:
    void Add(const std::string& name, mode_t type, mode_t perm, const std::string& data,
             const std::string& symlink, const std::string& hardlink);

    archive* writer_ = nullptr;
    bool ok_ = true;
};

// A small bundle-like package: folders, files, an executable and a
// framework-style symbolic link. Returns the number of entries.
int WriteSamplePackage(const std::string& path, ArchiveBuilder::Format format, const std::string& build);

// Byte size of each entry of an uncompressed tar written by ArchiveBuilder,
// so a test can cut the file right after the k-th entry.
long TarOffsetAfter(const std::string& path, int entries);

struct Node {
    char kind;  // 'f' file, 'd' folder, 'l' symbolic link, '?' other
    std::string content;  // file bytes or link target
    mode_t perm;
    bool operator==(const Node& o) const { return kind == o.kind && content == o.content && perm == o.perm; }
};
using Tree = std::map<std::string, Node>;

// Every object below root (links not followed), keyed by relative path.
Tree Snapshot(const std::string& root);
bool WriteText(const std::string& path, const std::string& text);
std::string ReadText(const std::string& path);
bool Exists(const std::string& path);  // lstat succeeds

// The log file of the test process (debug level for every component).
std::string LogText();
// Occurrences of `text` in the log written since `mark` (a LogText() size).
int LogCount(size_t mark, const std::string& text);
size_t LogMark();

// Records Notify_Adapter's progress reports while it lives.
class ProgressRecorder {
public:
    ProgressRecorder();
    ~ProgressRecorder();
    std::vector<std::pair<int, int>> calls;

private:
    void* connection_;
};

// A fresh folder below the test root.
std::string TempDir();

}  // namespace extractor_test
