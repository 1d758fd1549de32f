// libFuzzer target: the reader of the bill settings file "bill.conf". Any
// bytes are either refused or give settings whose written text (when every
// value is one the file can hold) reads back to the same settings.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "book/bill_settings.h"

namespace {

void Check(bool ok) {
    if (!ok) __builtin_trap();
}

bool Same(const dorvane::book::BillSettings& a, const dorvane::book::BillSettings& b) {
    return a.currency == b.currency && a.sellerName == b.sellerName && a.sellerAddress == b.sellerAddress &&
           a.sellerPhone == b.sellerPhone && a.others == b.others;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    dorvane::book::BillSettings s;
    if (!dorvane::book::ParseBillSettings(text, "bill.conf", s).ok()) return 0;
    std::string written;
    if (!dorvane::book::FormatBillSettings(s, written).ok()) return 0;
    dorvane::book::BillSettings again;
    Check(dorvane::book::ParseBillSettings(written, "bill.conf", again).ok());
    Check(Same(s, again));
    return 0;
}
