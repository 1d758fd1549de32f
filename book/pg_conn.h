#pragma once
// A thin RAII layer over libpq for the office book: one connection, results
// freed when they go out of scope, statements with text parameters ($1, $2,
// ...) so no value is ever spliced into SQL. Not for use outside book/.

#include <libpq-fe.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dorvane::book {

/// SQLSTATE codes the office book acts on (PostgreSQL's Appendix A).
namespace sqlstate {
inline constexpr std::string_view kSerializationFailure = "40001";
inline constexpr std::string_view kDeadlock = "40P01";
inline constexpr std::string_view kUniqueViolation = "23505";
inline constexpr std::string_view kInsufficientPrivilege = "42501";
inline constexpr std::string_view kQueryCanceled = "57014";  ///< statement_timeout ran out
inline constexpr std::string_view kLockNotAvailable = "55P03";  ///< lock_timeout ran out
inline constexpr std::string_view kDiskFull = "53100";
inline constexpr std::string_view kRaiseException = "P0001";  ///< the book's own triggers
inline constexpr std::string_view kUndefinedFile = "58P01";   ///< an extension's files are missing
}  // namespace sqlstate

class PgResult {
public:
    PgResult() = default;
    explicit PgResult(PGresult* r) : r_(r, PQclear) {}

    bool Ok() const {
        const ExecStatusType s = r_ ? PQresultStatus(r_.get()) : PGRES_FATAL_ERROR;
        return s == PGRES_COMMAND_OK || s == PGRES_TUPLES_OK;
    }
    int Rows() const { return r_ ? PQntuples(r_.get()) : 0; }
    bool IsNull(int row, int col) const { return PQgetisnull(r_.get(), row, col) != 0; }
    std::string Text(int row, int col) const { return PQgetvalue(r_.get(), row, col); }
    std::string_view View(int row, int col) const {
        return {PQgetvalue(r_.get(), row, col), static_cast<std::size_t>(PQgetlength(r_.get(), row, col))};
    }
    std::int64_t Int(int row, int col) const;
    std::optional<std::int64_t> OptInt(int row, int col) const {
        return IsNull(row, col) ? std::nullopt : std::optional<std::int64_t>(Int(row, col));
    }
    double Real(int row, int col) const;
    std::optional<double> OptReal(int row, int col) const {
        return IsNull(row, col) ? std::nullopt : std::optional<double>(Real(row, col));
    }
    /// A bytea column in libpq's text form ("\x..." hex), as bytes.
    std::vector<std::uint8_t> Bytes(int row, int col) const;
    /// The SQLSTATE of a failed statement ("" when there is none: no server answer).
    std::string State() const;
    std::string Message() const;
    /// Rows a command changed ("UPDATE 3" -> 3).
    std::int64_t Affected() const;

private:
    std::shared_ptr<PGresult> r_;
};

/// Parameters of one statement, in order: $1, $2, ...; nullopt is NULL.
class PgParams {
public:
    PgParams& Add(std::string_view v) {
        values_.emplace_back(std::string(v));
        return *this;
    }
    PgParams& Add(const char* v) { return Add(std::string_view(v)); }
    PgParams& Add(const std::string& v) { return Add(std::string_view(v)); }
    PgParams& Add(std::int64_t v) {
        values_.emplace_back(std::to_string(v));
        return *this;
    }
    PgParams& Add(int v) { return Add(static_cast<std::int64_t>(v)); }
    PgParams& Add(double v);
    PgParams& Add(bool v) { return Add(v ? "true" : "false"); }
    template <typename T>
    PgParams& Add(const std::optional<T>& v) {
        if (v) return Add(*v);
        values_.emplace_back(std::nullopt);
        return *this;
    }
    /// Bytes for a bytea column, in its hex input form.
    PgParams& AddBytes(const std::vector<std::uint8_t>& bytes);
    const std::vector<std::optional<std::string>>& Values() const { return values_; }

private:
    std::vector<std::optional<std::string>> values_;
};

struct PgConnCloser {
    void operator()(PGconn* c) const { PQfinish(c); }
};
using PgConnPtr = std::unique_ptr<PGconn, PgConnCloser>;

/// Runs `sql` with `params` on `conn` (text results); `sql` may hold several
/// statements when there are no parameters.
PgResult PgExec(PGconn* conn, const std::string& sql, const PgParams& params = {});

}  // namespace dorvane::book
