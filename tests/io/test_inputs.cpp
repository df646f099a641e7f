#include "BoardSim.h"
#include "ControlPort.h"
#include "Globals.h"
#include "GpioChip.h"
#include "InputSampler.h"
#include "TestDir.h"

#include <QTest>
#include <gtest/gtest.h>

namespace {
void setInputs(int word)
{
    QMutexLocker lock(pMutexIO);
    gDataIn = word;
}
int published()
{
    QMutexLocker lock(pMutexIO);
    return gDataOut;
}

// A port whose thread finds no device: the tests drive gDataIn themselves.
struct Inputs : ::testing::Test {
    TestDir dir;
    ControlPort::Config cfg;
    std::unique_ptr<ControlPort> port;
    void SetUp() override
    {
        createGlobalLocks();
        setInputs(0);
        gisSafeDoorOpen = 0;
    }
    ControlPort& make()
    {
        port.reset(new ControlPort(cfg, dir.file("no-board")));
        return *port;
    }
};
} // namespace

TEST_F(Inputs, OutputPolarityAndTheOutput4Copy)
{
    cfg.outInvert[0] = 1;
    cfg.moldBackup = 3;
    ControlPort& p = make();
    // The port opens with clamping prohibited: on an inverted output that is a 0.
    EXPECT_EQ(p.outputOn(0), 1);
    EXPECT_EQ(p.outputWord(), 0x000);
    p.IOSetOut(0, 0);
    EXPECT_EQ(p.outputWord(), 0x001);  // logical off drives an inverted output to 1
    p.IOSetOut(2, 1);
    EXPECT_EQ(p.outputWord(), 0x00D);  // the alarm and its copy on output 4
    EXPECT_EQ(published(), 0x000);     // nothing reaches the board before the flash
    p.IOFlashOut();
    EXPECT_EQ(published(), 0x00D);
    p.IOSetOut(2, 0);
    EXPECT_EQ(p.outputWord(), 0x001);
    p.IOSetOut(9, 1);                  // beyond the outputs: ignored
    EXPECT_EQ(p.outputWord(), 0x001);
}

TEST_F(Inputs, EdgesOfPlainAndInvertedInputs)
{
    cfg.inInvert[0] = 1;
    ControlPort& p = make();
    setInputs(0x003);
    EXPECT_FALSE(p.IOInTrigger(0));  // inverted: physical 0 -> 1 is a falling logical edge
    EXPECT_TRUE(p.IOInTrigger(1));
    EXPECT_FALSE(p.IOInTrigger(1));  // a held level is one edge only
    setInputs(0x002);
    EXPECT_TRUE(p.IOInTrigger(0));
    EXPECT_EQ(p.IOState(0, 0), 1);
    EXPECT_FALSE(p.IOInTrigger(0));
}

TEST_F(Inputs, Input4FollowsTheChosenInput)
{
    cfg.input4Source = 2;
    cfg.safetyDoorRule = false;
    ControlPort& p = make();
    setInputs(0x002);
    EXPECT_TRUE(p.IOInTrigger(3));
    setInputs(0x008);  // its own level no longer counts
    EXPECT_FALSE(p.IOInTrigger(3));
    EXPECT_EQ(p.IOState(0, 3), 0);
}

TEST_F(Inputs, OpeningTheSafetyDoorSilencesTheAlarm)
{
    cfg.outInvert[2] = 1;  // the factory alarm polarity
    ControlPort& p = make();
    p.IOSetOut(2, 1);
    p.IOFlashOut();
    EXPECT_EQ(published() & 0x4, 0);  // sounding alarm = physical 0
    setInputs(0x002);                 // door closed
    p.IOInTrigger(1);
    EXPECT_EQ(gisSafeDoorOpen, 0);
    setInputs(0x000);                 // door opens
    p.IOInTrigger(0);
    EXPECT_EQ(gisSafeDoorOpen, 1);
    EXPECT_EQ(published() & 0x4, 0x4);  // alarm off, published at once
}

TEST_F(Inputs, NoSafetyDoorRuleInTwoColorAndTurntable)
{
    cfg.safetyDoorRule = false;
    ControlPort& p = make();
    p.IOSetOut(2, 1);
    p.IOFlashOut();
    setInputs(0x002);
    p.IOInTrigger(1);
    setInputs(0x000);
    p.IOInTrigger(1);
    EXPECT_EQ(gisSafeDoorOpen, 0);
    EXPECT_EQ(published() & 0x4, 0x4);
}

TEST_F(Inputs, SimulatedLevelsAndSoftwareTriggers)
{
    ControlPort& p = make();
    InputSampler s(&p);
    s.SlotPressedTrigIn2();
    s.SlotPressedTrigIn4();
    {
        QMutexLocker lock(pMutexIO);
        EXPECT_EQ(gDataIn, 0x00A);
    }
    s.SlotReleasedTrigIn2();
    {
        QMutexLocker lock(pMutexIO);
        EXPECT_EQ(gDataIn, 0x008);
    }
    s.SlotSimulationTrigIn5();
    EXPECT_EQ(s.softTrig, 4);
    // Without debounce an edge counts at once, and only once.
    EXPECT_TRUE(s.sample(3));
    EXPECT_FALSE(s.sample(3));
}

TEST(Debounce, AShortPulseStartsNothingAHeldLevelDoes)
{
    TestDir dir;
    BoardSim sim;
    ASSERT_TRUE(sim.ok());
    createGlobalLocks();
    ControlPort port({}, sim.device());
    InputSampler s(&port);
    s.setShakeEraseTime(5);
    QTimer tick;  // the cycle's 3-ms sampling
    QObject::connect(&tick, &QTimer::timeout, [&] {
        for (int k = 0; k < 8; ++k)
            s.sample(k);
    });
    tick.start(3);

    sim.send("pulse 1 300");
    QTest::qWait(900);
    EXPECT_FALSE(s.trigConfirmed[0]);

    sim.send("set 1 1");
    QTest::qWait(600);
    sim.send("set 1 0");
    QTRY_VERIFY_WITH_TIMEOUT(s.trigConfirmed[0], 1000);
}

TEST(GpioPath, StableInputsAreStoredAndOutputsWritten)
{
    createGlobalLocks();
    gIOID = 0;
    {
        QMutexLocker lock(pMutexIO);
        gDataIn = 0;
        gDataOut = 0x1A5;
    }
    platform::GpioChip::instance().setStandInInput(0x42);
    {
        IOThread thread("unused");
        thread.start();
        QTRY_COMPARE_WITH_TIMEOUT(platform::GpioChip::instance().standInOutput(), quint8(0xA5), 2000);
        QTRY_COMPARE_WITH_TIMEOUT(([] { QMutexLocker l(pMutexIO); return gDataIn; })(), 0x42, 2000);
    }
    gIOID = 1;
}
