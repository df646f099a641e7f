// The statistics workbook read back by openpyxl: sheets, heading texts in
// the three languages, and every count in the column of its hour.
#include "Globals.h"
#include "Messages.h"
#include "Myxls.h"
#include "ResStatistics.h"
#include "TestDir.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <gtest/gtest.h>

namespace {

QJsonObject readBack(const QString& file)
{
    QProcess p;
    p.start("/usr/bin/python3", {STATION_SOURCE_DIR "/tests/records/read_xlsx.py", file});
    p.waitForFinished(60000);
    const QByteArray out = p.readAllStandardOutput();
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    return QJsonDocument::fromJson(out).object();
}

QJsonArray row(const QJsonObject& book, const QString& sheet, int r)
{
    return book["cells"].toObject()[sheet].toArray()[r].toArray();
}

// The value under the column of clock hour h (8:00 is column 1).
int atHour(const QJsonArray& r, int h) { return r[(h + 16) % 24 + 1].toInt(-1); }

struct Clock {
    QDateTime now;
    void at(int d, int h, int min = 0) { now = QDateTime(QDate(2026, 12, d), QTime(h, min)); }
};

} // namespace

TEST(StatisticsWorkbook, EveryCountInItsHourForTheLiveAndTheArchivedDays)
{
    TestDir dir;
    LoadLanStr();
    gLan = 1;
    Clock clock;
    clock.at(7, 9);
    {
        ResStatisticsParam s([&] { return clock.now; });
        s.Add(9, true, 0, 0);
        s.Add(9, true, 0, 1);    // detections 0 and 1 are summed
        s.Add(9, false, 0, 1);
        s.Add(9, true, 0, 2);    // detection 2 is not exported
        clock.at(8, 6);
        s.Add(6, false, 1, 0);   // still the 7th: hour 6 is its last column but one
        clock.at(8, 8);
        s.Add(8, true, 1, 1);    // the 8th: the 7th goes to the archive
        clock.at(9, 8);
        s.Add(8, true, 0, 0);
        s.Add(23, false, 0, 0);
    }
    ASSERT_TRUE(QFile::exists("ResStatistics/2026-12-07.db"));
    ASSERT_TRUE(QFile::exists("ResStatistics/2026-12-08.db"));

    Myxls xls;
    clock.at(10, 7, 59);   // before 08:00: the live rows carry the 9th
    ASSERT_TRUE(xls.ImportRes("out.xlsx", 2, clock.now)) << xls.error().toStdString();
    const QJsonObject book = readBack("out.xlsx");
    EXPECT_EQ(book["sheets"].toArray(), (QJsonArray{"Camera0", "Camera1"}));

    const QJsonArray head = row(book, "Camera0", 0);
    ASSERT_EQ(head.size(), 25);
    EXPECT_EQ(head[0].toString(), "Date");
    EXPECT_EQ(head[1].toString(), "8:00");
    EXPECT_EQ(head[16].toString(), "23:00");
    EXPECT_EQ(head[17].toString(), "0:00");
    EXPECT_EQ(head[24].toString(), "7:00");

    // Camera 0: the 9th live, then the 7th and the 8th in date order.
    QJsonArray ok = row(book, "Camera0", 1), ng = row(book, "Camera0", 2);
    EXPECT_EQ(ok[0].toString(), "2026-12-09-ok");
    EXPECT_EQ(ng[0].toString(), "2026-12-09-ng");
    EXPECT_EQ(atHour(ok, 8), 1);
    EXPECT_EQ(atHour(ng, 23), 1);
    ok = row(book, "Camera0", 3), ng = row(book, "Camera0", 4);
    EXPECT_EQ(ok[0].toString(), "2026-12-07-ok");
    EXPECT_EQ(atHour(ok, 9), 2);
    EXPECT_EQ(atHour(ng, 9), 1);
    int total = 0;
    for (int c = 1; c <= 24; ++c)
        total += ok[c].toInt() + ng[c].toInt();
    EXPECT_EQ(total, 3) << "detection 2 or another hour leaked in";
    EXPECT_EQ(row(book, "Camera0", 5)[0].toString(), "2026-12-08-ok");

    // Camera 1 without detection-1 rows on the 7th: detection 0 alone.
    EXPECT_EQ(atHour(row(book, "Camera1", 4), 6), 1);
    EXPECT_EQ(atHour(row(book, "Camera1", 5), 8), 1);
    EXPECT_EQ(atHour(row(book, "Camera1", 1), 8), 0) << "count cells are numbers, also when zero";

    // At 08:00 the live rows carry that day.
    clock.at(10, 8);
    ASSERT_TRUE(xls.ImportRes("out2.xlsx", 1, clock.now));
    EXPECT_EQ(row(readBack("out2.xlsx"), "Camera0", 1)[0].toString(), "2026-12-10-ok");
}

TEST(StatisticsWorkbook, HeadingInEachLanguageAndBrokenFilesLeaveTheirRowsEmpty)
{
    TestDir dir;
    LoadLanStr();
    { ResStatisticsParam s; }
    writeText("ResStatistics/2026-01-01.db", "not a database");
    Myxls xls;
    const char* expected[] = {"日期", "Date", "日期"};
    for (int lan = 0; lan < 3; ++lan) {
        gLan = lan;
        const QString name = QStringLiteral("lan%1.xlsx").arg(lan);
        ASSERT_TRUE(xls.ImportRes(name, 1));
        const QJsonObject book = readBack(name);
        EXPECT_EQ(row(book, "Camera0", 0)[0].toString(), QString::fromUtf8(expected[lan]));
        EXPECT_TRUE(row(book, "Camera0", 3).isEmpty() || row(book, "Camera0", 3)[0].isNull());
    }
    gLan = 1;
    // A workbook that cannot be written is an error, not a silent success.
    EXPECT_FALSE(xls.ImportRes("no-such-folder/out.xlsx", 1));
    EXPECT_FALSE(xls.error().isEmpty());
}
