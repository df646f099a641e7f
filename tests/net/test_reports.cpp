// The reports: their members in order, the state mirrored in ./cnt_net/data,
// and the video blocks.
#include "CammerRecong.h"
#include "CammerSingleton.h"
#include "NetRig.h"

#include <QFile>
#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>
#include <sys/ipc.h>
#include <sys/sem.h>
#include <sys/shm.h>

namespace {
QByteArray lastBody(CNT_Net& net) { return bodyOf(net.sender().snapshot().last()); }

int number(const QByteArray& json, const QList<const char*>& path)
{
    cJSON* root = cJSON_ParseWithLength(json.constData(), size_t(json.size()));
    const cJSON* o = root;
    for (const char* p : path)
        o = *p == '#' ? cJSON_GetArrayItem(o, atoi(p + 1)) : cJSON_GetObjectItemCaseSensitive(o, p);
    const int v = cJSON_IsNumber(o) ? o->valueint : -99999;
    cJSON_Delete(root);
    return v;
}

QString text(const QByteArray& json, const char* name)
{
    cJSON* root = cJSON_ParseWithLength(json.constData(), size_t(json.size()));
    const cJSON* o = cJSON_GetObjectItemCaseSensitive(root, name);
    const QString v = cJSON_IsString(o) ? QString::fromUtf8(o->valuestring) : QStringLiteral("<none>");
    cJSON_Delete(root);
    return v;
}

struct Counters {
    quint32 all[8] = {}, fail[8] = {};
    void install(CNT_Net& net, int cameras)
    {
        net.sources.cameras = [cameras] { return cameras; };
        net.sources.allNum = [this](int c) { return all[c]; };
        net.sources.failNum = [this](int c) { return fail[c]; };
    }
};
} // namespace

TEST(StatisticsReport, MembersInOrderRatesAndWhatARestartReadsBack)
{
    NetRig rig;
    Counters n;
    n.install(*rig.net, 2);
    rig.net->sources.state = [] { return 0; };
    rig.net->sources.cycleTenths = [] { return 123; };
    rig.wp.cnt_cavities = 4;

    // Nothing watched yet: every rate 0.
    rig.net->ChkandAddStaticticsItem(1, 2, 5);
    rig.net->CNT_SendStatistics("null");
    QByteArray body = lastBody(*rig.net);
    EXPECT_EQ(keysOf(body), (QStringList{"device_id", "state", "product_name", "product_serial", "products_num",
                                         "start_utc", "real_produce", "utc_watch_total", "total_stop_alarm_timelen",
                                         "watch_count_total", "ng_count_total", "ng_notification_rate",
                                         "watch_circle", "utc", "ng_image", "camera"}));
    EXPECT_EQ(number(body, {"ng_notification_rate"}), 0);
    EXPECT_EQ(number(body, {"camera", "ng", "#0", "ng_monitors", "#0", "ok_rate"}), 0);

    n.all[0] = 200, n.fail[0] = 10, n.all[1] = 400, n.fail[1] = 30;
    rig.net->CNT_AddNgTimes(4000);
    rig.net->CNT_AddNgTimes(2000);
    rig.net->CNT_SendStatistics("./alarmimage/camera2/detect3/NG/1.jpg");
    body = lastBody(*rig.net);
    EXPECT_EQ(number(body, {"watch_count_total"}), 400);
    EXPECT_EQ(number(body, {"ng_count_total"}), 30);
    EXPECT_EQ(number(body, {"ng_notification_rate"}), 750);   // 7.50 %
    EXPECT_EQ(number(body, {"real_produce"}), (400 - 30) * 4);
    EXPECT_EQ(number(body, {"watch_circle"}), 12300);
    EXPECT_EQ(number(body, {"total_stop_alarm_timelen"}), 6000);
    EXPECT_EQ(text(body, "ng_image"), "./alarmimage/camera2/detect3/NG/1.jpg");
    const QList<const char*> cam{"camera", "ng", "#0"};
    EXPECT_EQ(number(body, cam + QList<const char*>{"average_monitor_period"}), 3000);
    EXPECT_EQ(number(body, cam + QList<const char*>{"now_monitor_period"}), 2000);
    EXPECT_EQ(number(body, cam + QList<const char*>{"ng_monitors", "#0", "not_ok_rate"}), 750);
    EXPECT_EQ(number(body, cam + QList<const char*>{"ng_monitors", "#0", "alarm", "#0", "alarm_area_num"}), 6);
    // The file holds the report itself.
    EXPECT_EQ(readText("cnt_net/data/Statistics").toUtf8(), body);

    // A restart reads the tree back under the same keys.
    CNT_Path_Statistics before = rig.net->statistics();
    rig.net->InitStatistics();
    const CNT_Path_Statistics after = rig.net->statistics();
    EXPECT_FALSE(after.fresh);
    EXPECT_EQ(after.start_utc, before.start_utc);
    ASSERT_TRUE(after.cameras.contains(1));
    ASSERT_TRUE(after.cameras[1].detects.contains(2));
    EXPECT_TRUE(after.cameras[1].detects[2].alarms.contains(5));
    EXPECT_EQ(after.cameras[1].detects[2].not_ok_num, 30);

    // A broken file: start values.
    writeText("cnt_net/data/Statistics", "{\"device_id\": ");
    rig.net->InitStatistics();
    EXPECT_TRUE(rig.net->statistics().fresh);
    EXPECT_TRUE(rig.net->statistics().cameras.isEmpty());
}

TEST(ManualStopReport, TheStopAndTheStartMakeOneTimeSlot)
{
    NetRig rig;
    int state = 1;
    rig.net->sources.state = [&] { return state; };
    QDateTime clock(QDate(2026, 12, 9), QTime(8, 15, 0));
    rig.net->now = [&] { return clock; };
    strcpy(rig.wp.cnt_operator, "王");

    // A start with no stop before it changes nothing.
    state = 0;
    rig.net->CNT_SendManualStop();
    EXPECT_EQ(rig.net->manualStop().timeslot, "");
    EXPECT_EQ(rig.net->manualStop().timelen, 0);

    state = 1;
    rig.net->CNT_SendManualStop();
    EXPECT_EQ(rig.net->manualStop().timeslot, "08:15---:--");
    clock = clock.addSecs(75 * 60);
    state = 0;
    rig.net->CNT_SendManualStop();
    EXPECT_EQ(rig.net->manualStop().timeslot, "08:15-09:30");
    EXPECT_EQ(rig.net->manualStop().timelen, 75);
    const QByteArray body = lastBody(*rig.net);
    EXPECT_EQ(keysOf(body), (QStringList{"device_id", "state", "utc", "stop_check_timeslot", "stop_check_timelen",
                                         "timeout_time", "operator_id", "disalarm_operator_id", "stop_check_reason"}));
    EXPECT_EQ(text(body, "operator_id"), QString::fromUtf8("王"));

    // Read back at the next start; an incomplete file goes.
    rig.net->InitManualStop();
    EXPECT_TRUE(rig.net->manualStop().valid);
    EXPECT_EQ(rig.net->manualStop().timelen, 75);
    writeText("cnt_net/data/ManualStop", R"({"utc": 5})");
    rig.net->InitManualStop();
    EXPECT_FALSE(rig.net->manualStop().valid);
    EXPECT_FALSE(QFile::exists("cnt_net/data/ManualStop"));
}

TEST(ParameterReport, EightCamerasAlsoWithOne)
{
    NetRig rig;
    Counters n;
    n.install(*rig.net, 1);
    n.all[0] = 9, n.fail[0] = 2;
    rig.wp.expose_time[0] = 1500;
    rig.wp.local_addr_1 = 192, rig.wp.local_addr_2 = 168, rig.wp.local_addr_3 = 1, rig.wp.local_addr_4 = 20;
    rig.net->CNT_SendParam();
    const QByteArray body = lastBody(*rig.net);
    const QStringList keys = keysOf(body);
    EXPECT_EQ(keys.first(), "device_id");
    EXPECT_EQ(keys.last(), "camera");
    EXPECT_EQ(keys.size(), 68);
    EXPECT_LT(keys.indexOf("enable_network"), keys.indexOf("local_addr_1"));
    EXPECT_EQ(text(body, "local_addr_1"), "192.168.1.20");
    EXPECT_EQ(text(body, "mask_2"), "0.0.0.0");
    EXPECT_EQ(number(body, {"enable_watch_dog"}), 1);
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(number(body, {"camera", QByteArray("#" + QByteArray::number(i)).constData(), "expose_time"}),
                  rig.wp.expose_time[i]);
    EXPECT_EQ(number(body, {"camera", "#8", "expose_time"}), -99999);
    EXPECT_EQ(number(body, {"camera", "#0", "num_fail_detect"}), 2);
}

TEST(CycleReport, MethodsDetectionsAndCamerasOutOfRange)
{
    NetRig rig;
    Counters n;
    n.install(*rig.net, 2);
    rig.net->sources.stateText = [] { return QString::fromUtf8("正在检测"); };
    QList<param_roi> results{{0, 0, 0, 1, 80, 10, 90, 0}, {0, 5, 0, 1, 80, 10, 90, 1}, {1, 1, 3, 2, 5, 0, 9, 1},
                             {2, 0, 0, 1, 1, 1, 1, 1}, {-1, 0, 0, 1, 1, 1, 1, 1}};
    rig.net->CNT_SendStatistics_Once(results, true, 0);
    const QByteArray body = lastBody(*rig.net);
    EXPECT_EQ(keysOf(body), (QStringList{"device_id", "utc", "state", "detect_method", "product_name",
                                         "product_serial", "product_num", "product_moldcavity", "product_operator",
                                         "result", "array"}));
    EXPECT_EQ(text(body, "detect_method"), "");
    EXPECT_EQ(text(body, "state"), QString::fromUtf8("正在检测"));
    EXPECT_EQ(number(body, {"result"}), 1);
    // Camera 3 of two and camera -1 are left out; detection 6 is left out.
    EXPECT_EQ(number(body, {"array", "#0", "camera_id"}), 1);
    EXPECT_EQ(number(body, {"array", "#1", "camera_id"}), 2);
    EXPECT_EQ(number(body, {"array", "#2", "camera_id"}), -99999);
    EXPECT_EQ(number(body, {"array", "#0", "detect_array", "#1", "detect_id"}), -99999);
    EXPECT_EQ(number(body, {"array", "#1", "detect_array", "#0", "roi_array", "#0", "roi_id"}), 4);

    rig.net->CNT_SendStatistics_Once({}, false, 1);
    EXPECT_EQ(text(lastBody(*rig.net), "detect_method"), QString::fromUtf8("开模到位"));
    rig.net->cancelMethod = 4;
    rig.net->CNT_SendCancle();
    EXPECT_EQ(text(lastBody(*rig.net), "method"), QString::fromUtf8("重检检测OK"));
    EXPECT_GT(number(lastBody(*rig.net), {"bind_utc"}), -99999);
}

TEST(FormReports, RecordTemplateTelephoneAndNgVideo)
{
    NetRig rig;
    const QDateTime t = QDateTime::fromMSecsSinceEpoch(1765000000123);
    rig.net->CNT_SendRecord(t, "Advanced", QString::fromUtf8("参数已修改 a&b"));
    const QString host = rig.net->deviceId();
    EXPECT_EQ(QString::fromUtf8(lastBody(*rig.net)),
              "device_id=" + host + "&operater=Advanced&utc=1765000000123&description=" + QString::fromUtf8("参数已修改 a&b"));

    rig.net->CNT_SendTelInfo(0, 3);   // off: nothing
    rig.wp.cnt_tel_msg = 1;
    strcpy(rig.wp.cnt_msg_tech_name, "Li");
    strcpy(rig.wp.cnt_msg_tech_num, "138");
    rig.net->CNT_SendTelInfo(0, 3);
    EXPECT_EQ(lastBody(*rig.net), ("device_id=" + host + "&check_id=1&product_count=3&worker_name=Li&mobile=138").toUtf8());
    EXPECT_EQ(rig.net->sender().queued(), 2);

    rig.wp.cnt_ng_video = 1;
    rig.net->CNT_SendSaveNgVideo(1, 1);   // video source 0: nothing
    EXPECT_EQ(rig.net->sender().queued(), 2);
    rig.wp.cnt_video_source = 2;
    rig.net->CNT_SendSaveNgVideo(1, 0);
    EXPECT_EQ(lastBody(*rig.net), ("device_id=" + host + "&camera_id=1&product=no set&isng=0").toUtf8());
}

TEST(RegionReport, EachShapeWithItsPointsAndRadii)
{
    NetRig rig;
    CammerSingleton para(0);
    para.roi_count[1] = 4;
    para.roi[1][0].roi_shape = ShapeRect;
    para.rects[1][0].set({10, 20}, {30, 40});
    para.roi[1][1].roi_shape = ShapeCircle;
    para.circles[1][1].set({100, 100}, 300, 260);
    para.roi[1][2].roi_shape = ShapePolygon;
    para.polys[1][2].set({{1, 1}, {9, 1}, {5, 7}});
    para.roi[1][3].roi_shape = 0;
    rig.net->sources.regions = [&](int c) { return c == 0 ? &para : nullptr; };
    rig.net->CNT_SendROIParam(0, 1);
    const QByteArray body = lastBody(*rig.net);
    EXPECT_EQ(number(body, {"detect"}), 2);
    EXPECT_EQ(number(body, {"count"}), 4);
    EXPECT_EQ(number(body, {"roi", "#0", "roi_type"}), 0);
    EXPECT_EQ(number(body, {"roi", "#0", "top_1_y"}), 40);
    EXPECT_EQ(number(body, {"roi", "#1", "roi_type"}), 1);
    EXPECT_EQ(number(body, {"roi", "#1", "in_r"}), 260);
    EXPECT_EQ(number(body, {"roi", "#1", "out_r"}), 300);
    EXPECT_EQ(number(body, {"roi", "#2", "top_point_count"}), 3);
    EXPECT_EQ(number(body, {"roi", "#2", "top_2_x"}), 5);
    EXPECT_EQ(number(body, {"roi", "#3", "roi_type"}), -1);
    EXPECT_EQ(number(body, {"roi", "#3", "top_point_count"}), 0);
    rig.net->CNT_SendROIParam(1, 1);   // no such camera: nothing
    EXPECT_EQ(rig.net->sender().queued(), 1);
}

TEST(Reminders, AddAndDeleteKeepTheFile)
{
    NetRig rig;
    CNT_Path_Remind a, b;
    a.utc = 1000, b.utc = 2000;
    rig.net->CNT_SendAddRemind(a);
    rig.net->CNT_SendAddRemind(b);
    rig.net->CNT_SendDelRemind(1000);
    const QByteArray file = readText("cnt_net/data/Remind").toUtf8();
    EXPECT_EQ(number(file, {"remind", "#0", "utc"}), 2000);
    EXPECT_EQ(number(file, {"remind", "#1", "utc"}), -99999);
    EXPECT_EQ(keysOf(lastBody(*rig.net)), (QStringList{"device_id", "utc"}));
}

TEST(VideoBlocks, OnePerCameraOwnerOnlyAndStaleOnesReplaced)
{
    NetRig rig;
    const QByteArray path = QFile::encodeName(rig.dir.path());
    // A block left by an earlier run under camera 1's key.
    const int stale = shmget(ftok(path.constData(), 1001), 64, IPC_CREAT | 0666);
    ASSERT_GE(stale, 0);
    for (int c = 0; c < 3; ++c)
        rig.net->CNT_AddUseMemory(c, 1280, 1024, true);
    ASSERT_EQ(rig.net->blocks().size(), 3);
    shmid_ds ds{};
    EXPECT_NE(shmctl(stale, IPC_STAT, &ds), 0);   // gone
    for (int c = 0; c < 3; ++c) {
        const ShareBlock& b = rig.net->blocks()[c];
        EXPECT_EQ(b.size, 1966080);
        EXPECT_EQ(shmget(ftok(path.constData(), 1000 + c), 0, 0), b.shmId);
        EXPECT_EQ(semget(ftok(path.constData(), 2000 + c), 0, 0), b.semId);
        ASSERT_EQ(shmctl(b.shmId, IPC_STAT, &ds), 0);
        EXPECT_EQ(ds.shm_perm.mode & 0777, 0600u);
        EXPECT_EQ(semctl(b.semId, 0, GETVAL), 1);
        EXPECT_EQ(number(rig.net->memoryInfo(), {"memoryinfo", QByteArray("#" + QByteArray::number(c)).constData(), "cameraid"}), c);
    }
    EXPECT_EQ(keysOf(rig.net->memoryInfo()), QStringList{"memoryinfo"});

    // Nothing is written before a client has the description.
    cv::Mat grey(1024, 1280, CV_8UC1, cv::Scalar(77));
    EXPECT_FALSE(rig.net->CNT_UpdateMemory(0, grey));
    const int shm0 = rig.net->blocks()[0].shmId;
    rig.net.reset();   // shutdown removes every block
    EXPECT_NE(shmctl(shm0, IPC_STAT, &ds), 0);
}

TEST(VideoBlocks, APictureIsWrittenAsI420UnderTheSemaphore)
{
    NetRig rig;
    rig.wp.cnt_video_source = 2;
    rig.net->CNT_AddUseMemory(0, 64, 48, true);
    auto peer = rig.peer();
    ASSERT_TRUE(QTest::qWaitFor([&] { return peer->readAll().contains("memoryinfo"); }, 2000));
    cv::Mat bgra(48, 64, CV_8UC4);
    cv::randu(bgra, 0, 255);
    ASSERT_TRUE(rig.net->CNT_UpdateMemory(0, bgra));
    cv::Mat want;
    cv::cvtColor(bgra, want, cv::COLOR_BGRA2YUV_I420);
    const ShareBlock& b = rig.net->blocks()[0];
    EXPECT_EQ(memcmp(b.address, want.data, size_t(b.size)), 0);
    // Held by someone else (a client stuck in its copy): the picture is skipped, the caller goes on.
    sembuf take{0, -1, 0};
    ASSERT_EQ(semop(b.semId, &take, 1), 0);
    EXPECT_FALSE(rig.net->CNT_UpdateMemory(0, bgra));
    // A disconnection frees it for the next client.
    peer->disconnectFromHost();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !rig.net->isConnected(); }, 2000));
    EXPECT_EQ(semctl(b.semId, 0, GETVAL), 1);
    // The wrong size is never copied.
    EXPECT_FALSE(rig.net->CNT_UpdateMemory(0, cv::Mat(10, 10, CV_8UC4)));
}

TEST(VideoBlocks, TheUseNameNullWritesNothing)
{
    NetRig rig;
    rig.wp.cnt_video_source = 2;
    strcpy(rig.wp.cnt_use_name, "null");
    rig.net->CNT_AddUseMemory(0, 64, 48, true);
    int asked = 0;
    rig.net->sources.frame = [&](int) { ++asked; return cv::Mat(48, 64, CV_8UC1, cv::Scalar(9)); };
    auto peer = rig.peer();
    ASSERT_TRUE(QTest::qWaitFor([&] { return peer->readAll().contains("memoryinfo"); }, 2000));
    rig.net->refreshVideo();
    EXPECT_EQ(asked, 0);
    strcpy(rig.wp.cnt_use_name, "line 3");
    rig.net->refreshVideo();
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(rig.net->blocks()[0].address[0], 9);
}
