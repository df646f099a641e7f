#include "ControlPort.h"
#include "Boxes.h"
#include "Keypads.h"
#include "DiVeZoruzo.h"
#include "Station.h"
#include "Globals.h"
#include "LedDevice.h"
#include "MApplication.h"
#include "Messages.h"
#include "Panel.h"
#include "ParamDb.h"
#include "TestDir.h"
#include "WizardPara.h"

#include <QDateTime>
#include <QDir>
#include "Host.h"
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QMouseEvent>
#include <QTest>
#include <csignal>
#include <gtest/gtest.h>

namespace {
QStringList records() { return recordRemarks(); }

// Sends a touch to a window the way the platform does, through the
// application's event filters.
void touch(QWindow* w, QEvent::Type type, QPoint pos)
{
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent e(type, QPointF(pos), QPointF(pos), QPointF(w->mapToGlobal(pos)), Qt::LeftButton, held,
                  Qt::NoModifier);
    QCoreApplication::sendEvent(w, &e);
}
void tap(QWindow* w, QPoint pos)
{
    touch(w, QEvent::MouseButtonPress, pos);
    touch(w, QEvent::MouseButtonRelease, pos);
}

struct Startup : ::testing::Test {
    TestDir dir;
    void SetUp() override
    {
        ASSERT_TRUE(dir.ok());
        gRebootPending = false;
        gDatabaseFault = false;
        qputenv("STATION_ANSWER", "no");
        // No board here: the link keeps retrying a device that is not there.
        qputenv("STATION_IO_PORT", dir.file("no-board").toUtf8());
    }
    void TearDown() override { qunsetenv("STATION_ANSWER"); }
};
} // namespace

TEST_F(Startup, FactoryDirectoryStartsDetectingWithoutQuestionsAboutTime)
{
    gLan = 0;  // as in a process that has read no parameters yet
    const auto winStation = buildStation();
    ASSERT_TRUE(winStation);
    DiVeZoruzo& win = *winStation;
    EXPECT_TRUE(win.isDetecting());
    EXPECT_EQ(gLan, 1);
    // The keypads and boxes, made before the parameters were read, speak it too.
    ASSERT_TRUE(gpNumPad && gpChooseBox);
    EXPECT_EQ(gpNumPad->findChild<QPushButton*>("key_ok")->text(), LanStr(121));
    EXPECT_EQ(gpChooseBox->findChild<QPushButton*>("yes")->text(), LanStr(121));
    ASSERT_TRUE(gpPasswordBox);
    EXPECT_EQ(gpPasswordBox->findChild<QPushButton*>("passwordOk")->text(), LanStr(121));
    EXPECT_EQ(gpPasswordBox->findChild<QPushButton*>("passwordCancel")->text(), LanStr(1019));
    EXPECT_EQ(win.expectedDetection(), 0);  // product detection is on in the factory set
    // No camera family: the two widgets of kind 0.
    EXPECT_TRUE(records().contains("The system is ready, there is 2 cameras"));
    EXPECT_FALSE(hostActions().contains("reboot"));
    EXPECT_TRUE(QFile::exists("ResStatistics"));
    EXPECT_TRUE(QFile::exists("RECORD"));
    EXPECT_EQ(gpWPara->save_ok_record, 1);
    // A start is not a verdict: clamping stays prohibited until the mould is
    // judged; every other output is clear.
    ASSERT_NE(win.io(), nullptr);
    EXPECT_EQ(win.io()->outputOn(0), 1);
    for (int k = 1; k < 9; ++k)
        EXPECT_EQ(win.io()->outputOn(k), 0) << "output " << k + 1;
}

TEST_F(Startup, WithoutAKnownGoodTimeDetectionStaysStoppedWhenTheOperatorCancels)
{
    QFile::remove("realytime.txt");
    platform::LedDevice::instance().open();
    platform::LedDevice::instance().clearRecorded();
    const auto winStation = buildStation();
    ASSERT_TRUE(winStation);
    DiVeZoruzo& win = *winStation;
    EXPECT_FALSE(win.isDetecting());
    const QStringList r = records();
    EXPECT_TRUE(r.contains(LanStr(1001)));
    EXPECT_TRUE(r.contains("Stop the detection manually "));
    EXPECT_TRUE(r.contains(LanStr(1002)));
    EXPECT_FALSE(r.contains("Modify Time"));
    for (const QString& a : hostActions())
        EXPECT_FALSE(a.startsWith("set-time") || a == "reboot") << a.toStdString();
    // LED 4 goes off with the stop.
    EXPECT_TRUE(platform::LedDevice::instance().recorded().contains(0x5A018000u | (0xFFu & ~(1u << 4))));
    EXPECT_FALSE(QFile::exists("realytime.txt"));
}

TEST_F(Startup, ConfirmedTimeIsSetStoredAndTheStationRestarts)
{
    QFile::remove("realytime.txt");
    qputenv("STATION_ANSWER", "yes");
    const qint64 before = QDateTime::currentMSecsSinceEpoch();
    const auto winStation = buildStation();
    ASSERT_TRUE(winStation);
    DiVeZoruzo& win = *winStation;
    EXPECT_FALSE(win.isDetecting());
    const QStringList actions = hostActions();
    ASSERT_GE(actions.size(), 3);
    EXPECT_TRUE(actions[0].startsWith("set-time "));
    EXPECT_EQ(actions[1], "hwclock --systohc");
    EXPECT_EQ(actions.last(), "reboot");
    const qint64 stored = readText("realytime.txt").trimmed().toLongLong();
    EXPECT_GE(stored, before - 2000);
    EXPECT_TRUE(gRebootPending);
}

TEST_F(Startup, ClockBehindTheStoredTimeAsksAgainButKeepsTheStoredValue)
{
    const QByteArray future = QByteArray::number(QDateTime::currentMSecsSinceEpoch() + 86400000LL) + "\n";
    writeText("realytime.txt", future);
    qputenv("STATION_ANSWER", "yes");
    const auto winStation = buildStation();
    ASSERT_TRUE(winStation);
    EXPECT_TRUE(hostActions().contains("reboot"));
    EXPECT_EQ(readText("realytime.txt").toUtf8(), future);
}

TEST_F(Startup, RestoredParameterFileKeepsDetectionStopped)
{
    writeText("PARAM.db", "garbage");
    const auto winStation = buildStation();
    ASSERT_TRUE(winStation);
    DiVeZoruzo& win = *winStation;
    EXPECT_EQ(hostActions(), QStringList{"reboot"});
    EXPECT_FALSE(win.isDetecting());
}

TEST(TouchFilter, FirstTouchOnADarkScreenOnlyWakesIt)
{
    QPushButton button("press me");
    button.resize(200, 100);
    // Events reach the window without painting it: painting only adds Qt's
    // own raster threads, which the thread checker cannot see into.
    button.setAttribute(Qt::WA_DontShowOnScreen);
    button.show();
    ASSERT_NE(button.windowHandle(), nullptr);
    QSignalSpy clicked(&button, &QPushButton::clicked);
    gCameraID = 1;
    platform::LedDevice::instance().open();
    platform::LedDevice::instance().clearRecorded();
    LCDOnOff(0);
    ASSERT_TRUE(gisLCDOff);
    tap(button.windowHandle(), QPoint(100, 50));
    EXPECT_EQ(clicked.count(), 0);
    EXPECT_FALSE(gisLCDOff);
    EXPECT_EQ(platform::LedDevice::instance().recorded(), (QList<quint32>{0x5A018A00u, 0x5A018B00u}));
    tap(button.windowHandle(), QPoint(100, 50));
    EXPECT_EQ(clicked.count(), 1);
}

TEST(TouchFilter, HoldingArmsCalibrationOnlyWithoutCameras)
{
    TestDir dir;
    auto* app = static_cast<MApplication*>(QCoreApplication::instance());
    QPushButton button("hold");
    button.resize(200, 100);
    // Events reach the window without painting it: painting only adds Qt's
    // own raster threads, which the thread checker cannot see into.
    button.setAttribute(Qt::WA_DontShowOnScreen);
    button.show();
    ASSERT_NE(button.windowHandle(), nullptr);
    gisLCDOff = false;

    gCameraID = 1;
    touch(button.windowHandle(), QEvent::MouseButtonPress, QPoint(10, 10));
    EXPECT_FALSE(app->calibrationTimer().isActive());
    touch(button.windowHandle(), QEvent::MouseButtonRelease, QPoint(10, 10));

    gCameraID = 0;
    app->calibrationTimer().setInterval(20);
    touch(button.windowHandle(), QEvent::MouseButtonPress, QPoint(10, 10));
    EXPECT_TRUE(app->calibrationTimer().isActive());
    QTRY_VERIFY_WITH_TIMEOUT(app->calibrationArmed(), 2000);
    touch(button.windowHandle(), QEvent::MouseButtonRelease, QPoint(10, 10));
    EXPECT_FALSE(app->calibrationArmed());
    EXPECT_EQ(hostActions(), (QStringList{"run-tsc", "reboot"}));

    // Let go early: nothing is armed.
    touch(button.windowHandle(), QEvent::MouseButtonPress, QPoint(10, 10));
    touch(button.windowHandle(), QEvent::MouseButtonRelease, QPoint(10, 10));
    EXPECT_FALSE(app->calibrationTimer().isActive());
    app->calibrationTimer().setInterval(3000);
    gCameraID = 0;
}

TEST(StationProcess, RunsAndEndsCleanlyOnSigterm)
{
    TestDir dir;
    QProcess station;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("STATION_ANSWER", "no");
    env.remove("STATION_PLATFORM");
    env.insert("STATION_IO_PORT", dir.file("no-board"));
    station.setProcessEnvironment(env);
    station.setWorkingDirectory(dir.path());
    station.setProcessChannelMode(QProcess::MergedChannels);
    station.start(STATION_BINARY, {});
    ASSERT_TRUE(station.waitForStarted(10000));
    // Up when the ready record is in the database.
    auto ready = [&] {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "peekReady");
        db.setDatabaseName(dir.file("RECORD.db"));
        bool found = false;
        if (db.open()) {
            QSqlQuery q("select count(*) from RECORD where remarks like 'The system is ready%'", db);
            found = q.next() && q.value(0).toInt() > 0;
        }
        db.close();
        return found;
    };
    bool up = false;
    for (int i = 0; i < 300 && !up && station.state() == QProcess::Running; ++i) {
        QTest::qWait(100);
        up = ready();
    }
    QSqlDatabase::removeDatabase("peekReady");
    ASSERT_TRUE(up) << station.readAll().toStdString();
    QTest::qWait(300);
    EXPECT_EQ(station.state(), QProcess::Running);
    ::kill(station.processId(), SIGTERM);
    ASSERT_TRUE(station.waitForFinished(20000));
    EXPECT_EQ(station.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(station.exitCode(), 75) << "a stop signal ends for a restart: " << station.readAll().toStdString();
}

TEST_F(Startup, AWaitingUpdateScriptRunsOnceAndIsRemoved)
{
    writeText("update.sh", "#!/bin/sh\necho updated\n");
    {
        const auto winStation = buildStation();
        ASSERT_TRUE(winStation);
    }
    EXPECT_TRUE(hostActions().contains("run-update"));
    EXPECT_FALSE(QFile::exists("update.sh"));
    QFile::remove("host-actions.log");
    const auto againStation = buildStation();
    ASSERT_TRUE(againStation);
    EXPECT_FALSE(hostActions().contains("run-update"));
}

TEST_F(Startup, AClockThatCannotBeSetIsNotTakenForGood)
{
    QFile::remove("realytime.txt");
    qputenv("STATION_ANSWER", "yes");
    for (const char* failing : {"set-time", "hwclock"}) {
        QFile::remove("host-actions.log");
        platform::Host::instance().simulateFailure(failing);
        {
            const auto winStation = buildStation();
            ASSERT_TRUE(winStation);
            DiVeZoruzo& win = *winStation;
            EXPECT_FALSE(win.isDetecting());
            EXPECT_EQ(win.io()->IOState(1, 0), 1);  // clamping prohibited
        }
        platform::Host::instance().simulateFailure(failing, false);
        const QStringList r = records();
        EXPECT_FALSE(r.contains("Modify Time")) << failing;
        EXPECT_TRUE(r.contains(LanStr(1704))) << failing;
        EXPECT_FALSE(QFile::exists("realytime.txt")) << failing;
        EXPECT_FALSE(hostActions().contains("reboot")) << failing;
        EXPECT_FALSE(gRebootPending);
    }
}

TEST_F(Startup, AFailingUpdateScriptIsRecordedAndKeptNotRunAgain)
{
    writeText("update.sh", "#!/bin/sh\nexit 3\n");
    platform::Host::instance().simulateFailure("run-update");
    {
        const auto winStation = buildStation();
        ASSERT_TRUE(winStation);
    }
    platform::Host::instance().simulateFailure("run-update", false);
    EXPECT_FALSE(QFile::exists("update.sh"));
    const QStringList kept = QDir::current().entryList({"update.sh.failed-*"});
    ASSERT_EQ(kept.size(), 1);
    EXPECT_EQ(readText(kept[0]), "#!/bin/sh\nexit 3\n");
    EXPECT_TRUE(records().contains(LanStr(1702).arg(kept[0])));
    QFile::remove("host-actions.log");
    const auto againStation = buildStation();
    ASSERT_TRUE(againStation);
    EXPECT_FALSE(hostActions().contains("run-update"));
}

TEST_F(Startup, ADatabaseWithoutAFactoryCopyStopsTheStationWithoutRebooting)
{
    writeText("PARAM.db", "");
    QFile::remove("paraGroup/default/PARAM.db");
    {
        const auto winStation = buildStation();
        ASSERT_TRUE(winStation);
        DiVeZoruzo& win = *winStation;
        EXPECT_FALSE(win.isDetecting());
        EXPECT_EQ(win.io()->IOState(1, 0), 1);
    }
    EXPECT_FALSE(hostActions().contains("reboot"));
    EXPECT_TRUE(records().contains(LanStrEn(1701).arg("PARAM.db")));
    gDatabaseFault = false;
}

TEST_F(Startup, AFactoryParameterFileComesUpStoppedUntilTheOperatorStarts)
{
    writeText("PARAM.db", "");  // broken: the factory copy replaces it and the station reboots
    {
        const auto winStation = buildStation();
        ASSERT_TRUE(winStation);
        DiVeZoruzo& win = *winStation;
        EXPECT_FALSE(win.isDetecting());
    }
    ASSERT_TRUE(hostActions().contains("reboot"));
    gRebootPending = false;
    // After the reboot: factory values, no regions. Stopped, clamping prohibited, said.
    {
        const auto winStation = buildStation();
        ASSERT_TRUE(winStation);
        DiVeZoruzo& win = *winStation;
        EXPECT_FALSE(win.isDetecting());
        EXPECT_EQ(win.io()->outputOn(0), 1);
        EXPECT_TRUE(records().contains(LanStr(1719)));
        win.StartDetect();  // the operator has seen it
        EXPECT_TRUE(win.isDetecting());
        EXPECT_TRUE(records().contains(LanStr(1720)));
    }
    // The next start detects as usual.
    const auto againStation = buildStation();
    ASSERT_TRUE(againStation);
    DiVeZoruzo& again = *againStation;
    EXPECT_TRUE(again.isDetecting());
}

TEST_F(Startup, AFlushAskedBeforeTheCountersWereReadLeavesThemAsTheyWere)
{
    // Three cameras recorded, fewer replayed: the count question and its flush come
    // before the counters are read at start-up.
    ASSERT_TRUE(paramdb::openAll({}));
    ASSERT_TRUE(paramdb::writeValue(paramdb::serialDb(), "sysparam", "serialNB0", "REPLAY00001"));
    ASSERT_TRUE(paramdb::writeValue(paramdb::serialDb(), "sysparam", "serialNB1", "REPLAY00002"));
    ASSERT_TRUE(paramdb::writeValue(paramdb::serialDb(), "sysparam", "serialNB2", "REPLAY00003"));
    dropConnections();
    writeText("count.txt", "12 3 0 0 0 0 0 0 0 0 0 0 0 0 0 0 ");
    QImage scene(64, 48, QImage::Format_Grayscale8);
    scene.fill(90);
    ASSERT_TRUE(scene.save(dir.file("scene.png")));
    qputenv("STATION_CAMERA", ("replay:" + dir.file("scene.png")).toUtf8());
    qputenv("STATION_ANSWER", "yes");
    {
        const auto winStation = buildStation();
        ASSERT_TRUE(winStation);
        EXPECT_TRUE(hostActions().contains("reboot")) << "the camera count question was not asked";
    }
    qunsetenv("STATION_CAMERA");
    gRebootPending = false;
    EXPECT_EQ(readText("count.txt").section(' ', 0, 1), "12 3");
}
