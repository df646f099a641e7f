#pragma once
// Input sampling for the detection cycle: debounce per input, the simulated
// input levels and the software triggers of the operator interface.
#include <QObject>
#include <QTimer>

class ControlPort;

class InputSampler : public QObject {
    Q_OBJECT
public:
    explicit InputSampler(ControlPort* port, QObject* parent = nullptr);

    // Debounce time in tenths of a second (shake_erase_time); 0 = none.
    void setShakeEraseTime(int tenths) { m_shake = tenths; }
    int shakeEraseTime() const { return m_shake; }

    // Samples input k (0..7): on a rising edge restarts its debounce timer.
    // Returns true when the edge counts at once (no debounce).
    bool sample(int k);
    // A rising edge of input k seen by the caller: restarts the debounce
    // timer, or counts at once without debounce (returns true then).
    bool edgeSeen(int k);

    QTimer& checkTimer(int k) { return m_check[k]; }

    bool trigConfirmed[8] = {};
    int softTrig = -1;

public slots:
    void CheckInput(int index);
    void TimerCheckInput0() { expire(0); }
    void TimerCheckInput1() { expire(1); }
    void TimerCheckInput2() { expire(2); }
    void TimerCheckInput3() { expire(3); }
    void TimerCheckInput4() { expire(4); }
    void TimerCheckInput5() { expire(5); }
    void TimerCheckInput6() { expire(6); }
    void TimerCheckInput7() { expire(7); }

    void SlotSimulationTrigIn1() { softTrig = 0; }
    void SlotSimulationTrigIn2() { softTrig = 1; }
    void SlotSimulationTrigIn3() { softTrig = 2; }
    void SlotSimulationTrigIn4() { softTrig = 3; }
    void SlotSimulationTrigIn5() { softTrig = 4; }
    void SlotSimulationTrigIn6() { softTrig = 5; }
    void SlotSimulationTrigIn7() { softTrig = 6; }
    void SlotSimulationTrigIn8() { softTrig = 7; }

    void SlotPressedTrigIn1() { setSimulatedLevel(0, true); }
    void SlotPressedTrigIn2() { setSimulatedLevel(1, true); }
    void SlotPressedTrigIn3() { setSimulatedLevel(2, true); }
    void SlotPressedTrigIn4() { setSimulatedLevel(3, true); }
    void SlotReleasedTrigIn1() { setSimulatedLevel(0, false); }
    void SlotReleasedTrigIn2() { setSimulatedLevel(1, false); }
    void SlotReleasedTrigIn3() { setSimulatedLevel(2, false); }
    void SlotReleasedTrigIn4() { setSimulatedLevel(3, false); }

private:
    void expire(int k);
    static void setSimulatedLevel(int bit, bool on);

    ControlPort* m_port;
    int m_shake = 0;
    QTimer m_check[8];
};
