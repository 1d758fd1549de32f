#pragma once
// The field view: a pane with the map of a track or field (CFieldMapWidget)
// and its figures beside it (WGS84 and the handheld's, geo::FigureLines).
// Files are read and prepared on a worker thread; the result comes back to
// the GUI thread by a queued call, so a large file never freezes the window.
// A large file's read shows its progress (queued calls too) and stops on
// "Stop reading" or when another file is chosen (the reader's stop flag).
// The map zooms with the wheel (around the pointer) and +/-, pans by
// dragging, fits with Home. GUI thread only.

#include <QByteArray>
#include <QWidget>
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "geo/figures.h"
#include "geo/ogr_reader.h"
#include "ui/field_context.h"
#include "ui/field_map.h"
#include "map/map_tiles.h"
#include "ui/tile_fetcher.h"

class QComboBox;
class QProgressBar;
class QPushButton;
class QLabel;
class QSplitter;
class QTimer;
class QTreeWidget;

namespace dorvane {

class CFieldMapWidget : public QWidget {
public:
    explicit CFieldMapWidget(QWidget* parent = nullptr);

    /// The shape measured, and what is drawn around it (may be null).
    void SetShape(std::shared_ptr<const CFieldShape> shape, std::shared_ptr<const FieldContext> context = nullptr);
    /// Replaces the tile source (the settings changed).
    void SetTiles(const TileSettings& s);
    map::CMapTiles* Tiles() const { return tiles_; }
    bool HasShape() const { return shape_ && !shape_->Empty(); }
    const MapView& View() const { return view_; }
    void Fit();
    /// Zooms by `levels` around the widget point `around`; the shape is
    /// drawn scaled until the map rests for kZoomSettleMs, then anew.
    void ZoomBy(double levels, QPointF around);
    static constexpr int kZoomSettleMs = 150;

protected:
    void paintEvent(QPaintEvent* e) override;
    void wheelEvent(QWheelEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;

private:
    /// Draws the shape from the cached layer, rendering it first when the
    /// zoom, the size or the shape changed or a pan left its margin.
    void DrawLayer(QPainter& p);

    std::shared_ptr<const CFieldShape> shape_;
    std::shared_ptr<const FieldContext> context_;
    // The shape drawn for layerView_ into the widget's size plus a margin on
    // every side; panning only moves it.
    QImage layer_;
    MapView layerView_;
    QSize layerSize_;
    std::shared_ptr<const CFieldShape> layerShape_;
    /// While the wheel or the keys zoom, or a drag goes past the layer's
    /// margin, the layer is drawn moved and scaled as it is; it is drawn anew
    /// once the map has rested for kZoomSettleMs.
    bool moving_ = false;
    QTimer* settle_ = nullptr;
    map::CMapTiles* tiles_ = nullptr;
    MapView view_;
    bool fitted_ = true;  ///< follows the size until the user moves the map
    bool dragging_ = false;
    QPointF dragFrom_;
};

class CFieldView : public QWidget {
public:
    explicit CFieldView(QWidget* parent = nullptr);
    ~CFieldView() override;

    /// Reads and shows the file at `path` (asynchronously).
    void ShowFile(const QString& path);
    /// Shows a file image held in memory (a preview of a handheld file).
    void ShowBytes(const QByteArray& bytes, const QString& name);
    /// Re-applies the texts after a language switch.
    void ApplyTexts();

    CFieldMapWidget* Map() const { return map_; }
    /// The figures shown, label and value per line.
    QTreeWidget* Figures() const { return figures_; }
    /// The message line (reading…, errors).
    QLabel* Message() const { return message_; }
    /// The pick of one shape of a file of several ("file › name"); hidden
    /// for a file of one.
    QComboBox* Shapes() const { return shapes_; }
    /// The name of what is shown (or being read); empty at first.
    QString Shown() const { return shown_; }
    /// True while a file is being read.
    bool Busy() const { return busy_; }
    /// The read's progress (shown once a file reports it) and its stop button.
    QProgressBar* Progress() const { return progress_; }
    QPushButton* Stop() const { return stop_; }
    /// The receiver accuracy (m) the area's band is drawn with; a new value
    /// measures what is shown again.
    void SetReceiverAccuracy(double metres);
    double ReceiverAccuracy() const { return accuracy_; }

private:
    struct Loaded;
    struct Shared;
    /// `read` fills the file and, when its figures come from another file
    /// (the raw copy beside a converted document), that file's name.
    /// A file of several shapes also fills `all` with every one of them.
    using ShapeList = std::shared_ptr<const std::vector<geo::FieldFile>>;
    /// `progress` and `stop` go to the file's reader (ReadShapes).
    using Reader_ = std::function<geo::ReadResult(
        geo::FieldFile&, std::string& figuresFrom, ShapeList& all,
        const geo::ReadProgress& progress, const std::atomic<bool>* stop)>;
    void Start(Reader_ read, const QString& name, int pick = 0);
    /// Shows shape `index` of the file shown (its figures measured on a worker).
    void PickShape(int index);
    void Apply(const std::shared_ptr<Loaded>& l, unsigned generation);
    /// The read of `generation` has come to `permille` of its file.
    void ShowProgress(int permille, unsigned generation);
    /// Measures the shown file again (the accuracy changed).
    void Remeasure();
    /// Widens the figures' side (within the map's minimum) until every value
    /// shows whole.
    void FitFigures();

    QSplitter* split_;
    CFieldMapWidget* map_;
    QTreeWidget* figures_;
    QLabel* message_;
    QComboBox* shapes_;
    QProgressBar* progress_;
    QPushButton* stop_;
    double accuracy_;
    /// The shapes listed in shapes_ (null when it is hidden).
    ShapeList listed_;
    QString shown_;
    bool busy_ = false;
    unsigned generation_ = 0;
    std::shared_ptr<Loaded> current_;
    std::shared_ptr<Shared> shared_;
    /// The readers started and not yet joined, each with its "done" flag: joined
    /// when a later one starts (if done) and all in the destructor, so none runs
    /// on past the view (or past main()).
    struct Reader {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
        /// Set when a later file is chosen, "Stop reading" is clicked or the view goes.
        std::shared_ptr<std::atomic<bool>> stop;
    };
    std::vector<Reader> readers_;
};

}  // namespace dorvane
