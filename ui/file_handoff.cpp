#include "ui/file_handoff.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>

namespace dorvane {

namespace {

/// The running copy's answer once it has the whole path.
constexpr char kTakenReply[] = "ok\n";
constexpr char kRefusedReply[] = "no\n";
/// A connection that has not sent its line by then is dropped (ms): a peer
/// that connects and stays silent must not hold a socket for ever.
constexpr int kSilentPeerMs = 2 * kHandOffWaitMs;

}  // namespace

CFileHandOffServer::CFileHandOffServer(std::function<void(const QString&)> onFile, QObject* parent)
    : QObject(parent), onFile_(std::move(onFile)), server_(new QLocalServer(this)) {
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    connect(server_, &QLocalServer::newConnection, this, &CFileHandOffServer::Accept);
}

CFileHandOffServer::~CFileHandOffServer() {
    server_->close();  // removes the socket file
}

bool CFileHandOffServer::Listen(const std::filesystem::path& socketPath) {
    const QString name = QFile::decodeName(socketPath.c_str());
    QLocalServer::removeServer(name);
    return server_->listen(name);
}

void CFileHandOffServer::Accept() {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        socket->setReadBufferSize(kHandOffMaxBytes);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { ReadFrom(socket); });
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        QTimer::singleShot(kSilentPeerMs, socket, [socket] { socket->abort(); });
        ReadFrom(socket);  // the line may have come with the connection
    }
}

void CFileHandOffServer::ReadFrom(QLocalSocket* socket) {
    if (!socket->canReadLine()) {
        // No newline within the limit: not a message of ours.
        if (socket->bytesAvailable() >= kHandOffMaxBytes) socket->abort();
        return;
    }
    QByteArray line = socket->readLine(kHandOffMaxBytes + 1);
    line.chop(1);  // the newline
    // Only an absolute path: the sender made it so; anything else is not ours.
    const QString path = QFile::decodeName(line);
    const bool taken = path.startsWith(QLatin1Char('/'));
    socket->write(taken ? kTakenReply : kRefusedReply);
    socket->disconnectFromServer();  // after the reply is written
    if (taken && onFile_) onFile_(path);
}

bool HandFileToRunningCopy(const std::filesystem::path& socketPath, const std::string& file) {
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(file, error);
    if (error) return false;
    const std::string text = absolute.lexically_normal().string();
    // A newline would end the message early; the line and its end must fit.
    if (text.find('\n') != std::string::npos ||
        static_cast<qint64>(text.size()) + 1 > kHandOffMaxBytes)
        return false;

    QLocalSocket socket;
    socket.connectToServer(QFile::decodeName(socketPath.c_str()));
    if (!socket.waitForConnected(kHandOffWaitMs)) return false;
    socket.write(QByteArray::fromStdString(text + '\n'));
    if (!socket.waitForBytesWritten(kHandOffWaitMs)) return false;
    const QDeadlineTimer deadline(kHandOffWaitMs);
    while (!socket.canReadLine()) {
        if (deadline.hasExpired() ||
            !socket.waitForReadyRead(static_cast<int>(deadline.remainingTime())))
            return false;
    }
    return socket.readLine() == kTakenReply;
}

}  // namespace dorvane
