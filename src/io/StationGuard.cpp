// station-guard: the IO board's last word when the station ends without
// closing its port.
//
//   station-guard --port-fd N --link-fd M [--log FILE] [--port NAME]
//
// The station starts it right after opening the board's port, with a
// duplicate of the port's descriptor and one end of a socket pair. Over the
// socket the station sends lines:
//   W <hex>   the output word that prohibits everything, in the board's polarity
//   C         the station closes the port in order: end without writing
// While the socket is open the guard never touches the port (not even to
// read: the station's replies are the station's). When the socket reaches its
// end without a C, the station is gone however it died: the guard writes the
// last word in the board's command frame, asks for the board's report until it
// holds that word (bounded), writes one line to the log and ends.
// SIGTERM, SIGINT, SIGHUP, SIGQUIT and SIGABRT do not end it: a supervisor
// stops (or, on a watchdog timeout, aborts) the unit's processes together, and
// the word must still go out once the station is gone.
#include "IoFrames.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// The board answers a poll within a few ms; a board that is deaf or powering up
// gets this long (a restarted station opens the port after about 1.3 s and its
// first word prohibits clamping too).
constexpr int kConfirmMs = 3000;
constexpr int kResendMs = 25;

volatile std::sig_atomic_t gSignal = 0;
void onSignal(int s) { gSignal = s; }

long long msSince(Clock::time_point t0)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count();
}

// Writes until done, an error, or the deadline (a stalled line must not keep us).
bool writeAll(int fd, const unsigned char* p, size_t n, Clock::time_point deadline = Clock::time_point::max())
{
    while (n > 0) {
        if (Clock::now() >= deadline)
            return false;
        const ssize_t w = ::write(fd, p, n);
        if (w < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN) {
                pollfd pf{fd, POLLOUT, 0};
                ::poll(&pf, 1, 5);
                continue;
            }
            return false;
        }
        p += w;
        n -= size_t(w);
    }
    return true;
}

// One line in the station's text log format: "[W yyyy/MM/dd-HH:mm:ss.zzz] text".
void logLine(const std::string& logPath, const std::string& text)
{
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    std::tm tm{};
    localtime_r(&ts.tv_sec, &tm);
    char stamp[40];
    const size_t n = std::strftime(stamp, sizeof stamp, "%Y/%m/%d-%H:%M:%S", &tm);
    std::snprintf(stamp + n, sizeof stamp - n, ".%03ld", ts.tv_nsec / 1000000);
    const std::string line = "[W " + std::string(stamp) + "] station-guard: " + text + "\n";
    std::fputs(line.c_str(), stderr);
    if (logPath.empty())
        return;
    const int fd = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0640);
    if (fd < 0)
        return;
    writeAll(fd, reinterpret_cast<const unsigned char*>(line.data()), line.size());
    ::close(fd);
}

// Writes the word until the board reports holding it or the bound passes;
// returns the milliseconds it took, or -1 when the board never confirmed.
// The board's line: 115200 baud, 8N1, raw. The station's closing of the port
// may have put the old settings back; a pseudo-terminal or socket ignores this.
void boardLine(int port)
{
    termios t{};
    if (::tcgetattr(port, &t) != 0)
        return;
    ::cfmakeraw(&t);
    ::cfsetispeed(&t, B115200);
    ::cfsetospeed(&t, B115200);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cflag &= ~(CSTOPB | PARENB | CRTSCTS);
    ::tcsetattr(port, TCSANOW, &t);
}

long long lastWord(int port, int word)
{
    boardLine(port);
    const int fl = ::fcntl(port, F_GETFL);
    if (fl >= 0)
        ::fcntl(port, F_SETFL, fl | O_NONBLOCK);
    const auto t0 = Clock::now();
    io::ReportParser parser;
    unsigned char set[io::kCommandLen], ask[io::kCommandLen];
    io::encodeCommand(set, io::CmdSetOutputs, word);
    io::encodeCommand(ask, io::CmdReadInputs, 0);
    long long nextSend = 0;
    while (msSince(t0) < kConfirmMs) {
        if (msSince(t0) >= nextSend) {
            // A frame the station left half-written is skipped by the board's resynchronisation.
            const auto deadline = t0 + std::chrono::milliseconds(kConfirmMs);
            writeAll(port, set, sizeof set, deadline);
            writeAll(port, ask, sizeof ask, deadline);
            nextSend = msSince(t0) + kResendMs;
        }
        pollfd pf{port, POLLIN, 0};
        if (::poll(&pf, 1, 2) <= 0)
            continue;
        char buf[256];
        const ssize_t n = ::read(port, buf, sizeof buf);
        if (n <= 0)
            continue;
        parser.append(buf, int(n));
        bool held = false;
        parser.parse([&](const io::Report& r) {
            held = held || (r.type == io::CmdReadInputs && r.outputWord() == (word & 0x3FF));
        });
        if (held)
            return msSince(t0);
    }
    return -1;
}

int usage()
{
    std::fputs("usage: station-guard --port-fd N --link-fd M [--log FILE] [--port NAME]\n", stderr);
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    int port = -1, link = -1;
    std::string logPath, portName;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string a = argv[i];
        if (a == "--port-fd")
            port = std::atoi(argv[i + 1]);
        else if (a == "--link-fd")
            link = std::atoi(argv[i + 1]);
        else if (a == "--log")
            logPath = argv[i + 1];
        else if (a == "--port")
            portName = argv[i + 1];
        else
            return usage();
    }
    if (port < 0 || link < 0 || (argc - 1) % 2 != 0)
        return usage();

    // Handlers first: once we are in a session of our own, no signal may end us unheard.
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sigset_t stops;
    sigemptyset(&stops);
    for (int s : {SIGTERM, SIGINT, SIGHUP, SIGQUIT, SIGABRT}) {
        sigaction(s, &sa, nullptr);
        sigaddset(&stops, s);
    }
    for (int s : {SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF, SIGTSTP, SIGTTIN, SIGTTOU})
        sigaction(s, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    // A session of our own: a signal to the station's process group (Ctrl-\ in a
    // terminal, a kill of the group) is not ours; the unit's cgroup still reaches us.
    ::setsid();
    // Nothing of the station's but the port and the link: no other file stays open through us.
    for (int fd = 3; fd < 1024; ++fd)
        if (fd != port && fd != link)
            ::close(fd);
    // The station starts us with the stop signals blocked; from here on they are heard.
    sigprocmask(SIG_UNBLOCK, &stops, nullptr);

    int word = -1;
    bool orderly = false;
    std::string pending;
    for (;;) {
        char buf[256];
        const ssize_t n = ::read(link, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;  // a stop request: the station's end decides what follows
        if (n <= 0)
            break;  // end of the link (or it broke): the station is gone
        pending.append(buf, size_t(n));
        size_t nl;
        while ((nl = pending.find('\n')) != std::string::npos) {
            const std::string line = pending.substr(0, nl);
            pending.erase(0, nl + 1);
            if (line.size() > 2 && line[0] == 'W' && line[1] == ' ')
                word = int(std::strtol(line.c_str() + 2, nullptr, 16)) & 0x3FF;
            else if (line == "C")
                orderly = true;
        }
    }
    if (orderly)
        return 0;
    const std::string where = portName.empty() ? std::string() : " on " + portName;
    if (word < 0) {
        logLine(logPath, "the station ended before naming its last word; the board" + where + " keeps what it holds");
        return 1;
    }
    const long long ms = lastWord(port, word);
    char text[200];
    if (ms >= 0)
        std::snprintf(text, sizeof text, "the station ended without closing the IO board%s; wrote 0x%03x "
                      "(clamping prohibited), held by the board after %lld ms", where.c_str(), word, ms);
    else
        std::snprintf(text, sizeof text, "the station ended without closing the IO board%s; wrote 0x%03x "
                      "(clamping prohibited), the board did not report it within %d ms", where.c_str(), word, kConfirmMs);
    logLine(logPath, text);
    return ms >= 0 ? 0 : 3;
}
