#pragma once
// The book's money rules, the same for every back end. Pure, thread-safe.
//
//   - Money is integer fen (the currency's minor unit), never floating point.
//   - A line's quantity is the job's area (or length) in the billing unit,
//     rounded half up to 4 decimals, kept as an integer count of ten-
//     thousandths ("E4"). The only floating-point step is the figure itself
//     (a geodesic area); it is first fixed to whole micro-square-metres (or
//     micrometres), then converted with exact integer ratios: 1 mu is
//     10000/15 m² exactly, so mu x 10^4 = m² x 15.
//   - A line's amount is quantity x price, rounded half up to the fen.
//   - A bill's total is the sum of its lines' amounts.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "book/book_types.h"

namespace dorvane::book {

/// Ten-thousandths of the unit per whole unit (quantities have 4 decimals).
inline constexpr std::int64_t kQuantityScale = 10000;
/// Fen per yuan (the currency's minor units per major unit).
inline constexpr std::int64_t kFenPerYuan = 100;

/// `value` (m² for mu and ha, metres for km) in ten-thousandths of `unit`,
/// rounded half up. nullopt for a negative, non-finite or absurdly large
/// value (over 10^8 units).
std::optional<std::int64_t> QuantityE4(double value, BillingUnit unit);

/// round_half_up(quantityE4 / 10^4 x priceFen). nullopt on overflow or a
/// negative input.
std::optional<Fen> AmountFen(std::int64_t quantityE4, Fen priceFen);

/// The figure a job is billed on: its area on `basis` for mu and ha (WGS84
/// when the job has no handheld figures), its length for km. `used` tells
/// which basis it was.
double BilledFigure(const Job& job, AreaBasis basis, AreaBasis& used);

/// A money text in yuan ("80", "80.5", "80.50", "1,200.00" is refused) to
/// fen. At most 2 decimals; no sign; nullopt for anything else.
std::optional<Fen> ParseMoney(std::string_view text);
/// Fen as yuan with 2 decimals ("-3.05", "1200.00").
std::string FormatMoney(Fen fen);
/// A quantity with its 4 decimals ("12.3456").
std::string FormatQuantity(std::int64_t quantityE4);

/// "2026-0001": the year and the bill's place in it, gap-free per year.
std::string BillNumber(int year, int sequence);
/// Year and sequence of a bill number; nullopt when it is not one.
std::optional<std::pair<int, int>> ParseBillNumber(std::string_view number);
/// Largest sequence a year's numbers can hold (4 digits).
inline constexpr int kMaxBillsPerYear = 9999;

/// A bill owing money, in the order payments reach it (oldest first).
struct Owing {
    std::size_t index = 0;  ///< the caller's own index of the bill
    Fen outstandingFen = 0;
};
/// Spreads `amountFen` over `owing` in the given order, each bill up to its
/// outstanding: (index, amount) pairs. nullopt when the amount is not
/// positive or exceeds the sum outstanding (nothing is applied then).
std::optional<std::vector<std::pair<std::size_t, Fen>>> AllocatePayment(
    std::span<const Owing> owing, Fen amountFen);

/// "YYYY-MM-DD" that is a real day.
bool IsDate(std::string_view text);
/// The local calendar day of `seconds` since 1970 UTC ("" when out of range).
std::string LocalDate(std::int64_t seconds);
/// Today's local date.
std::string Today();

}  // namespace dorvane::book
