// libFuzzer target: the reader of the settings file "Dorvane.cfg". Any bytes
// either fail to decode or give settings that encode back to a file no
// longer than the input, which decodes to the same settings.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "transfer/settings_file.h"

namespace {

void Check(bool ok) {
    if (!ok) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::uint8_t> bytes(data, data + size);
    const auto s = dorvane::DecodeSettings(bytes);
    if (!s) return 0;
    Check(s->linkType == dorvane::LinkType::kSerial || s->linkType == dorvane::LinkType::kUsb);
    Check(s->portName.size() + s->computerFolder.size() <= size);
    const auto encoded = dorvane::EncodeSettings(*s);
    Check(encoded.size() <= size);
    const auto again = dorvane::DecodeSettings(encoded);
    Check(again.has_value() && *again == *s);
    return 0;
}
