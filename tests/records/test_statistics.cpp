// Result statistics over production days: hours, shifts, the day change at
// 08:00, archives, a restart in the middle, and broken files.
#include "ResStatistics.h"
#include "TestDir.h"

#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <gtest/gtest.h>

namespace {
struct Day {
    QDateTime clock;
    ResStatisticsParam::Clock fn() { return [this] { return clock; }; }
    void at(int y, int m, int d, int h, int min) { clock = QDateTime(QDate(y, m, d), QTime(h, min)); }
};

// Judges like the cycle does: at the clock's hour.
void judge(ResStatisticsParam& s, Day& day, bool ok, int camera, int detection)
{
    s.Add(day.clock.time().hour(), ok, camera, detection);
}
} // namespace

TEST(Statistics, AProductionDayAcrossMidnightAndBothShifts)
{
    TestDir dir;
    Day day;
    day.at(2026, 12, 8, 19, 59);
    auto s = std::make_unique<ResStatisticsParam>(day.fn());
    ASSERT_TRUE(s->usable()) << s->error().toStdString();
    EXPECT_EQ(s->dayName(), "2026-12-08");
    judge(*s, day, true, 0, 1);       // morning
    day.at(2026, 12, 8, 20, 0);
    judge(*s, day, false, 0, 1);      // night
    judge(*s, day, true, 1, 0);
    day.at(2026, 12, 9, 0, 30);
    judge(*s, day, false, 1, 0);      // after midnight: still the day of the 8th
    EXPECT_EQ(s->dayName(), "2026-12-08");

    // A restart in the middle of the night: the counts are what was added.
    s.reset();
    day.at(2026, 12, 9, 7, 59);
    s = std::make_unique<ResStatisticsParam>(day.fn());
    judge(*s, day, true, 0, 1);       // hour 7, night shift of the 8th
    s->setFindCount();
    EXPECT_EQ(s->getCount(Morning, true, 0, 1), 1);
    EXPECT_EQ(s->getCount(Night, false, 0, 1), 1);
    EXPECT_EQ(s->getCount(Night, true, 0, 1), 1);
    EXPECT_EQ(s->getCount(WholeDay, false, 8, 8), 2);
    EXPECT_EQ(s->getCount(WholeDay, true, 8, 8), 3);
    EXPECT_EQ(s->getCount(WholeDay, true, 8, 0), 1);   // detection 0 over all cameras
    EXPECT_EQ(s->getCount(WholeDay, false, 1, 8), 1);  // camera 2's total
    const QList<int> night = s->getRes(Night, true, 0, 1);
    ASSERT_EQ(night.size(), 12);
    EXPECT_EQ(night[11], 1);   // hour 7 is the last of the night: 20, 21, 22, 23, 0 … 7
    EXPECT_EQ(s->getRes(Night, false, 1, 0)[4], 1);   // hour 0
    EXPECT_EQ(s->getRes(Morning, true, 0, 1)[11], 1); // hour 19
    EXPECT_TRUE(s->archivedDays().isEmpty());

    // 08:00: a new day; the old one is archived under its name with its counts.
    day.at(2026, 12, 9, 8, 0);
    judge(*s, day, false, 0, 1);
    EXPECT_EQ(s->dayName(), "2026-12-09");
    EXPECT_EQ(s->archivedDays(), QStringList{"2026-12-08"});
    s->setFindCount();
    EXPECT_EQ(s->getCount(WholeDay, false, 8, 8), 1);
    EXPECT_EQ(s->getRes(Morning, false, 0, 1)[0], 1);   // hour 8 of the new day
    ASSERT_TRUE(s->setFindCount("./ResStatistics/2026-12-08.db"));
    EXPECT_EQ(s->getCount(WholeDay, true, 8, 8), 3);
    EXPECT_EQ(s->getCount(WholeDay, false, 8, 8), 2);
    EXPECT_EQ(s->getCount(Night, true, 0, 8), 1);
}

TEST(Statistics, OffForTwoDaysAndStartedAtSixInTheMorning)
{
    TestDir dir;
    Day day;
    day.at(2026, 12, 5, 10, 0);
    {
        ResStatisticsParam s(day.fn());
        judge(s, day, true, 0, 0);
    }
    day.at(2026, 12, 8, 6, 0);
    ResStatisticsParam s(day.fn());
    EXPECT_EQ(s.archivedDays(), QStringList{"2026-12-05"});
    EXPECT_EQ(s.dayName(), "2026-12-07");
    EXPECT_EQ(s.dayStart(), QDateTime(QDate(2026, 12, 7), QTime(8, 0)).toSecsSinceEpoch());
    EXPECT_EQ(readText("restime.txt").toLongLong(), s.dayStart());
    EXPECT_EQ(s.live().sums[5], 0);
    judge(s, day, true, 0, 0);
    EXPECT_EQ(s.archivedDays().size(), 1);   // still the day of the 7th
}

TEST(Statistics, BrokenOrMissingFilesAndJudgementsOutsideTheTable)
{
    TestDir dir;
    Day day;
    day.at(2026, 12, 8, 9, 0);
    writeText("ResStatistics.db", "this is not a database");
    {
        ResStatisticsParam s(day.fn());
        ASSERT_TRUE(s.usable());
        judge(s, day, false, 2, 3);
        s.Add(9, true, 8, 8);    // totals are sums: not counted by themselves
        s.Add(24, true, 0, 0);
        s.setFindCount();
        EXPECT_EQ(s.getCount(WholeDay, true, 8, 8), 0);
        EXPECT_EQ(s.getCount(WholeDay, false, 8, 8), 1);
    }
    // The broken file was kept aside, not overwritten.
    const QStringList aside = QDir().entryList({"ResStatistics.db.broken-*"});
    ASSERT_EQ(aside.size(), 1);
    EXPECT_EQ(readText(aside[0]), "this is not a database");

    // The counts were saved in the file as the rows say.
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "check");
        db.setDatabaseName("ResStatistics.db");
        ASSERT_TRUE(db.open());
        QSqlQuery q(db);
        ASSERT_TRUE(q.exec("select value2 from resstatistics where name = 'C2_D3'") && q.next());
        EXPECT_EQ(q.value(0).toString(), "0 0 0 0 0 0 0 0 0 1 0 0 0 0 0 0 0 0 0 0 0 0 0 0 ");
        ASSERT_TRUE(q.exec("select value2 from resstatistics where name = 'C8_D8'") && q.next());
        EXPECT_EQ(q.value(0).toString().split(' ').at(9), "1");
    }
    QSqlDatabase::removeDatabase("check");

    // No template and no file: unusable, said, nothing counted, no crash.
    QFile::remove("ResStatistics.db");
    QFile::remove("ResStatisticsNULL.db");
    ResStatisticsParam none(day.fn());
    EXPECT_FALSE(none.usable());
    EXPECT_FALSE(none.error().isEmpty());
    none.Add(9, true, 0, 0);
    EXPECT_FALSE(none.setFindCount("./ResStatistics/nothing.db"));
}

TEST(Statistics, ADayThatCannotBeArchivedKeepsItsCountsAndIsArchivedLater)
{
    TestDir dir;
    Day day;
    day.at(2026, 12, 8, 10, 0);
    auto s = std::make_unique<ResStatisticsParam>(day.fn());
    ASSERT_TRUE(s->usable()) << s->error().toStdString();
    QStringList said;
    QObject::connect(s.get(), &ResStatisticsParam::archiveFailed, [&](const QString& d, const QString&) { said << d; });
    judge(*s, day, true, 0, 1);
    judge(*s, day, false, 0, 1);
    // The archive folder cannot be made: a file stands in its way.
    QFile::remove("ResStatistics");
    QDir().rmdir("ResStatistics");
    writeText("ResStatistics", "in the way");

    day.at(2026, 12, 9, 8, 5);
    judge(*s, day, true, 0, 1);
    EXPECT_EQ(said, QStringList{"2026-12-08"});
    EXPECT_EQ(s->dayName(), "2026-12-08") << "the day stays until it is archived";
    s->setFindCount();
    EXPECT_EQ(s->getCount(WholeDay, true, 0, 1), 2) << "nothing cleared";
    EXPECT_EQ(s->getCount(WholeDay, false, 0, 1), 1);
    // Saved as they are, also across a restart.
    s.reset();
    s = std::make_unique<ResStatisticsParam>(day.fn());
    QObject::connect(s.get(), &ResStatisticsParam::archiveFailed, [&](const QString& d, const QString&) { said << d; });
    EXPECT_EQ(s->dayName(), "2026-12-08");
    EXPECT_FALSE(s->archiveProblem().isEmpty());
    s->setFindCount();
    EXPECT_EQ(s->getCount(WholeDay, true, 0, 1), 2);

    // The way is free again: a minute later the day goes to its archive whole.
    QFile::remove("ResStatistics");
    day.at(2026, 12, 9, 8, 7);
    judge(*s, day, false, 1, 1);
    EXPECT_EQ(s->dayName(), "2026-12-09");
    EXPECT_TRUE(s->archiveProblem().isEmpty());
    ASSERT_TRUE(s->setFindCount("./ResStatistics/2026-12-08.db"));
    EXPECT_EQ(s->getCount(WholeDay, true, 0, 1), 2);
    EXPECT_EQ(s->getCount(WholeDay, false, 0, 1), 1);
    s->setFindCount();
    EXPECT_EQ(s->getCount(WholeDay, false, 8, 8), 1) << "the new day holds only its own judgement";
}
