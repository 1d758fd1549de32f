#include "report/ledger.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <ctime>
#include <optional>
#include <set>
#include <string_view>
#include <system_error>
#include <unordered_map>

#include "convert/download.h"
#include "geo/ogr_reader.h"
#include "geo/overlaps.h"
#include "names/encoding.h"

namespace dorvane::report {

namespace fs = std::filesystem;

namespace {

constexpr std::int64_t kSecondsPerDay = 86400;

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// The regular files of `dir`, sorted by name, as one group; then, when
// recursive, those of its sub-folders (sorted), each a group of its own.
void CollectFolder(const fs::path& dir, bool recursive, std::vector<std::vector<fs::path>>& groups) {
    std::vector<fs::path> here;
    std::vector<fs::path> subFolders;
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code ec2;
        const auto st = it->status(ec2);
        if (fs::is_directory(st)) {
            if (recursive) subFolders.push_back(it->path());
        } else if (fs::is_regular_file(st)) {
            here.push_back(it->path());
        }
    }
    std::sort(here.begin(), here.end());
    std::sort(subFolders.begin(), subFolders.end());
    groups.push_back(std::move(here));
    for (const auto& sub : subFolders) CollectFolder(sub, recursive, groups);
}

bool IsRawCopyName(const fs::path& p) {
    return Lower(p.extension().string()) == kRawCopyExtension;
}

bool IsConverted(const geo::FieldFile& f) {
    return f.format == geo::FieldFormat::kKml || f.format == geo::FieldFormat::kGpx;
}

// One file of a group as read.
struct ReadFile {
    fs::path path;
    geo::ReadResult result;
    geo::FieldFile field;
    /// Index in the group of the other half of a converted pair (the raw
    /// copy for a document, the document for a raw copy); npos when alone.
    std::size_t pairedWith = std::string::npos;
    /// The row of a file that cannot be half of a pair, made at once so
    /// that its points need not be kept.
    std::optional<LedgerRow> row;
    /// The rows of a file of several shapes (or one OGR reads), one per
    /// shape, and of the features it could not read; `row` is unused then.
    std::vector<LedgerRow> shapeRows;
};

// Pairs each converted document of `files` with the raw copy the download
// kept beside it: first the copy of its own name ("A1003.txt" ->
// "A1003.bak"), then, for the names the unique-name rule took apart
// ("A1003(1).txt" beside "A1003.bak"), any unpaired copy that holds the same
// points.
void PairConverted(std::vector<ReadFile>& files) {
    auto raw = [&](std::size_t i) {
        return !files[i].row && files[i].pairedWith == std::string::npos &&
               IsRawCopyName(files[i].path) && !IsConverted(files[i].field);
    };
    auto doc = [&](std::size_t i) {
        return !files[i].row && files[i].pairedWith == std::string::npos &&
               IsConverted(files[i].field);
    };
    auto pair = [&](std::size_t d, std::size_t r) {
        files[d].pairedWith = r;
        files[r].pairedWith = d;
    };
    for (std::size_t d = 0; d < files.size(); ++d) {
        if (!doc(d)) continue;
        const fs::path bak = geo::RawCopyPathOf(files[d].path);
        for (std::size_t r = 0; r < files.size(); ++r)
            if (raw(r) && files[r].path == bak && geo::SameMeasurement(files[d].field, files[r].field)) {
                pair(d, r);
                break;
            }
    }
    for (std::size_t d = 0; d < files.size(); ++d) {
        if (!doc(d)) continue;
        for (std::size_t r = 0; r < files.size(); ++r)
            if (raw(r) && geo::SameMeasurement(files[d].field, files[r].field)) {
                pair(d, r);
                break;
            }
    }
}

LedgerRow ErrorRow(const fs::path& path, const geo::ReadResult& r) {
    LedgerRow row;
    row.path = path;
    row.fileText = DecodeUtf8OrGbk(path.filename().string());
    row.error = r.error;
    row.errorDetail = r.message.empty() ? std::string(geo::ReadErrorText(r.error)) : r.message;
    return row;
}

// The one row of a converted document and its raw copy: the figures from the
// raw bytes (the exact unit prices), shown under the document's name.
LedgerRow PairRow(const fs::path& document, const fs::path& rawPath, const geo::FieldFile& raw,
                  double accuracy) {
    LedgerRow row = RowOfField(rawPath, raw, accuracy);
    row.document = document;
    row.fileText = DecodeUtf8OrGbk(document.filename().string()) + " (" +
                   DecodeUtf8OrGbk(rawPath.filename().string()) + ")";
    return row;
}

// The rows of a file of many shapes: one per shape ("file › name"), and an
// error row per feature that could not be read ("file #7"), so that a field
// missing from the bill is seen.
void ShapeRows(const fs::path& p, const geo::ShapeSet& set, double accuracy,
               std::vector<LedgerRow>& rows) {
    const std::string fileText = DecodeUtf8OrGbk(p.filename().string());
    for (const geo::FieldFile& shape : set.shapes) {
        LedgerRow row = RowOfField(p, shape, accuracy);
        row.fileText = geo::ShapeDisplayName(fileText, shape);
        row.shape = shape.shape;
        rows.push_back(std::move(row));
    }
    for (const geo::FeatureProblem& problem : set.problems) {
        LedgerRow row;
        row.path = p;
        row.fileText = fileText + " #" + std::to_string(problem.feature);
        row.error = geo::ReadError::kBadCoordinates;
        if (!problem.message.starts_with("point ")) row.error = geo::ReadError::kCannotRead;
        row.errorDetail = problem.message;
        rows.push_back(std::move(row));
    }
}

// Reads a group of files (one folder's, or the files named together) into
// `out`, each converted pair as one row. In a folder only fields are rows;
// named files always give a row, and a named document whose raw copy was not
// named takes it from beside it when it is there.
// The files read of all the groups, told to LedgerOptions::progress.
struct Progress {
    const std::function<void(std::size_t, std::size_t)>& report;
    std::size_t done = 0;
    std::size_t total = 0;
    void FileRead() {
        ++done;
        if (report) report(done, total);
    }
};

void ReadGroup(const std::vector<fs::path>& paths, bool folder, const LedgerOptions& options,
               Progress& progress, Ledger& out) {
    auto cancelled = [&] { return options.cancel && options.cancel->load(); };
    std::vector<ReadFile> files;
    files.reserve(paths.size());
    for (const fs::path& p : paths) {
        if (cancelled()) return;
        ReadFile f;
        f.path = p;
        geo::ShapeSet set;
        f.result = geo::ReadShapes(p, set, {}, options.cancel);
        progress.FileRead();
        if (f.result.ok() && (set.shapes.size() > 1 || !set.problems.empty() ||
                              set.shapes[0].format == geo::FieldFormat::kOgr)) {
            ShapeRows(p, set, options.receiverAccuracy_m, f.shapeRows);
            files.push_back(std::move(f));
            continue;
        }
        if (f.result.ok()) f.field = std::move(set.shapes[0]);
        if (!f.result.ok()) {
            f.row = ErrorRow(p, f.result);
        } else if (!IsConverted(f.field) && !IsRawCopyName(p)) {
            f.row = RowOfField(p, f.field, options.receiverAccuracy_m);
            f.field = {};
        }
        files.push_back(std::move(f));
    }
    PairConverted(files);
    for (std::size_t i = 0; i < files.size(); ++i) {
        ReadFile& f = files[i];
        if (!f.shapeRows.empty()) {
            for (LedgerRow& r : f.shapeRows) {
                if (folder && r.isTrack) continue;
                out.rows.push_back(std::move(r));
            }
            continue;
        }
        LedgerRow row;
        if (f.row) {
            row = std::move(*f.row);
        } else if (f.pairedWith != std::string::npos) {
            // The pair is listed where its document is; the other half is
            // counted as left out.
            if (!IsConverted(f.field)) continue;
            ++out.skippedDuplicate;
            const ReadFile& raw = files[f.pairedWith];
            row = PairRow(f.path, raw.path, raw.field, options.receiverAccuracy_m);
        } else {
            geo::FieldFile raw;
            if (!folder && IsConverted(f.field)) {
                if (const auto bak = geo::ReadRawCopyBeside(f.path, f.field, raw))
                    row = PairRow(f.path, *bak, raw, options.receiverAccuracy_m);
            }
            if (row.path.empty()) row = RowOfField(f.path, f.field, options.receiverAccuracy_m);
        }
        f.field = {};  // done with its points
        // In a folder only field files count; other files and tracks are
        // simply not part of the ledger.
        if (folder && (row.error == geo::ReadError::kNotRecognised || row.isTrack)) {
            ++out.skippedNotField;
            continue;
        }
        out.rows.push_back(std::move(row));
    }
}

std::optional<std::int64_t> NonZero(std::int32_t t) {
    if (t == 0) return std::nullopt;
    return t;
}

}  // namespace

std::optional<std::int64_t> LedgerRow::When() const {
    if (startTime) return startTime;
    return collectionTime;
}

LedgerRow RowOfField(const fs::path& path, const geo::FieldFile& f, double receiverAccuracy_m) {
    LedgerRow row;
    row.path = path;
    row.fileText = DecodeUtf8OrGbk(path.filename().string());
    if (f.kind != geo::FieldKind::kArea) {
        row.error = geo::ReadError::kNoShapes;
        row.errorDetail = "a track, not a field";
        row.isTrack = true;
        return row;
    }
    const geo::FieldFigures fig = geo::ComputeFigures(f, receiverAccuracy_m);
    row.format = f.format;
    row.holes = fig.holes;
    row.areaTolerance_m2 = fig.areaTolerance_m2;
    if (fig.validity) {
        row.valid = fig.validity->valid;
        row.crossings = fig.validity->crossings.size();
        row.validArea_m2 = fig.validity->validArea_m2;
        auto outline = std::make_shared<geo::FieldFile>();
        outline->kind = f.kind;
        outline->points = f.points;
        outline->holes = f.holes;
        row.outline = std::move(outline);
    }
    row.name = f.name;
    row.method = f.handheld.method;
    row.workWidth = f.handheld.workWidth;
    row.points = fig.points;
    row.damagedRecords = f.damagedRecords;
    row.lengthUnitPrice = f.handheld.lengthUnitPrice;
    row.areaUnitPrice = f.handheld.areaUnitPrice;
    if (f.handheld.area) {
        const AreaFile& a = *f.handheld.area;
        row.collectionTime = a.header.collectionTime;
        row.lengthUnitPrice = a.header.lengthUnitPrice;
        row.areaUnitPrice = a.header.areaUnitPrice;
        row.workWidth.reset();
        if (a.work) {
            row.startTime = NonZero(a.work->startTime);
            row.finishTime = NonZero(a.work->finishTime);
            // The KML writer shows no width without harvesting work either.
            if (a.header.method == static_cast<std::int16_t>(AreaMethod::kHarvesting))
                row.workWidth = a.work->width;
        }
    } else {
        // A KML written on download shows its times (to the minute).
        row.collectionTime = f.handheld.collectionTime;
        row.startTime = f.handheld.startTime;
        row.finishTime = f.handheld.finishTime;
    }
    if (!row.When()) {
        // Other files know no collection time; the first timed point stands in.
        for (const geo::GeoPoint& p : f.points)
            if (p.hasTime) {
                row.collectionTime = static_cast<std::int64_t>(p.time);
                break;
            }
    }
    if (fig.handheld) row.handheld = *fig.handheld;
    row.wgs84 = fig.wgs84;
    row.cgcs2000 = geo::ComputeCgcs2000(f);
    if (!row.IsHarvesting()) row.gk3 = geo::ComputeGk3(f);
    return row;
}

LedgerRow RowOfFile(const fs::path& path) {
    geo::FieldFile f;
    const geo::ReadResult r = geo::ReadFieldFile(path, f);
    if (!r.ok()) return ErrorRow(path, r);
    return RowOfField(path, f);
}

LedgerTotals TotalsOf(const std::vector<LedgerRow>& rows) {
    LedgerTotals t;
    for (const LedgerRow& r : rows) {
        if (!r.ok()) {
            ++t.failed;
            continue;
        }
        if (!r.Billed()) continue;  // a copy of a file counted above
        ++t.fields;
        t.points += r.points;
        t.handheldLength_m += r.handheld.measure.length;
        t.handheldArea_m2 += r.handheld.measure.area;
        t.wgs84Length_m += r.wgs84.length_m;
        t.wgs84Area_m2 += r.wgs84.area_m2;
        t.cgcs2000Length_m += r.cgcs2000.length_m;
        t.cgcs2000Area_m2 += r.cgcs2000.area_m2;
        t.lengthTotal += r.handheld.shown.lengthTotal;
        t.areaTotal += r.handheld.shown.areaTotal;
    }
    return t;
}

namespace {

// The bytes of a field file already read once (bounded as the readers bound
// it); nullopt when it can no longer be read.
std::optional<std::vector<std::uint8_t>> FileBytes(const fs::path& p) {
    std::vector<std::uint8_t> bytes;
    std::string message;
    if (ReadInputFile(p, bytes, message) != ConvertError::kNone) return std::nullopt;
    return bytes;
}

}  // namespace

void MarkCopies(std::vector<LedgerRow>& rows) {
    // Files are grouped by a hash of their bytes, and a match confirmed by
    // the bytes themselves: only a true copy is ever marked.
    std::unordered_map<std::size_t, std::vector<std::vector<std::size_t>>> byHash;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        // The other shapes of a file follow its first below.
        if (!rows[i].ok() || rows[i].shape > 0) continue;
        const auto bytes = FileBytes(rows[i].path);
        if (!bytes) continue;
        const std::size_t key = std::hash<std::string_view>{}(
            std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()));
        auto& candidates = byHash[key];
        bool placed = false;
        for (auto& group : candidates) {
            if (FileBytes(rows[group.front()].path) == bytes) {
                group.push_back(i);
                placed = true;
                break;
            }
        }
        if (!placed) candidates.push_back({i});
    }
    for (auto& [key, candidates] : byHash) {
        for (const auto& group : candidates) {
            if (group.size() < 2) continue;
            // The original keeps the plainest name: "A.txt" before the
            // "A(1).txt" a second download made; on a tie, the first listed.
            // A converted pair goes by its document's name.
            auto shown = [&](std::size_t i) {
                const LedgerRow& r = rows[i];
                return (r.document.empty() ? r.path : r.document).filename().string().size();
            };
            std::size_t keep = group.front();
            for (std::size_t i : group)
                if (shown(i) < shown(keep)) keep = i;
            for (std::size_t i : group)
                if (i != keep) rows[i].sameAs = rows[keep].fileText;
        }
    }
    // Every shape of a copied file is a copy.
    for (std::size_t i = 1; i < rows.size(); ++i)
        if (rows[i].shape > 0 && rows[i].ok() && rows[i].path == rows[i - 1].path)
            rows[i].sameAs = rows[i - 1].sameAs;
}

RowKey KeyOf(const LedgerRow& row) {
    return {row.path.string(), row.shape};
}

RowPair PairOf(const LedgerRow& a, const LedgerRow& b) {
    RowKey ka = KeyOf(a), kb = KeyOf(b);
    if (kb < ka) std::swap(ka, kb);
    return {std::move(ka), std::move(kb)};
}

void MarkMeasuredTwice(Ledger& l, bool keepMeasuredTwice, const KeptPairs& kept) {
    for (LedgerRow& r : l.rows) r.measuredTwiceWith.clear();
    for (LedgerOverlap& o : l.overlaps) {
        o.kept = o.measuredTwice && kept.contains(PairOf(l.rows[o.a], l.rows[o.b]));
        if (o.measuredTwice && !keepMeasuredTwice && !o.kept)
            l.rows[o.b].measuredTwiceWith = l.rows[o.a].fileText;
    }
    l.totals = TotalsOf(l.rows);
}

void MarkOverlaps(Ledger& l, bool keepMeasuredTwice, const KeptPairs& kept) {
    l.overlaps.clear();
    for (LedgerRow& r : l.rows) r.measuredTwiceWith.clear();
    std::vector<const geo::FieldFile*> outlines;
    outlines.reserve(l.rows.size());
    for (const LedgerRow& r : l.rows)
        outlines.push_back(r.Billed() && r.outline ? r.outline.get() : nullptr);
    for (const geo::Overlap& o : geo::FindOverlaps(outlines))
        l.overlaps.push_back({o.a, o.b, o.overlap_m2, o.shareOfSmaller, o.measuredTwice, false});
    MarkMeasuredTwice(l, keepMeasuredTwice, kept);
}

Ledger BuildLedger(const std::vector<fs::path>& inputs, const LedgerOptions& options) {
    Ledger all;
    auto cancelled = [&] { return options.cancel && options.cancel->load(); };
    // Files named together are one group (a document and its raw copy may
    // both be named); each folder is a group of its own.
    std::vector<fs::path> named;
    std::vector<std::vector<fs::path>> folders;
    for (const fs::path& in : inputs) {
        std::error_code ec;
        if (fs::is_directory(in, ec))
            CollectFolder(in, options.recursive, folders);
        else
            named.push_back(in);
    }
    Progress progress{options.progress, 0, named.size()};
    for (const auto& group : folders) progress.total += group.size();
    ReadGroup(named, false, options, progress, all);
    for (const auto& group : folders) {
        if (cancelled()) break;
        ReadGroup(group, true, options, progress, all);
    }
    if (!cancelled()) MarkCopies(all.rows);
    return FilterLedger(all, options.range, options.keepMeasuredTwice, options.keptPairs);
}

Ledger FilterLedger(const Ledger& all, const DateRange& range, bool keepMeasuredTwice,
                    const KeptPairs& kept) {
    Ledger out;
    out.range = range;
    out.skippedNotField = all.skippedNotField;
    out.skippedDuplicate = all.skippedDuplicate;
    for (const LedgerRow& row : all.rows) {
        if (row.ok() && !range.Empty()) {
            const auto when = row.When();
            if (!when || !range.Contains(*when)) {
                ++out.skippedOutOfRange;
                continue;
            }
        }
        out.rows.push_back(row);
    }
    MarkOverlaps(out, keepMeasuredTwice, kept);
    return out;
}

std::optional<std::int64_t> ParseLocalDate(const std::string& text) {
    // Exactly YYYY-MM-DD.
    if (text.size() != 10 || text[4] != '-' || text[7] != '-') return std::nullopt;
    auto num = [&](std::size_t at, std::size_t len) -> std::optional<int> {
        int v = 0;
        const char* b = text.data() + at;
        const auto r = std::from_chars(b, b + len, v);
        if (r.ec != std::errc() || r.ptr != b + len) return std::nullopt;
        return v;
    };
    const auto y = num(0, 4), m = num(5, 2), d = num(8, 2);
    if (!y || !m || !d || *m < 1 || *m > 12 || *d < 1 || *d > 31) return std::nullopt;
    std::tm tm{};
    tm.tm_year = *y - 1900;
    tm.tm_mon = *m - 1;
    tm.tm_mday = *d;
    tm.tm_isdst = -1;
    const std::time_t t = std::mktime(&tm);
    // mktime normalises 2024-02-31 into March: such a day does not exist.
    if (t == static_cast<std::time_t>(-1) || tm.tm_mday != *d || tm.tm_mon != *m - 1)
        return std::nullopt;
    return static_cast<std::int64_t>(t);
}

std::optional<DateRange> RangeOfDays(const std::optional<std::string>& from,
                                     const std::optional<std::string>& to, std::string& bad) {
    DateRange r;
    if (from) {
        r.from = ParseLocalDate(*from);
        if (!r.from) {
            bad = *from;
            return std::nullopt;
        }
    }
    if (to) {
        const auto day = ParseLocalDate(*to);
        if (!day) {
            bad = *to;
            return std::nullopt;
        }
        // The start of the next local day (a day is 23 to 25 hours long
        // around daylight-saving changes: ask the calendar, not a constant).
        std::time_t t = static_cast<std::time_t>(*day + kSecondsPerDay + kSecondsPerDay / 2);
        std::tm tm{};
        localtime_r(&t, &tm);
        tm.tm_hour = tm.tm_min = tm.tm_sec = 0;
        tm.tm_isdst = -1;
        r.to = static_cast<std::int64_t>(std::mktime(&tm));
        if (r.from && *r.to <= *r.from) {
            bad = *to;
            return std::nullopt;
        }
    }
    return r;
}

namespace {
std::string LocalText(std::int64_t seconds, const char* format) {
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    if (seconds < 0 || !localtime_r(&t, &tm)) return {};
    char buf[32];
    if (std::strftime(buf, sizeof buf, format, &tm) == 0) return {};
    return buf;
}
}  // namespace

std::string LocalTimeText(std::int64_t seconds) {
    return LocalText(seconds, "%Y-%m-%d %H:%M");
}
std::string LocalDayText(std::int64_t seconds) {
    return LocalText(seconds, "%Y-%m-%d");
}

}  // namespace dorvane::report
