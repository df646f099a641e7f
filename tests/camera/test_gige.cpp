// GigE addressing and the GenICam kind against real protocol peers, in
// network namespaces the tests make themselves: nothing leaves them.
#include "NetLab.h"
#include "TestDir.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTest>
#include <gtest/gtest.h>

namespace {

// Waits for a line starting with prefix on a process's output; returns it or "".
QString waitLine(QProcess* p, const QString& prefix, int timeoutMs, QString* seen = nullptr)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < timeoutMs) {
        p->waitForReadyRead(50);
        while (p->canReadLine()) {
            const QString line = QString::fromUtf8(p->readLine()).trimmed();
            if (seen)
                *seen += line + "\n";
            if (line.startsWith(prefix))
                return line;
        }
    }
    return {};
}

struct Gige : ::testing::Test {
    NetLab lab;
    QString station, cameras;
    void SetUp() override
    {
        if (!lab.ok())
            GTEST_SKIP() << lab.why().toStdString();
        station = lab.host("stn");
        cameras = lab.host("cam");
        ASSERT_FALSE(station.isEmpty());
        ASSERT_TRUE(lab.link(station, "eth0", "192.168.1.10/24", cameras, "cam0", ""));
        // The port's own address may come back as a broadcast's source.
        lab.run(station, {"sysctl", "-q", "-w", "net.ipv4.conf.eth0.accept_local=1"});
        lab.run(station, {"sysctl", "-q", "-w", "net.ipv4.conf.all.rp_filter=0"});
        lab.run(station, {"sysctl", "-q", "-w", "net.ipv4.conf.eth0.rp_filter=0"});
    }
    QProcess* camera(const QStringList& args)
    {
        QProcess* p = lab.start(cameras, GIGE_SIM, QStringList{"--iface", "cam0"} + args);
        EXPECT_FALSE(waitLine(p, "ready", 5000).isEmpty()) << "gige-sim did not start";
        return p;
    }
    QString probe(const QStringList& args, const QString& ifaces = "eth0")
    {
        QByteArray out;
        lab.run(station, QStringList{"env", "STATION_GIGE_IFACES=" + ifaces, CAMERA_PROBE} + args, &out, 60000);
        return QString::fromUtf8(out);
    }
    static int moved(const QString& out)
    {
        const auto m = QRegularExpression("moved (-?\\d+)").match(out);
        return m.hasMatch() ? m.captured(1).toInt() : -99;
    }
};

// The new address a camera reported taking, or "".
QString taken(QProcess* cam)
{
    const QString line = waitLine(cam, "force-ip", 3000);
    return line.section(' ', 1, 1);
}
} // namespace

TEST_F(Gige, ACameraOutsideThePortsSubnetIsMovedIntoItNeverOntoThePort)
{
    for (const char* seed : {"1", "22", "333"}) {
        QProcess* cam = camera({"--mac", "02:00:00:00:00:11", "--ip", "169.254.3.7", "--mask", "255.255.0.0"});
        const QString out = probe({"repair", seed});
        EXPECT_EQ(moved(out), 1) << out.toStdString();
        const QString ip = taken(cam);
        ASSERT_TRUE(ip.startsWith("192.168.1.")) << ip.toStdString();
        const int last = ip.section('.', 3).toInt();
        EXPECT_GE(last, 10);
        EXPECT_LE(last, 254);
        EXPECT_NE(last, 10) << "moved onto the port's own address";
        // In the subnet now: a second repair leaves it.
        EXPECT_EQ(moved(probe({"repair", seed})), 0);
        cam->terminate();
        cam->waitForFinished(3000);
    }
}

TEST_F(Gige, ACameraOnThePortsOwnAddressIsMoved)
{
    QProcess* cam = camera({"--mac", "02:00:00:00:00:12", "--ip", "192.168.1.10", "--mask", "255.255.255.0"});
    EXPECT_EQ(moved(probe({"repair", "5"})), 1);
    const QString ip = taken(cam);
    EXPECT_TRUE(ip.startsWith("192.168.1.")) << ip.toStdString();
    EXPECT_NE(ip, "192.168.1.10");
}

TEST_F(Gige, OnlyF622CamerasAreTouchedAndOneThatNeverAnswersKeepsItsAddress)
{
    {
        QProcess* other = camera({"--mac", "02:00:00:00:00:13", "--ip", "169.254.3.8", "--mask", "255.255.0.0",
                                  "--info", "Another maker"});
        EXPECT_EQ(moved(probe({"repair", "5"})), 0);
        QString seen;
        waitLine(other, "force-ip", 500, &seen);
        EXPECT_TRUE(seen.contains("discovery")) << "it was asked";
        EXPECT_FALSE(seen.contains("force-ip"));
        other->terminate();
        other->waitForFinished(3000);
    }
    QProcess* mute = camera({"--mac", "02:00:00:00:00:14", "--ip", "169.254.3.9", "--mask", "255.255.0.0", "--no-ack"});
    QElapsedTimer t;
    t.start();
    EXPECT_EQ(moved(probe({"repair", "5"})), 0);
    EXPECT_LT(t.elapsed(), 15000);  // 4 tries of 200 reads, then detection goes on
    QString seen;
    waitLine(mute, "force-ip", 300, &seen);
    EXPECT_FALSE(seen.contains("force-ip"));
}

TEST_F(Gige, AnAddressThatAnswersArpIsNotChosen)
{
    QString first;
    {
        QProcess* cam = camera({"--mac", "02:00:00:00:00:15", "--ip", "169.254.3.7", "--mask", "255.255.0.0"});
        ASSERT_EQ(moved(probe({"repair", "7"})), 1);
        first = taken(cam);
        ASSERT_FALSE(first.isEmpty());
        cam->terminate();
        cam->waitForFinished(3000);
    }
    // The same draw again, with that address now in use on the wire.
    QProcess* holder = camera({"--mac", "02:00:00:00:00:16", "--ip", "10.99.0.1", "--mask", "255.0.0.0", "--info",
                               "holder", "--occupy", first});
    EXPECT_TRUE(probe({"arp", first, "eth0"}).contains("arp 0"));
    EXPECT_TRUE(probe({"arp", "192.168.1.3", "eth0"}).contains("arp 1"));
    QProcess* cam = camera({"--mac", "02:00:00:00:00:15", "--ip", "169.254.3.7", "--mask", "255.255.0.0"});
    ASSERT_EQ(moved(probe({"repair", "7"})), 1);
    const QString second = taken(cam);
    EXPECT_TRUE(second.startsWith("192.168.1."));
    EXPECT_NE(second, first);
    Q_UNUSED(holder);
}

TEST_F(Gige, WithoutAUsableInterfaceTheRepairSaysSo)
{
    EXPECT_EQ(moved(probe({"repair", "1"}, "nosuch0")), -1);
}

TEST(GenicamKind, FindsOpensAndStreamsAravisFakeCameraWhichTheRepairIgnores)
{
    NetLab lab;
    if (!lab.ok())
        GTEST_SKIP() << lab.why().toStdString();
    const QString fake = QStandardPaths::findExecutable("arv-fake-gv-camera-0.8");
    ASSERT_FALSE(fake.isEmpty()) << "arv-fake-gv-camera-0.8 is needed (aravis-tools, ./station.sh deps)";
    const QString st = lab.host("gst"), cam = lab.host("gcm");
    ASSERT_TRUE(lab.link(st, "eth0", "10.77.0.1/24", cam, "cam0", "10.77.0.2/24"));
    QProcess* camera = lab.start(cam, fake, {"-i", "10.77.0.2", "-s", "FAKE0001"});
    QTest::qWait(1000);
    ASSERT_EQ(camera->state(), QProcess::Running);
    QByteArray out;
    lab.run(st, {"env", "STATION_GIGE_IFACES=eth0", CAMERA_PROBE, "genicam", "5"}, &out, 60000);
    const QJsonObject r = QJsonDocument::fromJson(out.trimmed().split('\n').last()).object();
    EXPECT_GE(r["found"].toInt(), 1) << out.toStdString();
    EXPECT_TRUE(r["opened"].toBool()) << out.toStdString();
    EXPECT_GT(r["width"].toInt(), 0);
    EXPECT_GT(r["height"].toInt(), 0);
    EXPECT_EQ(r["frames"].toInt(), 5) << out.toStdString();
    EXPECT_EQ(r["serial"].toString(), "FAKE0001");
    // The station's own repair hears it but leaves it: it is not an F622 camera.
    lab.run(st, {"env", "STATION_GIGE_IFACES=eth0", CAMERA_PROBE, "discover", "", "eth0"}, &out);
    EXPECT_TRUE(out.contains("found 1")) << out.toStdString();
    lab.run(st, {"env", "STATION_GIGE_IFACES=eth0", CAMERA_PROBE, "discover", "F622", "eth0"}, &out);
    EXPECT_TRUE(out.contains("found 0")) << out.toStdString();
}

TEST(NetworkDiscipline, StartUpSendsNothingOffAPanel)
{
    TestDir dir;  // outlives the lab, which stops the station first
    NetLab lab;
    if (!lab.ok())
        GTEST_SKIP() << lab.why().toStdString();
    // One interface whose far end lies in an empty namespace: what the
    // station sends on it is counted, and reaches nothing.
    const QString ns = lab.host("quiet"), sink = lab.host("sink");
    ASSERT_TRUE(lab.link(ns, "d0", "10.9.9.1/24", sink, "s0", ""));
    QTest::qWait(200);
    const quint64 before = lab.txPackets(ns, "d0");
    QProcess* station = lab.start(ns, STATION_BINARY, {},
                                  {"QT_QPA_PLATFORM=offscreen", "STATION_ANSWER=no", "STATION_PLATFORM=",
                                   "STATION_GIGE_IFACES=", "STATION_IO_PORT=" + dir.file("no-board")},
                                  dir.path());
    // Up when the ready record is in the database.
    QElapsedTimer t;
    t.start();
    bool ready = false;
    while (!ready && t.elapsed() < 60000 && station->state() == QProcess::Running) {
        QTest::qWait(250);
        ready = recordRemarks(dir.file("RECORD.db")).filter("The system is ready").size() > 0;
    }
    EXPECT_TRUE(ready) << station->readAll().toStdString();
    QTest::qWait(1500);  // a second and more of running
    EXPECT_EQ(lab.txPackets(ns, "d0") - before, 0u);
    const QString journal = readText(dir.file("host-actions.log"));
    EXPECT_TRUE(journal.contains("gige-repair")) << journal.toStdString();
    EXPECT_TRUE(journal.contains("genicam-gige-enumeration")) << journal.toStdString();
}
