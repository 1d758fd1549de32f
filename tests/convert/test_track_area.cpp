#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <random>

#include "convert/area_file.h"
#include "convert/le_bytes.h"
#include "convert/track_file.h"

namespace dorvane {
namespace {

std::vector<TrackPoint> RandomTrack(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> lat(-90, 90), lon(-180, 180), ele(-400, 8000);
    std::uniform_int_distribution<std::int32_t> t(0, std::numeric_limits<std::int32_t>::max());
    std::vector<TrackPoint> pts(n);
    for (auto& p : pts) {
        p = {lat(rng), lon(rng), ele(rng), t(rng), ele(rng), static_cast<std::uint32_t>(rng())};
    }
    return pts;
}

std::span<const std::uint8_t> Span(const std::string& s) {
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

TEST(TrackFile, RoundTripsPointForPoint) {
    const auto pts = RandomTrack(500, 7);
    const auto image = WriteTrack("\xB9\xEC\xBC\xA3", pts);  // "轨迹" in GBK
    ASSERT_EQ(image.size(), kTrackHeaderSize + 500 * kTrackPointSize);
    std::vector<TrackPoint> back;
    const TrackReadResult r = ReadTrack(image, back);
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r.nameGbk, "\xB9\xEC\xBC\xA3");
    EXPECT_EQ(r.declaredCount, 500);
    EXPECT_FALSE(r.truncated);
    EXPECT_EQ(back, pts);
}

TEST(TrackFile, LayoutIsLittleEndianAtTheDocumentedOffsets) {
    TrackPoint p{1.5, -2.25, 100.0, 0x01020304, 9.0, 0xA0B0C0D0};
    const auto image = WriteTrack("T", std::span(&p, 1));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(image.data())), "e-compass Trace H1.0");
    EXPECT_EQ(image[64], 1);
    EXPECT_EQ(image[68 + 24], 0x04);
    EXPECT_EQ(image[68 + 27], 0x01);
    EXPECT_EQ(le::F64(&image[68 + 8]), -2.25);
    EXPECT_EQ(le::U32(&image[68 + 36]), 0xA0B0C0D0u);
}

TEST(TrackFile, HeaderCases) {
    const auto pts = RandomTrack(3, 1);
    auto withCount = [&](std::int32_t n) { return WriteTrack("x", pts, &n); };
    auto magicCase = WriteTrack("x", pts);
    magicCase[0] = 'E';
    auto noNul = WriteTrack("x", pts);
    noNul[20] = ' ';
    auto unterminatedName = WriteTrack("x", pts);
    std::memset(&unterminatedName[32], 'N', 32);

    struct Case {
        const char* what;
        std::vector<std::uint8_t> image;
        TrackReadError error;
        std::size_t points;
        bool truncated;
    };
    const Case cases[] = {
        {"empty buffer", {}, TrackReadError::kEmpty, 0, false},
        {"count zero", withCount(0), TrackReadError::kNone, 0, false},
        {"count negative", withCount(-5), TrackReadError::kNone, 0, false},
        {"count beyond the data", withCount(1000000), TrackReadError::kNone, 3, true},
        {"count INT_MAX", withCount(std::numeric_limits<std::int32_t>::max()),
         TrackReadError::kNone, 3, true},
        {"magic in other case", magicCase, TrackReadError::kNotTrack, 0, false},
        {"magic without its NUL", noNul, TrackReadError::kNotTrack, 0, false},
        {"unterminated name", unterminatedName, TrackReadError::kNone, 3, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<TrackPoint> out(2);  // the reader empties it
        const TrackReadResult r = ReadTrack(c.image, out);
        EXPECT_EQ(r.error, c.error);
        EXPECT_EQ(out.size(), c.points);
        EXPECT_EQ(r.truncated, c.truncated);
    }
    std::vector<TrackPoint> out;
    auto image = WriteTrack("x", pts);
    EXPECT_EQ(ReadTrack(std::span(image).first(60), out).error, TrackReadError::kDamagedHeader);
    EXPECT_EQ(ReadTrack(unterminatedName, out).nameGbk, std::string(32, 'N'));
    // A partial last record is not read.
    EXPECT_EQ(ReadTrack(std::span(image).first(image.size() - 1), out).error,
              TrackReadError::kNone);
    EXPECT_EQ(out.size(), 2u);
}

AreaFile SampleArea(bool withWork, std::size_t points) {
    AreaFile a;
    a.header.reserved = 0xDEADBEEF;
    a.header.areaUnitPrice = 1.25f;
    a.header.lengthUnitPrice = 3.5f;
    a.header.collectionTime = 1700000000;
    a.header.SetFileName(
        "\xB5\xD8\xBF\xE9"
        "01");  // "地块01"
    a.header.method = static_cast<std::int16_t>(AreaMethod::kVertex);
    if (withWork) a.work = AreaWorkRecord{2.5f, 1700000100, 1700003700, 0x1234};
    for (std::size_t i = 0; i < points; ++i) {
        AreaPoint p;
        p.longitude = 116.0f + 0.001f * static_cast<float>(i);
        p.latitude = 39.0f - 0.002f * static_cast<float>(i);
        p.altitude = 50.0f + static_cast<float>(i);
        p.reserved[0] = static_cast<std::uint8_t>(i);
        a.points.push_back(p);
    }
    return a;
}

void ExpectSameArea(const AreaFile& a, const AreaFile& b) {
    EXPECT_EQ(a.header.reserved, b.header.reserved);
    EXPECT_EQ(a.header.areaUnitPrice, b.header.areaUnitPrice);
    EXPECT_EQ(a.header.lengthUnitPrice, b.header.lengthUnitPrice);
    EXPECT_EQ(a.header.collectionTime, b.header.collectionTime);
    EXPECT_EQ(a.header.FileNameGbk(), b.header.FileNameGbk());
    EXPECT_EQ(a.header.method, b.header.method);
    ASSERT_EQ(a.work.has_value(), b.work.has_value());
    if (a.work) {
        EXPECT_EQ(a.work->width, b.work->width);
        EXPECT_EQ(a.work->startTime, b.work->startTime);
        EXPECT_EQ(a.work->finishTime, b.work->finishTime);
    }
    ASSERT_EQ(a.points.size(), b.points.size());
    for (std::size_t i = 0; i < a.points.size(); ++i) {
        EXPECT_EQ(a.points[i].longitude, b.points[i].longitude) << i;
        EXPECT_EQ(a.points[i].latitude, b.points[i].latitude) << i;
        EXPECT_EQ(a.points[i].altitude, b.points[i].altitude) << i;
        EXPECT_EQ(a.points[i].reserved, b.points[i].reserved) << i;
    }
}

TEST(AreaFile, RoundTripsWithAndWithoutWorkRecord) {
    for (bool work : {true, false}) {
        SCOPED_TRACE(work);
        const AreaFile a = SampleArea(work, 50);
        const std::string text = WriteArea(a);
        AreaFile back;
        back.points.resize(3);
        const AreaReadResult r = ReadArea(Span(text), back);
        ASSERT_TRUE(r.ok());
        EXPECT_EQ(r.droppedRecords, 0u);
        ExpectSameArea(a, back);
    }
}

TEST(AreaFile, RecordLinesHaveTheirExactBase64Lengths) {
    const AreaFile a = SampleArea(true, 1);
    struct Case {
        std::string line;
        std::size_t chars;
    };
    const Case cases[] = {
        {AreaRecordLine(EncodeAreaHeader(a.header)), 56},
        {AreaRecordLine(EncodeAreaWork(*a.work)), 24},
        {AreaRecordLine(EncodeAreaPoint(a.points[0])), 40},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.line.size(), 1 + c.chars + 2);
        EXPECT_EQ(c.line.substr(c.chars - 1, 4), "==\r\n");
    }
}

TEST(AreaFile, RecordCases) {
    const AreaFile a = SampleArea(true, 3);
    const std::string hdr = AreaRecordLine(EncodeAreaHeader(a.header));
    const std::string work = AreaRecordLine(EncodeAreaWork(*a.work));
    std::vector<std::string> pt;
    for (const auto& p : a.points) pt.push_back(AreaRecordLine(EncodeAreaPoint(p)));
    AreaPoint flagged = a.points[1];
    flagged.flag = kAreaPointExcluded;
    const std::string flaggedLine = AreaRecordLine(EncodeAreaPoint(flagged));
    std::string damaged = pt[1];
    damaged[5] = damaged[5] == 'A' ? 'B' : 'A';
    std::string badHeader = hdr;
    badHeader[10] = badHeader[10] == 'A' ? 'B' : 'A';
    // A line over 100 bytes whose record is otherwise valid: padding text after the Base64.
    const std::string longLine = pt[1].substr(0, pt[1].size() - 2) + std::string(70, '=') + "\r\n";

    struct Case {
        const char* what;
        std::string text;
        AreaReadError error;
        bool work;
        std::vector<std::size_t> points;  // indexes into a.points
    };
    const Case cases[] = {
        {"header only", hdr, AreaReadError::kNone, false, {}},
        {"no work record: second record is the first point",
         hdr + pt[0] + pt[1],
         AreaReadError::kNone,
         false,
         {0, 1}},
        {"work record then points",
         hdr + work + pt[0] + pt[1] + pt[2],
         AreaReadError::kNone,
         true,
         {0, 1, 2}},
        {"flagged point left out",
         hdr + work + pt[0] + flaggedLine + pt[2],
         AreaReadError::kNone,
         true,
         {0, 2}},
        {"damaged point dropped",
         hdr + pt[0] + damaged + pt[2],
         AreaReadError::kNone,
         false,
         {0, 2}},
        {"damaged second record skipped", hdr + damaged + pt[0], AreaReadError::kNone, false, {0}},
        {"over-long line rejected", hdr + work + longLine + pt[2], AreaReadError::kNone, true, {2}},
        {"garbage between records",
         "junk" + hdr + "\r\n\r\nxx" + pt[0] + "$$$",
         AreaReadError::kNone,
         false,
         {0}},
        {"last record without CR LF",
         hdr + pt[0] + pt[1].substr(0, 30),
         AreaReadError::kNone,
         false,
         {0}},
        {"empty", "", AreaReadError::kNoRecord, false, {}},
        {"no dollar", "hello\r\n", AreaReadError::kNoRecord, false, {}},
        {"no CR LF", hdr.substr(0, hdr.size() - 2), AreaReadError::kNoRecord, false, {}},
        {"first record too short", pt[0] + hdr, AreaReadError::kNotArea, false, {}},
        {"header over 100 bytes",
         hdr.substr(0, hdr.size() - 2) + std::string(60, '=') + "\r\n",
         AreaReadError::kNotArea,
         false,
         {}},
        {"header fails its check", badHeader + pt[0], AreaReadError::kDamagedHeader, false, {}},
        {"bare LF is not a line end",
         "$" + hdr.substr(1, hdr.size() - 3) + "\n",
         AreaReadError::kNoRecord,
         false,
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        AreaFile back;
        const AreaReadResult r = ReadArea(Span(c.text), back);
        EXPECT_EQ(r.error, c.error);
        if (c.error != AreaReadError::kNone) continue;
        EXPECT_EQ(back.work.has_value(), c.work);
        ASSERT_EQ(back.points.size(), c.points.size());
        for (std::size_t i = 0; i < c.points.size(); ++i)
            EXPECT_EQ(back.points[i].longitude, a.points[c.points[i]].longitude);
    }
}

TEST(Base64, DecodeStopsAtPaddingOrForeignCharacters) {
    std::array<std::uint8_t, 16> out{};
    struct Case {
        const char* text;
        std::string bytes;
    };
    const Case cases[] = {
        {"TWFu", "Man"}, {"TWE=", "Ma"}, {"TQ==", "M"}, {"TWFuTQ", "ManM"},       {"TWFuT", "Man"},
        {"TW Fu", "M"},  {"TW=Fu", "M"}, {"", ""},      {"////", "\xFF\xFF\xFF"},
    };
    for (const Case& c : cases) {
        const auto n = Base64Decode(c.text, out);
        ASSERT_TRUE(n.has_value()) << c.text;
        EXPECT_EQ(std::string(reinterpret_cast<char*>(out.data()), *n), c.bytes) << c.text;
    }
    std::array<std::uint8_t, 2> tiny{};
    EXPECT_FALSE(Base64Decode("TWFu", tiny).has_value());
    const std::string all = "any carnal pleasure.";
    EXPECT_EQ(Base64Encode(Span(all)), "YW55IGNhcm5hbCBwbGVhc3VyZS4=");
}

// Readers on hostile input: truncated, oversized and random images. Run
// under the sanitizer build these catch any read outside the buffer.
TEST(Readers, SurviveTruncatedAndRandomInputs) {
    const auto trackImage = WriteTrack("t", RandomTrack(20, 3));
    std::vector<TrackPoint> pts;
    for (std::size_t n = 0; n <= trackImage.size(); ++n) {
        const std::vector<std::uint8_t> cut(trackImage.begin(),
                                            trackImage.begin() + static_cast<std::ptrdiff_t>(n));
        ReadTrack(cut, pts);  // exact-size copies make any overread visible
        EXPECT_EQ(pts.size(), n < kTrackHeaderSize ? 0 : (n - kTrackHeaderSize) / kTrackPointSize);
    }
    const std::string areaText = WriteArea(SampleArea(true, 10));
    AreaFile area;
    for (std::size_t n = 0; n <= areaText.size(); ++n) {
        const std::vector<std::uint8_t> cut(areaText.begin(),
                                            areaText.begin() + static_cast<std::ptrdiff_t>(n));
        ReadArea(cut, area);
        EXPECT_LE(area.points.size(), 10u);
    }
    std::mt19937 rng(12345);
    for (int round = 0; round < 2000; ++round) {
        std::vector<std::uint8_t> junk(rng() % 600);
        const bool textLike = round % 2 == 0;
        for (auto& b : junk) {
            b = static_cast<std::uint8_t>(rng());
            if (textLike) b = static_cast<std::uint8_t>("$\r\nAQZ+/=a0"[b % 10]);
        }
        if (round % 3 == 0 && junk.size() >= kTrackHeaderSize)
            std::memcpy(junk.data(), trackImage.data(), kTrackHeaderSize);
        ReadTrack(junk, pts);
        EXPECT_LE(pts.size(), junk.size() / kTrackPointSize);
        ReadArea(junk, area);
        EXPECT_LE(area.points.size(), junk.size() / 40);
    }
    // A large image of nothing but "$" and of one endless line.
    const std::string dollars(1 << 20, '$');
    EXPECT_EQ(ReadArea(Span(dollars), area).error, AreaReadError::kNoRecord);
    const std::string longLine = "$" + std::string(1 << 20, 'A') + "\r\n";
    EXPECT_EQ(ReadArea(Span(longLine), area).error, AreaReadError::kNotArea);
}

}  // namespace
}  // namespace dorvane
