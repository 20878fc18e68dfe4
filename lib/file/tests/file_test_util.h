// Scratch folders, log capture and an unprivileged child process for the
// file layer's tests.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "file-op.h"
#include "log.h"

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
        Logger::Initialize(Logger::LOG_TYPE_FILE, base_ + "/file.log", base_ + "/levels", 50,
                           Logger::SAFETY_THREAD);
    }

    void TearDown() override
    {
        Logger::Destroy();
        std::filesystem::remove_all(base_);
    }

    std::string Path(const std::string& name) const { return root_ + "/" + name; }

    std::string Write(const std::string& name, const std::string& bytes) const
    {
        std::ofstream(Path(name), std::ios::binary) << bytes;
        return Path(name);
    }

    std::string Folder(const std::string& name) const
    {
        std::filesystem::create_directories(Path(name));
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
        std::ifstream in(base_ + "/file.log");
        int count = 0;
        for (std::string line; std::getline(in, line);)
            count += line.find("file-op(") != std::string::npos;
        return count;
    }

    std::string LogText() const { return Read(base_ + "/file.log"); }

    static std::string Read(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

    static bool Exists(const std::string& path)
    {
        struct stat st;
        return lstat(path.c_str(), &st) == 0;
    }

    // Makes the scratch folders reachable by an unprivileged user.
    void OpenToAll() const { chmod(base_.c_str(), 0755); }

    std::string base_;
    std::string root_;
};

// Runs `body` in a child process as the unprivileged user 65534 and returns
// its result (-128 to 127), or 1000 when the child could not be set up.
inline int RunAsNobody(const std::function<int()>& body)
{
    pid_t child = fork();
    if (child < 0)
        return 1000;
    if (child == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0)
            _exit(255);
        _exit(body() + 128);
    }
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) == 255)
        return 1000;
    return WEXITSTATUS(status) - 128;
}

// A second writable file system for cross-volume moves, or "" when none.
inline std::string OtherVolumeFolder(const std::string& here)
{
    struct stat local;
    struct stat shm;
    if (stat(here.c_str(), &local) != 0 || stat("/dev/shm", &shm) != 0 || local.st_dev == shm.st_dev)
        return "";
    std::string pattern = "/dev/shm/fileop-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr)
        return "";
    return pattern;
}
