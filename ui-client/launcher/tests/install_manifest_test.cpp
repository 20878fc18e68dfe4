// The install manifest: what Write records, what Check finds after the tree
// was damaged in each way a bundle can be, and records that cannot be used.
#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "install-manifest.h"

namespace {

namespace fs = std::filesystem;
using InstallManifest::Damage;
using InstallManifest::Result;

// Names no text format may take at face value: a line break, spaces, a
// backslash escape look-alike, bytes that are not UTF-8.
const std::string kOddName = "line\nbreak and \\x41 \xff\xfe";
const std::string kOddFolder = "odd \xc3(\n";

void WriteFile(const std::string& path, const std::string& data)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << data;
}

std::string ReadFile(const std::string& path)
{
    std::stringstream buffer;
    buffer << std::ifstream(path, std::ios::binary).rdbuf();
    return buffer.str();
}

class InstallManifestTest : public testing::Test {
protected:
    void SetUp() override
    {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/manifest-test-XXXXXX";
        ASSERT_NE(mkdtemp(&pattern[0]), nullptr);
        root = pattern;
        app = root + "/Lumora.app";
        manifest = InstallManifest::PathFor(app.c_str()).c_str();
        MakeBundle();
    }
    void TearDown() override
    {
        std::error_code ec;
        fs::permissions(root, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(root, ec);
    }

    // A bundle-like tree: nested folders, an executable, framework links and odd names.
    void MakeBundle()
    {
        const std::string versions = app + "/Contents/Frameworks/Core.framework/Versions";
        fs::create_directories(versions + "/A");
        fs::create_directories(app + "/Contents/MacOS");
        fs::create_directories(app + "/Contents/Resources/" + kOddFolder);
        fs::create_directories(app + "/Contents/Empty");
        WriteFile(app + "/Contents/Info.plist", "<plist></plist>\n");
        WriteFile(app + "/Contents/MacOS/lumora-ui", "#!/bin/sh\nexit 0\n");
        WriteFile(versions + "/A/Core", std::string(5000, 'c'));
        WriteFile(app + "/Contents/Resources/INFO", "build=130\n");
        WriteFile(app + "/Contents/Resources/" + kOddName, "odd");
        WriteFile(app + "/Contents/Resources/" + kOddFolder + "/" + kOddName, "odder");
        fs::create_symlink("A", versions + "/Current");
        fs::create_symlink("Versions/Current/Core", versions + "/../Core");
        fs::create_symlink("../" + kOddName + " target", app + "/Contents/Resources/odd link");
    }

    Result Check(Damage* damage) { return InstallManifest::Check(app.c_str(), manifest.c_str(), damage); }
    bool Write(std::string* error) { return InstallManifest::Write(app.c_str(), manifest.c_str(), error); }

    std::string root, app, manifest;
};

TEST_F(InstallManifestTest, WrittenRecordChecksIntactAndIgnoresNewFiles)
{
    EXPECT_EQ(InstallManifest::PathFor("/h/.Lumora/Lumora.app").c_str(), std::string("/h/.Lumora/Lumora.app.manifest"));
    std::string error;
    ASSERT_TRUE(Write(&error)) << error;
    EXPECT_FALSE(fs::exists(manifest + ".part"));
    const std::string text = ReadFile(manifest);
    EXPECT_EQ(text.rfind("end 18\n"), text.size() - 7) << text;  // 6 files, 3 links, 9 folders
    Damage damage;
    EXPECT_EQ(Check(&damage), Result::Intact) << damage.path.c_str() << ": " << damage.what;

    // Files that appear later are none of the record's business; a rewrite replaces the record.
    WriteFile(app + "/Contents/Resources/cache.db", "x");
    fs::create_directories(app + "/Contents/New");
    EXPECT_EQ(Check(&damage), Result::Intact);
    ASSERT_TRUE(Write(&error)) << error;
    fs::remove(app + "/Contents/Resources/cache.db");
    EXPECT_EQ(Check(&damage), Result::Damaged);
    EXPECT_EQ(damage.what, "missing");
}

TEST_F(InstallManifestTest, EachKindOfDamageIsNamedWithItsPath)
{
    std::string error;
    ASSERT_TRUE(Write(&error)) << error;
    const std::string versions = app + "/Contents/Frameworks/Core.framework/Versions";
    const std::string odd = app + "/Contents/Resources/" + kOddFolder + "/" + kOddName;
    const struct {
        const char* label;
        std::function<void()> damage;
        std::string path, what;
    } cases[] = {
        {"deleted file", [&] { fs::remove(app + "/Contents/Info.plist"); }, app + "/Contents/Info.plist", "missing"},
        {"truncated file", [&] { fs::resize_file(versions + "/A/Core", 4096); }, versions + "/A/Core",
         "has size 4096, expected 5000"},
        {"file replaced by a folder",
         [&] {
             fs::remove(app + "/Contents/Resources/INFO");
             fs::create_directory(app + "/Contents/Resources/INFO");
         },
         app + "/Contents/Resources/INFO", "is a folder, expected a file"},
        {"dangling link where a file belongs",
         [&] {
             fs::remove(app + "/Contents/MacOS/lumora-ui");
             fs::create_symlink("gone", app + "/Contents/MacOS/lumora-ui");
         },
         app + "/Contents/MacOS/lumora-ui", "is a symbolic link to 'gone', expected a file"},
        {"link target of another length",
         [&] {
             fs::remove(versions + "/Current");
             fs::create_symlink("AB", versions + "/Current");
         },
         versions + "/Current", "is a symbolic link to 'AB', expected one to 'A'"},
        {"link replaced by a copy of its file",
         [&] {
             fs::remove(versions + "/../Core");
             WriteFile(versions + "/../Core", std::string(5000, 'c'));
         },
         app + "/Contents/Frameworks/Core.framework/Core", "is a file, expected a symbolic link"},
        {"folder replaced by a link to a copy",
         [&] {
             fs::rename(app + "/Contents/MacOS", root + "/MacOS");
             fs::create_symlink(root + "/MacOS", app + "/Contents/MacOS");
         },
         app + "/Contents/MacOS", "is a symbolic link to '" + root + "/MacOS', expected a folder"},
        {"empty folder replaced by a file",
         [&] {
             fs::remove(app + "/Contents/Empty");
             WriteFile(app + "/Contents/Empty", "");
         },
         app + "/Contents/Empty", "is a file, expected a folder"},
        {"odd name", [&] { fs::remove(odd); }, odd, "missing"},
        {"bundle gone", [&] { fs::rename(app, root + "/elsewhere"); }, app, "missing"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        fs::remove_all(app);
        fs::remove_all(root + "/MacOS");
        fs::remove_all(root + "/elsewhere");
        MakeBundle();
        Damage damage;
        ASSERT_EQ(Check(&damage), Result::Intact) << damage.path.c_str() << ": " << damage.what;
        c.damage();
        EXPECT_EQ(Check(&damage), Result::Damaged);
        EXPECT_EQ(damage.path.c_str(), c.path);
        EXPECT_EQ(damage.what, c.what);
    }
}

TEST_F(InstallManifestTest, MissingGarbledOrCutRecordsAreNotTrusted)
{
    Damage damage;
    EXPECT_EQ(Check(&damage), Result::NoManifest);
    std::string error;
    ASSERT_TRUE(Write(&error)) << error;
    const std::string good = ReadFile(manifest);
    const size_t first_entry = good.find('\n') + 1;
    const size_t last_entry = good.rfind('\n', good.rfind("end ") - 2) + 1;
    const std::string garbled[] = {
        "",
        std::string(3000, '\x5a'),
        good.substr(0, good.size() / 2),                            // cut inside a line
        good.substr(0, good.rfind("end ")),                        // no trailer
        good.substr(0, last_entry) + good.substr(good.rfind("end ")),  // one line fewer than counted
        good.substr(0, first_entry) + "F 3 a\\x2fb\n" + good.substr(first_entry),     // a '/' smuggled into a name
        good.substr(0, first_entry) + "F 3 bad\\x4\n" + good.substr(first_entry),     // a cut escape
        good.substr(0, first_entry) + "F 3 two words\n" + good.substr(first_entry),   // a bare space
        good.substr(0, first_entry) + "D Nowhere/Deeper\n" + good.substr(first_entry),  // a folder without its parent
        good.substr(0, first_entry) + "X 3 what\n" + good.substr(first_entry),
    };
    for (const std::string& text : garbled) {
        WriteFile(manifest, text);
        EXPECT_EQ(Check(&damage), Result::Unreadable) << text;
    }
    fs::remove(manifest);
    fs::create_directory(manifest);
    EXPECT_EQ(Check(&damage), Result::Unreadable);
}

TEST_F(InstallManifestTest, WriteFailuresNameTheCallAndLeaveNoPart)
{
    std::string error;
    EXPECT_FALSE(InstallManifest::Write(app.c_str(), (root + "/no/such/folder/m").c_str(), &error));
    EXPECT_NE(error.find("open('" + root + "/no/such/folder/m.part'): No such file or directory"), std::string::npos)
        << error;
    EXPECT_FALSE(InstallManifest::Write((root + "/absent.app").c_str(), manifest.c_str(), &error));
    EXPECT_NE(error.find("absent.app'): No such file or directory"), std::string::npos) << error;

    // A read-only folder: permissions do not stop root, a read-only mount does.
    const std::string ro = root + "/ro";
    fs::create_directory(ro);
    if (geteuid() == 0 && mount("tmpfs", ro.c_str(), "tmpfs", MS_RDONLY, "size=64k") != 0)
        GTEST_SKIP() << "cannot mount a read-only tmpfs here";
    if (geteuid() != 0)
        fs::permissions(ro, fs::perms::owner_read | fs::perms::owner_exec);
    const bool written = InstallManifest::Write(app.c_str(), (ro + "/m").c_str(), &error);
    if (geteuid() == 0)
        umount2(ro.c_str(), MNT_DETACH);
    EXPECT_FALSE(written);
    EXPECT_TRUE(error.find("open('" + ro + "/m.part'): Read-only file system") != std::string::npos ||
                error.find("open('" + ro + "/m.part'): Permission denied") != std::string::npos)
        << error;
    EXPECT_FALSE(fs::exists(ro + "/m.part"));
}

}  // namespace
