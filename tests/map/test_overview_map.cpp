// All fields on one map: colours by category, a click's field, the outline
// of a selected field, labels only when a field is large enough, groups at
// low zoom, the filter, the legend. Pixels counted on a white canvas.

#include <gtest/gtest.h>

#include <QImage>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPainter>
#include <QSemaphore>
#include <atomic>
#include <cmath>
#include <functional>

#include "map/overview_map.h"

namespace dorvane::map {
namespace {

const QSize kCanvas(640, 480);
/// How long a test waits for the layer's worker to bring a picture (ms).
constexpr int kPictureWaitMs = 10000;

OverviewField Square(double lon, double lat, double side, int category, const char* name, double mu) {
    OverviewField f;
    f.ring = {ToWorld(lon, lat), ToWorld(lon + side, lat), ToWorld(lon + side, lat + side),
              ToWorld(lon, lat + side)};
    f.name = QString::fromUtf8(name);
    f.mu = mu;
    f.category = category;
    return f;
}

QImage Draw(const COverviewMap& m, const MapView& v) {
    QImage img(kCanvas, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::white);
    QPainter p(&img);
    m.Draw(p, kCanvas, v);
    return img;
}

QPoint Centre(double lon, double lat, const MapView& v) {
    return WorldToScreen(ToWorld(lon, lat), v, kCanvas).toPoint();
}

// A category's fill over white.
QColor FillOverWhite(int category) {
    const QColor c = CategoryColour(category);
    auto mix = [](int ch) { return (ch * 150 + 255 * (255 - 150) + 127) / 255; };
    return QColor(mix(c.red()), mix(c.green()), mix(c.blue()));
}

bool Near(QColor a, QColor b, int tol = 4) {
    return std::abs(a.red() - b.red()) <= tol && std::abs(a.green() - b.green()) <= tol &&
           std::abs(a.blue() - b.blue()) <= tol;
}

int Count(const QImage& img, const std::function<bool(QColor)>& what, QRect in = {}) {
    if (in.isNull()) in = img.rect();
    int n = 0;
    for (int y = in.top(); y <= in.bottom(); ++y)
        for (int x = in.left(); x <= in.right(); ++x) n += what(img.pixelColor(x, y)) ? 1 : 0;
    return n;
}

class Overview : public ::testing::Test {
protected:
    void SetUp() override {
        map_.SetFields({Square(15.000, 45.000, 0.01, 0, "North", 22.5), Square(15.020, 45.000, 0.01, 1, "Mill", 18.25),
                        Square(16.000, 46.000, 0.01, 0, "Far", 3)});
        map_.SetLegend({QStringLiteral("billed"), QStringLiteral("not billed")});
        map_.SetMuUnit(QStringLiteral("mu"));
        map_.SetShown({true, true, false});  // the filter leaves out "Far"
    }
    COverviewMap map_;
};

TEST_F(Overview, FieldsInTheirCategoriesColourAndAClickFindsThem) {
    const MapView v = map_.Fit(kCanvas);
    const QImage img = Draw(map_, v);
    const struct {
        double lon, lat;
        int field;
    } cases[] = {{15.005, 45.005, 0}, {15.025, 45.005, 1}, {15.015, 45.005, -1}, {16.005, 46.005, -1}};
    for (const auto& c : cases) {
        const QPoint at = Centre(c.lon, c.lat, v);
        EXPECT_EQ(map_.HitTest(QPointF(at), kCanvas, v), c.field) << c.lon;
        if (c.field >= 0 && QRect(QPoint(0, 0), kCanvas).contains(at)) {
            EXPECT_TRUE(Near(img.pixelColor(at), FillOverWhite(c.field)))
                << c.lon << ": " << img.pixelColor(at).name().toStdString();
        }
    }
    // The legend's first swatch, top left.
    EXPECT_EQ(img.pixelColor(12, 10).rgb(), CategoryColour(0).rgb());
}

TEST_F(Overview, ASelectedFieldIsOutlined) {
    const MapView v = map_.Fit(kCanvas);
    auto outline = [](QColor c) { return Near(c, kSelectedOutline, 8); };
    EXPECT_EQ(Count(Draw(map_, v), outline), 0);
    map_.SetSelected({1});
    const QImage img = Draw(map_, v);
    const QPoint tl = Centre(15.020, 45.010, v), br = Centre(15.030, 45.000, v);
    const QRect around = QRect(tl, br).adjusted(-4, -4, 4, 4);
    const int inside = Count(img, outline, around);
    EXPECT_GT(inside, 2 * (around.width() + around.height()));  // its whole boundary
    EXPECT_EQ(Count(img, outline), inside) << "only that field";
}

// Harvesting work and tracks are open paths: stroked, never filled (the
// closed outline of an L would show a field it never was), and found by a
// click near the stroke, not inside its bounds.
TEST(OverviewLines, ALineIsDrawnAndFoundAlongItsPathOnly) {
    COverviewMap m;
    OverviewField l;
    l.ring = {ToWorld(15.000, 45.000), ToWorld(15.010, 45.000), ToWorld(15.010, 45.010)};
    l.line = true;
    l.category = 2;
    l.name = QStringLiteral("Harvest");
    m.SetFields({l});
    const MapView v = m.Fit(kCanvas);
    auto stroke = [](QColor c) { return Near(c, CategoryColour(2), 40); };
    const struct {
        double lon, lat;
        int dy;  // screen pixels off the point
        int field;
        bool painted;
    } cases[] = {
        {15.005, 45.000, 0, 0, true},     // on the first leg
        {15.005, 45.000, 4, 0, false},    // beside it, within a click's reach
        {15.005, 45.000, 12, -1, false},  // too far from it
        {15.007, 45.003, 0, -1, false},   // inside the triangle its closed outline would fill
    };
    const QImage img = Draw(m, v);
    for (const auto& c : cases) {
        const QPoint at = Centre(c.lon, c.lat, v) + QPoint(0, c.dy);
        EXPECT_EQ(m.HitTest(QPointF(at), kCanvas, v), c.field) << c.lon << "," << c.lat << " +" << c.dy;
        if (c.painted)
            EXPECT_TRUE(stroke(img.pixelColor(at))) << img.pixelColor(at).name().toStdString();
        else
            EXPECT_EQ(img.pixelColor(at).rgb(), QColor(Qt::white).rgb()) << c.lon << "," << c.lat << " +" << c.dy;
    }
    // Selected, the outline follows the path: none of it across the open side.
    m.SetSelected({0});
    const QImage sel = Draw(m, v);
    auto outline = [](QColor c) { return Near(c, kSelectedOutline, 8); };
    const QPoint a = Centre(15.000, 45.000, v), b = Centre(15.010, 45.010, v);
    EXPECT_GT(Count(sel, outline), a.x() < b.x() ? b.x() - a.x() : a.x() - b.x());
    const QPoint open = Centre(15.005, 45.005, v);  // on the closing diagonal a polygon would draw
    EXPECT_EQ(Count(sel, outline, QRect(open - QPoint(6, 6), QSize(13, 13))), 0);
}

TEST_F(Overview, NamesAndMuOnlyWhenAFieldHoldsThem) {
    auto text = [](QColor c) { return qGray(c.rgb()) < 60; };
    MapView close = map_.Fit(kCanvas);
    close.cx = ToWorld(15.005, 45.005).x;
    close.cy = ToWorld(15.005, 45.005).y;
    close.zoom = 15;  // "North" about 230 px wide
    const QPoint c = Centre(15.005, 45.005, close);
    const QRect middle(c.x() - 45, c.y() - 20, 90, 40);
    EXPECT_GT(Count(Draw(map_, close), text, middle), 20);
    close.zoom = 12.5;  // about 40 px: too small for its label
    const QPoint c2 = Centre(15.005, 45.005, close);
    EXPECT_EQ(Count(Draw(map_, close), text, QRect(c2.x() - 20, c2.y() - 20, 40, 40)), 0);
}

// A plot measured inside a larger field, listed before it: the plot is
// painted over the field's fill, and its click finds the plot.
TEST(OverviewOrder, ASmallFieldInsideALargeOneIsPaintedOverIt) {
    COverviewMap m;
    m.SetFields({Square(15.004, 45.004, 0.002, 0, "Plot", 1), Square(15.000, 45.000, 0.01, 1, "Block", 22)});
    const MapView v = m.Fit(kCanvas);
    const QImage img = Draw(m, v);
    auto over = [](QColor c, QColor bg) {
        auto mix = [](int top, int under) { return (top * 150 + under * (255 - 150) + 127) / 255; };
        return QColor(mix(c.red(), bg.red()), mix(c.green(), bg.green()), mix(c.blue(), bg.blue()));
    };
    const QColor plotOnTop = over(CategoryColour(0), FillOverWhite(1));
    const QColor blockOnTop = over(CategoryColour(1), FillOverWhite(0));
    ASSERT_FALSE(Near(plotOnTop, blockOnTop, 12));
    const QPoint at = Centre(15.005, 45.005, v);
    EXPECT_TRUE(Near(img.pixelColor(at), plotOnTop, 6)) << img.pixelColor(at).name().toStdString();
    EXPECT_EQ(m.HitTest(QPointF(at), kCanvas, v), 0);
    EXPECT_TRUE(Near(img.pixelColor(Centre(15.001, 45.001, v)), FillOverWhite(1)));
}

// A field walked twice: the two labels would print over each other, so
// only one is written; side by side, both are. The same text in each, so
// that one label is the same ink whichever is kept.
TEST(OverviewLabels, LabelsThatWouldCoverEachOtherAreWrittenOnce) {
    auto ink = [](const std::vector<OverviewField>& fields) {
        COverviewMap m;
        m.SetMuUnit(QStringLiteral("mu"));
        m.SetFields(fields);
        MapView v = m.Fit(kCanvas);
        v.cx = ToWorld(15.010, 45.005).x;
        v.cy = ToWorld(15.010, 45.005).y;
        v.zoom = 14.5;  // a field about 160 px wide, both in view
        // Ink in the middles of the two fields' places, clear of their outlines.
        auto text = [](QColor c) { return qGray(c.rgb()) < 60; };
        const QImage img = Draw(m, v);
        int n = 0;
        for (double lon : {15.005, 15.017}) {
            const QPoint c = Centre(lon, 45.005, v);
            n += Count(img, text, QRect(c.x() - 50, c.y() - 25, 100, 50));
        }
        return n;
    };
    const OverviewField north = Square(15.000, 45.000, 0.01, 0, "North", 22.5);
    const int one = ink({north});
    ASSERT_GT(one, 20);
    const int walkedTwice = ink({north, Square(15.0002, 45.0001, 0.01, 1, "North", 22.5)});
    EXPECT_LT(walkedTwice, one + one / 4) << "one label, not two over each other";
    const int sideBySide = ink({north, Square(15.012, 45.000, 0.01, 0, "North", 22.5)});
    EXPECT_GT(sideBySide, one + one * 3 / 4) << "both labels";
}

TEST_F(Overview, FarOutFieldsAreGrouped) {
    MapView v;
    v.cx = ToWorld(15.015, 45.005).x;
    v.cy = ToWorld(15.015, 45.005).y;
    v.zoom = 8;  // each field under 2 px: one group of two
    const QImage img = Draw(map_, v);
    const QPoint c = Centre(15.015, 45.005, v);
    EXPECT_EQ(map_.HitTest(QPointF(c), kCanvas, v), -1) << "a group is not a field";
    const int disc = Count(img, [](QColor x) { return x.rgb() == CategoryColour(0).rgb(); },
                           QRect(c.x() - 15, c.y() - 15, 30, 30));
    EXPECT_GT(disc, 60);
    map_.SetShown({true, true, true});
    v.zoom = 5;  // "Far" joins another cell: two groups now
    map_.SetLegend({});
    const QImage all = Draw(map_, v);
    EXPECT_GT(Count(all, [](QColor x) { return x.rgb() == CategoryColour(0).rgb(); }), disc / 4);
}

}  // namespace
}  // namespace dorvane::map

namespace dorvane::map {
namespace {

// Panned by the layer: the fields move with the map, the legend stays.
TEST_F(Overview, TheLayerMovesTheFieldsAndKeepsTheLegend) {
    MapView v = map_.Fit(kCanvas);
    COverviewLayer layer;
    // As a window paints: the first paint asks the worker for the picture,
    // the event loop brings it, the next paint places it.
    auto paint = [&](const MapView& at) {
        QImage img(kCanvas, QImage::Format_ARGB32_Premultiplied);
        for (int round = 0; round < 2; ++round) {
            img.fill(Qt::white);
            QPainter p(&img);
            layer.Paint(p, kCanvas, at, map_);
            p.end();
            QElapsedTimer waited;
            waited.start();
            while (!layer.Current(kCanvas, at) && waited.elapsed() < kPictureWaitMs)
                QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        }
        EXPECT_TRUE(layer.Current(kCanvas, at));
        return img;
    };
    const QPoint before = Centre(15.025, 45.005, v);
    EXPECT_TRUE(Near(paint(v).pixelColor(before), FillOverWhite(1)));
    for (int step : {40, 200, 400}) {  // within the margin, then past it
        MapView moved = v;
        moved.cx -= step / (kTileSize * std::exp2(v.zoom));
        const QImage img = paint(moved);
        const QPoint after = Centre(15.025, 45.005, moved);
        EXPECT_EQ(after.x() - before.x(), step);
        if (QRect(QPoint(0, 0), kCanvas).contains(after)) {
            EXPECT_TRUE(Near(img.pixelColor(after), FillOverWhite(1))) << step;
        }
        EXPECT_EQ(img.pixelColor(12, 10).rgb(), CategoryColour(0).rgb()) << step;
    }
}

// A picture drawn for fields that changed while it was drawn is dropped
// (the generation moved on); the next paint asks for one of the new fields.
TEST_F(Overview, APictureOfFieldsSinceChangedIsDropped) {
    const MapView v = map_.Fit(kCanvas);
    struct Case {
        const char* what;
        bool invalidate;  ///< the fields change while the picture is drawn
    };
    const Case cases[] = {{"unchanged", false}, {"changed", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QSemaphore gate;  // outlives the layer, whose worker holds the hook
        std::atomic<int> started{0};
        COverviewLayer layer;
        layer.SetBeforeDraw([&] {
            ++started;
            gate.tryAcquire(1, kPictureWaitMs);
        });
        QImage img(kCanvas, QImage::Format_ARGB32_Premultiplied);
        {
            QPainter p(&img);
            layer.Paint(p, kCanvas, v, map_);
        }
        EXPECT_TRUE(layer.Drawing());
        if (c.invalidate) layer.Invalidate();
        gate.release(10);
        QElapsedTimer waited;
        waited.start();
        while (layer.Drawing() && waited.elapsed() < kPictureWaitMs)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        EXPECT_FALSE(layer.Drawing());
        EXPECT_EQ(layer.Current(kCanvas, v), !c.invalidate);
        EXPECT_EQ(started.load(), 1);
    }
}

}  // namespace
}  // namespace dorvane::map
