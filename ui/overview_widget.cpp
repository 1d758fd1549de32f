#include "ui/overview_widget.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>
#include <cmath>

#include "i18n/string_table.h"

namespace dorvane {
namespace {

/// One wheel notch (120 units) zooms by half a level, as in the field view.
constexpr double kWheelLevels = 0.5;
constexpr double kWheelUnitsPerNotch = 120.0;
/// One press of + or - zooms by a whole level, as in the field view.
constexpr double kKeyLevels = 1.0;
/// A press and release closer than this (px) is a click, not a drag.
constexpr double kClickSlopPx = 4;
constexpr int kMinWidth = 240;
constexpr int kMinHeight = 160;

}  // namespace

COverviewWidget::COverviewWidget(QWidget* parent) : QWidget(parent) {
    setMinimumSize(kMinWidth, kMinHeight);
    setAttribute(Qt::WA_OpaquePaintEvent);
    // A click gives it the keys (+, -, Home); Tab passes through it too.
    setFocusPolicy(Qt::StrongFocus);
    layer_.SetOnPicture([this] { update(); });
    SetTiles(LoadTileSettings());
}

void COverviewWidget::SetTiles(const TileSettings& s) {
    delete tiles_;
    tiles_ = new map::CMapTiles(s, this);
    tiles_->SetOnChange([this] { update(); });
    update();
}

void COverviewWidget::SetFields(std::vector<map::OverviewField> fields, std::vector<QString> legend, bool refit) {
    map_.SetFields(std::move(fields));
    map_.SetLegend(std::move(legend));
    map_.SetMuUnit(QString::fromStdString(Text(StringId::RES_FIELD_UNIT_MU)));
    if (refit || map_.Size() == 0) {
        fitted_ = true;
        view_ = map_.Fit(size());
    }
    layer_.Invalidate();
    update();
}

void COverviewWidget::SetShown(const std::vector<bool>& shown) {
    map_.SetShown(shown);
    layer_.Invalidate();
    update();
}

void COverviewWidget::SetSelected(const std::vector<int>& fields) {
    map_.SetSelected(fields);
    layer_.Invalidate();
    update();
}

void COverviewWidget::SetView(const MapView& v) {
    view_ = v;
    fitted_ = false;
    update();
}

void COverviewWidget::paintEvent(QPaintEvent*) {
    QPainter p(this);
    ITileSource* tiles = map_.Size() > 0 && !tiles_->Empty() ? tiles_ : nullptr;
    DrawMapBackground(p, size(), view_, tiles);
    layer_.Paint(p, size(), view_, map_);
    DrawMapOverlay(p, size(), view_, tiles);
}

void COverviewWidget::ZoomBy(double levels, QPointF at) {
    const WorldPoint before = ScreenToWorld(at, view_, size());
    view_.zoom = std::clamp(view_.zoom + levels, 0.0, kMaxMapZoom);
    const WorldPoint after = ScreenToWorld(at, view_, size());
    view_.cx += before.x - after.x;
    view_.cy += before.y - after.y;
    fitted_ = false;
    update();
}

void COverviewWidget::wheelEvent(QWheelEvent* e) {
    const double notches = e->angleDelta().y() / kWheelUnitsPerNotch;
    if (notches != 0) ZoomBy(notches * kWheelLevels, e->position());
    e->accept();
}

void COverviewWidget::keyPressEvent(QKeyEvent* e) {
    const QPointF centre(width() / 2.0, height() / 2.0);
    switch (e->key()) {
        case Qt::Key_Plus:
        case Qt::Key_Equal:
            ZoomBy(kKeyLevels, centre);
            break;
        case Qt::Key_Minus:
            ZoomBy(-kKeyLevels, centre);
            break;
        case Qt::Key_Home:
            fitted_ = true;
            view_ = map_.Fit(size());
            update();
            break;
        default:
            QWidget::keyPressEvent(e);
    }
}

void COverviewWidget::mousePressEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton) return;
    dragging_ = true;
    moved_ = false;
    pressAt_ = dragFrom_ = e->position();
}

void COverviewWidget::mouseMoveEvent(QMouseEvent* e) {
    if (!dragging_) return;
    const QPointF d = e->position() - dragFrom_;
    if (!moved_ && std::hypot(e->position().x() - pressAt_.x(), e->position().y() - pressAt_.y()) < kClickSlopPx)
        return;
    moved_ = true;
    const double wpx = kTileSize * std::exp2(view_.zoom);
    view_.cx -= d.x() / wpx;
    view_.cy -= d.y() / wpx;
    dragFrom_ = e->position();
    fitted_ = false;
    update();
}

void COverviewWidget::mouseReleaseEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton || !dragging_) return;
    dragging_ = false;
    if (moved_) return;
    const int field = map_.HitTest(e->position(), size(), view_);
    if (field >= 0 && onPick_) onPick_(field);
}

void COverviewWidget::resizeEvent(QResizeEvent*) {
    if (fitted_) view_ = map_.Fit(size());
    layer_.Invalidate();
}

}  // namespace dorvane
