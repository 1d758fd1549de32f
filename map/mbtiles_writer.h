#pragma once
// Writing an MBTiles 1.x pack: the tiles of the area a user keeps for
// offline use. Written to "<path>.part" in one transaction and renamed into
// place by Commit(), so a cancelled or failed run leaves no half pack where
// a pack is expected (and an existing pack is replaced only by a whole
// one). Rows are stored the TMS way (row 0 south); callers give XYZ rows.
// Qt-free; one thread at a time.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "map/mbtiles_pack.h"

struct sqlite3;
struct sqlite3_stmt;

namespace dorvane::map {

class CMbtilesWriter {
public:
    ~CMbtilesWriter();
    CMbtilesWriter(const CMbtilesWriter&) = delete;
    CMbtilesWriter& operator=(const CMbtilesWriter&) = delete;

    /// Starts a pack for `path`; null with `error` set when the file cannot
    /// be made.
    static std::unique_ptr<CMbtilesWriter> Create(const std::string& path, std::string& error);

    /// Adds tile (z, x, y) (XYZ). False (with Error()) when it could not be written.
    bool Put(int z, int x, int y, const std::vector<std::uint8_t>& bytes);
    /// Writes `meta` (name, format, bounds, zooms, attribution), commits and
    /// moves the pack into place. False (with Error()) when any step failed;
    /// the part file is gone then.
    bool Commit(const PackMetadata& meta);
    const std::string& Error() const { return error_; }
    std::size_t Count() const { return count_; }

private:
    CMbtilesWriter() = default;
    bool Exec(const char* sql);

    std::string path_;
    std::string part_;
    sqlite3* db_ = nullptr;
    sqlite3_stmt* put_ = nullptr;
    std::string error_;
    std::size_t count_ = 0;
    bool committed_ = false;
};

}  // namespace dorvane::map
