#pragma once
// Fixes the local time zone (TZ) for a test's time texts and puts the old one
// back afterwards.

#include <cstdlib>
#include <ctime>
#include <string>

namespace dorvane::test {

class ZoneGuard {
public:
    explicit ZoneGuard(const char* tz) {
        if (const char* old = std::getenv("TZ")) old_ = old, had_ = true;
        ::setenv("TZ", tz, 1);
        ::tzset();
    }
    ~ZoneGuard() {
        if (had_)
            ::setenv("TZ", old_.c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }
    ZoneGuard(const ZoneGuard&) = delete;
    ZoneGuard& operator=(const ZoneGuard&) = delete;

private:
    std::string old_;
    bool had_ = false;
};

}  // namespace dorvane::test
