#pragma once
// A window's map of all its fields (map/overview_map.h) over the profile's
// map tiles: the wheel zooms, a drag pans, a click on a field reports it
// (the window selects its row), the window's selection is outlined and its
// filter decides which fields show; + and - zoom and Home fits every field
// again, as in the field view. GUI thread; tiles never block, and the
// fields are drawn on a worker (map::COverviewLayer).

#include <QWidget>
#include <functional>
#include <vector>

#include "map/map_tiles.h"
#include "map/overview_map.h"

namespace dorvane {

class COverviewWidget : public QWidget {
public:
    explicit COverviewWidget(QWidget* parent = nullptr);

    /// The fields and the legend's names; fitted into view unless `refit` is
    /// false (the same fields again, recoloured: the user's view stays).
    void SetFields(std::vector<map::OverviewField> fields, std::vector<QString> legend, bool refit = true);
    void SetShown(const std::vector<bool>& shown);
    void SetSelected(const std::vector<int>& fields);
    /// Called with the field clicked.
    void SetOnPick(std::function<void(int)> f) { onPick_ = std::move(f); }
    const map::COverviewMap& Map() const { return map_; }
    const MapView& View() const { return view_; }
    void SetView(const MapView& v);
    void SetTiles(const TileSettings& s);
    /// The fields shown are the current ones, drawn for this view (the
    /// worker's picture has arrived); tests wait for it before reading pixels.
    bool PictureReady() const { return layer_.Current(size(), view_); }
    /// Runs on the drawing thread before each picture (tests hold it back).
    void SetBeforeDraw(std::function<void()> f) { layer_.SetBeforeDraw(std::move(f)); }

protected:
    void paintEvent(QPaintEvent* e) override;
    void wheelEvent(QWheelEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;

private:
    /// Zooms by `levels` keeping the world point under `at` in place.
    void ZoomBy(double levels, QPointF at);

    map::COverviewMap map_;
    map::COverviewLayer layer_;
    map::CMapTiles* tiles_ = nullptr;
    MapView view_;
    bool fitted_ = true;
    bool dragging_ = false;
    bool moved_ = false;
    QPointF pressAt_;
    QPointF dragFrom_;
    std::function<void(int)> onPick_;
};

}  // namespace dorvane
