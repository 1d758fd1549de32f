#include <gtest/gtest.h>

#include <clocale>

#include "convert/temp_folder.h"
#include "names/file_names.h"

namespace dorvane {
namespace {

using testing::TempFolder;

TEST(PathPart, SplitsIntoDirectoryNameAndExtension) {
    struct Case {
        const char* path;
        const char* dir;
        const char* name;
        const char* ext;
        const char* bare;
    };
    const Case cases[] = {
        {"/home/u/T0601.gpx", "/home/u/", "T0601", ".gpx", "gpx"},
        {"T0601.gpx", "", "T0601", ".gpx", "gpx"},
        {"a/b.c.d", "a/", "b.c", ".d", "d"},
        {"README", "", "README", "", ""},
        {"dir.x/README", "dir.x/", "README", "", ""},
        {"/home/u/.profile", "/home/u/", ".profile", "", ""},
        {"name.", "", "name", ".", "."},
        {"..", "", "..", "", ""},
        {"/a/b/", "/a/b/", "", "", ""},
        {"数据/轨迹.gpx", "数据/", "轨迹", ".gpx", "gpx"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(PathPart(c.path, PathPartKind::kDrive), "");
        EXPECT_EQ(PathPart(c.path, PathPartKind::kDirectory), c.dir);
        EXPECT_EQ(PathPart(c.path, PathPartKind::kFileName), c.name);
        EXPECT_EQ(PathPart(c.path, PathPartKind::kExtension), c.ext);
        EXPECT_EQ(PathPart(c.path, 0), "");
        EXPECT_EQ(PathPart(c.path, 5), "");
        EXPECT_EQ(ExtensionWithoutDot(c.path), c.bare);
        EXPECT_EQ(FileNameWithExtension(c.path), std::string(c.name) + c.ext);
        EXPECT_EQ(DriveOf(c.path), "");
    }
}

TEST(FileExists, FilesYesFoldersAndMissingNo) {
    TempFolder dir;
    dir.Put("f.txt", "x");
    std::filesystem::create_directory(dir / "sub");
    std::filesystem::create_symlink(dir / "f.txt", dir / "link");
    std::filesystem::create_symlink(dir / "nothing", dir / "dangling");
    EXPECT_TRUE(FileExists(dir / "f.txt"));
    EXPECT_TRUE(FileExists(dir / "link"));
    EXPECT_FALSE(FileExists(dir / "sub"));
    EXPECT_FALSE(FileExists(dir / "missing"));
    EXPECT_FALSE(FileExists(dir / "dangling"));
    EXPECT_TRUE(EntryExists(dir / "dangling"));
}

TEST(UniqueFileName, TakesTheFirstFreeVariant) {
    struct Case {
        const char* what;
        std::vector<std::string> files, folders;
        const char *wanted, *expected;
    };
    const Case cases[] = {
        {"free name", {}, {}, "track.gpx", "track.gpx"},
        {"two taken", {"track.gpx", "track(1).gpx"}, {}, "track.gpx", "track(2).gpx"},
        {"gap is used", {"track.gpx", "track(2).gpx"}, {}, "track.gpx", "track(1).gpx"},
        {"folder blocks", {}, {"track.gpx"}, "track.gpx", "track(1).gpx"},
        {"no extension, no trailing dot", {"README"}, {}, "README", "README(1)"},
        {"no extension, free", {}, {}, "README", "README"},
        {"several dots", {"a.b.gpx"}, {}, "a.b.gpx", "a.b(1).gpx"},
        {"hidden name", {".bak"}, {}, ".bak", ".bak(1)"},
        {"chinese", {"轨迹.kml"}, {}, "轨迹.kml", "轨迹(1).kml"},
        {"case differs", {"TRACK.GPX"}, {}, "track.gpx", "track.gpx"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempFolder dir;
        for (const auto& f : c.files) dir.Put(f, "x");
        for (const auto& f : c.folders) std::filesystem::create_directory(dir / f);
        EXPECT_EQ(UniqueFileName(dir.path(), c.wanted), c.expected);
    }
    TempFolder dir;
    EXPECT_EQ(UniqueFileName(dir.path(), ""), "");
}

TEST(UniqueFileName, DanglingLinkBlocksTheName) {
    TempFolder dir;
    std::filesystem::create_symlink(dir / "elsewhere", dir / "t.gpx");
    EXPECT_EQ(UniqueFileName(dir.path(), "t.gpx"), "t(1).gpx");
}

TEST(UniqueFolderName, AppendsNumbersWithoutDot) {
    TempFolder dir;
    EXPECT_EQ(UniqueFolderName(dir.path(), "New folder"), "New folder");
    std::filesystem::create_directory(dir / "New folder");
    dir.Put("New folder(1)", "file blocks too");
    EXPECT_EQ(UniqueFolderName(dir.path(), "New folder"), "New folder(2)");
    std::filesystem::create_directory(dir / "v1.2");
    EXPECT_EQ(UniqueFolderName(dir.path(), "v1.2"), "v1.2(1)");
}

TEST(SizeText, UnitsAndDivisions) {
    std::setlocale(LC_NUMERIC, "C");
    struct Case {
        std::uint32_t bytes;
        const char* text;
    };
    const Case cases[] = {
        {0, "0 BYTE"},           {512, "512 BYTE"},
        {1023, "1023 BYTE"},     {1024, "1.00 KB"},
        {1536, "1.50 KB"},       {1048575, "1024.00 KB"},
        {1048576, "1.00 MB"},    {5000000, "4.77 MB"},
        {1073741824, "1.00 GB"}, {4294967295u, "4.00 GB"},
    };
    for (const Case& c : cases) EXPECT_EQ(SizeText(c.bytes), c.text) << c.bytes;
}

TEST(GroupedNumber, CommasEveryThreeDigits) {
    struct Case {
        std::int32_t value;
        const char* text;
    };
    const Case cases[] = {
        {0, "0"},
        {999, "999"},
        {1000, "1,000"},
        {123456, "123,456"},
        {1234567, "1,234,567"},
        {-1000, "-1,000"},
        {-999, "-999"},
        {2147483647, "2,147,483,647"},
        {-2147483647 - 1, "-2,147,483,648"},
    };
    for (const Case& c : cases) EXPECT_EQ(GroupedNumber(c.value), c.text) << c.value;
}

TEST(SafeFileName, StaysOneComponent) {
    struct Case {
        const char* what;
        std::string in, out;
    };
    const Case cases[] = {
        {"plain", "T0601.gpx", "T0601.gpx"},
        {"chinese kept", "轨迹.gpx", "轨迹.gpx"},
        {"parent", "..", "_"},
        {"current", ".", "_"},
        {"empty", "", "_"},
        {"slash", "../../etc/passwd", "_._.._etc_passwd"},
        {"backslash", "..\\x.gpx", "_._x.gpx"},
        {"hidden", ".profile", "_profile"},
        {"control", std::string("a\x01\nb\0c", 6), "a__b_c"},
        {"delete", "a\x7f", "a_"},
        {"invalid utf-8", "a\xB2\xE2.gpx", "a__.gpx"},
        {"dots inside kept", "a..x", "a..x"},
        {"leading dots shown", "..x", "_.x"},
    };
    for (const Case& c : cases) EXPECT_EQ(SafeFileName(c.in), c.out) << c.what;
}

TEST(SafeFileName, LongNamesLeaveRoomForAVariantAndKeepTheExtension) {
    const std::string longName = std::string(300, 'a') + ".gpx";
    const std::string safe = SafeFileName(longName);
    EXPECT_LE(safe.size(), kMaxNameBytes - kUniqueSuffixReserve);
    EXPECT_TRUE(safe.ends_with(".gpx"));
    // Cutting never splits a character.
    std::string chinese;
    for (int i = 0; i < 100; ++i) chinese += "轨";
    const std::string cut = SafeFileName(chinese);
    EXPECT_LE(cut.size(), kMaxNameBytes - kUniqueSuffixReserve);
    EXPECT_EQ(cut.size() % 3, 0u);
    TempFolder dir;
    dir.Put(safe, "x");
    const std::string next = UniqueFileName(dir.path(), safe);
    dir.Put(next, "y");  // the variant is still a valid name
    EXPECT_TRUE(FileExists(dir / next));
}

}  // namespace
}  // namespace dorvane
