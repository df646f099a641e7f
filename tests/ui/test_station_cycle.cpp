// The whole station as a process: the board simulator on a pseudo-terminal,
// a replayed camera whose scene the test changes, twenty machine cycles.
#include "../inspect/Photos.h"
#include "BoardSim.h"
#include "CammerSingleton.h"
#include "ControlPort.h"
#include "ImageArchive.h"
#include "ImageLib.h"
#include "Messages.h"
#include "ParamDb.h"
#include "Shapes.h"
#include "TemplateStore.h"
#include "TestDir.h"
#include "StationRig.h"
#include "WizardPara.h"

#include <QDir>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTest>
#include <csignal>
#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

namespace {
constexpr int kClamp = 1 << 0, kAlarm = 1 << 2;  // outputs 1 (set: clamping prohibited) and 3

struct StationCycle : ::testing::Test {
    TestDir dir;
    cv::Mat scene = photo("fruits.jpg")(cv::Rect(40, 60, 440, 360)).clone();
    int invert = 0;  // physical bit = logical output ^ invert
    QProcess station;

    void SetUp() override
    {
        ASSERT_TRUE(dir.ok());
        ASSERT_TRUE(paramdb::openAll({}));
        WizardPara wp;
        wp.LoadDatafromFile();
        wp.enable_prod_detect = 0;
        wp.cavity_detect = 0;
        wp.front_auto_check_time = 0;
        wp.is_cut_ontime = 1;  // clamping is withdrawn 300 ms after each permission
        wp.mold_pulse = 3;
        wp.capture_speed = 20;
        wp.input_timeout_len = 0;
        wp.enable_trigger_safety = 0;
        wp.enable_correct = 0;
        wp.ng_max_num = 50;
        wp.ok_record_max_num = 50;
        wp.shake_erase_time = 0;
        wp.enable_cnt_net = 0;
        wp.roi_ng_warn_count = 0;
        wp.enable_statistics = 1;
        wp.enable_detect_cycle = 1;
        ASSERT_TRUE(wp.SaveDatatoFile());
        wp.LoadDatafromFile();
        const ControlPort::Config cfg = ControlPort::configFrom(wp);
        for (int k = 0; k < 9; ++k)
            invert |= cfg.outInvert[k] << k;
        trainMouldDetection(wp, scene);
        if (HasFatalFailure())
            return;
        dropConnections();
        QDir().mkpath("replay");
        show(scene);
    }
    void TearDown() override
    {
        if (station.state() == QProcess::Running) {
            station.kill();
            station.waitForFinished(5000);
        }
    }
    // What the camera looks at, replaced in one step.
    void show(const cv::Mat& img)
    {
        ASSERT_TRUE(cv::imwrite(dir.file("replay/next.png").toStdString(), img));
        QFile::remove(dir.file("replay/camera1.png"));
        ASSERT_TRUE(QFile::rename(dir.file("replay/next.png"), dir.file("replay/camera1.png")));
    }
    cv::Mat blemished() const
    {
        cv::Mat img = scene.clone();
        cv::Mat spot = img(cv::Rect(270, 120, 16, 16));
        spot.convertTo(spot, -1, 1.0, -70);
        return img;
    }
};

// Sanitizer builds run the station several times slower: frames take longer.
int slow(int ms)
{
    return ms * std::max(1, qEnvironmentVariableIntValue("STATION_TEST_SLOWDOWN"));
}

bool waitFor(const std::function<bool()>& done, int ms)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms)
            return false;
        QTest::qWait(10);
    }
    return true;
}
} // namespace

TEST_F(StationCycle, TwentyCyclesWithThreeBlemishesGiveThreeAlarms)
{
    BoardSim board;
    ASSERT_TRUE(board.ok());
    ASSERT_TRUE(startStation(station, dir.path(), board));
    const QString ready = "The system is ready, there is 1 cameras";
    ASSERT_TRUE(waitFor([&] { return recordRemarks(dir.file("RECORD.db")).contains(ready); }, 30000))
        << readText(dir.file("station.err")).toStdString();
    auto on = [&](int logical) { return (board.held() ^ invert) & logical; };
    // Detecting, and clamping withdrawn until the first verdict.
    ASSERT_TRUE(waitFor([&] { return on(kClamp) != 0; }, 5000));
    // The camera's first frame comes a moment after start (a cycle before it is NG).
    QTest::qWait(slow(1000));

    const QList<int> blemishedCycles = {3, 10, 16};
    int permissions = 0, alarms = 0, cleared = 0;
    for (int i = 0; i < 20; ++i) {
        const bool bad = blemishedCycles.contains(i);
        show(bad ? blemished() : scene);
        QTest::qWait(slow(250));  // a few frames of the new scene
        board.send("set 1 1");
        ASSERT_TRUE(waitFor([&] { return !on(kClamp) || on(kAlarm); }, 5000)) << "cycle " << i;
        if (on(kAlarm)) {
            ++alarms;
            EXPECT_TRUE(on(kClamp)) << "an alarm with clamping allowed, cycle " << i;
        } else {
            ++permissions;
        }
        board.send("set 1 0");
        if (bad) {
            // The operator clears the mould and re-detects at the safety door.
            show(scene);
            QTest::qWait(slow(250));
            board.send("set 2 1");
            ASSERT_TRUE(waitFor([&] { return !on(kAlarm); }, 5000)) << "cycle " << i;
            EXPECT_FALSE(on(kClamp));
            ++cleared;
            board.send("set 2 0");
            // The operator walks back; the writer has two pictures to store.
            QTest::qWait(slow(1500));
        }
        // The fixed clamping time ends before the mould opens again.
        ASSERT_TRUE(waitFor([&] { return on(kClamp) != 0; }, 5000)) << "cycle " << i;
    }
    EXPECT_EQ(alarms, 3);
    EXPECT_EQ(permissions, 17);
    EXPECT_EQ(cleared, 3);

    // The writer works at its own pace: 17 OK pictures, and per alarm the NG
    // picture with the OK one of its re-detection.
    const QString ok = dir.file("alarmimage/camera1/detect2/OK"), ng = dir.file("alarmimage/camera1/detect2/NG");
    auto count = [](const QString& f) { return QDir(f).entryList({"*.jpg"}, QDir::Files).size(); };
    EXPECT_TRUE(waitFor([&] { return count(ok) == 17 && count(ng) == 6; }, 20000))
        << count(ok) << " OK and " << count(ng) << " NG pictures";
    station.terminate();
    ASSERT_TRUE(station.waitForFinished(10000));
    EXPECT_EQ(station.exitCode(), 75) << "a stop signal asks the supervisor for a restart";
    // Every cycle is on disk, the NG ones too.
    EXPECT_EQ(readText(dir.file("count.txt")).section(' ', 0, 1), "20 3");
    const QStringList remarks = recordRemarks(dir.file("RECORD.db"));
    EXPECT_EQ(remarks.count(LanStr(151).arg(1).chopped(1) + LanStr(152)), 6);  // at the alarm and after the verdict
    EXPECT_FALSE(readText(dir.file("station.err")).contains("was replaced before it was written"));
    if (HasFailure())
        ADD_FAILURE() << remarks.join("\n").toStdString() << readText(dir.file("station.err")).toStdString();
    EXPECT_TRUE(QDir(dir.file("alarmimage/camera1/detect1/NG")).exists());

    // The result statistics counted each judgement of the day: all cameras, all detections.
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "stats");
        db.setDatabaseName(dir.file("ResStatistics.db"));
        ASSERT_TRUE(db.open());
        QSqlQuery q(db);
        ASSERT_TRUE(q.exec("select value1, value2 from resstatistics where name = 'C8_D8'") && q.next());
        auto total = [](const QString& v) {
            int n = 0;
            for (const QString& x : v.split(' ', Qt::SkipEmptyParts))
                n += x.toInt();
            return n;
        };
        EXPECT_EQ(total(q.value(1).toString()), 3);
        EXPECT_EQ(total(q.value(0).toString()), 20);
        // One cycle-log row per machine cycle, each with its period.
        db.close();
        db.setDatabaseName(dir.file("DetectCycle.db"));
        ASSERT_TRUE(db.open());
        ASSERT_TRUE(q.exec("select count(*), min(roundtime + 0) from detect_cycle") && q.next());
        EXPECT_EQ(q.value(0).toInt(), 20);
        EXPECT_GT(q.value(1).toDouble(), 0.0);
    }
    QSqlDatabase::removeDatabase("stats");
}

TEST_F(StationCycle, KilledAtRandomMomentsTheCountersFileIsWholeAndNeverBehind)
{
    // STATION_KILL_TRIALS sets the number of kills (200 for the soak figure).
    const int trials = qEnvironmentVariableIntValue("STATION_KILL_TRIALS") > 0
                           ? qEnvironmentVariableIntValue("STATION_KILL_TRIALS") : 4;
    {
        ASSERT_TRUE(paramdb::openAll({}));
        WizardPara wp;
        wp.LoadDatafromFile();
        wp.mold_pulse = 1;  // a fast production: clamping withdrawn 100 ms after each permission
        ASSERT_TRUE(wp.SaveDatatoFile());
        dropConnections();
    }
    QRandomGenerator rng(20261208);
    quint64 before = 0;
    int totalCycles = 0, widest = 0;
    for (int t = 0; t < trials; ++t) {
        BoardSim board;
        ASSERT_TRUE(board.ok());
        QProcess proc;
        ASSERT_TRUE(startStation(proc, dir.path(), board));
        const QString ready = "The system is ready, there is 1 cameras";
        ASSERT_TRUE(waitFor([&] { return recordRemarks(dir.file("RECORD.db")).count(ready) == t + 1; }, 30000));
        auto on = [&](int logical) { return (board.held() ^ invert) & logical; };
        QTest::qWait(slow(1200));  // the camera's first frame
        // Production until a random moment, then SIGKILL.
        QElapsedTimer run;
        run.start();
        const int killAt = 200 + int(rng.bounded(2500));
        int permissions = 0;
        bool killed = false;
        while (!killed) {
            if (!waitFor([&] { return on(kClamp) != 0; }, 2000))
                break;
            board.send("set 1 1");
            const int waitMs = std::max(1, killAt - int(run.elapsed()));
            const bool permitted = waitFor([&] { return !on(kClamp); }, std::min(waitMs, 1000));
            if (run.elapsed() >= killAt) {
                proc.kill();
                killed = true;
            }
            if (permitted)
                ++permissions;
            board.send("set 1 0");
            if (!killed && on(kAlarm)) {  // re-detect at the safety door
                board.send("set 2 1");
                waitFor([&] { return !on(kAlarm); }, 2000);
                board.send("set 2 0");
            }
            QTest::qWait(5);
        }
        if (!killed)
            proc.kill();
        // The event loop of the waits may have seen it end already.
        ASSERT_TRUE(proc.state() == QProcess::NotRunning || proc.waitForFinished(5000)) << "trial " << t;
        board.held();  // every line the board printed before the kill
        // Missing only while no good cycle has been written yet; otherwise whole.
        quint64 now = 0;
        if (QFile::exists(dir.file("count.txt")) || before > 0) {
            const QStringList parts = readText(dir.file("count.txt")).split(' ', Qt::SkipEmptyParts);
            ASSERT_EQ(parts.size(), 16) << "trial " << t << ": " << readText(dir.file("count.txt")).toStdString();
            bool ok = false;
            now = parts[0].toULongLong(&ok);
            ASSERT_TRUE(ok);
        }
        // Each judged cycle writes its counts before its permission is published: k
        // permissions leave k cycles written. On a loaded machine a board silent for a
        // moment has the open mould judged again: a permission that is no production cycle.
        // The kill can also land between a cycle's write and the board's report of its
        // permission: one written cycle the board was never seen to allow, never more.
        EXPECT_GE(now + 2, before + quint64(permissions)) << "trial " << t;
        EXPECT_LE(now, before + quint64(permissions) + 1) << "trial " << t;
        widest = std::max(widest, int(before + quint64(permissions) - std::min(now, before + quint64(permissions))));
        totalCycles += permissions;
        before = std::max(before, now);
    }
    std::printf("kills: %d, cycles: %d, counters file behind the board by at most %d cycles\n", trials, totalCycles,
                widest);
}

TEST_F(StationCycle, TheProgramStartsProhibitedAndKilledInTheAlarmComesBackInIt)
{
    {
        // Output 1 wired inverted and copied to output 4, as on many machines.
        ASSERT_TRUE(paramdb::openAll({}));
        WizardPara wp;
        wp.LoadDatafromFile();
        wp.out_invert[0] = 1;
        wp.enable_mold_backup = 1;
        wp.is_cut_ontime = 0;
        ASSERT_TRUE(wp.SaveDatatoFile());
        invert = 0;
        const ControlPort::Config cfg = ControlPort::configFrom(wp);
        for (int k = 0; k < 9; ++k)
            invert |= cfg.outInvert[k] << k;
        dropConnections();
    }
    constexpr int kCopy = 1 << 3;
    BoardSim board;
    ASSERT_TRUE(board.ok());
    ASSERT_TRUE(startStation(station, dir.path(), board));
    const QString ready = "The system is ready, there is 1 cameras";
    ASSERT_TRUE(waitFor([&] { return recordRemarks(dir.file("RECORD.db")).count(ready) == 1; }, 30000))
        << readText(dir.file("station.err")).toStdString();
    auto logical = [&] { return (board.held() ^ invert) & ~kCopy & 0x1FF; };
    // Started, nothing judged: only clamping prohibited, a physical 0 on output 1 and its copy.
    ASSERT_TRUE(waitFor([&] { return logical() == kClamp; }, 5000)) << std::hex << board.held();
    for (int w : board.outs())
        EXPECT_EQ(w & (1 | kCopy), 0) << "the board was told 0x" << std::hex << w << " before any verdict";

    // A blemish: the alarm, then the process is killed.
    show(blemished());
    board.send("set 1 1");
    ASSERT_TRUE(waitFor([&] { return (logical() & kAlarm) != 0; }, slow(5000)));
    EXPECT_EQ(board.held() & (1 | kCopy), 0);
    station.kill();
    ASSERT_TRUE(station.waitForFinished(5000));

    // Back: in the alarm, the mould shut, and the record says why.
    QProcess again;
    ASSERT_TRUE(startStation(again, dir.path(), board));
    ASSERT_TRUE(waitFor([&] { return recordRemarks(dir.file("RECORD.db")).count(ready) == 2; }, 30000));
    ASSERT_TRUE(waitFor([&] { return recordRemarks(dir.file("RECORD.db")).contains(LanStr(1717).arg(LanStr(1712))); },
                        5000));
    EXPECT_TRUE(waitFor([&] { return (logical() & (kClamp | kAlarm)) == (kClamp | kAlarm); }, 5000))
        << std::hex << board.held();
    EXPECT_EQ(board.held() & (1 | kCopy), 0);
    // Cleaned and re-detected at the door: the alarm ends and the mould may close.
    show(scene);
    board.send("set 2 1");
    EXPECT_TRUE(waitFor([&] { return logical() == 0; }, slow(5000))) << std::hex << board.held();
    again.kill();
    again.waitForFinished(5000);
}

TEST_F(StationCycle, TheBoardIsNeverLeftAllowedByAStationThatHangsDiesOrIsStopped)
{
    {
        ASSERT_TRUE(paramdb::openAll({}));
        WizardPara wp;
        wp.LoadDatafromFile();
        wp.is_cut_ontime = 0;  // a permission stays until the next opening
        ASSERT_TRUE(wp.SaveDatatoFile());
        dropConnections();
    }
    BoardSim board;
    ASSERT_TRUE(board.ok());
    QProcessEnvironment freeze;
    freeze.insert("STATION_TEST_FREEZE_MS", QString::number(slow(2000)));
    ASSERT_TRUE(startStation(station, dir.path(), board, freeze));
    const QString ready = "The system is ready, there is 1 cameras";
    ASSERT_TRUE(waitFor([&] { return recordRemarks(dir.file("RECORD.db")).count(ready) == 1; }, 30000))
        << readText(dir.file("station.err")).toStdString();
    auto logical = [&] { return (board.held() ^ invert) & 0x1FF; };
    auto allowedCycle = [&] {
        board.send("set 1 0");
        board.send("set 1 1");
        return waitFor([&] { return (logical() & kClamp) == 0; }, slow(5000));
    };
    ASSERT_TRUE(allowedCycle()) << std::hex << board.held();
    int cycles = 1;

    // The cycle's thread blocked: the IO thread prohibits within its bound,
    // and the cycle publishes its own word again once it ticks.
    ASSERT_EQ(::kill(pid_t(station.processId()), SIGUSR2), 0);
    EXPECT_TRUE(waitFor([&] { return (logical() & kClamp) != 0; }, slow(2000))) << "a hung cycle left clamping allowed";
    EXPECT_TRUE(waitFor([&] { return (logical() & kClamp) == 0; }, slow(10000)));
    EXPECT_TRUE(waitFor([&] {
        return recordRemarks(dir.file("RECORD.db")).filter("The detection cycle stopped running").size() == 1;
    }, 5000));

    // Killed while clamping is allowed: the guard writes the last word, no restart needed.
    station.kill();
    ASSERT_TRUE(station.waitForFinished(5000));
    EXPECT_TRUE(waitFor([&] { return logical() == (kClamp | kAlarm); }, 2000)) << std::hex << board.held();
    EXPECT_TRUE(waitFor([&] { return readText(dir.file("station.err")).contains("station-guard: the station ended"); }, 5000));

    // Started again, a cycle, then told to stop: prohibited first, the counters
    // on disk, and a status the supervisor restarts.
    QProcess again;
    ASSERT_TRUE(startStation(again, dir.path(), board));
    ASSERT_TRUE(waitFor([&] { return recordRemarks(dir.file("RECORD.db")).count(ready) == 2; }, 30000));
    ASSERT_TRUE(allowedCycle()) << std::hex << board.held();
    ++cycles;
    again.terminate();
    ASSERT_TRUE(again.waitForFinished(10000));
    EXPECT_EQ(again.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(again.exitCode(), 75);
    // The board's lines are read as they come: its last word is the prohibiting one.
    EXPECT_TRUE(waitFor([&] { return (logical() & (kClamp | kAlarm)) == (kClamp | kAlarm); }, 2000))
        << std::hex << board.held();
    EXPECT_EQ(readText(dir.file("count.txt")).section(' ', 0, 0).toInt(), cycles);
    EXPECT_TRUE(recordRemarks(dir.file("RECORD.db")).contains(LanStr(1724)));
    // The orderly end released the guard: it wrote nothing more.
    EXPECT_EQ(readText(dir.file("station.err")).count("station-guard: the station ended"), 1);

    // A crash: from its first prohibiting word on, nothing allows clamping while the dump is written.
    QProcess third;
    ASSERT_TRUE(startStation(third, dir.path(), board));
    ASSERT_TRUE(waitFor([&] { return recordRemarks(dir.file("RECORD.db")).count(ready) == 3; }, 30000));
    ASSERT_TRUE(allowedCycle()) << std::hex << board.held();
    const int from = int(board.outs().size());
    ASSERT_EQ(::kill(pid_t(third.processId()), SIGSEGV), 0);
    ASSERT_TRUE(third.waitForFinished(10000));
    EXPECT_TRUE(waitFor([&] { return logical() == (kClamp | kAlarm); }, 2000)) << std::hex << board.held();
    bool prohibitedOnce = false;
    const QList<int> words = board.outs();
    for (int i = from; i < words.size(); ++i) {
        const bool clamp = ((words[i] ^ invert) & kClamp) != 0;
        EXPECT_FALSE(prohibitedOnce && !clamp) << "allowed again during the crash: 0x" << std::hex << words[i];
        prohibitedOnce = prohibitedOnce || clamp;
    }
}
