// The hand-off of a file from a second start of the program to the running
// copy: the real local socket, the sender on a thread of its own (it blocks
// on its answer) and the receiver on this test's event loop.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QLocalSocket>
#include <QTemporaryDir>
#include <QTest>
#include <cstring>
#include <filesystem>
#include <future>
#include <string>

#include "ui/file_handoff.h"

using namespace dorvane;

class TestFileHandOff : public QObject {
    Q_OBJECT

private:
    QTemporaryDir dir_;
    std::filesystem::path Socket() const {
        return std::filesystem::path(dir_.path().toStdString()) / "s";
    }

    // Sends `file` from another thread while this one runs the event loop;
    // returns what the sender said.
    static bool SendWhileServing(const std::filesystem::path& socket, const std::string& file) {
        auto sent =
            std::async(std::launch::async, [=] { return HandFileToRunningCopy(socket, file); });
        while (sent.wait_for(std::chrono::milliseconds(5)) != std::future_status::ready)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        return sent.get();
    }

private slots:
    void pathsAsTheRunningCopySeesThem_data() {
        QTest::addColumn<QString>("given");
        QTest::addColumn<QString>("cwd");
        QTest::addColumn<bool>("taken");
        QTest::addColumn<QString>("received");
        QTest::newRow("absolute") << "/home/u/fields/north.gpx"
                                  << "/" << true << "/home/u/fields/north.gpx";
        QTest::newRow("relative, against the sender's folder")
            << "north.gpx"
            << "/tmp" << true << "/tmp/north.gpx";
        QTest::newRow("dots taken out") << "../tmp/./a b.kml"
                                        << "/usr" << true << "/tmp/a b.kml";
        QTest::newRow("Chinese name") << "/田/东地.kml"
                                      << "/" << true << "/田/东地.kml";
        QTest::newRow("a newline would end the message early") << "/a\nb.gpx"
                                                               << "/" << false << "";
        QTest::newRow("longer than any path")
            << "/" + QString(5000, QLatin1Char('x')) << "/" << false << "";
    }
    void pathsAsTheRunningCopySeesThem() {
        QFETCH(QString, given);
        QFETCH(QString, cwd);
        QFETCH(bool, taken);
        QFETCH(QString, received);
        QStringList got;
        CFileHandOffServer server([&got](const QString& p) { got << p; });
        QVERIFY(server.Listen(Socket()));
        const QString before = QDir::currentPath();
        QVERIFY(QDir::setCurrent(cwd));
        const bool said = SendWhileServing(Socket(), given.toStdString());
        QDir::setCurrent(before);
        QCOMPARE(said, taken);
        QCOMPARE(got, taken ? QStringList{received} : QStringList{});
    }

    void nobodyListeningIsAFailureNotAWait() {
        QElapsedTimer clock;
        clock.start();
        QVERIFY(!HandFileToRunningCopy(Socket(), "/a.gpx"));
        QVERIFY2(clock.elapsed() < kHandOffWaitMs, "no socket: the sender must not wait");
    }

    void aSocketLeftByACrashedCopyIsReplaced() {
        // What a crash leaves: the socket file, bound once, nobody behind it.
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        QVERIFY(fd >= 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, Socket().c_str(), sizeof address.sun_path - 1);
        QVERIFY(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0);
        ::close(fd);
        QVERIFY(std::filesystem::exists(Socket()));
        QVERIFY(!HandFileToRunningCopy(Socket(), "/x.gpx"));
        QStringList got;
        CFileHandOffServer server([&got](const QString& p) { got << p; });
        QVERIFY(server.Listen(Socket()));
        QVERIFY(SendWhileServing(Socket(), "/x.gpx"));
        QCOMPARE(got, QStringList{"/x.gpx"});
    }

    void strangersAreDroppedAndTheNextSenderServed() {
        QStringList got;
        CFileHandOffServer server([&got](const QString& p) { got << p; });
        QVERIFY(server.Listen(Socket()));
        const QString name = QString::fromStdString(Socket().string());
        // A line that is not an absolute path: refused, nothing opened.
        QLocalSocket relative;
        relative.connectToServer(name);
        QVERIFY(relative.waitForConnected(1000));
        relative.write("north.gpx\n");
        QTRY_VERIFY(relative.canReadLine());
        QCOMPARE(relative.readLine(), QByteArray("no\n"));
        // Bytes without a newline past the limit: the connection is closed.
        QLocalSocket flood;
        flood.connectToServer(name);
        QVERIFY(flood.waitForConnected(1000));
        flood.write(QByteArray(kHandOffMaxBytes + 10, 'x'));
        QTRY_COMPARE(flood.state(), QLocalSocket::UnconnectedState);
        // A peer that connects and says nothing does not block the next one.
        QLocalSocket silent;
        silent.connectToServer(name);
        QVERIFY(silent.waitForConnected(1000));
        QVERIFY(SendWhileServing(Socket(), "/after.kml"));
        QCOMPARE(got, QStringList{"/after.kml"});
    }
};

QTEST_MAIN(TestFileHandOff)
#include "test_file_handoff.moc"
