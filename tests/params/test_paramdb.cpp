#include "Globals.h"
#include "Host.h"
#include "Messages.h"
#include "ParamDb.h"
#include "TestDir.h"

#include <QDir>
#include <QFile>
#include <QSqlQuery>
#include <gtest/gtest.h>

using namespace paramdb;
using platform::Host;

TEST(ValueLists, ShortLongAndMalformedLists)
{
    EXPECT_EQ(parseInts("1 2", 4), (QList<int>{1, 2, 0, 0}));
    EXPECT_EQ(parseInts("1 2 3 4 5 6", 3), (QList<int>{1, 2, 3}));
    EXPECT_EQ(parseInts("  -5\t20000  7 ", 3), (QList<int>{-5, 20000, 7}));
    // Reading stops at the first non-number; nothing crashes.
    EXPECT_EQ(parseInts("4 x 9", 3), (QList<int>{4, 0, 0}));
    EXPECT_EQ(parseInts("99999999999 1", 2), (QList<int>{0, 0}));
    EXPECT_EQ(parseInts("", 2), (QList<int>{0, 0}));
    EXPECT_EQ(joinInts({3, -1, 0}), "3 -1 0");
}

struct OpenedDb : ::testing::Test {
    TestDir dir;
    QList<int> warned;
    void SetUp() override
    {
        ASSERT_TRUE(dir.ok());
        ASSERT_TRUE(openAll([this](int m) { warned << m; }));
    }
};

TEST_F(OpenedDb, MissingKeyIsWrittenOnlyAfterItIsEnsured)
{
    QSqlDatabase db = paramDb();
    EXPECT_FALSE(readValue(db, "sysparam", "brandNew", nullptr));
    EXPECT_FALSE(writeValue(db, "sysparam", "brandNew", "5 6"));
    EXPECT_FALSE(readValue(db, "sysparam", "brandNew", nullptr));
    ASSERT_TRUE(ensureKey(db, "sysparam", "brandNew"));
    QString v;
    ASSERT_TRUE(readValue(db, "sysparam", "brandNew", &v));
    EXPECT_EQ(v, "0");
    EXPECT_TRUE(writeValue(db, "sysparam", "brandNew", "5 6"));
    ASSERT_TRUE(readValue(db, "sysparam", "brandNew", &v));
    EXPECT_EQ(v, "5 6");
}

TEST_F(OpenedDb, ManyKeysInOneTransactionAndNoInjection)
{
    QSqlDatabase db = paramDb();
    ASSERT_TRUE(writeValues(db, "sysparam", {{"a'b", "x' or '1'='1"}, {"trigInDelay", "1 2 3 4 5 6 7 8"}}, true));
    QString v;
    ASSERT_TRUE(readValue(db, "sysparam", "a'b", &v));
    EXPECT_EQ(v, "x' or '1'='1");
    ASSERT_TRUE(readValue(db, "sysparam", "trigInDelay", &v));
    EXPECT_EQ(v, "1 2 3 4 5 6 7 8");
    // A table name is never taken from data.
    EXPECT_FALSE(readValue(db, "sysparam; drop table sysparam", "x", nullptr));
    EXPECT_FALSE(ensureKey(db, "bad name", "x"));
    // A missing table fails the whole write and changes nothing.
    EXPECT_FALSE(writeValues(db, "nosuchtable", {{"k", "1"}}, true));
}

namespace {
struct BrokenCase {
    const char* file;
    const char* factory;
    int message;
};

void breakFile(const char* file) { writeText(file, "this is not a database, just bytes the power cut left"); }
} // namespace

class Recovery : public ::testing::TestWithParam<BrokenCase> {};

TEST_P(Recovery, KeepsTheBrokenFileAsideRestoresTheFactoryCopyAndAsksForReboot)
{
    const BrokenCase c = GetParam();
    TestDir dir;
    ASSERT_TRUE(dir.ok());
    breakFile(c.file);
    const QByteArray factory = [&] {
        QFile f(c.factory);
        f.open(QIODevice::ReadOnly);
        return f.readAll();
    }();
    QList<int> warned;
    EXPECT_FALSE(openAll([&](int m) { warned << m; }));
    ASSERT_EQ(warned, QList<int>{c.message});
    // The operator always sees the English text.
    EXPECT_TRUE(LanStrEn(c.message).contains(c.message == 135 ? "Database failed to open" : "System parameter file error"));

    const QStringList aside = QDir::current().entryList({QString(c.file) + ".broken-*"});
    ASSERT_EQ(aside.size(), 1);
    EXPECT_TRUE(readText(aside[0]).startsWith("this is not a database"));
    QFile restored(c.file);
    ASSERT_TRUE(restored.open(QIODevice::ReadOnly));
    EXPECT_EQ(restored.readAll(), factory);
    EXPECT_EQ(hostActions(), QStringList{"reboot"});
    // The factory copy is open so the process can go on until the reboot.
    QSqlQuery q(QSqlDatabase::database(c.file == QString("RECORD.db") ? kRecordConn
                                       : c.file == QString("SN.db")   ? kSerialConn
                                                                      : kParamConn, false));
    EXPECT_TRUE(q.exec("select count(*) from sqlite_master"));
}

INSTANTIATE_TEST_SUITE_P(EachDatabase, Recovery,
                         ::testing::Values(BrokenCase{"PARAM.db", "paraGroup/default/PARAM.db", 160},
                                           BrokenCase{"RECORD.db", "RECORDNULL.db", 135},
                                           BrokenCase{"SN.db", "paraGroup/default/SN.db", 160}),
                         [](const auto& info) { return QString(info.param.file).section('.', 0, 0).toStdString(); });

TEST(RecoveryMissing, AMissingParameterFileIsRestoredNotCreatedEmpty)
{
    TestDir dir;
    QFile::remove("PARAM.db");
    int warnings = 0;
    openAll([&](int) { ++warnings; });
    EXPECT_EQ(warnings, 1);
    QString v;
    EXPECT_TRUE(readValue(paramDb(), "sysparam", "trigInDelay", &v));
    EXPECT_EQ(hostActions(), QStringList{"reboot"});
}

namespace {
// Databases SQLite opens happily that are still not the station's.
struct NotOursCase {
    const char* file;
    const char* sql;  // run on the file before opening; empty: a zero-length file
};
void spoil(const NotOursCase& c)
{
    if (!*c.sql) {
        writeText(c.file, "");
        return;
    }
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "spoil");
        db.setDatabaseName(c.file);
        ASSERT_TRUE(db.open());
        QSqlQuery q(db);
        ASSERT_TRUE(q.exec(c.sql)) << c.sql;
        db.close();
    }
    QSqlDatabase::removeDatabase("spoil");
}
} // namespace

class NotOurs : public ::testing::TestWithParam<NotOursCase> {};

TEST_P(NotOurs, IsKeptAsideAndReplacedByTheFactoryCopy)
{
    TestDir dir;
    const NotOursCase c = GetParam();
    spoil(c);
    EXPECT_FALSE(openAll({}));
    EXPECT_EQ(QDir::current().entryList({QString(c.file) + ".broken-*"}).size(), 1);
    EXPECT_EQ(hostActions(), QStringList{"reboot"});
    EXPECT_FALSE(gDatabaseFault);
    dropConnections();
    QFile::remove(Host::journalName());
    EXPECT_TRUE(openAll({}));  // the restored copy is the station's
}

INSTANTIATE_TEST_SUITE_P(
    EachDatabase, NotOurs,
    ::testing::Values(NotOursCase{"PARAM.db", ""}, NotOursCase{"PARAM.db", "drop table sysparam"},
                      NotOursCase{"PARAM.db", "delete from sysparam"}, NotOursCase{"PARAM.db", "drop table cammer7"},
                      NotOursCase{"RECORD.db", "drop table RECORD"}, NotOursCase{"SN.db", "delete from sysparam"},
                      NotOursCase{"SN.db", "drop table sysparam"}),
    [](const auto& info) { return std::to_string(info.index); });

TEST(RecoveryImpossible, NoFactoryCopyMeansNoRebootButAFault)
{
    TestDir dir;
    writeText("SN.db", "garbage");
    QFile::remove("paraGroup/default/SN.db");
    QList<int> warned;
    QStringList unusable;
    EXPECT_FALSE(openAll([&](int m) { warned << m; }, &unusable));
    EXPECT_EQ(unusable, QStringList{"SN.db"});
    EXPECT_TRUE(gDatabaseFault);
    EXPECT_EQ(warned, QList<int>{160});
    EXPECT_TRUE(hostActions().isEmpty());  // a reboot would only come back here
    EXPECT_EQ(readText("SN.db"), "garbage");  // nothing replaced: still there to recover
    gDatabaseFault = false;

    // A factory copy that is itself not the station's counts as missing.
    dropConnections();
    writeText("paraGroup/default/PARAM.db", "");
    writeText("PARAM.db", "");
    unusable.clear();
    openAll({}, &unusable);
    EXPECT_TRUE(unusable.contains("PARAM.db"));
    EXPECT_TRUE(hostActions().isEmpty());
    gDatabaseFault = false;
}
