#include "sim_process.h"

namespace dorvane::test {

namespace {
constexpr int kStartMs = 5000;
}

CSimProcess::CSimProcess(const QString& folder, const QStringList& options) {
    process_.setProcessChannelMode(QProcess::SeparateChannels);
    process_.start(QStringLiteral(DORVANE_BINARY_DIR "/bin/dorvane-sim"),
                   QStringList{folder, QStringLiteral("--exit-on-stdin-eof")} + options);
    if (!process_.waitForStarted(kStartMs)) return;
    // The first line is "PTY /dev/pts/N" or "FIFO <folder>".
    while (!process_.canReadLine() && process_.waitForReadyRead(kStartMs)) {
    }
    const QString line = QString::fromUtf8(process_.readLine()).trimmed();
    if (line.startsWith(QStringLiteral("PTY ")))
        pty_ = line.mid(4);
    else if (line.startsWith(QStringLiteral("FIFO ")))
        pty_ = line.mid(5);
}

CSimProcess::~CSimProcess() {
    process_.closeWriteChannel();
    if (!process_.waitForFinished(kStartMs)) {
        process_.kill();
        process_.waitForFinished(kStartMs);
    }
}

}  // namespace dorvane::test
