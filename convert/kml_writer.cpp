#include "convert/kml_writer.h"

#include "convert/xml_text.h"
#include "names/encoding.h"

namespace dorvane {
namespace {

constexpr std::string_view kEol = "\r\n";
constexpr int kCoordDecimals = 6;
constexpr int kUnitPriceDecimals = 2;
constexpr int kTotalDecimals = 1;
constexpr int kWidthDecimals = 1;
/// Text length of one coordinate triple, used to size the coordinates line.
constexpr std::size_t kCoordReserve = 40;

constexpr std::string_view kXmlDeclaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";
/// Namespace published for KML 2.1.
constexpr std::string_view kKmlStartTag = "<kml xmlns=\"http://earth.google.com/kml/2.1\">";
/// The one style of the document; its id is "Area-Style-" + this number.
constexpr int kStyleNumber = 0;
/// Line colour ff00aaff and polygon colour 7300ff62 (aabbggrr), width 3.
constexpr unsigned kLineColor = 43775;
constexpr unsigned kPolyColor = 65378;
constexpr int kLineWidth = 3;

std::string Hex6(unsigned v) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string s(6, '0');
    for (int i = 5; i >= 0; --i, v >>= 4) s[static_cast<std::size_t>(i)] = kDigits[v & 0xF];
    return s;
}

void Line(std::string& out, int tabs, std::string_view text) {
    out.append(static_cast<std::size_t>(tabs), '\t');
    out += text;
    out += kEol;
}

void DataEntry(std::string& out, std::string_view label, std::string_view value) {
    out += "\t\t\t<Data name=\"";
    AppendXmlEscaped(out, label);
    out += "\">";
    out += kEol;
    out += "\t\t\t\t<value>";
    AppendXmlEscaped(out, value);
    out += "</value>";
    out += kEol;
    Line(out, 3, "</Data>");
}

std::string TimeOrBlank(std::int32_t t, bool zeroIsBlank) {
    if (zeroIsBlank && t == 0) return std::string(kNoTimeText);
    return KmlTimeText(t).value_or(std::string(kNoTimeText));
}

}  // namespace

std::string MethodLabel(std::int16_t method) {
    switch (static_cast<AreaMethod>(method)) {
        case AreaMethod::kTrack:
            return std::string(kMethodTrack);
        case AreaMethod::kVertex:
            return std::string(kMethodVertex);
        case AreaMethod::kHarvesting:
            return std::string(kMethodHarvesting);
    }
    return std::to_string(method);
}

std::string KmlDocument(const AreaFile& area, std::string_view nameUtf8, const AreaMeasure& m) {
    const AreaHeader& h = area.header;
    const bool harvesting = h.method == static_cast<std::int16_t>(AreaMethod::kHarvesting);
    const AreaFigures f = ShowFigures(h, m);

    std::string out;
    out.reserve(4096 + area.points.size() * kCoordReserve);
    Line(out, 0, kXmlDeclaration);
    Line(out, 0, kKmlStartTag);
    Line(out, 0, "<Document>");
    Line(out, 1, "<Placemark>");
    out += "\t\t<name>";
    AppendXmlEscaped(out, nameUtf8);
    out += "</name>";
    out += kEol;
    Line(out, 2, "<styleUrl>#Area-Style-" + std::to_string(kStyleNumber) + "</styleUrl>");
    Line(out, 2, "<ExtendedData>");

    DataEntry(out, kml_label::kFileName, GbkToUtf8Lossy(h.FileNameGbk()));
    DataEntry(out, kml_label::kLengthUnitPrice,
              FixedText(static_cast<double>(h.lengthUnitPrice), kUnitPriceDecimals));
    DataEntry(out, harvesting ? kml_label::kLength : kml_label::kPerimeter, f.lengthText);
    DataEntry(out, harvesting ? kml_label::kLengthTotal : kml_label::kPerimeterTotal,
              FixedText(f.lengthTotal, kTotalDecimals));
    DataEntry(out, kml_label::kAreaUnitPrice,
              FixedText(static_cast<double>(h.areaUnitPrice), kUnitPriceDecimals));
    DataEntry(out, kml_label::kArea, f.areaText);
    DataEntry(out, kml_label::kAreaTotal, FixedText(f.areaTotal, kTotalDecimals));
    if (area.work) {
        DataEntry(out, kml_label::kStartTime, TimeOrBlank(area.work->startTime, true));
        DataEntry(out, kml_label::kFinishTime, TimeOrBlank(area.work->finishTime, true));
    } else {
        DataEntry(out, kml_label::kCollectionTime, TimeOrBlank(h.collectionTime, false));
    }
    DataEntry(out, kml_label::kMethod, MethodLabel(h.method));
    if (harvesting && area.work)
        DataEntry(out, kml_label::kWidth,
                  FixedText(static_cast<double>(area.work->width), kWidthDecimals));

    Line(out, 2, "</ExtendedData>");
    Line(out, 2, "<Polygon>");
    Line(out, 3, "<outerBoundaryIs>");
    Line(out, 4, "<LinearRing>");
    out += "\t\t\t\t\t<coordinates>";
    for (const AreaPoint& p : area.points) {
        AppendFixed(out, static_cast<double>(p.longitude), kCoordDecimals);
        out.push_back(',');
        AppendFixed(out, static_cast<double>(p.latitude), kCoordDecimals);
        out.push_back(',');
        AppendFixed(out, static_cast<double>(p.altitude), kCoordDecimals);
        out.push_back(' ');
    }
    out += "</coordinates>";
    out += kEol;
    Line(out, 4, "</LinearRing>");
    Line(out, 3, "</outerBoundaryIs>");
    Line(out, 2, "</Polygon>");
    Line(out, 1, "</Placemark>");
    Line(out, 1, "<Style id=\"Area-Style-" + std::to_string(kStyleNumber) + "\">");
    Line(out, 2, "<LineStyle>");
    Line(out, 3, "<color>ff" + Hex6(kLineColor) + "</color>");
    Line(out, 3, "<width>" + std::to_string(kLineWidth) + "</width>");
    Line(out, 2, "</LineStyle>");
    Line(out, 2, "<PolyStyle>");
    Line(out, 3, "<color>73" + Hex6(kPolyColor) + "</color>");
    Line(out, 2, "</PolyStyle>");
    Line(out, 1, "</Style>");
    Line(out, 0, "</Document>");
    Line(out, 0, "</kml>");
    return out;
}

}  // namespace dorvane
