// Conversion throughput: a 1 000 000-point track to GPX, a 100 000-point
// area to KML, and gpsbabel writing the same track points to GPX from a
// unicsv file in the same run, as a ratio. Prints figures; asserts nothing.
//
// Usage: bench_convert [points] [area-points]

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "app/startup/standard_options.h"
#include "convert/area_file.h"
#include "convert/area_measure.h"
#include "convert/file_output.h"
#include "convert/gpx_writer.h"
#include "convert/kml_writer.h"
#include "convert/track_file.h"
#include "convert/xml_text.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;
using namespace dorvane;

constexpr std::size_t kDefaultTrackPoints = 1000000;
constexpr std::size_t kDefaultAreaPoints = 100000;
constexpr unsigned kSeed = 20240601;

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

std::vector<TrackPoint> MakeTrack(std::size_t n) {
    std::mt19937 rng(kSeed);
    std::uniform_real_distribution<double> step(-1e-4, 1e-4), ele(0, 3000);
    std::vector<TrackPoint> pts(n);
    double lat = 39.9, lon = 116.4;
    for (std::size_t i = 0; i < n; ++i) {
        lat += step(rng);
        lon += step(rng);
        pts[i] = {lat, lon, ele(rng), static_cast<std::int32_t>(1600000000 + i), 0, 0};
    }
    return pts;
}

AreaFile MakeArea(std::size_t n) {
    AreaFile a;
    a.header.SetFileName("BENCH");
    a.header.method = static_cast<std::int16_t>(AreaMethod::kTrack);
    a.header.areaUnitPrice = 1.5f;
    a.header.lengthUnitPrice = 0.5f;
    std::mt19937 rng(kSeed);
    std::uniform_real_distribution<float> jitter(-1e-5f, 1e-5f);
    for (std::size_t i = 0; i < n; ++i) {
        const double angle = 6.283185307179586 * static_cast<double>(i) / static_cast<double>(n);
        AreaPoint p;
        p.longitude = static_cast<float>(116.4 + 0.01 * std::cos(angle)) + jitter(rng);
        p.latitude = static_cast<float>(39.9 + 0.01 * std::sin(angle)) + jitter(rng);
        p.altitude = 50.0f;
        a.points.push_back(p);
    }
    return a;
}

int RunShell(const std::string& cmd) {
    const int status = std::system(cmd.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

int main(int argc, char** argv) {
    if (const auto done = dorvane::HandleStandardOptions(
            argc, argv, "bench_convert",
            "usage: bench_convert [points] [area-points]\n"
            "Prints track-to-GPX and area-to-KML throughput, and gpsbabel on the same track.\n"))
        return *done;
    const std::size_t trackPoints =
        argc > 1 ? std::strtoull(argv[1], nullptr, 10) : kDefaultTrackPoints;
    const std::size_t areaPoints =
        argc > 2 ? std::strtoull(argv[2], nullptr, 10) : kDefaultAreaPoints;
    const fs::path dir =
        fs::temp_directory_path() / ("dorvane-bench-convert-" + std::to_string(::getpid()));
    fs::create_directories(dir);

    // Track: from the handheld's binary image to a GPX file on disk.
    const std::vector<std::uint8_t> image = WriteTrack("BENCH", MakeTrack(trackPoints));
    auto t0 = Clock::now();
    std::vector<TrackPoint> pts;
    ReadTrack(image, pts);
    const WriteOutcome gpx = WriteNewFile(dir, "track.gpx", [&](const auto& write) {
        return EmitGpx("track.gpx", pts, [&](std::string_view piece) { return write(piece); });
    });
    const double ourGpx = Seconds(t0);
    if (!gpx.ok()) {
        std::fprintf(stderr, "writing GPX failed: %s\n", gpx.message.c_str());
        return 1;
    }
    const double ourRate = static_cast<double>(pts.size()) / ourGpx;
    std::printf("track -> GPX:  %zu points in %.3f s = %.0f points/s (%.1f MB)\n", pts.size(),
                ourGpx, ourRate, static_cast<double>(fs::file_size(gpx.path)) / 1e6);

    // Area: from the Base64 record text to a measured KML file on disk.
    const std::string areaText = WriteArea(MakeArea(areaPoints));
    t0 = Clock::now();
    AreaFile area;
    ReadArea({reinterpret_cast<const std::uint8_t*>(areaText.data()), areaText.size()}, area);
    const std::string kml = KmlDocument(area, "area.kml", MeasureArea(area));
    const WriteOutcome kmlOut =
        WriteNewFile(dir, "area.kml", [&](const auto& write) { return write(kml); });
    const double ourKml = Seconds(t0);
    std::printf("area  -> KML:  %zu points in %.3f s = %.0f points/s\n", area.points.size(), ourKml,
                static_cast<double>(area.points.size()) / ourKml);

    // gpsbabel on the same points: unicsv in, GPX out.
    if (RunShell("command -v gpsbabel >/dev/null 2>&1") != 0) {
        std::printf("gpsbabel: not installed, no comparison\n");
    } else {
        {
            std::ofstream csv(dir / "track.csv");
            csv << "lat,lon,alt,utc_d,utc_t\n";
            std::string line;
            for (const TrackPoint& p : pts) {
                line.clear();
                AppendFixed(line, p.latitude, 6);
                line += ',';
                AppendFixed(line, p.longitude, 6);
                line += ',';
                AppendFixed(line, p.elevation, 6);
                const std::string t = GpxTimeText(p.time).value_or("");
                line += ',' + t.substr(0, 10) + ',' + t.substr(11, 8) + '\n';
                csv << line;
            }
        }
        t0 = Clock::now();
        const int rc = RunShell("gpsbabel -t -i unicsv,utc=0 -f '" + (dir / "track.csv").string() +
                                "' -x transform,trk=wpt,del -o gpx,gpxver=1.1 -F '" +
                                (dir / "babel.gpx").string() + "'");
        const double babel = Seconds(t0);
        if (rc != 0) {
            std::printf("gpsbabel: failed with status %d\n", rc);
        } else {
            const double babelRate = static_cast<double>(pts.size()) / babel;
            std::printf("gpsbabel unicsv -> GPX: %zu points in %.3f s = %.0f points/s\n",
                        pts.size(), babel, babelRate);
            std::printf("ratio (ours / gpsbabel): %.1f x (target: at least 5 x)\n",
                        ourRate / babelRate);
        }
    }
    std::error_code ec;
    fs::remove_all(dir, ec);
    return 0;
}
