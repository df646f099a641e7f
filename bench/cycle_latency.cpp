// Cycle latency: from "set 1 1" written to the board simulator (the mould
// opens) to the simulator printing the clamp permission (output 1 cleared).
// The station as it runs: its IO link, its 3-ms polling tick on the Qt event
// loop, one replayed camera, the mould detection with 50 defect regions of
// 96 x 96 on a 1280 x 960 frame, delay 0, product detection off, the OK
// picture rendered.
//
// Baseline in the same run, on the same link and event loop: a bare 3-ms tick
// that clears output 1 when it sees input 1 rise, without any judgement.
// The two alternate in blocks of 50 cycles. Each cycle ends with output 1 set
// again 100 ms after the permission (the fixed clamping time), then input 1
// falls. Every wait is bounded.
//
// A detection judges only a picture that arrived after its trigger, so the
// first figure includes the wait for the camera's next frame (up to one frame
// period, 1000 / FPS ms). The second, picture -> clamp permission, is the
// station's own share: from the arrival of the picture judged to the
// permission at the board.
//
//   bench_cycle_latency [CYCLES] [--correct] [--fps N]
//     (default 500 of each; --correct: motion correction on; --fps: the camera's rate, default 10)
#include "BenchUtil.h"
#include "CameraSet.h"
#include "ControlPort.h"
#include "Counters.h"
#include "DetectionCycle.h"
#include "Detection.h"
#include "FactoryDir.h"
#include "Globals.h"
#include "ImageArchive.h"
#include "ImageLib.h"
#include "InputSampler.h"
#include "Messages.h"
#include "ParamDb.h"
#include "Shapes.h"
#include "TemplateStore.h"
#include "WizardPara.h"

#include <QDir>
#include <QGuiApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <cstdio>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

namespace {
constexpr double kTimeoutMs = 3000;

// The simulator lives on a thread of its own: its "out" lines are stamped
// when they arrive, not when the station's busy thread gets round to them.
class Sim : public QObject {
public:
    Sim()
    {
        moveToThread(&m_thread);
        m_thread.start();
    }
    ~Sim() override
    {
        QMetaObject::invokeMethod(this, [this] {
            if (m_proc && m_proc->state() == QProcess::Running) {
                m_proc->write("quit\n");
                if (!m_proc->waitForFinished(2000))
                    m_proc->kill();
            }
            delete m_proc;
            m_proc = nullptr;
        }, Qt::BlockingQueuedConnection);
        m_thread.quit();
        m_thread.wait();
    }
    bool start()
    {
        bool ok = false;
        QMetaObject::invokeMethod(this, [this, &ok] {
            m_proc = new QProcess;
            m_proc->start(STATION_IOBOARD_SIM, {"--pty"});
            if (!m_proc->waitForStarted(5000) || !m_proc->waitForReadyRead(5000))
                return;
            device = QString::fromUtf8(m_proc->readLine()).trimmed();
            QObject::connect(m_proc, &QProcess::readyReadStandardOutput, this, [this] { read(); });
            ok = !device.isEmpty();
        }, Qt::BlockingQueuedConnection);
        return ok;
    }
    void send(const QByteArray& line)
    {
        QMetaObject::invokeMethod(this, [this, line] {
            m_proc->write(line);
            m_proc->waitForBytesWritten(1000);
        });
    }
    int word() const { return m_word; }
    BenchClock::time_point changedAt() const { return BenchClock::time_point(BenchClock::duration(m_changedAt.load())); }
    QString device;

private:
    void read()
    {
        const auto now = BenchClock::now();
        m_pending += m_proc->readAllStandardOutput();
        int nl;
        while ((nl = m_pending.indexOf('\n')) >= 0) {
            const QList<QByteArray> parts = m_pending.left(nl).split(' ');
            m_pending.remove(0, nl + 1);
            if (parts.size() == 3 && parts[0] == "out") {
                m_changedAt = now.time_since_epoch().count();
                m_word = parts[2].toInt(nullptr, 16);
            }
        }
    }
    QThread m_thread;
    QProcess* m_proc = nullptr;
    QByteArray m_pending;
    std::atomic<int> m_word{0};
    std::atomic<BenchClock::rep> m_changedAt{0};
};

// Runs the event loop until done() or the time-out.
bool until(const std::function<bool()>& done)
{
    const auto t0 = BenchClock::now();
    while (!done()) {
        if (msBetween(t0, BenchClock::now()) > kTimeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    }
    return true;
}

struct Stats {
    double median, p99;
};
Stats stats(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return {v[v.size() / 2], v[std::min(v.size() - 1, size_t(v.size() * 0.99))]};
}
} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    int n = 500;
    bool correct = false;
    int fps = 10;
    for (int i = 1; i < argc; ++i) {
        if (QByteArray(argv[i]) == "--correct")
            correct = true;
        else if (QByteArray(argv[i]) == "--fps" && i + 1 < argc)
            fps = std::clamp(atoi(argv[++i]), 1, 32);
        else
            n = std::max(50, atoi(argv[i]));
    }
    QTemporaryDir tmp;
    QString error;
    const QString dir = tmp.filePath("station");
    if (!factory::makeWorkingDir(dir, &error)) {
        std::fprintf(stderr, "bench: %s\n", qPrintable(error));
        return 1;
    }
    QDir::setCurrent(dir);
    createGlobalLocks();
    LoadLanStr();
    if (!paramdb::openAll({})) {
        std::fprintf(stderr, "bench: the databases cannot be opened\n");
        return 1;
    }

    // The scene the camera replays and the templates are made of.
    cv::Mat scene = cv::imread("/usr/share/doc/opencv-doc/examples/data/fruits.jpg", cv::IMREAD_GRAYSCALE);
    if (scene.empty()) {
        std::fprintf(stderr, "bench: the sample photograph is missing (./station.sh deps)\n");
        return 1;
    }
    cv::resize(scene, scene, cv::Size(1280, 960), 0, 0, cv::INTER_AREA);
    QDir().mkpath("replay");
    cv::imwrite("replay/camera1.png", scene);
    qputenv("STATION_CAMERA", "replay:" + QDir::current().absoluteFilePath("replay").toUtf8());

    WizardPara wp;
    wp.LoadDatafromFile();
    gpWPara = &wp;
    wp.machine_mode = wp.pending_machine_mode = 0;
    wp.enable_prod_detect = 0;
    wp.cavity_detect = 0;
    wp.front_auto_check_time = 0;
    wp.is_cut_ontime = 1;
    wp.mold_pulse = 1;
    wp.input_timeout_len = 0;
    wp.shake_erase_time = 0;
    wp.capture_speed = fps;
    wp.enable_correct = correct ? 0 : -1;  // motion correction: 0 on, -1 off
    wp.roi_ng_warn_count = 0;
    wp.enable_trigger_safety = 0;
    wp.ok_record_max_num = 20;
    wp.SaveDatatoFile();
    wp.LoadDatafromFile();
    gTempNum = wp.max_mold_num;
    gPicNumNG = wp.ng_max_num;
    gPicNumOK = wp.ok_record_max_num;
    gisColor = 0;
    DetectionResult r;
    r.found = 1;
    r.width = scene.cols;
    r.height = scene.rows;
    ApplyDetection(r);
    SetImageBounds(scene.cols, scene.rows);
    {
        CammerSingleton para(0);
        para.LoadDatafromFile();
        // Fifty 96 x 96 checks spread over the frame, as inserts and cavities are.
        const int cols = 8, rows = 7, cw = scene.cols / cols, ch = scene.rows / rows;
        for (int i = 0; i < 50; ++i) {
            const int x = (i % cols) * cw + (cw - 96) / 2, y = (i / cols) * ch + (ch - 96) / 2;
            const int k = para.AddRect(1, {x, y}, {x + 95, y + 95}, wp);
            if (k < 0)
                return 1;
            para.roi[1][k] = {3, 45, 100, 0, ShapeRect, 0};
        }
        para.SaveDatatoFile();
        TemplateStore store(0, gTempNum, scene.cols, scene.rows, false);
        store.LoadAll();
        store.SaveReTrainImage(1, scene);
    }

    Sim sim;
    if (!sim.start()) {
        std::fprintf(stderr, "bench: the board simulator did not start\n");
        return 1;
    }
    const ControlPort::Config cfg = ControlPort::configFrom(wp);
    const int clampBit = 1 << 0, clampProhibited = cfg.outInvert[0] ? 0 : clampBit;
    ControlPort io(cfg, sim.device);
    InputSampler in(&io);
    CameraManager cams;
    cams.BuildViews(wp);
    SaveFialImageThread archive(1, gPicNumNG, gPicNumOK);
    archive.start();
    DetectionCycle cycle(&io, &in, &cams, &wp);
    cycle.setArchive(&archive);
    // When the picture judged arrived, on the bench's clock.
    BenchClock::time_point pictureAt{};
    QObject::connect(&cycle, &DetectionCycle::judged, [&](int c, int, bool) {
        const qint64 age = CameraDevice::monotonicMs() - cams.view(c)->frameArrivedMs;
        pictureAt = BenchClock::now() - std::chrono::milliseconds(age);
    });
    cycle.StartDetect();
    io.IOSetOut(0, 1);
    io.IOFlashOut();

    // The bare tick: input 1 rises -> output 1 cleared, published; 100 ms later set again.
    QTimer bare, rearm;
    rearm.setSingleShot(true);
    QObject::connect(&bare, &QTimer::timeout, [&] {
        if (io.IOInTrigger(0)) {
            io.IOSetOut(0, 0);
            io.IOFlashOut();
            rearm.start(100);
        }
    });
    QObject::connect(&rearm, &QTimer::timeout, [&] {
        io.IOSetOut(0, 1);
        io.IOFlashOut();
    });
    // Let the link settle and the camera deliver.
    until([&] { return (sim.word() & clampBit) == clampProhibited && cams.view(0) && !cams.view(0)->frame().empty(); });
    if (!cams.view(0)->TakeFrame() && cams.view(0)->frame().empty()) {
        cycle.begin();
        until([&] { return !cams.view(0)->frame().empty(); });
    }

    std::vector<double> withCycle, baseline, fromPicture;
    int failures = 0;
    for (int block = 0; 2 * n > int(withCycle.size() + baseline.size()); ++block) {
        const bool judged = block % 2 == 1;
        if (judged) {
            bare.stop();
            cycle.runTimer().start(3);
        } else {
            cycle.runTimer().stop();
            bare.start(3);
        }
        auto& into = judged ? withCycle : baseline;
        for (int i = 0; i < 50 && int(into.size()) < n; ++i) {
            if (!until([&] { return (sim.word() & clampBit) == clampProhibited; })) {
                ++failures;
                continue;
            }
            const auto t0 = BenchClock::now();
            sim.send("set 1 1\n");
            if (!until([&] { return (sim.word() & clampBit) != clampProhibited; })) {
                std::fprintf(stderr, "bench: no clamp permission within %.0f ms (%s)\n", kTimeoutMs,
                             judged ? "cycle" : "bare");
                ++failures;
            } else {
                into.push_back(msBetween(t0, sim.changedAt()));
                if (judged)
                    fromPicture.push_back(msBetween(pictureAt, sim.changedAt()));
            }
            sim.send("set 1 0\n");
            until([&] { return io.IOState(0, 0) == 0; });
            // Let the next tick see input 1 low before it rises again.
            for (int k = 0; k < 3; ++k)
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        }
    }
    archive.stop();
    if (withCycle.empty() || baseline.empty() || failures) {
        std::fprintf(stderr, "bench: %d cycles failed\n", failures);
        return 1;
    }
    const Stats b = stats(baseline), c = stats(withCycle), f = stats(fromPicture);
    std::printf("cycles of each: %d (1280x960, 50 defect regions of 96x96, motion correction %s, OK picture rendered, "
                "camera %d fps)\n", n, correct ? "on" : "off", fps);
    std::printf("bare IO round trip           median %7.2f ms  p99 %7.2f ms\n", b.median, b.p99);
    std::printf("open -> clamp permission     median %7.2f ms  p99 %7.2f ms  ratio %5.2f (waits for the next frame)\n",
                c.median, c.p99, c.median / b.median);
    std::printf("picture -> clamp permission  median %7.2f ms  p99 %7.2f ms  ratio %5.2f (goal: median <= 15, p99 <= 25)\n",
                f.median, f.p99, f.median / b.median);
    std::printf("judgements: %d OK of %zu; archive wrote %llu pictures\n", int(gAllNum[0]), withCycle.size(),
                (unsigned long long)archive.writes.load());
    return 0;
}
