#include "ui/book_overview.h"

#include <filesystem>
#include <map>

#include "book/job_shapes.h"
#include "geo/field_file.h"
#include "i18n/string_table.h"
#include "ui/book_jobs_model.h"

namespace dorvane {

book::BookStatus LoadJobRings(book::BookStore& store, const std::string& location,
                              const std::vector<book::Job>& jobs, BookRingCache& cache,
                              std::vector<std::vector<WorldPoint>>& out) {
    if (cache.location != location) {
        // Another book: its ids name other jobs.
        cache.rings.clear();
        cache.location = location;
    }
    out.clear();
    out.reserve(jobs.size());
    for (const book::Job& j : jobs) {
        auto known = cache.rings.find(j.id);
        if (known == cache.rings.end()) {
            std::vector<std::uint8_t> bytes;
            std::string file;
            std::vector<WorldPoint> ring;
            if (auto st = store.GetJobSource(j.id, bytes, file); !st.ok()) {
                if (st.error != book::BookError::kNotFound) return st;
            } else {
                geo::FieldFile field;
                if (book::ReadJobSource(bytes, file, field).ok()) {
                    ring.reserve(field.points.size());
                    for (const geo::GeoPoint& p : field.points) ring.push_back(ToWorld(p.lon, p.lat));
                }
            }
            known = cache.rings.emplace(j.id, std::move(ring)).first;
        }
        out.push_back(known->second);
    }
    return {};
}

BookMapCategories CategoriesOf(const std::vector<book::Job>& jobs, BookMapColour colour) {
    BookMapCategories out;
    out.category.reserve(jobs.size());
    if (colour == BookMapColour::kStatus) {
        for (book::JobStatus s : {book::JobStatus::kMeasured, book::JobStatus::kBilled, book::JobStatus::kPaid,
                                  book::JobStatus::kVoid})
            out.legend.push_back(JobStatusText(s));
        for (const book::Job& j : jobs) out.category.push_back(static_cast<int>(j.status));
        return out;
    }
    // Customers in name order; the unassigned ("") sort first.
    std::map<std::string, int> index;
    for (const book::Job& j : jobs) index.emplace(j.customer, 0);
    int n = 0;
    for (auto& [name, i] : index) {
        i = n++;
        out.legend.push_back(name.empty() ? QString::fromStdString(Text(StringId::RES_BOOKWIN_UNASSIGNED))
                                          : QString::fromStdString(name));
    }
    for (const book::Job& j : jobs) out.category.push_back(index[j.customer]);
    return out;
}

}  // namespace dorvane
