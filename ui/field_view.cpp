#include "ui/field_view.h"

#include <QComboBox>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QSignalBlocker>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSplitter>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <cmath>
#include <thread>

#include "geo/figure_lines.h"
#include "geo/ogr_reader.h"
#include "i18n/string_table.h"
#include "names/encoding.h"
#include "ui/accuracy_dialog.h"

namespace dorvane {
namespace {

/// One wheel notch (120 units) zooms by half a level; +/- by one level.
constexpr double kWheelLevels = 0.5;
constexpr double kWheelUnitsPerNotch = 120.0;
constexpr double kKeyLevels = 1.0;
constexpr int kMinMapWidth = 320;
constexpr int kMinMapHeight = 200;
/// The shape's cached layer reaches this far beyond each edge (px), so a
/// drag of up to this much reuses it.
constexpr int kLayerMarginPx = 256;
/// The progress bar counts in tenths of a per cent: a file of 100 000
/// features moves it every 100.
constexpr int kProgressSteps = 1000;

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

}  // namespace

// ---- the map ----

CFieldMapWidget::CFieldMapWidget(QWidget* parent) : QWidget(parent) {
    setMinimumSize(kMinMapWidth, kMinMapHeight);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
    settle_ = new QTimer(this);
    settle_->setSingleShot(true);
    settle_->setInterval(kZoomSettleMs);
    connect(settle_, &QTimer::timeout, this, [this] {
        moving_ = false;
        update();
    });
    SetTiles(LoadTileSettings());
}

void CFieldMapWidget::SetTiles(const TileSettings& s) {
    delete tiles_;
    tiles_ = new map::CMapTiles(s, this);
    tiles_->SetOnChange([this] { update(); });
    update();
}

void CFieldMapWidget::SetShape(std::shared_ptr<const CFieldShape> shape, std::shared_ptr<const FieldContext> context) {
    shape_ = std::move(shape);
    context_ = std::move(context);
    Fit();
}

void CFieldMapWidget::Fit() {
    fitted_ = true;
    moving_ = false;
    settle_->stop();
    if (shape_ && !shape_->Empty()) view_ = FitView(*shape_, size());
    update();
}

void CFieldMapWidget::ZoomBy(double levels, QPointF around) {
    // The world point under `around` stays where it is.
    const WorldPoint before = ScreenToWorld(around, view_, size());
    view_.zoom = std::clamp(view_.zoom + levels, static_cast<double>(kMinMapZoom), kMaxMapZoom);
    const WorldPoint after = ScreenToWorld(around, view_, size());
    view_.cx += before.x - after.x;
    view_.cy += before.y - after.y;
    fitted_ = false;
    moving_ = true;
    settle_->start();
    update();
}

void CFieldMapWidget::paintEvent(QPaintEvent*) {
    QPainter p(this);
    // Without a shape there is no place to show: no tiles are fetched.
    const bool shape = shape_ && !shape_->Empty();
    ITileSource* tiles = shape && !tiles_->Empty() ? tiles_ : nullptr;
    DrawMapBackground(p, size(), view_, tiles);
    if (shape) DrawLayer(p);
    DrawMapOverlay(p, size(), view_, tiles);
}

void CFieldMapWidget::DrawLayer(QPainter& p) {
    const double wpx = kTileSize * std::exp2(view_.zoom);
    double dx = (layerView_.cx - view_.cx) * wpx;
    double dy = (layerView_.cy - view_.cy) * wpx;
    const bool reusable = !layer_.isNull() && layerShape_ == shape_ &&
                          layerView_.zoom == view_.zoom && layerSize_ == size() &&
                          std::abs(dx) <= kLayerMarginPx && std::abs(dy) <= kLayerMarginPx;
    const QSize room = size() + QSize(2 * kLayerMarginPx, 2 * kLayerMarginPx);
    if (!reusable && moving_ && !layer_.isNull() && layerShape_ == shape_ && layerSize_ == size()) {
        // The layer's top-left corner where the view now has it.
        const double oldWpx = kTileSize * std::exp2(layerView_.zoom);
        const WorldPoint corner{layerView_.cx - room.width() / 2.0 / oldWpx,
                                layerView_.cy - room.height() / 2.0 / oldWpx};
        const QPointF at = WorldToScreen(corner, view_, size());
        p.save();
        p.setRenderHint(QPainter::SmoothPixmapTransform, false);
        const double scale = std::exp2(view_.zoom - layerView_.zoom);
        p.drawImage(QRectF(at, QSizeF(room) * scale), layer_);
        p.restore();
        return;
    }
    if (!reusable) {
        const qreal dpr = devicePixelRatioF();
        layer_ = QImage(room * dpr, QImage::Format_ARGB32_Premultiplied);
        layer_.setDevicePixelRatio(dpr);
        layer_.fill(Qt::transparent);
        layerView_ = view_;
        layerSize_ = size();
        layerShape_ = shape_;
        QPainter lp(&layer_);
        if (context_) DrawOtherShapes(lp, room, layerView_, *context_);
        DrawMapShape(lp, room, *shape_, layerView_);
        if (context_) DrawHolesAndCrossings(lp, room, layerView_, *context_);
        dx = dy = 0;
    }
    p.drawImage(QPointF(dx - kLayerMarginPx, dy - kLayerMarginPx), layer_);
}

void CFieldMapWidget::wheelEvent(QWheelEvent* e) {
    const double notches = e->angleDelta().y() / kWheelUnitsPerNotch;
    if (notches != 0) ZoomBy(notches * kWheelLevels, e->position());
    e->accept();
}

void CFieldMapWidget::mousePressEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton) return QWidget::mousePressEvent(e);
    setFocus(Qt::MouseFocusReason);
    dragging_ = true;
    dragFrom_ = e->position();
    setCursor(Qt::ClosedHandCursor);
}

void CFieldMapWidget::mouseMoveEvent(QMouseEvent* e) {
    if (!dragging_) return QWidget::mouseMoveEvent(e);
    const WorldPoint a = ScreenToWorld(dragFrom_, view_, size());
    const WorldPoint b = ScreenToWorld(e->position(), view_, size());
    view_.cx += a.x - b.x;
    view_.cy += a.y - b.y;
    dragFrom_ = e->position();
    fitted_ = false;
    moving_ = true;
    settle_->start();
    update();
}

void CFieldMapWidget::mouseReleaseEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton) return QWidget::mouseReleaseEvent(e);
    dragging_ = false;
    unsetCursor();
}

void CFieldMapWidget::keyPressEvent(QKeyEvent* e) {
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
            Fit();
            break;
        default:
            QWidget::keyPressEvent(e);
    }
}

void CFieldMapWidget::resizeEvent(QResizeEvent* e) {
    QWidget::resizeEvent(e);
    if (fitted_) Fit();
}

// ---- the pane ----

struct CFieldView::Loaded {
    geo::ReadResult result;
    geo::FieldFile file;
    std::string figuresFrom;  ///< the raw copy the figures were read from, or ""
    geo::FieldFigures figures;
    std::shared_ptr<const CFieldShape> shape;
    std::shared_ptr<const FieldContext> context;
    QString name;
    /// Every shape of a file of several, and the one shown.
    ShapeList all;
    int pick = 0;
};

// What the worker threads share with the view: the view's pointer, cleared
// when it goes, under a mutex the queued call is posted under.
struct CFieldView::Shared {
    std::mutex mutex;
    CFieldView* view = nullptr;
    /// The generation the view waits for; a reader of an older one skips its
    /// figures and shape (a quick run over many files reads each, measures one).
    std::atomic<unsigned> latest{0};
};

namespace {
/// Generation no reader has: set when the view goes, so every reader skips its work.
constexpr unsigned kNoGeneration = ~0u;
}  // namespace

CFieldView::CFieldView(QWidget* parent)
    : QWidget(parent), accuracy_(ReceiverAccuracySetting()), shared_(std::make_shared<Shared>()) {
    shared_->view = this;
    split_ = new QSplitter(Qt::Horizontal, this);
    QSplitter* split = split_;
    map_ = new CFieldMapWidget(split);
    auto* side = new QWidget(split);
    auto* sideLayout = new QVBoxLayout(side);
    sideLayout->setContentsMargins(0, 0, 0, 0);
    message_ = new QLabel(side);
    message_->setWordWrap(true);
    shapes_ = new QComboBox(side);
    shapes_->setVisible(false);
    // A village's file of many fields: the one chosen is drawn and measured.
    connect(shapes_, &QComboBox::currentIndexChanged, this, [this](int i) { PickShape(i); });
    // A large file's read: how far it has come, and a way out of it.
    auto* reading = new QHBoxLayout;
    progress_ = new QProgressBar(side);
    progress_->setObjectName(QStringLiteral("readProgress"));
    progress_->setRange(0, kProgressSteps);
    progress_->setVisible(false);
    stop_ = new QPushButton(side);
    stop_->setObjectName(QStringLiteral("stopReading"));
    stop_->setVisible(false);
    connect(stop_, &QPushButton::clicked, this, [this] {
        if (!readers_.empty()) readers_.back().stop->store(true);
    });
    reading->addWidget(progress_, 1);
    reading->addWidget(stop_);
    figures_ = new QTreeWidget(side);
    figures_->setColumnCount(2);
    figures_->setHeaderHidden(true);
    figures_->setRootIsDecorated(false);
    figures_->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    // Values are never cut: their column is as wide as the widest, and the
    // list scrolls sideways where the side cannot be widened enough.
    figures_->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    figures_->header()->setStretchLastSection(false);
    sideLayout->addWidget(message_);
    sideLayout->addWidget(shapes_);
    sideLayout->addLayout(reading);
    sideLayout->addWidget(figures_, 1);
    split->addWidget(map_);
    split->addWidget(side);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 2);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(split);
    ApplyTexts();
}

CFieldView::~CFieldView() {
    {
        const std::lock_guard lock(shared_->mutex);
        shared_->view = nullptr;
        shared_->latest = kNoGeneration;
    }
    for (Reader& r : readers_) r.stop->store(true);
    // A reader still reading stops at its next feature (the handheld's own
    // readers finish, bounded by the file) and skips the rest.
    for (Reader& r : readers_) r.thread.join();
}

void CFieldView::ShowFile(const QString& path) {
    const std::string p = path.toStdString();
    Start(
        [p](geo::FieldFile& f, std::string& figuresFrom, ShapeList& all,
            const geo::ReadProgress& progress, const std::atomic<bool>* stop) {
            geo::ShapeSet set;
            const geo::ReadResult r = geo::ReadShapes(p, set, progress, stop);
            if (!r.ok()) return r;
            f = set.shapes[0];
            if (set.shapes.size() > 1) {
                all = std::make_shared<const std::vector<geo::FieldFile>>(std::move(set.shapes));
                return r;
            }
            // A document converted on download shows unit prices rounded to
            // 0.01: the raw copy beside it holds the handheld's own.
            geo::FieldFile raw;
            if (const auto bak = geo::ReadRawCopyBeside(p, f, raw)) {
                f = std::move(raw);
                figuresFrom = bak->filename().string();
            }
            return r;
        },
        path);
}

void CFieldView::ShowBytes(const QByteArray& bytes, const QString& name) {
    const std::string n = name.toStdString();
    Start(
        [bytes, n](geo::FieldFile& f, std::string&, ShapeList&, const geo::ReadProgress&,
                   const std::atomic<bool>*) {
            return geo::ReadFieldBytes({reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                                        static_cast<std::size_t>(bytes.size())},
                                       n, f);
        },
        name);
}

void CFieldView::PickShape(int index) {
    if (!listed_ || index < 0 || static_cast<std::size_t>(index) >= listed_->size()) return;
    if (current_ && current_->all == listed_ && current_->pick == index && !busy_) return;
    Start(
        [all = listed_, index](geo::FieldFile& f, std::string&, ShapeList& out,
                               const geo::ReadProgress&, const std::atomic<bool>*) {
            f = (*all)[static_cast<std::size_t>(index)];
            out = all;
            return geo::ReadResult{};
        },
        shown_, index);
}

void CFieldView::SetReceiverAccuracy(double metres) {
    if (metres == accuracy_) return;
    accuracy_ = metres;
    // A read under way is measured again when it lands (Apply).
    if (!busy_) Remeasure();
}

void CFieldView::Remeasure() {
    if (!current_ || !current_->result.ok()) return;
    Start(
        [l = current_](geo::FieldFile& f, std::string& figuresFrom, ShapeList& all,
                       const geo::ReadProgress&, const std::atomic<bool>*) {
            f = l->file;
            figuresFrom = l->figuresFrom;
            all = l->all;
            return geo::ReadResult{};
        },
        current_->name, current_->pick);
}

void CFieldView::ShowProgress(int permille, unsigned generation) {
    if (generation != generation_ || !busy_) return;
    progress_->setValue(permille);
    progress_->setVisible(true);
    stop_->setVisible(true);
}

void CFieldView::Start(Reader_ read, const QString& name, int pick) {
    const unsigned gen = ++generation_;
    shown_ = name;
    busy_ = true;
    message_->setText(Q(FormatText(StringId::RES_FIELD_READING, name.toStdString().c_str())));
    shared_->latest = gen;
    // The reads of files chosen before this one stop at their next feature.
    for (Reader& r : readers_) r.stop->store(true);
    progress_->setValue(0);
    // Join the readers that have ended; the others are joined later.
    std::erase_if(readers_, [](Reader& r) {
        if (!r.done->load()) return false;
        r.thread.join();
        return true;
    });
    auto done = std::make_shared<std::atomic<bool>>(false);
    auto stop = std::make_shared<std::atomic<bool>>(false);
    std::thread thread([shared = shared_, read = std::move(read), name, gen, done, stop, pick,
                        accuracy = accuracy_] {
        auto l = std::make_shared<Loaded>();
        l->name = name;
        l->pick = pick;
        // Posted only when the bar would move: at most kProgressSteps calls a read.
        int shown = -1;
        const geo::ReadProgress progress = [&shared, &shown, gen](double share) {
            const int permille = static_cast<int>(std::lround(share * kProgressSteps));
            if (permille == shown) return;
            shown = permille;
            const std::lock_guard lock(shared->mutex);
            if (CFieldView* v = shared->view; v && shared->latest == gen)
                QMetaObject::invokeMethod(
                    v, [v, permille, gen] { v->ShowProgress(permille, gen); },
                    Qt::QueuedConnection);
        };
        l->result = read(l->file, l->figuresFrom, l->all, progress, stop.get());
        if (shared->latest == gen && l->result.ok()) {
            l->figures = geo::ComputeFigures(l->file, accuracy);
            l->shape = std::make_shared<const CFieldShape>(l->file);
            l->context = std::make_shared<const FieldContext>(
                ContextOf(l->file, l->all.get(), static_cast<std::size_t>(l->pick),
                          l->figures.validity ? &*l->figures.validity : nullptr));
        }
        {
            const std::lock_guard lock(shared->mutex);
            if (CFieldView* v = shared->view; v && shared->latest == gen)
                QMetaObject::invokeMethod(
                    v, [v, l, gen] { v->Apply(l, gen); }, Qt::QueuedConnection);
        }
        *done = true;
    });
    readers_.push_back({std::move(thread), std::move(done), std::move(stop)});
}

void CFieldView::Apply(const std::shared_ptr<Loaded>& l, unsigned generation) {
    if (generation != generation_) return;  // a later file was chosen meanwhile
    busy_ = false;
    progress_->setVisible(false);
    stop_->setVisible(false);
    current_ = l;
    figures_->clear();
    if (!l->result.ok()) {
        message_->setText(
            Q(FormatText(StringId::RES_FIELD_INFO_FAILED, l->name.toStdString().c_str(),
                         geo::ReadErrorMessage(l->result).c_str())));
        map_->SetShape(nullptr);
        listed_.reset();
        shapes_->setVisible(false);
        return;
    }
    if (l->all != listed_) {
        // A new file: its shapes listed once ("file › name"), the first shown.
        const QSignalBlocker quiet(shapes_);
        shapes_->clear();
        listed_ = l->all;
        if (listed_) {
            const std::string file = QFileInfo(l->name).fileName().toStdString();
            // One insertion for the whole list, not one per field: a
            // village's file may hold tens of thousands.
            QStringList names;
            names.reserve(static_cast<qsizetype>(listed_->size()));
            for (const geo::FieldFile& f : *listed_) names << Q(geo::ShapeDisplayName(file, f));
            shapes_->addItems(names);
        }
        shapes_->setVisible(listed_ != nullptr);
    }
    if (listed_) {
        const QSignalBlocker quiet(shapes_);
        shapes_->setCurrentIndex(l->pick);
    }
    ApplyTexts();
    map_->SetShape(l->shape, l->context);
    // The accuracy was changed while this was measured: measure it again.
    if (l->figures.receiverAccuracy_m != accuracy_) Remeasure();
}

void CFieldView::ApplyTexts() {
    stop_->setText(Q(Text(StringId::RES_FIELD_STOP_READING)));
    if (!current_ || !current_->result.ok()) {
        if (!busy_ && !current_) message_->setText(Q(Text(StringId::RES_FIELD_NO_FILE)));
        return;
    }
    message_->setText(QFileInfo(current_->name).fileName());
    message_->setToolTip(current_->name);
    figures_->clear();
    std::vector<geo::FigureLine> lines = geo::FigureLines(current_->file, current_->figures);
    if (!current_->figuresFrom.empty()) {
        // After the kind and the name: where the figures come from.
        const std::size_t at = std::min<std::size_t>(2, lines.size());
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at),
                     {Text(StringId::RES_FIELD_RAW_COPY),
                      FormatText(StringId::RES_FIELD_RAW_COPY_VALUE,
                                 DecodeUtf8OrGbk(current_->figuresFrom).c_str())});
    }
    for (const geo::FigureLine& line : lines) {
        auto* item = new QTreeWidgetItem(figures_, {Q(line.label), Q(line.value)});
        item->setToolTip(1, Q(line.value));
    }
    FitFigures();
}

void CFieldView::FitFigures() {
    figures_->resizeColumnToContents(0);
    figures_->resizeColumnToContents(1);
    const int needed = figures_->columnWidth(0) + figures_->columnWidth(1) +
                       2 * figures_->frameWidth() +
                       figures_->verticalScrollBar()->sizeHint().width();
    const QList<int> sizes = split_->sizes();
    if (sizes.size() != 2 || sizes[1] >= needed) return;
    const int total = sizes[0] + sizes[1];
    const int side = std::min(needed, total - kMinMapWidth);
    if (side > sizes[1]) split_->setSizes({total - side, side});
}

}  // namespace dorvane
