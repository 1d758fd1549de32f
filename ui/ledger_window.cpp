#include "ui/ledger_window.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDate>
#include <QDateEdit>
#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "book/bill_settings.h"
#include "convert/xml_text.h"
#include "export/gis_export.h"
#include "geo/field_file.h"
#include "geo/field_shape.h"
#include "geo/figures.h"
#include "geo/land_survey.h"
#include "geo/ogr_reader.h"
#include "geo/figure_lines.h"
#include "i18n/string_table.h"
#include "report/ledger_table.h"
#include "report/output_file.h"
#include "report_pdf/ledger_pdf.h"
#include "report_pdf/ledger_render.h"
#include "ui/accuracy_dialog.h"
#include "ui/busy_work.h"
#include "ui/ledger_overlaps.h"
#include "ui/overview_widget.h"
#include "ui/tile_fetcher.h"
#include "ui/ui_text.h"

namespace dorvane {

namespace {

using ui_text::Q;
using ui_text::T;

/// Sorts numbers by value (kept in the user role), texts by their text.
class CCellItem : public QTableWidgetItem {
public:
    explicit CCellItem(const report::Cell& c) : QTableWidgetItem(Q(c.text)) {
        if (c.number) setData(Qt::UserRole, *c.number);
        setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    }
    bool operator<(const QTableWidgetItem& other) const override {
        const QVariant a = data(Qt::UserRole), b = other.data(Qt::UserRole);
        if (a.isValid() && b.isValid()) return a.toDouble() < b.toDouble();
        if (a.isValid() != b.isValid()) return a.isValid();  // empty cells after numbers
        return text() < other.text();
    }
};

/// Size of the window's first paint, before the worker's answer; once the
/// rows are in, it widens to its columns (FitWidth).
constexpr int kInitialWidth = 1100;
constexpr int kInitialHeight = 600;
/// Row of the ledger a table row shows (the table sorts its own rows).
constexpr int kRowIndexRole = Qt::UserRole + 1;

}  // namespace

CLedgerWindow::CLedgerWindow(QWidget* parent)
    : QDialog(parent), accuracy_(ReceiverAccuracySetting()) {
    setObjectName(QStringLiteral("ledgerWindow"));
    resize(kInitialWidth, kInitialHeight);
    auto* top = new QHBoxLayout;
    folder_ = new QPushButton(this);
    recursive_ = new QCheckBox(this);
    filter_ = new QCheckBox(this);
    fromLabel_ = new QLabel(this);
    toLabel_ = new QLabel(this);
    from_ = new QDateEdit(QDate::currentDate().addMonths(-1), this);
    to_ = new QDateEdit(QDate::currentDate(), this);
    for (QDateEdit* d : {from_, to_}) {
        d->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
        d->setCalendarPopup(true);
        d->setEnabled(false);
    }
    top->addWidget(folder_);
    top->addWidget(recursive_);
    top->addSpacing(20);
    top->addWidget(filter_);
    top->addWidget(fromLabel_);
    top->addWidget(from_);
    top->addWidget(toLabel_);
    top->addWidget(to_);
    top->addStretch();

    table_ = new QTableWidget(this);
    table_->setObjectName(QStringLiteral("ledgerTable"));
    table_->setColumnCount(report::kLedgerColumnCount);
    table_->setSortingEnabled(true);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->verticalHeader()->hide();
    totals_ = new QTableWidget(1, report::kLedgerColumnCount, this);
    totals_->setObjectName(QStringLiteral("ledgerTotals"));
    totals_->horizontalHeader()->hide();
    totals_->verticalHeader()->hide();
    totals_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    totals_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    totals_->setFixedHeight(totals_->verticalHeader()->defaultSectionSize() + 4);
    // The totals row keeps under its columns.
    connect(table_->horizontalHeader(), &QHeaderView::sectionResized, this,
            [this](int i, int, int w) { totals_->setColumnWidth(i, w); });
    connect(table_->horizontalScrollBar(), &QScrollBar::valueChanged,
            totals_->horizontalScrollBar(), &QScrollBar::setValue);

    overlapsTitle_ = new QLabel(this);
    overlaps_ = new CLedgerOverlaps(this);
    overlaps_->SetOnKeep([this](const report::RowPair& pair, bool keep) { KeepBoth(pair, keep); });
    overlapsTitle_->hide();
    overlaps_->hide();

    status_ = new QLabel(this);
    // A long status (a folder's path, files not read) wraps rather than
    // widening the window past a small screen.
    status_->setWordWrap(true);
    progress_ = new QProgressBar(this);
    progress_->setObjectName(QStringLiteral("ledgerProgress"));
    progress_->hide();
    auto* bottom = new QHBoxLayout;
    csv_ = new QPushButton(this);
    pdf_ = new QPushButton(this);
    print_ = new QPushButton(this);
    close_ = new QPushButton(this);
    addAll_ = new QPushButton(this);
    addAll_->hide();
    bottom->addWidget(status_, 1);
    bottom->addWidget(progress_);
    for (QPushButton* b : {addAll_, csv_, pdf_, print_, close_}) {
        b->setAutoDefault(false);
        bottom->addWidget(b);
    }
    overview_ = new COverviewWidget(this);
    overview_->setObjectName(QStringLiteral("ledgerOverview"));
    overview_->SetOnPick([this](int field) { SelectField(field); });
    connect(table_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { ShowSelectionOnMap(); });
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(overview_, 1);
    layout->addWidget(table_, 1);
    layout->addWidget(totals_);
    layout->addWidget(overlapsTitle_);
    layout->addWidget(overlaps_);
    layout->addLayout(bottom);

    connect(folder_, &QPushButton::clicked, this, &CLedgerWindow::ChooseFolder);
    connect(recursive_, &QCheckBox::toggled, this, [this] { StartWorker(); });
    connect(filter_, &QCheckBox::toggled, this, [this](bool on) {
        from_->setEnabled(on);
        to_->setEnabled(on);
        ApplyFilter();
    });
    connect(from_, &QDateEdit::dateChanged, this, [this] { ApplyFilter(); });
    connect(to_, &QDateEdit::dateChanged, this, [this] { ApplyFilter(); });
    connect(csv_, &QPushButton::clicked, this, &CLedgerWindow::ExportCsv);
    connect(pdf_, &QPushButton::clicked, this, &CLedgerWindow::ExportPdf);
    connect(print_, &QPushButton::clicked, this, &CLedgerWindow::Print);
    connect(close_, &QPushButton::clicked, this, &QDialog::close);
    connect(addAll_, &QPushButton::clicked, this, [this] {
        QStringList files;
        for (const report::LedgerRow& r : shown_.rows) files << QString::fromStdString(r.path.string());
        if (onAddAll_ && !files.isEmpty()) onAddAll_(files);
    });
    Retranslate();
}

CLedgerWindow::~CLedgerWindow() {
    StopWorker();
}

void CLedgerWindow::Retranslate() {
    setWindowTitle(T(StringId::RES_LEDGER_TITLE));
    folder_->setText(T(StringId::RES_LEDGER_FOLDER));
    recursive_->setText(T(StringId::RES_LEDGER_RECURSIVE));
    filter_->setText(T(StringId::RES_LEDGER_FILTER));
    fromLabel_->setText(T(StringId::RES_LEDGER_FROM));
    toLabel_->setText(T(StringId::RES_LEDGER_TO));
    csv_->setText(T(StringId::RES_LEDGER_EXPORT_CSV));
    pdf_->setText(T(StringId::RES_LEDGER_EXPORT_PDF));
    print_->setText(T(StringId::RES_LEDGER_PRINT));
    close_->setText(T(StringId::RES_LEDGER_CLOSE));
    addAll_->setText(T(StringId::RES_BOOKWIN_ADD_ALL));
    overlapsTitle_->setText(T(StringId::RES_LEDGER_OVERLAPS));
    overlaps_->Retranslate();
    QStringList heads;
    for (auto c : report::AllColumns()) heads << Q(report::ColumnTitle(c));
    table_->setHorizontalHeaderLabels(heads);
    Fill();
}

void CLedgerWindow::SetOnAddAll(std::function<void(const QStringList&)> f) {
    onAddAll_ = std::move(f);
    addAll_->setVisible(static_cast<bool>(onAddAll_));
}

void CLedgerWindow::Load(const QStringList& paths) {
    paths_ = paths;
    // A new ledger starts at its first columns, File and Name, wherever the
    // last one was scrolled to.
    ScrollToStart();
    StartWorker();
}

void CLedgerWindow::FitWidth() {
    // As wide as the columns need (all of them, up to the prices and totals),
    // within the screen; never narrower than the user made it.
    int columns = 0;
    for (int c = 0; c < table_->columnCount(); ++c) columns += table_->columnWidth(c);
    const QMargins m = layout()->contentsMargins();
    const int chrome = m.left() + m.right() + 2 * table_->frameWidth();
    int wanted = columns + chrome + table_->verticalScrollBar()->sizeHint().width();
    wanted = std::max(wanted, width());
    const QScreen* s = screen();
    // The frame (title bar, borders) counts against the screen too; a window
    // first sized for a wider screen is narrowed to this one.
    const int frame = frameGeometry().width() - width();
    if (s) wanted = std::max(minimumSizeHint().width(), std::min(wanted, s->availableGeometry().width() - frame));
    if (wanted != width()) resize(wanted, height());
    // Widened where it stood, the window would reach past the screen's right
    // edge and hide its Print and Close buttons: it moves left instead.
    if (s) {
        const QRect screenArea = s->availableGeometry();
        const int past = frameGeometry().right() - screenArea.right();
        if (past > 0) move(std::max(screenArea.left(), x() - past), y());
    }
}

void CLedgerWindow::StopWorker() {
    if (cancel_) cancel_->store(true);
    if (worker_.joinable()) worker_.join();
}

void CLedgerWindow::StartWorker() {
    StopWorker();
    std::vector<std::filesystem::path> inputs;
    for (const QString& p : paths_) inputs.emplace_back(p.toStdString());
    report::LedgerOptions options;
    options.recursive = recursive_->isChecked();
    options.receiverAccuracy_m = accuracy_;
    cancel_ = std::make_shared<std::atomic<bool>>(false);
    const unsigned generation = ++generation_;
    // Each file read moves the bar (a queued call; the window outlives the worker).
    options.progress = [this, generation](std::size_t done, std::size_t total) {
        QMetaObject::invokeMethod(
            this, [this, done, total, generation] { OnProgress(done, total, generation); },
            Qt::QueuedConnection);
    };
    loading_ = true;
    progress_->setValue(0);
    csv_->setEnabled(false);
    pdf_->setEnabled(false);
    print_->setEnabled(false);
    status_->setText(
        Q(FormatText(StringId::RES_FIELD_READING, paths_.value(0).toStdString().c_str())));
    worker_ = std::thread([this, inputs, options, cancel = cancel_, generation]() mutable {
        options.cancel = cancel.get();
        report::Ledger all = report::BuildLedger(inputs, options);
        if (cancel->load()) return;
        // The outlines for the map, read here too: never on the GUI thread.
        // The rows of one file of many fields follow each other: the file is
        // read once, and each row draws its own shape of it.
        Rings rings;
        rings.reserve(all.rows.size());
        std::filesystem::path readPath;
        geo::ShapeSet read;
        for (const report::LedgerRow& r : all.rows) {
            rings.emplace_back();
            if (cancel->load()) return;
            if (r.path != readPath) {
                readPath = r.path;
                if (!geo::ReadShapes(r.path, read, {}, cancel.get()).ok()) read = {};
            }
            if (r.shape >= read.shapes.size()) continue;
            const geo::FieldFile& shape = read.shapes[r.shape];
            for (const geo::GeoPoint& g : shape.points) rings.back().ring.push_back(ToWorld(g.lon, g.lat));
            rings.back().line = geo::IsLine(shape);
        }
        // The window outlives this thread (its destructor joins it), and a
        // call queued to a window being destroyed is dropped by Qt.
        QMetaObject::invokeMethod(
            this,
            [this, all = std::move(all), rings = std::move(rings), generation]() mutable {
                OnLoaded(std::move(all), std::move(rings), generation);
            },
            Qt::QueuedConnection);
    });
}

void CLedgerWindow::SetReceiverAccuracy(double metres) {
    if (metres == accuracy_) return;
    accuracy_ = metres;
    if (!paths_.isEmpty()) StartWorker();
}

void CLedgerWindow::OnProgress(std::size_t done, std::size_t total, unsigned generation) {
    if (generation != generation_ || !loading_ || total == 0) return;
    progress_->setRange(0, static_cast<int>(total));
    progress_->setValue(static_cast<int>(done));
    progress_->show();
    status_->setText(Q(FormatText(StringId::RES_LEDGER_READING_FILES, static_cast<int>(done),
                                  static_cast<int>(total))));
}

void CLedgerWindow::KeepBoth(const report::RowPair& pair, bool keep) {
    if (keep)
        kept_.insert(pair);
    else
        kept_.erase(pair);
    // The overlaps stay as found; only which field counts changes.
    report::MarkMeasuredTwice(shown_, false, kept_);
    Fill();
}

void CLedgerWindow::OnLoaded(report::Ledger all, Rings rings, unsigned generation) {
    if (generation != generation_) return;  // an older load's answer
    progress_->hide();
    if (worker_.joinable()) worker_.join();
    loading_ = false;
    all_ = std::move(all);
    std::vector<map::OverviewField> fields;
    fields.reserve(all_.rows.size());
    for (std::size_t i = 0; i < all_.rows.size(); ++i) {
        const report::LedgerRow& r = all_.rows[i];
        map::OverviewField f;
        if (i < rings.size()) f = std::move(rings[i]);
        f.name = Q(r.name.empty() ? r.fileText : r.name);
        f.mu = r.handheld.area.mu;
        f.category = r.Billed() ? 0 : 1;
        fields.push_back(std::move(f));
    }
    overview_->SetFields(std::move(fields),
                         {T(StringId::RES_MAP_LEGEND_COUNTED), T(StringId::RES_MAP_LEGEND_NOT_COUNTED)});
    csv_->setEnabled(true);
    pdf_->setEnabled(true);
    print_->setEnabled(true);
    ApplyFilter();
    FitWidth();
    ScrollToStart();
    // Once the window has laid itself out anew (and widened), again.
    QTimer::singleShot(0, this, [this] { ScrollToStart(); });
}

void CLedgerWindow::ScrollToStart() {
    // The current cell goes to the first column too: a view scrolls to its
    // current cell when it takes the focus.
    if (table_->rowCount() > 0)
        table_->selectionModel()->setCurrentIndex(table_->model()->index(0, 0),
                                                  QItemSelectionModel::NoUpdate);
    table_->horizontalScrollBar()->setValue(0);
}

void CLedgerWindow::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    ScrollToStart();
}

void CLedgerWindow::ApplyFilter() {
    report::DateRange range;
    if (filter_->isChecked()) {
        std::string bad;
        const auto r = report::RangeOfDays(from_->date().toString(Qt::ISODate).toStdString(),
                                           to_->date().toString(Qt::ISODate).toStdString(), bad);
        if (r)
            range = *r;
        else
            range.from = range.to = 0;  // the last day before the first: nothing
    }
    shown_ = report::FilterLedger(all_, range, false, kept_);
    // The map shows what the table shows.
    std::vector<bool> onMap(all_.rows.size(), false);
    for (std::size_t s = 0; s < shown_.rows.size(); ++s)
        if (const int f = FieldOfShown(static_cast<int>(s)); f >= 0) onMap[static_cast<std::size_t>(f)] = true;
    overview_->SetShown(onMap);
    Fill();
}

int CLedgerWindow::FieldOfShown(int shownRow) const {
    if (shownRow < 0 || static_cast<std::size_t>(shownRow) >= shown_.rows.size()) return -1;
    const auto& path = shown_.rows[static_cast<std::size_t>(shownRow)].path;
    for (std::size_t i = 0; i < all_.rows.size(); ++i)
        if (all_.rows[i].path == path) return static_cast<int>(i);
    return -1;
}

void CLedgerWindow::SelectField(int field) {
    for (int r = 0; r < table_->rowCount(); ++r) {
        const QTableWidgetItem* item = table_->item(r, 0);
        if (item && FieldOfShown(item->data(kRowIndexRole).toInt()) == field) {
            table_->selectRow(r);
            table_->scrollToItem(item);
            return;
        }
    }
}

void CLedgerWindow::ShowSelectionOnMap() {
    std::vector<int> fields;
    for (const QModelIndex& i : table_->selectionModel()->selectedRows())
        if (const QTableWidgetItem* item = table_->item(i.row(), 0))
            if (const int f = FieldOfShown(item->data(kRowIndexRole).toInt()); f >= 0) fields.push_back(f);
    overview_->SetSelected(fields);
}

void CLedgerWindow::Fill() {
    if (loading_) return;
    const auto cols = report::AllColumns();
    table_->setSortingEnabled(false);
    table_->clearContents();
    table_->setRowCount(static_cast<int>(shown_.rows.size()));
    for (int r = 0; r < static_cast<int>(shown_.rows.size()); ++r) {
        for (int c = 0; c < static_cast<int>(cols.size()); ++c) {
            auto* item =
                new CCellItem(report::CellOf(shown_.rows[static_cast<std::size_t>(r)], cols[c]));
            item->setData(kRowIndexRole, r);
            if (report::IsNumericColumn(cols[c]))
                item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            table_->setItem(r, c, item);
        }
    }
    table_->setSortingEnabled(true);
    for (int c = 0; c < static_cast<int>(cols.size()); ++c) {
        auto* item = new CCellItem(report::TotalsCell(shown_.totals, cols[c]));
        if (report::IsNumericColumn(cols[c]))
            item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        QFont f = item->font();
        f.setBold(true);
        item->setFont(f);
        totals_->setItem(0, c, item);
    }
    table_->resizeColumnsToContents();
    overlaps_->Fill(shown_);
    overlapsTitle_->setVisible(!shown_.overlaps.empty());
    overlaps_->setVisible(!shown_.overlaps.empty());
    status_->setText(Q(FormatText(
        StringId::RES_LEDGER_SKIPPED, static_cast<int>(shown_.skippedNotField),
        static_cast<int>(shown_.skippedDuplicate), static_cast<int>(shown_.skippedOutOfRange))));
}

void CLedgerWindow::ChooseFolder() {
    QFileDialog dlg(this, T(StringId::RES_LEDGER_FOLDER));
    dlg.setFileMode(QFileDialog::Directory);
    dlg.setOption(QFileDialog::ShowDirsOnly);
    dlg.setOption(QFileDialog::DontUseNativeDialog);
    if (!paths_.isEmpty()) dlg.setDirectory(QFileInfo(paths_.front()).absolutePath());
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty()) return;
    Load({dlg.selectedFiles().front()});
}

namespace {
// Asks for an output file; the dialog asks before replacing one.
// The busy box's text while `what` (a file or a printer) is written.
QString Writing(const QString& what) {
    return Q(FormatText(StringId::RES_LEDGER_WRITING, what.toStdString().c_str()));
}

// The folder the files of `paths` are in (the first one's; a folder is its
// own): where a user looks for what was made of them.
QString FolderOf(const QStringList& paths) {
    if (paths.isEmpty()) return QDir::homePath();
    const QFileInfo first(paths.front());
    return first.isDir() ? first.absoluteFilePath() : first.absolutePath();
}

// `suggested`: the folder and name the dialog starts with.
QString SaveName(QWidget* parent, const QString& title, const QString& filter,
                 const QString& suffix, const QString& suggested) {
    QFileDialog dlg(parent, title);
    dlg.setAcceptMode(QFileDialog::AcceptSave);
    dlg.setOption(QFileDialog::DontUseNativeDialog);
    dlg.setNameFilter(filter);
    dlg.setDefaultSuffix(suffix);
    dlg.setDirectory(QFileInfo(suggested).absolutePath());
    dlg.selectFile(QFileInfo(suggested).fileName());
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty()) return {};
    return dlg.selectedFiles().front();
}
}  // namespace

QString CLedgerWindow::SuggestedOutput(const QString& suffix) const {
    // Dated, so that this month's ledger does not offer to replace last month's.
    return QDir(FolderOf(paths_))
        .filePath(
            QStringLiteral("ledger-%1.%2").arg(QDate::currentDate().toString(Qt::ISODate), suffix));
}

void CLedgerWindow::Written(const QString& path) {
    if (onWritten_) onWritten_(path);
}

void CLedgerWindow::Complain(const QString& path, const std::string& why) {
    QMessageBox::warning(
        this, windowTitle(),
        Q(FormatText(StringId::RES_LEDGER_WRITE_FAILED, path.toStdString().c_str(), why.c_str())));
}

report::Ledger CLedgerWindow::InScreenOrder() const {
    report::Ledger l = shown_;
    l.rows.clear();
    // Where each row of shown_ went: the overlaps name their rows by place.
    std::vector<std::size_t> placed(shown_.rows.size(), 0);
    for (int r = 0; r < table_->rowCount(); ++r)
        if (const QTableWidgetItem* item = table_->item(r, 0)) {
            const auto i = static_cast<std::size_t>(item->data(kRowIndexRole).toInt());
            placed[i] = l.rows.size();
            l.rows.push_back(shown_.rows[i]);
        }
    for (report::LedgerOverlap& o : l.overlaps) {
        o.a = placed[o.a];
        o.b = placed[o.b];
    }
    return l;
}

void CLedgerWindow::ExportCsv() {
    const QString path = SaveName(this, csv_->text(), QStringLiteral("CSV (*.csv)"),
                                  QStringLiteral("csv"), SuggestedOutput(QStringLiteral("csv")));
    if (path.isEmpty()) return;
    report::OutputOutcome o;
    const report::Ledger ledger = InScreenOrder();
    RunWhileBusy(this, Writing(path), [&] {
        o = report::WriteOutputFile(path.toStdString(), report::LedgerCsv(ledger), true);
    });
    if (!o.ok()) return Complain(path, o.message);
    Written(path);
}

void CLedgerWindow::ExportPdf() {
    const QString path = SaveName(this, pdf_->text(), QStringLiteral("PDF (*.pdf)"),
                                  QStringLiteral("pdf"), SuggestedOutput(QStringLiteral("pdf")));
    if (path.isEmpty()) return;
    report::PdfOptions options;
    options.tiles.clear();  // the profile's tile source
    report::OutputOutcome o;
    const report::Ledger ledger = InScreenOrder();
    RunWhileBusy(this, Writing(path),
                 [&] { o = report::WriteLedgerPdf(ledger, path.toStdString(), true, options); });
    if (!o.ok()) return Complain(path, o.message);
    Written(path);
}

void CLedgerWindow::Print() {
    QPrinter printer(QPrinter::HighResolution);
    QPrintDialog dlg(&printer, this);
    if (dlg.exec() != QDialog::Accepted) return;
    const TileSettings tiles = LoadTileSettings();
    bool printed = false;
    const report::Ledger ledger = InScreenOrder();
    RunWhileBusy(this, Writing(printer.printerName()),
                 [&] { printed = report::RenderLedger(ledger, printer, tiles); });
    if (!printed) Complain(printer.printerName(), "cannot print");
}

namespace {

// The coordinate systems "Export as..." offers, as the CLI's --crs reads them;
// the last one takes the code typed beside it.
struct CrsOffer {
    StringId text;
    const char* crs;
};
constexpr CrsOffer kCrsOffers[] = {
    {StringId::RES_LAND_CRS_WGS84, "wgs84"},
    {StringId::RES_LAND_CRS_CGCS2000, "cgcs2000"},
    {StringId::RES_LAND_CRS_AUTO, "auto"},
    {StringId::RES_LAND_CRS_AUTO_CM, "auto-cm"},
    {StringId::RES_LAND_CRS_AUTO6, "auto6"},
    {StringId::RES_LAND_CRS_AUTO6_CM, "auto6-cm"},
    {StringId::RES_LAND_CRS_EPSG, ""},
};
/// What the EPSG field shows until a code is typed: the 3-degree zone 39.
constexpr const char* kEpsgPlaceholder = "EPSG:4527";

// The coordinate system row of the export dialog, added under its own rows.
struct CrsRow {
    QComboBox* crs = nullptr;
    QLineEdit* epsg = nullptr;
    QCheckBox* utf8 = nullptr;

    explicit CrsRow(QFileDialog& dlg) {
        auto* grid = qobject_cast<QGridLayout*>(dlg.layout());
        crs = new QComboBox(&dlg);
        crs->setObjectName(QStringLiteral("crsCombo"));
        for (const CrsOffer& o : kCrsOffers) crs->addItem(T(o.text), QString::fromLatin1(o.crs));
        epsg = new QLineEdit(&dlg);
        epsg->setObjectName(QStringLiteral("epsgEdit"));
        epsg->setPlaceholderText(QString::fromLatin1(kEpsgPlaceholder));
        // Wide enough for its placeholder: squeezed by the long offers beside it
        // it showed "E...".
        epsg->setMinimumWidth(epsg->fontMetrics().horizontalAdvance(epsg->placeholderText() + QStringLiteral("0000")));
        epsg->setEnabled(false);
        utf8 = new QCheckBox(T(StringId::RES_LAND_TEXT_UTF8), &dlg);
        utf8->setObjectName(QStringLiteral("utf8Check"));
        utf8->setEnabled(false);
        QObject::connect(crs, &QComboBox::currentIndexChanged, epsg, [this](int i) {
            epsg->setEnabled(crs->itemData(i).toString().isEmpty());
        });
        auto* row = new QWidget(&dlg);
        auto* h = new QHBoxLayout(row);
        h->setContentsMargins(0, 0, 0, 0);
        h->addWidget(crs, 1);
        h->addWidget(epsg);
        h->addWidget(utf8);
        if (grid) {
            const int r = grid->rowCount();
            grid->addWidget(new QLabel(T(StringId::RES_LAND_CRS_LABEL), &dlg), r, 0);
            grid->addWidget(row, r, 1, 1, grid->columnCount() - 1);
        }
    }
    // The choice, or nullopt for a code that is no EPSG code.
    std::optional<gis::CrsChoice> Choice() const {
        const QString c = crs->currentData().toString();
        return gis::ParseCrsChoice((c.isEmpty() ? epsg->text().trimmed() : c).toStdString());
    }
    // The coordinate text is only ever in a Gauss-Krueger zone: choosing it
    // moves a choice in degrees to the automatic 3-degree zone.
    void TextChosen(bool text) {
        utf8->setEnabled(text);
        const auto c = Choice();
        const bool zone = c && (c->mode != gis::CrsMode::kEpsg || geo::GkZoneOfEpsg(c->epsg));
        if (text && !zone) crs->setCurrentIndex(crs->findData(QStringLiteral("auto")));
    }
};

// The summary of a projected export: both areas of the fields, and the
// fields that lie outside the chosen zone.
QString ExportSummary(const gis::ExportResult& r) {
    QStringList lines;
    const int zone = r.crs.zone ? r.crs.zone->zone : 0;
    for (const gis::ZoneWarning& w : r.crs.warnings)
        lines << Q(FormatText(StringId::RES_LAND_OUTSIDE_ZONE, w.name.c_str(), zone, w.zone, zone));
    if (r.fields > 0 && r.crs.projected) {
        auto ha = [](double m2) { return FixedText(m2 / geo::kSquareMetresPerHectare, 4); };
        const std::string system = r.crs.epsg ? "EPSG:" + std::to_string(r.crs.epsg)
                                              : r.crs.zone->ProjDefinition();
        lines << Q(FormatText(StringId::RES_LAND_AREA_SUMMARY, ha(r.ellipsoidArea_m2).c_str(),
                              system.c_str(), ha(r.planeArea_m2).c_str()));
    }
    return lines.join(QLatin1Char('\n'));
}

}  // namespace

QString ExportAsDialog(QWidget* parent, const QStringList& paths) {
    struct Choice {
        const char* filter;  ///< null: the land-office text, named in the user's language
        gis::GisFormat format;
        const char* suffix;
    };
    static const Choice kChoices[] = {
        {"GeoPackage (*.gpkg)", gis::GisFormat::kGpkg, "gpkg"},
        // A Shapefile is written as a folder of its layer files, named without
        // the suffix; the dialog's filter has one all the same, as Qt's file
        // dialog does not take a typed name under a bare "*" filter.
        {"Shapefile (*.shp)", gis::GisFormat::kShapefile, "shp"},
        {"GeoJSON (*.geojson)", gis::GisFormat::kGeoJson, "geojson"},
        {"KML (*.kml)", gis::GisFormat::kKml, "kml"},
        {"DXF (*.dxf)", gis::GisFormat::kDxf, "dxf"},
        {"CSV (*.csv)", gis::GisFormat::kCsv, "csv"},
        {nullptr, gis::GisFormat::kLandText, "txt"},
    };
    QFileDialog dlg(parent, T(StringId::RES_LEDGER_MENU_EXPORT));
    dlg.setObjectName(QStringLiteral("exportAsDialog"));
    dlg.setAcceptMode(QFileDialog::AcceptSave);
    dlg.setOption(QFileDialog::DontUseNativeDialog);
    QStringList filters;
    for (const auto& c : kChoices)
        filters << (c.filter ? QString::fromLatin1(c.filter) : T(StringId::RES_LAND_TEXT_FORMAT));
    dlg.setNameFilters(filters);
    CrsRow crsRow(dlg);
    // The suffix is added by the dialog itself, before it asks whether to replace an
    // existing file: "fields" typed with GeoPackage chosen is asked about as fields.gpkg.
    dlg.setDefaultSuffix(QLatin1String(kChoices[0].suffix));
    // Beside the files, named after the one file, or "fields" for several.
    dlg.setDirectory(FolderOf(paths));
    dlg.selectFile(paths.size() == 1 ? QFileInfo(paths.front()).completeBaseName()
                                     : QStringLiteral("fields"));
    QObject::connect(&dlg, &QFileDialog::filterSelected, &dlg, [&](const QString& f) {
        const Choice& c = kChoices[std::max<qsizetype>(0, filters.indexOf(f))];
        dlg.setDefaultSuffix(QLatin1String(c.suffix));
        crsRow.TextChosen(c.format == gis::GisFormat::kLandText);
    });
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty()) return {};
    const Choice& choice =
        kChoices[std::max<qsizetype>(0, filters.indexOf(dlg.selectedNameFilter()))];
    gis::ExportOptions options;
    if (const auto crs = crsRow.Choice()) {
        options.crs = *crs;
    } else {
        QMessageBox::warning(parent, T(StringId::RES_LEDGER_MENU_EXPORT),
                             Q(FormatText(StringId::RES_LAND_BAD_CRS,
                                          crsRow.epsg->text().toStdString().c_str())));
        return {};
    }
    if (crsRow.utf8->isEnabled() && crsRow.utf8->isChecked())
        options.encoding = gis::TextEncoding::kUtf8;
    const QString confirmed = dlg.selectedFiles().front();
    QString out = confirmed;
    if (choice.format == gis::GisFormat::kShapefile) {
        // "fields.shp" chosen: the folder "fields" holds fields' layer files.
        if (QFileInfo(out).suffix().compare(QLatin1String("shp"), Qt::CaseInsensitive) == 0)
            out.chop(4);
    } else if (*choice.suffix && QFileInfo(out).suffix().isEmpty()) {
        out += QLatin1Char('.') + QLatin1String(choice.suffix);
    }

    // The files are read, as they are written, on the worker: a folder on a
    // slow or network disk never freezes the windows.
    std::vector<gis::ExportSource> sources;
    QStringList failed;
    std::string why;
    QString summary;
    // The file dialog has asked before replacing the path it returned; any other path
    // (never expected) is not replaced.
    const bool replace = out == confirmed;
    gis::ExportResult r;
    RunWhileBusy(parent, Writing(out), [&] {
        for (const QString& p : paths) {
            // Every shape of a file of many fields, not only its first.
            std::vector<std::string> leftOut;
            const geo::ReadResult read = gis::ReadExportSources(p.toStdString(), sources, leftOut);
            if (!read.ok()) leftOut = {geo::ReadErrorMessage(read)};
            for (const std::string& w : leftOut) failed << QFileInfo(p).fileName() + QStringLiteral(": ") + Q(w);
        }
        if (sources.empty()) return;
        // The coordinate text names the seller of the bill settings as its producer.
        book::BillSettings seller;
        if (book::LoadBillSettings(book::DefaultBillSettingsPath(), seller).ok())
            options.producer = seller.sellerName;
        r = gis::ExportGis(sources, choice.format, out.toStdString(), replace, options);
    });
    if (sources.empty())
        why = Text(StringId::RES_LEDGER_NOTHING);
    else if (!r.ok())
        why = std::string(gis::ExportErrorText(r.error)) + (r.message.empty() ? "" : " (" + r.message + ")");
    else
        summary = ExportSummary(r);
    if (!why.empty())
        failed.prepend(Q(
            FormatText(StringId::RES_LEDGER_WRITE_FAILED, out.toStdString().c_str(), why.c_str())));
    if (!failed.isEmpty())
        QMessageBox::warning(parent, T(StringId::RES_LEDGER_MENU_EXPORT),
                             failed.join(QLatin1Char('\n')));
    else if (!summary.isEmpty())
        QMessageBox::information(parent, T(StringId::RES_LEDGER_MENU_EXPORT), summary);
    return why.empty() ? out : QString();
}

}  // namespace dorvane
