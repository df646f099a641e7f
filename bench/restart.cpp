// From a failure of the station process to the board holding "clamping
// prohibited": the station runs against the board simulator with a replayed
// camera, a mould opens and clamping is allowed, then the station
//   - is killed (SIGKILL): its guard process writes the last word;
//   - has its cycle's thread blocked (the test-only SIGUSR2 of
//     STATION_TEST_FREEZE_MS): the IO thread publishes the last word;
//   - is told to stop (SIGTERM): it prohibits, saves and exits for a restart,
//     and the counters on disk must equal the cycles the board ran.
// Each measured from the failure to the board's report, median and max over
// the trials. Baseline in the same run: the bare IO round trip (a command
// frame written to the board's port until the board reports the word). Also
// shown: a restarted station's own start until its first prohibiting word.
// Every wait is bounded.
//
//   bench_restart [TRIALS]     (default 20)
#include "../tests/inspect/Photos.h"
#include "BenchUtil.h"
#include "BoardProc.h"
#include "ControlPort.h"
#include "FactoryDir.h"
#include "IoProtocol.h"
#include "ParamDb.h"
#include "WizardPara.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <opencv2/imgcodecs.hpp>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kFreezeMs = 2500;

struct Series {
    const char* name;
    double bound;  // ms, 0: none
    std::vector<double> ms;
    void print(double baseline) const
    {
        const double mx = ms.empty() ? 0.0 : *std::max_element(ms.begin(), ms.end());
        std::printf("%-44s median %7.1f ms  max %7.1f ms  (ratio %.1f, %zu runs)%s\n", name, median(ms), mx,
                    baseline > 0 ? median(ms) / baseline : 0.0, ms.size(),
                    bound > 0 ? (mx <= bound ? "  within bound" : "  OVER BOUND") : "");
    }
};

quint64 countOnDisk(const QString& work)
{
    QFile f(work + "/count.txt");
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    return QString::fromLatin1(f.readAll()).section(' ', 0, 0).toULongLong();
}

// The bare round trip: a set-outputs frame on the port until the board reports it.
double bareRoundTrip(BoardProc& board, int word)
{
    const int fd = ::open(board.device.toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
    if (fd < 0)
        return -1;
    termios t{};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    cfsetspeed(&t, B115200);
    tcsetattr(fd, TCSANOW, &t);
    const QByteArray frame = io::commandFrame(io::CmdSetOutputs, word);
    const auto t0 = BenchClock::now();
    [[maybe_unused]] ssize_t n = ::write(fd, frame.constData(), size_t(frame.size()));
    const bool seen = board.until([&] { return board.word == word; }, 2000);
    const double ms = msBetween(t0, BenchClock::now());
    ::close(fd);
    return seen ? ms : -1;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const int trials = argc > 1 ? std::max(1, atoi(argv[1])) : 20;
    QTemporaryDir tmp;
    const QString work = tmp.filePath("station");
    QString error;
    if (!factory::makeWorkingDir(work, &error)) {
        std::fprintf(stderr, "bench_restart: %s\n", qPrintable(error));
        return 1;
    }
    // A mould detection trained on the replayed scene: only a judged mould allows clamping.
    const cv::Mat scene = photo("fruits.jpg")(cv::Rect(40, 60, 440, 360)).clone();
    QDir().mkpath(work + "/replay");
    cv::imwrite((work + "/replay/camera1.png").toStdString(), scene);
    QByteArray trainError;
    if (!trainMould(work, work + "/replay/camera1.png",
                    {"enable_prod_detect=0", "cavity_detect=0", "front_auto_check_time=0", "is_cut_ontime=0",
                     "capture_speed=20", "input_timeout_len=0", "enable_trigger_safety=0", "enable_correct=0",
                     "roi_ng_warn_count=0", "shake_erase_time=0", "enable_cnt_net=0"},
                    &trainError)) {
        std::fprintf(stderr, "bench_restart: training failed: %s\n", trainError.constData());
        return 1;
    }
    QDir::setCurrent(work);
    int invert = 0;
    {
        paramdb::openAll({});
        WizardPara wp;
        wp.LoadDatafromFile();
        const ControlPort::Config cfg = ControlPort::configFrom(wp);
        for (int k = 0; k < 9; ++k)
            invert |= cfg.outInvert[k] << k;
        paramdb::closeAll();
    }

    Series bare{"baseline: bare IO round trip", 0, {}};
    Series kill{"SIGKILL -> clamping prohibited (guard)", 50, {}};
    Series freeze{"cycle frozen -> clamping prohibited", 600, {}};
    Series term{"SIGTERM -> clamping prohibited", 200, {}};
    Series start{"restart -> first prohibiting word (own part)", 0, {}};
    int countsWrong = 0, failures = 0;

    QProcessEnvironment freezable;
    freezable.insert("STATION_TEST_FREEZE_MS", QString::number(kFreezeMs));
    auto startStation = [&](QProcess& p, BoardProc& board) { return startStationProc(p, work, board.device, freezable); };
    auto prohibited = [&](BoardProc& b) { return b.on(1); };
    // One machine cycle: the mould closes and opens; true once clamping is allowed.
    auto cycle = [&](BoardProc& b) {
        b.send("set 1 0");
        b.until([&] { return prohibited(b); }, 300);
        // The opening prohibits first, then the verdict allows.
        b.sawProhibit = prohibited(b);
        b.send("set 1 1");
        return b.until([&] { return b.sawProhibit && !prohibited(b); }, 30000);
    };

    for (int t = 0; t < trials; ++t) {
        BoardProc board;
        board.invert = invert;
        if (!board.start()) {
            std::fprintf(stderr, "bench_restart: board simulator did not start\n");
            return 1;
        }
        const double rt = bareRoundTrip(board, 0x0f1 ^ 0x001);
        if (rt >= 0)
            bare.ms.push_back(rt);

        // A station that runs, clamping allowed, then killed.
        QProcess first;
        QElapsedTimer own;
        own.start();
        if (!startStation(first, board))
            return 1;
        if (!board.until([&] { return board.word >= 0 && prohibited(board); }, 30000)) {
            std::fprintf(stderr, "trial %d: the station never prohibited clamping\n", t);
            ++failures;
            continue;
        }
        start.ms.push_back(own.nsecsElapsed() / 1e6);
        if (!cycle(board)) {
            std::fprintf(stderr, "trial %d: clamping was never allowed\n", t);
            ++failures;
            first.kill();
            first.waitForFinished(5000);
            continue;
        }
        // The cycle's thread blocked: the IO thread's bound.
        auto f0 = BenchClock::now();
        ::kill(pid_t(first.processId()), SIGUSR2);
        if (board.until([&] { return prohibited(board); }, kFreezeMs))
            freeze.ms.push_back(msBetween(f0, BenchClock::now()));
        else
            ++failures;
        // Unblocked, the cycle publishes its permission again; only then is a kill measured.
        if (!board.until([&] { return !prohibited(board); }, kFreezeMs + 5000)) {
            std::fprintf(stderr, "trial %d: no permission after the freeze\n", t);
            ++failures;
            first.kill();
            first.waitForFinished(5000);
            continue;
        }
        auto k0 = BenchClock::now();
        first.kill();
        if (board.until([&] { return prohibited(board); }, 2000))
            kill.ms.push_back(msBetween(k0, BenchClock::now()));
        else
            ++failures;
        first.waitForFinished(5000);

        // The supervisor's restart; cycles; then told to stop.
        QProcess second;
        const quint64 base = countOnDisk(work);
        if (!startStation(second, board))
            return 1;
        int cycles = 0;
        for (int i = 0; i < 3; ++i)
            cycles += cycle(board) ? 1 : 0;
        if (prohibited(board)) {
            std::fprintf(stderr, "trial %d: clamping not allowed before the stop\n", t);
            ++failures;
        }
        auto s0 = BenchClock::now();
        second.terminate();
        if (board.until([&] { return prohibited(board); }, 2000))
            term.ms.push_back(msBetween(s0, BenchClock::now()));
        else
            ++failures;
        second.waitForFinished(10000);
        if (second.exitCode() != 75)
            std::fprintf(stderr, "trial %d: SIGTERM ended with status %d, not 75\n", t, second.exitCode());
        if (countOnDisk(work) != base + quint64(cycles)) {
            ++countsWrong;
            std::fprintf(stderr, "trial %d: count.txt %llu, the board ran %llu\n", t,
                         (unsigned long long)countOnDisk(work), (unsigned long long)(base + cycles));
        }
        board.send("set 1 0");
    }
    bare.print(0);
    kill.print(median(bare.ms));
    freeze.print(median(bare.ms));
    term.print(median(bare.ms));
    start.print(median(bare.ms));
    std::printf("counters on disk after SIGTERM equal the board's cycles: %d of %d trials wrong; %d failed waits\n",
                countsWrong, trials, failures);
    auto over = [](const Series& s) { return s.ms.empty() || *std::max_element(s.ms.begin(), s.ms.end()) > s.bound; };
    return failures == 0 && countsWrong == 0 && !over(kill) && !over(freeze) && !over(term) ? 0 : 1;
}
