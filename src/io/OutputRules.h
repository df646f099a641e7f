#pragma once
// The cycle's output rules as pure functions: the machine mode, the switches
// and the moment of the cycle in; which logical outputs to set and to clear,
// and which pulse timers to start, out. They know nothing of the cycle's
// state. The cycle applies every change through one function that clears
// output 1 (clamp permission) only while the station can vouch for the mould,
// so no rule here can allow clamping on its own.
class WizardPara;

namespace outputrules {

// Output k counted from 1, as bit k-1 of a logical word.
constexpr int out(int k) { return 1 << (k - 1); }

struct Change {
    int set = 0;    // logical outputs to set
    int clear = 0;  // logical outputs to clear
    bool clampPulse = false, ngPulse = false, thimblePulse = false;
    Change& on(int k, bool yes = true)
    {
        if (yes) {
            set |= out(k);
            clear &= ~out(k);
        }
        return *this;
    }
    Change& off(int k, bool yes = true)
    {
        if (yes) {
            clear |= out(k);
            set &= ~out(k);
        }
        return *this;
    }
    Change& to(int k, bool value) { return value ? on(k) : off(k); }
    Change& operator+=(const Change& o);
    bool operator==(const Change& o) const
    {
        return set == o.set && clear == o.clear && clampPulse == o.clampPulse && ngPulse == o.ngPulse &&
               thimblePulse == o.thimblePulse;
    }
};

// Detection roles in modes 0 to 3.
enum Role { Product = 0, Mould = 1 };

// StartDetect: a start is not a verdict.
Change start(const WizardPara& p);
// The logical word when the station is gone or its tick stopped: every output
// held now (heldNow, logical) with clamping prohibited, a start's ejector rule
// and the alarm on; in OK/NG pulse mode an NG's verdict lines instead.
int lastWord(const WizardPara& p, int heldNow);
// StopDetect, before the guards for a lost camera or link.
Change stop(const WizardPara& p);
// A new cycle opened by input k (0-based) in modes 0 to 3; productPending:
// the product detection is to be judged in it.
Change cycleStart(const WizardPara& p, int k, bool productPending);
// The mould detection armed again by its own input (modes 0 to 3).
Change rearm(const WizardPara& p);
// One camera's NG (not in OK/NG pulse mode): detection d of the given role;
// budget: automatic re-detections are left.
Change cameraNg(const WizardPara& p, int d, int role, bool budget);
// The verdict of a detection in OK/NG pulse mode.
Change pulseVerdict(const WizardPara& p, bool ng);
// The verdict of a detection in modes 0 to 3 (not pulse mode); vouches: it
// judged regions and no retraining is pending.
Change verdict(const WizardPara& p, int role, bool ng, bool vouches);
// The outputs and pulses after that verdict, once the alarm is decided;
// cavityNg: NG seen in cavities 1..4.
Change afterVerdict(const WizardPara& p, int role, bool ng, const bool cavityNg[4]);
// The verdict of detection d in multi-detection mode; outputNo from 1, kind
// of the detection's output group (2 when it has none).
Change multiVerdict(bool ng, int outputNo, int kind, bool vouches);
// Before an automatic re-detection, and before the alarm page's.
Change recheck(const WizardPara& p, bool mould, bool product, bool budget);
Change redetect(const WizardPara& p, bool mould, bool product);
// Entering the alarm: the mould shut, in every mode.
Change alarmEntry();
// The alarm cleared by a product verdict (modes 0 to 3) or in mode 4.
Change alarmCleared(int mode, int role);
// A manual snapshot that ended in the alarm; outputNo: the detection's output
// in mode 4.
Change manualAlarm(const WizardPara& p, int outputNo);
// An alarm brought back by a restart, of the given role (modes 0 to 3).
Change restoredAlarm(const WizardPara& p, int role);
// Leaving the region editor after resampling: no verdict, the open mould is
// judged again on the new templates.
Change backFromEditor(const WizardPara& p);
// The output of detection d (0-based) of count in mode 4, from 1: the last
// detection drives the clamp.
int multiOutputNo(int d, int count);
// Mode 4, a cycle opened for detection target: the outputs its group's kind
// prohibits in advance.
Change multiPreset(const WizardPara& p, int target, int count);
// The pulse timers running out; stopped: detection is stopped.
Change clampPulseEnd(const WizardPara& p, bool stopped);
Change thimblePulseEnd(const WizardPara& p, bool stopped);
Change ngPulseEnd(const WizardPara& p);
// The board holds another word than the one sent (fault), or follows again.
Change outputFault(bool fault, bool inAlarm);
// The insert-wear warning shown, or seen by the operator (the alarm lamp stays
// in the alarm).
Change wearWarning(bool shown, bool inAlarm);
// Clamping prohibited whatever else holds: in OK/NG pulse mode, where output 1
// may be the OK line, the NG's lines instead.
Change prohibit(const WizardPara& p);
// A trigger skipped at the operator's request: clamping allowed (modes 0 to 3
// and 4 alike), unless output 1 is a verdict pulse.
Change skipped(const WizardPara& p);

} // namespace outputrules
