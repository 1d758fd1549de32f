#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>

#include "convert/area_file.h"
#include "convert/download.h"
#include "convert/temp_folder.h"
#include "convert/track_file.h"

namespace dorvane {
namespace {

using testing::ReadBytes;
using testing::ReadFile;
using testing::TempFolder;
using Names = std::set<std::string>;

std::vector<std::uint8_t> TrackImage() {
    const TrackPoint pts[] = {{39.9, 116.4, 50, 1700000000, 0, 0},
                              {39.91, 116.41, 51, 1700000060, 0, 0}};
    return WriteTrack("T0601", pts);
}

std::vector<std::uint8_t> AreaImage() {
    AreaFile a;
    a.header.SetFileName("A01");
    a.header.method = static_cast<std::int16_t>(AreaMethod::kVertex);
    for (auto [lon, lat] : {std::pair{116.0f, 39.0f}, {116.01f, 39.0f}, {116.01f, 39.01f}}) {
        AreaPoint p;
        p.longitude = lon;
        p.latitude = lat;
        a.points.push_back(p);
    }
    const std::string text = WriteArea(a);
    return {text.begin(), text.end()};
}

std::vector<std::uint8_t> Bytes(std::string_view s) {
    return {s.begin(), s.end()};
}

TEST(StoreDownload, ConvertingModelWritesGpxAndRawCopy) {
    TempFolder dir;
    const auto image = TrackImage();
    const StoreResult r = StoreDownload(image, "TRACK.GPX", dir.path(), kConvertingModelCode);
    ASSERT_TRUE(r.ok()) << r.message;
    EXPECT_EQ(r.conversion, Conversion::kConverted);
    EXPECT_EQ(dir.Names(), (Names{"TRACK.GPX", "TRACK.bak"}));
    EXPECT_EQ(r.rawPath, dir / "TRACK.bak");
    EXPECT_EQ(r.written,
              (std::vector<std::filesystem::path>{dir / "TRACK.GPX", dir / "TRACK.bak"}));
    EXPECT_EQ(ReadBytes(dir / "TRACK.bak"), image);
    const std::string gpx = ReadFile(dir / "TRACK.GPX");
    EXPECT_NE(gpx.find("<name>TRACK.GPX</name>"), std::string::npos);
    EXPECT_NE(gpx.find("<trkpt lat=\"39.910000\" lon=\"116.410000\">"), std::string::npos);
}

TEST(StoreDownload, ConvertingModelWritesKmlForOtherNames) {
    TempFolder dir;
    const auto image = AreaImage();
    const StoreResult r = StoreDownload(image, "A0601.are", dir.path(), kConvertingModelCode);
    ASSERT_TRUE(r.ok()) << r.message;
    EXPECT_EQ(r.conversion, Conversion::kConverted);
    EXPECT_EQ(dir.Names(), (Names{"A0601.are", "A0601.bak"}));
    EXPECT_NE(ReadFile(dir / "A0601.are").find("<Polygon>"), std::string::npos);
}

TEST(StoreDownload, TextFileGivesOnlyTheRawCopy) {
    TempFolder dir;
    const auto bytes = Bytes("just a note\r\n");
    const StoreResult r = StoreDownload(bytes, "note.txt", dir.path(), kConvertingModelCode);
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r.conversion, Conversion::kNotReadable);
    EXPECT_EQ(dir.Names(), (Names{"note.bak"}));
    EXPECT_EQ(ReadBytes(dir / "note.bak"), bytes);
}

TEST(StoreDownload, OtherModelsStoreBytesUnchanged) {
    for (int model : {0, 700, 702, -701}) {
        TempFolder dir;
        const auto image = TrackImage();
        const StoreResult r = StoreDownload(image, "T0601.gpx", dir.path(), model);
        ASSERT_TRUE(r.ok());
        EXPECT_EQ(r.conversion, Conversion::kNotAttempted);
        EXPECT_EQ(dir.Names(), (Names{"T0601.gpx"})) << model;
        EXPECT_EQ(ReadBytes(dir / "T0601.gpx"), image);
        EXPECT_EQ(r.rawPath, dir / "T0601.gpx");
    }
}

TEST(StoreDownload, ExistingFilesAreNeverOverwritten) {
    TempFolder dir;
    dir.Put("T0601.gpx", "old gpx");
    dir.Put("T0601.bak", "old bak");
    const auto image = TrackImage();
    const StoreResult r = StoreDownload(image, "T0601.gpx", dir.path(), kConvertingModelCode);
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(dir.Names(), (Names{"T0601.gpx", "T0601.bak", "T0601(1).gpx", "T0601(1).bak"}));
    EXPECT_EQ(ReadFile(dir / "T0601.gpx"), "old gpx");
    EXPECT_EQ(ReadFile(dir / "T0601.bak"), "old bak");
    EXPECT_EQ(ReadBytes(dir / "T0601(1).bak"), image);
    EXPECT_EQ(r.rawPath, dir / "T0601(1).bak");
}

TEST(StoreDownload, RawCopyNames) {
    struct Case {
        const char* name;
        const char* raw;
    };
    const Case cases[] = {
        {"T0601.gpx", "T0601.bak"},
        {"a.b.c", "a.bak"},
        {"README", "README.bak"},
        {".x", ".x.bak"},
    };
    for (const Case& c : cases) EXPECT_EQ(RawCopyName(c.name), c.raw);
    EXPECT_TRUE(HasGpxSuffix("x.GpX"));
    EXPECT_FALSE(HasGpxSuffix("gpx"));
    EXPECT_FALSE(HasGpxSuffix("x.gpx "));
}

TEST(StoreDownload, HostileNamesStayInsideTheFolder) {
    struct Case {
        std::string name;
        int model;
        Names expected;
    };
    const Case cases[] = {
        {"../escape.txt", 0, {"_._escape.txt"}},
        {"a/b.txt", 0, {"a_b.txt"}},
        {"..", 0, {"_"}},
        {"", 0, {"_"}},
        {std::string("x\0/../y", 7), 0, {"x__.._y"}},
        {"..\\..\\w.txt", 0, {"_._.._w.txt"}},
        // No stored name starts with a dot (hidden); the raw copy loses
        // everything from the first dot of the safe name.
        {"../../t.gpx", kConvertingModelCode, {"_._.._t.gpx", "_.bak"}},
        {"/etc/passwd", kConvertingModelCode, {"_etc_passwd.bak"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder outer;
        std::filesystem::create_directory(outer / "in");
        const auto image = TrackImage();
        const StoreResult r = StoreDownload(image, c.name, outer / "in", c.model);
        ASSERT_TRUE(r.ok()) << r.message;
        EXPECT_EQ(outer.Names(), (Names{"in"}));
        Names inside;
        for (const auto& e : std::filesystem::directory_iterator(outer / "in"))
            inside.insert(e.path().filename().string());
        EXPECT_EQ(inside, c.expected);
    }
}

TEST(StoreDownload, MissingFolderIsReported) {
    TempFolder dir;
    const auto bytes = Bytes("data");
    const StoreResult missing = StoreDownload(bytes, "a.txt", dir / "nope", 0);
    EXPECT_EQ(missing.error, WriteError::kFolderMissing);
    EXPECT_FALSE(missing.message.empty());
    EXPECT_TRUE(missing.written.empty());
    EXPECT_EQ(dir.Names(), Names{});
}

TEST(StoreDownload, ReadOnlyFolderIsReportedAsPermissionDenied) {
    TempFolder dir;
    const auto bytes = Bytes("data");
    if (::geteuid() == 0) GTEST_SKIP() << "running as root: permissions do not stop writes";
    std::filesystem::create_directory(dir / "ro");
    ::chmod((dir / "ro").c_str(), 0555);
    const StoreResult denied = StoreDownload(bytes, "a.txt", dir / "ro", kConvertingModelCode);
    EXPECT_EQ(denied.error, WriteError::kPermissionDenied);
    EXPECT_TRUE(std::filesystem::is_empty(dir / "ro"));
}

TEST(StoreDownload, NoTemporaryFileIsLeftBehind) {
    TempFolder dir;
    for (int i = 0; i < 5; ++i)
        StoreDownload(TrackImage(), "T.gpx", dir.path(), kConvertingModelCode);
    for (const auto& n : dir.Names()) EXPECT_FALSE(n.starts_with(".dorvane-")) << n;
    EXPECT_EQ(dir.Names().size(), 10u);
}

TEST(ConvertLocalFile, KindIsToldByContent) {
    TempFolder in, out;
    const auto track = TrackImage();
    const auto area = AreaImage();
    auto put = [&](const std::string& name, const std::vector<std::uint8_t>& b) {
        in.Put(name, std::string(b.begin(), b.end()));
        return in / name;
    };
    struct Case {
        const char* what;
        std::filesystem::path file;
        ConvertError error;
        const char* written;
        ConvertedKind kind;
    };
    const Case cases[] = {
        {"track named gpx", put("T0601.gpx", track), ConvertError::kNone, "T0601.gpx",
         ConvertedKind::kGpx},
        {"track kept as bak", put("T0602.bak", track), ConvertError::kNone, "T0602.gpx",
         ConvertedKind::kGpx},
        {"area kept as bak", put("A0601.bak", area), ConvertError::kNone, "A0601.kml",
         ConvertedKind::kKml},
        {"area named gpx", put("A0602.gpx", area), ConvertError::kNone, "A0602.kml",
         ConvertedKind::kKml},
        {"name taken", put("T0601.bak", track), ConvertError::kNone, "T0601(1).gpx",
         ConvertedKind::kGpx},
        {"text", put("note.txt", Bytes("hello\r\n")), ConvertError::kNotTrackOrArea, "",
         ConvertedKind::kNone},
        {"cut track header", put("cut.bak", {track.begin(), track.begin() + 50}),
         ConvertError::kDamagedHeader, "", ConvertedKind::kNone},
        {"missing", in / "absent.bak", ConvertError::kCannotRead, "", ConvertedKind::kNone},
        {"folder", in.path(), ConvertError::kCannotRead, "", ConvertedKind::kNone},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const ConvertResult r = ConvertLocalFile(c.file, out.path());
        EXPECT_EQ(r.error, c.error) << r.message;
        EXPECT_EQ(r.kind, c.kind);
        if (c.error == ConvertError::kNone) {
            EXPECT_EQ(r.written, out / c.written);
            EXPECT_TRUE(std::filesystem::is_regular_file(r.written));
            EXPECT_GE(r.points, 2u);
        } else {
            EXPECT_FALSE(r.message.empty());
        }
    }
    // A damaged area header record.
    auto bad = area;
    bad[10] = bad[10] == 'A' ? 'B' : 'A';
    EXPECT_EQ(ConvertLocalFile(put("bad.bak", bad), out.path()).error,
              ConvertError::kDamagedHeader);
    EXPECT_EQ(ConvertLocalFile(put("ok.bak", track), out / "missing").error,
              ConvertError::kFolderMissing);
}

// Tracks and areas whose converted document cannot be made keep the bytes as
// received in the ".bak" copy, and nothing else is left behind.
TEST(StoreDownload, ConversionThatCannotBeMadeStillLeavesTheRawCopy) {
    // A track written with many points: its GPX is several times its size.
    std::vector<TrackPoint> pts;
    for (int i = 0; i < 400; ++i) pts.push_back({39.9 + i * 1e-4, 116.4, 50, 1700000000 + i, 0, 0});
    const auto track = WriteTrack("T0601", pts);
    struct Row {
        const char* what;
        std::vector<std::uint8_t> bytes;
        std::string name;
        bool limitFileSize;  // files may grow only a little past the raw copy
        Conversion conversion;
        Names names;
    };
    const Row rows[] = {
        {"GPX that cannot be written",
         track,
         "T0601.gpx",
         true,
         Conversion::kWriteFailed,
         {"T0601.bak"}},
        {"a .gpx name that is no track",
         Bytes("not a track at all"),
         "T0602.gpx",
         false,
         Conversion::kNotReadable,
         {"T0602.bak"}},
        {"a .GPX name holding an area file",
         AreaImage(),
         "A0601.GPX",
         false,
         Conversion::kNotReadable,
         {"A0601.bak"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        TempFolder dir;
        rlimit saved{};
        ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        if (row.limitFileSize) {
            rlimit small = saved;
            small.rlim_cur = row.bytes.size() + 512;  // the raw copy fits, the GPX does not
            ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
        }
        const StoreResult r = StoreDownload(row.bytes, row.name, dir.path(), kConvertingModelCode);
        ::setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, oldHandler);
        ASSERT_TRUE(r.ok()) << r.message;
        EXPECT_EQ(r.conversion, row.conversion);
        EXPECT_EQ(dir.Names(), row.names);
        EXPECT_EQ(ReadBytes(dir / *row.names.begin()), row.bytes);
        EXPECT_EQ(r.written, std::vector<std::filesystem::path>{dir / *row.names.begin()});
    }
}

}  // namespace
}  // namespace dorvane
