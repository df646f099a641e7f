#include "Globals.h"
#include "Messages.h"

#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <gtest/gtest.h>

TEST(MessageTable, EveryNumberUsedInTheCodeHasAllThreeTexts)
{
    static const QRegularExpression use(R"(\bLanStr(?:En)?\(\s*(\d+))");
    QSet<int> used;
    for (const char* sub : {"/src", "/tools"}) {
        QDirIterator it(QStringLiteral(STATION_SOURCE_DIR) + sub, {"*.cpp", "*.h"}, QDir::Files,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            QFile f(it.next());
            ASSERT_TRUE(f.open(QIODevice::ReadOnly));
            auto m = use.globalMatch(QString::fromUtf8(f.readAll()));
            while (m.hasNext())
                used.insert(m.next().captured(1).toInt());
        }
    }
    ASSERT_GE(used.size(), 15) << "the scan found too few uses to be trusted";
    for (int n : used)
        for (int lan = 0; lan < kLanguageCount; ++lan)
            EXPECT_FALSE(LanStr(n, lan).trimmed().isEmpty()) << "message " << n << " language " << lan;
}

TEST(MessageTable, CompiledTableIsWellFormed)
{
    QFile f(":/station/messages.tsv");
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    QStringList errors;
    EXPECT_GT(ParseLanTable(f.readAll(), &errors), 250);
    EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
    // The historic texts are kept to the letter, line breaks included.
    EXPECT_EQ(LanStr(160, 1), "System parameter file error, please \r\n restore parameter group \r\n or contact supplier");
    EXPECT_EQ(LanStr(141, 1), "Stop the detection manually ");
    EXPECT_EQ(LanStr(1000, 0), QString::fromUtf8("系统时间出错，导致停止检测，\n请重新设置时间！"));
}

TEST(MessageTable, FollowsTheLanguageAndRejectsBadLines)
{
    const int saved = gLan;
    gLan = 1;
    EXPECT_EQ(LanStr(121), "Confirm");
    gLan = 2;
    EXPECT_EQ(LanStr(121), QString::fromUtf8("確認"));
    gLan = saved;
    EXPECT_TRUE(LanStr(99999).isEmpty());

    QStringList errors;
    EXPECT_EQ(ParseLanTable("# comment\n2047\ta\tb\tc\nx\ta\tb\tc\n5000\ta\tb\tc\n7\tonly two\n", &errors), 1);
    EXPECT_EQ(errors.size(), 3);
    EXPECT_EQ(LanStr(2047, 1), "b");
}
