#pragma once
// The station's side of the IO board: outputs are built in a private word and
// published in one step; inputs are latched from gDataIn and turned into
// logical rising edges.
#include "IOThread.h"

#include <QObject>
#include <QString>
#include <algorithm>
#include <iterator>

class WizardPara;

// The safety door has been opened since the current cycle started.
extern int gisSafeDoorOpen;

class ControlPort : public QObject {
    Q_OBJECT
public:
    struct Config {
        int outInvert[9] = {};   // 1: the physical bit is the inverse of the logical output
        int inInvert[9] = {};    // 1: the logical input is the inverse of the physical bit
        int moldBackup = 0;      // output 4 copies output 1..3 (0 none)
        int input4Source = 0;    // input 4 takes input 1..3 (0 its own)
        bool safetyDoorRule = true;  // off in Two-color and Turntable
        // The logical outputs a prohibition sets and clears: output 1, or in the
        // OK/NG pulse mode the NG's lines (output 1 may be the OK line there).
        int prohibitSet = 1, prohibitClear = 0;
        bool operator==(const Config& o) const
        {
            return std::equal(std::begin(outInvert), std::end(outInvert), std::begin(o.outInvert)) &&
                   std::equal(std::begin(inInvert), std::end(inInvert), std::begin(o.inInvert)) &&
                   moldBackup == o.moldBackup && input4Source == o.input4Source && safetyDoorRule == o.safetyDoorRule &&
                   prohibitSet == o.prohibitSet && prohibitClear == o.prohibitClear;
        }
    };
    static Config configFrom(const WizardPara& p);
    // STATION_IO_PORT when set, else "/dev/ttyS<serialPort>".
    static QString portName(int serialPort);

    // A port name that makes no link: the IO words are the board. Benchmarks
    // and long randomized runs of the cycle write gDataIn and read gDataOut
    // themselves instead of waiting for a serial round trip.
    static constexpr const char* kDirect = "direct:";

    // Creates the IO thread, resets and publishes all outputs, starts polling.
    ControlPort(const Config& config, const QString& portName, QObject* parent = nullptr);
    ~ControlPort() override;

    void setConfig(const Config& c) { m_config = c; }
    // A confirmed change of the wiring rules: every output keeps its logical
    // state in the new polarity and copy, the new rules' prohibition is applied
    // (a verdict under the old wiring no longer vouches), and the word is
    // published at once, in one word. Returns whether anything changed.
    bool applyConfig(const Config& c);
    // Clamping prohibited in the configured lines, published at once.
    void prohibitClamping();
    const Config& config() const { return m_config; }

    // The physical word of a logical one (output k as bit k-1) under config c:
    // inversion, then the output-4 copy.
    static int physicalWord(const Config& c, int logical);

    // The logical word that prohibits everything: what the guard writes when
    // the station is gone and the IO thread publishes when the tick stops.
    void setLastWord(int logical);
    int lastWord() const { return physicalWord(m_config, m_lastLogical); }
    // Publishes the last word as the station's own and waits (bounded) until
    // the board reports holding it. True when it did.
    bool publishLastWord(int waitMs);
    // Called by every tick: the next one is due within withinMs. Returns how
    // long the IO thread held the last word because the tick was late (0:
    // it did not); the cycle's own word is published again then.
    qint64 tickAlive(int withinMs);
    // The tick is no longer watched (an orderly end).
    static void unwatchTick();

    void IOSetOut(int index, int on);
    void IOResetAllOut();
    void IOFlashOut();
    // kind != 0: physical bit index of the output word; kind 0: logical level
    // of input index in the latched input word.
    int IOState(int kind, int index) const;
    // Latches gDataIn; true on a logical rising edge of input index since the
    // previous call for that input.
    bool IOInTrigger(int index);
    // Logical rising edges of input index the IO thread saw between the last
    // two IOInTrigger calls for it that the level comparison did not show
    // (a pulse that came and went between two ticks).
    int missedEdges(int index) const { return index >= 0 && index < 16 ? m_missed[index] : 0; }

    int outputWord() const { return m_out; }
    // The logical outputs (output k as bit k-1) of the word, whatever the wiring.
    int logicalWord() const
    {
        int w = 0;
        for (int k = 0; k < 9; ++k)
            w |= outputOn(k) << k;
        return w;
    }
    // Logical state of output index (1 = set), whatever the wiring's inversion.
    int outputOn(int index) const
    {
        return index >= 0 && index < 9 ? ((m_out >> index) & 1) ^ m_config.outInvert[index] : 0;
    }
    int inputWord() const { return m_in; }
    IOThread* ioThread() const { return m_thread; }

signals:
    void safetyDoorOpened();

private:
    Config m_config;
    unsigned char m_prevRaw[16] = {};
    quint32 m_prevRises[16] = {};
    bool m_countsKnown[16] = {};
    int m_missed[16] = {};
    int m_out = 0;
    int m_in = 0;
    int m_lastLogical = 1 | 4;  // clamping prohibited, alarm on
    IOThread* m_thread = nullptr;
};

extern ControlPort* gpControlIO;
