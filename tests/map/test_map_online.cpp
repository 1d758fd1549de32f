// The map's fetched sources against a tile server of the test's own on
// 127.0.0.1 (tile_server.py, which logs every request): an overlay drawn over
// its base with both attributions, Tianditu's key in its requests, the disk
// cache dropping the least recently used tiles past its limit, "Offline"
// asking nothing of any server, and "Keep for offline": refused for
// OpenStreetMap's servers, a pack written that the map then draws with the
// server gone, a cancelled run leaving no file.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QNetworkCacheMetaData>
#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <functional>

#include "map/keep_offline.h"
#include "map/map_tiles.h"
#include "map/tile_cache.h"
#include "map/tile_presets.h"
#include "ui/field_map.h"

namespace dorvane::map {
namespace {

constexpr const char* kPython = "/usr/bin/python3";
const QString kServerScript = QStringLiteral(DORVANE_SOURCE_DIR "/tests/map/tile_server.py");
const QColor kBaseColour(0x30, 0x60, 0xC0);
const QColor kOverColour(0xE0, 0x20, 0x20);
constexpr int kWaitMs = 15000;
const QSize kCanvas(512, 512);

bool WaitFor(const std::function<bool()>& done, int ms = kWaitMs) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(2);
    }
    return true;
}

// One tile_server.py; its log read back.
class Server {
public:
    explicit Server(const QString& dir) : log_(dir + QStringLiteral("/requests.log")) {
        QFile(log_).remove();
        process_.start(QString::fromLatin1(kPython), {kServerScript, log_});
        if (process_.waitForStarted(10000) && process_.waitForReadyRead(10000))
            port_ = process_.readLine().trimmed().toInt();
    }
    ~Server() { Stop(); }
    void Stop() {
        process_.kill();
        process_.waitForFinished(5000);
    }
    int Port() const { return port_; }
    QString Url(const char* kind) const {
        return QStringLiteral("http://127.0.0.1:%1/%2/{z}/{x}/{y}.png").arg(port_).arg(QLatin1String(kind));
    }
    QStringList Requests() const {
        QFile f(log_);
        if (!f.open(QIODevice::ReadOnly)) return {};
        return QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

private:
    QString log_;
    QProcess process_;
    int port_ = 0;
};

MapView ViewAt(double lon, double lat, double zoom) {
    const WorldPoint w = ToWorld(lon, lat);
    return {w.x, w.y, zoom};
}

QImage Draw(CMapTiles& tiles, const MapView& v, bool overlay = false) {
    QImage img(kCanvas, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::white);
    QPainter p(&img);
    DrawMapBackground(p, kCanvas, v, &tiles);
    if (overlay) DrawMapOverlay(p, kCanvas, v, &tiles);
    return img;
}

// Fetches what the view needs and waits until every layer is done.
void Fetch(CMapTiles& tiles, const MapView& v) {
    tiles.Request(CoveringTiles(v, kCanvas));
    ASSERT_TRUE(WaitFor([&] { return tiles.Idle(); }));
}

// Dark pixels (text) in the bottom-right corner, where the attribution goes.
int TextPixels(const QImage& img) {
    int n = 0;
    for (int y = img.height() - 24; y < img.height(); ++y)
        for (int x = img.width() - 300; x < img.width(); ++x)
            if (qGray(img.pixel(x, y)) < 90) ++n;
    return n;
}

class MapOnline : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new QTemporaryDir;
        server_ = new Server(dir_->path());
    }
    static void TearDownTestSuite() {
        delete server_;
        delete dir_;
    }
    void SetUp() override {
        ASSERT_GT(server_->Port(), 0) << "the tile server did not start";
        // Every test starts with an empty cache: what it sees was fetched by it.
        QDir(TileCacheFolder()).removeRecursively();
    }
    static QTemporaryDir* dir_;
    static Server* server_;
};
QTemporaryDir* MapOnline::dir_ = nullptr;
Server* MapOnline::server_ = nullptr;

TEST_F(MapOnline, TheOverlayIsDrawnOverItsBaseWithBothAttributions) {
    TileSettings s = TileSettingsFor({server_->Url("base")}, server_->Url("over"), false);
    s.attribution = QStringLiteral("Base maps");
    s.overlayAttribution = QStringLiteral("Names");
    CMapTiles tiles(s);
    // Zoom 10 exactly: tiles 1:1, and the view's centre is a tile's corner
    // plus half a tile, so tile centres are known.
    const MapView v{(512 + 0.5) / 1024.0, (300 + 0.5) / 1024.0, 10};
    Fetch(tiles, v);
    const QImage img = Draw(tiles, v, true);
    const struct {
        QPoint at;
        QColor colour;
    } cases[] = {
        {{256, 256}, kOverColour},  // the middle of a tile: the overlay's square
        {{256 + 100, 256}, kBaseColour},  // its transparent rim: the base
        {{256, 256 - 100}, kBaseColour},
        {{256 - 128 + 10, 256 - 128 + 10}, kBaseColour},
        {{256 + 256 - 1, 256 - 256 + 1}, kOverColour},  // the next tile's square
    };
    for (const auto& c : cases)
        EXPECT_EQ(img.pixelColor(c.at).rgb(), c.colour.rgb()) << c.at.x() << "," << c.at.y();
    EXPECT_EQ(tiles.Attribution(), QStringLiteral("Base maps | Names"));
    EXPECT_GT(TextPixels(img), 20) << "the attribution is drawn";
    QImage bare(kCanvas, QImage::Format_ARGB32_Premultiplied);
    bare.fill(kBaseColour);
    {
        QPainter p(&bare);
        DrawMapOverlay(p, kCanvas, v, nullptr);
    }
    EXPECT_EQ(TextPixels(bare), 0) << "no source, no attribution";
    const QStringList asked = server_->Requests();
    EXPECT_TRUE(asked.filter(QStringLiteral("/base/10/")).size() >= 4);
    EXPECT_TRUE(asked.filter(QStringLiteral("/over/10/")).size() >= 4);
}

TEST_F(MapOnline, TiandituCarriesTheUsersKeyInEveryRequest) {
    TileSettings t = PresetSettings(TilePreset::kTianditu, QStringLiteral("k3y 42"), TileSettings{});
    EXPECT_EQ(PresetOf(t), TilePreset::kTianditu);
    EXPECT_EQ(TiandituKeyOf(t), QStringLiteral("k3y 42"));
    EXPECT_FALSE(MayKeepOffline(t)) << "its terms forbid bulk downloading";
    // The same requests, sent to our server instead of Tianditu's.
    const QString ours = QStringLiteral("http://127.0.0.1:%1/tianditu/t{s}/").arg(server_->Port());
    t.urlTemplate.replace(QStringLiteral("https://t{s}.tianditu.gov.cn/"), ours);
    t.overlayTemplate.replace(QStringLiteral("https://t{s}.tianditu.gov.cn/"), ours);
    const int before = static_cast<int>(server_->Requests().size());
    CMapTiles tiles(t);
    const MapView v = ViewAt(126.6, 45.7, 12);
    Fetch(tiles, v);
    const QStringList asked = server_->Requests().mid(before);
    ASSERT_FALSE(asked.isEmpty());
    int imagery = 0, names = 0;
    QSet<QString> subdomains;
    for (const QString& r : asked) {
        EXPECT_TRUE(r.endsWith(QStringLiteral("&tk=k3y%2042"))) << r.toStdString();
        EXPECT_TRUE(r.contains(QStringLiteral("TILEMATRIX=12&"))) << r.toStdString();
        imagery += r.contains(QStringLiteral("/img_w/wmts?")) ? 1 : 0;
        names += r.contains(QStringLiteral("/cia_w/wmts?")) ? 1 : 0;
        subdomains.insert(r.section(QLatin1Char('/'), 2, 2));
    }
    EXPECT_EQ(imagery, names);
    EXPECT_GT(subdomains.size(), 1) << "the sub-domains take turns";
    EXPECT_EQ(Draw(tiles, v).pixelColor(256, 256).rgb(), kBaseColour.rgb());
}

TEST_F(MapOnline, OfflineAsksNothingOfAnyServer) {
    const MapView v = ViewAt(15, 45, 11);
    TileSettings s = TileSettingsFor({server_->Url("base")}, server_->Url("over"), true);
    const int before = static_cast<int>(server_->Requests().size());
    {
        CMapTiles tiles(s);
        Fetch(tiles, v);
        EXPECT_EQ(server_->Requests().size(), before) << "nothing may be asked offline";
        const QColor c = Draw(tiles, v).pixelColor(300, 300);
        EXPECT_TRUE(c.rgb() == kBackgroundColour.rgb() || c.rgb() == kGridColour.rgb()) << "the grid";
    }
    // Seen once online, the same tiles come from the cache offline.
    {
        s.offline = false;
        CMapTiles online(s);
        Fetch(online, v);
        EXPECT_GT(server_->Requests().size(), before);
    }
    const int seen = static_cast<int>(server_->Requests().size());
    s.offline = true;
    CMapTiles tiles(s);
    Fetch(tiles, v);
    EXPECT_EQ(server_->Requests().size(), seen);
    EXPECT_EQ(Draw(tiles, v).pixelColor(300, 300).rgb(), kBaseColour.rgb());
}

// Items put in the cache one after another; one read meanwhile. Past the
// limit the least recently used go first, the one read stays.
TEST_F(MapOnline, TheCacheDropsTheLeastRecentlyUsedPastItsLimit) {
    QTemporaryDir folder;
    CTileDiskCache cache;
    cache.setCacheDirectory(folder.path());
    const QByteArray body(40 * 1024, 'x');
    auto put = [&](int i) {
        QNetworkCacheMetaData m;
        m.setUrl(QUrl(QStringLiteral("http://127.0.0.1/t/%1.png").arg(i)));
        m.setSaveToDisk(true);
        m.setLastModified(QDateTime::currentDateTimeUtc());
        m.setExpirationDate(QDateTime::currentDateTimeUtc().addDays(1));
        QIODevice* d = cache.prepare(m);
        ASSERT_TRUE(d);
        d->write(body);
        cache.insert(d);
        QThread::msleep(20);  // file times apart
    };
    auto has = [&](int i) {
        std::unique_ptr<QIODevice> d(cache.data(QUrl(QStringLiteral("http://127.0.0.1/t/%1.png").arg(i))));
        return d != nullptr;
    };
    put(0);
    const qint64 one = cache.cacheSize();
    ASSERT_GT(one, body.size());
    // Room for four and a half items; trimmed to 90 %: four stay.
    cache.setMaximumCacheSize(one * 9 / 2);
    for (int i = 1; i < 4; ++i) put(i);
    EXPECT_TRUE(has(0));  // used: now the most recent
    QThread::msleep(20);
    put(4);
    put(5);
    const struct {
        int item;
        bool kept;
    } cases[] = {{0, true}, {1, false}, {2, false}, {3, true}, {4, true}, {5, true}};
    for (const auto& c : cases) EXPECT_EQ(has(c.item), c.kept) << "item " << c.item;
    EXPECT_LE(TileCacheBytes(folder.path()), cache.maximumCacheSize());
    bool cleared = false, ok = false;
    QObject context;
    ClearTileCacheAsync(folder.path(), &context, [&](bool all) {
        cleared = true;
        ok = all;
    });
    ASSERT_TRUE(WaitFor([&] { return cleared; }));
    EXPECT_TRUE(ok);
    EXPECT_EQ(TileCacheBytes(folder.path()), 0);
}

TEST_F(MapOnline, KeepingRefusesSourcesWhoseTermsForbidIt) {
    const QRectF small(ToWorld(15, 45.1).x, ToWorld(15, 45.1).y, 0.0005, 0.0005);
    TileSettings custom = TileSettingsFor(server_->Url("base"));
    custom.allowsKeeping = true;
    TileSettings unmarked = custom;
    unmarked.allowsKeeping = false;
    TileSettings osm = DefaultTileSettings();
    osm.allowsKeeping = true;  // whatever the profile says
    TileSettings osmSub = TileSettingsFor(QStringLiteral("https://{s}.tile.openstreetmap.org/{z}/{x}/{y}.png"));
    osmSub.allowsKeeping = true;
    TileSettings offline = custom;
    offline.offline = true;
    const struct {
        const char* what;
        TileSettings source;
        std::vector<int> zooms;
        KeepRefusal refusal;
    } cases[] = {
        {"osm", osm, {10}, KeepRefusal::kNotAllowed},
        {"osm sub-domains", osmSub, {10}, KeepRefusal::kNotAllowed},
        {"not marked", unmarked, {10}, KeepRefusal::kNotAllowed},
        {"none", TileSettingsFor(QStringLiteral("none")), {10}, KeepRefusal::kNotAllowed},
        {"offline", offline, {10}, KeepRefusal::kOffline},
        {"too many", custom, {10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21}, KeepRefusal::kTooMany},
        {"no zoom", custom, {}, KeepRefusal::kNothing},
    };
    const int before = static_cast<int>(server_->Requests().size());
    for (const auto& c : cases) {
        const QString path = dir_->path() + QStringLiteral("/refused.mbtiles");
        CKeepOffline keep({c.source, small, c.zooms, path});
        EXPECT_EQ(keep.Start(), c.refusal) << c.what;
        EXPECT_FALSE(QFile::exists(path)) << c.what;
        EXPECT_FALSE(QFile::exists(path + QStringLiteral(".part"))) << c.what;
    }
    EXPECT_EQ(server_->Requests().size(), before) << "a refusal asks nothing";
    EXPECT_EQ(KeepTiles(QRectF(0, 0, 1, 1), {7}).size(), 16384u > kMaxKeptTiles ? kMaxKeptTiles + 1 : 16384u);
}

TEST_F(MapOnline, AKeptPackIsDrawnWithTheServerGone) {
    QTemporaryDir own;
    Server server(own.path());
    ASSERT_GT(server.Port(), 0);
    TileSettings source = TileSettingsFor(server.Url("base"));
    source.allowsKeeping = true;
    source.attribution = QStringLiteral("Our tiles");
    const MapView v = ViewAt(15, 45, 12);
    const WorldPoint tl = ScreenToWorld(QPointF(0, 0), v, kCanvas);
    const WorldPoint br = ScreenToWorld(QPointF(kCanvas.width(), kCanvas.height()), v, kCanvas);
    const QRectF area(QPointF(tl.x, tl.y), QPointF(br.x, br.y));
    const QString path = own.path() + QStringLiteral("/kept.mbtiles");
    CKeepOffline keep({source, area, {11, 12}, path});
    int progress = 0, total = 0;
    bool finished = false, written = false;
    int failed = -1;
    keep.SetOnProgress([&](int done, int all) {
        EXPECT_EQ(done, progress + 1);
        progress = done;
        total = all;
    });
    keep.SetOnFinished([&](bool ok, int missing) {
        finished = true;
        written = ok;
        failed = missing;
    });
    ASSERT_EQ(keep.Start(), KeepRefusal::kNone);
    ASSERT_TRUE(WaitFor([&] { return finished; }));
    EXPECT_TRUE(written) << keep.WriteError().toStdString();
    EXPECT_EQ(failed, 0);
    EXPECT_EQ(static_cast<std::size_t>(total), keep.Total());
    EXPECT_EQ(progress, total);
    EXPECT_EQ(server.Requests().size(), keep.Total()) << "each tile asked once";
    server.Stop();
    EXPECT_FALSE(QFile::exists(path + QStringLiteral(".part")));

    CMapTiles tiles(TileSettingsFor({path}, QString(), true));
    ASSERT_TRUE(tiles.Problems().isEmpty()) << tiles.Problems().join(QLatin1Char(' ')).toStdString();
    EXPECT_EQ(tiles.Attribution(), QStringLiteral("Our tiles"));
    for (double zoom : {11.0, 12.0, 13.5}) {
        const QImage img = Draw(tiles, ViewAt(15, 45, zoom));
        EXPECT_EQ(img.pixelColor(256, 256).rgb(), kBaseColour.rgb()) << zoom;
    }
}

TEST_F(MapOnline, ACancelledKeepingLeavesNoFile) {
    TileSettings source = TileSettingsFor(server_->Url("noise"));
    source.allowsKeeping = true;
    const QRectF area(ToWorld(14, 46).x, ToWorld(14, 46).y, 0.002, 0.002);
    const QString path = dir_->path() + QStringLiteral("/cancelled.mbtiles");
    CKeepOffline keep({source, area, {14}, path});
    bool finished = false, written = true;
    keep.SetOnProgress([&](int done, int) {
        if (done == 3) keep.Cancel();
    });
    keep.SetOnFinished([&](bool ok, int) {
        finished = true;
        written = ok;
    });
    ASSERT_EQ(keep.Start(), KeepRefusal::kNone);
    ASSERT_GT(keep.Total(), 20u);
    ASSERT_TRUE(WaitFor([&] { return finished; }));
    EXPECT_FALSE(written);
    EXPECT_FALSE(QFile::exists(path));
    EXPECT_FALSE(QFile::exists(path + QStringLiteral(".part")));
}

}  // namespace
}  // namespace dorvane::map
