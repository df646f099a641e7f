#include "OperationRecord.h"
#include "TestDir.h"

#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <gtest/gtest.h>

namespace {
struct RecordFixture : ::testing::Test {
    TestDir dir;
    OperationRecord rec;
    void SetUp() override
    {
        ASSERT_TRUE(dir.ok());
        rec.today = [] { return QDate(2026, 5, 1); };
        rec.loadRecordDate();
    }
};
} // namespace

TEST_F(RecordFixture, StoresTextsWithQuotesWhole)
{
    EXPECT_TRUE(rec.InsertRecord("operator's note: \"door\" ; DROP TABLE RECORD; --"));
    EXPECT_TRUE(rec.InsertRecord(QString::fromUtf8("系统时间出错")));
    dropConnections();
    EXPECT_EQ(recordRemarks("RECORD.db"),
              (QStringList{"operator's note: \"door\" ; DROP TABLE RECORD; --", QString::fromUtf8("系统时间出错")}));
}

TEST_F(RecordFixture, ClearRemovesEveryRow)
{
    rec.InsertRecord("one");
    rec.InsertRecord("two");
    EXPECT_TRUE(rec.ClearRecord());
    rec.InsertRecord("after");
    dropConnections();
    EXPECT_EQ(recordRemarks("RECORD.db"), QStringList{"after"});
}

TEST_F(RecordFixture, ForwardsEveryRecordWithTimeAndLevel)
{
    QStringList seen;
    rec.setForwarder([&](const QString& t, const QString& label, const QString& text) {
        seen << t << label << text;
    });
    rec.InsertRecord("hello");
    ASSERT_EQ(seen.size(), 3);
    EXPECT_TRUE(QTime::fromString(seen[0], "hh.mm.ss").isValid());
    EXPECT_EQ(seen[1], OperationRecord::levelLabel());
    EXPECT_EQ(seen[2], "hello");
}

TEST_F(RecordFixture, ArchivesThePreviousDayAndStartsFresh)
{
    // Factory time.txt holds the real today; the fixture's "today" differs.
    writeText("time.txt", "2026-04-30\n");
    rec.loadRecordDate();
    EXPECT_EQ(rec.recordDate(), "2026-04-30");
    rec.InsertRecord("yesterday");
    rec.SlotCheckDate();
    EXPECT_EQ(rec.recordDate(), "2026-05-01");
    EXPECT_EQ(readText("time.txt").trimmed(), "2026-05-01");
    rec.InsertRecord("today");
    dropConnections();
    EXPECT_EQ(recordRemarks("RECORD/2026-04-30.db"), QStringList{"yesterday"});
    EXPECT_EQ(recordRemarks("RECORD.db"), QStringList{"today"});
    // Same day again: nothing moves.
    rec.SlotCheckDate();
    EXPECT_FALSE(QFile::exists("RECORD/2026-05-01.db"));
}

TEST_F(RecordFixture, FailedArchivingKeepsTheCurrentRecord)
{
    writeText("time.txt", "2026-04-30\n");
    rec.loadRecordDate();
    rec.InsertRecord("kept");
    QFile::remove("RECORDNULL.db");
    rec.SlotCheckDate();
    // The fresh copy could not be made: the old file stays in use, nothing is lost.
    EXPECT_EQ(rec.recordDate(), "2026-04-30");
    rec.InsertRecord("still here");
    dropConnections();
    EXPECT_EQ(recordRemarks("RECORD.db"), (QStringList{"kept", "still here"}));
    EXPECT_FALSE(QFile::exists("RECORD/2026-04-30.db"));
}

TEST_F(RecordFixture, NeverOverwritesAnEarlierArchive)
{
    writeText("time.txt", "2026-04-30\n");
    rec.loadRecordDate();
    QDir().mkpath("RECORD");
    ASSERT_TRUE(QFile::copy("RECORDNULL.db", "RECORD/2026-04-30.db"));
    rec.InsertRecord("second");
    rec.SlotCheckDate();
    dropConnections();
    EXPECT_EQ(recordRemarks("RECORD/2026-04-30_1.db"), QStringList{"second"});
    EXPECT_TRUE(recordRemarks("RECORD/2026-04-30.db").isEmpty());
}

TEST(RecordDate, WrittenWithTodayWhenMissing)
{
    TestDir dir(TestDir::Empty);
    OperationRecord rec;
    rec.today = [] { return QDate(2030, 1, 2); };
    rec.loadRecordDate();
    EXPECT_EQ(rec.recordDate(), "2030-01-02");
    EXPECT_EQ(readText("time.txt").trimmed(), "2030-01-02");
    // No RECORD.db: a record fails instead of creating an empty database silently working.
    EXPECT_FALSE(rec.InsertRecord("x"));
}
