#include "book/pg_conn.h"

#include <charconv>
#include <cstdlib>

namespace dorvane::book {

std::int64_t PgResult::Int(int row, int col) const {
    const std::string_view v = View(row, col);
    std::int64_t out = 0;
    std::from_chars(v.data(), v.data() + v.size(), out);
    return out;
}

double PgResult::Real(int row, int col) const {
    // The server sends doubles (extra_float_digits >= 1) as the shortest text
    // that reads back to the same bits. from_chars, not strtod: the desktop
    // runs under the user's locale, whose decimal mark may be a comma.
    const std::string_view v = View(row, col);
    double out = 0;
    std::from_chars(v.data(), v.data() + v.size(), out);
    return out;
}

std::vector<std::uint8_t> PgResult::Bytes(int row, int col) const {
    std::size_t n = 0;
    unsigned char* raw = PQunescapeBytea(reinterpret_cast<const unsigned char*>(PQgetvalue(r_.get(), row, col)), &n);
    if (!raw) return {};
    std::vector<std::uint8_t> out(raw, raw + n);
    PQfreemem(raw);
    return out;
}

std::string PgResult::State() const {
    if (!r_) return {};
    const char* s = PQresultErrorField(r_.get(), PG_DIAG_SQLSTATE);
    return s ? s : "";
}

std::string PgResult::Message() const {
    if (!r_) return "no answer from the server";
    const char* primary = PQresultErrorField(r_.get(), PG_DIAG_MESSAGE_PRIMARY);
    if (primary && *primary) return primary;
    std::string m = PQresultErrorMessage(r_.get());
    while (!m.empty() && (m.back() == '\n' || m.back() == ' ')) m.pop_back();
    return m.empty() ? "no answer from the server" : m;
}

std::int64_t PgResult::Affected() const {
    if (!r_) return 0;
    return std::atoll(PQcmdTuples(r_.get()));
}

PgParams& PgParams::Add(double v) {
    char buf[32];
    // Shortest round-trip text: the server reads back the same double.
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    values_.emplace_back(std::string(buf, r.ptr));
    return *this;
}

PgParams& PgParams::AddBytes(const std::vector<std::uint8_t>& bytes) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string s = "\\x";
    s.reserve(2 + bytes.size() * 2);
    for (std::uint8_t b : bytes) {
        s += kHex[b >> 4];
        s += kHex[b & 0xF];
    }
    values_.emplace_back(std::move(s));
    return *this;
}

PgResult PgExec(PGconn* conn, const std::string& sql, const PgParams& params) {
    // Without parameters, the simple protocol: it takes several statements
    // at once (creating the tables) and costs one round trip.
    if (params.Values().empty()) return PgResult(PQexec(conn, sql.c_str()));
    std::vector<const char*> values;
    values.reserve(params.Values().size());
    for (const auto& v : params.Values()) values.push_back(v ? v->c_str() : nullptr);
    return PgResult(PQexecParams(conn, sql.c_str(), static_cast<int>(values.size()), nullptr, values.data(), nullptr,
                                 nullptr, 0));
}

}  // namespace dorvane::book
