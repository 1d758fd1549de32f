#include "geo/field_file.h"

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <charconv>
#include <climits>
#include <cmath>
#include <ctime>
#include <memory>
#include <mutex>

#include "convert/download.h"
#include "convert/kml_writer.h"
#include "convert/track_file.h"
#include "geo/land_text.h"
#include "names/encoding.h"

namespace dorvane::geo {
namespace {

constexpr double kMaxLatitude = 90.0;
constexpr double kMaxLongitude = 180.0;
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
/// The GPX and KML writers keep six decimals of a degree: a point read back
/// lies within half a millionth of a degree of the float it was written from
/// (a little more for the float's own digits).
constexpr double kWriterRounding = 1e-6;

ReadResult Fail(ReadError e, std::string message) {
    return {e, std::move(message)};
}

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsSpace(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsSpace(s.back())) s.remove_suffix(1);
    return s;
}

std::optional<double> ParseNumber(std::string_view s) {
    s = Trim(s);
    if (!s.empty() && s.front() == '+') s.remove_prefix(1);
    double v = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc() || end != s.data() + s.size() || s.empty()) return std::nullopt;
    return v;
}

// ---- XML helpers (libxml2 tree; names matched without namespace) ----

struct DocFree {
    void operator()(xmlDoc* d) const { xmlFreeDoc(d); }
};
struct CtxtFree {
    void operator()(xmlParserCtxt* c) const { xmlFreeParserCtxt(c); }
};

bool Is(const xmlNode* n, std::string_view localName) {
    return n->type == XML_ELEMENT_NODE &&
           std::string_view(reinterpret_cast<const char*>(n->name)) == localName;
}

// The concatenated text and CDATA directly inside `n`.
std::string TextOf(const xmlNode* n) {
    std::string out;
    for (const xmlNode* c = n->children; c; c = c->next)
        if ((c->type == XML_TEXT_NODE || c->type == XML_CDATA_SECTION_NODE) && c->content)
            out += reinterpret_cast<const char*>(c->content);
    return out;
}

const xmlNode* Child(const xmlNode* n, std::string_view localName) {
    for (const xmlNode* c = n->children; c; c = c->next)
        if (Is(c, localName)) return c;
    return nullptr;
}

std::optional<std::string> ChildText(const xmlNode* n, std::string_view localName) {
    const xmlNode* c = Child(n, localName);
    if (!c) return std::nullopt;
    return std::string(Trim(TextOf(c)));
}

std::optional<std::string_view> Attr(const xmlNode* n, std::string_view name) {
    for (const xmlAttr* a = n->properties; a; a = a->next) {
        if (std::string_view(reinterpret_cast<const char*>(a->name)) != name) continue;
        if (a->children && a->children->type == XML_TEXT_NODE && a->children->content)
            return std::string_view(reinterpret_cast<const char*>(a->children->content));
        return std::string_view();
    }
    return std::nullopt;
}

long LineOf(const xmlNode* n) {
    return static_cast<long>(xmlGetLineNo(n));
}

// ---- GPX ----

struct Collector {
    FieldFile& out;
    std::string error;  // first malformed point, with its line

    void StartSegment() {
        if (out.segmentStarts.empty() || out.segmentStarts.back() != out.points.size())
            out.segmentStarts.push_back(out.points.size());
    }
};

bool ReadGpxPoint(const xmlNode* pt, Collector& c) {
    const auto lat = Attr(pt, "lat");
    const auto lon = Attr(pt, "lon");
    const auto la = lat ? ParseNumber(*lat) : std::nullopt;
    const auto lo = lon ? ParseNumber(*lon) : std::nullopt;
    if (!la || !lo) {
        c.error = "line " + std::to_string(LineOf(pt)) + ": point without a valid lat/lon";
        return false;
    }
    GeoPoint p;
    p.lat = *la;
    p.lon = *lo;
    for (const xmlNode* ch = pt->children; ch; ch = ch->next) {
        if (Is(ch, "ele")) {
            if (const auto e = ParseNumber(TextOf(ch))) {
                p.ele = *e;
                p.hasEle = true;
            }
        } else if (Is(ch, "time")) {
            if (const auto t = ParseIsoTime(Trim(TextOf(ch)))) {
                p.time = *t;
                p.hasTime = true;
            }
        }
    }
    c.out.points.push_back(p);
    return true;
}

// Reads the <trk> elements (`routes` false) or the <rte> elements (true) of a GPX document.
bool ReadGpxLines(const xmlNode* root, bool routes, Collector& c, std::optional<std::string>& name) {
    for (const xmlNode* n = root->children; n; n = n->next) {
        if (!(routes ? Is(n, "rte") : Is(n, "trk"))) continue;
        if (!name) name = ChildText(n, "name");
        if (routes) c.StartSegment();
        for (const xmlNode* s = n->children; s; s = s->next) {
            if (routes && Is(s, "rtept")) {
                if (!ReadGpxPoint(s, c)) return false;
            } else if (!routes && Is(s, "trkseg")) {
                c.StartSegment();
                for (const xmlNode* p = s->children; p; p = p->next)
                    if (Is(p, "trkpt") && !ReadGpxPoint(p, c)) return false;
            }
        }
    }
    return true;
}

ReadResult ReadGpx(const xmlNode* root, std::string_view nameHint, FieldFile& out) {
    out.kind = FieldKind::kTrack;
    out.format = FieldFormat::kGpx;
    Collector c{out, {}};
    std::optional<std::string> name;
    // What was walked is the recorded track; a route is the plan made before it (other
    // programs write both into one file), measured only when nothing was recorded.
    if (!ReadGpxLines(root, false, c, name)) return Fail(ReadError::kBadCoordinates, c.error);
    if (out.points.empty()) {
        out.segmentStarts.clear();
        name.reset();
        if (!ReadGpxLines(root, true, c, name)) return Fail(ReadError::kBadCoordinates, c.error);
    }
    // An empty last segment leaves a start index at the end: drop it.
    while (!out.segmentStarts.empty() && out.segmentStarts.back() == out.points.size())
        out.segmentStarts.pop_back();
    if (out.points.empty())
        return Fail(ReadError::kNoShapes, "no track or field in the GPX file (waypoints alone measure nothing)");
    if (!name || name->empty()) {
        if (const xmlNode* md = Child(root, "metadata")) name = ChildText(md, "name");
        if (!name || name->empty()) name = ChildText(root, "name");
    }
    out.name = (name && !name->empty()) ? *name : std::string(nameHint);
    return {};
}

// ---- KML ----

// Appends the "lon,lat[,alt]" tuples of a coordinates text; whitespace after
// commas is tolerated, as some writers put it there.
bool ParseCoordinates(std::string_view s, std::vector<GeoPoint>& pts) {
    std::size_t i = 0;
    auto skipSpace = [&] {
        while (i < s.size() && IsSpace(s[i])) ++i;
    };
    auto number = [&](double& v) {
        skipSpace();
        std::size_t j = i;
        while (j < s.size() && !IsSpace(s[j]) && s[j] != ',') ++j;
        const auto n = ParseNumber(s.substr(i, j - i));
        if (!n) return false;
        v = *n;
        i = j;
        return true;
    };
    auto comma = [&] {
        std::size_t j = i;
        while (j < s.size() && IsSpace(s[j])) ++j;
        if (j < s.size() && s[j] == ',') {
            i = j + 1;
            return true;
        }
        return false;
    };
    for (;;) {
        skipSpace();
        if (i >= s.size()) return true;
        GeoPoint p;
        if (!number(p.lon) || !comma() || !number(p.lat)) return false;
        if (comma()) {
            if (!number(p.ele)) return false;
            p.hasEle = true;
        }
        pts.push_back(p);
    }
}

struct KmlState {
    FieldFile& out;
    bool havePolygon = false;
    std::vector<GeoPoint> polygon;
    const xmlNode* polygonPlacemark = nullptr;
    const xmlNode* firstLinePlacemark = nullptr;
    std::size_t lines = 0;
    std::size_t polygons = 0;
    std::string error;
};

// True when `pts` repeats the last segment point for point: some writers give one track
// both as a LineString and as a gx:Track (or in two placemarks), which read twice would
// double its length.
bool RepeatsLastSegment(const std::vector<GeoPoint>& pts, const KmlState& st) {
    if (st.out.segmentStarts.empty()) return false;
    const std::size_t start = st.out.segmentStarts.back();
    if (st.out.points.size() - start != pts.size()) return false;
    for (std::size_t i = 0; i < pts.size(); ++i) {
        const GeoPoint& q = st.out.points[start + i];
        if (q.lat != pts[i].lat || q.lon != pts[i].lon) return false;
    }
    return true;
}

// Appends a line of a placemark as one more segment of the track (an empty one, or one that
// repeats the last segment, adds nothing).
void AddLine(const std::vector<GeoPoint>& pts, const xmlNode* placemark, KmlState& st) {
    if (pts.empty() || RepeatsLastSegment(pts, st)) return;
    ++st.lines;
    if (!st.firstLinePlacemark) st.firstLinePlacemark = placemark;
    st.out.segmentStarts.push_back(st.out.points.size());
    st.out.points.insert(st.out.points.end(), pts.begin(), pts.end());
}

bool ReadLineString(const xmlNode* ls, const xmlNode* placemark, KmlState& st) {
    const xmlNode* co = Child(ls, "coordinates");
    if (!co) return true;
    std::vector<GeoPoint> pts;
    if (!ParseCoordinates(TextOf(co), pts)) {
        st.error = "line " + std::to_string(LineOf(co)) + ": coordinates are not lon,lat[,alt]";
        return false;
    }
    AddLine(pts, placemark, st);
    return true;
}

// gx:Track: "when" elements and "gx:coord" ("lon lat alt") elements, paired in order.
bool ReadGxTrack(const xmlNode* tr, const xmlNode* placemark, KmlState& st) {
    std::vector<GeoPoint> pts;
    std::vector<std::optional<double>> whens;
    for (const xmlNode* c = tr->children; c; c = c->next) {
        if (Is(c, "when")) {
            whens.push_back(ParseIsoTime(Trim(TextOf(c))));
        } else if (Is(c, "coord")) {
            const std::string text = TextOf(c);
            std::string_view s = Trim(text);
            double v[3] = {0, 0, 0};
            int k = 0;
            while (!s.empty() && k < 3) {
                std::size_t j = 0;
                while (j < s.size() && !IsSpace(s[j])) ++j;
                const auto n = ParseNumber(s.substr(0, j));
                if (!n) break;
                v[k++] = *n;
                s = Trim(s.substr(j));
            }
            if (k < 2 || !s.empty()) {
                st.error =
                    "line " + std::to_string(LineOf(c)) + ": gx:coord is not \"lon lat alt\"";
                return false;
            }
            GeoPoint p;
            p.lon = v[0];
            p.lat = v[1];
            p.ele = v[2];
            p.hasEle = k == 3;
            pts.push_back(p);
        }
    }
    for (std::size_t i = 0; i < pts.size() && i < whens.size(); ++i)
        if (whens[i]) {
            pts[i].time = *whens[i];
            pts[i].hasTime = true;
        }
    AddLine(pts, placemark, st);
    return true;
}

bool ReadPolygon(const xmlNode* poly, const xmlNode* placemark, KmlState& st) {
    ++st.polygons;
    if (st.havePolygon) return true;
    const xmlNode* outer = Child(poly, "outerBoundaryIs");
    const xmlNode* ring = outer ? Child(outer, "LinearRing") : nullptr;
    const xmlNode* co = ring ? Child(ring, "coordinates") : nullptr;
    if (!co) return true;
    if (!ParseCoordinates(TextOf(co), st.polygon)) {
        st.error = "line " + std::to_string(LineOf(co)) + ": coordinates are not lon,lat[,alt]";
        return false;
    }
    st.havePolygon = true;
    st.polygonPlacemark = placemark;
    return true;
}

bool WalkKml(const xmlNode* n, const xmlNode* placemark, KmlState& st) {
    for (const xmlNode* c = n->children; c; c = c->next) {
        if (c->type != XML_ELEMENT_NODE) continue;
        if (Is(c, "Placemark")) {
            if (!WalkKml(c, c, st)) return false;
        } else if (Is(c, "Polygon")) {
            if (!ReadPolygon(c, placemark, st)) return false;
        } else if (Is(c, "LineString")) {
            if (!ReadLineString(c, placemark, st)) return false;
        } else if (Is(c, "Track")) {
            if (!ReadGxTrack(c, placemark, st)) return false;
        } else if (!Is(c, "ExtendedData") && !Is(c, "Style") && !Is(c, "StyleMap")) {
            if (!WalkKml(c, placemark, st)) return false;
        }
    }
    return true;
}

std::optional<std::int16_t> MethodFromLabel(std::string_view label) {
    for (std::int16_t m = 0; m <= 2; ++m)
        if (label == MethodLabel(m)) return m;
    if (const auto n = ParseNumber(label); n && *n >= INT16_MIN && *n <= INT16_MAX)
        return static_cast<std::int16_t>(*n);
    return std::nullopt;
}

// A number as the KML shows it. The Windows program formatted through the
// user's locale, so "0,08" is read as 0.08 (a single comma and no point).
std::optional<double> ParseShownNumber(std::string_view s) {
    if (const auto n = ParseNumber(s)) return n;
    const std::size_t comma = s.find(',');
    if (comma == std::string_view::npos || s.find(',', comma + 1) != std::string_view::npos ||
        s.find('.') != std::string_view::npos)
        return std::nullopt;
    std::string dotted(s);
    dotted[comma] = '.';
    return ParseNumber(dotted);
}

// A time as the KML writer shows it: "%d-%d-%d %d:%d" in the local time of
// the computer that wrote it; nullopt for "_______" (not recorded) or any
// other text.
std::optional<std::int64_t> ParseShownTime(std::string_view s) {
    int v[5] = {0, 0, 0, 0, 0};
    constexpr char kSeparators[] = {'-', '-', ' ', ':'};
    std::size_t i = 0;
    for (int k = 0; k < 5; ++k) {
        if (k > 0) {
            if (i >= s.size() || s[i] != kSeparators[k - 1]) return std::nullopt;
            ++i;
        }
        const std::size_t from = i;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9' && i - from < 4)
            v[k] = v[k] * 10 + (s[i++] - '0');
        if (i == from) return std::nullopt;
    }
    if (i != s.size() || v[1] < 1 || v[1] > 12 || v[2] < 1 || v[2] > 31 || v[3] > 23 || v[4] > 59)
        return std::nullopt;
    std::tm tm{};
    tm.tm_year = v[0] - 1900;
    tm.tm_mon = v[1] - 1;
    tm.tm_mday = v[2];
    tm.tm_hour = v[3];
    tm.tm_min = v[4];
    tm.tm_isdst = -1;
    const std::time_t t = std::mktime(&tm);
    if (t == static_cast<std::time_t>(-1)) return std::nullopt;
    return static_cast<std::int64_t>(t);
}

// The measurement entries of a placemark written by the KML writer;
// `fieldName` gets the field's own name ("文件名"; the placemark is named
// after the file).
void ReadExtendedData(const xmlNode* placemark, HandheldRecord& h, std::string& fieldName) {
    const xmlNode* ed = placemark ? Child(placemark, "ExtendedData") : nullptr;
    if (!ed) return;
    for (const xmlNode* d = ed->children; d; d = d->next) {
        if (!Is(d, "Data")) continue;
        const auto label = Attr(d, "name");
        const auto value = ChildText(d, "value");
        if (!label || !value) continue;
        const auto number = ParseShownNumber(*value);
        if (*label == kml_label::kMethod) {
            h.method = MethodFromLabel(*value);
        } else if (*label == kml_label::kFileName) {
            fieldName = *value;
        } else if (*label == kml_label::kLengthUnitPrice && number) {
            h.lengthUnitPrice = static_cast<float>(*number);
        } else if (*label == kml_label::kAreaUnitPrice && number) {
            h.areaUnitPrice = static_cast<float>(*number);
        } else if (*label == kml_label::kWidth && number) {
            h.workWidth = *number;
        } else if ((*label == kml_label::kPerimeterTotal || *label == kml_label::kLengthTotal) &&
                   number) {
            h.lengthTotal = *number;
        } else if (*label == kml_label::kAreaTotal && number) {
            h.areaTotal = *number;
        } else if (*label == kml_label::kPerimeter || *label == kml_label::kLength) {
            h.lengthText = *value;
        } else if (*label == kml_label::kArea) {
            h.areaText = *value;
        } else if (*label == kml_label::kCollectionTime) {
            h.collectionTime = ParseShownTime(*value);
        } else if (*label == kml_label::kStartTime) {
            h.startTime = ParseShownTime(*value);
        } else if (*label == kml_label::kFinishTime) {
            h.finishTime = ParseShownTime(*value);
        }
    }
}

ReadResult ReadKml(const xmlNode* root, std::string_view nameHint, FieldFile& out) {
    out.format = FieldFormat::kKml;
    KmlState st{out, false, {}, nullptr, nullptr, 0, 0, {}};
    if (!WalkKml(root, nullptr, st)) return Fail(ReadError::kBadCoordinates, st.error);
    const xmlNode* named = nullptr;
    std::string fieldName;
    if (st.havePolygon) {
        out.kind = FieldKind::kArea;
        out.points = std::move(st.polygon);
        out.segmentStarts.clear();
        out.shapesIgnored = st.polygons - 1 + st.lines;
        ReadExtendedData(st.polygonPlacemark, out.handheld, fieldName);
        named = st.polygonPlacemark;
    } else if (!out.points.empty()) {
        out.kind = FieldKind::kTrack;
        named = st.firstLinePlacemark;
    } else {
        return Fail(ReadError::kNoShapes, "no polygon, line or track in the KML file");
    }
    // A KML written on download names its placemark after the file; the
    // field's own name is its "文件名" entry.
    std::optional<std::string> name =
        !fieldName.empty() ? fieldName : named ? ChildText(named, "name") : std::nullopt;
    if (!name || name->empty())
        if (const xmlNode* doc = Child(root, "Document")) name = ChildText(doc, "name");
    out.name = (name && !name->empty()) ? *name : std::string(nameHint);
    return {};
}

ReadResult ReadXml(std::span<const std::uint8_t> bytes, std::string_view nameHint, FieldFile& out) {
    static std::once_flag init;
    std::call_once(init, [] { xmlInitParser(); });
    if (bytes.size() > static_cast<std::size_t>(INT_MAX))
        return Fail(ReadError::kTooLarge, "too large for the XML parser");
    std::unique_ptr<xmlParserCtxt, CtxtFree> ctxt(xmlNewParserCtxt());
    if (!ctxt) return Fail(ReadError::kCannotRead, "out of memory for the XML parser");
    // No network, no entity substitution (no external entities), no error
    // printing to stderr; HUGE lifts the 10 MB text-node limit that one KML
    // coordinates line of a long track exceeds.
    const int options = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_HUGE;
    std::unique_ptr<xmlDoc, DocFree> doc(
        xmlCtxtReadMemory(ctxt.get(), reinterpret_cast<const char*>(bytes.data()),
                          static_cast<int>(bytes.size()), nullptr, nullptr, options));
    if (!doc) {
        const xmlError* e = xmlCtxtGetLastError(ctxt.get());
        const std::string why(e && e->message ? Trim(e->message)
                                              : std::string_view("not well-formed"));
        const int line = e ? e->line : 0;
        return Fail(ReadError::kXmlError, "line " + std::to_string(line) + ": " + why);
    }
    const xmlNode* root = xmlDocGetRootElement(doc.get());
    if (root && Is(root, "gpx")) return ReadGpx(root, nameHint, out);
    if (root && Is(root, "kml")) return ReadKml(root, nameHint, out);
    return Fail(ReadError::kNotRecognised, "XML, but neither GPX nor KML");
}

// ---- the handheld's files ----

ReadResult ReadHandheldTrack(std::span<const std::uint8_t> bytes, FieldFile& out) {
    std::vector<TrackPoint> pts;
    const TrackReadResult r = ReadTrack(bytes, pts);
    if (!r.ok()) return Fail(ReadError::kDamaged, "track header cut short");
    out.kind = FieldKind::kTrack;
    out.format = FieldFormat::kHandheldTrack;
    out.name = GbkToUtf8Lossy(r.nameGbk);
    out.points.reserve(pts.size());
    for (const TrackPoint& t : pts) {
        GeoPoint p;
        p.lat = t.latitude;
        p.lon = t.longitude;
        p.ele = t.elevation;
        p.hasEle = true;
        // As in the GPX writer: a negative time cannot be converted.
        p.hasTime = t.time >= 0;
        p.time = t.time;
        out.points.push_back(p);
    }
    if (!out.points.empty()) out.segmentStarts.push_back(0);
    return {};
}

ReadResult ReadHandheldArea(std::span<const std::uint8_t> bytes, FieldFile& out) {
    AreaFile area;
    const AreaReadResult r = ReadArea(bytes, area);
    if (r.error == AreaReadError::kDamagedHeader)
        return Fail(ReadError::kDamaged, "area header record fails its check");
    if (!r.ok()) return Fail(ReadError::kNotRecognised, {});
    out.kind = FieldKind::kArea;
    out.format = FieldFormat::kHandheldArea;
    out.name = GbkToUtf8Lossy(area.header.FileNameGbk());
    for (const AreaPoint& a : area.points) {
        GeoPoint p;
        p.lon = static_cast<double>(a.longitude);
        p.lat = static_cast<double>(a.latitude);
        p.ele = static_cast<double>(a.altitude);
        p.hasEle = true;
        out.points.push_back(p);
    }
    out.handheld.method = area.header.method;
    out.handheld.lengthUnitPrice = area.header.lengthUnitPrice;
    out.handheld.areaUnitPrice = area.header.areaUnitPrice;
    if (area.work) out.handheld.workWidth = static_cast<double>(area.work->width);
    out.damagedRecords = r.damagedRecords;
    out.handheld.area = std::move(area);
    return {};
}

bool LooksLikeXml(std::span<const std::uint8_t> bytes) {
    std::string_view s(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if (s.starts_with(kUtf8Bom)) s.remove_prefix(kUtf8Bom.size());
    s = Trim(s.substr(0, std::min<std::size_t>(s.size(), 4096)));
    return !s.empty() && s.front() == '<';
}

ReadResult CheckPoints(const FieldFile& f) {
    for (std::size_t i = 0; i < f.points.size(); ++i) {
        const GeoPoint& p = f.points[i];
        if (!std::isfinite(p.lat) || !std::isfinite(p.lon) || std::fabs(p.lat) > kMaxLatitude ||
            std::fabs(p.lon) > kMaxLongitude)
            return Fail(ReadError::kBadCoordinates,
                        "point " + std::to_string(i + 1) +
                            " lies outside latitude -90..90 / longitude -180..180");
    }
    return {};
}

}  // namespace

std::uintmax_t MaxFieldFileBytes() {
    return kMaxConvertInputBytes;
}

ReadResult ReadFieldBytes(std::span<const std::uint8_t> bytes, std::string_view nameHint,
                          FieldFile& out) {
    out = FieldFile{};
    if (bytes.empty()) return Fail(ReadError::kEmpty, {});
    FieldFile f;
    ReadResult r;
    if (HasTrackMagic(bytes))
        r = ReadHandheldTrack(bytes, f);
    else if (LooksLikeXml(bytes))
        r = ReadXml(bytes, nameHint, f);
    else if (land::LooksLikeLandText(bytes))
        r = land::ReadAsField(bytes, f);
    else
        r = ReadHandheldArea(bytes, f);
    if (r.ok()) r = CheckPoints(f);
    if (!r.ok()) return r;
    // A closed ring's repeated first point goes; a harvesting line is open
    // and keeps every point.
    if (f.kind == FieldKind::kArea &&
        f.handheld.method != static_cast<std::int16_t>(AreaMethod::kHarvesting) &&
        f.points.size() >= 2 && f.points.front().lon == f.points.back().lon &&
        f.points.front().lat == f.points.back().lat)
        f.points.pop_back();
    if (f.name.empty()) f.name = std::string(nameHint);
    out = std::move(f);
    return {};
}

ReadResult ReadFieldFile(const std::filesystem::path& path, FieldFile& out) {
    out = FieldFile{};
    std::vector<std::uint8_t> bytes;
    std::string message;
    switch (ReadInputFile(path, bytes, message)) {
        case ConvertError::kNone:
            break;
        case ConvertError::kTooLarge:
            return Fail(ReadError::kTooLarge, message);
        default:
            return Fail(ReadError::kCannotRead, message);
    }
    return ReadFieldBytes(bytes, path.filename().string(), out);
}

std::filesystem::path RawCopyPathOf(const std::filesystem::path& document) {
    return document.parent_path() / RawCopyName(document.filename().string());
}

bool SameMeasurement(const FieldFile& converted, const FieldFile& raw) {
    const bool xml = converted.format == FieldFormat::kKml || converted.format == FieldFormat::kGpx;
    const bool handheld =
        raw.format == FieldFormat::kHandheldArea || raw.format == FieldFormat::kHandheldTrack;
    if (!xml || !handheld || converted.kind != raw.kind) return false;
    if (converted.points.size() != raw.points.size()) return false;
    for (std::size_t i = 0; i < raw.points.size(); ++i) {
        const GeoPoint& a = converted.points[i];
        const GeoPoint& b = raw.points[i];
        if (std::fabs(a.lon - b.lon) > kWriterRounding || std::fabs(a.lat - b.lat) > kWriterRounding)
            return false;
    }
    return true;
}

std::optional<std::filesystem::path> ReadRawCopyBeside(const std::filesystem::path& document,
                                                       const FieldFile& converted, FieldFile& raw) {
    if (converted.format != FieldFormat::kKml && converted.format != FieldFormat::kGpx)
        return std::nullopt;
    const std::filesystem::path bak = RawCopyPathOf(document);
    if (bak == document) return std::nullopt;
    FieldFile f;
    if (!ReadFieldFile(bak, f).ok() || !SameMeasurement(converted, f)) return std::nullopt;
    raw = std::move(f);
    return bak;
}

std::string_view ReadErrorText(ReadError e) {
    switch (e) {
        case ReadError::kNone:
            return "no error";
        case ReadError::kCannotRead:
            return "cannot read the file";
        case ReadError::kTooLarge:
            return "file too large";
        case ReadError::kEmpty:
            return "empty file";
        case ReadError::kNotRecognised:
            return "not a track or field file";
        case ReadError::kDamaged:
            return "damaged header";
        case ReadError::kXmlError:
            return "XML error";
        case ReadError::kNoShapes:
            return "no track, route, line or polygon";
        case ReadError::kBadCoordinates:
            return "bad coordinates";
        case ReadError::kBadCrs:
            return "coordinate system cannot be converted to WGS84";
        case ReadError::kCancelled:
            return "reading stopped";
    }
    return "unknown error";
}

std::optional<double> ParseIsoTime(std::string_view s) {
    // YYYY-MM-DDTHH:MM:SS[.fff][Z|+hh:mm|-hh:mm]
    auto digits = [&](std::size_t pos, std::size_t n, int& v) {
        if (pos + n > s.size()) return false;
        v = 0;
        for (std::size_t i = pos; i < pos + n; ++i) {
            if (s[i] < '0' || s[i] > '9') return false;
            v = v * 10 + (s[i] - '0');
        }
        return true;
    };
    int y, mo, d, h, mi, se;
    if (!digits(0, 4, y) || s.size() < 19 || s[4] != '-' || !digits(5, 2, mo) || s[7] != '-' ||
        !digits(8, 2, d) || (s[10] != 'T' && s[10] != ' ') || !digits(11, 2, h) || s[13] != ':' ||
        !digits(14, 2, mi) || s[16] != ':' || !digits(17, 2, se))
        return std::nullopt;
    if (mo < 1 || mo > 12 || d < 1 || d > 31 || h > 24 || mi > 59 || se > 60) return std::nullopt;
    std::size_t i = 19;
    double frac = 0;
    if (i < s.size() && (s[i] == '.' || s[i] == ',')) {
        double scale = 0.1;
        for (++i; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i, scale /= 10)
            frac += (s[i] - '0') * scale;
    }
    int offset = 0;
    if (i < s.size()) {
        if (s[i] == 'Z' && i + 1 == s.size()) {
            // UTC
        } else if ((s[i] == '+' || s[i] == '-') && s.size() == i + 6 && s[i + 3] == ':') {
            int oh, om;
            if (!digits(i + 1, 2, oh) || !digits(i + 4, 2, om)) return std::nullopt;
            offset = (oh * 60 + om) * 60 * (s[i] == '-' ? -1 : 1);
        } else {
            return std::nullopt;
        }
    }
    std::tm tm{};
    tm.tm_year = y - 1900;
    tm.tm_mon = mo - 1;
    tm.tm_mday = d;
    tm.tm_hour = h;
    tm.tm_min = mi;
    tm.tm_sec = se;
    const std::time_t t = timegm(&tm);
    return static_cast<double>(t) - offset + frac;
}

}  // namespace dorvane::geo
