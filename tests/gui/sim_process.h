#pragma once
// Starts dorvane-sim on a folder over a pty for a test and ends it with the
// test: its standard input is a pipe that the destructor closes, and the
// emulator runs with --exit-on-stdin-eof, so no emulator outlives the test.

#include <QProcess>
#include <QString>
#include <QStringList>

namespace dorvane::test {

class CSimProcess {
public:
    /// Starts the emulator serving `folder` with extra `options`; Pty() is
    /// empty when it did not start. With "--fifo DIR" among the options the
    /// emulator serves the FIFO folder (the USB stand-in) and Pty() is DIR.
    CSimProcess(const QString& folder, const QStringList& options = {});
    ~CSimProcess();
    QString Pty() const { return pty_; }

private:
    QProcess process_;
    QString pty_;
};

}  // namespace dorvane::test
