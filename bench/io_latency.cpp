// IO link latency against the board simulator on a pseudo-terminal.
//
//   input:  "set 1 x" written to the simulator -> the edge seen by IOInTrigger
//   output: IOFlashOut                         -> the simulator's "out" line
//
// Baseline in the same run: 8 bytes through a bare pseudo-terminal and back,
// the floor any serial link on this machine has. Prints median and 99th
// percentile of each, and the ratio to the baseline median.
#include "ControlPort.h"
#include "Globals.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

QElapsedTimer clk;
double nowMs() { return clk.nsecsElapsed() / 1e6; }

struct Stats {
    double median, p99;
};
Stats stats(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return {v[v.size() / 2], v[std::min(v.size() - 1, size_t(v.size() * 0.99))]};
}

std::vector<double> baseline(int n)
{
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    grantpt(master);
    unlockpt(master);
    const int slave = ::open(ptsname(master), O_RDWR | O_NOCTTY);
    termios t{};
    tcgetattr(slave, &t);
    cfmakeraw(&t);
    tcsetattr(slave, TCSANOW, &t);
    std::vector<double> out;
    const unsigned char frame[8] = {0x5F, 2, 0, 0, 0, 0, 0x61, 0xF5};
    for (int i = 0; i < n; ++i) {
        const double t0 = nowMs();
        if (::write(master, frame, 8) != 8)
            break;
        int got = 0;
        unsigned char buf[16];
        while (got < 8) {
            pollfd p{slave, POLLIN, 0};
            poll(&p, 1, 100);
            const ssize_t r = ::read(slave, buf, sizeof buf);
            if (r > 0)
                got += int(r);
        }
        out.push_back(nowMs() - t0);
    }
    ::close(slave);
    ::close(master);
    return out;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int n = argc > 1 ? std::max(10, atoi(argv[1])) : 1000;
    clk.start();
    createGlobalLocks();

    QProcess sim;
    sim.start(STATION_IOBOARD_SIM, {"--pty"});
    if (!sim.waitForStarted(5000) || !sim.waitForReadyRead(5000)) {
        std::fprintf(stderr, "bench: the board simulator did not start\n");
        return 1;
    }
    const QString device = QString::fromUtf8(sim.readLine()).trimmed();
    ControlPort port({}, device);
    QThread::msleep(200);

    // Input changes.
    std::vector<double> in;
    for (int i = 0; i < n; ++i) {
        const int level = (i + 1) % 2;
        const double t0 = nowMs();
        sim.write(level ? "set 1 1\n" : "set 1 0\n");
        sim.waitForBytesWritten(1000);
        bool seen = false;
        while (!seen && nowMs() - t0 < 2000) {
            const bool edge = port.IOInTrigger(0);
            seen = level ? edge : port.IOState(0, 0) == 0;
            if (!seen)
                QThread::usleep(200);
        }
        if (!seen) {
            std::fprintf(stderr, "bench: input change %d not seen\n", i);
            return 1;
        }
        in.push_back(nowMs() - t0);
    }

    // Output changes.
    std::vector<double> out;
    QByteArray pending;
    for (int i = 0; i < n; ++i) {
        const int word = (i % 2) ? 0x000 : 0x005;
        port.IOSetOut(0, word & 1);
        port.IOSetOut(2, (word >> 2) & 1);
        const double t0 = nowMs();
        port.IOFlashOut();
        const QByteArray want = QByteArray("0x") + QByteArray::number(word, 16).rightJustified(3, '0');
        bool seen = false;
        while (!seen && nowMs() - t0 < 2000) {
            sim.waitForReadyRead(1);
            pending += sim.readAllStandardOutput();
            int nl;
            while ((nl = pending.indexOf('\n')) >= 0) {
                const QByteArray line = pending.left(nl);
                pending.remove(0, nl + 1);
                if (line.startsWith("out ") && line.endsWith(want))
                    seen = true;
            }
        }
        if (!seen) {
            std::fprintf(stderr, "bench: output change %d not seen\n", i);
            return 1;
        }
        out.push_back(nowMs() - t0);
    }
    sim.write("quit\n");
    sim.waitForFinished(2000);

    const Stats b = stats(baseline(n));
    const Stats si = stats(in), so = stats(out);
    std::printf("changes per direction: %d\n", n);
    std::printf("baseline  pty round trip       median %7.3f ms  p99 %7.3f ms\n", b.median, b.p99);
    std::printf("input     set -> IOInTrigger    median %7.3f ms  p99 %7.3f ms  ratio %6.1f\n", si.median, si.p99,
                si.median / b.median);
    std::printf("output    IOFlashOut -> out     median %7.3f ms  p99 %7.3f ms  ratio %6.1f\n", so.median, so.p99,
                so.median / b.median);
    return 0;
}
