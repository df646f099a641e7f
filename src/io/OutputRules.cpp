#include "OutputRules.h"

#include "WizardPara.h"

namespace outputrules {

Change& Change::operator+=(const Change& o)
{
    set = (set & ~o.clear) | o.set;
    clear = (clear & ~o.set) | o.clear;
    clampPulse = clampPulse || o.clampPulse;
    ngPulse = ngPulse || o.ngPulse;
    thimblePulse = thimblePulse || o.thimblePulse;
    return *this;
}

namespace {
constexpr int kAll = (1 << 9) - 1;
// The product detection's NG neither stops nor touches the ejector.
bool productNgPulses(const WizardPara& p) { return p.enable_stop_not_alarm || p.enable_prod_ok_ng_output; }
} // namespace

Change start(const WizardPara& p)
{
    Change c;
    c.clear = kAll;
    // In OK/NG pulse mode output 1 is a verdict pulse and idles cleared.
    c.on(1, !p.enable_ok_ng_pulse);
    c.on(2, p.mold_cutoff || p.is_cut_ontime_thimble);
    return c;
}

int lastWord(const WizardPara& p, int heldNow)
{
    // In OK/NG pulse mode outputs 1 and 2 are verdict lines: the word is an NG's.
    if (p.enable_ok_ng_pulse) {
        Change c = pulseVerdict(p, true);
        return (heldNow & ~(out(1) | out(2))) | c.set;
    }
    // Otherwise every prohibition held now stays, with a start's and the alarm on top.
    return heldNow | start(p).set | out(1) | out(3);
}

Change stop(const WizardPara& p)
{
    Change c;
    c.clear = kAll;
    c.on(1, p.enable_stop_mold != 0);
    c.on(2, p.enable_stop_thimble != 0);
    return c;
}

Change cycleStart(const WizardPara& p, int k, bool productPending)
{
    Change c;
    const bool separate = p.separate_detect_signal && p.machine_mode == 0;
    // An opening ends the last verdict's permission, whatever pre-cut, "cut clamp
    // on alarm" or the separate signal would leave: the mould may hold a part now.
    // Only where output 1 is a stop pulse does it idle clear.
    c.on(1, !p.enable_mold_stop_not_alarm);
    if ((!separate || k == 0) && productPending) {
        if (p.enable_stop_not_alarm || p.enable_cut_thimble_on_alarm || p.enable_prod_ok_ng_output) {
            c.off(2);
            for (int o = 5; o <= 8; ++o)
                c.off(o);
        } else if (!p.enable_cutoff_ontime) {
            c.on(2);
        }
    }
    return c;
}

Change rearm(const WizardPara& p)
{
    Change c;
    c.on(1, !(p.enable_ok_ng_pulse || p.enable_mold_stop_not_alarm));
    return c;
}

Change cameraNg(const WizardPara& p, int d, int role, bool budget)
{
    Change c;
    if (p.enable_ok_ng_pulse)
        return c;
    if (p.machine_mode == 4) {
        c.on(3, d != 0 || !productNgPulses(p));
    } else if (role == Product) {
        if (!(p.enable_cutoff_ontime || productNgPulses(p))) {
            c.on(2);
            c.on(1, !(p.pre_cut_time || p.enable_cut_clamp_on_alarm || p.separate_detect_signal));
        }
        c.on(3, !productNgPulses(p) && !budget);
    } else if (!p.enable_mold_stop_not_alarm && !(p.pre_cut_time && budget)) {
        c.on(1);
        c.on(3, !budget);
    }
    return c;
}

Change pulseVerdict(const WizardPara& p, bool ng)
{
    const bool mp = p.enable_ok_ng_pulse_mold != 0;
    Change c;
    c.to(1, ng ? !mp : mp).to(2, ng ? mp : !mp).to(3, ng);
    c.clampPulse = p.mold_pulse >= 1;
    return c;
}

Change verdict(const WizardPara& p, int role, bool ng, bool vouches)
{
    Change c;
    if (!ng) {
        c.off(1, role == Mould && vouches);
        c.off(2, role == Product && !(p.enable_cutoff_ontime || p.enable_prod_ok_ng_output));
    }
    return c;
}

Change afterVerdict(const WizardPara& p, int role, bool ng, const bool cavityNg[4])
{
    Change c;
    if (role == Mould && !ng && p.enable_prod_detect && p.mold_cutoff &&
        !(p.enable_cutoff_ontime || productNgPulses(p)))
        c.on(2);
    if (role == Product && productNgPulses(p)) {
        if (p.enable_prod_ok_ng_output) {
            c.to(5, cavityNg[0]).to(6, !cavityNg[0]).to(7, cavityNg[1]).to(8, !cavityNg[1]);
            c.ngPulse = true;
        }
        if (ng) {
            if (p.enable_stop_not_alarm)
                for (int i = 0; i < 4; ++i)
                    c.on(5 + i, cavityNg[i]);
            c.on(2, !p.enable_cutoff_ontime);
            c.ngPulse = true;
        }
    }
    if (role == Mould && ng && p.enable_mold_stop_not_alarm) {
        c.on(1);
        c.clampPulse = true;
    }
    if (role == Mould && !ng && p.is_cut_ontime)
        c.clampPulse = true;
    if (role == Product && !ng && p.is_cut_ontime_thimble)
        c.thimblePulse = true;
    c.clampPulse = c.clampPulse && p.mold_pulse >= 1;
    c.ngPulse = c.ngPulse && p.thimble_pulse > 0;
    c.thimblePulse = c.thimblePulse && p.thimble_pulse > 0;
    return c;
}

Change multiVerdict(bool ng, int outputNo, int kind, bool vouches)
{
    Change c;
    if (!ng)
        c.off(outputNo, vouches);
    else
        c.on(outputNo, kind == 5);
    return c;
}

Change recheck(const WizardPara& p, bool mould, bool product, bool budget)
{
    Change c;
    c.on(1, mould && !((p.pre_cut_time && budget) || productNgPulses(p)));
    c.on(2, product && !(p.enable_cutoff_ontime || productNgPulses(p)));
    return c;
}

Change redetect(const WizardPara& p, bool mould, bool product)
{
    Change c;
    c.on(1, mould && !(p.enable_cut_clamp_on_alarm || p.enable_mold_stop_not_alarm));
    c.on(2, product && !(p.enable_cutoff_ontime || p.enable_cut_thimble_on_alarm || p.enable_prod_ok_ng_output));
    return c;
}

Change alarmEntry()
{
    // The alarm lamp is the camera NG's rule (output 3); the mould stays shut in every mode.
    Change c;
    c.on(1);
    return c;
}

Change alarmCleared(int mode, int role)
{
    Change c;
    c.off(3);
    c.off(2, mode != 4 && role == Product);
    return c;
}

Change manualAlarm(const WizardPara& p, int outputNo)
{
    Change c;
    if (p.machine_mode == 4)
        return c.on(outputNo);
    if (p.enable_ok_ng_pulse)
        return c;
    c.on(2, p.enable_mold_stop_not_alarm && !(p.enable_cutoff_ontime || productNgPulses(p)));
    return c.on(1);
}

Change restoredAlarm(const WizardPara& p, int role)
{
    Change c;
    c.on(2, p.machine_mode != 4 && role == Product && !(p.enable_cutoff_ontime || productNgPulses(p)));
    return c.on(3) += alarmEntry();
}

Change backFromEditor(const WizardPara& p)
{
    Change c;
    if (p.enable_ok_ng_pulse)
        return c;
    // Not a verdict: the mould may have changed while the regions were edited.
    c.on(1);
    c.on(2, (p.machine_mode == 0 || p.machine_mode == 3) && p.mold_cutoff && p.enable_prod_detect &&
                !(p.enable_cutoff_ontime || p.enable_prod_ok_ng_output));
    return c;
}

int multiOutputNo(int d, int count)
{
    static const int table[8] = {2, 4, 5, 6, 7, 8, 9, 1};
    if (d == count - 1)
        return table[7];
    return d >= 0 && d < 8 ? table[d] : 1;
}

Change multiPreset(const WizardPara& p, int target, int count)
{
    auto group = [&](int d) { return d >= 0 && d < 8 ? p.multi_detect_row_b[d] : -1; };
    const int g = group(target);
    const int kind = g >= 0 && g < 8 ? p.reserved_sys11_a[g] : 2;
    Change c;
    for (int j = target; j < count; ++j) {
        const bool inKind = ((kind == 0 || kind == 4) && group(j) != -1) || ((kind == 1 || kind == 3) && group(j) == g);
        c.on(multiOutputNo(j, count), inKind && (j != 0 || p.enable_prod_detect));
    }
    return c;
}

Change clampPulseEnd(const WizardPara& p, bool stopped)
{
    Change c;
    if (p.enable_ok_ng_pulse)
        return c.off(1).off(2).off(3);
    if (p.enable_mold_stop_not_alarm)
        return c.off(1);
    return c.on(1, !stopped);
}

Change thimblePulseEnd(const WizardPara& p, bool stopped)
{
    Change c;
    if (p.enable_ok_ng_pulse)
        return c.off(1).off(2);
    return c.on(2, !stopped);
}

Change ngPulseEnd(const WizardPara& p)
{
    Change c;
    c.off(2, !p.enable_cutoff_ontime);
    for (int o = 5; o <= 8; ++o)
        c.off(o);
    return c;
}

Change outputFault(bool fault, bool inAlarm)
{
    Change c;
    c.on(1);
    return fault ? c.on(3) : c.off(3, !inAlarm);
}

Change wearWarning(bool shown, bool inAlarm)
{
    Change c;
    c.on(1);
    return shown ? c.on(3) : c.off(3, !inAlarm);
}

Change prohibit(const WizardPara& p)
{
    if (!p.enable_ok_ng_pulse)
        return Change().on(1);
    Change c = pulseVerdict(p, true);
    c.clampPulse = false;
    // The lines only: the alarm is the cause's to switch.
    c.set &= ~out(3);
    c.clear &= ~out(3);
    return c;
}

Change skipped(const WizardPara& p)
{
    Change c;
    return c.off(1, !p.enable_ok_ng_pulse);
}

} // namespace outputrules
