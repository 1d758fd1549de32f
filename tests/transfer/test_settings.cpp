// The settings file, the listing format and the text formatter.

#include <gtest/gtest.h>

#include <fstream>

#include "common/sim_process.h"
#include "transfer/listing.h"
#include "transfer/settings_file.h"
#include "transfer/text_format.h"

namespace dorvane {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(Settings, RoundTripsAndPrefixesLongStrings) {
    struct Row {
        std::size_t portLength;
        std::size_t prefixBytes;  // length prefix of the port name
    };
    for (Row r : {Row{0, 1}, Row{5, 1}, Row{254, 1}, Row{255, 3}, Row{300, 3}, Row{0xFFFD, 3}, Row{0xFFFE, 7}}) {
        LinkSettings s;
        s.portName = std::string(r.portLength, 'p');
        s.baud = 115200;
        s.computerFolder = "/home/u/数据";
        s.linkType = LinkType::kUsb;
        const Bytes b = EncodeSettings(s);
        EXPECT_EQ(b.size(), r.prefixBytes + r.portLength + 4 + 1 + s.computerFolder.size() + 1) << r.portLength;
        if (r.prefixBytes > 1) {
            EXPECT_EQ(b[0], 0xFF);
        }
        auto back = DecodeSettings(b);
        ASSERT_TRUE(back) << r.portLength;
        EXPECT_EQ(*back, s);
    }
    // 300 characters: 0xFF and a 16-bit length.
    LinkSettings s;
    s.portName = std::string(300, 'x');
    const Bytes b = EncodeSettings(s);
    EXPECT_EQ(b[1], 300 & 0xFF);
    EXPECT_EQ(b[2], 300 >> 8);
}

TEST(Settings, DamagedBytesAreRejected) {
    LinkSettings s{"ttyUSB0", 115200, "/tmp", LinkType::kSerial};
    const Bytes good = EncodeSettings(s);
    for (std::size_t cut = 0; cut < good.size(); ++cut)
        EXPECT_FALSE(DecodeSettings(Bytes(good.begin(), good.begin() + static_cast<long>(cut)))) << cut;
    Bytes badLink = good;
    badLink.back() = 7;
    EXPECT_FALSE(DecodeSettings(badLink));
    // A 32-bit length far beyond the file must not allocate it.
    EXPECT_FALSE(DecodeSettings(Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F}));
}

TEST(Settings, LoadingRules) {
    test::TempDir dir;
    const auto path = dir / "Dorvane.cfg";
    const std::vector<std::string> ports = {"ttyS0", "ttyUSB0"};
    // Missing file: defaults, the first port, 115200.
    LinkSettings d = LoadSettingsFile(path, ports);
    EXPECT_EQ(d.portName, "ttyS0");
    EXPECT_EQ(d.baud, 115200);
    EXPECT_EQ(d.linkType, LinkType::kSerial);
    EXPECT_TRUE(d.computerFolder.empty());
    // A remembered port no longer present, a remembered rate of 9600.
    ASSERT_TRUE(SaveSettingsFile(path, {"ttyUSB9", 9600, "/data", LinkType::kSerial}));
    d = LoadSettingsFile(path, ports);
    EXPECT_EQ(d.portName, "ttyS0");
    EXPECT_EQ(d.baud, 115200);
    EXPECT_EQ(d.computerFolder, "/data");
    // A kept port stays.
    ASSERT_TRUE(SaveSettingsFile(path, {"ttyUSB0", 115200, "/d", LinkType::kUsb}));
    d = LoadSettingsFile(path, ports);
    EXPECT_EQ(d.portName, "ttyUSB0");
    EXPECT_EQ(d.linkType, LinkType::kUsb);
    // A damaged file gives the defaults.
    std::ofstream(path, std::ios::binary | std::ios::trunc) << "\x05ttyU";
    d = LoadSettingsFile(path, ports);
    EXPECT_EQ(d.portName, "ttyS0");
    EXPECT_TRUE(d.computerFolder.empty());
    // A folder where the file should be gives the defaults too.
    std::filesystem::remove(path);
    std::filesystem::create_directory(path);
    EXPECT_EQ(LoadSettingsFile(path, ports).portName, "ttyS0");
}

TEST(Listing, ParsesWholeEntriesOnly) {
    std::vector<DeviceFileEntry> in(2);
    in[0].name = "T0601.gpx";
    in[0].size = 1234;
    in[0].mtime = 1700000000;
    in[1].name = "\xB2\xE2\xCA\xD4.txt";
    in[1].size = 0;
    const Bytes b = BuildListing(in);
    auto out = ParseListing(b);
    ASSERT_TRUE(out);
    ASSERT_EQ(out->size(), 2u);
    EXPECT_EQ((*out)[0].name, "T0601.gpx");
    EXPECT_EQ((*out)[0].size, 1234u);
    EXPECT_EQ((*out)[0].mtime, 1700000000);
    EXPECT_EQ((*out)[1].name, in[1].name);

    EXPECT_FALSE(ParseListing({}));                      // absent: the list stays
    EXPECT_TRUE(ParseListing(Bytes{0})->empty());        // an empty handheld
    for (std::size_t cut = 1; cut < b.size(); ++cut) {   // cut short anywhere: only whole entries
        auto part = ParseListing(Bytes(b.begin(), b.begin() + static_cast<long>(cut)));
        ASSERT_TRUE(part);
        EXPECT_LE(part->size(), 2u);
        if (!part->empty()) {
            EXPECT_EQ((*part)[0].name, "T0601.gpx");
        }
    }
}

TEST(TextFormat, SubstitutesSafely) {
    struct Row {
        const char* what;
        std::string out;
        std::string expected;
    };
    const Row rows[] = {
        {"search text", FormatText("在 %s 以 %d 波特率搜索GPS设备", "ttyUSB0", 115200), "在 ttyUSB0 以 115200 波特率搜索GPS设备"},
        {"precision", FormatText("%.2f GB", 1.5), "1.50 GB"},
        {"percent", FormatText("100%% %d", 3), "100% 3"},
        {"missing argument", FormatText("%s and %s", "a"), "a and "},
        {"wrong kind", FormatText("%d items", std::string("x")), "x items"},
        {"%n is text", FormatText("%n%d", 1), "%n1"},
        {"lone percent at end", FormatText("50%", 1), "50%"},
        {"width", FormatText("[%5d]", 42), "[   42]"},
    };
    for (const auto& r : rows) EXPECT_EQ(r.out, r.expected) << r.what;
}

}  // namespace
}  // namespace dorvane
