// The station under a service manager: READY once up, watchdog pings from
// the cycle's tick, and no pings once the process is frozen.
#include "BoardSim.h"
#include "ParamDb.h"
#include "TestDir.h"
#include "WizardPara.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTest>
#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <csignal>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {
// The manager's end: a datagram socket in the test's directory.
struct NotifySocket {
    int fd = -1;
    QString path;
    explicit NotifySocket(const QString& p) : path(p)
    {
        fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        std::strncpy(a.sun_path, p.toLocal8Bit().constData(), sizeof a.sun_path - 1);
        if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            ::close(fd);
            fd = -1;
        }
    }
    ~NotifySocket()
    {
        if (fd >= 0)
            ::close(fd);
    }
    // Messages that arrive within ms.
    QList<QByteArray> read(int ms)
    {
        QList<QByteArray> got;
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < ms) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, int(std::max<qint64>(1, ms - t.elapsed()))) <= 0)
                continue;
            char buf[512];
            const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n > 0)
                got << QByteArray(buf, int(n));
        }
        return got;
    }
};

int countOf(const QList<QByteArray>& msgs, const QByteArray& what)
{
    int n = 0;
    for (const QByteArray& m : msgs)
        n += m.split('\n').contains(what);
    return n;
}
} // namespace

TEST(ServiceManager, ReadyThenPingsFromTheTickAndNoneWhileFrozen)
{
    TestDir dir;
    ASSERT_TRUE(dir.ok());
    {
        ASSERT_TRUE(paramdb::openAll({}));
        WizardPara wp;
        wp.LoadDatafromFile();
        wp.enable_cnt_net = 0;
        ASSERT_TRUE(wp.SaveDatatoFile());
        dropConnections();
    }
    QDir().mkpath(dir.file("replay"));
    ASSERT_TRUE(cv::imwrite(dir.file("replay/camera1.png").toStdString(), cv::Mat(240, 320, CV_8UC3, cv::Scalar(90, 90, 90))));
    NotifySocket manager(dir.file("notify.sock"));
    ASSERT_GE(manager.fd, 0);
    BoardSim board;
    ASSERT_TRUE(board.ok());

    QProcess station;
    QProcessEnvironment manage;
    manage.insert("NOTIFY_SOCKET", manager.path);
    manage.insert("WATCHDOG_USEC", "800000");  // a ping every 200 ms
    ASSERT_TRUE(startStation(station, dir.path(), board, manage));

    QList<QByteArray> msgs;
    QElapsedTimer t;
    t.start();
    while (countOf(msgs, "READY=1") == 0 && t.elapsed() < 30000)
        msgs << manager.read(200);
    ASSERT_EQ(countOf(msgs, "READY=1"), 1) << readText(dir.file("station.err")).toStdString();
    // Ready before any start-up question could wait for the operator.
    for (const QByteArray& m : msgs)
        if (m.contains("READY=1"))
            EXPECT_TRUE(m.contains("STATUS=starting")) << m.toStdString();
    while (countOf(msgs, "STATUS=detecting") == 0 && t.elapsed() < 30000)
        msgs << manager.read(200);
    EXPECT_EQ(countOf(msgs, "STATUS=detecting"), 1);
    EXPECT_EQ(countOf(msgs, "READY=1"), 1);

    EXPECT_GE(countOf(manager.read(2000), "WATCHDOG=1"), 6);
    // Frozen: the tick stops, so do the pings.
    ASSERT_EQ(::kill(pid_t(station.processId()), SIGSTOP), 0);
    manager.read(100);  // one that was already on its way
    EXPECT_EQ(countOf(manager.read(1500), "WATCHDOG=1"), 0);
    ASSERT_EQ(::kill(pid_t(station.processId()), SIGCONT), 0);
    EXPECT_GE(countOf(manager.read(1500), "WATCHDOG=1"), 3);

    station.terminate();
    EXPECT_TRUE(station.waitForFinished(10000));
}
