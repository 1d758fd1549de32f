#pragma once
// The one PostgreSQL server of a test program, started on first use and
// stopped when the program ends (the watchdog in pg_server.h stops it if the
// program dies instead), and the two stores the book's cases run against.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "pg_server.h"

namespace dorvane::book {

enum class StoreKind { kGpkg, kPg };

inline std::string StoreName(const ::testing::TestParamInfo<StoreKind>& info) {
    return info.param == StoreKind::kPg ? "PostgreSQL" : "GeoPackage";
}

struct PgServerHolder {
    std::unique_ptr<testing::PgServer> server;
    std::string error;
    bool tried = false;
};

inline PgServerHolder& PgHolder() {
    static PgServerHolder holder;
    if (!holder.tried) {
        holder.tried = true;
        auto s = std::make_unique<testing::PgServer>();
        if (s->Start(holder.error)) holder.server = std::move(s);
    }
    return holder;
}

/// The running server, or null (ServerError() says why).
inline testing::PgServer* Server() { return PgHolder().server.get(); }
inline std::string ServerError() { return "the test server did not start: " + PgHolder().error; }

}  // namespace dorvane::book
