// PackageTools::Compare: a package extracted by the launcher's own
// extraction, then damaged in one way at a time.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <functional>

#include "extractor_support.h"
#include "package-tools.h"

using namespace extractor_test;

namespace {

const std::string kCore = "Contents/Frameworks/Core.framework/";

// A bundle-like package with permissions a real one has: folders 0755, an
// executable, a read-only resource and framework-style links.
std::vector<Entry> Package()
{
    std::string binary(70000, 'c');
    for (size_t i = 0; i < binary.size(); i += 7)
        binary[i] = static_cast<char>(i * 31);
    return {{'d', "Contents", "", 0755},
            {'f', "Contents/Info.plist", "<plist><key>CFBundleExecutable</key></plist>\n"},
            {'d', "Contents/MacOS", "", 0755},
            {'f', "Contents/MacOS/lumora-ui", "#!/bin/sh\nexit 0\n", 0755},
            {'d', "Contents/Resources", "", 0755},
            {'f', "Contents/Resources/INFO", "[Version]\nbuild_version=130\n", 0444},
            {'d', kCore + "Versions/A", "", 0755},
            {'f', kCore + "Versions/A/Core", binary, 0755},
            {'l', kCore + "Versions/Current", "A"},
            {'l', kCore + "Core", "Versions/Current/Core"}};
}

std::string Describe(const PackageTools::Comparison& c)
{
    std::string text;
    for (const auto& d : c.damaged)
        text += std::string("damaged '") + d.path.c_str() + "': " + d.what + "\n";
    for (const auto& e : c.extra)
        text += std::string("extra '") + e.c_str() + "'\n";
    return text;
}

// Writes `entries` as a package in a fresh folder, extracts it to <folder>/app
// and returns the folder.
std::string Installed(const std::vector<Entry>& entries, Format format = Zip)
{
    const std::string dir = TempDir();
    EXPECT_TRUE(WriteArchive(dir + "/p.vxa", format, entries));
    EXPECT_EQ(PackageTools::Extract((dir + "/p.vxa").c_str(), (dir + "/app").c_str()), 0) << LogSince(0);
    return dir;
}

PackageTools::Comparison Compared(const std::string& dir)
{
    PackageTools::Comparison result;
    std::string error;
    EXPECT_EQ(PackageTools::Compare((dir + "/p.vxa").c_str(), (dir + "/app").c_str(), &result, &error), 0) << error;
    return result;
}

TEST(PackageCompare, FreshExtractionIsIntactInEveryFormatAndUmask)
{
    for (Format format : {Zip, Tar, TarGz}) {
        for (mode_t mask : {022, 077, 0}) {
            const mode_t saved = umask(mask);
            const std::string dir = Installed(Package(), format);
            const PackageTools::Comparison result = Compared(dir);
            umask(saved);
            EXPECT_EQ(Describe(result), "") << "format " << format << ", umask 0" << std::oct << mask;
        }
    }
}

// Names as other archivers spell them ("./", the "." folder, folders after
// what they hold) and a hard link compare as the extraction lays them out.
TEST(PackageCompare, NameSpellingsImplicitFoldersAndHardLinks)
{
    const mode_t saved = umask(027);
    const std::string dir = Installed({{'d', ".", "", 0755},
                                       {'f', "./Contents/MacOS/tool", "tool", 0750},
                                       {'d', "./Contents/MacOS/", "", 0700},
                                       {'f', "Contents//Resources/a", "shared data"},
                                       {'h', "Contents/Resources/b", "Contents/Resources/a"}},
                                      Tar);
    EXPECT_EQ(Describe(Compared(dir)), "");
    // A copy with the same contents is as good as the link; other contents are not.
    const std::string b = dir + "/app/Contents/Resources/b";
    fs::remove(b);
    ASSERT_TRUE(WriteText(b, "shared data"));
    EXPECT_EQ(Describe(Compared(dir)), "");
    ASSERT_TRUE(WriteText(b, "shared dat!"));
    EXPECT_EQ(Describe(Compared(dir)), "damaged 'Contents/Resources/b': contents differ\n");
    umask(saved);
}

TEST(PackageCompare, EachDamageIsReportedOnceByItself)
{
    const std::string core = "app/" + kCore;
    const struct {
        const char* label;
        std::function<void(const std::string& dir)> damage;
        std::string expected;
    } cases[] = {
        {"same-size corrupted file",
         [&](const std::string& dir) {
             std::string data = ReadText(dir + "/" + core + "Versions/A/Core");
             data[50001] ^= 0x20;
             ASSERT_TRUE(WriteText(dir + "/" + core + "Versions/A/Core", data));
         },
         "damaged '" + kCore + "Versions/A/Core': contents differ\n"},
        {"truncated file", [&](const std::string& dir) { fs::resize_file(dir + "/" + core + "Versions/A/Core", 100); },
         "damaged '" + kCore + "Versions/A/Core': has size 100, expected 70000\n"},
        {"executable bit lost",
         [](const std::string& dir) { ASSERT_EQ(chmod((dir + "/app/Contents/MacOS/lumora-ui").c_str(), 0644), 0); },
         "damaged 'Contents/MacOS/lumora-ui': mode 0644, expected 0755\n"},
        {"folder mode changed",
         [](const std::string& dir) { ASSERT_EQ(chmod((dir + "/app/Contents/Resources").c_str(), 0700), 0); },
         "damaged 'Contents/Resources': mode 0700, expected 0755\n"},
        {"link target replaced",
         [&](const std::string& dir) {
             fs::remove(dir + "/" + core + "Versions/Current");
             fs::create_symlink("B", dir + "/" + core + "Versions/Current");
         },
         "damaged '" + kCore + "Versions/Current': link target 'B', expected 'A'\n"},
        {"link replaced by a file",
         [&](const std::string& dir) {
             fs::remove(dir + "/" + core + "Core");
             ASSERT_TRUE(WriteText(dir + "/" + core + "Core", "x"));
         },
         "damaged '" + kCore + "Core': is a file, expected a symbolic link\n"},
        {"deleted file", [](const std::string& dir) { fs::remove(dir + "/app/Contents/Info.plist"); },
         "damaged 'Contents/Info.plist': missing\n"},
        {"file replaced by a folder",
         [](const std::string& dir) {
             fs::remove(dir + "/app/Contents/Resources/INFO");
             ASSERT_TRUE(WriteText(dir + "/app/Contents/Resources/INFO/inner", "x"));
         },
         "damaged 'Contents/Resources/INFO': is a folder, expected a file\n"},
        {"file replaced by a dangling link",
         [](const std::string& dir) {
             fs::remove(dir + "/app/Contents/MacOS/lumora-ui");
             fs::create_symlink("gone", dir + "/app/Contents/MacOS/lumora-ui");
         },
         "damaged 'Contents/MacOS/lumora-ui': is a symbolic link to 'gone', expected a file\n"},
        {"folder removed with its files", [](const std::string& dir) { fs::remove_all(dir + "/app/Contents/MacOS"); },
         "damaged 'Contents/MacOS': missing\n"},
        {"implicit folder replaced by a link to a copy",
         [&](const std::string& dir) {
             fs::rename(dir + "/" + core + "Versions", dir + "/Versions");
             fs::create_directory_symlink(dir + "/Versions", dir + "/" + core + "Versions");
         },
         "damaged '" + kCore + "Versions': is a symbolic link to '<dir>/Versions', expected a folder\n"},
        {"extra file and folder",
         [](const std::string& dir) {
             ASSERT_TRUE(WriteText(dir + "/app/Contents/Resources/user.cfg", "mine"));
             ASSERT_TRUE(WriteText(dir + "/app/Contents/Plugins/a/b", "mine"));
         },
         "extra 'Contents/Plugins'\nextra 'Contents/Resources/user.cfg'\n"},
    };
    for (const auto& c : cases) {
        const std::string dir = Installed(Package());
        ASSERT_EQ(Describe(Compared(dir)), "") << c.label;
        c.damage(dir);
        std::string expected = c.expected;
        const size_t at = expected.find("<dir>");
        if (at != std::string::npos)
            expected.replace(at, 5, dir);
        EXPECT_EQ(Describe(Compared(dir)), expected) << c.label;
    }
}

// A package whose entry data is damaged is told from a damaged file.
std::string WithDamagedData(std::string zip, const std::string& name)
{
    size_t at = zip.find("PK\3\4");
    while (at != std::string::npos && zip.compare(at + 30, name.size(), name) != 0)
        at = zip.find("PK\3\4", at + 1);
    const auto u16 = [&](size_t i) { return size_t(uint8_t(zip[i])) | size_t(uint8_t(zip[i + 1])) << 8; };
    if (at != std::string::npos)
        zip[at + 30 + u16(at + 26) + u16(at + 28) + 500] ^= 0x55;
    return zip;
}

TEST(PackageCompare, UnreadablePackagesFailWithAReason)
{
    const std::string dir = Installed(Package());
    const std::string zip = ReadText(dir + "/p.vxa");
    ASSERT_TRUE(WriteText(dir + "/cut.vxa", zip.substr(0, zip.size() - 200)));  // no central directory
    ASSERT_TRUE(WriteText(dir + "/crc.vxa", WithDamagedData(zip, kCore + "Versions/A/Core")));
    ASSERT_TRUE(WriteText(dir + "/garbage.vxa", std::string(5000, '\x5a')));
    ASSERT_TRUE(WriteText(dir + "/empty.vxa", ""));
    const struct {
        std::string package, reason;
    } cases[] = {{dir + "/missing.vxa", "No such file or directory"},
                 {dir + "/cut.vxa", "Unrecognized archive format"},
                 {dir + "/garbage.vxa", "Unrecognized archive format"},
                 {dir + "/crc.vxa", "archive_read_data_block: "},
                 {dir + "/empty.vxa", "the package holds no entries"}};
    for (const auto& c : cases) {
        PackageTools::Comparison result;
        result.extra.push_back("stale");
        std::string error;
        EXPECT_EQ(PackageTools::Compare(c.package.c_str(), (dir + "/app").c_str(), &result, &error), -1) << c.package;
        EXPECT_NE(error.find(c.reason), std::string::npos) << c.package << ": " << error;
        EXPECT_TRUE(result.damaged.empty() && result.extra.empty()) << c.package;
    }
}

}  // namespace
