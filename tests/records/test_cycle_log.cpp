// The detection cycle log: day files, the day change, broken files, the
// export queries, and the exporter program read back by openpyxl.
#include "DetectCycleSQL.h"
#include "TestDir.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSqlQuery>
#include <gtest/gtest.h>

namespace {
struct Clock {
    QDateTime now;
    void at(int m, int d, int h, int min, int s = 0, int ms = 0) { now = QDateTime(QDate(2026, m, d), QTime(h, min, s, ms)); }
};

// The stored texts of a log file, in order.
QStringList storedPeriods(const QString& file)
{
    QStringList out;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "peek");
        db.setDatabaseName(file);
        EXPECT_TRUE(db.open());
        QSqlQuery q("SELECT roundtime FROM detect_cycle ORDER BY idx", db);
        while (q.next())
            out << q.value(0).toString();
    }
    QSqlDatabase::removeDatabase("peek");
    return out;
}

void log(const QDateTime& at, double seconds)
{
    ASSERT_TRUE(DetectCycleSQL::instance()->insertDate({at.toString("yyyy-MM-dd hh:mm:ss.zzz"), seconds}));
}

struct Log : ::testing::Test {
    TestDir dir;
    Clock clock;
    void SetUp() override { DetectCycleSQL::reset([this] { return clock.now; }); }
    void TearDown() override { DetectCycleSQL::reset(); }
};
} // namespace

TEST_F(Log, ADayChangeArchivesTheFileUnderTheDayItBelongedTo)
{
    clock.at(12, 7, 10, 0);
    log(clock.now, 12.3);
    log(clock.now, 40);
    EXPECT_EQ(storedPeriods("DetectCycle.db"), (QStringList{"12.3", "40"}));
    EXPECT_EQ(DetectCycleSQL::instance()->getDBName(), QStringList{"2026-12-07"});

    // Started again two days later: the file goes under the date time.txt names.
    DetectCycleSQL::reset([this] { return clock.now; });
    clock.at(12, 9, 6, 0);
    DetectCycleSQL::instance();
    EXPECT_EQ(storedPeriods("DetectCycle/2026-12-07.db"), (QStringList{"12.3", "40"}));
    EXPECT_TRUE(storedPeriods("DetectCycle.db").isEmpty());
    EXPECT_EQ(readText("DetectCycle/time.txt"), "2026-12-09");
    EXPECT_EQ(DetectCycleSQL::instance()->getDBName(), (QStringList{"2026-12-07", "2026-12-09"}));

    // Running over midnight: the next cycle starts the file of the new day.
    clock.at(12, 9, 23, 59, 59, 500);
    log(clock.now, 30.5);
    clock.at(12, 10, 0, 0, 30);
    log(clock.now, 31);
    EXPECT_EQ(storedPeriods("DetectCycle/2026-12-09.db"), QStringList{"30.5"});
    EXPECT_EQ(storedPeriods("DetectCycle.db"), QStringList{"31"});
}

TEST_F(Log, MissingOrBrokenFilesAreMadeAnewAndTheBrokenOneKept)
{
    clock.at(12, 7, 10, 0);
    writeText("DetectCycle.db", "garbage that is not a database");
    QDir().mkpath("DetectCycle");
    writeText("DetectCycle/time.txt", "not a date");
    QString aside;
    DetectCycleSQL* log = DetectCycleSQL::instance();
    EXPECT_EQ(readText("DetectCycle/time.txt"), "2026-12-07");
    log->keptAside = [&](const QString& name) { aside = name; };
    EXPECT_TRUE(log->insertDate({"2026-12-07 10:00:00.000", 20}));
    EXPECT_EQ(storedPeriods("DetectCycle.db"), QStringList{"20"});
    const QStringList kept = QDir().entryList({"DetectCycle.db.broken-*"});
    ASSERT_EQ(kept.size(), 1);
    EXPECT_EQ(readText(kept.first()), "garbage that is not a database");

    // Broken while running: kept aside too, this cycle's row is not lost.
    log->closeDB();
    writeText("DetectCycle.db", "broken again");
    clock.at(12, 7, 10, 1);
    EXPECT_TRUE(log->insertDate({"2026-12-07 10:01:00.000", 21}));
    EXPECT_EQ(storedPeriods("DetectCycle.db"), QStringList{"21"});
    EXPECT_TRUE(aside.startsWith("DetectCycle.db.broken-"));
}

TEST(CycleLogExport, OneQueryPerDayWithTheBoundsOfTheRange)
{
    const auto t = [](int d, int h, int m) { return QDateTime(QDate(2026, 12, d), QTime(h, m)); };
    QStringList q = DetectCycleSQL::exportQueries(t(7, 9, 30), t(7, 17, 0));
    ASSERT_EQ(q.size(), 1);
    EXPECT_EQ(q[0], "SELECT roundstart,roundtime FROM detect_cycle WHERE roundstart BETWEEN "
                    "datetime(\"2026-12-07 09:30:00.000\") AND datetime(\"2026-12-07 17:00:00.000\")");
    q = DetectCycleSQL::exportQueries(t(7, 9, 30), t(9, 8, 0));
    ASSERT_EQ(q.size(), 3);
    QString from, to;
    ASSERT_TRUE(DetectCycleSQL::parseQuery(q[0], &from, &to));
    EXPECT_EQ(from + " " + to, "2026-12-07 09:30:00.000 2026-12-07 23:59:59.999");
    ASSERT_TRUE(DetectCycleSQL::parseQuery(q[1], &from, &to));
    EXPECT_EQ(from + " " + to, "2026-12-08 00:00:00.000 2026-12-08 23:59:59.999");
    ASSERT_TRUE(DetectCycleSQL::parseQuery(q[2], &from, &to));
    EXPECT_EQ(from + " " + to, "2026-12-09 00:00:00.000 2026-12-09 08:00:00.000");
    EXPECT_TRUE(DetectCycleSQL::exportQueries(t(9, 8, 0), t(7, 9, 30)).isEmpty());
    EXPECT_FALSE(DetectCycleSQL::parseQuery("SELECT 1; DROP TABLE detect_cycle", &from, &to));

    const DetectCycleSQL::Summary s = DetectCycleSQL::summarize({30, 12.5, 40, 31});
    EXPECT_EQ(s.count, 4);
    EXPECT_DOUBLE_EQ(s.min, 12.5);
    EXPECT_DOUBLE_EQ(s.median, 30.5);
    EXPECT_DOUBLE_EQ(s.max, 40);
}

namespace {
QString runExporter(int* exitCode)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(STATION_CYCLE_XLS, {"--lan", "1"});
    p.waitForFinished(60000);
    *exitCode = p.exitCode();
    return QString::fromLocal8Bit(p.readAll());
}
} // namespace

TEST_F(Log, TheExporterWritesEveryRowOfTheRangeFromEachDaysFile)
{
    clock.at(12, 7, 23, 59, 59, 500);
    log(clock.now, 10);                 // the last second of the 7th
    clock.at(12, 8, 0, 0, 5);
    log(clock.now, 11);
    clock.at(12, 8, 12, 0);
    log(clock.now, 12.5);
    clock.at(12, 9, 9, 0);
    log(clock.now, 13);                 // after the end of the range
    ASSERT_TRUE(QFile::exists("DetectCycle/2026-12-07.db"));
    ASSERT_TRUE(QFile::exists("DetectCycle/2026-12-08.db"));

    const QStringList lines = DetectCycleSQL::exportQueries(QDateTime(QDate(2026, 12, 7), QTime(8, 0)),
                                                            QDateTime(QDate(2026, 12, 9), QTime(8, 0)));
    writeText("sql.txt", (lines.join('\n') + '\n').toUtf8());
    int rc = -1;
    const QString out = runExporter(&rc);
    ASSERT_EQ(rc, 0) << out.toStdString();
    ASSERT_TRUE(out.contains("export finished")) << out.toStdString();
    const QString book = out.trimmed().section('\n', -1).section(' ', 0, 0);
    ASSERT_TRUE(QFile::exists(book)) << book.toStdString();

    QProcess read;
    read.start("/usr/bin/python3", {STATION_SOURCE_DIR "/tests/records/read_xlsx.py", book});
    read.waitForFinished(60000);
    const QJsonObject cells = QJsonDocument::fromJson(read.readAllStandardOutput())["cells"].toObject();
    const QJsonArray rows = cells["DetectCycle"].toArray();
    ASSERT_EQ(rows.size(), 4) << "heading and three cycles";
    EXPECT_EQ(rows[0].toArray()[0].toString(), "Detection time");
    EXPECT_EQ(rows[1].toArray()[0].toString(), "2026-12-07 23:59:59.500");
    EXPECT_DOUBLE_EQ(rows[1].toArray()[1].toDouble(), 10);
    EXPECT_DOUBLE_EQ(rows[3].toArray()[1].toDouble(), 12.5);
    const QJsonArray summary = cells["Summary"].toArray();
    EXPECT_DOUBLE_EQ(summary[2].toArray()[1].toDouble(), 11);   // median
}

TEST_F(Log, TheExporterRefusesALineThatIsNotAnExportQuery)
{
    writeText("sql.txt", "SELECT roundstart,roundtime FROM detect_cycle; DELETE FROM detect_cycle\n");
    int rc = 0;
    const QString out = runExporter(&rc);
    EXPECT_NE(rc, 0);
    EXPECT_TRUE(out.startsWith("error: ")) << out.toStdString();
    EXPECT_FALSE(out.contains("export finished"));
    EXPECT_TRUE(QDir().entryList({"*.xlsx"}).isEmpty());
}

TEST_F(Log, ADayThatCannotBeArchivedKeepsItsRowsAndIsArchivedLater)
{
    clock.at(12, 7, 10, 0);
    log(clock.now, 12.3);
    QStringList said;
    DetectCycleSQL::instance()->archiveFailed = [&](const QString& day, const QString&) { said << day; };
    // The archive folder cannot be used: a file stands in its way.
    ASSERT_TRUE(QDir("DetectCycle").removeRecursively());
    writeText("DetectCycle", "in the way");

    clock.at(12, 8, 0, 0, 30);
    log(clock.now, 31);
    clock.at(12, 8, 0, 1, 0);
    log(clock.now, 32);
    EXPECT_EQ(said, QStringList{"2026-12-07"}) << "said once";
    EXPECT_EQ(storedPeriods("DetectCycle.db"), (QStringList{"12.3", "31", "32"})) << "nothing lost, nothing begun anew";

    // Free again: the next cycle archives the kept day and begins the new one.
    QFile::remove("DetectCycle");
    clock.at(12, 8, 0, 2, 0);
    log(clock.now, 33);
    EXPECT_EQ(storedPeriods("DetectCycle/2026-12-07.db"), (QStringList{"12.3", "31", "32"}));
    EXPECT_EQ(storedPeriods("DetectCycle.db"), QStringList{"33"});
    EXPECT_EQ(readText("DetectCycle/time.txt"), "2026-12-08");
}
