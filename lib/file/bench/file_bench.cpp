// Timing harness for the file layer against the system tools, one run each:
//   FSCopy of a 256 MiB file          against cp (and cp followed by sync)
//   FSRemove of a 20,000-entry tree   against rm -rf
//   FSRename of a 2,000-entry tree from /dev/shm to another volume against mv
// Usage: file_bench [work folder on a disk volume [copy|remove|move]]
// (default: the temp folder, all three)
// Everything the harness creates is removed before it exits.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "file-op.h"

namespace {

constexpr size_t kCopyBytes = 256u * 1024 * 1024;
constexpr int kRemoveFolders = 100;
constexpr int kRemoveFilesPerFolder = 199;   // 100 + 100 * 199 = 20,000 entries
constexpr int kMoveFolders = 20;
constexpr int kMoveFilesPerFolder = 99;      // 20 + 20 * 99 = 2,000 entries

double Seconds(const std::function<void()>& work)
{
    auto start = std::chrono::steady_clock::now();
    work();
    std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    return elapsed.count();
}

bool Run(const std::string& command)
{
    int status = system(command.c_str());
    if (status != 0)
        fprintf(stderr, "command failed (%d): %s\n", status, command.c_str());
    return status == 0;
}

std::string Quoted(const std::string& path)
{
    return "'" + path + "'";
}

bool WriteFile(const std::string& path, size_t bytes)
{
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
        return false;
    std::vector<char> block(1 << 20);
    for (size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<char>((i * 2654435761u) >> 13);
    bool ok = true;
    for (size_t done = 0; ok && done < bytes; done += block.size())
        ok = write(fd, block.data(), block.size()) == static_cast<ssize_t>(block.size());
    ok = fsync(fd) == 0 && ok;
    return close(fd) == 0 && ok;
}

// A tree of `folders` folders holding `files` small files each.
bool MakeTree(const std::string& root, int folders, int files)
{
    if (mkdir(root.c_str(), 0755) != 0)
        return false;
    for (int d = 0; d < folders; ++d) {
        std::string folder = root + "/d" + std::to_string(d);
        if (mkdir(folder.c_str(), 0755) != 0)
            return false;
        for (int f = 0; f < files; ++f) {
            int fd = open((folder + "/f" + std::to_string(f)).c_str(), O_WRONLY | O_CREAT, 0644);
            if (fd < 0 || write(fd, "entry\n", 6) != 6 || close(fd) != 0)
                return false;
        }
    }
    sync();
    return true;
}

void Report(const char* what, double ours, double theirs, const char* tool)
{
    printf("%-44s %8.3f s   %-14s %8.3f s   ratio %.2f\n", what, ours, tool, theirs, ours / theirs);
}

void BenchCopy(const std::string& base)
{
    std::string src = base + "/copy-src";
    if (!WriteFile(src, kCopyBytes)) {
        fprintf(stderr, "cannot write %s\n", src.c_str());
        return;
    }
    std::string ours = base + "/copy-ours";
    std::string theirs = base + "/copy-cp";
    int result = 0;
    double t_ours = Seconds([&] { result = FSCopy(src, ours, false); });
    unlink(ours.c_str());
    sync();
    double t_cp = Seconds([&] { Run("cp " + Quoted(src) + " " + Quoted(theirs)); });
    unlink(theirs.c_str());
    sync();
    double t_cp_sync = Seconds([&] { Run("cp " + Quoted(src) + " " + Quoted(theirs) + " && sync " + Quoted(theirs)); });
    unlink(theirs.c_str());
    unlink(src.c_str());
    if (result != 0)
        fprintf(stderr, "FSCopy failed: %d\n", result);
    Report("FSCopy 256 MiB (fsync included)", t_ours, t_cp, "cp");
    Report("FSCopy 256 MiB (fsync included)", t_ours, t_cp_sync, "cp + sync FILE");
}

void BenchRemove(const std::string& base)
{
    std::string ours = base + "/remove-ours";
    std::string theirs = base + "/remove-rm";
    if (!MakeTree(ours, kRemoveFolders, kRemoveFilesPerFolder) ||
        !MakeTree(theirs, kRemoveFolders, kRemoveFilesPerFolder)) {
        fprintf(stderr, "cannot build the removal trees\n");
        Run("rm -rf " + Quoted(ours) + " " + Quoted(theirs));
        return;
    }
    int result = 0;
    double t_ours = Seconds([&] { result = FSRemove(ours, false); });
    double t_rm = Seconds([&] { Run("rm -rf " + Quoted(theirs)); });
    if (result != 0) {
        fprintf(stderr, "FSRemove failed: %d\n", result);
        Run("rm -rf " + Quoted(ours));
    }
    Report("FSRemove 20,000 entries", t_ours, t_rm, "rm -rf");
}

void BenchMove(const std::string& base)
{
    struct stat here;
    struct stat shm;
    if (stat(base.c_str(), &here) != 0 || stat("/dev/shm", &shm) != 0 || here.st_dev == shm.st_dev) {
        printf("FSRename across volumes: skipped, /dev/shm is not a second file system\n");
        return;
    }
    std::string pattern = "/dev/shm/file-bench-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr)
        return;
    std::string shm_root = pattern;
    std::string src_ours = shm_root + "/ours";
    std::string src_mv = shm_root + "/mv";
    std::string dst_ours = base + "/moved-ours";
    std::string dst_mv = base + "/moved-mv";
    int result = 0;
    double t_ours = -1;
    double t_mv = -1;
    if (MakeTree(src_ours, kMoveFolders, kMoveFilesPerFolder) && MakeTree(src_mv, kMoveFolders, kMoveFilesPerFolder)) {
        t_ours = Seconds([&] { result = FSRename(src_ours, dst_ours, true); });
        t_mv = Seconds([&] { Run("mv " + Quoted(src_mv) + " " + Quoted(dst_mv)); });
    }
    Run("rm -rf " + Quoted(shm_root) + " " + Quoted(dst_ours) + " " + Quoted(dst_mv));
    if (result != 0)
        fprintf(stderr, "FSRename failed: %d\n", result);
    if (t_ours >= 0)
        Report("FSRename 2,000 entries /dev/shm -> disk", t_ours, t_mv, "mv");
}

}  // namespace

int main(int argc, char** argv)
{
    std::string parent = argc > 1 ? argv[1] : std::filesystem::temp_directory_path().string();
    std::string pattern = parent + "/file-bench-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        perror("mkdtemp");
        return 1;
    }
    std::string base = pattern;
    std::string only = argc > 2 ? argv[2] : "";
    if (only.empty() || only == "copy")
        BenchCopy(base);
    if (only.empty() || only == "remove")
        BenchRemove(base);
    if (only.empty() || only == "move")
        BenchMove(base);
    Run("rm -rf " + Quoted(base));
    return 0;
}
