#include "WizardPara.h"

#include "Messages.h"
#include "ParamDb.h"

#include <QFile>
#include <QSaveFile>
#include <QTextStream>
#include <QtDebug>
#include <cstring>

int gDNum = 2;
WizardPara* gpWPara = nullptr;
WizardPara* gpWParaBak = nullptr;

std::function<void(int, int)> WizardPara::retrainHook;
std::function<void()> WizardPara::savedHook;

namespace {

const char* kTable = "sysparam";

// Inserted when missing; the fields keep their start values until the next load.
const char* kDefaultRows[][2] = {
    {"system7", "0 0 0 0 0 0 1 0 0 0 0 0 0 0 0 0 0 0 0 0"},
    {"system8", "0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0"},
    {"system9", "0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0"},
    {"system10", "0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0"},
    {"system11", "0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0"},
    {"system12", "0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0"},
};

// Load corrections compare unsigned, so an upper bound also catches negatives.
inline void capAbove(int& v, unsigned max, int repl)
{
    if (static_cast<unsigned>(v) > max)
        v = repl;
}
inline void keepIn(int& v, int lo, int hi, int repl)
{
    if (v < lo || v > hi)
        v = repl;
}

// Message numbers of the fixed input and output name lists.
constexpr int kInputNames = 1250;   // 16 names
constexpr int kOutputNames = 1270;  // 14 names
constexpr int kAlarmName = 152;

} // namespace

bool SetParaText(char* buf, const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    if (bytes.size() > kTextLen - 1)
        return false;
    std::memset(buf, 0, kTextLen);
    std::memcpy(buf, bytes.constData(), bytes.size());
    return true;
}

QString ParaText(const char* buf)
{
    const int len = static_cast<int>(strnlen(buf, kTextLen));
    const QByteArrayView bytes(buf, len);
    // Text is kept as UTF-8; bytes that are not UTF-8 can only be an older
    // 8-bit text and read as Latin-1.
    const QString text = QString::fromUtf8(bytes);
    if (text.toUtf8() == bytes)
        return text;
    return QString::fromLatin1(bytes);
}

WizardPara::WizardPara()
{
    for (int i = 0; i < kMaxDetections; ++i)
        detect_trig_input[i] = 0;
    detect_enable[1] = 1;
}

QList<WizardPara::Binding> WizardPara::bindings()
{
    auto cams = [](int* a, int from, int n) {
        QList<int*> l;
        for (int i = from; i < from + n; ++i)
            l << &a[i];
        return l;
    };
    QList<Binding> b;
    b.append({"trigInDelay", {&finished_product_detect, &cavity_detect, &neutron_detect, &fourth_detect,
                              &fifth_detect, &sixth_detect, &seventh_detect, &eighth_detect}});
    b.append({"exposeTime", cams(expose_time, 0, 4)});
    b.append({"adjustPlus", cams(adjust_plus, 0, 4)});
    b.append({"numFailDetect", {&machine_mode, &mold_side, &auto_expose, &auto_wdr, &save_ok_record,
                                &enable_black_area, &enable_white_area, &enable_similarity}});
    b.append({"numAllDetect", cams(gamma, 0, 8)});
    b.append({"isPswUsed", {&is_psw_used}});
    b.append({"password", {}, password});
    b.append({"system1", {&semi_auto, &enable_prod_detect, &enabe_two_test, &enable_correct, &enable_stop_mold,
                          &pre_cut_time, &front_auto_check_time, &ok_record_max_num, &enable_auto_area}});
    b.append({"system2", {&mold_cutoff, &max_mold_num, &min_spot, &ng_max_num, &thimble_pulse, &mold_pulse,
                          &enable_stop_not_alarm, &is_cut_ontime, &enable_cutoff_ontime, &enable_pass_protect,
                          &enable_template_pass_protect, &enable_ignore_pass_protect, &gLan, &enable_mold_backup,
                          &location_adge, &location_level, &capture_speed, &input_timeout_len}});
    b.append({"system3", {&enable_output_thimble_pulse, &enable_disarm_before_open, &difference_multiplier,
                          &enable_defect_detect, &enable_spot_detect, &enable_ignore_area, &enable_manual_edit,
                          &enable_display_detail, &auto_cancel_timelen, &enable_one_not_mold,
                          &enable_trigger_safety}});
    b.append({"system4", {&enable_template_auto_update, &local_addr_1, &local_addr_2, &local_addr_3,
                          &local_addr_4, &mask_1, &mask_2, &mask_3, &mask_4, &gateway_1, &gateway_2,
                          &gateway_3, &gateway_4, &minimum_size, &minimum_area}});
    b.append({"sharp", cams(sharp, 0, 4)});
    b.append({"contrast", cams(contrast, 0, 4)});
    b.append({"system5", {&expose_time[4], &expose_time[5], &adjust_plus[4], &adjust_plus[5], &sharp[4],
                          &sharp[5], &contrast[4], &contrast[5], &enable_ok_ng_pulse, &match_angle,
                          &enable_cut_thimble_on_alarm, &use_external_trigger, &enable_cut_clamp_on_alarm}});
    b.append({"system6", {&expose_time[6], &expose_time[7], &adjust_plus[6], &adjust_plus[7], &sharp[6],
                          &sharp[7], &contrast[6], &contrast[7], &shake_erase_time, &enable_statistics,
                          &hide_ng_number, &enable_stop_pass_protect}});
    b.append({"system7", {&serial_port, &enable_color_camera, &enable_gray_channel, &snap_shot, &out_invert[0],
                          &out_invert[1], &out_invert[2], &prohibit_optimize, &out_invert[3], &factory_param,
                          &enable_ng_image, &reserved_sys7_12, &enable_show_roi, &enable_show_mold_no,
                          &out_invert[4], &out_invert[5], &out_invert[6], &out_invert[7], &out_invert[8],
                          &enable_white_number}});
    QList<int*> s8{&multi_detect_num};
    s8 << cams(multi_row_input, 0, 8) << cams(multi_detect_row_b, 0, 8);
    s8 << &is_cut_ontime_thimble << &enable_log << &enable_direction;
    b.append({"system8", s8});
    QList<int*> s9 = cams(multi_detect_row, 0, 8);
    s9 << &timing_alarm << &skip_detect_times << &enable_skip_detect << &separate_detect_signal
       << &enable_distance << &enable_stop_mold << &enable_prod_ok_ng_output << &roi_ng_warn_count
       << &reserved_sys9 << &reserved_sys9 << &reserved_sys9 << &reserved_sys9;
    b.append({"system9", s9});
    QList<int*> s10 = cams(multi_in_name, 0, 8);
    s10 << cams(multi_out_name, 0, 8) << &reserved_sys10_17 << &enable_mold_stop_not_alarm
        << &enable_image_adjust << &enable_stop_thimble;
    b.append({"system10", s10});
    QList<int*> s11 = cams(reserved_sys11_a, 0, 8);
    s11 << cams(reserved_sys11_b, 0, 8) << &enable_camera_lost_alarm << &enable_io_lost_tip << &multi_io_flag
        << &tick_limit;
    b.append({"system11", s11});
    QList<int*> s12 = cams(h_mirror, 0, 8);
    s12 << cams(v_mirror, 0, 8) << &enable_ok_ng_pulse_mold << &show_capture_mode_button
        << &ng_switch_continuous << &continuous_timed_detect << &enable_detect_cycle;
    b.append({"system12", s12});
    b.append({"CntNet", {&enable_cnt_net, &cnt_video_source, &cnt_video_rate, &cnt_ng_video, &cnt_tel_msg,
                         &cnt_cavities, &cnt_products_num, &cnt_product_serial}});
    b.append({"CntNet_UseName", {}, cnt_use_name});
    b.append({"CntNet_MsgTechName", {}, cnt_msg_tech_name});
    b.append({"CntNet_MsgTechNum", {}, cnt_msg_tech_num});
    b.append({"CntNet_ProName", {}, cnt_pro_name});
    b.append({"CntNet_Operator", {}, cnt_operator});
    return b;
}

const QStringList& WizardPara::saveOrder()
{
    static const QStringList order{
        "trigInDelay", "exposeTime", "sharp", "contrast", "adjustPlus", "numFailDetect", "numAllDetect",
        "isPswUsed", "password", "system1", "system2", "system3", "system4", "system5", "system6",
        "system7", "system8", "system9", "system10", "system11", "system12",
        "CntNet", "CntNet_UseName", "CntNet_MsgTechName", "CntNet_MsgTechNum", "CntNet_ProName",
        "CntNet_Operator"};
    return order;
}

void WizardPara::LoadDatafromFile()
{
    // Parameter-group index.
    para_group_index = 0;
    QFile add("sysadd.txt");
    if (add.open(QIODevice::ReadOnly | QIODevice::Text)) {
        QTextStream in(&add);
        in >> para_group_index;
    } else if (!paramdb::readOnly()) {
        SaveAddFile();
    }

    const QSqlDatabase db = paramdb::paramDb();
    for (Binding& b : bindings()) {
        QString value;
        if (!paramdb::readValue(db, kTable, b.key, &value)) {
            for (const auto& row : kDefaultRows) {
                if (qstrcmp(row[0], b.key) == 0)
                    paramdb::ensureKey(db, kTable, row[0], row[1]);
            }
            continue;
        }
        if (b.text) {
            if (!SetParaText(b.text, value))
                qWarning() << "parameter" << b.key << "is longer than 99 bytes and was not taken";
            continue;
        }
        const QList<int> v = paramdb::parseInts(value, b.ints.size());
        for (int i = 0; i < b.ints.size(); ++i)
            *b.ints[i] = v[i];
    }

    applyCorrections();
    DeriveDetections();
    LoadSignalNames();
    loadSerials();
}

void WizardPara::applyCorrections()
{
    for (int c = 0; c < kMaxCameras; ++c) {
        capAbove(expose_time[c], 10000, 30);
        capAbove(adjust_plus[c], 10000, 32);
        capAbove(sharp[c], 10000, 0);
        keepIn(contrast[c], 1, 10000, 100);
        keepIn(gamma[c], 1, 10000, 100);
    }
    // Modes run 0..4; anything else would leave the detections undefined.
    capAbove(machine_mode, 4, 0);
    pending_machine_mode = machine_mode;
    if (enable_correct != 0 && enable_correct != -1)
        enable_correct = -1;
    capAbove(pre_cut_time, 10000, 0);
    capAbove(front_auto_check_time, 10000, 0);
    capAbove(ok_record_max_num, 2000, 0);
    keepIn(max_mold_num, 1, 100, 10);
    keepIn(min_spot, 1, 100, 3);
    capAbove(ng_max_num, 2000, 0);
    capAbove(thimble_pulse, 10000, 0);
    capAbove(mold_pulse, 10000, 0);
    capAbove(gLan, 2, 0);
    keepIn(location_adge, 1, 8000, 8000);
    if (location_level != 0 && (location_level < 30 || location_level > 9999))
        location_level = 600;
    capAbove(capture_speed, 100, 12);
    capAbove(input_timeout_len, 100000000, 60);
    capAbove(difference_multiplier, 4, 0);
    capAbove(auto_cancel_timelen, 10000, 0);
    keepIn(minimum_size, 1, 100, 3);
    keepIn(minimum_area, 1, 100000, 100);
    capAbove(match_angle, 180, 0);
    capAbove(serial_port, 100, 0);
    keepIn(multi_detect_num, 2, 8, 2);
    keepIn(skip_detect_times, 1, 100, 0);
    capAbove(reserved_sys9, 100000000, 0);

    if (!enable_defect_detect && !enable_spot_detect && !enable_black_area && !enable_white_area &&
        !enable_similarity && !enable_white_number && !enable_direction && !enable_distance)
        enable_defect_detect = 1;
}

void WizardPara::DeriveDetections()
{
    for (int j = 0; j < kMaxDetections; ++j) {
        detect_enable[j] = 0;
        detect_trig_input[j] = -1;
    }
    switch (machine_mode) {
    case 1:
    case 2: {
        gDNum = 4;
        io_count = 4;
        capAbove(mold_side, 3, 0);
        const bool turntable = machine_mode == 2;
        if (mold_side == 0) {
            detect_enable[1] = 1;
            detect_enable[0] = enable_prod_detect;
            left_side_active = true;
        } else if (mold_side == 1) {
            detect_enable[3] = 1;
            detect_enable[2] = enable_prod_detect;
            left_side_active = false;
        } else {
            detect_enable[1] = detect_enable[3] = 1;
            detect_enable[0] = detect_enable[2] = enable_prod_detect;
            left_side_active = true;
        }
        const int side = mold_side >= 2 ? 2 : mold_side;
        static const int twoColor[3][2] = {{0, 2}, {0, 3}, {0, 255}};
        static const int turn[3] = {0, 3, 255};
        if (turntable) {
            detect_trig_input[0] = turn[side];
            detect_trig_input[1] = semi_auto ? 2 : turn[side];
        } else {
            detect_trig_input[0] = twoColor[side][0];
            detect_trig_input[1] = twoColor[side][1];
        }
        break;
    }
    case 4: {
        static const int inputs[8] = {1, 3, 4, 5, 6, 7, 8, 9};
        gDNum = multi_detect_num;
        io_count = multi_detect_num;
        for (int j = 0; j < kMaxDetections; ++j) {
            const int row = multi_detect_row[j];
            detect_row[j] = row;
            // A row or input choice outside the table disables the detection
            // instead of reading beyond it.
            const bool rowOk = row >= 0 && row < 8 && multi_row_input[row] >= 0 && multi_row_input[row] < 8;
            const bool on = j < multi_detect_num && row != -1 && rowOk && (j > 0 || enable_prod_detect);
            detect_enable[j] = on ? 1 : 0;
            detect_trig_input[j] = on ? inputs[multi_row_input[row]] - 1 : -1;
        }
        if (retrainHook) {
            for (int c = 0; c < kMaxCameras; ++c)
                for (int j = 0; j < kMaxDetections; ++j)
                    if (detect_enable[j])
                        retrainHook(c, j);
        }
        break;
    }
    default:  // 0 Standard, 3 Auto parts
        gDNum = 2;
        io_count = 4;
        detect_enable[1] = 1;
        detect_enable[0] = enable_prod_detect ? 1 : 0;
        detect_trig_input[0] = 0;
        // Input 3 triggers the mould in semi-automatic mode, and with the separate
        // signal (Standard mode), where input 3 governs the clamp.
        detect_trig_input[1] = semi_auto || (machine_mode == 0 && separate_detect_signal) ? 2 : 0;
        for (int k = 4; k <= 7; ++k)
            out_invert[k] = (enable_stop_not_alarm || enable_prod_ok_ng_output) ? 0 : 1;
        break;
    }
}

void WizardPara::ApplyPendingMode()
{
    if (pending_machine_mode == machine_mode)
        return;
    if (pending_machine_mode == 4 || machine_mode == 4)
        return;  // into or out of mode 4 takes effect at the next start
    machine_mode = pending_machine_mode;
    DeriveDetections();
}

void WizardPara::LoadSignalNames()
{
    const QStringList defaults = defaultSignalNames();
    // A name of its own for a signal, or an empty line: that signal's name in the
    // current language and machine mode.
    QFile f("name.txt");
    QTextStream in(&f);
    const bool own = f.open(QIODevice::ReadOnly | QIODevice::Text);
    for (int i = 0; i < 8; ++i) {
        const QString line = own && !in.atEnd() ? in.readLine().trimmed() : QString();
        signal_names[i] = line.isEmpty() ? defaults[i] : line;
    }
}

QStringList WizardPara::defaultSignalNames() const
{
    // Inputs 1..4, then outputs 1..4.
    int in[4], out[4];
    switch (machine_mode) {
    case 1:  // Two-color: second mould side on input 4
        in[0] = 0; in[1] = 1; in[2] = 4; in[3] = 12;
        out[0] = 0; out[1] = 1; out[2] = 8; out[3] = 9;
        break;
    case 2:  // Turntable
        in[0] = 0; in[1] = 1; in[2] = 4; in[3] = 5;
        out[0] = 0; out[1] = 1; out[2] = 9; out[3] = 12;
        break;
    case 4:
        for (int i = 0; i < 4; ++i) {
            in[i] = qBound(0, multi_in_name[i], 15);
            out[i] = qBound(0, multi_out_name[i], 13);
        }
        break;
    default:
        in[0] = 0; in[1] = 1; in[2] = 4; in[3] = 7;
        out[0] = 0; out[1] = 1; out[2] = 8; out[3] = 13;
        break;
    }
    QStringList names;
    for (int i = 0; i < 4; ++i)
        names << LanStr(kInputNames + in[i]);
    for (int i = 0; i < 4; ++i)
        names << LanStr(kOutputNames + out[i]);
    // Outside mode 4, output 3 is the alarm whatever the list would call it.
    if (machine_mode != 4)
        names[6] = LanStr(kAlarmName);
    return names;
}

void WizardPara::loadSerials()
{
    const QSqlDatabase db = paramdb::serialDb();
    serialCount = 0;
    for (int i = 0; i < kMaxCameras; ++i) {
        const QString key = QStringLiteral("serialNB%1").arg(i);
        QString value;
        if (!paramdb::readValue(db, kTable, key, &value)) {
            paramdb::ensureKey(db, kTable, key, "0");
            SetParaText(serialNB[i], "0");
            continue;
        }
        const QByteArray bytes = value.toUtf8();
        if (bytes.size() >= 9 && bytes.size() <= 99) {
            SetParaText(serialNB[i], value);
            ++serialCount;
        }
    }
}

bool WizardPara::SaveChkDBItem(const QString& name)
{
    return paramdb::ensureKey(paramdb::paramDb(), kTable, name, "0");
}

QList<QPair<QString, QString>> WizardPara::storedRows()
{
    QHash<QString, QString> values;
    for (const Binding& b : bindings()) {
        if (b.text) {
            values.insert(b.key, ParaText(b.text));
            continue;
        }
        QList<int> v;
        for (int* p : b.ints)
            v << (p == &use_external_trigger && freeRunningForAlarm ? 1 : *p);
        if (qstrcmp(b.key, "numFailDetect") == 0)
            v[0] = pending_machine_mode;
        values.insert(b.key, paramdb::joinInts(v));
    }
    QList<QPair<QString, QString>> rows;
    for (const QString& key : saveOrder())
        rows.append({key, values.value(key)});
    return rows;
}

bool WizardPara::SaveDatatoFile()
{
    // Every key is created first, so a file from an older station gains its
    // missing rows instead of dropping the operator's values.
    const bool ok = paramdb::writeValues(paramdb::paramDb(), kTable, storedRows(), true);
    if (ok && savedHook)
        savedHook();
    return ok;
}

bool WizardPara::SaveAddFile()
{
    QSaveFile f("sysadd.txt");
    if (!f.open(QIODevice::WriteOnly | QIODevice::Text))
        return false;
    f.write(QByteArray::number(para_group_index) + '\n');
    return f.commit();
}
