#pragma once
// Hand-off of a file to the copy of the program that already runs: opening a
// GPX or KML from the file manager while Dorvane runs starts a second copy,
// which the single-instance lock ends at once. Before it ends, it passes the
// file's path over a local socket next to the lock, and the running copy
// shows the file in its field view.
//
// The socket lives in the per-user runtime folder the lock uses (private to
// the user), so only the user's own programs can reach it. One message per
// connection: the absolute path in UTF-8, ended by a newline.

#include <QObject>
#include <QString>
#include <filesystem>
#include <functional>
#include <string>

class QLocalServer;
class QLocalSocket;

namespace dorvane {

/// Longest message the running copy accepts (a path of PATH_MAX bytes and
/// its newline); a longer one closes the connection unread.
inline constexpr qint64 kHandOffMaxBytes = 4097;
/// How long the second copy waits to connect and to be read (ms).
inline constexpr int kHandOffWaitMs = 2000;

/// The running copy's end. GUI thread only; never blocks.
class CFileHandOffServer : public QObject {
public:
    /// `onFile` is called on the GUI thread with each path a second copy
    /// sent (absolute, as it sent it).
    explicit CFileHandOffServer(std::function<void(const QString&)> onFile,
                                QObject* parent = nullptr);
    ~CFileHandOffServer() override;

    /// Listens on `socketPath`, replacing a socket a crashed copy left behind
    /// (the caller holds the single-instance lock, so none is alive). False
    /// when the socket cannot be made; the program runs on without hand-off.
    bool Listen(const std::filesystem::path& socketPath);

private:
    void Accept();
    void ReadFrom(QLocalSocket* socket);

    std::function<void(const QString&)> onFile_;
    QLocalServer* server_;
};

/// The second copy's end: sends `file` (made absolute against the current
/// folder) to the copy listening on `socketPath`. Blocks up to about twice
/// kHandOffWaitMs. True once the running copy has taken the whole message.
bool HandFileToRunningCopy(const std::filesystem::path& socketPath, const std::string& file);

}  // namespace dorvane
