// Helpers of the extractor and installation tests: folder snapshots, the test
// log (its path set by main in extractor_support.cpp) and progress reports.
#pragma once
#include <archive.h>
#include <sys/stat.h>

#include <QObject>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <utility>

#include "bundle_runner.h"
#include "notify-adapter.h"

namespace extractor_test {

using namespace bundle_runner;  // Entry, Format, WriteArchive
namespace fs = std::filesystem;
inline std::string g_root, g_log;

inline std::string ReadText(const std::string& path)
{
    std::stringstream buffer;
    buffer << std::ifstream(path, std::ios::binary).rdbuf();
    return buffer.str();
}

inline bool WriteText(const std::string& path, const std::string& text)
{
    std::error_code ec;
    fs::create_directories(fs::path(path).parent_path(), ec);
    return static_cast<bool>(std::ofstream(path, std::ios::binary | std::ios::trunc) << text);
}

inline bool Exists(const std::string& path) { return fs::symlink_status(path).type() != fs::file_type::not_found; }

inline std::string TempDir()  // a fresh folder below the test root
{
    static int count = 0;
    const std::string dir = g_root + "/t" + std::to_string(++count);
    fs::create_directories(dir);
    return dir;
}

// Kind, permissions and content or link target of every object below root.
inline std::string Snapshot(const std::string& root)
{
    std::ostringstream out;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        struct stat st;
        if (lstat(it->path().c_str(), &st) == 0)
            out << it->path().lexically_relative(root).string() << " " << std::oct << st.st_mode << ": "
                << (S_ISLNK(st.st_mode) ? fs::read_symlink(it->path(), ec).string()
                                        : S_ISREG(st.st_mode) ? ReadText(it->path()) : "") << "\n";
    }
    return out.str();
}

// Bundle-like: folders, files, an executable and framework-style links.
inline std::vector<Entry> SamplePackage(const std::string& build)
{
    const std::string core = "Contents/Frameworks/Core.framework/";
    const std::string plist =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
        "<key>CFBundleExecutable</key><string>lumora-ui</string></dict></plist>\n";
    return {{'d', "Contents"}, {'f', "Contents/Info.plist", plist}, {'d', "Contents/MacOS"},
            {'f', "Contents/MacOS/lumora-ui", "#!/bin/sh\nexit 0\n", 0755},
            {'d', "Contents/Resources"}, {'f', "Contents/Resources/INFO", "[Version]\nbuild_version=" + build + "\n"},
            {'d', core + "Versions/A"}, {'f', core + "Versions/A/Core", std::string(70000, 'c')},
            {'l', core + "Versions/Current", "A"}, {'l', core + "Core", "Versions/Current/Core"}};
}

// Cuts a tar inside the header that follows its first `entries` entries.
inline bool CutTarAfter(const std::string& path, int entries)
{
    archive* reader = archive_read_new();
    archive_read_support_format_tar(reader);
    archive_entry* entry = nullptr;
    la_int64_t offset = -1;
    if (archive_read_open_filename(reader, path.c_str(), 10240) == ARCHIVE_OK)
        for (int seen = 0; offset < 0 && archive_read_next_header(reader, &entry) == ARCHIVE_OK;)
            if (++seen > entries)
                offset = archive_read_header_position(reader);
    archive_read_free(reader);
    std::error_code ec;
    fs::resize_file(path, static_cast<uintmax_t>(offset + 100), ec);
    return offset > 0 && !ec;
}

inline size_t LogMark() { return ReadText(g_log).size(); }
inline std::string LogSince(size_t mark) { return ReadText(g_log).substr(mark); }
inline int LogCount(size_t mark, const std::string& text)
{
    const std::string log = LogSince(mark);
    int n = 0;
    for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1))
        ++n;
    return n;
}

// Records Notify_Adapter's progress reports while it lives.
struct ProgressRecorder {
    std::vector<std::pair<int, int>> calls;  // (total, current)
    std::function<void(int current)> onCall;
    QObject scope;
    ProgressRecorder()
    {
        QObject::connect(Notify_Adapter::GetInstance(), &Notify_Adapter::sigUpdateProgress, &scope, [this](int t, int n) {
            calls.emplace_back(t, n);
            if (onCall)
                onCall(n);
        });
    }
};

}  // namespace extractor_test
