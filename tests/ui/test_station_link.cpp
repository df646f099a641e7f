// The whole station with its service link on: it starts the network client
// it ships, the client keeps the station's records and its video, and the
// client goes when the station goes.
#include "BoardSim.h"
#include "ParamDb.h"
#include "Processes.h"
#include "TestDir.h"
#include "WizardPara.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>
#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

namespace {
QList<int> keptKinds(const QString& db)
{
    QList<int> kinds;
    {
        QSqlDatabase c = QSqlDatabase::addDatabase("QSQLITE", "kept");
        c.setDatabaseName(db);
        if (c.open()) {
            QSqlQuery q(c);
            q.exec("SELECT kind FROM outbox ORDER BY seq");
            while (q.next())
                kinds << q.value(0).toInt();
        }
    }
    QSqlDatabase::removeDatabase("kept");
    return kinds;
}

// A checked build runs several times slower.
int slow(int ms) { return ms * std::max(1, qEnvironmentVariableIntValue("STATION_TEST_SLOWDOWN")); }

} // namespace

TEST(StationLink, TheStationStartsItsClientWhichKeepsRecordsAndVideo)
{
    TestDir dir;
    ASSERT_TRUE(dir.ok());
    {
        ASSERT_TRUE(paramdb::openAll({}));
        WizardPara wp;
        wp.LoadDatafromFile();
        wp.enable_cnt_net = 1;
        wp.cnt_video_source = 2;
        strcpy(wp.cnt_use_name, "press 7");
        ASSERT_TRUE(wp.SaveDatatoFile());
        dropConnections();
    }
    writeText(dir.file("cnt_net/client.conf"), R"({"heartbeat_seconds": 0.5, "video_snapshot_seconds": 0.2})");
    QDir().mkpath(dir.file("replay"));
    cv::Mat grey(240, 320, CV_8UC1);
    for (int y = 0; y < grey.rows; ++y)
        for (int x = 0; x < grey.cols; ++x)
            grey.at<uchar>(y, x) = uchar(40 + (x + y) % 150);
    ASSERT_TRUE(cv::imwrite(dir.file("replay/camera1.png").toStdString(), grey));
    const quint16 port = freeLoopbackPort();
    BoardSim board;
    ASSERT_TRUE(board.ok());
    QProcess station;
    QProcessEnvironment env;
    env.insert("STATION_NET_PORT", QString::number(port));
    ASSERT_TRUE(startStation(station, dir.path(), board, env));

    // The start-up's record lines and the video description reach the client's outbox.
    const QString outbox = dir.file("cnt_net/data/outbox.db");
    ASSERT_TRUE(QTest::qWaitFor([&] {
        const QList<int> k = keptKinds(outbox);
        return k.contains(1) && k.contains(9);
    }, slow(40000))) << readText(dir.file("station.err")).toStdString() << readText(dir.file("cnt_net/data/client.log")).toStdString();

    // The camera's picture through shared memory, above the time stamp's band.
    QByteArray got;
    ASSERT_TRUE(QTest::qWaitFor([&] {
        QFile f(dir.file("cnt_net/data/video/camera0.i420"));
        got = f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
        return got.size() == 320 * 240 * 3 / 2 && got.at(0) != 0;
    }, slow(20000))) << readText(dir.file("station.err")).right(3000).toStdString()
                     << readText(dir.file("cnt_net/data/client.log")).right(2000).toStdString();
    EXPECT_EQ(memcmp(got.constData(), grey.data, 320 * 140), 0);
    EXPECT_EQ(int(networkClientsIn(dir.path()).size()), 1);

    station.terminate();
    ASSERT_TRUE(station.waitForFinished(slow(15000)));
    // The client went with it; the blocks are gone too.
    EXPECT_TRUE(QTest::qWaitFor([&] { return int(networkClientsIn(dir.path()).size()) == 0; }, 5000));
}
