#include "book/money.h"

#include <cmath>
#include <cstdio>
#include <ctime>

namespace dorvane::book {

namespace {

// Figures are fixed to millionths of a square metre (or of a metre) before
// the exact integer conversion: far below any survey's accuracy, far above
// the 4 decimals a quantity keeps.
constexpr std::int64_t kMicro = 1000000;
// Square metres per hectare.
constexpr std::int64_t kM2PerHectare = 10000;
// 1 mu = 10000/15 m²: ten-thousandths of a mu = m² x 15.
constexpr std::int64_t kMuE4PerM2 = 15;
// Metres per kilometre.
constexpr std::int64_t kMetresPerKm = 1000;
// Largest figure taken (in units): 10^8 mu/ha/km (a province) keeps every
// product of the conversion below 2^63.
constexpr double kMaxUnits = 1e8;

// round_half_up(num / den) for num >= 0, den > 0.
std::int64_t DivHalfUp(std::int64_t num, std::int64_t den) { return (num + den / 2) / den; }

}  // namespace

std::optional<std::int64_t> QuantityE4(double value, BillingUnit unit) {
    if (!std::isfinite(value) || value < 0) return std::nullopt;
    double units = 0;
    switch (unit) {
    case BillingUnit::kMu: units = value * static_cast<double>(kMuE4PerM2) / static_cast<double>(kQuantityScale); break;
    case BillingUnit::kHectare: units = value / static_cast<double>(kM2PerHectare); break;
    case BillingUnit::kKilometre: units = value / static_cast<double>(kMetresPerKm); break;
    }
    if (units > kMaxUnits) return std::nullopt;
    const std::int64_t micro = std::llround(value * static_cast<double>(kMicro));
    switch (unit) {
    case BillingUnit::kMu:
        // mu x 10^4 = m² x 15 = micro x 15 / 10^6
        return DivHalfUp(micro * kMuE4PerM2, kMicro);
    case BillingUnit::kHectare:
        // ha x 10^4 = m² = micro / 10^6
        return DivHalfUp(micro, kMicro);
    case BillingUnit::kKilometre:
        // km x 10^4 = m x 10 = micro / 10^5
        return DivHalfUp(micro, kMicro * kMetresPerKm / kQuantityScale);
    }
    return std::nullopt;
}

std::optional<Fen> AmountFen(std::int64_t quantityE4, Fen priceFen) {
    if (quantityE4 < 0 || priceFen < 0) return std::nullopt;
    std::int64_t product = 0;
    if (__builtin_mul_overflow(quantityE4, priceFen, &product)) return std::nullopt;
    if (product > INT64_MAX - kQuantityScale / 2) return std::nullopt;
    return DivHalfUp(product, kQuantityScale);
}

double BilledFigure(const Job& job, AreaBasis basis, AreaBasis& used) {
    const bool handheld = basis == AreaBasis::kHandheld;
    if (job.unit == BillingUnit::kKilometre) {
        used = handheld && job.handheldLength_m ? AreaBasis::kHandheld : AreaBasis::kWgs84;
        return used == AreaBasis::kHandheld ? *job.handheldLength_m : job.wgs84Length_m;
    }
    used = handheld && job.handheldArea_m2 ? AreaBasis::kHandheld : AreaBasis::kWgs84;
    return used == AreaBasis::kHandheld ? *job.handheldArea_m2 : job.wgs84Area_m2;
}

std::optional<Fen> ParseMoney(std::string_view text) {
    if (text.empty()) return std::nullopt;
    std::int64_t whole = 0;
    std::size_t i = 0;
    std::size_t digits = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++digits) {
        if (whole > (INT64_MAX / kFenPerYuan - 9) / 10) return std::nullopt;
        whole = whole * 10 + (text[i] - '0');
    }
    std::int64_t cents = 0;
    std::size_t decimals = 0;
    if (i < text.size() && text[i] == '.') {
        ++i;
        for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++decimals) {
            if (decimals == 2) return std::nullopt;
            cents = cents * 10 + (text[i] - '0');
        }
        if (decimals == 0) return std::nullopt;
        if (decimals == 1) cents *= 10;
    }
    if (i != text.size() || digits == 0) return std::nullopt;
    return whole * kFenPerYuan + cents;
}

std::string FormatMoney(Fen fen) {
    const bool negative = fen < 0;
    const std::uint64_t v = negative ? 0 - static_cast<std::uint64_t>(fen) : static_cast<std::uint64_t>(fen);
    char buf[48];
    std::snprintf(buf, sizeof buf, "%s%llu.%02llu", negative ? "-" : "",
                  static_cast<unsigned long long>(v / kFenPerYuan),
                  static_cast<unsigned long long>(v % kFenPerYuan));
    return buf;
}

std::string FormatQuantity(std::int64_t q) {
    char buf[48];
    const bool negative = q < 0;
    const std::uint64_t v = negative ? 0 - static_cast<std::uint64_t>(q) : static_cast<std::uint64_t>(q);
    std::snprintf(buf, sizeof buf, "%s%llu.%04llu", negative ? "-" : "",
                  static_cast<unsigned long long>(v / kQuantityScale),
                  static_cast<unsigned long long>(v % kQuantityScale));
    return buf;
}

std::string BillNumber(int year, int sequence) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%04d", year, sequence);
    return buf;
}

std::optional<std::pair<int, int>> ParseBillNumber(std::string_view n) {
    if (n.size() != 9 || n[4] != '-') return std::nullopt;
    int year = 0, seq = 0;
    for (std::size_t i = 0; i < 9; ++i) {
        if (i == 4) continue;
        if (n[i] < '0' || n[i] > '9') return std::nullopt;
        (i < 4 ? year : seq) = (i < 4 ? year : seq) * 10 + (n[i] - '0');
    }
    if (seq == 0) return std::nullopt;
    return std::pair{year, seq};
}

std::optional<std::vector<std::pair<std::size_t, Fen>>> AllocatePayment(std::span<const Owing> owing,
                                                                        Fen amountFen) {
    if (amountFen <= 0) return std::nullopt;
    Fen total = 0;
    for (const Owing& o : owing)
        if (o.outstandingFen > 0) total += o.outstandingFen;
    if (amountFen > total) return std::nullopt;
    std::vector<std::pair<std::size_t, Fen>> out;
    Fen left = amountFen;
    for (const Owing& o : owing) {
        if (left == 0) break;
        if (o.outstandingFen <= 0) continue;
        const Fen take = std::min(left, o.outstandingFen);
        out.emplace_back(o.index, take);
        left -= take;
    }
    return out;
}

bool IsDate(std::string_view t) {
    if (t.size() != 10 || t[4] != '-' || t[7] != '-') return false;
    int v[3] = {0, 0, 0};
    const std::size_t starts[3] = {0, 5, 8}, lens[3] = {4, 2, 2};
    for (int k = 0; k < 3; ++k)
        for (std::size_t i = 0; i < lens[k]; ++i) {
            const char c = t[starts[k] + i];
            if (c < '0' || c > '9') return false;
            v[k] = v[k] * 10 + (c - '0');
        }
    const int y = v[0], m = v[1], d = v[2];
    if (m < 1 || m > 12 || d < 1) return false;
    static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    return d <= kDays[m - 1] + (m == 2 && leap ? 1 : 0);
}

std::string LocalDate(std::int64_t seconds) {
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    if (!localtime_r(&t, &tm)) return {};
    char buf[32];
    if (std::strftime(buf, sizeof buf, "%Y-%m-%d", &tm) == 0) return {};
    return buf;
}

std::string Today() { return LocalDate(static_cast<std::int64_t>(std::time(nullptr))); }

}  // namespace dorvane::book
