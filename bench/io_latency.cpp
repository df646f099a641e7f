// IO link latency against the board simulator on a pseudo-terminal.
//
//   input:  "set 1 x" written to the simulator -> the edge seen by IOInTrigger
//   output: IOFlashOut                         -> the simulator's "out" line
//
// Baseline in the same run: the same link without the station's thread — a
// bare loop on a second simulator that polls at the board's own period
// (5 ms), waits for each reply, and sends the output word at the next poll
// when the board reports another. What the station adds is the ratio. Every
// wait is bounded; a change not seen in 2 s ends the run with a message.
#include "ControlPort.h"
#include "Globals.h"
#include "IoProtocol.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

QElapsedTimer clk;
double nowMs() { return clk.nsecsElapsed() / 1e6; }
constexpr double kTimeoutMs = 2000;

struct Stats {
    double median, p99;
};
Stats stats(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return {v[v.size() / 2], v[std::min(v.size() - 1, size_t(v.size() * 0.99))]};
}

struct Sim {
    QProcess proc;
    QString device;
    QByteArray pending;
    bool start()
    {
        proc.start(STATION_IOBOARD_SIM, {"--pty"});
        if (!proc.waitForStarted(5000) || !proc.waitForReadyRead(5000))
            return false;
        device = QString::fromUtf8(proc.readLine()).trimmed();
        return !device.isEmpty();
    }
    void send(const char* line)
    {
        proc.write(line);
        proc.waitForBytesWritten(1000);
    }
    // Waits (bounded) for an "out" line with this word; false on time-out.
    bool waitOut(int word, double since)
    {
        const QByteArray want = QByteArray("0x") + QByteArray::number(word, 16).rightJustified(3, '0');
        while (nowMs() - since < kTimeoutMs) {
            proc.waitForReadyRead(1);
            pending += proc.readAllStandardOutput();
            int nl;
            while ((nl = pending.indexOf('\n')) >= 0) {
                const QByteArray line = pending.left(nl);
                pending.remove(0, nl + 1);
                if (line.startsWith("out ") && line.endsWith(want))
                    return true;
            }
        }
        return false;
    }
    ~Sim()
    {
        if (proc.state() == QProcess::Running) {
            proc.write("quit\n");
            if (!proc.waitForFinished(2000))
                proc.kill();
        }
    }
};

// The bare link: one poll every 5 ms, each waiting up to 5 ms for its reply.
class BarePoller {
public:
    explicit BarePoller(const QString& device)
    {
        m_fd = ::open(device.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (m_fd >= 0) {
            termios t{};
            tcgetattr(m_fd, &t);
            cfmakeraw(&t);
            tcsetattr(m_fd, TCSANOW, &t);
            m_thread = std::thread([this] { run(); });
        }
    }
    ~BarePoller()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        if (m_fd >= 0)
            ::close(m_fd);
    }
    bool ok() const { return m_fd >= 0; }
    int inputs() const { return m_in; }
    void setOutputs(int w) { m_want = w; }

private:
    void run()
    {
        io::ReportParser parser;
        auto next = std::chrono::steady_clock::now();
        while (!m_stop) {
            const QByteArray cmd = io::commandFrame(io::CmdReadInputs, 0);
            if (::write(m_fd, cmd.constData(), size_t(cmd.size())) < 0)
                break;
            bool answered = false;
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(5);
            int reported = -1;
            while (!answered && std::chrono::steady_clock::now() < deadline) {
                pollfd p{m_fd, POLLIN, 0};
                poll(&p, 1, 1);
                char buf[64];
                const ssize_t r = ::read(m_fd, buf, sizeof buf);
                if (r > 0) {
                    parser.append(buf, int(r));
                    parser.parse([&](const io::Report& rep) {
                        if (rep.type == io::CmdReadInputs) {
                            m_in = rep.inputWord();
                            reported = rep.outputWord();
                            answered = true;
                        }
                    });
                }
            }
            if (reported >= 0 && reported != m_want) {
                const QByteArray set = io::commandFrame(io::CmdSetOutputs, m_want);
                if (::write(m_fd, set.constData(), size_t(set.size())) < 0)
                    break;
            }
            next += std::chrono::milliseconds(5);
            std::this_thread::sleep_until(next);
        }
    }
    int m_fd = -1;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_in{0}, m_want{0};
    std::thread m_thread;
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int n = argc > 1 ? std::max(10, atoi(argv[1])) : 1000;
    clk.start();
    createGlobalLocks();

    Sim station, bare;
    if (!station.start() || !bare.start()) {
        std::fprintf(stderr, "bench: the board simulator did not start\n");
        return 1;
    }
    ControlPort port({}, station.device);
    BarePoller poller(bare.device);
    if (!poller.ok()) {
        std::fprintf(stderr, "bench: cannot open %s\n", qPrintable(bare.device));
        return 1;
    }
    QThread::msleep(200);

    // Input changes, through the station and through the bare link.
    std::vector<double> in, inBare;
    for (int i = 0; i < n; ++i) {
        const int level = (i + 1) % 2;
        const char* cmd = level ? "set 1 1\n" : "set 1 0\n";
        double t0 = nowMs();
        station.send(cmd);
        bool seen = false;
        while (!seen && nowMs() - t0 < kTimeoutMs) {
            const bool edge = port.IOInTrigger(0);
            seen = level ? edge : port.IOState(0, 0) == 0;
            if (!seen)
                QThread::usleep(200);
        }
        if (!seen) {
            std::fprintf(stderr, "bench: input change %d not seen by the station\n", i);
            return 1;
        }
        in.push_back(nowMs() - t0);
        t0 = nowMs();
        bare.send(cmd);
        while ((poller.inputs() & 1) != level) {
            if (nowMs() - t0 > kTimeoutMs) {
                std::fprintf(stderr, "bench: input change %d not seen by the bare link\n", i);
                return 1;
            }
            QThread::usleep(200);
        }
        inBare.push_back(nowMs() - t0);
    }

    // Output changes.
    std::vector<double> out, outBare;
    for (int i = 0; i < n; ++i) {
        const int word = (i % 2) ? 0x000 : 0x005;
        port.IOSetOut(0, word & 1);
        port.IOSetOut(2, (word >> 2) & 1);
        double t0 = nowMs();
        port.IOFlashOut();
        if (!station.waitOut(word, t0)) {
            std::fprintf(stderr, "bench: output change %d not seen at the station's board\n", i);
            return 1;
        }
        out.push_back(nowMs() - t0);
        t0 = nowMs();
        poller.setOutputs(word);
        if (!bare.waitOut(word, t0)) {
            std::fprintf(stderr, "bench: output change %d not seen at the bare link's board\n", i);
            return 1;
        }
        outBare.push_back(nowMs() - t0);
    }

    const Stats si = stats(in), so = stats(out), bi = stats(inBare), bo = stats(outBare);
    std::printf("changes per direction: %d\n", n);
    std::printf("input   bare 5-ms link    median %7.3f ms  p99 %7.3f ms\n", bi.median, bi.p99);
    std::printf("input   station           median %7.3f ms  p99 %7.3f ms  ratio %5.2f\n", si.median, si.p99,
                si.median / bi.median);
    std::printf("output  bare 5-ms link    median %7.3f ms  p99 %7.3f ms\n", bo.median, bo.p99);
    std::printf("output  station           median %7.3f ms  p99 %7.3f ms  ratio %5.2f\n", so.median, so.p99,
                so.median / bo.median);
    return 0;
}
