// `dorvane-cli info` as a user runs it: text and JSON, against the figures
// computed in-process and the KML that `convert` writes for the same file.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>

#include "common/run_command.h"
#include "common/sim_process.h"
#include "geo/figures.h"

namespace dorvane {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using test::TempDir;

const fs::path kSamples = fs::path(DORVANE_SOURCE_DIR) / "sim/samples/data";

using InfoRun = test::CommandRun;

// stdout only (stderr to /dev/null unless `withErr`), English, UTC.
InfoRun Info(const TempDir& dir, const std::string& args, bool withErr = false) {
    const std::string cmd = "cd '" + dir.path().string() + "' && LANG=C LC_ALL=C TZ=UTC '" +
                            DORVANE_BINARY_DIR + "/bin/dorvane-cli' info " + args +
                            (withErr ? " 2>&1" : " 2>/dev/null");
    return test::RunCommand(cmd);
}

std::string Sample(const char* name) {
    return "'" + (kSamples / name).string() + "'";
}

geo::FieldFigures Expected(const char* name) {
    geo::FieldFile f;
    EXPECT_TRUE(geo::ReadFieldFile(kSamples / name, f).ok());
    return geo::ComputeFigures(f);
}

TEST(CliInfo, JsonHasEveryFigureAtFullPrecision) {
    TempDir dir;
    std::ofstream(dir / "bad.gpx") << "<gpx><trk>";
    const InfoRun r = Info(dir, Sample("A0602_vertex.txt") + " " + Sample("A0603_harvest.txt") +
                                    " " + Sample("T0602_few.gpx") + " bad.gpx missing.kml --json");
    EXPECT_EQ(r.status, 1) << r.out;
    const json all = json::parse(r.out);
    ASSERT_TRUE(all.is_array());
    ASSERT_EQ(all.size(), 5u);

    const json& vertex = all[0];
    const geo::FieldFigures v = Expected("A0602_vertex.txt");
    EXPECT_EQ(vertex["kind"], "area");
    EXPECT_EQ(vertex["method"], 1);
    EXPECT_EQ(vertex["points"], v.points);
    EXPECT_EQ(vertex["wgs84"]["area_m2"].get<double>(), v.wgs84.area_m2);
    EXPECT_EQ(vertex["wgs84"]["length_m"].get<double>(), v.wgs84.length_m);
    EXPECT_EQ(vertex["wgs84"]["area_mu"].get<double>(), v.wgs84.area_m2 / (10000.0 / 15.0));
    EXPECT_EQ(vertex["wgs84"]["area_ha"].get<double>(), v.wgs84.area_m2 / 10000.0);
    EXPECT_EQ(vertex["handheld"]["area_m2"].get<double>(), v.handheld->measure.area);
    EXPECT_EQ(vertex["bbox"].size(), 4u);
    EXPECT_EQ(vertex["bbox"][0].get<double>(), v.bbox.minLon);
    EXPECT_FALSE(vertex.contains("start_time"));

    const json& harvest = all[1];
    EXPECT_EQ(harvest["method"], 2);
    EXPECT_DOUBLE_EQ(harvest["wgs84"]["area_m2"].get<double>(),
                     2.5 * harvest["wgs84"]["length_m"].get<double>());

    const json& track = all[2];
    EXPECT_EQ(track["kind"], "track");
    EXPECT_FALSE(track.contains("handheld"));
    EXPECT_FALSE(track.contains("method"));
    const geo::FieldFigures t = Expected("T0602_few.gpx");
    EXPECT_EQ(track["start_time"], geo::IsoUtcText(*t.track->startTime));
    EXPECT_EQ(track["duration_s"].get<double>(), t.track->duration_s);
    EXPECT_TRUE(std::regex_match(track["end_time"].get<std::string>(),
                                 std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ)")));

    for (std::size_t i : {3u, 4u}) {
        EXPECT_TRUE(all[i].contains("error")) << all[i];
        EXPECT_FALSE(all[i].contains("wgs84"));
    }
    EXPECT_EQ(all[3]["file"], "bad.gpx");
    EXPECT_NE(all[3]["error"].get<std::string>().find("XML"), std::string::npos);
    EXPECT_EQ(all[4]["file"], "missing.kml");
}

TEST(CliInfo, HandheldTextsAreThoseOfTheConvertedKml) {
    TempDir dir;
    for (const char* name : {"A0601_track.txt", "A0602_vertex.txt", "A0603_harvest.txt"}) {
        SCOPED_TRACE(name);
        const InfoRun r = Info(dir, Sample(name) + " --json");
        ASSERT_EQ(r.status, 0) << r.out;
        const json h = json::parse(r.out)[0]["handheld"];
        const std::string cmd = "cd '" + dir.path().string() +
                                "' && '" DORVANE_BINARY_DIR "/bin/dorvane-cli' convert " +
                                Sample(name) + " -C . >/dev/null 2>&1";
        ASSERT_EQ(std::system(cmd.c_str()), 0);
        const fs::path kml = dir / (fs::path(name).stem().string() + ".kml");
        std::ifstream in(kml);
        const std::string doc((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
        for (const char* key : {"length_text", "area_text"})
            EXPECT_NE(doc.find("<value>" + h[key].get<std::string>() + "</value>"),
                      std::string::npos)
                << key << " " << h[key];
    }
}

TEST(CliInfo, DamagedRecordsAreNamedBesideTheFigures) {
    // A point record that fails its check is left out of the figures; the
    // figures say so rather than pass for the whole field. A flagged point is
    // the handheld's own choice and is no damage.
    TempDir dir;
    struct Case {
        const char* sample;
        int damaged;
    };
    for (const Case& c :
         {Case{"A0605_damaged.txt", 1}, Case{"A0604_flag1.txt", 0}, Case{"A0602_vertex.txt", 0}}) {
        SCOPED_TRACE(c.sample);
        InfoRun r = Info(dir, Sample(c.sample) + " --json");
        ASSERT_EQ(r.status, 0) << r.out;
        EXPECT_EQ(json::parse(r.out)[0]["damaged_records"], c.damaged);
        r = Info(dir, Sample(c.sample));
        const bool named = r.out.find("Damaged records: 1 left out: the figures miss that point") !=
                           std::string::npos;
        EXPECT_EQ(named, c.damaged == 1) << r.out;
    }
}

TEST(CliInfo, TextFormAndExitStatus) {
    TempDir dir;
    InfoRun r = Info(dir, Sample("A0602_vertex.txt") + " " + Sample("T0602_few.gpx"));
    EXPECT_EQ(r.status, 0) << r.out;
    for (const char* want : {"Area (WGS84): ", " mu", "Area (GPS device): ",
                             "Perimeter total price: ", "Kind: Track", "Duration: ", "Start: "})
        EXPECT_NE(r.out.find(want), std::string::npos) << want << "\n" << r.out;
    r = Info(dir, "nothing.gpx", true);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("nothing.gpx: Cannot read the file"), std::string::npos) << r.out;
    EXPECT_EQ(Info(dir, "--json").status, 2);
    r = Info(dir, Sample("T0602_few.gpx") + " --json");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(json::parse(r.out).size(), 1u);
}

}  // namespace
}  // namespace dorvane
