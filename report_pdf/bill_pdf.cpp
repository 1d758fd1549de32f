#include "report_pdf/bill_pdf.h"

#include <QPainter>
#include <QPdfWriter>
#include <algorithm>
#include <cmath>

#include "book/money.h"
#include "geo/field_shape.h"
#include "i18n/string_table.h"
#include "report_pdf/bill_render.h"
#include "report_pdf/field_picture.h"
#include "report_pdf/ledger_render.h"
#include "report_pdf/offscreen_app.h"
#include "report_pdf/overview_picture.h"

namespace dorvane::report {

namespace {

using book::BillPicture;
using book::BillPrint;
using book::BillPrintLine;
using book::Fen;

/// Print resolution of the PDF (dots per inch), as the ledger's report.
constexpr int kPdfDpi = 300;
constexpr double kMarginMm = 15;
constexpr double kTitlePt = 16;
constexpr double kStampPt = 20;
constexpr double kBodyPt = 9;
constexpr double kTablePt = 8;
/// Row heights as multiples of the font's own height: air between lines.
constexpr double kRowLeading = 1.5;
constexpr double kBodyLeading = 1.35;
/// Maps per page of pictures: 2 across, 3 down (each about 87 x 58 mm).
constexpr int kPictureColumns = 2;
constexpr int kPictureRows = 3;
/// Map picture in pixels (3:2, about 140 dpi across 87 mm).
const QSize kPictureSize(480, 320);
/// Space between the two blocks of the head and between maps.
constexpr double kGapMm = 5;
/// The map of the bill's fields under the head of its first page, as a
/// share of the page's width (a wide strip that leaves room for the lines).
constexpr double kOverviewOfWidth = 0.4;

/// The columns of a bill's lines, and their relative widths: wide enough at
/// 8 pt for a date, "12345.6789 公顷" and "¥12345.00/公顷"; longer texts are
/// elided within their cell, never drawn over the next.
enum Column { kDate, kVillage, kName, kWork, kQuantity, kMu, kPrice, kAmount, kColumns };
constexpr double kWidths[kColumns] = {1.15, 1.2, 1.9, 0.85, 1.5, 1.1, 1.4, 1.3};
constexpr StringId kTitles[kColumns] = {
    StringId::RES_BILL_COL_DATE,     StringId::RES_BILL_COL_VILLAGE, StringId::RES_BILL_COL_NAME,
    StringId::RES_BILL_COL_WORK,     StringId::RES_BILL_COL_QUANTITY, StringId::RES_BILL_COL_MU,
    StringId::RES_BILL_COL_PRICE,    StringId::RES_BILL_COL_AMOUNT};
bool Numeric(int c) { return c >= kQuantity; }

QString Q(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

std::string WorkText(book::WorkType w) {
    switch (w) {
    case book::WorkType::kHarvesting: return Text(StringId::RES_BILL_WORK_HARVESTING);
    case book::WorkType::kPloughing: return Text(StringId::RES_BILL_WORK_PLOUGHING);
    case book::WorkType::kSowing: return Text(StringId::RES_BILL_WORK_SOWING);
    case book::WorkType::kSpraying: return Text(StringId::RES_BILL_WORK_SPRAYING);
    case book::WorkType::kSurveying: return Text(StringId::RES_BILL_WORK_SURVEYING);
    case book::WorkType::kOther: break;
    }
    return Text(StringId::RES_BILL_WORK_OTHER);
}

std::string UnitText(book::BillingUnit u) {
    switch (u) {
    case book::BillingUnit::kMu: return Text(StringId::RES_BILL_UNIT_MU);
    case book::BillingUnit::kHectare: return Text(StringId::RES_BILL_UNIT_HA);
    case book::BillingUnit::kKilometre: break;
    }
    return Text(StringId::RES_BILL_UNIT_KM);
}

std::string Money(const BillPrint& b, Fen fen) { return b.seller.currency + book::FormatMoney(fen); }

std::string Labelled(StringId label, const std::string& value) {
    return FormatText(StringId::RES_BILL_FIELD, Text(label).c_str(), value.c_str());
}

// A line billed on another basis than the bill's (a job without the
// handheld's figures on a bill of the handheld's) is marked.
bool FellBack(const BillPrint& b, const BillPrintLine& l) { return l.line.basis != b.bill.basis; }

std::vector<std::string> LineCells(const BillPrint& b, const BillPrintLine& l) {
    const book::BillLine& x = l.line;
    std::vector<std::string> cells(kColumns);
    cells[kDate] = x.date;
    cells[kVillage] = l.village;
    cells[kName] = x.label;
    cells[kWork] = WorkText(x.work);
    cells[kQuantity] = book::FormatQuantity(x.quantityE4) + " " + UnitText(x.unit) + (FellBack(b, l) ? " *" : "");
    cells[kMu] = book::FormatQuantity(l.areaMuE4);
    cells[kPrice] = Money(b, x.priceFen) + "/" + UnitText(x.unit);
    cells[kAmount] = Money(b, x.amountFen);
    return cells;
}

std::string TitleText(const BillPrint& b) { return Text(StringId::RES_BILL_TITLE) + " " + b.bill.number; }

class Page {
public:
    Page(QPainter& p, QPagedPaintDevice& d) : p_(p), d_(d) {
        const double dpmm = d.logicalDpiX() / 25.4;
        mm_ = dpmm;
        margin_ = kMarginMm * dpmm;
        area_ = QRectF(margin_, margin_, d.width() - 2 * margin_, d.height() - 2 * margin_);
    }
    QFont Font(double pt, bool bold = false) const {
        QFont f(ReportFontFamily());
        f.setPointSizeF(pt);
        f.setBold(bold);
        return f;
    }
    /// Metrics at the page's resolution (a QFontMetricsF without a device
    /// measures at the screen's, and rows would be sized for another font).
    QFontMetricsF Metrics(const QFont& f) const { return QFontMetricsF(f, &d_); }
    double RowHeight(double pt, double leading) const { return Metrics(Font(pt)).height() * leading; }
    void NewPage() {
        if (page_ > 0) d_.newPage();
        ++page_;
        p_.setFont(Font(kTablePt));
        p_.setPen(Qt::black);
        const QRectF foot(area_.left(), area_.bottom() + margin_ * 0.2, area_.width(), margin_ * 0.6);
        p_.drawText(foot, Qt::AlignRight | Qt::AlignTop, Q(FormatText(StringId::RES_LEDGER_PAGE, page_, pages)));
    }
    /// `text` in `r` with the current font, elided to fit its width.
    void Draw(const QRectF& r, const std::string& text, Qt::Alignment align, Qt::TextElideMode elide = Qt::ElideRight) {
        p_.drawText(r, align | Qt::AlignVCenter, Metrics(p_.font()).elidedText(Q(text), elide, r.width()));
    }
    QPainter& p() { return p_; }
    QRectF area() const { return area_; }
    double mm() const { return mm_; }
    int pages = 0;

private:
    QPainter& p_;
    QPagedPaintDevice& d_;
    int page_ = 0;
    double mm_ = 1;
    double margin_ = 0;
    QRectF area_;
};

// The head of the first page: title (and the void stamp), seller and
// customer side by side, then the bill's number, dates and basis. Returns
// its height; paints only when `paint`, so the pages can be planned first.
double Head(Page& pg, const BillPrint& b, bool paint) {
    QPainter& p = pg.p();
    const QRectF a = pg.area();
    const QFont title = pg.Font(kTitlePt, true);
    const bool isVoid = b.bill.status == book::BillStatus::kVoid;
    const QFont stamp = pg.Font(kStampPt, true);
    double h = pg.Metrics(isVoid ? stamp : title).height() * 1.3;
    if (paint) {
        p.setFont(title);
        const std::string stampText = Text(StringId::RES_BILL_VOID);
        const double stampW = isVoid ? pg.Metrics(stamp).horizontalAdvance(Q(stampText)) + 4 * pg.mm() : 0;
        pg.Draw(QRectF(a.left(), a.top(), a.width() - stampW, h), TitleText(b), Qt::AlignLeft);
        if (isVoid) {
            p.setFont(stamp);
            p.setPen(QColor(0xC0, 0x00, 0x00));
            p.drawText(QRectF(a.right() - stampW, a.top(), stampW, h), Qt::AlignRight | Qt::AlignVCenter,
                       Q(stampText));
            p.setPen(Qt::black);
        }
    }
    double y = a.top() + h + pg.mm() * 2;
    const double bodyH = pg.RowHeight(kBodyPt, kBodyLeading);
    const double colW = (a.width() - kGapMm * pg.mm()) / 2;
    std::vector<std::string> seller = {b.seller.sellerName};
    if (!b.seller.sellerAddress.empty()) seller.push_back(Labelled(StringId::RES_BILL_ADDRESS, b.seller.sellerAddress));
    if (!b.seller.sellerPhone.empty()) seller.push_back(Labelled(StringId::RES_BILL_PHONE, b.seller.sellerPhone));
    std::vector<std::string> customer = {b.customer.name};
    if (!b.customer.village.empty()) customer.push_back(Labelled(StringId::RES_BILL_VILLAGE, b.customer.village));
    if (!b.customer.phone.empty()) customer.push_back(Labelled(StringId::RES_BILL_PHONE, b.customer.phone));
    const std::pair<StringId, const std::vector<std::string>*> blocks[] = {{StringId::RES_BILL_SELLER, &seller},
                                                                          {StringId::RES_BILL_CUSTOMER, &customer}};
    double tallest = 0;
    for (int i = 0; i < 2; ++i) {
        const double x = a.left() + i * (colW + kGapMm * pg.mm());
        double yy = y;
        if (paint) {
            p.setFont(pg.Font(kBodyPt, true));
            pg.Draw(QRectF(x, yy, colW, bodyH), Text(blocks[i].first), Qt::AlignLeft);
            p.setFont(pg.Font(kBodyPt));
        }
        yy += bodyH;
        for (const std::string& line : *blocks[i].second) {
            if (paint) pg.Draw(QRectF(x, yy, colW, bodyH), line, Qt::AlignLeft);
            yy += bodyH;
        }
        tallest = std::max(tallest, yy - y);
    }
    y += tallest + pg.mm() * 2;
    std::vector<std::string> facts = {Labelled(StringId::RES_BILL_NUMBER, b.bill.number),
                                      Labelled(StringId::RES_BILL_DATE, b.bill.date)};
    if (isVoid && !b.bill.voidDate.empty()) facts.push_back(Labelled(StringId::RES_BILL_VOID_DATE, b.bill.voidDate));
    facts.push_back(Labelled(StringId::RES_BILL_BASIS, Text(b.bill.basis == book::AreaBasis::kHandheld
                                                                ? StringId::RES_BILL_BASIS_HANDHELD
                                                                : StringId::RES_BILL_BASIS_WGS84)));
    if (paint) p.setFont(pg.Font(kBodyPt));
    for (const std::string& f : facts) {
        if (paint) pg.Draw(QRectF(a.left(), y, a.width(), bodyH), f, Qt::AlignLeft);
        y += bodyH;
    }
    return y + pg.mm() * 3 - a.top();
}

// The x of each column's left edge, and the right edge at the end.
std::vector<double> ColumnEdges(const QRectF& a) {
    double total = 0;
    for (double w : kWidths) total += w;
    std::vector<double> x = {a.left()};
    for (double w : kWidths) x.push_back(x.back() + a.width() * w / total);
    return x;
}

void Row(Page& pg, double y, double rowH, const std::vector<std::string>& cells, bool bold) {
    QPainter& p = pg.p();
    const QRectF a = pg.area();
    const auto x = ColumnEdges(a);
    p.setFont(pg.Font(kTablePt, bold));
    // Cells keep 1 mm from their neighbours so that no two words meet.
    const double pad = pg.mm() * 0.5;
    for (int c = 0; c < kColumns; ++c)
        pg.Draw(QRectF(x[c] + pad, y, x[c + 1] - x[c] - 2 * pad, rowH), cells[c],
                Numeric(c) ? Qt::AlignRight : Qt::AlignLeft, c == kName ? Qt::ElideMiddle : Qt::ElideRight);
    p.setPen(QPen(QColor(0xB0, 0xB0, 0xB0), 0));
    p.drawLine(QPointF(a.left(), y + rowH), QPointF(a.right(), y + rowH));
    p.setPen(Qt::black);
}

// The total, paid and outstanding rows (and the note on marked lines).
double TotalsHeight(const Page& pg, bool note) {
    return pg.RowHeight(kTablePt, kRowLeading) * (3 + (note ? 1.5 : 0)) + pg.mm() * 2;
}

void Totals(Page& pg, const BillPrint& b, double y, bool note) {
    QPainter& p = pg.p();
    const QRectF a = pg.area();
    const auto x = ColumnEdges(a);
    const double rowH = pg.RowHeight(kTablePt, kRowLeading);
    const double pad = pg.mm() * 0.5;
    y += pg.mm() * 2;
    const std::pair<StringId, Fen> rows[] = {{StringId::RES_BILL_TOTAL, b.bill.totalFen},
                                             {StringId::RES_BILL_PAID, b.bill.paidFen},
                                             {StringId::RES_BILL_OUTSTANDING, b.bill.OutstandingFen()}};
    bool first = true;
    for (const auto& [label, fen] : rows) {
        p.setFont(pg.Font(kTablePt, first));
        pg.Draw(QRectF(x[kMu] + pad, y, x[kAmount] - x[kMu] - 2 * pad, rowH), Text(label), Qt::AlignRight);
        pg.Draw(QRectF(x[kAmount] + pad, y, x[kColumns] - x[kAmount] - 2 * pad, rowH), Money(b, fen),
                Qt::AlignRight);
        if (first) {
            p.setPen(QPen(Qt::black, 0));
            p.drawLine(QPointF(x[kMu], y + rowH), QPointF(a.right(), y + rowH));
        }
        first = false;
        y += rowH;
    }
    if (note) {
        p.setFont(pg.Font(kTablePt));
        pg.Draw(QRectF(a.left(), y + rowH * 0.5, a.width(), rowH), Text(StringId::RES_BILL_BASIS_FALLBACK),
                Qt::AlignLeft);
    }
}

// How the lines fall onto pages: the number of lines on each page of the
// table, and whether the totals need a page of their own.
struct Plan {
    std::vector<std::size_t> linesPerPage;
    bool totalsAlone = false;
    int picturePages = 0;
    int Pages() const { return static_cast<int>(linesPerPage.size()) + (totalsAlone ? 1 : 0) + picturePages; }
};

double ContinuedHead(const Page& pg) { return pg.RowHeight(kBodyPt, kRowLeading); }

/// The height the map of the fields takes on the first page (with its
/// legend and a gap), none without the fields' boundaries.
double OverviewHeight(const Page& pg, std::size_t pictures) {
    if (pictures == 0) return 0;
    return pg.area().width() * kOverviewOfWidth + pg.RowHeight(kBodyPt, kBodyLeading) + pg.mm() * 3;
}

/// The map of the bill's fields coloured by their work, with its legend.
void Overview(Page& pg, const BillPrint& b, const std::vector<BillPicture>& pictures, double y,
              TileSettings& tiles) {
    // The works the bill's fields were done with, in their order.
    std::vector<int> categoryOf(book::kWorkTypeCount, -1);
    std::vector<QString> legend;
    for (const BillPicture& pic : pictures) {
        if (pic.line >= b.lines.size()) continue;
        const auto w = static_cast<std::size_t>(b.lines[pic.line].line.work);
        if (w < categoryOf.size() && categoryOf[w] < 0) categoryOf[w] = 0;
    }
    for (std::size_t w = 0; w < categoryOf.size(); ++w)
        if (categoryOf[w] == 0) {
            categoryOf[w] = static_cast<int>(legend.size());
            legend.push_back(Q(WorkText(static_cast<book::WorkType>(w))));
        }
    std::vector<map::OverviewField> fields;
    for (const BillPicture& pic : pictures) {
        if (pic.line >= b.lines.size()) continue;  // not a line of this bill: not its field
        const BillPrintLine& l = b.lines[pic.line];
        map::OverviewField f;
        for (const geo::GeoPoint& g : pic.field.points) f.ring.push_back(ToWorld(g.lon, g.lat));
        f.line = geo::IsLine(pic.field);
        f.name = Q(l.line.label);
        f.mu = static_cast<double>(l.areaMuE4) / book::kQuantityScale;
        const auto w = static_cast<std::size_t>(l.line.work);
        f.category = w < categoryOf.size() ? std::max(0, categoryOf[w]) : 0;
        fields.push_back(std::move(f));
    }
    map::COverviewMap m;
    m.SetFields(std::move(fields));
    m.SetMuUnit(Q(Text(StringId::RES_BILL_UNIT_MU)));
    const QRectF a = pg.area();
    const QRectF mapRect(a.left(), y, a.width(), a.width() * kOverviewOfWidth);
    const QRectF legendRect(a.left(), mapRect.bottom(), a.width(), pg.RowHeight(kBodyPt, kBodyLeading));
    pg.p().setFont(pg.Font(kBodyPt));
    DrawOverview(pg.p(), mapRect, legendRect, m, legend, tiles);
}

Plan PlanPages(Page& pg, const BillPrint& b, std::size_t pictures, bool picturePages, bool note) {
    Plan plan;
    const double rowH = pg.RowHeight(kTablePt, kRowLeading);
    const double height = pg.area().height();
    const double firstRoom = height - Head(pg, b, false) - OverviewHeight(pg, pictures) - rowH;
    const double nextRoom = height - ContinuedHead(pg) - rowH;
    std::size_t left = b.lines.size();
    double room = firstRoom;
    double used = 0;
    do {
        const auto fit = static_cast<std::size_t>(std::max(1.0, std::floor(room / rowH)));
        const std::size_t n = std::min(left, fit);
        plan.linesPerPage.push_back(n);
        left -= n;
        used = static_cast<double>(n) * rowH;
        if (left) room = nextRoom;
    } while (left);
    plan.totalsAlone = room - used < TotalsHeight(pg, note);
    plan.picturePages = picturePages ? static_cast<int>((pictures + kPictureColumns * kPictureRows - 1) /
                                                        (kPictureColumns * kPictureRows))
                                     : 0;
    return plan;
}

// One page of maps, each with its date and name above it. False when
// `progress` asked to stop.
bool PicturePage(Page& pg, const BillPrint& b, const std::vector<BillPicture>& pictures, std::size_t from,
                 TileSettings& tiles, const std::function<bool(int, int)>& progress) {
    pg.NewPage();
    QPainter& p = pg.p();
    const QRectF a = pg.area();
    const double headH = pg.Metrics(pg.Font(kTitlePt, true)).height() * 1.3;
    p.setFont(pg.Font(kTitlePt, true));
    pg.Draw(QRectF(a.left(), a.top(), a.width(), headH), Text(StringId::RES_BILL_PICTURES) + "  " + b.bill.number,
            Qt::AlignLeft);
    const double gap = kGapMm * pg.mm();
    const double cellW = (a.width() - gap * (kPictureColumns - 1)) / kPictureColumns;
    const double captionH = pg.RowHeight(kBodyPt, kBodyLeading);
    const double cellH = (a.height() - headH - gap * kPictureRows) / kPictureRows;
    const double mapH = std::min(cellW * 2 / 3, cellH - captionH);
    for (int k = 0; k < kPictureColumns * kPictureRows && from + k < pictures.size(); ++k) {
        const std::size_t i = from + static_cast<std::size_t>(k);
        if (progress && !progress(static_cast<int>(i), static_cast<int>(pictures.size()))) return false;
        const double x = a.left() + (k % kPictureColumns) * (cellW + gap);
        const double y = a.top() + headH + gap + (k / kPictureColumns) * (cellH + gap);
        p.setFont(pg.Font(kBodyPt));
        pg.Draw(QRectF(x, y, cellW, captionH), pictures[i].caption, Qt::AlignLeft, Qt::ElideMiddle);
        const QRectF mapRect(x, y + captionH, cellW, mapH);
        bool gaveUp = false;
        const QImage img = FieldPicture(pictures[i].field, kPictureSize, tiles, &gaveUp);
        // A silent tile server costs one wait per bill, not one per map.
        // Packs and cached tiles still draw (offline asks no server).
        if (gaveUp) tiles.offline = true;
        p.drawImage(mapRect, img);
        p.setPen(QPen(Qt::black, 0));
        p.drawRect(mapRect);
    }
    return true;
}

}  // namespace

BillRender RenderBill(const BillPrint& b, const std::vector<BillPicture>& pictures, QPagedPaintDevice& device,
                      const TileSettings& tiles, const std::function<bool(int, int)>& progress, bool picturePages) {
    device.setPageSize(QPageSize(QPageSize::A4));
    device.setPageOrientation(QPageLayout::Portrait);
    device.setPageMargins(QMarginsF(0, 0, 0, 0));
    QPainter p;
    if (!p.begin(&device)) return BillRender::kCannotPaint;
    Page pg(p, device);
    const bool note = std::any_of(b.lines.begin(), b.lines.end(),
                                  [&](const BillPrintLine& l) { return FellBack(b, l); });
    const Plan plan = PlanPages(pg, b, pictures.size(), picturePages, note);
    pg.pages = plan.Pages();
    const QRectF a = pg.area();
    const double rowH = pg.RowHeight(kTablePt, kRowLeading);
    std::vector<std::string> head;
    for (StringId t : kTitles) head.push_back(Text(t));
    std::size_t next = 0;
    double y = a.top();
    TileSettings pageTiles = tiles;
    for (std::size_t page = 0; page < plan.linesPerPage.size(); ++page) {
        pg.NewPage();
        if (page == 0) {
            y = a.top() + Head(pg, b, true);
            if (!pictures.empty()) {
                // The bill's fields on one map before its lines. Without
                // the pages of maps nobody waits for a server: packs and
                // cached tiles only.
                TileSettings overviewTiles = pageTiles;
                if (!picturePages) overviewTiles.offline = true;
                Overview(pg, b, pictures, y, picturePages ? pageTiles : overviewTiles);
                y += OverviewHeight(pg, pictures.size());
            }
        } else {
            p.setFont(pg.Font(kBodyPt, true));
            pg.Draw(QRectF(a.left(), a.top(), a.width(), ContinuedHead(pg)),
                    FormatText(StringId::RES_BILL_CONTINUED, TitleText(b).c_str()), Qt::AlignLeft);
            y = a.top() + ContinuedHead(pg);
        }
        Row(pg, y, rowH, head, true);
        y += rowH;
        for (std::size_t n = 0; n < plan.linesPerPage[page]; ++n, ++next) {
            Row(pg, y, rowH, LineCells(b, b.lines[next]), false);
            y += rowH;
        }
    }
    if (plan.totalsAlone) {
        pg.NewPage();
        y = a.top();
    }
    Totals(pg, b, y, note);
    for (std::size_t from = 0; picturePages && from < pictures.size(); from += kPictureColumns * kPictureRows)
        if (!PicturePage(pg, b, pictures, from, pageTiles, progress)) {
            p.end();
            return BillRender::kCancelled;
        }
    return p.end() ? BillRender::kDone : BillRender::kCannotPaint;
}

OutputOutcome WriteBillPdf(const BillPrint& bill, const std::vector<BillPicture>& pictures,
                           const std::filesystem::path& out, bool force, const BillPdfOptions& options) {
    if (!force && OutputExists(out)) return {OutputError::kExists, out.string()};
    OffscreenApp app;
    const std::filesystem::path tmp = TemporaryBeside(out, ".pdf");
    BillRender r = BillRender::kCannotPaint;
    {
        QPdfWriter writer(QString::fromStdString(tmp.string()));
        writer.setResolution(kPdfDpi);
        writer.setCreator(QStringLiteral("Dorvane"));
        writer.setTitle(Q(TitleText(bill)));
        const TileSettings tiles =
            PdfTileSettings(options.tiles, options.stackedTiles, options.overlay, options.offline);
        r = RenderBill(bill, pictures, writer, tiles, options.progress, options.picturePages);
    }
    if (r != BillRender::kDone) {
        std::error_code ec;
        std::filesystem::remove(tmp, ec);
        return {OutputError::kIoError, r == BillRender::kCancelled ? kBillPdfCancelled : "cannot paint the PDF"};
    }
    return MoveIntoPlace(tmp, out, force);
}

}  // namespace dorvane::report
