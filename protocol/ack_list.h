#pragma once
// CACKList: a bit list of blocks (sent, acknowledged or received), least
// significant bit first. The unused bits of the last byte are set on Create so
// that completeness can be tested on whole bytes.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace dorvane {

class CACKList {
public:
    CACKList() = default;
    virtual ~CACKList() = default;
    CACKList(const CACKList&) = default;
    CACKList& operator=(const CACKList&) = default;

    /// Allocates count / 8 + 1 bytes, all blocks clear. Ignored when created.
    void Create(std::uint32_t count);
    /// Frees the storage; the list is "not created" again.
    void Release();
    bool IsCreated() const { return created_; }

    /// Bit operations; out-of-range bits (n >= count) and an uncreated list
    /// are left alone, Test returns false for them.
    void Set(std::uint32_t n);
    void Toggle(std::uint32_t n);
    bool Test(std::uint32_t n) const;

    /// Every bit of every byte set; true when not created (callers that must
    /// not take an uncreated list for a complete one check IsCreated first).
    bool Complete() const;
    /// Number of set bits among blocks 0 .. count-1.
    std::uint32_t CountSet() const;
    /// The block count, 0 when not created.
    std::uint32_t Count() const { return created_ ? count_ : 0; }
    /// Lowest clear block; false when there is none.
    bool FirstClear(std::uint32_t& out) const;
    /// Lowest clear block above `from` (at or above with `inclusive`).
    bool NextClear(std::uint32_t from, std::uint32_t& out, bool inclusive) const;

private:
    std::vector<std::uint8_t> bits_;
    bool created_ = false;
    std::uint32_t count_ = 0;
};

}  // namespace dorvane
