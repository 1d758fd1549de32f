#pragma once
// A growable, seekable in-memory byte stream. The protocol engine reads the
// blocks it sends from one and writes the blocks it receives into one; the
// transport hands the received bytes on when a download is complete.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace dorvane {

class CMemStream {
public:
    /// Default growth step when the stream has to grow (bytes).
    static constexpr std::size_t kDefaultGrowStep = 1024;

    explicit CMemStream(std::size_t growStep = kDefaultGrowStep) : growStep_(growStep ? growStep : 1) {}

    /// Writes `data` at the current position, growing the stream as needed;
    /// a position past the end fills the gap with zero bytes. Advances the position.
    void Write(std::span<const std::uint8_t> data);
    /// Writes at an absolute offset without moving the position.
    void WriteAt(std::uint64_t offset, std::span<const std::uint8_t> data);
    /// Reads up to out.size() bytes from the current position; returns the count read.
    std::size_t Read(std::span<std::uint8_t> out);
    /// Reads up to out.size() bytes at an absolute offset; returns the count read.
    std::size_t ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) const;

    void Seek(std::uint64_t pos) { pos_ = pos; }
    std::uint64_t Position() const { return pos_; }
    std::uint64_t Size() const { return data_.size(); }
    /// Cuts or extends (with zero bytes) the content to `size` bytes.
    void SetSize(std::uint64_t size);
    void Clear() { data_.clear(); pos_ = 0; }

    const std::vector<std::uint8_t>& Bytes() const { return data_; }
    std::vector<std::uint8_t> TakeBytes() { pos_ = 0; return std::move(data_); }
    void Assign(std::vector<std::uint8_t> bytes) { data_ = std::move(bytes); pos_ = 0; }

private:
    void Reserve(std::uint64_t size);

    std::vector<std::uint8_t> data_;
    std::uint64_t pos_ = 0;
    std::size_t growStep_;
};

}  // namespace dorvane
