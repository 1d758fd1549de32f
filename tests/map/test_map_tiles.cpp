// MBTiles packs as the map's tiles: the reader (metadata, TMS rows, formats,
// files that are not packs) and the drawing (the colour of known screen
// points at three zooms, past the deepest level, the grid outside the bounds,
// packs stacked), with packs the test makes: plain-coloured PNG tiles written
// by Python's sqlite3, and JPEG and WebP tiles by `gdal_translate -of MBTILES`.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImageReader>
#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>
#include <cmath>

#include "map/mbtiles_pack.h"
#include "map/pack_tiles.h"
#include "ui/field_map.h"

namespace dorvane::map {
namespace {

const QString kScripts = QStringLiteral(DORVANE_SOURCE_DIR "/tests/map/");
constexpr const char* kPython = "/usr/bin/python3";
const QSize kCanvas(512, 512);
/// Colour channels may differ this much after JPEG.
constexpr int kJpegTolerance = 12;

QString MakePack(const QString& dir, const QString& name, const QStringList& args) {
    const QString out = dir + QLatin1Char('/') + name;
    QProcess p;
    p.start(QString::fromLatin1(kPython), QStringList{kScripts + QStringLiteral("make_pack.py"), out} + args);
    EXPECT_TRUE(p.waitForFinished(30000));
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    return out;
}

QImage Render(ITileSource* tiles, const MapView& v) {
    QImage img(kCanvas, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::white);
    QPainter p(&img);
    DrawMapBackground(p, kCanvas, v, tiles);
    return img;
}

MapView ViewAt(double lon, double lat, double zoom) {
    const WorldPoint w = ToWorld(lon, lat);
    return {w.x, w.y, zoom};
}

/// The colour make_pack.py gives tile (z, x, y).
QColor TileColour(int z, int x, int y) {
    return QColor(40 * z, (37 * x) % 256, (53 * y) % 256);
}

bool IsGrid(QColor c) {
    return c.rgb() == kBackgroundColour.rgb() || c.rgb() == kGridColour.rgb();
}

struct Sample {
    QPoint screen;
    int tz = 0, tx = 0, ty = 0;  ///< the pack's tile under it
    bool nearEdge = false;       ///< within 3 px of that tile's edge or of the bounds'
    bool inside = false;         ///< within the bounds
};

struct Box {
    double w, s, e, n;
};

// The pack tile (at `packZoom` at most) under each point of a 7 x 7 lattice,
// and where the point lies against `bounds`.
std::vector<Sample> Lattice(const MapView& v, int packZoom, Box bounds) {
    std::vector<Sample> out;
    const int z = std::min(static_cast<int>(std::floor(v.zoom + 0.5)), packZoom);
    const double tilePx = kTileSize * std::exp2(v.zoom - z);
    for (int i = 0; i < 7; ++i)
        for (int j = 0; j < 7; ++j) {
            Sample s;
            s.screen = QPoint(36 + i * 73, 36 + j * 73);
            const WorldPoint w = ScreenToWorld(QPointF(s.screen) + QPointF(0.5, 0.5), v, kCanvas);
            const double fx = w.x * (1 << z), fy = w.y * (1 << z);
            s.tz = z;
            s.tx = static_cast<int>(std::floor(fx));
            s.ty = static_cast<int>(std::floor(fy));
            const double ex = std::min(fx - s.tx, s.tx + 1 - fx) * tilePx;
            const double ey = std::min(fy - s.ty, s.ty + 1 - fy) * tilePx;
            const QPointF tl = WorldToScreen(ToWorld(bounds.w, bounds.n), v, kCanvas);
            const QPointF br = WorldToScreen(ToWorld(bounds.e, bounds.s), v, kCanvas);
            const QPointF c = QPointF(s.screen) + QPointF(0.5, 0.5);
            const double bx = std::min(std::abs(c.x() - tl.x()), std::abs(c.x() - br.x()));
            const double by = std::min(std::abs(c.y() - tl.y()), std::abs(c.y() - br.y()));
            s.inside = c.x() > tl.x() && c.x() < br.x() && c.y() > tl.y() && c.y() < br.y();
            s.nearEdge = ex < 3 || ey < 3 || bx < 3 || by < 3;
            out.push_back(s);
        }
    return out;
}

constexpr Box kLatticeBounds{10, 40, 20, 50};
constexpr Box kCountyBounds{14, 44, 16, 46};

class MapTiles : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new QTemporaryDir;
        // The lattice pack: zooms 3-5 over part of Europe.
        lattice_ = new QString(MakePack(dir_->path(), QStringLiteral("lattice.mbtiles"),
                                        {QStringLiteral("--zooms"), QStringLiteral("3"), QStringLiteral("5"),
                                         QStringLiteral("--bounds"), QStringLiteral("10,40,20,50"),
                                         QStringLiteral("--attribution"), QStringLiteral("Lattice imagery")}));
    }
    static void TearDownTestSuite() {
        delete lattice_;
        delete dir_;
    }
    static QTemporaryDir* dir_;
    static QString* lattice_;
};
QTemporaryDir* MapTiles::dir_ = nullptr;
QString* MapTiles::lattice_ = nullptr;

TEST_F(MapTiles, ReadsTheMetadataAndFlipsTheRows) {
    PackError e{};
    std::string detail;
    auto pack = CMbtilesPack::Open(lattice_->toStdString(), e, detail);
    ASSERT_TRUE(pack) << PackErrorText(e) << " " << detail;
    const PackMetadata& m = pack->Metadata();
    EXPECT_EQ(m.minZoom, 3);
    EXPECT_EQ(m.maxZoom, 5);
    EXPECT_EQ(m.format, TileFormat::kPng);
    EXPECT_EQ(m.attribution, "Lattice imagery");
    ASSERT_TRUE(m.bounds);
    EXPECT_DOUBLE_EQ(m.bounds->west, 10);
    EXPECT_DOUBLE_EQ(m.bounds->north, 50);
    // Tile 4/8/5 (XYZ) holds lon 0..22.5, lat 40.9..55.8: stored as TMS row 10.
    const struct {
        int z, x, y;
        bool present;
    } cases[] = {{4, 8, 5, true}, {4, 8, 10, false}, {5, 17, 11, true}, {3, 4, 2, true},
                 {6, 34, 22, false}, {2, 2, 1, false}, {4, -1, 5, false}, {4, 8, 16, false}};
    for (const auto& c : cases) {
        const std::vector<std::uint8_t> bytes = pack->ReadTile(c.z, c.x, c.y);
        EXPECT_EQ(!bytes.empty(), c.present) << c.z << "/" << c.x << "/" << c.y;
        if (!c.present || bytes.empty()) continue;
        EXPECT_EQ(SniffTileFormat(bytes), TileFormat::kPng);
        QImage img;
        ASSERT_TRUE(img.loadFromData(bytes.data(), static_cast<int>(bytes.size())));
        EXPECT_EQ(img.pixelColor(100, 100).rgb(), TileColour(c.z, c.x, c.y).rgb())
            << c.z << "/" << c.x << "/" << c.y;
    }
}

TEST_F(MapTiles, FilesThatAreNotPacksAreRefusedWithAReason) {
    const QString d = dir_->path();
    auto write = [&](const QString& name, const QByteArray& bytes) {
        QFile f(d + QLatin1Char('/') + name);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        return f.fileName();
    };
    auto sql = [&](const QString& name, const QString& script) {
        const QString path = d + QLatin1Char('/') + name;
        QProcess p;
        p.start(QStringLiteral("sqlite3"), {path, script});
        EXPECT_TRUE(p.waitForFinished(10000));
        EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
        return path;
    };
    const struct {
        QString path;
        PackError error;
    } cases[] = {
        {d + QStringLiteral("/absent.mbtiles"), PackError::kCannotOpen},
        {write(QStringLiteral("text.mbtiles"), QByteArray("this is not a database\n").repeated(40)),
         PackError::kNotMbtiles},
        {write(QStringLiteral("empty-file.mbtiles"), QByteArray()), PackError::kNotMbtiles},
        {sql(QStringLiteral("other.mbtiles"), QStringLiteral("CREATE TABLE t(a);")), PackError::kNotMbtiles},
        {sql(QStringLiteral("no-tiles.mbtiles"),
             QStringLiteral("CREATE TABLE tiles(zoom_level, tile_column, tile_row, tile_data);")),
         PackError::kNoTiles},
        {sql(QStringLiteral("vector.mbtiles"),
             QStringLiteral("CREATE TABLE metadata(name, value); INSERT INTO metadata VALUES('format','pbf');"
                            "CREATE TABLE tiles(zoom_level, tile_column, tile_row, tile_data);"
                            "INSERT INTO tiles VALUES(1,0,0,x'1f8b');")),
         PackError::kVectorTiles},
    };
    for (const auto& c : cases) {
        PackError e{};
        std::string detail;
        EXPECT_FALSE(CMbtilesPack::Open(c.path.toStdString(), e, detail)) << c.path.toStdString();
        EXPECT_EQ(e, c.error) << c.path.toStdString() << ": " << detail;
        QString words;
        EXPECT_FALSE(CPackTileSource::Open(c.path, &words));
        EXPECT_TRUE(words.contains(c.path)) << words.toStdString();
    }
}

TEST_F(MapTiles, NonsenseMetadataGivesWayToTheTiles) {
    const QString path = MakePack(dir_->path(), QStringLiteral("odd.mbtiles"),
                                  {QStringLiteral("--zooms"), QStringLiteral("2"), QStringLiteral("3"),
                                   QStringLiteral("--bounds"), QStringLiteral("10,40,20,50"),
                                   QStringLiteral("--no-metadata-zooms")});
    QProcess p;
    p.start(QStringLiteral("sqlite3"),
            {path, QStringLiteral("UPDATE metadata SET value='east,south' WHERE name='bounds';"
                                  "DELETE FROM metadata WHERE name='format';"
                                  "INSERT INTO metadata VALUES('minzoom','-3'),('maxzoom','99');")});
    ASSERT_TRUE(p.waitForFinished(10000));
    PackError e{};
    std::string detail;
    auto pack = CMbtilesPack::Open(path.toStdString(), e, detail);
    ASSERT_TRUE(pack) << detail;
    EXPECT_EQ(pack->Metadata().minZoom, 2);
    EXPECT_EQ(pack->Metadata().maxZoom, 3);
    EXPECT_FALSE(pack->Metadata().bounds);
    EXPECT_EQ(pack->Metadata().format, TileFormat::kPng);  // from the tiles' bytes
}

// The colour under known screen points at three zooms of the pack and past
// its deepest level (its tiles cut and scaled); the grid where a point's tile
// lies outside the bounds.
TEST_F(MapTiles, TheMapShowsThePackTileUnderEachPoint) {
    QString error;
    auto source = CPackTileSource::Open(*lattice_, &error);
    ASSERT_TRUE(source) << error.toStdString();
    const struct {
        double lon, lat, zoom;
    } views[] = {{15, 45, 3}, {15, 45, 4}, {12, 48, 5}, {15, 45, 4.4}, {15.3, 45.2, 7}, {19.9, 40.2, 8.6},
                 {20, 50, 5}};
    for (const auto& vc : views) {
        const MapView v = ViewAt(vc.lon, vc.lat, vc.zoom);
        const QImage img = Render(source.get(), v);
        int pack = 0, grid = 0;
        for (const Sample& s : Lattice(v, 5, kLatticeBounds)) {
            if (s.nearEdge) continue;
            const QColor got = img.pixelColor(s.screen);
            if (s.inside) {
                EXPECT_EQ(got.rgb(), TileColour(s.tz, s.tx, s.ty).rgb())
                    << "zoom " << vc.zoom << " at " << s.screen.x() << "," << s.screen.y();
                ++pack;
            } else {
                EXPECT_TRUE(IsGrid(got)) << "zoom " << vc.zoom << " at " << s.screen.x() << ","
                                         << s.screen.y() << ": " << got.name().toStdString();
                ++grid;
            }
        }
        EXPECT_GT(pack, 0) << "zoom " << vc.zoom;
        if (vc.zoom == 5 && vc.lon == 20) {
            EXPECT_GT(grid, 0);
        }
    }
    EXPECT_TRUE(source->Problem().isEmpty()) << source->Problem().toStdString();
}

// Above the pack's shallowest level it gives nothing: the grid.
TEST_F(MapTiles, AboveTheShallowestLevelTheGridShows) {
    auto source = CPackTileSource::Open(*lattice_, nullptr);
    ASSERT_TRUE(source);
    const QImage img = Render(source.get(), ViewAt(15, 45, 2));
    for (const Sample& s : Lattice(ViewAt(15, 45, 2), 2, kLatticeBounds)) EXPECT_TRUE(IsGrid(img.pixelColor(s.screen)));
}

// A small pack of one colour over the lattice: its colour inside its own
// bounds, the lattice's around it; the attribution names both.
TEST_F(MapTiles, StackedPacksDrawTheLaterOverTheEarlier) {
    const QString county = MakePack(dir_->path(), QStringLiteral("county.mbtiles"),
                                    {QStringLiteral("--zooms"), QStringLiteral("4"), QStringLiteral("6"),
                                     QStringLiteral("--bounds"), QStringLiteral("14,44,16,46"),
                                     QStringLiteral("--colour"), QStringLiteral("250,0,250,255"),
                                     QStringLiteral("--attribution"), QStringLiteral("County imagery")});
    auto below = CPackTileSource::Open(*lattice_, nullptr);
    auto above = CPackTileSource::Open(county, nullptr);
    ASSERT_TRUE(below && above);
    CTileStack stack({below.get(), above.get()});
    EXPECT_EQ(stack.Attribution(), QStringLiteral("Lattice imagery | County imagery"));
    for (double zoom : {4.0, 5.0, 6.0}) {
        const MapView v = ViewAt(15, 45, zoom);
        const QImage img = Render(&stack, v);
        const std::vector<Sample> lattice = Lattice(v, 5, kLatticeBounds);
        const std::vector<Sample> county6 = Lattice(v, 6, kCountyBounds);
        int top = 0, under = 0;
        for (std::size_t i = 0; i < lattice.size(); ++i) {
            const Sample& s = lattice[i];
            const Sample& c = county6[i];
            if (s.nearEdge || c.nearEdge) continue;
            const QColor got = img.pixelColor(s.screen);
            if (c.inside) {
                EXPECT_EQ(got.rgb(), QColor(250, 0, 250).rgb()) << zoom;
                ++top;
            } else if (s.inside) {
                EXPECT_EQ(got.rgb(), TileColour(s.tz, s.tx, s.ty).rgb()) << zoom;
                ++under;
            }
        }
        EXPECT_GT(top, 0) << zoom;
        if (zoom == 6.0) {
            EXPECT_GT(under, 0);
        }
    }
}

// A pack as GDAL writes it (one level, JPEG or WebP tiles, a `tiles` table): its
// colour at its level and scaled past it, the grid beside it.
TEST_F(MapTiles, APackWrittenByGdalShowsItsColour) {
    struct Case {
        const char* format;  ///< gdal_translate's TILE_FORMAT
        TileFormat read;
        int r, g, b;
    };
    const Case cases[] = {{"JPEG", TileFormat::kJpeg, 200, 30, 30}, {"WEBP", TileFormat::kWebp, 30, 60, 200}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.format);
        if (c.read == TileFormat::kWebp && !QImageReader::supportedImageFormats().contains("webp"))
            GTEST_SKIP() << "Qt's WebP image plugin is missing (Debian: qt6-image-formats-plugins)";
        const QString out = dir_->path() + QStringLiteral("/gdal-%1.mbtiles").arg(QLatin1String(c.format));
        QProcess p;
        p.start(QString::fromLatin1(kPython),
                {kScripts + QStringLiteral("make_raster_pack.py"), out, dir_->path(), QString::number(c.r),
                 QString::number(c.g), QString::number(c.b), QLatin1String(c.format)});
        ASSERT_TRUE(p.waitForFinished(60000));
        ASSERT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
        QString error;
        auto source = CPackTileSource::Open(out, &error);
        ASSERT_TRUE(source) << error.toStdString();
        const PackMetadata& m = source->Pack().Metadata();
        EXPECT_EQ(m.format, c.read);
        ASSERT_TRUE(m.bounds);
        const double lon = (m.bounds->west + m.bounds->east) / 2, lat = (m.bounds->south + m.bounds->north) / 2;
        for (double zoom : {static_cast<double>(m.maxZoom), m.maxZoom + 2.0}) {
            const QImage img = Render(source.get(), ViewAt(lon, lat, zoom));
            const QColor seen = img.pixelColor(kCanvas.width() / 2, kCanvas.height() / 2);
            EXPECT_NEAR(seen.red(), c.r, kJpegTolerance) << zoom;
            EXPECT_NEAR(seen.green(), c.g, kJpegTolerance) << zoom;
            EXPECT_NEAR(seen.blue(), c.b, kJpegTolerance) << zoom;
        }
        EXPECT_TRUE(source->Problem().isEmpty()) << source->Problem().toStdString();
        // Two kilometres of pack at level 15 (4.8 m a pixel) and then some:
        // the corner of the view lies outside.
        const QImage wide = Render(source.get(), ViewAt(lon, lat, m.maxZoom));
        EXPECT_TRUE(IsGrid(wide.pixelColor(3, 3))) << wide.pixelColor(3, 3).name().toStdString();
    }
}

}  // namespace
}  // namespace dorvane::map
