#pragma once
// Text for the emulator's trace: one decoded frame per line. Pure functions,
// deterministic (no times, no locale), thread-safe.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "protocol/frame.h"

namespace dorvane {

/// A short word for a decoder error ("length", "check", ...).
const char* FrameErrorName(FrameError e);

/// Name bytes quoted for a trace line: printable ASCII as is, every other
/// byte (GBK included) as \xNN.
std::string QuoteBytes(std::string_view bytes);

/// A summary of the payload of a frame with `command`: the request's name,
/// a block's header, a window's list, an answer's code.
std::string DescribePayload(std::uint8_t command, std::span<const std::uint8_t> payload);

}  // namespace dorvane
