#include "CameraDevice.h"
#include "DahengCamera.h"
#include "DvpCamera.h"
#include "IdsCamera.h"
#include "HikCamera.h"
#include "MindCamera.h"
#include "SimCamera.h"
#include "StandIn.h"
#include "TestDir.h"
#include "UsbCamera.h"
#include "WizardPara.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QFile>
#include <QTest>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <gtest/gtest.h>
#include <cstring>

namespace {
constexpr int W = 64, H = 48;

struct Cameras : ::testing::Test {
    TestDir dir{TestDir::Empty};
    WizardPara params;
    void SetUp() override
    {
        createGlobalLocks();
        gImageW = W;
        gImageH = H;
        gImageLen = W * H;
        gisColor = 0;
        gColorLen = gImageLen;
        gSensorColor = 0;
        gFindCamera = 2;
        for (auto& s : gSerialNB)
            std::strcpy(s, "0");
        params = WizardPara();
        params.capture_speed = 20;
        for (int c = 0; c < 8; ++c) {
            params.contrast[c] = 100;
            params.gamma[c] = 100;
        }
        gpWPara = &params;
        CameraDevice::connectionLost = false;
        standin::clearLog();
    }
    void TearDown() override { gpWPara = nullptr; }
    static bool waitFrame(int index, std::vector<unsigned char>& out, int ms = 3000)
    {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < ms) {
            if (CameraDevice::TakeFrame(index, out))
                return true;
            QThread::msleep(2);
        }
        return false;
    }
};

// A camera kind that delivers only when told: the hand-off alone.
class Manual : public CameraDevice {
public:
    explicit Manual(int index) : CameraDevice(index, 0) {}
    void push(unsigned char v)
    {
        std::vector<unsigned char> f(frameBytes(), v);
        deliver(f.data(), f.size(), gisColor ? Layout::Bgra32 : Layout::Mono8);
    }

protected:
    bool openKind() override { return true; }
};

bool makeVideo(const QString& path, int frames, const QString& size = "64x48")
{
    const QString ffmpeg = QStandardPaths::findExecutable("ffmpeg");
    if (ffmpeg.isEmpty())
        return false;
    return QProcess::execute(ffmpeg, {"-loglevel", "error", "-y", "-f", "lavfi", "-i",
                                      QStringLiteral("testsrc=size=%1:rate=30").arg(size), "-frames:v",
                                      QString::number(frames), "-pix_fmt", "yuv420p", path}) == 0;
}
} // namespace

TEST_F(Cameras, HandOffOverwritesAFrameNotTakenAndTriggerChangesDropIt)
{
    Manual cam(0);
    ASSERT_TRUE(cam.CameraOpen());
    std::vector<unsigned char> got;
    EXPECT_FALSE(CameraDevice::TakeFrame(0, got));
    cam.push(1);
    cam.push(2);  // the first was never taken: overwritten, not queued
    ASSERT_TRUE(CameraDevice::TakeFrame(0, got));
    EXPECT_EQ(got.size(), size_t(W * H));
    EXPECT_EQ(got[0], 2);
    EXPECT_FALSE(CameraDevice::TakeFrame(0, got));
    cam.push(3);
    cam.CameraChangeTrig(false);
    EXPECT_FALSE(CameraDevice::TakeFrame(0, got));
    cam.CameraClose();
    EXPECT_FALSE(cam.opened());
    Manual beyond(2);  // index not below the cameras found
    EXPECT_FALSE(beyond.CameraOpen());
}

TEST_F(Cameras, ReplayDeliversPicturesInNameOrderAtTheCaptureSpeed)
{
    QDir().mkpath("pics");
    const int values[] = {10, 20, 30};
    const char* names[] = {"frame2.png", "frame10.png", "frame1.png"};  // numeric order: 1, 2, 10
    for (int i = 0; i < 3; ++i)
        cv::imwrite(QStringLiteral("pics/%1").arg(names[i]).toStdString(),
                    cv::Mat(H * 2, W * 2, CV_8UC1, cv::Scalar(values[i])));  // resized on the way
    params.capture_speed = 20;
    SimCamera cam(0, dir.file("pics"));
    ASSERT_TRUE(cam.CameraOpen());
    cam.CameraStart();
    std::vector<unsigned char> f;
    std::vector<int> seen;
    while (seen.size() < 4 && waitFrame(0, f))
        seen.push_back(f[size_t(W * H / 2)]);
    EXPECT_EQ(seen, (std::vector<int>{30, 10, 20, 30}));  // frame1, frame2, frame10, then again
    const quint64 before = cam.delivered();
    QThread::msleep(1000);
    const quint64 perSecond = cam.delivered() - before;
    // 20 a second; a loaded machine may lose a few, never gain.
    EXPECT_GE(perSecond, 8u);
    EXPECT_LE(perSecond, 22u);
    cam.CameraStop();
    cam.CameraClose();

    SimCamera none(1, QString());  // no replay: kind 0 delivers nothing
    ASSERT_TRUE(none.CameraOpen());
    none.CameraStart();
    QThread::msleep(400);
    EXPECT_EQ(none.delivered(), 0u);
}

TEST_F(Cameras, AReplayedSceneThatCannotBeReadDeliversNothing)
{
    cv::imwrite("scene.png", cv::Mat(H, W, CV_8UC1, cv::Scalar(10)));
    params.capture_speed = 20;
    SimCamera cam(0, dir.file("scene.png"));
    ASSERT_TRUE(cam.CameraOpen());
    cam.CameraStart();
    std::vector<unsigned char> f;
    ASSERT_TRUE(waitFrame(0, f));
    EXPECT_EQ(f[0], 10);
    auto triesPass = [&](quint64 n) {
        const quint64 from = cam.tries();
        return QTest::qWaitFor([&] { return cam.tries() >= from + n; }, 5000);
    };
    // The scene goes (a camera whose stream stopped): a frame made before may still be there...
    QFile::remove("scene.png");
    ASSERT_TRUE(triesPass(2));
    while (CameraDevice::TakeFrame(0, f)) {
    }
    // ...but no try after it sends the last picture again as a new one.
    ASSERT_TRUE(triesPass(3));
    EXPECT_FALSE(CameraDevice::TakeFrame(0, f)) << "a vanished scene was delivered again as new";
    // A broken file is no picture either; a good one is seen again.
    QFile broken("scene.png");
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
    broken.write("\x89PNG not really");
    broken.close();
    ASSERT_TRUE(triesPass(3));
    EXPECT_FALSE(CameraDevice::TakeFrame(0, f));
    cv::imwrite("next.png", cv::Mat(H, W, CV_8UC1, cv::Scalar(99)));
    QFile::remove("scene.png");
    QFile::rename("next.png", "scene.png");
    ASSERT_TRUE(waitFrame(0, f));
    EXPECT_EQ(f[0], 99);
    cam.CameraClose();
}

TEST_F(Cameras, ReplayOfAVideoFile)
{
    ASSERT_TRUE(makeVideo(dir.file("clip.mkv"), 10)) << "ffmpeg is needed (./station.sh deps)";
    SimCamera cam(0, dir.file("clip.mkv"));
    ASSERT_TRUE(cam.CameraOpen());
    cam.CameraStart();
    std::vector<unsigned char> f;
    int frames = 0;
    while (frames < 15 && waitFrame(0, f))
        ++frames;
    EXPECT_EQ(frames, 15);  // more than the clip holds: it loops
    cam.CameraClose();
}

TEST_F(Cameras, UsbFilterPiecesFallbackAndGreyInColour)
{
    EXPECT_EQ(UsbCamera::contrastText(100), "eq=contrast=0.000000:");
    EXPECT_EQ(UsbCamera::contrastText(200), "eq=contrast=2.000000:");
    EXPECT_EQ(UsbCamera::contrastText(140) + UsbCamera::gammaText(40) + UsbCamera::sharpText(0),
              "eq=contrast=0.800000:gamma=1.684000,unsharp=5:5:0.000000");

    ASSERT_TRUE(makeVideo(dir.file("video0.mkv"), 20));
    ASSERT_TRUE(makeVideo(dir.file("video2.mkv"), 20));
    UsbCamera::inputFormat = "";
    UsbCamera::devicePattern = (dir.path() + "/video%d.mkv").toStdString();
    {
        UsbCamera cam(1);
        ASSERT_TRUE(cam.CameraOpen());
        EXPECT_TRUE(cam.openedDevice().endsWith("video2.mkv")) << cam.openedDevice().toStdString();
        cam.CameraStart();
        std::vector<unsigned char> f;
        EXPECT_TRUE(waitFrame(1, f));
        cam.CameraClose();
    }
    gisColor = 1;
    gColorLen = 4 * gImageLen;
    {
        UsbCamera cam(0);
        ASSERT_TRUE(cam.CameraOpen());
        cam.CameraStart();
        std::vector<unsigned char> f;
        ASSERT_TRUE(waitFrame(0, f));
        ASSERT_EQ(f.size(), size_t(4 * W * H));
        int coloured = 0;
        for (size_t i = 0; i < f.size(); i += 4)
            coloured += !(f[i] == f[i + 1] && f[i + 1] == f[i + 2]);
        EXPECT_EQ(coloured, 0);  // the graph outputs grey
        params.contrast[0] = 150;
        cam.SetContrast();
        EXPECT_EQ(cam.contrastPiece, "eq=contrast=1.000000:");
        cam.CameraClose();
    }
    UsbCamera::inputFormat = "video4linux2";
    UsbCamera::devicePattern = "/dev/video%d";
    gFindCamera = 8;
    UsbCamera missing(5);
    EXPECT_FALSE(missing.CameraOpen());
}

TEST_F(Cameras, HikvisionSequencesFormulasAndCallbacks)
{
    standin::setDevices("hikvision", {{"HIK0000001", W, H, false}, {"HIK0000002", W, H, false}});
    params.use_external_trigger = 1;
    params.expose_time[1] = 30;
    params.adjust_plus[1] = 32;
    params.gamma[1] = 125;
    {
        HikCamera byPosition(1);
        ASSERT_TRUE(byPosition.CameraOpen());
        EXPECT_EQ(standin::written("HIK0000002", "TriggerMode"), "1");
        EXPECT_EQ(standin::written("HIK0000002", "TriggerSource"), "0");
        EXPECT_EQ(standin::written("HIK0000002", "ExposureTime"), std::to_string(30000.0f));
        EXPECT_EQ(standin::written("HIK0000002", "Gain"), std::to_string(8.5f));   // 0 + 17/64 x 32
        EXPECT_EQ(standin::written("HIK0000002", "Gamma"), std::to_string(2.0f));  // 0 + 4/250 x 125
        EXPECT_EQ(standin::written("HIK0000002", "PixelFormat"), std::to_string(0x01080001));
        EXPECT_EQ(standin::written("HIK0000002", "GevHeartbeatTimeout"), "500");
        byPosition.speedKind(3);
        EXPECT_EQ(standin::written("HIK0000002", "AcquisitionFrameRate"), std::to_string(20.0f));
        byPosition.speedKind(12);
        EXPECT_EQ(standin::written("HIK0000002", "AcquisitionFrameRate"), std::to_string(12.0f));
        params.use_external_trigger = 0;
        byPosition.CameraChangeTrig(false);
        EXPECT_EQ(standin::written("HIK0000002", "TriggerMode"), "0");
        byPosition.CameraStart();
        std::vector<unsigned char> f;
        EXPECT_TRUE(waitFrame(1, f));
        MvStandInDisconnect("HIK0000002");
        EXPECT_TRUE(CameraDevice::connectionLost);
        byPosition.CameraStop();
        byPosition.CameraClose();  // joins the thread and frees the device
        EXPECT_EQ(standin::written("HIK0000002", "DestroyHandle"), "ok");
    }
    std::strcpy(gSerialNB[0], "HIK0000002");
    HikCamera bySerial(0);
    EXPECT_TRUE(bySerial.CameraOpen());
    bySerial.CameraClose();
    std::strcpy(gSerialNB[0], "NOSUCHCAMERA1");
    HikCamera unknown(0);
    EXPECT_FALSE(unknown.CameraOpen());
    EXPECT_FALSE(unknown.opened());
}

TEST_F(Cameras, ProducersAndConsumerShareFramesCleanly)
{
    standin::setDevices("hikvision", {{"HIK0000001", W, H, false}});
    QDir().mkpath("pics");
    for (int i = 0; i < 5; ++i)
        cv::imwrite(QStringLiteral("pics/%1.png").arg(i).toStdString(), cv::Mat(H, W, CV_8UC1, cv::Scalar(i * 40)));
    params.capture_speed = 100;
    HikCamera hik(0);
    SimCamera sim(1, dir.file("pics"));
    ASSERT_TRUE(hik.CameraOpen());
    ASSERT_TRUE(sim.CameraOpen());
    hik.CameraStart();
    sim.CameraStart();
    const int seconds = qEnvironmentVariableIntValue("STATION_SOAK_SECONDS") > 0
                            ? qEnvironmentVariableIntValue("STATION_SOAK_SECONDS") : 2;
    QElapsedTimer t;
    t.start();
    std::vector<unsigned char> f;
    int taken[2] = {0, 0};
    while (t.elapsed() < seconds * 1000) {
        for (int i = 0; i < 2; ++i) {
            if (CameraDevice::TakeFrame(i, f)) {
                ++taken[i];
                // A whole frame, never a mix of two.
                if (i == 1) {
                    ASSERT_EQ(std::count(f.begin(), f.end(), f[0]), long(f.size()));
                }
            }
        }
        QThread::msleep(3);
    }
    hik.CameraClose();
    sim.CameraClose();
    EXPECT_GT(taken[0], seconds * 10);
    EXPECT_GT(taken[1], seconds * 10);
}

TEST_F(Cameras, DahengSequencesSoftwareContrastAndGrabbing)
{
    standin::setDevices("daheng", {{"GX00000001", W * 2, H * 2, false}, {"GX00000002", W * 2, H * 2, false}});
    gOW = W * 2;
    gOH = H * 2;
    params.expose_time[0] = 50;
    params.contrast[0] = 151;
    DahengCamera cam(0);
    ASSERT_TRUE(cam.CameraOpen());
    EXPECT_EQ(standin::written("GX00000001", "OpenByIndex"), "1");
    EXPECT_EQ(standin::written("GX00000001", "0x100003F0"), "2");  // half the sensor: binning
    EXPECT_EQ(standin::written("GX00000001", "0x100003EE"), std::to_string(W));
    EXPECT_EQ(standin::written("GX00000001", "0x30000BBD"), "0");   // free-running
    EXPECT_EQ(standin::written("GX00000001", "0x20000BC1"), std::to_string(double(int(20 + (1000000 - 20) / 100.0 * 50))));
    {
        QMutexLocker lock(pMutex[0]);
        EXPECT_EQ(gContrast[0], 100);
    }
    params.contrast[0] = 150;
    cam.SetContrast();
    EXPECT_EQ(gContrast[0], 100);
    params.contrast[0] = 0;
    cam.SetContrast();
    EXPECT_EQ(gContrast[0], -50);
    cam.CameraStart();
    std::vector<unsigned char> f;
    ASSERT_TRUE(waitFrame(0, f));
    // The stand-in's ramp at (1, 20) is 21; halved contrast pulls it towards mid-grey.
    EXPECT_EQ(f[20 * W + 1], 128 + (21 - 128) * 50 / 100);
    cam.CameraStop();
    cam.CameraClose();
    std::strcpy(gSerialNB[1], "GX00000002");
    DahengCamera bySerial(1);
    EXPECT_TRUE(bySerial.CameraOpen());
    EXPECT_EQ(standin::written("GX00000002", "OpenBySN"), std::to_string(GX_ACCESS_EXCLUSIVE));
    bySerial.CameraClose();
}

TEST_F(Cameras, MindVisionSequencesFormulasAndFrames)
{
    standin::setDevices("mindvision", {{"MV00000001", W, H, false}, {"MV00000002", W, H, false}});
    std::memset(gCList, 0, sizeof gCList);
    gOW = W;
    gOH = H;
    params.use_external_trigger = 1;
    params.expose_time[0] = 20;
    params.adjust_plus[0] = 16;
    params.sharp[0] = 50;
    params.gamma[0] = 125;
    params.h_mirror[0] = 1;
    MindCamera cam(0);
    ASSERT_TRUE(cam.CameraOpen());
    EXPECT_EQ(standin::written("MV00000001", "Resolution"), "255 0 0 " + std::to_string(W) + "x" + std::to_string(H));
    EXPECT_EQ(standin::written("MV00000001", "IspOutFormat"), std::to_string(CAMERA_MEDIA_TYPE_MONO8));
    EXPECT_EQ(standin::written("MV00000001", "TriggerMode"), "2");
    EXPECT_EQ(standin::written("MV00000001", "ExposureTime"), "20000");
    EXPECT_EQ(standin::written("MV00000001", "AnalogGain"), "100");   // 0 + 400/64 x 16
    EXPECT_EQ(standin::written("MV00000001", "Sharpness"), "50");     // 0 + (100 div 100) x 50
    EXPECT_EQ(standin::written("MV00000001", "Gamma"), "125");
    EXPECT_EQ(standin::written("MV00000001", "MirrorH"), "1");
    EXPECT_EQ(standin::written("MV00000001", "CommonCall"), "set_awdr_enable(false)");
    cam.speedKind(5);
    EXPECT_EQ(standin::written("MV00000001", "FrameSpeed"), "5");
    cam.CameraStart();
    std::vector<unsigned char> f;
    EXPECT_TRUE(waitFrame(0, f));
    MindStandInDisconnect("MV00000001");
    EXPECT_TRUE(CameraDevice::connectionLost);
    cam.CameraClose();
    EXPECT_EQ(standin::written("MV00000001", "CameraUnInit"), "ok");

    TestDir station;  // a record to fail into
    std::strcpy(gSerialNB[1], "NOSUCHCAMERA1");
    MindCamera unknown(1);
    EXPECT_FALSE(unknown.CameraOpen());
    const QStringList texts = recordRemarks();
    EXPECT_TRUE(texts.contains("Mind Fail = -1")) << texts.join('|').toStdString();
}

TEST_F(Cameras, IdsTakesChangedImageMemoryOnly)
{
    standin::setDevices("ids", {{"IDS00000001", W, H, false}, {"IDS00000002", W, H, false}});
    params.expose_time[0] = 25;
    params.adjust_plus[0] = 12;
    params.gamma[0] = 160;
    IdsCamera cam(0);
    ASSERT_TRUE(cam.CameraOpen());
    EXPECT_EQ(standin::written("IDS00000001", "InitCamera"), "1");
    EXPECT_EQ(standin::written("IDS00000001", "ColorMode"), "6");
    EXPECT_EQ(standin::written("IDS00000001", "AllocImageMem"), std::to_string(W) + "x" + std::to_string(H) + "x8");
    EXPECT_EQ(standin::written("IDS00000001", "PixelClock"), "5");
    EXPECT_EQ(standin::written("IDS00000001", "Exposure"), std::to_string(25.0));
    EXPECT_EQ(standin::written("IDS00000001", "HardwareGain"), "12");
    EXPECT_EQ(standin::written("IDS00000001", "Gamma"), "160");
    cam.CameraStart();
    std::vector<unsigned char> f;
    EXPECT_TRUE(waitFrame(0, f));
    cam.CameraStop();
    EXPECT_EQ(standin::written("IDS00000001", "StopLiveVideo"), std::to_string(IS_FORCE_VIDEO_STOP));
    cam.CameraClose();
    // By serial: the others initialised on the way are let go again.
    std::strcpy(gSerialNB[1], "IDS00000002");
    IdsCamera bySerial(1);
    ASSERT_TRUE(bySerial.CameraOpen());
    EXPECT_EQ(standin::written("IDS00000001", "ExitCamera"), "ok");
    bySerial.CameraClose();
}

TEST_F(Cameras, DvpCallbackSkipsFramesByTheSpeedSetting)
{
    standin::setDevices("dvp", {{"DVP0000001", W, H, false}});
    params.use_external_trigger = 1;
    params.adjust_plus[0] = 32;
    params.contrast[0] = 100;
    DvpCamera cam(0);
    ASSERT_TRUE(cam.CameraOpen());
    EXPECT_EQ(standin::written("DVP0000001", "OpenByName"), "33");
    EXPECT_EQ(standin::written("DVP0000001", "TargetFormat"), "30");
    EXPECT_EQ(standin::written("DVP0000001", "Roi"), "0 0 " + std::to_string(W) + " " + std::to_string(H));
    EXPECT_EQ(standin::written("DVP0000001", "TriggerState"), "1");
    EXPECT_EQ(standin::written("DVP0000001", "AnalogGain"), "8.5");  // 1 + 15/64 x 32
    EXPECT_EQ(standin::written("DVP0000001", "Contrast"), "100");
    EXPECT_EQ(standin::written("DVP0000001", "StreamCallback"), "2");
    cam.CameraStart();
    std::vector<unsigned char> f;
    ASSERT_TRUE(waitFrame(0, f));
    QThread::msleep(500);
    const quint64 all = cam.delivered();
    cam.CameraStop();
    cam.speedKind(3);  // one frame in four
    const quint64 before = cam.delivered();
    cam.CameraStart();
    QThread::msleep(800);
    const quint64 skipped = cam.delivered() - before;
    cam.CameraClose();
    EXPECT_GT(all, 10u);
    EXPECT_LE(skipped, 12u);  // 40 pushed in 0.8 s, one in four used
    EXPECT_GE(skipped, 2u);
    EXPECT_FALSE(cam.IsValidHandle(12345));
}

TEST_F(Cameras, SettersReadTheEditCopyWhileTheSettingsPageIsOpenAndSpeedReachesEveryCamera)
{
    standin::setDevices("hikvision", {{"HIK0000001", W, H, false}, {"HIK0000002", W, H, false}});
    WizardPara edit = params;
    gpWParaBak = &edit;
    HikCamera a(0), b(1);
    ASSERT_TRUE(a.CameraOpen());
    ASSERT_TRUE(b.CameraOpen());
    params.expose_time[0] = 10;
    edit.expose_time[0] = 77;
    a.SetExposeTime();
    EXPECT_EQ(standin::written("HIK0000001", "ExposureTime"), std::to_string(10000.0f));
    gisSettingsOpen = true;
    a.SetExposeTime();
    EXPECT_EQ(standin::written("HIK0000001", "ExposureTime"), std::to_string(77000.0f));
    edit.capture_speed = 15;
    CameraSetSpeed({&a, &b});
    gisSettingsOpen = false;
    EXPECT_EQ(standin::written("HIK0000001", "AcquisitionFrameRate"), std::to_string(15.0f));
    EXPECT_EQ(standin::written("HIK0000002", "AcquisitionFrameRate"), std::to_string(15.0f));
    EXPECT_EQ(standin::written("HIK0000002", "StartGrabbing"), "ok");  // stopped, set, started again
    a.CameraClose();
    b.CameraClose();
    gpWParaBak = nullptr;
    std::vector<std::unique_ptr<CameraDevice>> all;
    for (int kind : {0, 4, 5, 6, 7, 9, 12})
        EXPECT_NE(CreateCameraDevice(kind, 0), nullptr) << kind;
    EXPECT_EQ(CreateCameraDevice(3, 0), nullptr);
}

TEST_F(Cameras, OpenAppliesTriggerThenGainExposureContrastSharpnessGammaMirrors)
{
    standin::setDevices("mindvision", {{"MV00000001", W, H, false}});
    std::memset(gCList, 0, sizeof gCList);
    MindCamera cam(0);
    ASSERT_TRUE(cam.CameraOpen());
    const QStringList log = standin::callLog();
    auto at = [&](const char* feature) {
        for (int i = 0; i < log.size(); ++i)
            if (log[i].startsWith(QStringLiteral("MV00000001 %1=").arg(feature)))
                return i;
        return -1;
    };
    const int order[] = {at("TriggerMode"), at("AnalogGain"), at("ExposureTime"), at("Contrast"),
                         at("Sharpness"),   at("Gamma"),      at("MirrorH"),      at("MirrorV")};
    for (size_t i = 0; i < std::size(order); ++i)
        ASSERT_GE(order[i], 0) << i;
    for (size_t i = 1; i < std::size(order); ++i)
        EXPECT_LT(order[i - 1], order[i]) << i;
    cam.CameraClose();
}

TEST_F(Cameras, ALongSerialMatchingNoDeviceLeavesTheIndexUnopened)
{
    standin::setDevices("daheng", {{"GX00000001", W, H, false}});
    standin::setDevices("ids", {{"IDS00000001", W, H, false}});
    std::strcpy(gSerialNB[0], "NOSUCHCAMERA1");
    DahengCamera daheng(0);
    EXPECT_FALSE(daheng.CameraOpen());
    EXPECT_FALSE(daheng.opened());
    IdsCamera ids(0);
    EXPECT_FALSE(ids.CameraOpen());
    EXPECT_EQ(standin::written("IDS00000001", "ExitCamera"), "ok");  // tried and let go
    daheng.CameraStart();  // an unopened camera does nothing
    std::vector<unsigned char> f;
    QThread::msleep(100);
    EXPECT_FALSE(CameraDevice::TakeFrame(0, f));
}

namespace {
struct KindCase {
    const char* vendor;  // stand-in name, empty for replay
    int kind;
    bool colourSensor;
};
} // namespace

class ColourMode : public Cameras, public ::testing::WithParamInterface<KindCase> {};

// In colour mode every kind hands over whole 4-byte frames: a grey sensor's
// plane widened, a colour sensor's converted, nothing stale or read past.
TEST_P(ColourMode, EveryKindDeliversWholeFramesInTheStationsLayout)
{
    const KindCase c = GetParam();
    gisColor = 1;
    gColorLen = 4 * gImageLen;
    gSensorColor = c.colourSensor ? 1 : 0;
    gOW = W;
    gOH = H;
    params.contrast[0] = 50;  // Daheng's software contrast: unchanged
    std::memset(gCList, 0, sizeof gCList);
    QString replay;
    if (*c.vendor) {
        standin::setDevices(c.vendor, {{"CAM00000001", W, H, c.colourSensor}});
    } else {
        QDir().mkpath("pics");
        cv::Mat ramp(H, W, CV_8UC1);
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x)
                ramp.at<uchar>(y, x) = uchar((x + y) & 0x7F);
        cv::imwrite("pics/0.png", ramp);
        replay = dir.file("pics");
    }
    std::unique_ptr<CameraDevice> cam = c.kind == 0 ? std::make_unique<SimCamera>(0, replay)
                                                    : CreateCameraDevice(c.kind, 0);
    ASSERT_TRUE(cam->CameraOpen());
    cam->CameraStart();
    std::vector<unsigned char> f;
    ASSERT_TRUE(waitFrame(0, f));
    ASSERT_EQ(f.size(), size_t(4 * W * H));
    // Below the stand-ins' moving block the picture is the ramp (x + y) & 127.
    int wrong = 0;
    for (int y = 20; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            const unsigned char* p = &f[size_t(4 * (y * W + x))];
            const int v = (x + y) & 0x7F;
            wrong += !(p[0] == v && p[1] == v && p[2] == v && p[3] == 255);
        }
    EXPECT_EQ(wrong, 0) << c.vendor << " " << c.kind;
    EXPECT_EQ(cam->refused(), 0u);
    cam->CameraClose();
}

INSTANTIATE_TEST_SUITE_P(EachKind, ColourMode,
                         ::testing::Values(KindCase{"daheng", 4, false}, KindCase{"ids", 5, false},
                                           KindCase{"mindvision", 6, false}, KindCase{"mindvision", 6, true},
                                           KindCase{"hikvision", 7, false}, KindCase{"hikvision", 7, true},
                                           KindCase{"dvp", 12, false}, KindCase{"dvp", 12, true},
                                           KindCase{"", 0, false}),
                         [](const auto& info) {
                             return std::string(*info.param.vendor ? info.param.vendor : "replay") +
                                    (info.param.colourSensor ? "Colour" : "Mono");
                         });

TEST_F(Cameras, StopWaitsForTheThreadAndAReopenKeepsIt)
{
    standin::setDevices("daheng", {{"GX00000001", W, H, false}});
    gOW = W;
    gOH = H;
    DahengCamera cam(0);
    ASSERT_TRUE(cam.CameraOpen());
    CameraThread* thread = cam.thread();
    cam.CameraStart();
    std::vector<unsigned char> f;
    ASSERT_TRUE(waitFrame(0, f));
    EXPECT_TRUE(cam.CameraOpen());           // already open: nothing replaced
    EXPECT_EQ(cam.thread(), thread);
    cam.CameraStop();
    EXPECT_FALSE(thread->isRunning());       // the SDK is idle for what comes next
    const quint64 stopped = cam.delivered();
    QThread::msleep(150);
    EXPECT_EQ(cam.delivered(), stopped);
    cam.RestoreDefaultSettings();            // stop, defaults, start
    EXPECT_TRUE(waitFrame(0, f));
    cam.CameraStart();                        // a second start starts nothing more
    EXPECT_TRUE(thread->isRunning());
    CameraSetSpeed({&cam});
    EXPECT_TRUE(waitFrame(0, f));
    cam.CameraClose();
}

TEST_F(Cameras, FramesOfTheWrongSizeAreRefused)
{
    Manual cam(0);
    ASSERT_TRUE(cam.CameraOpen());
    std::vector<unsigned char> small(size_t(W * H / 2), 7), rgb(size_t(3 * W * H), 9);
    EXPECT_FALSE(cam.deliver(small.data(), small.size(), CameraDevice::Layout::Mono8));
    EXPECT_EQ(cam.refused(), 1u);
    std::vector<unsigned char> f;
    EXPECT_FALSE(CameraDevice::TakeFrame(0, f));
    EXPECT_TRUE(cam.deliver(rgb.data(), rgb.size(), CameraDevice::Layout::Rgb24));  // grey mode: converted
    ASSERT_TRUE(CameraDevice::TakeFrame(0, f));
    EXPECT_EQ(f.size(), size_t(W * H));
    EXPECT_EQ(f[0], 9);

    // A device whose frames do not fit the working size: nothing delivered.
    cam.CameraClose();
    standin::setDevices("hikvision", {{"HIK0000001", W * 2, H, false}});
    HikCamera hik(0);
    ASSERT_TRUE(hik.CameraOpen());
    hik.CameraStart();
    QTRY_VERIFY_WITH_TIMEOUT(hik.refused() > 0, 2000);
    EXPECT_EQ(hik.delivered(), 0u);
    hik.CameraClose();
}

TEST_F(Cameras, AFailingUsbReadBacksOffAndNeverHoldsTheFrameLock)
{
    ASSERT_TRUE(makeVideo(dir.file("video0.mkv"), 3));
    UsbCamera::inputFormat = "";
    UsbCamera::devicePattern = (dir.path() + "/video%d.mkv").toStdString();
    UsbCamera cam(0);
    ASSERT_TRUE(cam.CameraOpen());
    cam.CameraStart();
    // Three frames, then the file ends: every further read fails.
    QThread::msleep(1500);
    const quint64 failed = cam.failedReads();
    // Backing off to half a second: a handful of tries, not thousands.
    EXPECT_GE(failed, 2u);
    EXPECT_LE(failed, 20u);
    // The frame lock is free while the device gives nothing.
    EXPECT_TRUE(pMutex[0]->tryLock(50));
    pMutex[0]->unlock();
    cam.SetContrast();  // the graph can be rebuilt meanwhile
    cam.CameraClose();
    UsbCamera::inputFormat = "video4linux2";
    UsbCamera::devicePattern = "/dev/video%d";
}
