#include "book/book_types.h"

#include <array>

namespace dorvane::book {

namespace {

constexpr std::array<std::string_view, kWorkTypeCount> kWorkNames = {
    "harvesting", "ploughing", "sowing", "spraying", "surveying", "other"};
constexpr std::array<std::string_view, 4> kStatusNames = {"measured", "billed", "paid", "void"};
constexpr std::array<std::string_view, 3> kUnitNames = {"mu", "ha", "km"};
constexpr std::array<std::string_view, 2> kBasisNames = {"wgs84", "handheld"};
constexpr std::array<std::string_view, 3> kBillStatusNames = {"issued", "paid", "void"};

template <typename E, std::size_t N>
std::optional<E> Find(const std::array<std::string_view, N>& names, std::string_view s) {
    for (std::size_t i = 0; i < N; ++i)
        if (names[i] == s) return static_cast<E>(i);
    return std::nullopt;
}

}  // namespace

std::string_view Name(WorkType w) { return kWorkNames[static_cast<std::size_t>(w)]; }
std::string_view Name(JobStatus s) { return kStatusNames[static_cast<std::size_t>(s)]; }
std::string_view Name(BillingUnit u) { return kUnitNames[static_cast<std::size_t>(u)]; }
std::string_view Name(AreaBasis b) { return kBasisNames[static_cast<std::size_t>(b)]; }
std::string_view Name(BillStatus s) { return kBillStatusNames[static_cast<std::size_t>(s)]; }
std::optional<WorkType> ParseWorkType(std::string_view s) { return Find<WorkType>(kWorkNames, s); }
std::optional<JobStatus> ParseJobStatus(std::string_view s) { return Find<JobStatus>(kStatusNames, s); }
std::optional<BillingUnit> ParseBillingUnit(std::string_view s) { return Find<BillingUnit>(kUnitNames, s); }
std::optional<AreaBasis> ParseAreaBasis(std::string_view s) { return Find<AreaBasis>(kBasisNames, s); }

}  // namespace dorvane::book
