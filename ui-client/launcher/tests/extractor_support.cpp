#include "extractor_support.h"

#include <archive.h>
#include <archive_entry.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "launcher.h"
#include "log.h"
#include "strtable.h"

namespace fs = std::filesystem;

namespace extractor_test {

namespace {

QTemporaryDir* g_root = nullptr;
std::string g_log;
int g_dirs = 0;

}  // namespace

ArchiveBuilder::ArchiveBuilder(const std::string& path, Format format)
{
    writer_ = archive_write_new();
    if (format == Zip) {
        ok_ = archive_write_set_format_zip(writer_) == ARCHIVE_OK;
    } else {
        ok_ = archive_write_set_format_pax_restricted(writer_) == ARCHIVE_OK;
        if (format == TarGz)
            ok_ = ok_ && archive_write_add_filter_gzip(writer_) == ARCHIVE_OK;
    }
    ok_ = ok_ && archive_write_open_filename(writer_, path.c_str()) == ARCHIVE_OK;
}

ArchiveBuilder::~ArchiveBuilder()
{
    if (writer_ != nullptr)
        archive_write_free(writer_);
}

void ArchiveBuilder::Add(const std::string& name, mode_t type, mode_t perm, const std::string& data,
                         const std::string& symlink, const std::string& hardlink)
{
    archive_entry* entry = archive_entry_new();
    archive_entry_set_pathname(entry, name.c_str());
    archive_entry_set_filetype(entry, type);
    archive_entry_set_perm(entry, perm);
    archive_entry_set_size(entry, static_cast<la_int64_t>(data.size()));
    archive_entry_set_mtime(entry, 1700000000, 0);
    if (!symlink.empty())
        archive_entry_set_symlink(entry, symlink.c_str());
    if (!hardlink.empty())
        archive_entry_set_hardlink(entry, hardlink.c_str());
    if (type == AE_IFCHR)
        archive_entry_set_rdev(entry, makedev(1, 3));
    if (archive_write_header(writer_, entry) != ARCHIVE_OK)
        ok_ = false;
    if (!data.empty() && archive_write_data(writer_, data.data(), data.size()) != static_cast<la_ssize_t>(data.size()))
        ok_ = false;
    archive_entry_free(entry);
}

void ArchiveBuilder::Dir(const std::string& name, mode_t perm) { Add(name, AE_IFDIR, perm, "", "", ""); }
void ArchiveBuilder::File(const std::string& name, const std::string& data, mode_t perm)
{
    Add(name, AE_IFREG, perm, data, "", "");
}
void ArchiveBuilder::Symlink(const std::string& name, const std::string& target)
{
    Add(name, AE_IFLNK, 0755, "", target, "");
}
void ArchiveBuilder::HardLink(const std::string& name, const std::string& target)
{
    Add(name, AE_IFREG, 0644, "", "", target);
}
void ArchiveBuilder::Node(const std::string& name, mode_t type) { Add(name, type, 0644, "", "", ""); }

bool ArchiveBuilder::Close()
{
    if (archive_write_close(writer_) != ARCHIVE_OK)
        ok_ = false;
    archive_write_free(writer_);
    writer_ = nullptr;
    return ok_;
}

int WriteSamplePackage(const std::string& path, ArchiveBuilder::Format format, const std::string& build)
{
    ArchiveBuilder b(path, format);
    b.Dir("Contents");
    b.Dir("Contents/MacOS");
    b.File("Contents/MacOS/lumora-ui", "#!/bin/sh\nexit 0\n", 0755);
    b.Dir("Contents/Resources");
    b.File("Contents/Resources/INFO", "[Version]\nbuild_version=" + build + "\n");
    b.Dir("Contents/Frameworks/Core.framework/Versions/A");
    b.File("Contents/Frameworks/Core.framework/Versions/A/Core", std::string(70000, 'c'));
    b.Symlink("Contents/Frameworks/Core.framework/Versions/Current", "A");
    b.Symlink("Contents/Frameworks/Core.framework/Core", "Versions/Current/Core");
    return b.Close() ? 9 : -1;
}

long TarOffsetAfter(const std::string& path, int entries)
{
    archive* reader = archive_read_new();
    archive_read_support_format_tar(reader);
    long offset = -1;
    if (archive_read_open_filename(reader, path.c_str(), 10240) == ARCHIVE_OK) {
        archive_entry* entry = nullptr;
        int seen = 0;
        while (seen < entries && archive_read_next_header(reader, &entry) == ARCHIVE_OK) {
            archive_read_data_skip(reader);
            ++seen;
        }
        // The next header starts where the previous entry's padded data ends.
        if (seen == entries && archive_read_next_header(reader, &entry) == ARCHIVE_OK)
            offset = static_cast<long>(archive_read_header_position(reader));
    }
    archive_read_free(reader);
    return offset;
}

Tree Snapshot(const std::string& root)
{
    Tree tree;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        const fs::path& p = it->path();
        struct stat st;
        if (lstat(p.c_str(), &st) != 0)
            continue;
        Node node{'?', "", st.st_mode & 07777};
        if (S_ISLNK(st.st_mode)) {
            node.kind = 'l';
            node.content = fs::read_symlink(p, ec).string();
        } else if (S_ISDIR(st.st_mode)) {
            node.kind = 'd';
        } else if (S_ISREG(st.st_mode)) {
            node.kind = 'f';
            node.content = ReadText(p.string());
        }
        tree[p.lexically_relative(root).string()] = node;
    }
    return tree;
}

bool WriteText(const std::string& path, const std::string& text)
{
    std::error_code ec;
    fs::create_directories(fs::path(path).parent_path(), ec);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    return static_cast<bool>(out);
}

std::string ReadText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}

bool Exists(const std::string& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

std::string LogText() { return ReadText(g_log); }
size_t LogMark() { return LogText().size(); }

int LogCount(size_t mark, const std::string& text)
{
    const std::string log = LogText();
    int n = 0;
    for (size_t at = log.find(text, mark); at != std::string::npos; at = log.find(text, at + 1))
        ++n;
    return n;
}

ProgressRecorder::ProgressRecorder()
{
    auto* connection = new QMetaObject::Connection(QObject::connect(
        Notify_Adapter::GetInstance(), &Notify_Adapter::sigUpdateProgress,
        [this](int total, int current) { calls.emplace_back(total, current); }));
    connection_ = connection;
}

ProgressRecorder::~ProgressRecorder()
{
    auto* connection = static_cast<QMetaObject::Connection*>(connection_);
    QObject::disconnect(*connection);
    delete connection;
}

std::string TempDir()
{
    const std::string dir = QFile::encodeName(g_root->path()).toStdString() + "/t" + std::to_string(++g_dirs);
    fs::create_directories(dir);
    return dir;
}

}  // namespace extractor_test

// Entry of the extractor and installation tests: a temporary home, the
// string table and a debug-level log file.
int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    QTemporaryDir root;
    if (!root.isValid())
        return 2;
    extractor_test::g_root = &root;
    const std::string base = QFile::encodeName(root.path()).toStdString();
    setenv("HOME", (base + "/home").c_str(), 1);
    extractor_test::g_log = base + "/test.log";
    const std::string levels = base + "/levels";
    extractor_test::WriteText(levels, "extractor_debug=7\nservice_debug=7\nfile_op_debug=4\n");
    if (Logger::Initialize(Logger::LOG_TYPE_FILE, extractor_test::g_log, levels, 50, Logger::SAFETY_THREAD) != 0)
        return 2;
    StrTable::InitStrTable();
    const int result = RUN_ALL_TESTS();
    Logger::Destroy();
    return result;
}
