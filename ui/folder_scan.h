#pragma once
// Reading a folder of the computer for the computer pane, and the local-time
// text of its rows. Both are built for large folders: one readdir pass and
// one stat per entry, and a time text that does not ask the time-zone
// machinery for every file. GUI thread (or any one thread: no shared state).

#include <QString>

#include <cstdint>
#include <unordered_map>
#include <vector>

namespace dorvane {

/// Turns UTC seconds since 1970 into the local "yyyy-MM-dd HH:mm" text.
/// The local offset is asked once per quarter hour of UTC time (every time
/// zone changes its offset only on a quarter hour), and the text of each
/// minute is made once and shared, so a folder of files written together
/// costs little.
/// One object per listing: a change of the time zone meanwhile is seen by the
/// next listing.
class CLocalTimeText {
public:
    QString Text(std::int64_t utcSeconds);

private:
    std::unordered_map<std::int64_t, int> offsets_;  // quarter hour -> offset (s)
    std::unordered_map<std::int64_t, QString> minutes_;  // local minute -> its text
    std::int64_t lastMinute_ = 0;
    bool haveLast_ = false;
    QString lastText_;
};

/// One entry of a folder. `dir` follows symbolic links (a link to a folder is
/// a folder); a link that leads nowhere is a file with the link's own size
/// and time.
struct FolderEntry {
    QString name;
    bool dir = false;
    std::int64_t size = 0;
    std::int64_t mtime = 0;  ///< UTC seconds since 1970
};

/// Reads `folder`: every entry but "." and the dot files; ".." only when
/// `withParent`. Entries that vanish while the folder is read are skipped.
/// A large folder's stat calls are shared by a few helper threads, all
/// joined before it returns; the entries keep the folder's own order.
/// An unreadable folder gives an empty list and false.
bool ScanFolder(const QString& folder, bool withParent, std::vector<FolderEntry>& out);

}  // namespace dorvane
