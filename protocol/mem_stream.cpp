#include "protocol/mem_stream.h"

#include <algorithm>
#include <cstring>

namespace dorvane {

void CMemStream::Reserve(std::uint64_t size) {
    if (size <= data_.capacity()) return;
    // Grow in whole steps, at least doubling, so appending blocks stays linear.
    std::uint64_t want = ((size + growStep_ - 1) / growStep_) * growStep_;
    want = std::max<std::uint64_t>(want, data_.capacity() * 2);
    data_.reserve(static_cast<std::size_t>(want));
}

void CMemStream::WriteAt(std::uint64_t offset, std::span<const std::uint8_t> data) {
    if (data.empty()) return;
    const std::uint64_t end = offset + data.size();
    if (end > data_.size()) {
        Reserve(end);
        data_.resize(static_cast<std::size_t>(end), 0);
    }
    std::memcpy(data_.data() + offset, data.data(), data.size());
}

void CMemStream::Write(std::span<const std::uint8_t> data) {
    WriteAt(pos_, data);
    pos_ += data.size();
}

std::size_t CMemStream::ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) const {
    if (offset >= data_.size()) return 0;
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(out.size(), data_.size() - offset));
    if (n) std::memcpy(out.data(), data_.data() + offset, n);
    return n;
}

std::size_t CMemStream::Read(std::span<std::uint8_t> out) {
    const std::size_t n = ReadAt(pos_, out);
    pos_ += n;
    return n;
}

void CMemStream::SetSize(std::uint64_t size) {
    Reserve(size);
    data_.resize(static_cast<std::size_t>(size), 0);
    pos_ = std::min(pos_, size);
}

}  // namespace dorvane
