// The guard process: silent while the station lives, the board's last word
// once the station is gone, nothing after an orderly close.
#include "BoardSim.h"
#include "ControlPort.h"
#include "IoProtocol.h"
#include "PortGuard.h"
#include "TestDir.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTest>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace {

// A socket pair plays the serial port: the guard gets one end, the test is the board.
struct FakePort {
    int fd[2] = {-1, -1};
    FakePort() { ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fd); }
    ~FakePort()
    {
        for (int f : fd)
            if (f >= 0)
                ::close(f);
    }
    int guardEnd() const { return fd[1]; }
    // Bytes the guard wrote to the board, waiting up to ms for the first.
    QByteArray take(int ms)
    {
        QByteArray got;
        pollfd p{fd[0], POLLIN, 0};
        while (::poll(&p, 1, got.isEmpty() ? ms : 0) > 0) {
            char buf[256];
            const ssize_t n = ::read(fd[0], buf, sizeof buf);
            if (n <= 0)
                break;
            got.append(buf, int(n));
        }
        return got;
    }
    void answer(const QByteArray& frame) { ASSERT_EQ(::write(fd[0], frame.constData(), size_t(frame.size())), frame.size()); }
};

// The guard started by hand, as the station starts it, with the test as the station.
struct GuardProc {
    QProcess proc;
    int link[2] = {-1, -1};
    bool start(int portFd, const QString& log)
    {
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, link) != 0)
            return false;
        const int child = link[1];
        proc.setChildProcessModifier([portFd, child] {
            ::dup2(portFd, 3);
            ::dup2(child, 4);
            // As the station starts it: the stop signals held until the guard has its handlers.
            sigset_t stops;
            sigemptyset(&stops);
            sigaddset(&stops, SIGTERM);
            sigaddset(&stops, SIGINT);
            sigaddset(&stops, SIGHUP);
            sigprocmask(SIG_BLOCK, &stops, nullptr);
        });
        proc.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        proc.start(PortGuard::program(), {"--port-fd", "3", "--link-fd", "4", "--log", log, "--port", "fake"});
        ::close(link[1]);
        link[1] = -1;
        return proc.waitForStarted(5000);
    }
    void say(const QByteArray& line) { ASSERT_EQ(::send(link[0], line.constData(), size_t(line.size()), MSG_NOSIGNAL), line.size()); }
    // The station is gone (however): the link ends without a close.
    void die()
    {
        ::close(link[0]);
        link[0] = -1;
    }
    ~GuardProc()
    {
        if (link[0] >= 0)
            ::close(link[0]);
        if (proc.state() != QProcess::NotRunning) {
            proc.kill();
            proc.waitForFinished(2000);
        }
    }
};

QList<int> setWords(const QByteArray& bytes)
{
    QList<int> words;
    for (int i = 0; i + io::kCommandLen <= bytes.size(); i += io::kCommandLen) {
        const auto* f = reinterpret_cast<const unsigned char*>(bytes.constData() + i);
        if (f[0] == io::kFrameStart && f[1] == io::CmdSetOutputs && f[5] == io::kFrameEnd)
            words << (f[2] | f[3] << 8);
    }
    return words;
}

} // namespace

TEST(Guard, IsFoundAndReportsWhyWhenMissing)
{
    EXPECT_FALSE(PortGuard::program().isEmpty()) << "the test programs run with the station's guard";
    const QByteArray kept = qgetenv("STATION_GUARD");
    qputenv("STATION_GUARD", "/nonexistent/station-guard");
    PortGuard g;
    QString why;
    FakePort port;
    EXPECT_FALSE(g.start(port.guardEnd(), "fake", {}, &why));
    EXPECT_TRUE(why.contains("no station-guard program")) << why.toStdString();
    qputenv("STATION_GUARD", kept);
}

TEST(Guard, SilentWhileTheStationLivesAndGoneAfterAnOrderlyClose)
{
    FakePort port;
    PortGuard g;
    QString why;
    ASSERT_TRUE(g.start(port.guardEnd(), "fake", {}, &why)) << why.toStdString();
    const pid_t pid = g.pid();
    for (int w = 0; w < 2000; ++w)
        g.tell(0x100 | (w & 0xFF));
    // Ends in order: the guard is reaped within release(), so anything it wrote is there now.
    g.release();
    EXPECT_EQ(::kill(pid, 0), -1) << "the guard outlived an orderly close";
    EXPECT_TRUE(port.take(0).isEmpty()) << "the guard wrote while the station lived or after an orderly close";
}

TEST(Guard, WritesTheLastWordWhenTheStationIsGoneAndWaitsForTheBoard)
{
    TestDir dir;
    const QString log = dir.file("text.log");
    FakePort port;
    GuardProc guard;
    ASSERT_TRUE(guard.start(port.guardEnd(), log));
    guard.say("W 0f1\n");
    guard.say("W 0f5\n");
    // A stop signal while the station lives ends nothing and writes nothing.
    ASSERT_EQ(::kill(pid_t(guard.proc.processId()), SIGTERM), 0);
    guard.say("W 1f5\n");
    guard.die();
    // The last word told, in the board's frame, until the board reports it.
    const QByteArray first = port.take(5000);
    ASSERT_FALSE(first.isEmpty()) << "the guard wrote nothing once the station was gone";
    const QList<int> words = setWords(first);
    ASSERT_FALSE(words.isEmpty());
    EXPECT_EQ(words.first(), 0x1f5);
    for (int w : words)
        EXPECT_EQ(w, 0x1f5);
    port.answer(io::inputReport(0x00f, 0x1f5));
    ASSERT_TRUE(guard.proc.waitForFinished(5000));
    EXPECT_EQ(guard.proc.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(guard.proc.exitCode(), 0);
    const QString text = readText(log);
    EXPECT_EQ(text.count('\n'), 1) << text.toStdString();
    EXPECT_TRUE(text.contains("wrote 0x1f5 (clamping prohibited), held by the board after")) << text.toStdString();
}

TEST(Guard, ABoardThatNeverConfirmsEndsTheWaitAndSaysSo)
{
    TestDir dir;
    const QString log = dir.file("text.log");
    FakePort port;
    GuardProc guard;
    ASSERT_TRUE(guard.start(port.guardEnd(), log));
    guard.say("W 0f5\n");
    guard.die();
    ASSERT_TRUE(guard.proc.waitForFinished(5000)) << "the wait for the board is bounded";
    EXPECT_EQ(guard.proc.exitCode(), 3);
    EXPECT_TRUE(setWords(port.take(0)).contains(0x0f5));
    EXPECT_TRUE(readText(log).contains("the board did not report it")) << readText(log).toStdString();
}

TEST(Guard, TenThousandPollsBesideALiveStationAndNoForeignFrame)
{
    // The station's own IO thread on the board simulator, its guard attached,
    // told a word the station itself never sends.
    TestDir dir;
    const QString log = dir.file("board.log");
    BoardSim sim({"--log", log});
    ASSERT_TRUE(sim.ok());
    qint64 guardPid = 0;
    {
        ControlPort port(ControlPort::Config{}, sim.device());
        ASSERT_TRUE(QTest::qWaitFor([&] { return port.ioThread()->guardPid() != 0; }, 10000));
        guardPid = port.ioThread()->guardPid();
        // Logical 5..9 on: a word only the guard could ever send.
        constexpr int kForeign = 0x1F0 | 1 | 4;
        port.setLastWord(kForeign);
        ASSERT_EQ(port.lastWord(), kForeign);
        quint64 next = 0;
        bool guardAlive = true;
        ASSERT_TRUE(QTest::qWaitFor([&] {
            // The station's own words change under it, as in production.
            if (port.ioThread()->polls() >= next) {
                port.IOSetOut(1, int(next / 100) & 1);
                port.IOFlashOut();
                next += 100;
            }
            guardAlive = ::kill(pid_t(guardPid), 0) == 0;
            return !guardAlive || port.ioThread()->polls() >= 10000;
        }, 300000));
        ASSERT_TRUE(guardAlive) << "the guard ended while the station lived";
    }
    EXPECT_NE(::kill(pid_t(guardPid), 0), 0) << "the guard outlived the port's orderly close";
    const QString frames = readText(log);
    ASSERT_TRUE(frames.contains("cmd ")) << "the board log is empty";
    EXPECT_FALSE(frames.contains(QStringLiteral(" 1 %1\n").arg(0x1F5))) << "a frame of the guard's word reached the board";
}

TEST(Guard, TheLastWordIsInTheBoardsPolarityAsTheStationsOwnWordsAre)
{
    // Every wiring: inverted outputs and output 4 copying another; the guard's
    // word must be what the station itself would send for the same logical outputs.
    for (int copy = 0; copy <= 3; ++copy)
        for (int inv = 0; inv < 512; inv += 37) {
            ControlPort::Config c;
            for (int k = 0; k < 9; ++k)
                c.outInvert[k] = (inv >> k) & 1;
            c.moldBackup = copy;
            ControlPort port(c, ControlPort::kDirect);
            for (int logical : {0x005, 0x007, 0x1f5, 0x004}) {
                port.IOResetAllOut();
                port.IOSetOut(3, (logical >> 3) & 1);
                for (int k = 0; k < 9; ++k)
                    if (k != 3)
                        port.IOSetOut(k, (logical >> k) & 1);
                EXPECT_EQ(ControlPort::physicalWord(c, logical), port.outputWord())
                    << "copy " << copy << " invert " << inv << " logical " << logical;
                EXPECT_EQ(port.logicalWord() & ~(copy ? 1 << 3 : 0), logical & ~(copy ? 1 << 3 : 0));
                port.setLastWord(logical);
                EXPECT_EQ(port.lastWord(), port.outputWord());
            }
        }
}

TEST(Guard, OutlivesEverySignalAStationsGroupMayGetAndWaitsForADeafBoard)
{
    TestDir dir;
    FakePort port;
    GuardProc guard;
    ASSERT_TRUE(guard.start(port.guardEnd(), dir.file("text.log")));
    guard.say("W 0f5\n");
    // In a session of its own: a signal to the station's process group is not its.
    const pid_t pid = pid_t(guard.proc.processId());
    ASSERT_TRUE(QTest::qWaitFor([&] { return ::getsid(pid) == pid; }, 5000));
    for (int s : {SIGQUIT, SIGABRT, SIGUSR1, SIGUSR2, SIGALRM, SIGTERM, SIGHUP, SIGINT})
        ASSERT_EQ(::kill(pid, s), 0);
    guard.say("W 1f5\n");  // heard after all of them
    guard.die();
    // A board deaf for a while (powering up): the guard keeps sending until it answers.
    QByteArray sent;
    ASSERT_TRUE(QTest::qWaitFor([&] {
        sent += port.take(50);
        return setWords(sent).size() >= 20;
    }, 10000)) << "the guard gave up on a deaf board";
    EXPECT_EQ(guard.proc.state(), QProcess::Running);
    for (int w : setWords(sent))
        EXPECT_EQ(w, 0x1f5);
    port.answer(io::inputReport(0, 0x1f5));
    ASSERT_TRUE(guard.proc.waitForFinished(5000));
    EXPECT_EQ(guard.proc.exitCode(), 0);
}

TEST(Guard, AStationEndingBeforeTheBoardConfirmedLeavesItsWordToTheGuard)
{
    TestDir dir;
    BoardSim sim;
    ASSERT_TRUE(sim.ok());
    // The line in a terminal's everyday settings (line-buffered, echoing): what the
    // station's closing of the port puts back under the guard.
    {
        const int fd = ::open(sim.device().toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
        ASSERT_GE(fd, 0);
        termios t{};
        ASSERT_EQ(::tcgetattr(fd, &t), 0);
        t.c_lflag |= ICANON | ECHO | ISIG;
        t.c_iflag |= ICRNL;
        t.c_oflag |= OPOST | ONLCR;
        ASSERT_EQ(::tcsetattr(fd, TCSANOW, &t), 0);
        ::close(fd);
    }
    qint64 guardPid = 0;
    {
        ControlPort port(ControlPort::Config{}, sim.device());
        ASSERT_TRUE(QTest::qWaitFor([&] { return port.ioThread()->guardPid() != 0; }, 10000));
        guardPid = port.ioThread()->guardPid();
        port.setLastWord(0x1F0 | 1 | 4);
        const quint64 told = port.ioThread()->polls() + 3;  // the guard hears the word on the next polls
        ASSERT_TRUE(QTest::qWaitFor([&] { return port.ioThread()->polls() >= told; }, 5000));
        // The board goes deaf (powering up) just as the station is told to stop.
        sim.send("silent 1200");
        ASSERT_TRUE(QTest::qWaitFor([&] { return gSilentPolls > 3; }, 5000));
        EXPECT_FALSE(port.publishLastWord(150));
    }
    // Back, the board gets the word from the guard, which then ends (reaped here: it was left to run).
    EXPECT_TRUE(sim.waitHeld(0x1F5, 6000)) << std::hex << sim.held();
    int status = -1;
    EXPECT_TRUE(QTest::qWaitFor([&] { return ::waitpid(pid_t(guardPid), &status, WNOHANG) == pid_t(guardPid); }, 6000));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    gLeaveToGuard = 0;
}
