#include "CameraSet.h"
#include "DahengCamera.h"
#include "Detection.h"
#include "GigE.h"
#include "Host.h"
#include "Messages.h"
#include "MindCamera.h"
#include "ParamDb.h"
#include "StandIn.h"
#include "TestDir.h"
#include "WizardPara.h"

#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>
#include <atomic>
#include <thread>
#include <cstring>

namespace {
const char* kVendors[] = {"daheng", "ids", "mindvision", "dvp", "hikvision"};

// A factory station directory with its databases open and parameters loaded.
struct Station : ::testing::Test {
    TestDir dir;
    WizardPara wp;
    void SetUp() override
    {
        ASSERT_TRUE(dir.ok());
        ASSERT_TRUE(paramdb::openAll({}));
        wp.LoadDatafromFile();
        gpWPara = &wp;
        createGlobalLocks();
        gisColor = 0;
        gisCut = 1;
        gTempNum = 3;
        gisLost = 0;
        gLost = 0;
        for (int i = 0; i < 8; ++i)
            gCamNO[i] = i;
        for (const char* v : kVendors)
            standin::setDevices(v, {});
        standin::clearLog();
        CameraDevice::connectionLost = false;
    }
    // Hikvision found at start-up with these 64 x 48 mono cameras.
    static void hikCameras(const std::vector<const char*>& serials)
    {
        gCameraID = kKindHik;
        gImageW = 64;
        gImageH = 48;
        gImageLen = gColorLen = 64 * 48;
        gFindCamera = int(serials.size());
        std::vector<standin::Device> devs;
        for (const char* sn : serials)
            devs.push_back({sn, 64, 48, false});
        standin::setDevices("hikvision", devs);
    }
    void TearDown() override
    {
        for (const char* v : kVendors)
            standin::setDevices(v, {});
        gpWPara = nullptr;
        dropConnections();
    }
    // The real probes without the network ones and without USB video.
    static DetectionProbes probes()
    {
        DetectionProbes p = DetectionProbes::real();
        p.repairGige = nullptr;
        p.ensureHikReach = nullptr;
        p.usb = nullptr;
        p.genicam = nullptr;
        p.wait = nullptr;
        return p;
    }
    static QString serialRow(int i)
    {
        QString v;
        paramdb::readValue(paramdb::serialDb(), "sysparam", QStringLiteral("serialNB%1").arg(i), &v);
        return v;
    }
};
} // namespace

TEST_F(Station, DetectionTakesTheFirstKindThatHasCamerasWithItsWorkingSize)
{
    DetectionResult r = RunDetection(probes(), true);
    EXPECT_EQ(r.kind, kKindNone);
    EXPECT_EQ(r.found, 2);
    EXPECT_EQ(r.width, 1920);
    EXPECT_EQ(r.height, 1080);
    EXPECT_TRUE(r.log.contains("find 0 MerCamera "));

    standin::setDevices("hikvision", {{"HIK0000001", 1440, 1080, false}, {"HIK0000002", 1440, 1080, false}});
    standin::setDevices("dvp", {{"DVP0000001", 800, 600, true}});
    r = RunDetection(probes(), true);
    EXPECT_EQ(r.kind, kKindDvp);  // dvp is asked before Hikvision
    EXPECT_EQ(r.found, 1);
    EXPECT_TRUE(r.sensorColour);
    EXPECT_EQ(r.width, 800);

    standin::setDevices("mindvision", {{"MV00000001", 2048, 1536, false}});
    r = RunDetection(probes(), true);
    EXPECT_EQ(r.kind, kKindMind);
    EXPECT_EQ(r.width, 1600);  // a 2048-wide sensor is cropped to 1600 x 1200
    EXPECT_EQ(r.height, 1200);
    r = RunDetection(probes(), false);
    EXPECT_EQ(r.width, 2048);  // cropping prohibited: the whole sensor

    standin::setDevices("mindvision", {{"MV00000001", 2592, 1944, true}});
    r = RunDetection(probes(), true);
    EXPECT_EQ(r.width, 1296);  // the first preset of a 2592 sensor
    EXPECT_EQ(gImageResolution.iWidth, 1296);

    standin::setDevices("daheng", {{"GX00000001", 1280, 1024, false}});
    r = RunDetection(probes(), true);
    EXPECT_EQ(r.kind, kKindDaheng);
    EXPECT_EQ(r.width, 1120);
    EXPECT_EQ(r.height, 840);
    EXPECT_TRUE(r.log.contains("find MerCamera count : 1"));

    int w, h;
    DahengWorkingSize(2592, 1944, false, w, h);
    EXPECT_EQ(w, 1296);  // always halved
    EXPECT_EQ(h, 972);
    MindWorkingSize(3088, 2064, true, 0, 0, w, h);
    EXPECT_EQ(w, 2592);
}

TEST_F(Station, ARepairThatMovedCamerasWaitsAndAHangingSdkIsSkipped)
{
    DetectionProbes p = probes();
    QList<int> waited;
    p.wait = [&](int ms) { waited << ms; };
    p.repairGige = [] { return 2; };
    p.daheng = [](DetectionResult&, bool) {
        QThread::sleep(5);  // an SDK that never answers in time
        return true;
    };
    standin::setDevices("hikvision", {{"HIK0000001", 640, 480, false}});
    const DetectionResult r = RunDetection(p, true, 300);
    EXPECT_EQ(waited, QList<int>{6000});
    EXPECT_EQ(r.kind, kKindHik);
    EXPECT_TRUE(r.log.join('|').contains("camera SDK Daheng did not answer")) << r.log.join('|').toStdString();
}

TEST_F(Station, UsbCamerasAreCountedFromTheInputDeviceList)
{
    writeText("devices", "N: Name=\"USB2.0 Camera\"\nP: Phys=usb\nN: Name=\"Keyboard\"\nN: Name=\"HD Camera: x\"\n");
    EXPECT_EQ(CheckUSBCameraNum(dir.file("devices")), 2);
    EXPECT_EQ(CheckUSBCameraNum(dir.file("absent")), 0);
    EXPECT_FALSE(QFile::exists("devices.copy"));
}

TEST_F(Station, SerialsKeepEachCameraAtItsIndexAcrossARestart)
{
    hikCameras({"HIKAAAAAAA1", "HIKBBBBBBB2"});
    {
        CameraManager m;
        m.BuildViews(wp);
        ASSERT_EQ(numCamera, 2);
        // The order page: the first camera found goes to index 2, the second to 1.
        int repeated = 0;
        EXPECT_EQ(m.SetCameraOrder({1, 1}, &repeated), 1327);
        EXPECT_EQ(repeated, 2);
        EXPECT_EQ(LanStr(1327, 1).arg(repeated), "2 repeating, please revise!");
        EXPECT_EQ(m.SetCameraOrder({1, 0}, &repeated), 0);
    }
    EXPECT_EQ(serialRow(0), "HIKBBBBBBB2");
    EXPECT_EQ(serialRow(1), "HIKAAAAAAA1");
    EXPECT_EQ(serialRow(2), "0");
    const QStringList r = recordRemarks();
    EXPECT_TRUE(r.contains("Save SN 2: HIKAAAAAAA1"));
    EXPECT_TRUE(r.contains("Save SN 1: HIKBBBBBBB2"));

    // Next start: the SDK lists them the other way round; the serials decide.
    standin::setDevices("hikvision", {{"HIKAAAAAAA1", 64, 48, false}, {"HIKBBBBBBB2", 64, 48, false}});
    WizardPara next;
    next.LoadDatafromFile();
    EXPECT_EQ(next.RecordedCameraCount(), 2);
    CameraManager m;
    m.BuildViews(next);
    ASSERT_EQ(numCamera, 2);
    EXPECT_EQ(m.view(0)->device()->serialNumber(), "HIKBBBBBBB2");
    EXPECT_EQ(m.view(1)->device()->serialNumber(), "HIKAAAAAAA1");
    // Clearing puts "0" in every row.
    EXPECT_TRUE(m.SaveSN(1));
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(serialRow(i), "0") << i;
}

TEST_F(Station, AChangedCameraCountAsksAndYesClearsTheSerialsAndReboots)
{
    hikCameras({"HIK0000001", "HIK0000002"});
    {
        CameraManager m;
        m.BuildViews(wp);
        ASSERT_TRUE(m.SaveSN(0));
        // The same two again: no question.
        int asked = 0;
        EXPECT_FALSE(m.CheckCameraCount(false, [&](const QString&) { return ++asked, 1; }));
        EXPECT_EQ(asked, 0);
    }
    // A third camera plugged in.
    standin::setDevices("hikvision",
                        {{"HIK0000001", 64, 48, false}, {"HIK0000002", 64, 48, false}, {"HIK0000003", 64, 48, false}});
    gFindCamera = 3;
    WizardPara next;
    next.LoadDatafromFile();
    ASSERT_EQ(next.RecordedCameraCount(), 2);
    CameraManager m;
    int flushed = 0;
    m.flushAll = [&] { ++flushed; };
    m.BuildViews(next);
    QStringList questions;
    // No: everything stays.
    EXPECT_FALSE(m.CheckCameraCount(false, [&](const QString& q) { return questions << q, 0; }));
    EXPECT_EQ(serialRow(0), "HIK0000001");
    EXPECT_FALSE(hostActions().contains("reboot"));
    // Yes: serials cleared, databases flushed, reboot asked of the host.
    EXPECT_TRUE(m.CheckCameraCount(false, [&](const QString& q) { return questions << q, 1; }));
    EXPECT_EQ(questions, (QStringList{LanStr(360), LanStr(360)}));
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(serialRow(i), "0") << i;
    EXPECT_EQ(flushed, 1);
    EXPECT_EQ(hostActions().count("reboot"), 1);
    gRebootPending = false;

    // No camera at all: the no-camera question, never a reboot.
    standin::setDevices("hikvision", {});
    gCameraID = kKindNone;
    numCamera = 0;
    questions.clear();
    EXPECT_FALSE(m.CheckCameraCount(false, [&](const QString& q) { return questions << q, 0; }));
    EXPECT_EQ(questions, QStringList{LanStr(134)});
    EXPECT_EQ(hostActions().count("reboot"), 1);
}

TEST_F(Station, IndexZeroIsSetUpEvenWithoutItsCamera)
{
    hikCameras({"HIK0000001", "HIK0000002"});
    std::strcpy(wp.serialNB[0], "NOSUCHSERIAL");
    CameraManager m;
    m.BuildViews(wp);
    EXPECT_EQ(numCamera, 1);
    ASSERT_EQ(m.viewCount(), 2);
    EXPECT_FALSE(m.view(0)->opened());
    EXPECT_TRUE(m.view(0)->inspecting());  // regions, templates, engine
    EXPECT_TRUE(m.view(1)->opened());
    EXPECT_TRUE(m.view(1)->inspecting());
}

TEST_F(Station, SixSilentSecondsLoseACameraButNeverWithTheExternalTrigger)
{
    gCameraID = kKindIds;
    gImageW = 64;
    gImageH = 48;
    gImageLen = gColorLen = 64 * 48;
    gFindCamera = 1;
    standin::setDevices("ids", {{"IDS00000001", 64, 48, false}});
    CameraManager m;
    int prohibited = 0;
    m.prohibitClamping = [&] { ++prohibited; };
    m.detecting = [] { return true; };
    QSignalSpy lost(&m, &CameraManager::cameraLost);
    m.BuildViews(wp);
    ASSERT_EQ(numCamera, 1);
    wp.use_external_trigger = 1;
    for (int t = 0; t < 10; ++t)
        m.SupervisionTick();
    EXPECT_EQ(lost.count(), 0);
    wp.use_external_trigger = 0;
    // A camera that delivers is not silent.
    for (int t = 0; t < 10; ++t) {
        ASSERT_TRUE(QTest::qWaitFor([&] { return m.view(0)->TakeFrame(); }, 2000));
        m.SupervisionTick();
    }
    EXPECT_EQ(lost.count(), 0);
    EXPECT_GT(m.view(0)->fps, 0);
    // Six silent ticks.
    for (int t = 0; t < 5; ++t)
        m.SupervisionTick();
    EXPECT_EQ(lost.count(), 0);
    m.SupervisionTick();
    ASSERT_EQ(lost.count(), 1);
    EXPECT_EQ(gisLost, 1);
    EXPECT_EQ(gLost, 1);
    EXPECT_EQ(prohibited, 1);
    EXPECT_FALSE(m.view(0)->opened());  // every camera closed
    EXPECT_EQ(lost.at(0).at(1).toBool(), wp.enable_camera_lost_alarm != 0);
    EXPECT_TRUE(recordRemarks().contains(LanStr(1009).arg(1).arg(1)));
    // Lost while lost: nothing more.
    m.CameraCheck(0);
    EXPECT_EQ(gLost, 1);

    // "Shut Down": the record first, then the power through the host.
    m.ShutDownAfterLoss();
    EXPECT_TRUE(recordRemarks().contains(LanStr(1604)));
    EXPECT_TRUE(hostActions().contains("poweroff"));
}

TEST_F(Station, ASilentStreamIsLostThoughTheCameraIsStillListed)
{
    hikCameras({"HIK0000001"});
    CameraManager m;
    m.detecting = [] { return true; };
    QSignalSpy lost(&m, &CameraManager::cameraLost);
    m.BuildViews(wp);
    ASSERT_EQ(numCamera, 1);
    wp.use_external_trigger = 0;
    // The camera is still enumerated, but no frame is taken for six seconds.
    for (int t = 0; t < 6; ++t)
        m.SupervisionTick();
    ASSERT_EQ(lost.count(), 1);
    EXPECT_EQ(gisLost, 1);
    EXPECT_TRUE(recordRemarks().contains(LanStr(1009).arg(1).arg(1)));
}

TEST_F(Station, TheHikvisionRecountNeverRunsOnTheCyclesThread)
{
    hikCameras({"HIK0000001"});
    CameraManager m;
    m.BuildViews(wp);
    ASSERT_EQ(numCamera, 1);
    std::atomic<bool> onCaller{false};
    std::atomic<int> calls{0};
    const auto caller = std::this_thread::get_id();
    m.recount = [&](int) {
        onCaller = onCaller || std::this_thread::get_id() == caller;
        ++calls;
        return 1;
    };
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(QTest::qWaitFor([&] {
            m.CameraCheck(0);
            return !m.recountPending();
        }, 5000));
    EXPECT_GE(calls.load(), 3);
    EXPECT_FALSE(onCaller.load());
    EXPECT_EQ(gisLost, 0);
}

TEST_F(Station, RecoveryOnlyWhenTheRecountMatches)
{
    hikCameras({"HIK0000001", "HIK0000002"});
    CameraManager m;
    m.BuildViews(wp);
    ASSERT_EQ(numCamera, 2);
    QSignalSpy lost(&m, &CameraManager::cameraLost), back(&m, &CameraManager::camerasRecovered);
    // The Hikvision recount runs beside the cycle: each check decides once it is in.
    auto checkDecided = [&](int index) {
        return QTest::qWaitFor([&] {
            m.CameraCheck(index);
            return !m.recountPending();
        }, 5000);
    };
    // Still two on the wire after an SDK disconnect: not lost, and the disconnect is over.
    CameraDevice::connectionLost = true;
    ASSERT_TRUE(checkDecided(0));
    EXPECT_EQ(lost.count(), 0);
    EXPECT_FALSE(CameraDevice::connectionLost);
    standin::setDevices("hikvision", {{"HIK0000001", 64, 48, false}});
    ASSERT_TRUE(checkDecided(1));
    ASSERT_EQ(lost.count(), 1);
    // One of two: try again later.
    EXPECT_TRUE(QTest::qWaitFor([&] {
        EXPECT_FALSE(m.CameraRestart());
        return !m.recountPending();
    }, 5000));
    EXPECT_EQ(gisLost, 1);
    standin::setDevices("hikvision", {{"HIK0000001", 64, 48, false}, {"HIK0000002", 64, 48, false}});
    EXPECT_TRUE(QTest::qWaitFor([&] { return m.CameraRestart(); }, 5000));
    EXPECT_EQ(gisLost, 0);
    EXPECT_EQ(back.count(), 1);
    EXPECT_TRUE(m.view(0)->opened());
    EXPECT_TRUE(m.view(1)->opened());
    EXPECT_TRUE(recordRemarks().contains(LanStr(1601)));

    // Daheng is never counted again: it stays lost.
    gCameraID = kKindDaheng;
    m.recount = nullptr;
    m.CameraCheck(0);
    EXPECT_EQ(gisLost, 1);
    EXPECT_FALSE(m.CameraRestart());
    gCameraID = kKindHik;
}

TEST_F(Station, HikvisionCamerasOutsideTheirPortsSubnetAreGivenAFreeAddress)
{
    qputenv("STATION_GIGE_IFACES", "test-only");  // lets the SDK path run; the stand-in sends nothing
    // A camera in the port's subnet; one outside it whose last octet is taken
    // by the port itself; one in the subnet that is not accessible.
    const unsigned port = 0xC0A8010A;  // 192.168.1.10
    standin::Device inside{"HIK0000001", 64, 48, false, 0xC0A80114, 0xFFFFFF00, port};
    standin::Device outside{"HIK0000002", 64, 48, false, 0xA9FE030A, 0xFFFF0000, port};
    standin::Device busy{"HIK0000003", 64, 48, false, 0xC0A80115, 0xFFFFFF00, port};
    busy.reachable = false;
    standin::setDevices("hikvision", {inside, outside, busy});
    EXPECT_EQ(EnsureDeviceReach(), 2);  // the moved one and the busy one
    // .10 is the port's own: the search goes on to .11 (a dry run's ping finds every other free).
    EXPECT_EQ(standin::written("HIK0000002", "ForceIpEx"), "192.168.1.11/255.255.0.0 gw 192.168.1.254");
    EXPECT_TRUE(standin::written("HIK0000001", "ForceIpEx").empty());
    EXPECT_TRUE(hostActions().contains("ping 192.168.1.11"));
    // From 254 the search turns back below the start.
    EXPECT_EQ(bChooseNoUseIp(0xC0A80100, 254, 0xC0A801FE), 0xC0A801FDu);
    qunsetenv("STATION_GIGE_IFACES");

    // Off a panel without the variable: nothing is asked or sent.
    standin::clearLog();
    EXPECT_EQ(EnsureDeviceReach(), 0);
    EXPECT_EQ(RepairAllCameraIP(), 0);
    EXPECT_TRUE(standin::written("HIK0000002", "ForceIpEx").empty());
    const QStringList journal = hostJournal();
    EXPECT_TRUE(journal.filter(QRegularExpression("^gige-repair .*nothing sent")).size() == 1) << journal.join('|').toStdString();
    EXPECT_TRUE(journal.filter(QRegularExpression("^hikvision-reach .*nothing sent")).size() == 1);
}

TEST(Gvcp, HeadersAddressesAndTheCommandLayout)
{
    uint8_t h[8];
    const uint16_t a = MakeGvcpHead(h, 0xF008, 0x38, true, true);
    EXPECT_EQ(h[0], 0x42);
    EXPECT_EQ(h[1], 0x11);
    EXPECT_EQ(h[2], 0xF0);
    EXPECT_EQ(h[3], 0x08);
    EXPECT_EQ(h[5], 0x38);
    const uint16_t b = MakeGvcpHead(h, 0x0002, 0, true, false);
    EXPECT_EQ(h[1], 0x10);
    EXPECT_EQ(b, uint16_t(a + 1));  // one counter for the process
    EXPECT_EQ(uint16_t(h[6] << 8 | h[7]), b);
    uint8_t ip[4];
    EXPECT_TRUE(GetIpFromString("192.168.1.254", ip));
    EXPECT_EQ(ip[3], 254);
    for (const char* bad : {"192.168.1", "192.168.1.256", "a.b.c.d", "1.2.3.4.5", ""})
        EXPECT_FALSE(GetIpFromString(bad, ip)) << bad;
}
