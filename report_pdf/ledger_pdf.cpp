#include "report_pdf/ledger_pdf.h"

#include <QFontDatabase>
#include <QGuiApplication>
#include <QPainter>
#include <QTextOption>
#include <QPdfWriter>
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>

#include "geo/field_shape.h"
#include "i18n/string_table.h"
#include "report/ledger_table.h"
#include "report_pdf/field_picture.h"
#include "report_pdf/ledger_render.h"
#include "report_pdf/offscreen_app.h"
#include "report_pdf/overview_picture.h"

namespace dorvane::report {

namespace {

/// Print resolution of the PDF (dots per inch): fine lines, modest pictures.
constexpr int kPdfDpi = 300;
/// Fonts Debian ships with CJK glyphs, in the order they are preferred.
constexpr const char* kCjkFontFiles[] = {
    "/usr/share/fonts/truetype/wqy/wqy-microhei.ttc",
    "/usr/share/fonts/opentype/noto/NotoSansCJK-Regular.ttc",
};
constexpr const char* kCjkFamilies[] = {"WenQuanYi Micro Hei", "Noto Sans CJK SC"};
constexpr double kMarginMm = 15;
constexpr double kTitlePt = 16;
constexpr double kBodyPt = 9;
constexpr double kTablePt = 6.5;
constexpr double kPercent = 100.0;
/// Rows of the summary table on one page (7 pt rows on A4 within margins).
constexpr int kSummaryRowsPerPage = 48;
/// Rows of the first page's summary that the map of all fields takes
/// instead (the map, a gap and its legend), when any field is counted.
constexpr int kOverviewRows = 24;
/// Map picture in pixels (3:2, 100 dpi across the 180 mm of the page).
const QSize kPictureSize(720, 480);

QString Q(const std::string& s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

const std::vector<LedgerColumn>& SummaryColumns() {
    static const std::vector<LedgerColumn> cols = {
        LedgerColumn::kFile,   LedgerColumn::kName,        LedgerColumn::kMethod,
        LedgerColumn::kCollected, LedgerColumn::kPoints,   LedgerColumn::kLength,
        LedgerColumn::kArea,   LedgerColumn::kAreaMu,      LedgerColumn::kLengthTotal,
        LedgerColumn::kAreaTotal};
    return cols;
}
// Relative widths of the summary columns (millimetres of the 180 across the
// page); the totals say the unit price they come from ("89883.5 (at 0.09 per m2)").
constexpr double kSummaryWidths[] = {26, 13, 18, 20, 7, 13, 14, 11, 29, 29};
/// The summary column where an unread row's error (or a copy's note) starts,
/// after its file and name.
constexpr std::size_t kSummaryNoteColumn = 2;

std::string RangeText(const DateRange& r) {
    if (r.Empty()) return Text(StringId::RES_LEDGER_ALL_DATES);
    const std::string from = r.from ? LocalDayText(*r.from) : std::string("…");
    // `to` is the start of the day after the last one.
    const std::string to = r.to ? LocalDayText(*r.to - 1) : std::string("…");
    return FormatText(StringId::RES_LEDGER_RANGE, from.c_str(), to.c_str());
}

class Painter {
public:
    Painter(QPainter& p, QPagedPaintDevice& d) : p_(p), d_(d) {
        const double dpmm = d.logicalDpiX() / 25.4;
        margin_ = kMarginMm * dpmm;
        area_ = QRectF(margin_, margin_, d.width() - 2 * margin_, d.height() - 2 * margin_);
    }
    QFont Font(double pt, bool bold = false) const {
        QFont f(ReportFontFamily());
        f.setPointSizeF(pt);
        f.setBold(bold);
        return f;
    }
    void NewPage() {
        if (page_ > 0) d_.newPage();
        ++page_;
        p_.setFont(Font(kTablePt));
        const QRectF foot(area_.left(), area_.bottom() + margin_ * 0.2, area_.width(),
                          margin_ * 0.6);
        p_.drawText(foot, Qt::AlignRight | Qt::AlignTop,
                    Q(FormatText(StringId::RES_LEDGER_PAGE, page_, pages_)));
    }
    /// The report's length, for "page n of m": set before the first page.
    void SetPages(int pages) { pages_ = pages; }
    QPainter& p() { return p_; }
    QRectF area() const { return area_; }
    /// Metrics at the page's resolution: a QFontMetricsF without a device
    /// measures at the screen's, and rows would be sized for another font.
    QFontMetricsF Metrics(const QFont& f) const { return QFontMetricsF(f, &d_); }

private:
    QPainter& p_;
    QPagedPaintDevice& d_;
    int pages_ = 0;
    int page_ = 0;
    double margin_ = 0;
    QRectF area_;
};

double TitleBlock(Painter& pt, const std::string& title, const std::string& subtitle) {
    QPainter& p = pt.p();
    const QRectF a = pt.area();
    p.setFont(pt.Font(kTitlePt, true));
    const double h1 = pt.Metrics(p.font()).height() * 1.4;
    p.drawText(QRectF(a.left(), a.top(), a.width(), h1), Qt::AlignLeft | Qt::AlignVCenter,
               Q(title));
    p.setFont(pt.Font(kBodyPt));
    const double h2 = pt.Metrics(p.font()).height() * 1.6;
    p.drawText(QRectF(a.left(), a.top() + h1, a.width(), h2), Qt::AlignLeft | Qt::AlignVCenter,
               Q(subtitle));
    return a.top() + h1 + h2;
}

// `spanFrom`: the cell of this column takes the rest of the row (an error text).
void SummaryRow(Painter& pt, double y, double rowH, const std::vector<Cell>& cells, bool bold,
                std::size_t spanFrom = SIZE_MAX) {
    QPainter& p = pt.p();
    const QRectF a = pt.area();
    double total = 0;
    for (double w : kSummaryWidths) total += w;
    double x = a.left();
    p.setFont(pt.Font(kTablePt, bold));
    const auto& cols = SummaryColumns();
    for (std::size_t i = 0; i < cols.size(); ++i) {
        const double w = i == spanFrom ? a.right() - x : a.width() * kSummaryWidths[i] / total;
        const QRectF cell(x + 2, y, w - 4, rowH);
        const QString text =
            pt.Metrics(p.font()).elidedText(Q(cells[i].text), Qt::ElideMiddle, cell.width());
        p.drawText(cell,
                   (IsNumericColumn(cols[i]) ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter,
                   text);
        x += w;
        if (i == spanFrom) break;
    }
    p.setPen(QPen(QColor(0xB0, 0xB0, 0xB0), 0));
    p.drawLine(QPointF(a.left(), y + rowH), QPointF(a.right(), y + rowH));
    p.setPen(Qt::black);
}

bool HasOverview(const Ledger& l) {
    return std::any_of(l.rows.begin(), l.rows.end(), [](const LedgerRow& r) { return r.Billed(); });
}

/// The boundary of each row that reads (a row of a file of many fields
/// keeps its own; a file of one is read again), in row order.
std::vector<std::optional<geo::FieldFile>> ReadShapes(const Ledger& l) {
    std::vector<std::optional<geo::FieldFile>> out(l.rows.size());
    for (std::size_t i = 0; i < l.rows.size(); ++i) {
        const LedgerRow& r = l.rows[i];
        if (r.outline) {
            out[i] = *r.outline;
        } else if (r.ok()) {
            geo::FieldFile f;
            if (geo::ReadFieldFile(r.path, f).ok()) out[i] = std::move(f);
        }
    }
    return out;
}

/// The map of all fields: counted ones and copies (as the ledger window
/// colours them), each labelled with its name and mu.
map::COverviewMap OverviewOf(const Ledger& l, const std::vector<std::optional<geo::FieldFile>>& shapes) {
    std::vector<map::OverviewField> fields;
    for (std::size_t i = 0; i < l.rows.size(); ++i) {
        if (!shapes[i] || shapes[i]->points.empty()) continue;
        const LedgerRow& r = l.rows[i];
        map::OverviewField f;
        for (const geo::GeoPoint& g : shapes[i]->points) f.ring.push_back(ToWorld(g.lon, g.lat));
        f.line = geo::IsLine(*shapes[i]);
        f.name = Q(r.name.empty() ? r.fileText : r.name);
        f.mu = r.handheld.area.mu;
        f.category = r.Billed() ? 0 : 1;
        fields.push_back(std::move(f));
    }
    map::COverviewMap m;
    m.SetFields(std::move(fields));
    m.SetMuUnit(Q(Text(StringId::RES_FIELD_UNIT_MU)));
    return m;
}

void Summary(Painter& pt, const Ledger& l, const map::COverviewMap* overview, TileSettings& tiles) {
    const auto& cols = SummaryColumns();
    std::size_t next = 0;
    const std::size_t total = l.rows.size();
    bool first = true;
    do {
        pt.NewPage();
        double y = first ? TitleBlock(pt, Text(StringId::RES_LEDGER_TITLE), RangeText(l.range))
                         : pt.area().top();
        if (first) {
            pt.p().setFont(pt.Font(kBodyPt, true));
            const double h = pt.Metrics(pt.p().font()).height() * 1.5;
            pt.p().drawText(QRectF(pt.area().left(), y, pt.area().width(), h),
                            Qt::AlignLeft | Qt::AlignVCenter,
                            Q(Text(StringId::RES_LEDGER_SUMMARY)));
            y += h;
        }
        const double rowH = pt.Metrics(pt.Font(kTablePt)).height() * 1.5;
        int rows = kSummaryRowsPerPage;
        if (first && overview) {
            // The season on one map above its table.
            const QRectF mapRect(pt.area().left(), y, pt.area().width(), (kOverviewRows - 2) * rowH);
            const QRectF legendRect(pt.area().left(), mapRect.bottom(), pt.area().width(), rowH);
            pt.p().setFont(pt.Font(kTablePt));
            DrawOverview(pt.p(), mapRect, legendRect, *overview,
                         {Q(Text(StringId::RES_MAP_LEGEND_COUNTED)), Q(Text(StringId::RES_MAP_LEGEND_NOT_COUNTED))},
                         tiles);
            y += kOverviewRows * rowH;
            rows -= kOverviewRows;
        }
        first = false;
        std::vector<Cell> head;
        for (auto c : cols) head.push_back(Cell{ColumnTitle(c), std::nullopt});
        SummaryRow(pt, y, rowH, head, true);
        y += rowH;
        for (int n = 0; n < rows && next < total; ++n, ++next) {
            const LedgerRow& r = l.rows[next];
            std::vector<Cell> cells;
            for (auto c : cols) cells.push_back(CellOf(r, c));
            // An error row says what went wrong where its figures would be.
            // So does a copy of an earlier file, whose figures the totals leave out.
            if (!r.Billed()) cells[kSummaryNoteColumn].text = ErrorText(r);
            SummaryRow(pt, y, rowH, cells, false, r.Billed() ? SIZE_MAX : kSummaryNoteColumn);
            y += rowH;
        }
        if (next == total) {
            std::vector<Cell> tot;
            for (auto c : cols) tot.push_back(TotalsCell(l.totals, c));
            SummaryRow(pt, y, rowH, tot, true);
            y += rowH;
            const Cell failed = TotalsCell(l.totals, LedgerColumn::kError);
            if (!failed.text.empty()) {
                pt.p().setFont(pt.Font(kTablePt));
                pt.p().drawText(QRectF(pt.area().left(), y, pt.area().width(), rowH),
                                Qt::AlignLeft | Qt::AlignVCenter, Q(failed.text));
            }
        }
    } while (next < total);
}

// A pair's line: both fields, the shared area and its share of the smaller,
// "measured twice?" where it is.
std::string OverlapLine(const Ledger& l, const LedgerOverlap& o) {
    char m2[32], mu[32], share[32];
    std::snprintf(m2, sizeof m2, "%.2f", o.overlap_m2);
    std::snprintf(mu, sizeof mu, "%.3f", o.overlap_m2 / geo::kSquareMetresPerMu);
    std::snprintf(share, sizeof share, "%.1f %%", o.shareOfSmaller * kPercent);
    std::string line = FormatText(StringId::RES_FIELD_OVERLAP_LINE, l.rows[o.a].fileText.c_str(),
                                  l.rows[o.b].fileText.c_str(), m2, mu, share);
    if (o.kept)
        line += " - " + OverlapTwiceText(o);
    else if (o.measuredTwice)
        line += " - " + Text(StringId::RES_FIELD_OVERLAP_TWICE);
    return line;
}

/// Rows of the overlap table a pair's line takes: long file names wrap onto
/// a second row rather than lose their middle.
constexpr int kOverlapMaxRows = 2;

// The rows each pair's line takes, in the font it is painted in.
std::vector<int> OverlapRows(const Painter& pt, const Ledger& l) {
    std::vector<int> rows;
    rows.reserve(l.overlaps.size());
    for (const LedgerOverlap& o : l.overlaps) {
        const double w = pt.Metrics(pt.Font(kTablePt, o.measuredTwice)).horizontalAdvance(Q(OverlapLine(l, o)));
        rows.push_back(w <= pt.area().width() ? 1 : kOverlapMaxRows);
    }
    return rows;
}

// The first pair of each overlap page: as many pairs as their rows fill.
std::vector<std::size_t> OverlapPageStarts(const std::vector<int>& rows) {
    std::vector<std::size_t> starts;
    int used = kSummaryRowsPerPage;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (used + rows[i] > kSummaryRowsPerPage) {
            starts.push_back(i);
            used = 0;
        }
        used += rows[i];
    }
    return starts;
}

// The pages of the fields that overlap, one line (or two) per pair.
void OverlapPages(Painter& pt, const Ledger& l, const std::vector<int>& rows) {
    const std::vector<std::size_t> starts = OverlapPageStarts(rows);
    for (std::size_t page = 0; page < starts.size(); ++page) {
        const std::size_t end = page + 1 < starts.size() ? starts[page + 1] : l.overlaps.size();
        pt.NewPage();
        double y = TitleBlock(pt, Text(StringId::RES_LEDGER_OVERLAPS), RangeText(l.range));
        QPainter& p = pt.p();
        p.setFont(pt.Font(kTablePt));
        const double rowH = pt.Metrics(p.font()).height() * 1.5;
        for (std::size_t i = starts[page]; i < end; ++i) {
            const LedgerOverlap& o = l.overlaps[i];
            p.setFont(pt.Font(kTablePt, o.measuredTwice));
            const QRectF cell(pt.area().left(), y, pt.area().width(), rowH * rows[i]);
            QString text = Q(OverlapLine(l, o));
            if (rows[i] == 1) {
                p.drawText(cell, Qt::AlignLeft | Qt::AlignVCenter, text);
            } else {
                // Beyond two rows (names of hundreds of characters) the middle goes.
                const QFontMetricsF fm = pt.Metrics(p.font());
                if (fm.horizontalAdvance(text) > kOverlapMaxRows * cell.width() * 0.95)
                    text = fm.elidedText(text, Qt::ElideMiddle, kOverlapMaxRows * cell.width() * 0.9);
                // At spaces where there are, within a long path where not.
                QTextOption wrap(Qt::AlignLeft | Qt::AlignVCenter);
                wrap.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
                p.drawText(cell, text, wrap);
            }
            y += rowH * rows[i];
        }
    }
}

// `tiles` becomes "none" once a picture's tiles did not come within their wait, so a
// silent tile server costs one wait per report, not one per field.
void FieldPage(Painter& pt, const LedgerRow& r, const std::optional<geo::FieldFile>& shape, TileSettings& tiles) {
    pt.NewPage();
    QPainter& p = pt.p();
    const QRectF a = pt.area();
    std::string heading = r.fileText;
    if (!r.name.empty() && r.name != r.fileText) heading += "  " + r.name;
    double y = TitleBlock(pt, heading, Text(StringId::RES_LEDGER_FIELD_FIGURES));
    // The map picture, 3:2 across the page.
    const QRectF mapRect(a.left(), y, a.width(), a.width() * 2 / 3);
    if (shape) {
        bool gaveUp = false;
        const QImage img = FieldPicture(*shape, kPictureSize, tiles, &gaveUp);
        // No server is waited on again; packs and cached tiles still draw.
        if (gaveUp) tiles.offline = true;
        p.drawImage(mapRect, img);
    }
    p.setPen(QPen(Qt::black, 0));
    p.drawRect(mapRect);
    y = mapRect.bottom() + pt.Metrics(pt.Font(kBodyPt)).height();
    p.setFont(pt.Font(kBodyPt));
    const double rowH = pt.Metrics(p.font()).height() * 1.35;
    for (auto c : AllColumns()) {
        if (c == LedgerColumn::kFile || c == LedgerColumn::kName || c == LedgerColumn::kError)
            continue;
        const Cell cell = CellOf(r, c);
        if (cell.text.empty()) continue;
        p.drawText(QRectF(a.left(), y, a.width() * 0.45, rowH), Qt::AlignLeft | Qt::AlignVCenter,
                   Q(ColumnTitle(c)));
        p.drawText(QRectF(a.left() + a.width() * 0.45, y, a.width() * 0.3, rowH),
                   Qt::AlignRight | Qt::AlignVCenter, Q(cell.text));
        y += rowH;
    }
    // Figures that miss damaged points say so under them, in bold.
    const std::string warning = ErrorText(r);
    if (!warning.empty()) {
        p.setFont(pt.Font(kBodyPt, true));
        p.drawText(QRectF(a.left(), y + rowH * 0.5, a.width(), rowH * 2),
                   Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, Q(warning));
    }
}

}  // namespace

QString ReportFontFamily() {
    static const QString family = [] {
        for (const char* file : kCjkFontFiles) {
            const int id = QFontDatabase::addApplicationFont(QString::fromUtf8(file));
            if (id >= 0) {
                const QStringList fams = QFontDatabase::applicationFontFamilies(id);
                if (!fams.isEmpty()) return fams.front();
            }
        }
        return QString::fromUtf8(kCjkFamilies[0]);
    }();
    return family;
}

namespace {

// Pages the report takes: the summary pages, the overlap pages (`overlapRows`
// as OverlapRows measured them) and one per readable field.
int ReportPageCount(const Ledger& l, const std::vector<int>& overlapRows) {
    // The map takes rows of the first page, as if they were rows of the table.
    const std::size_t rows = l.rows.size() + (HasOverview(l) ? kOverviewRows : 0);
    const int summary =
        std::max<int>(1, static_cast<int>((rows + kSummaryRowsPerPage - 1) / kSummaryRowsPerPage));
    int fields = 0;
    for (const auto& r : l.rows) fields += r.Billed() ? 1 : 0;
    return summary + static_cast<int>(OverlapPageStarts(overlapRows).size()) + fields;
}

}  // namespace

bool RenderLedger(const Ledger& ledger, QPagedPaintDevice& device, const TileSettings& tiles) {
    device.setPageSize(QPageSize(QPageSize::A4));
    device.setPageOrientation(QPageLayout::Portrait);
    device.setPageMargins(QMarginsF(0, 0, 0, 0));
    QPainter p;
    if (!p.begin(&device)) return false;
    Painter pt(p, device);
    const std::vector<int> overlapRows = OverlapRows(pt, ledger);
    pt.SetPages(ReportPageCount(ledger, overlapRows));
    TileSettings pageTiles = tiles;
    const auto shapes = ReadShapes(ledger);
    const map::COverviewMap overview = OverviewOf(ledger, shapes);
    Summary(pt, ledger, HasOverview(ledger) ? &overview : nullptr, pageTiles);
    OverlapPages(pt, ledger, overlapRows);
    for (std::size_t i = 0; i < ledger.rows.size(); ++i)
        if (ledger.rows[i].Billed()) FieldPage(pt, ledger.rows[i], shapes[i], pageTiles);
    return p.end();
}

OutputOutcome WriteLedgerPdf(const Ledger& ledger, const std::filesystem::path& out, bool force,
                             const PdfOptions& options) {
    if (!force && OutputExists(out)) return {OutputError::kExists, out.string()};
    OffscreenApp app;
    const std::filesystem::path tmp = TemporaryBeside(out, ".pdf");
    bool ok = false;
    {
        QPdfWriter writer(QString::fromStdString(tmp.string()));
        writer.setResolution(kPdfDpi);
        writer.setCreator(QStringLiteral("Dorvane"));
        writer.setTitle(Q(Text(StringId::RES_LEDGER_TITLE)));
        const TileSettings tiles =
            PdfTileSettings(options.tiles, options.stackedTiles, options.overlay, options.offline);
        ok = RenderLedger(ledger, writer, tiles);
    }
    if (!ok) {
        std::error_code ec;
        std::filesystem::remove(tmp, ec);
        return {OutputError::kIoError, "cannot paint the PDF"};
    }
    return MoveIntoPlace(tmp, out, force);
}

}  // namespace dorvane::report
