// ioboard-sim: behaves as the station's serial IO board on a pseudo-terminal.
//
//   ioboard-sim --pty [--log FILE]           create a pseudo-terminal, print its path first
//   ioboard-sim --device PATH [--log FILE]   use an existing serial device
//
// --log FILE writes every command frame received as "cmd <ms> <command> <value>".
//
// Commands on standard input, one per line:
//   set K 0|1   pulse K MS   word HEX   silent MS   powercycle   garbage N   split
//   noise MS    (answers with bytes that never form a frame, as a wrong baud rate would)
//   stuck MASK VALUE  (hex; the output bits of MASK hold VALUE whatever is sent, a welded relay)
//   quit
// Prints "out <ms since start> <word as 0x%03x>" whenever the held output word changes.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <random>
#include <sstream>
#include <string>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
const Clock::time_point t0 = Clock::now();

long long nowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count();
}

struct Pulse {
    int bit;
    long long endMs;
};

struct Board {
    int fd = -1;
    unsigned inputs = 0;
    unsigned outputs = 0;
    long long silentUntil = 0;
    bool zeroOutputsAfterSilence = false;
    int garbage = 0;
    bool split = false;
    long long noiseUntil = 0;
    FILE* log = nullptr;
    std::vector<Pulse> pulses;
    std::vector<unsigned char> rx;
    std::mt19937 rng{12345};
    int analogCounter = 0;
    unsigned stuckMask = 0, stuckValue = 0;  // a welded relay: these bits never follow a command

    void setOutputs(unsigned word)
    {
        word = ((word & ~stuckMask) | (stuckValue & stuckMask)) & 0x3FF;
        if (word == outputs)
            return;
        outputs = word;
        std::printf("out %lld 0x%03x\n", nowMs(), outputs);
        std::fflush(stdout);
    }

    void writeAll(const unsigned char* p, size_t n)
    {
        while (n > 0) {
            const ssize_t w = ::write(fd, p, n);
            if (w < 0) {
                if (errno == EINTR || errno == EAGAIN) {
                    usleep(200);
                    continue;
                }
                return;
            }
            p += w;
            n -= size_t(w);
        }
    }

    void sendReport(int type, const unsigned char d[4])
    {
        unsigned char f[8] = {0x5F, (unsigned char)type, d[0], d[1], d[2], d[3], 0, 0xF5};
        unsigned sum = 0;
        for (int i = 0; i < 6; ++i)
            sum += f[i];
        f[6] = (unsigned char)(sum & 0xFF);
        if (garbage > 0) {
            std::vector<unsigned char> g(static_cast<size_t>(garbage));
            for (auto& b : g) {
                b = (unsigned char)(rng() & 0xFF);
                if (b == 0x5F)
                    b = 0x00;  // never a frame start: the garbage must not look like a report
            }
            writeAll(g.data(), g.size());
            garbage = 0;
        }
        if (split) {
            split = false;
            writeAll(f, 3);
            usleep(15000);  // longer than a poll, so the station reads the halves apart
            writeAll(f + 3, 5);
        } else {
            writeAll(f, 8);
        }
    }

    // Line noise in place of a report: never a frame start, so never a frame.
    void sendNoise()
    {
        unsigned char g[8];
        for (auto& b : g) {
            b = (unsigned char)(rng() & 0xFF);
            if (b == 0x5F)
                b = 0x00;
        }
        writeAll(g, sizeof g);
    }

    void handleCommand(int cmd, unsigned value)
    {
        if (log) {
            std::fprintf(log, "cmd %lld %d %u\n", nowMs(), cmd, value);
            std::fflush(log);
        }
        if (nowMs() < silentUntil)
            return;
        if (nowMs() < noiseUntil) {
            sendNoise();
            return;
        }
        switch (cmd) {
        case 1:
            setOutputs(value);
            break;
        case 2: {
            const unsigned char d[4] = {(unsigned char)(inputs & 0xFF), (unsigned char)((inputs >> 8) & 3),
                                        (unsigned char)(outputs & 0xFF), (unsigned char)((outputs >> 8) & 3)};
            sendReport(2, d);
            break;
        }
        case 3:
        case 4:
            // One reading per channel of the group: a slowly varying temperature in tenths of a degree.
            for (int ch = 0; ch < 8; ++ch) {
                const int v = 250 + (cmd - 3) * 80 + ch * 5 + (analogCounter++ % 3);
                const unsigned char d[4] = {(unsigned char)(v & 0xFF), (unsigned char)((v >> 8) & 0xFF),
                                            (unsigned char)((v >> 16) & 0xFF), (unsigned char)((v >> 24) & 0xFF)};
                sendReport(cmd, d);
            }
            break;
        default:
            break;
        }
    }

    void readSerial()
    {
        unsigned char buf[512];
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0)
            return;
        rx.insert(rx.end(), buf, buf + n);
        size_t pos = 0;
        while (rx.size() - pos >= 6) {
            const unsigned char* f = rx.data() + pos;
            const unsigned char check = (unsigned char)((f[0] + f[1] + f[2] + f[3]) & 0xFF);
            if (f[0] == 0x5F && f[4] == check && f[5] == 0xF5) {
                handleCommand(f[1], unsigned(f[2]) | unsigned(f[3]) << 8);
                pos += 6;
            } else {
                ++pos;
            }
        }
        rx.erase(rx.begin(), rx.begin() + long(pos));
    }

    void tick()
    {
        const long long now = nowMs();
        for (auto it = pulses.begin(); it != pulses.end();) {
            if (now >= it->endMs) {
                inputs &= ~(1u << it->bit);
                it = pulses.erase(it);
            } else {
                ++it;
            }
        }
        if (zeroOutputsAfterSilence && now >= silentUntil) {
            zeroOutputsAfterSilence = false;
            setOutputs(0);
        }
    }

    long long nextDeadline() const
    {
        long long next = -1;
        auto take = [&](long long t) { next = next < 0 ? t : std::min(next, t); };
        for (const Pulse& p : pulses)
            take(p.endMs);
        if (zeroOutputsAfterSilence)
            take(silentUntil);
        return next;
    }

    // Returns false on quit.
    bool command(const std::string& line)
    {
        std::istringstream in(line);
        std::string op;
        in >> op;
        if (op.empty())
            return true;
        if (op == "quit")
            return false;
        if (op == "set") {
            int k = 0, v = 0;
            if (in >> k >> v && k >= 1 && k <= 10) {
                inputs = v ? (inputs | (1u << (k - 1))) : (inputs & ~(1u << (k - 1)));
                return true;
            }
        } else if (op == "pulse") {
            int k = 0;
            long long ms = 0;
            if (in >> k >> ms && k >= 1 && k <= 10 && ms >= 0) {
                inputs |= 1u << (k - 1);
                pulses.push_back({k - 1, nowMs() + ms});
                return true;
            }
        } else if (op == "word") {
            std::string hex;
            if (in >> hex) {
                char* end = nullptr;
                const unsigned long w = std::strtoul(hex.c_str(), &end, 16);
                if (end && *end == '\0') {
                    inputs = unsigned(w) & 0x3FF;
                    return true;
                }
            }
        } else if (op == "silent") {
            long long ms = 0;
            if (in >> ms && ms >= 0) {
                silentUntil = nowMs() + ms;
                return true;
            }
        } else if (op == "powercycle") {
            silentUntil = nowMs() + 500;
            zeroOutputsAfterSilence = true;
            return true;
        } else if (op == "garbage") {
            int n = 0;
            if (in >> n && n >= 0 && n <= 4096) {
                garbage = n;
                return true;
            }
        } else if (op == "stuck") {
            // stuck MASK VALUE (hex): the output bits of MASK hold VALUE whatever is sent.
            std::string m, v;
            if (in >> m >> v) {
                stuckMask = unsigned(std::strtoul(m.c_str(), nullptr, 16)) & 0x3FF;
                stuckValue = unsigned(std::strtoul(v.c_str(), nullptr, 16)) & 0x3FF;
                setOutputs(outputs);
                return true;
            }
        } else if (op == "split") {
            split = true;
            return true;
        } else if (op == "noise") {
            long long ms = 0;
            if (in >> ms && ms >= 0) {
                noiseUntil = nowMs() + ms;
                return true;
            }
        }
        std::fprintf(stderr, "ioboard-sim: cannot read command: %s\n", line.c_str());
        return true;
    }
};

void makeRaw(int fd)
{
    termios t{};
    if (tcgetattr(fd, &t) != 0)
        return;
    cfmakeraw(&t);
    cfsetispeed(&t, B115200);
    cfsetospeed(&t, B115200);
    tcsetattr(fd, TCSANOW, &t);
}

} // namespace

int main(int argc, char** argv)
{
    Board board;
    int keepSlave = -1;
    if (argc >= 4 && std::strcmp(argv[argc - 2], "--log") == 0) {
        board.log = std::fopen(argv[argc - 1], "a");
        if (!board.log) {
            std::fprintf(stderr, "ioboard-sim: cannot write %s: %s\n", argv[argc - 1], std::strerror(errno));
            return 1;
        }
        argc -= 2;
    }
    if (argc == 2 && std::strcmp(argv[1], "--pty") == 0) {
        board.fd = posix_openpt(O_RDWR | O_NOCTTY);
        if (board.fd < 0 || grantpt(board.fd) != 0 || unlockpt(board.fd) != 0) {
            std::perror("ioboard-sim: pseudo-terminal");
            return 1;
        }
        const char* name = ptsname(board.fd);
        // Holding the other side open keeps the link up while the station reopens it.
        keepSlave = ::open(name, O_RDWR | O_NOCTTY);
        if (keepSlave >= 0)
            makeRaw(keepSlave);
        makeRaw(board.fd);
        std::printf("%s\n", name);
        std::fflush(stdout);
    } else if (argc == 3 && std::strcmp(argv[1], "--device") == 0) {
        board.fd = ::open(argv[2], O_RDWR | O_NOCTTY);
        if (board.fd < 0) {
            std::fprintf(stderr, "ioboard-sim: cannot open %s: %s\n", argv[2], std::strerror(errno));
            return 1;
        }
        makeRaw(board.fd);
    } else {
        std::fprintf(stderr, "usage: ioboard-sim --pty | --device PATH  [--log FILE]\n");
        return 2;
    }
    fcntl(board.fd, F_SETFL, fcntl(board.fd, F_GETFL) | O_NONBLOCK);

    std::string pending;
    bool stdinOpen = true;
    for (;;) {
        pollfd fds[2] = {{board.fd, POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
        const long long deadline = board.nextDeadline();
        int timeout = 50;
        if (deadline >= 0)
            timeout = int(std::max(0LL, std::min<long long>(timeout, deadline - nowMs())));
        const int n = poll(fds, stdinOpen ? 2 : 1, timeout);
        if (n < 0 && errno != EINTR)
            break;
        board.tick();
        if (fds[0].revents & POLLIN)
            board.readSerial();
        if (stdinOpen && (fds[1].revents & (POLLIN | POLLHUP))) {
            char buf[256];
            const ssize_t r = ::read(STDIN_FILENO, buf, sizeof buf);
            if (r <= 0) {
                stdinOpen = false;  // keep serving the board until killed
                continue;
            }
            pending.append(buf, size_t(r));
            size_t nl;
            while ((nl = pending.find('\n')) != std::string::npos) {
                const std::string line = pending.substr(0, nl);
                pending.erase(0, nl + 1);
                if (!board.command(line))
                    return 0;
            }
        }
    }
    if (keepSlave >= 0)
        ::close(keepSlave);
    return 0;
}
