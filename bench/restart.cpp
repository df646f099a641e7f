// From a crash to the board seeing "clamping prohibited" again: the station
// runs against the board simulator with a replayed camera, a mould opens and
// clamping is allowed, then the station is killed (SIGKILL) at that moment.
// A supervisor's restart is played here: the station is started again after
// the unit's RestartSec (1 s). Measured: kill -> the first output word at the
// board with clamping prohibited, and the station's own part of it (process
// start -> that word). Baseline in the same run: the start of the board
// simulator, a bare process of this machine. A hang adds the unit's
// WatchdogSec (10 s) before the kill. Every wait is bounded.
//
//   bench_restart [TRIALS]     (default 10)
#include "BenchUtil.h"
#include "BoardProc.h"
#include "ControlPort.h"
#include "FactoryDir.h"
#include "ParamDb.h"
#include "WizardPara.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <opencv2/imgcodecs.hpp>
#include <vector>


int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const int trials = argc > 1 ? std::max(1, atoi(argv[1])) : 10;
    QTemporaryDir tmp;
    const QString work = tmp.filePath("station");
    QString error;
    if (!factory::makeWorkingDir(work, &error)) {
        std::fprintf(stderr, "bench_restart: %s\n", qPrintable(error));
        return 1;
    }
    QDir::setCurrent(work);
    int invert = 0;
    {
        paramdb::openAll({});
        WizardPara wp;
        wp.LoadDatafromFile();
        wp.enable_cnt_net = 0;
        wp.input_timeout_len = 0;
        wp.enable_trigger_safety = 0;
        wp.SaveDatatoFile();
        invert = ControlPort::configFrom(wp).outInvert[0];
        paramdb::closeAll();
    }
    QDir().mkpath("replay");
    cv::imwrite((work + "/replay/camera1.png").toStdString(), cv::Mat(480, 640, CV_8UC3, cv::Scalar(90, 90, 90)));

    std::vector<double> total, own, bare;
    for (int t = 0; t < trials; ++t) {
        // Baseline: a bare process start on this machine (the board simulator up and talking).
        QElapsedTimer b0;
        b0.start();
        BoardProc board;
        board.invert = invert;
        if (!board.start()) {
            std::fprintf(stderr, "bench_restart: board simulator did not start\n");
            return 1;
        }
        bare.push_back(b0.nsecsElapsed() / 1e6);
        auto prohibited = [&] { return board.on(1); };

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("STATION_IO_PORT", board.device);
        env.insert("STATION_CAMERA", "replay:" + work + "/replay");
        env.insert("STATION_ANSWER", "no");
        auto startStation = [&](QProcess& p) {
            p.setProcessEnvironment(env);
            p.setWorkingDirectory(work);
            p.setStandardOutputFile(QProcess::nullDevice());
            p.setStandardErrorFile(work + "/station.err", QIODevice::Append);
            p.start(STATION_BINARY, {});
            return p.waitForStarted(5000);
        };
        QProcess first;
        if (!startStation(first))
            return 1;
        // Detecting, then a mould opens and clamping is allowed.
        QThread::msleep(3000);
        board.send("set 1 1");
        if (!board.until([&] { return board.word >= 0 && !prohibited(); }, 30000)) {
            std::fprintf(stderr, "trial %d: clamping was never allowed\n", t);
            first.kill();
            first.waitForFinished(5000);
            continue;
        }
        QElapsedTimer sinceKill;
        first.kill();
        sinceKill.start();
        first.waitForFinished(5000);
        // The supervisor's RestartSec.
        board.until([] { return false; }, 1000);
        QProcess second;
        QElapsedTimer sinceStart;
        sinceStart.start();
        if (!startStation(second))
            return 1;
        if (!board.until(prohibited, 30000)) {
            std::fprintf(stderr, "trial %d: the restarted station never prohibited clamping\n", t);
        } else {
            total.push_back(sinceKill.nsecsElapsed() / 1e6);
            own.push_back(sinceStart.nsecsElapsed() / 1e6);
        }
        second.kill();
        second.waitForFinished(5000);
        board.send("set 1 0");
    }
    std::printf("baseline: bare process start (board simulator)  median %7.1f ms\n", median(bare));
    std::printf("station start -> clamping prohibited at board  median %7.1f ms  (ratio %.1f)\n", median(own),
                median(bare) > 0 ? median(own) / median(bare) : 0.0);
    std::printf("crash -> clamping prohibited (RestartSec 1 s)  median %7.1f ms  max %7.1f ms  (%zu of %d trials)\n",
                median(total), total.empty() ? 0.0 : *std::max_element(total.begin(), total.end()), total.size(),
                trials);
    std::printf("hang  -> clamping prohibited (WatchdogSec 10 s) about %7.1f ms\n", 10000 + median(total));
    return total.empty() ? 1 : 0;
}
