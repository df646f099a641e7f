#include "Logs.h"
#include "TestDir.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <gtest/gtest.h>

namespace {
QStringList logFiles(const QString& dir)
{
    return QDir(dir + "/RECORD/LOG").entryList({"*_log.txt"}, QDir::Files);
}
} // namespace

TEST(TextLog, KeepsFiftyFilesOverSixtyStarts)
{
    TestDir dir(TestDir::Empty);
    LogManager::enabled = true;
    const QDateTime t0(QDate(2026, 1, 1), QTime(8, 0));
    for (int i = 0; i < 60; ++i) {
        LogManager log(dir.path(), t0.addSecs(i));
        qDebug() << "start" << i;
        // Distinct modification times keep the pruning order meaningful.
        QFile f(dir.path() + "/RECORD/LOG/" + LogManager::__CurName);
        f.open(QIODevice::ReadWrite);
        f.setFileTime(t0.addSecs(i), QFileDevice::FileModificationTime);
    }
    LogManager::enabled = false;
    const QStringList files = logFiles(dir.path());
    EXPECT_EQ(files.size(), 50);
    EXPECT_FALSE(files.contains("20260101_080000_log.txt"));  // the oldest went first
    EXPECT_TRUE(files.contains("20260101_080059_log.txt"));
}

TEST(TextLog, WritesHeaderAndLinesAndRecreatesAVanishedFile)
{
    TestDir dir(TestDir::Empty);
    LogManager::enabled = true;
    LogManager log(dir.path());
    qWarning() << "first";
    const QString path = dir.path() + "/RECORD/LOG/" + LogManager::__CurName;
    QString text = readText(path);
    EXPECT_TRUE(text.startsWith("create newlog version 15.0.2.44 ")) << text.toStdString();
    EXPECT_TRUE(text.contains(QRegularExpression(R"(\n\[W \d{4}/\d\d/\d\d-\d\d:\d\d:\d\d\.\d{3}\] first\n)")))
        << text.toStdString();
    QFile::remove(path);
    qCritical("%s", "第二 second");
    text = readText(path);
    LogManager::enabled = false;
    EXPECT_TRUE(text.startsWith("create newlog version"));
    EXPECT_TRUE(text.contains(QString::fromUtf8("] 第二 second\n")));
    EXPECT_FALSE(text.contains("first"));
}

TEST(TextLog, DisabledWritesNoFile)
{
    TestDir dir(TestDir::Empty);
    LogManager::enabled = false;
    LogManager log(dir.path());
    qWarning() << "nothing";
    EXPECT_TRUE(QDir(dir.path() + "/RECORD/LOG").exists());
    EXPECT_TRUE(logFiles(dir.path()).isEmpty());
}

TEST(GlogLog, PrunesToTheNewest49AndTakesCrashDumps)
{
    TestDir dir(TestDir::Empty);
    QDir().mkpath("glog");
    const QDateTime t0(QDate(2026, 1, 1), QTime(8, 0));
    for (int i = 0; i < 60; ++i) {
        QFile f(QStringLiteral("glog/old%1.log").arg(i, 2, 10, QChar('0')));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.setFileTime(t0.addSecs(i), QFileDevice::FileModificationTime);
    }
    {
        GLog glog(dir.path() + "/glog", "station-test");
        SignalHandle("dump line\n", 10);
    }
    const QStringList left = QDir("glog").entryList(QDir::Files);
    EXPECT_FALSE(left.contains("old00.log"));
    EXPECT_TRUE(left.contains("old59.log"));
    EXPECT_EQ(left.filter(QRegularExpression("^old\\d+\\.log$")).size(), 49);
    bool dumped = false;
    for (const QString& name : left)
        dumped = dumped || readText("glog/" + name).contains("network.cpp:89] dump line");
    EXPECT_TRUE(dumped);
}

TEST(TextLog, WithoutAnApplicationFolderTheLogGoesToTheWorkingDirectory)
{
    TestDir dir(TestDir::Empty);
    LogManager::enabled = true;
    {
        LogManager log(QString{});
        qDebug() << "where am I";
        EXPECT_EQ(LogManager::__CurTaskPath, QDir::currentPath() + "/RECORD/LOG");
    }
    LogManager::enabled = false;
    EXPECT_EQ(logFiles(QDir::currentPath()).size(), 1);
}
