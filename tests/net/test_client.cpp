// The station's link with the network client it ships, on loopback: the
// reports as they arrive in the client's outbox, heartbeats and restarts,
// shared-memory video, and the outbox forwarded to a real MQTT broker.
#include "CammerRecong.h"
#include "CammerSingleton.h"
#include "NetRig.h"
#include "Processes.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <gtest/gtest.h>

namespace {
struct Row {
    int kind;
    QByteArray body;
};

QList<Row> outbox(bool pendingOnly = false)
{
    QList<Row> rows;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "outbox-reader");
        db.setDatabaseName("cnt_net/data/outbox.db");
        if (db.open()) {
            QSqlQuery q(db);
            q.exec(pendingOnly ? "SELECT kind, body FROM outbox WHERE forwarded=0 ORDER BY seq"
                               : "SELECT kind, body FROM outbox ORDER BY seq");
            while (q.next())
                rows.append({q.value(0).toInt(), q.value(1).toByteArray()});
        }
    }
    QSqlDatabase::removeDatabase("outbox-reader");
    return rows;
}

void configure(const QByteArray& json) { writeText("cnt_net/client.conf", json); }

// What the link framed, as (id, body).
QList<Row> framed(const QList<QByteArray>& queue)
{
    QList<Row> rows;
    for (const QByteArray& m : queue)
        rows.append({m.left(m.indexOf(':')).toInt(), bodyOf(m)});
    return rows;
}

void expectSame(const QList<Row>& got, const QList<Row>& want)
{
    ASSERT_EQ(got.size(), want.size());
    for (int i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i].kind, want[i].kind) << i;
        EXPECT_EQ(got[i].body, want[i].body) << i;
    }
}

// Every kind of report once, as the station makes them.
void queueEveryReport(CNT_Net& net)
{
    net.CNT_SendRecord(QDateTime::currentDateTime(), "Advanced", QString::fromUtf8("参数已修改"));
    net.CNT_SendParam();
    net.CNT_SendAlarmPic("/var/lib/station/alarmimage/camera1/detect1/NG/100001.jpg");
    net.CNT_SendTempPic("/var/lib/station/template/camera1/detect1/template1.png");
    net.ChkandAddStaticticsItem(0, 0, 2);
    net.CNT_SendStatistics("null");
    net.CNT_SendManualStop();
    net.CNT_SendDelTempPic(1, 1, "template1");
    CNT_Path_Remind r;
    r.utc = 1000;
    net.CNT_SendAddRemind(r);
    net.CNT_SendDelRemind(1000);
    net.CNT_SendGetProduct();
    net.CNT_SendSaveNgVideo(1, 1);
    net.CNT_SendTelInfo(0, 2);
    net.CNT_SendGetRemindList();
    net.CNT_SendStatistics_Once(QList<param_roi>{param_roi{0, 0, 0, 1, 80, 10, 90, 1}}, true, 1);
    net.CNT_SendRunState();
    net.CNT_SendCancle();
}
} // namespace

TEST(ClientLink, EveryReportArrivesAsSentAndTheClientAnswersItsRequests)
{
    NetRig rig(5000, /*heartMs=*/1500);
    rig.wp.cnt_ng_video = 1, rig.wp.cnt_video_source = 2, rig.wp.cnt_tel_msg = 1;
    rig.net->sources.cameras = [] { return 1; };
    configure(R"({"heartbeat_seconds": 0.2, "products": ["盖子", "B-12"],
                  "reminders": [{"operator": "li", "create_utc": 1, "notify_utc": 2, "duration": 3, "reminder_name": "oil"}]})");
    CammerSingleton regions(0);
    regions.roi_count[0] = 1;
    regions.roi[0][0].roi_shape = ShapeCircle;
    regions.circles[0][0].set({50, 60}, 30, 10);
    rig.net->sources.regions = [&](int c) { return c == 0 ? &regions : nullptr; };
    queueEveryReport(*rig.net);
    rig.net->CNT_SendROIParam(0, 0);
    rig.net->CNT_AddUseMemory(0, 64, 48, true);
    rig.net->CNT_SendMemoryInfo();
    const QList<Row> sent = framed(rig.net->sender().snapshot());
    ASSERT_EQ(sent.size(), 18);
    rig.net->restartClient(nullptr);
    ASSERT_TRUE(QTest::qWaitFor([&] { return rig.net->sender().queued() == 0; }, 20000))
        << readText("cnt_net/data/client.log").toStdString();
    expectSame(outbox(), sent);
    EXPECT_TRUE(QTest::qWaitFor([&] { return rig.net->products().size() == 2; }, 5000));
    EXPECT_EQ(rig.net->products().first(), QString::fromUtf8("盖子"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return rig.net->reminders().size() == 1; }, 5000));
    // Beating: two ticks go by without a restart.
    QTest::qWait(3200);
    EXPECT_TRUE(rig.net->isConnected());
    EXPECT_EQ(rig.net->clientStarts(), 1);
    EXPECT_EQ(rig.net->sender().resent, 0u);
}

TEST(ClientLink, AClientThatStopsBeatingIsRestarted)
{
    NetRig rig(5000, /*heartMs=*/1000);
    configure(R"({"heartbeat_seconds": 0})");
    rig.net->restartClient(nullptr);
    // Generous: a checked build on a loaded machine starts Python slowly.
    EXPECT_TRUE(QTest::qWaitFor([&] { return rig.net->clientStarts() >= 2; }, 20000));
}

TEST(ClientLink, AKilledClientComesBackAndNoReportIsLost)
{
    NetRig rig(/*ackMs=*/1000, /*heartMs=*/2000);
    configure(R"({"heartbeat_seconds": 0.2})");
    for (int i = 0; i < 300; ++i)
        rig.net->CNT_SendRecord(QDateTime::fromMSecsSinceEpoch(1765000000000 + i), "Primary",
                                QStringLiteral("line %1").arg(i));
    const QList<Row> sent = framed(rig.net->sender().snapshot());
    rig.net->restartClient(nullptr);
    ASSERT_TRUE(QTest::qWaitFor([&] { return outbox().size() >= 30; }, 20000));
    rig.net->client()->kill();
    ASSERT_TRUE(QTest::qWaitFor([&] { return rig.net->clientStarts() >= 2; }, 10000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return rig.net->sender().queued() == 0; }, 40000))
        << rig.net->sender().queued() << " left";
    // Each one once, in order, although the one on the wire at the kill went twice.
    expectSame(outbox(), sent);
    EXPECT_EQ(rig.net->sender().unacknowledged, 0u);
}

TEST(ClientLink, EqualReportsAreEachKeptAndAMessageSentAgainOnlyOnce)
{
    NetRig rig(/*ackMs=*/300, /*heartMs=*/5000);
    rig.wp.cnt_tel_msg = 1;
    configure(R"({"heartbeat_seconds": 0.2})");
    for (int i = 0; i < 3; ++i)
        rig.net->CNT_SendTelInfo(0, 2);
    for (int i = 0; i < 40; ++i)
        rig.net->CNT_SendRecord(QDateTime::fromMSecsSinceEpoch(1765000000000 + i), "Primary",
                                QStringLiteral("line %1").arg(i));
    for (int i = 0; i < 3; ++i)
        rig.net->CNT_SendTelInfo(0, 2);
    const QList<Row> sent = framed(rig.net->sender().snapshot());
    rig.net->restartClient(nullptr);
    ASSERT_TRUE(QTest::qWaitFor([&] { return outbox().size() >= 4; }, 20000));
    {
        // The client's disk stalls (its outbox locked): its acknowledgement
        // comes after the station has sent the message again.
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "outbox-locker");
        db.setDatabaseName("cnt_net/data/outbox.db");
        ASSERT_TRUE(db.open());
        QSqlQuery q(db);
        ASSERT_TRUE(q.exec("BEGIN IMMEDIATE"));
        EXPECT_TRUE(QTest::qWaitFor([&] { return rig.net->sender().resent > 0; }, 10000));
        q.exec("ROLLBACK");
        q.finish();
        db.close();
    }
    QSqlDatabase::removeDatabase("outbox-locker");
    ASSERT_TRUE(QTest::qWaitFor([&] { return rig.net->sender().queued() == 0; }, 30000))
        << readText("cnt_net/data/client.log").toStdString();
    ASSERT_TRUE(QTest::qWaitFor([&] { return outbox().size() >= sent.size(); }, 10000));
    // Each report once, the three equal telephone reports three times each side.
    expectSame(outbox(), sent);
    EXPECT_GT(rig.net->sender().resent, 0u) << "nothing went twice: the test proved nothing";
}

TEST(ClientLink, AVideoFrameReadThroughSharedMemoryEqualsTheCamerasFrame)
{
    NetRig rig;
    rig.wp.cnt_video_source = 2;
    strcpy(rig.wp.cnt_use_name, "line 3");
    configure(R"({"heartbeat_seconds": 0.5, "video_snapshot_seconds": 0.2})");
    cv::Mat picture(240, 320, CV_8UC1);
    for (int y = 0; y < picture.rows; ++y)
        for (int x = 0; x < picture.cols; ++x)
            picture.at<uchar>(y, x) = uchar((x * 3 + y * 7) & 0xff);
    rig.net->sources.frame = [&](int c) { return c == 0 ? picture : cv::Mat(); };
    rig.net->CNT_AddUseMemory(0, 320, 240, true);
    rig.net->CNT_FirstInit();   // the 50-ms refresh
    rig.net->restartClient(nullptr);
    const QString snap = "cnt_net/data/video/camera0.i420";
    QByteArray got;
    // The client may copy the block before the station's first picture is in it.
    ASSERT_TRUE(QTest::qWaitFor([&] {
        QFile f(snap);
        got = f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
        return got.size() == 320 * 240 * 3 / 2 && got.at(1) != 0;
    }, 20000)) << readText("cnt_net/data/client.log").toStdString();
    // The picture above the time stamp's band, and no colour.
    EXPECT_EQ(memcmp(got.constData(), picture.data, 320 * 140), 0);
    EXPECT_EQ(got.mid(320 * 240), QByteArray(320 * 240 / 2, char(128)));
    // The band carries the time in green: something was drawn there.
    EXPECT_NE(memcmp(got.constData() + 320 * 140, picture.data + 320 * 140, 320 * 100), 0);
}

TEST(ClientForwarding, TheOutboxDrainsInOrderOnceTheBrokerIsBack)
{
    NetRig rig(5000, 60000);
    const quint16 port = freeLoopbackPort();
    QDir().mkpath("broker");
    writeText("broker/mosquitto.conf", QStringLiteral("listener %1 127.0.0.1\nallow_anonymous true\nuser root\n"
                                                      "persistence true\npersistence_location %2/\n"
                                                      "max_queued_messages 0\nautosave_interval 1\n")
                                           .arg(port)
                                           .arg(QDir::current().absoluteFilePath("broker"))
                                           .toUtf8());
    auto startBroker = [&](QProcess& b) {
        b.start("mosquitto", {"-c", "broker/mosquitto.conf"});
        ASSERT_TRUE(b.waitForStarted(5000));
        QTcpSocket probe;
        ASSERT_TRUE(QTest::qWaitFor([&] {
            probe.abort();
            probe.connectToHost(QHostAddress::LocalHost, port);
            return probe.waitForConnected(100);
        }, 10000));
        probe.abort();
    };
    QProcess broker;
    startBroker(broker);
    QProcess subscriber;
    subscriber.start("python3", {STATION_SOURCE_DIR "/tests/net/mqtt_count.py", QString::number(port), "received.txt"});
    ASSERT_TRUE(subscriber.waitForReadyRead(10000));
    ASSERT_TRUE(subscriber.readAll().contains("subscribed"));
    broker.terminate();
    ASSERT_TRUE(broker.waitForFinished(10000));

    // The broker is down: the client keeps.
    configure(QStringLiteral(R"({"heartbeat_seconds": 0.5, "station": "press-7",
                                 "mqtt": {"host": "127.0.0.1", "port": %1}})").arg(port).toUtf8());
    rig.net->restartClient(nullptr);
    for (int i = 0; i < 60; ++i)
        rig.net->CNT_SendRecord(QDateTime::fromMSecsSinceEpoch(1765000000000 + i), "Primary",
                                QStringLiteral("line %1").arg(i));
    rig.net->sources.state = [] { return 0; };
    rig.net->CNT_SendStatistics("null");
    const QList<Row> sent = framed(rig.net->sender().snapshot());
    ASSERT_TRUE(QTest::qWaitFor([&] { return rig.net->sender().queued() == 0; }, 20000));
    QTest::qWait(1500);
    EXPECT_EQ(outbox(true).size(), 61);
    QProcess show;
    show.start("python3", {"cnt_net/runNetClient.py", "--show"});
    ASSERT_TRUE(show.waitForFinished(10000));
    EXPECT_TRUE(show.readAll().contains("61 kept, 0 forwarded, 61 still to forward"));

    // Up again: everything goes, in order, each once.
    startBroker(broker);
    ASSERT_TRUE(QTest::qWaitFor([&] { return outbox(true).isEmpty(); }, 40000))
        << readText("cnt_net/data/client.log").toStdString();
    QStringList want;
    for (const Row& r : sent)
        want << (r.kind == 1 ? "station/press-7/record\t" : "station/press-7/statistics\t") +
                    QCryptographicHash::hash(r.body, QCryptographicHash::Sha1).toHex() + "\t0";
    QStringList got;
    ASSERT_TRUE(QTest::qWaitFor([&] {
        got.clear();
        for (const QString& l : readText("received.txt").split('\n', Qt::SkipEmptyParts))
            if (!l.startsWith("station/press-7/state"))
                got << l;
        return got.size() >= want.size();
    }, 20000)) << got.size();
    QTest::qWait(500);
    got.clear();
    for (const QString& l : readText("received.txt").split('\n', Qt::SkipEmptyParts))
        if (!l.startsWith("station/press-7/state"))
            got << l;
    EXPECT_EQ(got, want);

    // The station's state stays on the broker for whoever asks later.
    QProcess retained;
    retained.start("python3", {STATION_SOURCE_DIR "/tests/net/mqtt_count.py", QString::number(port), "--retained",
                               "station/press-7/state"});
    ASSERT_TRUE(retained.waitForFinished(10000));
    const QByteArray state = retained.readAll();
    EXPECT_TRUE(state.contains("\"link\": \"online\"")) << state.constData();
    EXPECT_TRUE(state.contains("\"state\": 0")) << state.constData();

    rig.net.reset();   // the client goes with the link
    subscriber.kill();
    subscriber.waitForFinished(3000);
    broker.terminate();
    broker.waitForFinished(5000);
}
