// Scratch folders, log capture and an unprivileged child for the file layer's tests.
#pragma once

#include <grp.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "file-op.h"
#include "log.h"

// A folder of /dev/shm for the test when it is another file system than `here`.
inline bool MakeOtherVolumeFolder(const std::string& here, std::string& folder)
{
    struct stat a, b;
    folder = "/dev/shm/fileop-XXXXXX";
    if (stat(here.c_str(), &a) == 0 && stat("/dev/shm", &b) == 0 && a.st_dev != b.st_dev &&
        mkdtemp(folder.data()) != nullptr)
        return true;
    folder.clear();
    return false;
}

class FileOpTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "fileop-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        base_ = std::filesystem::canonical(pattern).string();
        root_ = base_ + "/work";
        ASSERT_EQ(mkdir(root_.c_str(), 0755), 0);
        std::ofstream(base_ + "/levels") << "file_op_debug=6\n";
        Logger::Initialize(Logger::LOG_TYPE_FILE, base_ + "/file.log", base_ + "/levels", 50, Logger::SAFETY_THREAD);
    }
    void TearDown() override
    {
        Logger::Destroy();
        for (const std::string& dir : {base_, other_})
            if (!dir.empty())
                std::filesystem::remove_all(dir);
    }
    std::string Path(const std::string& name) const { return root_ + "/" + name; }
    std::string Folder(const std::string& name) const { std::filesystem::create_directories(Path(name)); return Path(name); }
    // Writes a file, making its folders first.
    std::string Write(const std::string& name, const std::string& bytes) const
    {
        std::filesystem::create_directories(std::filesystem::path(Path(name)).parent_path());
        std::ofstream(Path(name), std::ios::binary) << bytes;
        return Path(name);
    }
    std::string Link(const std::string& target, const std::string& name) const
    {
        EXPECT_EQ(symlink(target.c_str(), Path(name).c_str()), 0);
        return Path(name);
    }
    // Lines the file layer logged since the test began.
    int LogLines() const
    {
        std::istringstream in(Read(base_ + "/file.log"));
        int count = 0;
        for (std::string line; std::getline(in, line);)
            count += line.find("file-op(") != std::string::npos;
        return count;
    }
    bool Logged(const std::string& text) const { return Read(base_ + "/file.log").find(text) != std::string::npos; }
    static std::string Read(const std::string& path)
    {
        std::ostringstream text;
        text << std::ifstream(path, std::ios::binary).rdbuf();
        return text.str();
    }
    static bool Exists(const std::string& path) { return std::filesystem::exists(std::filesystem::symlink_status(path)); }
    // Runs `body` in a child as user 65534 with the scratch folders opened to all;
    // returns its result (-128..127), or 1000 when the child could not be set up.
    // Only root can become another user: run as anyone else, the child would
    // still be its caller (1000 then too).
    template <typename Body>
    int RunAsNobody(Body body) const
    {
        if (geteuid() != 0)
            return 1000;
        chmod(base_.c_str(), 0755);
        pid_t child = fork();
        if (child == 0)
            _exit(setgid(65534) != 0 || setuid(65534) != 0 ? 255 : body() + 128);
        int status = 0;
        if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) == 255)
            return 1000;
        return WEXITSTATUS(status) - 128;
    }
    // Runs `body` in a child as an ordinary user and returns its result
    // (-128..127), or 1000 when the child could not be set up. As root, where
    // permissions do not bite, the child becomes user 65534 once `tree` and
    // everything in it have been handed to that user; otherwise it runs as
    // the test's own user.
    template <typename Body>
    int RunUnprivileged(const std::string& tree, Body body) const
    {
        const bool root = geteuid() == 0;
        if (root) {
            chmod(base_.c_str(), 0755);
            chmod(root_.c_str(), 0755);
            std::error_code ec;
            bool handed = lchown(tree.c_str(), 65534, 65534) == 0;
            for (auto it = std::filesystem::recursive_directory_iterator(tree, ec);
                 !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
                handed = lchown(it->path().c_str(), 65534, 65534) == 0 && handed;
            if (ec || !handed)
                return 1000;
        }
        pid_t child = fork();
        if (child == 0) {
            if (root && (setgroups(0, nullptr) != 0 || setresgid(65534, 65534, 65534) != 0 ||
                         setresuid(65534, 65534, 65534) != 0))
                _exit(255);
            _exit(body() + 128);
        }
        int status = 0;
        if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) == 255)
            return 1000;
        return WEXITSTATUS(status) - 128;
    }
    std::string base_, root_, other_;
};
