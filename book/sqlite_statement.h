#pragma once
// A prepared SQLite statement on a connection the caller owns (RAII:
// finalized when it goes out of scope). Binding indexes start at 1, column
// indexes at 0, as in SQLite.

#include <sqlite3.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dorvane::book {

class Statement {
public:
    Statement(sqlite3* db, std::string_view sql) {
        rc_ = sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &stmt_, nullptr);
    }
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    /// SQLITE_OK after preparing; the failing code otherwise.
    int PrepareCode() const { return rc_; }
    bool Prepared() const { return rc_ == SQLITE_OK; }

    Statement& Bind(int i, std::int64_t v) {
        sqlite3_bind_int64(stmt_, i, v);
        return *this;
    }
    Statement& Bind(int i, double v) {
        sqlite3_bind_double(stmt_, i, v);
        return *this;
    }
    Statement& Bind(int i, std::string_view v) {
        sqlite3_bind_text(stmt_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Statement& BindNull(int i) {
        sqlite3_bind_null(stmt_, i);
        return *this;
    }
    template <typename T>
    Statement& Bind(int i, const std::optional<T>& v) {
        if (!v) return BindNull(i);
        if constexpr (std::is_same_v<T, std::string>)
            return Bind(i, std::string_view(*v));
        else if constexpr (std::is_floating_point_v<T>)
            return Bind(i, static_cast<double>(*v));
        else
            return Bind(i, static_cast<std::int64_t>(*v));
    }

    /// SQLITE_ROW, SQLITE_DONE or the failing code.
    int Step() { return sqlite3_step(stmt_); }
    void Reset() {
        sqlite3_reset(stmt_);
        sqlite3_clear_bindings(stmt_);
    }

    bool IsNull(int c) const { return sqlite3_column_type(stmt_, c) == SQLITE_NULL; }
    std::int64_t Int(int c) const { return sqlite3_column_int64(stmt_, c); }
    double Real(int c) const { return sqlite3_column_double(stmt_, c); }
    std::string Text(int c) const {
        const auto* p = sqlite3_column_text(stmt_, c);
        return p ? std::string(reinterpret_cast<const char*>(p),
                               static_cast<std::size_t>(sqlite3_column_bytes(stmt_, c)))
                 : std::string();
    }
    /// The column's text, valid until the next Step or Reset.
    std::string_view View(int c) const {
        const auto* p = sqlite3_column_text(stmt_, c);
        return p ? std::string_view(reinterpret_cast<const char*>(p),
                                    static_cast<std::size_t>(sqlite3_column_bytes(stmt_, c)))
                 : std::string_view();
    }
    std::vector<std::uint8_t> Blob(int c) const {
        const auto* p = static_cast<const std::uint8_t*>(sqlite3_column_blob(stmt_, c));
        return p ? std::vector<std::uint8_t>(p, p + sqlite3_column_bytes(stmt_, c)) : std::vector<std::uint8_t>();
    }
    std::optional<std::int64_t> OptInt(int c) const {
        if (IsNull(c)) return std::nullopt;
        return Int(c);
    }
    std::optional<double> OptReal(int c) const {
        if (IsNull(c)) return std::nullopt;
        return Real(c);
    }

private:
    sqlite3_stmt* stmt_ = nullptr;
    int rc_ = SQLITE_OK;
};

}  // namespace dorvane::book
