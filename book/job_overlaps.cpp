#include "book/job_overlaps.h"

#include <ogr_geometry.h>

#include <algorithm>
#include <map>
#include <memory>
#include <set>

#include "geo/overlaps.h"

namespace dorvane::book {

namespace {

// GeoPackage geometry blob header (GeoPackage 1.3, 2.1.3): "GP", version,
// flags, srs_id (4 bytes), then an envelope whose size the flags' bits 1-3 give.
constexpr std::size_t kGpkgHeaderBytes = 8;
constexpr std::size_t kGpkgEnvelopeBytes[] = {0, 32, 48, 48, 64};

std::vector<geo::GeoPoint> Ring(const OGRLinearRing& ring) {
    std::vector<geo::GeoPoint> pts;
    pts.reserve(static_cast<std::size_t>(ring.getNumPoints()));
    for (int i = 0; i < ring.getNumPoints(); ++i) pts.push_back({ring.getX(i), ring.getY(i)});
    // The stored ring is closed; a field's boundary is held open.
    if (pts.size() >= 2 && pts.front().lon == pts.back().lon && pts.front().lat == pts.back().lat) pts.pop_back();
    return pts;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::vector<Job> Merged(std::vector<Job> a, const std::vector<Job>& b) {
    std::set<JobId> seen;
    for (const Job& j : a) seen.insert(j.id);
    for (const Job& j : b)
        if (seen.insert(j.id).second) a.push_back(j);
    return a;
}

BookStatus Overlaps(BookStore& store, const std::vector<Job>& jobs, std::vector<JobOverlap>& out) {
    out.clear();
    std::vector<JobId> fields;
    for (const Job& j : jobs)
        if (j.shape == JobShape::kField) fields.push_back(j.id);
    std::vector<JobOutline> outlines;
    if (auto st = store.GetFieldOutlines(fields, outlines); !st.ok()) return st;
    std::map<JobId, const geo::FieldFile*> byId;
    for (const JobOutline& o : outlines) byId[o.id] = &o.outline;
    std::vector<const geo::FieldFile*> shapes;
    shapes.reserve(jobs.size());
    for (const Job& j : jobs) {
        const auto it = byId.find(j.id);
        shapes.push_back(it == byId.end() ? nullptr : it->second);
    }
    for (const geo::Overlap& o : geo::FindOverlaps(shapes))
        out.push_back({jobs[o.a], jobs[o.b], o.overlap_m2, o.shareOfSmaller, o.measuredTwice});
    return {};
}

}  // namespace

bool OutlineOfWkb(std::span<const std::uint8_t> wkb, geo::FieldFile& out) {
    OGRGeometry* g = nullptr;
    if (OGRGeometryFactory::createFromWkb(wkb.data(), nullptr, &g, wkb.size()) != OGRERR_NONE || !g) return false;
    const std::unique_ptr<OGRGeometry> owned(g);
    if (wkbFlatten(g->getGeometryType()) != wkbPolygon) return false;
    const auto* poly = g->toPolygon();
    if (!poly->getExteriorRing()) return false;
    out = geo::FieldFile{};
    out.kind = geo::FieldKind::kArea;
    out.points = Ring(*poly->getExteriorRing());
    for (int i = 0; i < poly->getNumInteriorRings(); ++i) out.holes.push_back(Ring(*poly->getInteriorRing(i)));
    return true;
}

bool OutlineOfGpkgBlob(std::span<const std::uint8_t> blob, geo::FieldFile& out) {
    if (blob.size() < kGpkgHeaderBytes || blob[0] != 'G' || blob[1] != 'P') return false;
    const unsigned envelope = (blob[3] >> 1) & 0x7;
    if (envelope >= std::size(kGpkgEnvelopeBytes)) return false;
    const std::size_t start = kGpkgHeaderBytes + kGpkgEnvelopeBytes[envelope];
    if (blob.size() <= start) return false;
    return OutlineOfWkb(blob.subspan(start), out);
}

bool OutlineOfWkbHex(std::string_view hex, geo::FieldFile& out) {
    if (hex.size() % 2 != 0) return false;
    std::vector<std::uint8_t> wkb(hex.size() / 2);
    for (std::size_t i = 0; i < wkb.size(); ++i) {
        const int hi = HexDigit(hex[2 * i]), lo = HexDigit(hex[2 * i + 1]);
        if (hi < 0 || lo < 0) return false;
        wkb[i] = static_cast<std::uint8_t>(hi * 16 + lo);
    }
    return OutlineOfWkb(wkb, out);
}

BookStatus FindJobOverlaps(BookStore& store, const JobFilter& filter, std::vector<JobOverlap>& out) {
    out.clear();
    std::vector<Job> jobs;
    if (auto st = store.ListJobs(filter, jobs); !st.ok()) return st;
    return Overlaps(store, jobs, out);
}

BookStatus MeasuredTwiceInBill(BookStore& store, std::span<const JobId> billing, std::vector<JobOverlap>& out) {
    out.clear();
    if (billing.empty()) return {};
    std::vector<Job> jobs, billed, paid;
    JobFilter f;
    f.ids.assign(billing.begin(), billing.end());
    if (auto st = store.ListJobs(f, jobs); !st.ok()) return st;
    JobFilter onBill;
    onBill.status = JobStatus::kBilled;
    if (auto st = store.ListJobs(onBill, billed); !st.ok()) return st;
    onBill.status = JobStatus::kPaid;
    if (auto st = store.ListJobs(onBill, paid); !st.ok()) return st;
    jobs = Merged(Merged(std::move(jobs), billed), paid);
    std::sort(jobs.begin(), jobs.end(), [](const Job& x, const Job& y) { return x.id < y.id; });
    std::vector<JobOverlap> all;
    if (auto st = Overlaps(store, jobs, all); !st.ok()) return st;
    const std::set<JobId> inBill(billing.begin(), billing.end());
    for (JobOverlap& o : all)
        if (o.measuredTwice && (inBill.count(o.a.id) || inBill.count(o.b.id))) out.push_back(std::move(o));
    return {};
}

}  // namespace dorvane::book
