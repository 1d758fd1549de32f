#include "report/ledger_table.h"

#include <algorithm>

#include "convert/xml_text.h"
#include "geo/figure_lines.h"
#include "i18n/string_table.h"

namespace dorvane::report {

namespace {

// Decimals of each kind of figure: the handheld's own (%.1f width, %.1f
// totals; unit prices as geo::UnitPriceText shows them), centimetres for
// lengths and areas in m², and enough for mu and ha to keep a square metre
// visible.
constexpr int kLengthDecimals = 2;
constexpr int kAreaM2Decimals = 2;
constexpr int kAreaMuDecimals = 4;
constexpr int kAreaHaDecimals = 4;
constexpr int kWidthDecimals = 1;
constexpr int kTotalDecimals = 1;
constexpr int kShareDecimals = 1;
constexpr double kPercent = 100.0;

/// UTF-8 byte-order mark.
constexpr char kBom[] = "\xEF\xBB\xBF";
constexpr char kCrLf[] = "\r\n";

Cell Num(double v, int decimals) {
    return Cell{FixedText(v, decimals), v};
}

Cell TimeCell(const std::optional<std::int64_t>& t) {
    if (!t) return {};
    return Cell{LocalTimeText(*t), static_cast<double>(*t)};
}

StringId TitleId(LedgerColumn c) {
    switch (c) {
        case LedgerColumn::kFile:
            return StringId::RES_LEDGER_COL_FILE;
        case LedgerColumn::kName:
            return StringId::RES_LEDGER_COL_NAME;
        case LedgerColumn::kMethod:
            return StringId::RES_LEDGER_COL_METHOD;
        case LedgerColumn::kCollected:
            return StringId::RES_LEDGER_COL_COLLECTED;
        case LedgerColumn::kStart:
            return StringId::RES_LEDGER_COL_START;
        case LedgerColumn::kFinish:
            return StringId::RES_LEDGER_COL_FINISH;
        case LedgerColumn::kWidth:
            return StringId::RES_LEDGER_COL_WIDTH;
        case LedgerColumn::kPoints:
            return StringId::RES_LEDGER_COL_POINTS;
        case LedgerColumn::kLength:
            return StringId::RES_LEDGER_COL_LENGTH;
        case LedgerColumn::kLengthWgs84:
            return StringId::RES_LEDGER_COL_LENGTH_WGS84;
        case LedgerColumn::kArea:
            return StringId::RES_LEDGER_COL_AREA;
        case LedgerColumn::kAreaMu:
            return StringId::RES_LEDGER_COL_AREA_MU;
        case LedgerColumn::kAreaHa:
            return StringId::RES_LEDGER_COL_AREA_HA;
        case LedgerColumn::kAreaWgs84:
            return StringId::RES_LEDGER_COL_AREA_WGS84;
        case LedgerColumn::kAreaWgs84Mu:
            return StringId::RES_LEDGER_COL_AREA_WGS84_MU;
        case LedgerColumn::kAreaWgs84Ha:
            return StringId::RES_LEDGER_COL_AREA_WGS84_HA;
        case LedgerColumn::kLengthCgcs2000:
            return StringId::RES_LAND_COL_LENGTH_CGCS2000;
        case LedgerColumn::kAreaCgcs2000:
            return StringId::RES_LAND_COL_AREA_CGCS2000;
        case LedgerColumn::kGk3Zone:
            return StringId::RES_LAND_COL_GK3_ZONE;
        case LedgerColumn::kGk3Area:
            return StringId::RES_LAND_COL_GK3_AREA;
        case LedgerColumn::kLengthUnitPrice:
            return StringId::RES_LEDGER_COL_LENGTH_UNIT_PRICE;
        case LedgerColumn::kLengthPriced:
            return StringId::RES_LEDGER_COL_LENGTH_PRICED;
        case LedgerColumn::kLengthTotal:
            return StringId::RES_LEDGER_COL_LENGTH_TOTAL;
        case LedgerColumn::kAreaUnitPrice:
            return StringId::RES_LEDGER_COL_AREA_UNIT_PRICE;
        case LedgerColumn::kAreaPriced:
            return StringId::RES_LEDGER_COL_AREA_PRICED;
        case LedgerColumn::kAreaTotal:
            return StringId::RES_LEDGER_COL_AREA_TOTAL;
        case LedgerColumn::kHoles:
            return StringId::RES_LEDGER_COL_HOLES;
        case LedgerColumn::kAreaTolerance:
            return StringId::RES_LEDGER_COL_AREA_TOLERANCE;
        case LedgerColumn::kValidArea:
            return StringId::RES_LEDGER_COL_VALID_AREA;
        case LedgerColumn::kError:
        case LedgerColumn::kCount:
            break;
    }
    return StringId::RES_LEDGER_COL_ERROR;
}

// Terminal columns: a CJK character takes two cells. Close enough for the
// characters field names hold (Han, kana, Hangul, full-width forms).
std::size_t DisplayWidth(const std::string& s) {
    std::size_t w = 0;
    for (std::size_t i = 0; i < s.size();) {
        const auto b = static_cast<unsigned char>(s[i]);
        std::size_t len = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
        if (i + len > s.size()) len = 1;
        char32_t cp = b;
        if (len == 3) cp = ((b & 0x0Fu) << 12) | ((s[i + 1] & 0x3Fu) << 6) | (s[i + 2] & 0x3Fu);
        const bool wide = len == 4 || (len == 3 && cp >= 0x1100 && !(cp >= 0x2000 && cp < 0x2E80));
        w += wide ? 2 : 1;
        i += len;
    }
    return w;
}

}  // namespace

std::vector<LedgerColumn> AllColumns() {
    std::vector<LedgerColumn> v;
    for (int i = 0; i < kLedgerColumnCount; ++i) v.push_back(static_cast<LedgerColumn>(i));
    return v;
}

std::string ColumnTitle(LedgerColumn c) {
    return Text(TitleId(c));
}

bool IsNumericColumn(LedgerColumn c) {
    switch (c) {
        case LedgerColumn::kFile:
        case LedgerColumn::kName:
        case LedgerColumn::kMethod:
        case LedgerColumn::kLengthPriced:
        case LedgerColumn::kAreaPriced:
        case LedgerColumn::kError:
        case LedgerColumn::kCount:
            return false;
        default:
            return true;
    }
}

std::string MethodText(std::optional<std::int16_t> method) {
    if (!method) return {};
    switch (*method) {
        case 0:
            return Text(StringId::RES_LEDGER_METHOD_TRACK);
        case 1:
            return Text(StringId::RES_LEDGER_METHOD_VERTEX);
        case 2:
            return Text(StringId::RES_LEDGER_METHOD_HARVESTING);
        default:
            return std::to_string(*method);
    }
}

std::string ErrorText(const LedgerRow& row) {
    if (row.ok()) {
        if (!row.sameAs.empty())
            return FormatText(StringId::RES_LEDGER_SAME_AS, row.sameAs.c_str());
        // A boundary that crosses itself and a field measured twice are never billed silently.
        std::string text;
        auto add = [&](const std::string& t) { text += (text.empty() ? "" : "; ") + t; };
        if (!row.valid) add(Text(StringId::RES_FIELD_INVALID));
        if (!row.measuredTwiceWith.empty())
            add(row.measuredTwiceWith + ": " + Text(StringId::RES_FIELD_OVERLAP_TWICE));
        if (row.damagedRecords > 0)
            add(CountText(StringId::RES_LEDGER_DAMAGED, StringId::RES_LEDGER_DAMAGED_ONE,
                          static_cast<int>(row.damagedRecords)));
        return text;
    }
    geo::ReadResult r;
    r.error = row.error;
    r.message = row.errorDetail;
    return geo::ReadErrorMessage(r);
}

// The six area cells, alike for a row and the totals; nullopt for the other columns.
std::optional<Cell> AreaCell(const geo::AreaUnits& hh, const geo::AreaUnits& wg, LedgerColumn c) {
    switch (c) {
        case LedgerColumn::kArea:
            return Num(hh.m2, kAreaM2Decimals);
        case LedgerColumn::kAreaMu:
            return Num(hh.mu, kAreaMuDecimals);
        case LedgerColumn::kAreaHa:
            return Num(hh.ha, kAreaHaDecimals);
        case LedgerColumn::kAreaWgs84:
            return Num(wg.m2, kAreaM2Decimals);
        case LedgerColumn::kAreaWgs84Mu:
            return Num(wg.mu, kAreaMuDecimals);
        case LedgerColumn::kAreaWgs84Ha:
            return Num(wg.ha, kAreaHaDecimals);
        default:
            return std::nullopt;
    }
}

namespace {

// The handheld prices per unit shown: per km above 1000 m, per km² above
// 1 km². A price or total says which, so that 0.1 for a field of 1.000828 km²
// is not read beside 89883.5 for 998705 m² as the same kind of figure.
StringId LengthPer(const LedgerRow& r) {
    return r.handheld.lengthPerKm ? StringId::RES_FIELD_PER_KM : StringId::RES_FIELD_PER_M;
}
StringId AreaPer(const LedgerRow& r) {
    return r.handheld.areaPerKm2 ? StringId::RES_FIELD_PER_KM2 : StringId::RES_FIELD_PER_M2;
}

Cell UnitPriceCell(double price, StringId per) {
    return Cell{FormatText(per, geo::UnitPriceText(price).c_str()), price};
}

Cell TotalCell(double total, double price, StringId per) {
    const std::string at = FormatText(per, geo::UnitPriceText(price).c_str());
    return Cell{
        FormatText(StringId::RES_FIELD_TOTAL_AT, FixedText(total, kTotalDecimals).c_str(), at.c_str()),
        total};
}

}  // namespace

Cell CellOf(const LedgerRow& r, LedgerColumn c) {
    if (c == LedgerColumn::kFile) return Cell{r.fileText, std::nullopt};
    if (c == LedgerColumn::kError) return Cell{ErrorText(r), std::nullopt};
    if (!r.ok()) return {};
    if (auto area = AreaCell(r.handheld.area, r.wgs84.area, c)) return *area;
    switch (c) {
        case LedgerColumn::kName:
            return Cell{r.name, std::nullopt};
        case LedgerColumn::kMethod:
            return Cell{MethodText(r.method), std::nullopt};
        case LedgerColumn::kCollected:
            return TimeCell(r.collectionTime);
        case LedgerColumn::kStart:
            return TimeCell(r.startTime);
        case LedgerColumn::kFinish:
            return TimeCell(r.finishTime);
        case LedgerColumn::kWidth:
            return r.workWidth ? Num(*r.workWidth, kWidthDecimals) : Cell{};
        case LedgerColumn::kPoints:
            return Cell{std::to_string(r.points), static_cast<double>(r.points)};
        case LedgerColumn::kLength:
            return Num(r.handheld.measure.length, kLengthDecimals);
        case LedgerColumn::kLengthWgs84:
            return Num(r.wgs84.length_m, kLengthDecimals);
        case LedgerColumn::kLengthCgcs2000:
            return Num(r.cgcs2000.length_m, kLengthDecimals);
        case LedgerColumn::kAreaCgcs2000:
            return Num(r.cgcs2000.area_m2, kAreaM2Decimals);
        case LedgerColumn::kGk3Zone:
            return r.gk3 ? Cell{std::to_string(r.gk3->zone), static_cast<double>(r.gk3->zone)}
                         : Cell{};
        case LedgerColumn::kGk3Area:
            return r.gk3 ? Num(r.gk3->area_m2, kAreaM2Decimals) : Cell{};
        case LedgerColumn::kLengthUnitPrice:
            return UnitPriceCell(r.lengthUnitPrice, LengthPer(r));
        case LedgerColumn::kLengthPriced:
            return Cell{r.handheld.shown.lengthText, std::nullopt};
        case LedgerColumn::kLengthTotal:
            return TotalCell(r.handheld.shown.lengthTotal, r.lengthUnitPrice, LengthPer(r));
        case LedgerColumn::kAreaUnitPrice:
            return UnitPriceCell(r.areaUnitPrice, AreaPer(r));
        case LedgerColumn::kAreaPriced:
            return Cell{r.handheld.shown.areaText, std::nullopt};
        case LedgerColumn::kAreaTotal:
            return TotalCell(r.handheld.shown.areaTotal, r.areaUnitPrice, AreaPer(r));
        case LedgerColumn::kHoles:
            return r.holes ? Cell{std::to_string(r.holes), static_cast<double>(r.holes)} : Cell{};
        case LedgerColumn::kAreaTolerance:
            return r.outline ? Num(r.areaTolerance_m2, kAreaM2Decimals) : Cell{};
        case LedgerColumn::kValidArea:
            return r.valid ? Cell{} : Num(r.validArea_m2, kAreaM2Decimals);
        default:
            return {};
    }
}

Cell TotalsCell(const LedgerTotals& t, LedgerColumn c) {
    if (auto area = AreaCell(geo::InUnits(t.handheldArea_m2), geo::InUnits(t.wgs84Area_m2), c))
        return *area;
    switch (c) {
        case LedgerColumn::kFile:
            return Cell{Text(StringId::RES_LEDGER_TOTALS), std::nullopt};
        case LedgerColumn::kPoints:
            return Cell{std::to_string(t.points), static_cast<double>(t.points)};
        case LedgerColumn::kLength:
            return Num(t.handheldLength_m, kLengthDecimals);
        case LedgerColumn::kLengthWgs84:
            return Num(t.wgs84Length_m, kLengthDecimals);
        case LedgerColumn::kLengthCgcs2000:
            return Num(t.cgcs2000Length_m, kLengthDecimals);
        case LedgerColumn::kAreaCgcs2000:
            return Num(t.cgcs2000Area_m2, kAreaM2Decimals);
        case LedgerColumn::kLengthTotal:
            return Num(t.lengthTotal, kTotalDecimals);
        case LedgerColumn::kAreaTotal:
            return Num(t.areaTotal, kTotalDecimals);
        case LedgerColumn::kError:
            if (t.failed == 0) return {};
            return Cell{
                CountText(StringId::RES_LEDGER_TOTALS_FAILED,
                          StringId::RES_LEDGER_TOTALS_FAILED_ONE, static_cast<int>(t.failed)),
                std::nullopt};
        default:
            return {};
    }
}

void SortRows(std::vector<LedgerRow>& rows, LedgerColumn c, bool ascending) {
    const bool numeric = IsNumericColumn(c);
    std::vector<std::pair<Cell, std::size_t>> keys;
    keys.reserve(rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) keys.emplace_back(CellOf(rows[i], c), i);
    std::stable_sort(keys.begin(), keys.end(), [&](const auto& a, const auto& b) {
        const bool aEmpty = numeric ? !a.first.number : a.first.text.empty();
        const bool bEmpty = numeric ? !b.first.number : b.first.text.empty();
        if (aEmpty || bEmpty) return !aEmpty && bEmpty;
        if (numeric)
            return ascending ? *a.first.number < *b.first.number
                             : *b.first.number < *a.first.number;
        return ascending ? a.first.text < b.first.text : b.first.text < a.first.text;
    });
    std::vector<LedgerRow> sorted;
    sorted.reserve(rows.size());
    for (auto& k : keys) sorted.push_back(std::move(rows[k.second]));
    rows = std::move(sorted);
}

std::string CsvField(const std::string& text) {
    if (text.find_first_of("\",\r\n") == std::string::npos) return text;
    std::string out = "\"";
    for (char ch : text) {
        if (ch == '"') out += '"';
        out += ch;
    }
    return out + "\"";
}

std::string OverlapTwiceText(const LedgerOverlap& o) {
    if (!o.measuredTwice) return {};
    std::string text = Text(StringId::RES_LEDGER_COL_OVERLAP_TWICE);
    if (o.kept) text += " (" + Text(StringId::RES_LEDGER_KEPT_BOTH) + ")";
    return text;
}

std::string LedgerCsv(const Ledger& ledger) {
    const auto cols = AllColumns();
    std::string out = kBom;
    auto record = [&](auto cellOf) {
        for (std::size_t i = 0; i < cols.size(); ++i) {
            if (i) out += ',';
            out += CsvField(cellOf(cols[i]));
        }
        out += kCrLf;
    };
    record([](LedgerColumn c) { return ColumnTitle(c); });
    for (const LedgerRow& r : ledger.rows)
        record([&](LedgerColumn c) { return CellOf(r, c).text; });
    record([&](LedgerColumn c) { return TotalsCell(ledger.totals, c).text; });
    if (ledger.overlaps.empty()) return out;
    auto line = [&](const std::vector<std::string>& cells) {
        for (std::size_t i = 0; i < cells.size(); ++i) out += (i ? "," : "") + CsvField(cells[i]);
        out += kCrLf;
    };
    out += kCrLf;
    line({Text(StringId::RES_LEDGER_OVERLAPS)});
    line({Text(StringId::RES_LEDGER_COL_OVERLAP_A), Text(StringId::RES_LEDGER_COL_OVERLAP_B),
          Text(StringId::RES_LEDGER_COL_OVERLAP_M2), Text(StringId::RES_LEDGER_COL_OVERLAP_MU),
          Text(StringId::RES_LEDGER_COL_OVERLAP_SHARE),
          Text(StringId::RES_LEDGER_COL_OVERLAP_TWICE)});
    for (const LedgerOverlap& o : ledger.overlaps)
        line({ledger.rows[o.a].fileText, ledger.rows[o.b].fileText,
              FixedText(o.overlap_m2, kAreaM2Decimals),
              FixedText(o.overlap_m2 / geo::kSquareMetresPerMu, kAreaMuDecimals),
              FixedText(o.shareOfSmaller * kPercent, kShareDecimals),
              OverlapTwiceText(o)});
    return out;
}

std::string LedgerTextTable(const Ledger& ledger, const std::vector<LedgerColumn>& wanted) {
    std::vector<LedgerColumn> cols = wanted;
    if (cols.empty())
        cols = {LedgerColumn::kFile,   LedgerColumn::kMethod,      LedgerColumn::kCollected,
                LedgerColumn::kPoints, LedgerColumn::kLength,      LedgerColumn::kArea,
                LedgerColumn::kAreaMu, LedgerColumn::kLengthTotal, LedgerColumn::kAreaTotal,
                LedgerColumn::kError};
    std::vector<std::vector<Cell>> lines;
    std::vector<Cell> head;
    for (auto c : cols) head.push_back(Cell{ColumnTitle(c), std::nullopt});
    lines.push_back(head);
    for (const LedgerRow& r : ledger.rows) {
        std::vector<Cell> l;
        for (auto c : cols) l.push_back(CellOf(r, c));
        lines.push_back(std::move(l));
    }
    std::vector<Cell> tot;
    for (auto c : cols) tot.push_back(TotalsCell(ledger.totals, c));
    lines.push_back(tot);

    std::vector<std::size_t> width(cols.size(), 0);
    for (const auto& l : lines)
        for (std::size_t i = 0; i < cols.size(); ++i)
            width[i] = std::max(width[i], DisplayWidth(l[i].text));
    std::string out;
    auto put = [&](const std::vector<Cell>& l) {
        std::string line;
        for (std::size_t i = 0; i < cols.size(); ++i) {
            const std::string pad(width[i] - DisplayWidth(l[i].text), ' ');
            if (i) line += "  ";
            line += IsNumericColumn(cols[i]) ? pad + l[i].text : l[i].text + pad;
        }
        while (!line.empty() && line.back() == ' ') line.pop_back();
        out += line + "\n";
    };
    for (std::size_t i = 0; i + 1 < lines.size(); ++i) put(lines[i]);
    std::size_t total = 0;
    for (auto w : width) total += w + 2;
    out += std::string(total > 2 ? total - 2 : 0, '-') + "\n";
    put(lines.back());
    return out;
}

}  // namespace dorvane::report
