#include "BoardSim.h"
#include "ControlPort.h"
#include "Globals.h"
#include "TestDir.h"
#include "WizardPara.h"

#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>
#include <gtest/gtest.h>

namespace {
bool waitFor(const std::function<bool()>& cond, int timeoutMs)
{
    QElapsedTimer t;
    t.start();
    while (!cond()) {
        if (t.elapsed() > timeoutMs)
            return false;
        QTest::qWait(5);
    }
    return true;
}

int inputs()
{
    QMutexLocker lock(pMutexIO);
    return gDataIn;
}

struct Link : ::testing::Test {
    TestDir dir;
    BoardSim sim;
    std::unique_ptr<ControlPort> port;
    void SetUp() override
    {
        ASSERT_TRUE(dir.ok());
        ASSERT_TRUE(sim.ok());
        createGlobalLocks();
        gisLostCom = 0;
        {
            QMutexLocker lock(pMutexIO);
            gDataIn = gDataOut = 0;
        }
        port.reset(new ControlPort({}, sim.device()));
    }
    void TearDown() override { port.reset(); }
};
} // namespace

TEST_F(Link, TheFirstWordTheBoardIsGivenProhibitsClamping)
{
    // Nothing is judged when the port opens: "allowed" must never be the first word.
    ASSERT_TRUE(sim.waitHeld(0x001));
    ASSERT_FALSE(sim.outs().isEmpty());
    EXPECT_EQ(sim.outs().first(), 0x001);
}

// In the OK/NG pulse mode with the mould's OK on output 1, output 1 is the OK
// line: the first word, the word of a wiring change and the guard's last word
// raise the NG line (output 2), never output 1.
TEST(LinkPulseMode, TheProhibitionIsTheNgLineFromTheFirstWordOn)
{
    createGlobalLocks();
    WizardPara p;
    p.enable_ok_ng_pulse = 1;
    p.enable_ok_ng_pulse_mold = 1;
    const auto logical = [](const ControlPort& port) {
        QMutexLocker lock(pMutexIO);
        return (gDataOut ^ (port.config().outInvert[1] << 1) ^ port.config().outInvert[0]) & 3;
    };
    ControlPort port(ControlPort::configFrom(p), ControlPort::kDirect);
    EXPECT_EQ(logical(port), 2) << "the first word raised the OK line";
    EXPECT_EQ(port.lastWord() & 3, 2);
    // The same word is published by a wiring change, with nothing in between.
    p.out_invert[3] = 1 - p.out_invert[3];
    port.IOSetOut(1, 0);
    port.IOFlashOut();
    ASSERT_TRUE(port.applyConfig(ControlPort::configFrom(p)));
    EXPECT_EQ(logical(port), 2) << "the wiring change raised the OK line";
}

TEST_F(Link, PublishedOutputReachesTheBoardAndPowerLossIsRepaired)
{
    port->IOSetOut(0, 1);
    port->IOSetOut(2, 1);
    EXPECT_EQ(sim.waitOut(0x005, 300), -1) << "nothing is sent before the outputs are published";
    port->IOFlashOut();
    ASSERT_GE(sim.waitOut(0x005), 0);
    sim.send("powercycle");
    ASSERT_GE(sim.waitOut(0x000), 0);
    // The first report after the board is back shows its outputs off: resent.
    ASSERT_GE(sim.waitOut(0x005), 0);
}

TEST_F(Link, InputsFollowTheBoardThroughGarbageAndSplitFrames)
{
    sim.send("set 3 1");
    ASSERT_TRUE(waitFor([] { return inputs() == 0x004; }, 2000));
    const quint64 before = port->ioThread()->resyncBytes();
    sim.send("garbage 5");
    sim.send("set 1 1");
    ASSERT_TRUE(waitFor([] { return inputs() == 0x005; }, 2000));
    EXPECT_EQ(port->ioThread()->resyncBytes() - before, 5u);
    sim.send("split");
    sim.send("word 2A0");
    ASSERT_TRUE(waitFor([] { return inputs() == 0x2A0; }, 2000));
    EXPECT_EQ(port->ioThread()->resyncBytes() - before, 5u);
    // The analogue groups are read every 210 polls.
    ASSERT_TRUE(waitFor([this] { return port->ioThread()->analog(8) != 0; }, 5000));
    EXPECT_GE(port->ioThread()->analog(0), 250);
    EXPECT_GE(port->ioThread()->analog(8), 330);
}

TEST_F(Link, ASilentBoardIsLostAndItsReturnIsRecorded)
{
    ASSERT_TRUE(waitFor([] { return inputs() == 0; }, 1000));
    // 1000 silent polls take about 6 s here; the silence outlasts them with room for a loaded machine.
    sim.send("silent 15000");
    ASSERT_TRUE(waitFor([] { return gisLostCom == 1; }, 15000));
    sim.send("silent 0");
    ASSERT_TRUE(waitFor([] { return gisLostCom == 0; }, 15000));
    QTest::qWait(50);
    const QStringList texts = recordRemarks();
    EXPECT_TRUE(texts.contains(QString::fromUtf8("IO通讯重新连接"))) << texts.join('|').toStdString();
}

TEST(LinkPort, APortThatAppearsLaterIsOpenedByTheRetry)
{
    TestDir dir;
    BoardSim sim;
    ASSERT_TRUE(sim.ok());
    createGlobalLocks();
    const QString link = dir.file("ttyBoard");
    ControlPort port({}, link);
    QTest::qWait(300);
    ASSERT_TRUE(QFile::link(sim.device(), link));
    sim.send("set 2 1");
    EXPECT_TRUE(waitFor([] { return inputs() == 0x002; }, 6000));
}

TEST_F(Link, BytesThatNeverFormAFrameAreSilenceToo)
{
    ASSERT_TRUE(waitFor([] { return inputs() == 0; }, 1000));
    // A wrong baud rate or another device: bytes on every poll, never a frame.
    sim.send("noise 15000");
    ASSERT_TRUE(waitFor([] { return gisLostCom == 1; }, 15000));
    EXPECT_GT(port->ioThread()->resyncBytes(), 1000u);
    sim.send("noise 0");
    ASSERT_TRUE(waitFor([] { return gisLostCom == 0; }, 15000));
}

TEST(LinkCommands, PollsEveryFewMillisecondsAndSetsOutputsOnlyOnAMismatch)
{
    TestDir dir;
    const QString log = dir.file("commands.log");
    BoardSim sim({"--log", log});
    ASSERT_TRUE(sim.ok());
    createGlobalLocks();
    ControlPort port({}, sim.device());
    QTest::qWait(1500);
    auto commands = [&](int cmd) {
        int n = 0;
        for (const QString& line : readText(log).split('\n', Qt::SkipEmptyParts))
            n += line.section(' ', 2, 2).toInt() == cmd;
        return n;
    };
    // About one poll per 5 ms plus the read: well over 100 in a second and a half.
    const int polls = commands(2);
    EXPECT_GT(polls, 100);
    EXPECT_LT(polls, 320);
    // The prohibiting first word, sent once (a report already on its way may show the old word once).
    const int first = commands(1);
    EXPECT_GE(first, 1);
    EXPECT_LE(first, 2);
    port.IOSetOut(2, 1);
    port.IOFlashOut();
    ASSERT_GE(sim.waitOut(0x005), 0);
    QTest::qWait(500);
    const int sets = commands(1) - first;
    EXPECT_GE(sets, 1);
    EXPECT_LE(sets, 2);
    QTest::qWait(500);
    EXPECT_EQ(commands(1), first + sets);
}
