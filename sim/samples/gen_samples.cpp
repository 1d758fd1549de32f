// dorvane-sim-samples: writes the emulator's sample files, byte for byte the
// same on every run, so the committed copy can be checked against a fresh one.
//
//   dorvane-sim-samples OUTDIR [--large]
//   dorvane-sim-samples --help | --version
//
// Without --large it writes the small set committed in sim/samples/data; with
// --large it adds the two big files (a 100 000-point track and a ~1 MB file),
// which the build generates instead of the repository carrying them.

#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "app/startup/standard_options.h"
#include "convert/area_file.h"
#include "convert/track_file.h"

namespace {

using dorvane::AreaFile;
using dorvane::AreaPoint;
using dorvane::TrackPoint;
using Bytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;

// 2007-01-01 00:00:00 UTC: the recording times of the samples start here.
constexpr std::int32_t kStartTime = 1167609600;
// A field near Beijing, where the samples were "recorded".
constexpr double kLat = 39.9;
constexpr double kLon = 116.3;
// "测试轨迹.gpx" in GBK (测 B2E2, 试 CAD4, 轨 B9EC, 迹 BCA3): the handheld's own bytes.
const std::string kGbkTrackName = "\xB2\xE2\xCA\xD4\xB9\xEC\xBC\xA3.gpx";
constexpr std::size_t kLongTrackPoints = 100000;
constexpr std::size_t kBigFileBytes = 1000000;

bool Write(const fs::path& dir, const std::string& name, const Bytes& data) {
    std::ofstream out(dir / name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()),
              static_cast<std::streamsize>(data.size()));
    if (!out) std::cerr << "dorvane-sim-samples: cannot write " << (dir / name) << "\n";
    return static_cast<bool>(out);
}

Bytes Pattern(std::size_t n, std::uint32_t seed) {
    Bytes b(n);
    std::uint32_t x = seed;
    for (auto& c : b) {
        x = x * 1103515245u + 12345u;
        c = static_cast<std::uint8_t>(x >> 16);
    }
    return b;
}

std::vector<TrackPoint> Track(std::size_t n, std::int32_t t0) {
    std::vector<TrackPoint> pts(n);
    for (std::size_t i = 0; i < n; ++i) {
        const double a = static_cast<double>(i) * 1e-4;
        pts[i].latitude = kLat + a * std::cos(a * 50);
        pts[i].longitude = kLon + a * std::sin(a * 50);
        pts[i].elevation = 50 + static_cast<double>(i % 100) * 0.5;
        pts[i].time = t0 + static_cast<std::int32_t>(i);
        pts[i].extra = static_cast<double>(i % 7);
        pts[i].extraWord = static_cast<std::uint32_t>(i);
    }
    return pts;
}

AreaFile Area(const char* name, dorvane::AreaMethod method, bool work, std::size_t corners) {
    AreaFile a;
    a.header.areaUnitPrice = 0.5f;
    a.header.lengthUnitPrice = 2.0f;
    a.header.collectionTime = kStartTime + 3600;
    a.header.SetFileName(name);
    a.header.method = static_cast<std::int16_t>(method);
    if (work) a.work = dorvane::AreaWorkRecord{2.5f, kStartTime + 3600, kStartTime + 7200, 0};
    for (std::size_t i = 0; i < corners; ++i) {
        AreaPoint p;
        // A square of about 100 m by 100 m.
        p.longitude = static_cast<float>(kLon + ((i == 1 || i == 2) ? 0.001 : 0.0));
        p.latitude = static_cast<float>(kLat + ((i == 2 || i == 3) ? 0.001 : 0.0));
        p.altitude = 50.0f + static_cast<float>(i);
        a.points.push_back(p);
    }
    return a;
}

Bytes Text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

bool WriteSmall(const fs::path& dir) {
    using dorvane::AreaMethod;
    bool ok = true;
    ok &= Write(dir, "T0601_empty.gpx", dorvane::WriteTrack("empty", {}));
    ok &= Write(dir, "T0602_few.gpx", dorvane::WriteTrack("few", Track(5, kStartTime)));
    auto negative = Track(4, -100);  // a fix dated before 1970
    ok &= Write(dir, "T0603_negtime.gpx", dorvane::WriteTrack("negative time", negative));
    ok &= Write(dir, kGbkTrackName, dorvane::WriteTrack("\xB2\xE2\xCA\xD4", Track(12, kStartTime)));

    ok &= Write(dir, "A0601_track.txt",
                Text(dorvane::WriteArea(Area("A0601", AreaMethod::kTrack, true, 4))));
    ok &= Write(dir, "A0602_vertex.txt",
                Text(dorvane::WriteArea(Area("A0602", AreaMethod::kVertex, false, 4))));
    ok &= Write(dir, "A0603_harvest.txt",
                Text(dorvane::WriteArea(Area("A0603", AreaMethod::kHarvesting, true, 5))));
    AreaFile flagged = Area("A0604", AreaMethod::kVertex, true, 5);
    flagged.points[4].flag = dorvane::kAreaPointExcluded;  // left out of the area
    ok &= Write(dir, "A0604_flag1.txt", Text(dorvane::WriteArea(flagged)));
    // A damaged third point: one Base64 character changed, so its check fails.
    std::string damaged = dorvane::WriteArea(Area("A0605", AreaMethod::kTrack, true, 5));
    std::size_t line = 0;
    for (int i = 0; i < 4; ++i) line = damaged.find('$', line + 1);
    damaged[line + 5] = damaged[line + 5] == 'A' ? 'B' : 'A';
    ok &= Write(dir, "A0605_damaged.txt", Text(damaged));
    ok &= Write(dir, "A0606_header_only.txt",
                Text(dorvane::WriteArea(Area("A0606", AreaMethod::kVertex, false, 0))));

    ok &= Write(dir, "N070101.gmt", Pattern(3000, 70101));
    ok &= Write(dir, "C070101.gmt", Pattern(700, 70102));
    ok &= Write(dir, "dollars.bin", Bytes(4000, '$'));
    for (std::size_t n : {0, 1959, 1960, 1961})
        ok &= Write(dir, "size_" + std::to_string(n) + ".bin",
                    Pattern(n, static_cast<std::uint32_t>(n)));
    return ok;
}

bool WriteLarge(const fs::path& dir) {
    bool ok = Write(dir, "T0700_long.gpx",
                    dorvane::WriteTrack("long", Track(kLongTrackPoints, kStartTime)));
    ok &= Write(dir, "big_1mb.bin", Pattern(kBigFileBytes, 1));
    return ok;
}

constexpr const char* kUsage =
    "usage: dorvane-sim-samples OUTDIR [--large]\n"
    "Writes the emulator's sample files into OUTDIR (created when missing).\n"
    "  --large     also the two big files (a 100 000-point track, a ~1 MB file)\n"
    "  --help      show this help and exit\n"
    "  --version   show the version and exit\n";

}  // namespace

int main(int argc, char** argv) {
    if (const auto done = dorvane::HandleStandardOptions(argc, argv, "dorvane-sim-samples", kUsage))
        return *done;
    // An OUTDIR that looks like an option is a mistyped option, not a folder to create.
    if (argc < 2 || argc > 3 || argv[1][0] == '-' ||
        (argc == 3 && std::strcmp(argv[2], "--large") != 0)) {
        std::cerr << kUsage;
        return 2;
    }
    const fs::path dir = argv[1];
    std::error_code ec;
    fs::create_directories(dir, ec);
    bool ok = WriteSmall(dir);
    if (argc == 3) ok &= WriteLarge(dir);
    return ok ? 0 : 1;
}
