#include "convert/gpx_writer.h"

#include "convert/xml_text.h"

namespace dorvane {
namespace {

constexpr std::string_view kEol = "\r\n";
constexpr int kDecimals = 6;
/// Pieces handed to the sink are cut once the buffer passes this size.
constexpr std::size_t kFlushBytes = 64 * 1024;
/// Longest text of one point (two coordinates, elevation, time and tags,
/// with doubles up to 316 characters each) stays well below this.
constexpr std::size_t kPointReserve = 1200;

constexpr std::string_view kXmlDeclaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";
// Namespaces and schemas published for GPX 1.1, its style and overlay
// extensions, and its publisher's private extension.
constexpr std::string_view kGpxStartTag =
    "<gpx xmlns=\"http://www.topografix.com/GPX/1/1\" version=\"1.1\" "
    "creator=\"Quenmark Plotwise\" xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
    "xsi:schemaLocation=\"http://www.topografix.com/GPX/1/1 "
    "http://www.topografix.com/GPX/1/1/gpx.xsd "
    "http://www.topografix.com/GPX/gpx_style/0/2 "
    "http://www.topografix.com/GPX/gpx_style/0/2/gpx_style.xsd "
    "http://www.topografix.com/GPX/gpx_overlay/0/2 "
    "http://www.topografix.com/GPX/gpx_overlay/0/2/gpx_overlay.xsd "
    "http://www.topografix.com/GPX/Private/TopoGrafix/0/3 "
    "http://www.topografix.com/GPX/Private/TopoGrafix/0/3/topografix.xsd\">";

void Line(std::string& out, std::string_view text) {
    out += text;
    out += kEol;
}

}  // namespace

bool EmitGpx(std::string_view nameUtf8, std::span<const TrackPoint> points, const TextSink& sink) {
    std::string buf;
    buf.reserve(kFlushBytes + kPointReserve + nameUtf8.size() * 6);
    Line(buf, kXmlDeclaration);
    Line(buf, kGpxStartTag);
    buf += kEol;
    if (!points.empty()) {
        Line(buf, "<trk>");
        buf += "<name>";
        AppendXmlEscaped(buf, nameUtf8);
        Line(buf, "</name>");
        Line(buf, "<trkseg>");
        for (const TrackPoint& p : points) {
            buf += "<trkpt lat=\"";
            AppendFixed(buf, p.latitude, kDecimals);
            buf += "\" lon=\"";
            AppendFixed(buf, p.longitude, kDecimals);
            buf += "\">\r\n<ele>";
            AppendFixed(buf, p.elevation, kDecimals);
            buf += "</ele>\r\n";
            buf += "<time>";
            if (AppendGpxTime(buf, p.time))
                buf += "</time>\r\n";
            else
                buf.resize(buf.size() - std::string_view("<time>").size());
            Line(buf, "</trkpt>");
            if (buf.size() >= kFlushBytes) {
                if (!sink(buf)) return false;
                buf.clear();
            }
        }
        Line(buf, "</trkseg>");
        Line(buf, "</trk>");
    }
    Line(buf, "</gpx>");
    return sink(buf);
}

std::string GpxDocument(std::string_view nameUtf8, std::span<const TrackPoint> points) {
    std::string doc;
    EmitGpx(nameUtf8, points, [&](std::string_view piece) {
        doc += piece;
        return true;
    });
    return doc;
}

}  // namespace dorvane
