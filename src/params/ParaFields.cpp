#include "ParaFields.h"

#include "Messages.h"

#include <QHash>
#include <cstring>

namespace parafields {
namespace {

#define REF(expr) [](WizardPara& p) -> int& { return p.expr; }

Field make(const QString& name, Page page, Kind kind, int label, IntRef ref)
{
    Field f;
    f.name = name;
    f.page = page;
    f.kind = kind;
    f.label = label;
    f.ref = std::move(ref);
    return f;
}
Field check(const char* name, Page page, int label, IntRef ref) { return make(name, page, Kind::Check, label, std::move(ref)); }
Field number(const char* name, Page page, int label, IntRef ref, int lo, int hi)
{
    Field f = make(name, page, Kind::Number, label, std::move(ref));
    f.lo = lo;
    f.hi = hi;
    return f;
}
Field choice(const QString& name, Page page, int label, IntRef ref, std::function<QStringList()> items, int offset = 0)
{
    Field f = make(name, page, Kind::Choice, label, std::move(ref));
    f.items = std::move(items);
    f.offset = offset;
    return f;
}
Field stored(const char* name, int label, IntRef ref) { return make(name, Common, Kind::Stored, label, std::move(ref)); }
Field text(const char* name, Page page, int label, std::function<char*(WizardPara&)> buf)
{
    Field f = make(name, page, Kind::Text, label, {});
    f.text = std::move(buf);
    return f;
}
Field address(const char* name, int label, QList<IntRef> octets)
{
    Field f = make(name, Network, Kind::Address, label, {});
    f.octets = std::move(octets);
    return f;
}

std::function<QStringList()> messages(int first, int count)
{
    return [first, count] {
        QStringList l;
        for (int i = 0; i < count; ++i)
            l << LanStr(first + i);
        return l;
    };
}
std::function<QStringList()> messageList(QList<int> numbers)
{
    return [numbers] {
        QStringList l;
        for (int n : numbers)
            l << LanStr(n);
        return l;
    };
}
// "None" and then message m with 1..8.
std::function<QStringList()> noneAndNumbered(int m)
{
    return [m] {
        QStringList l{LanStr(1860)};
        for (int i = 1; i <= 8; ++i)
            l << LanStr(m).arg(i);
        return l;
    };
}

int mode(const WizardPara& p) { return p.pending_machine_mode; }
bool inModes(const WizardPara& p, std::initializer_list<int> modes)
{
    for (int m : modes)
        if (mode(p) == m)
            return true;
    return false;
}
// Mode-4 rows and detections beyond the count in use are hidden.
Applies multiUpTo(int index) { return [index](const WizardPara& p) { return mode(p) == 4 && index < p.multi_detect_num; }; }

QList<Field> build()
{
    QList<Field> t;
    // --- common: machine, pulses, pictures, display ---
    t << choice("machine_mode", Common, 1690, REF(pending_machine_mode), messages(1200, 5));
    t << choice("mold_side", Common, 1691, REF(mold_side), messages(1205, 3))
             .when([](const WizardPara& p) { return inModes(p, {1, 2}); });
    t << check("semi_auto", Common, 1161, REF(semi_auto)).when([](const WizardPara& p) { return inModes(p, {0, 2, 3}); });
    t << check("enable_prod_detect", Common, 1711, REF(enable_prod_detect));
    t << check("enabe_two_test", Common, 1169, REF(enabe_two_test));
    t << number("finished_product_detect", Common, 1801, REF(finished_product_detect), 0, 10000);
    t << number("cavity_detect", Common, 1802, REF(cavity_detect), 0, 10000);
    t << number("thimble_pulse", Common, 1125, REF(thimble_pulse), 0, 1000);
    t << number("mold_pulse", Common, 1108, REF(mold_pulse), 0, 1000);
    t << number("pre_cut_time", Common, 1157, REF(pre_cut_time), 0, 100);
    t << number("front_auto_check_time", Common, 1800, REF(front_auto_check_time), 0, 10);
    t << number("max_mold_num", Common, 1166, REF(max_mold_num), 1, 100).restartNote(1015);
    t << number("ng_max_num", Common, 1147, REF(ng_max_num), 0, 2000).restartNote(1015);
    t << number("ok_record_max_num", Common, 1150, REF(ok_record_max_num), 0, 2000).restartNote(1015);
    t << check("save_ok_record", Common, 1159, REF(save_ok_record));
    t << check("enable_ng_image", Common, 1146, REF(enable_ng_image));
    t << number("location_level", Common, 1160, REF(location_level), 30, 9999);
    t << number("auto_cancel_timelen", Common, 1100, REF(auto_cancel_timelen), 0, 1000);
    t << number("input_timeout_len", Common, 1140, REF(input_timeout_len), 0, 10000).showDetail();
    t << check("enable_statistics", Common, 1132, REF(enable_statistics));
    t << check("enable_detect_cycle", Common, 1803, REF(enable_detect_cycle));
    t << check("hide_ng_number", Common, 1124, REF(hide_ng_number));
    t << check("enable_show_roi", Common, 1175, REF(enable_show_roi));
    t << check("enable_show_mold_no", Common, 1173, REF(enable_show_mold_no));
    t << check("snap_shot", Common, 1120, REF(snap_shot));
    t << check("show_capture_mode_button", Common, 1121, REF(show_capture_mode_button));
    t << check("enable_skip_detect", Common, 1177, REF(enable_skip_detect));
    t << number("skip_detect_times", Common, 1148, REF(skip_detect_times), 0, 100);
    t << check("enable_log", Common, 1171, REF(enable_log)).showDetail();

    // --- camera: per camera, then for all ---
    for (int c = 0; c < kMaxCameras; ++c) {
        auto cam = [&](Field f, Setter s) {
            f.name += QString::number(c);
            f.camera = c;
            f.arg = c + 1;
            f.setter = s;
            t << f;
        };
        Field e = number("expose_time", Camera, 1693, [c](WizardPara& p) -> int& { return p.expose_time[c]; }, 1, 100);
        e.recordMessage = 1013;
        cam(e, Setter::Expose);
        cam(number("adjust_plus", Camera, 1694, [c](WizardPara& p) -> int& { return p.adjust_plus[c]; }, 0, 64), Setter::Gain);
        cam(number("sharp", Camera, 1109, [c](WizardPara& p) -> int& { return p.sharp[c]; }, 0, 100), Setter::Sharp);
        cam(number("contrast", Camera, 1168, [c](WizardPara& p) -> int& { return p.contrast[c]; }, 1, 200), Setter::Contrast);
        cam(number("gamma", Camera, 1695, [c](WizardPara& p) -> int& { return p.gamma[c]; }, 0, 250), Setter::Gamma);
        cam(check("h_mirror", Camera, 1139, [c](WizardPara& p) -> int& { return p.h_mirror[c]; }), Setter::HMirror);
        cam(check("v_mirror", Camera, 1172, [c](WizardPara& p) -> int& { return p.v_mirror[c]; }), Setter::VMirror);
    }
    Field speed = number("capture_speed", Camera, 1163, REF(capture_speed), 0, 32);
    speed.setter = Setter::Speed;
    t << speed;
    t << check("auto_expose", Camera, 1696, REF(auto_expose));
    t << check("auto_wdr", Camera, 1107, REF(auto_wdr));
    t << check("use_external_trigger", Camera, 1170, REF(use_external_trigger));
    t << check("enable_camera_lost_alarm", Camera, 1179, REF(enable_camera_lost_alarm));
    t << check("enable_image_adjust", Camera, 1130, REF(enable_image_adjust));
    t << check("ng_switch_continuous", Camera, 1804, REF(ng_switch_continuous));
    t << check("continuous_timed_detect", Camera, 1805, REF(continuous_timed_detect));
    t << check("enable_color_camera", Camera, 1110, REF(enable_color_camera)).restartNote(1016).showFactory();
    t << check("enable_gray_channel", Camera, 1138, REF(enable_gray_channel)).restartNote(1016).showFactory();
    t << check("prohibit_optimize", Camera, 1181, REF(prohibit_optimize)).restartNote(1016).showFactory();

    // --- network ---
    t << address("local_addr", 1828, {REF(local_addr_1), REF(local_addr_2), REF(local_addr_3), REF(local_addr_4)});
    t << address("mask", 1829, {REF(mask_1), REF(mask_2), REF(mask_3), REF(mask_4)});
    t << address("gateway", 1830, {REF(gateway_1), REF(gateway_2), REF(gateway_3), REF(gateway_4)});
    t << check("enable_cnt_net", Network, 1111, REF(enable_cnt_net));
    t << choice("cnt_video_source", Network, 1831, REF(cnt_video_source), messages(1208, 3));
    t << choice("cnt_video_rate", Network, 1832, REF(cnt_video_rate), [] {
        QStringList l;
        for (int fps : {5, 10, 15, 20, 25})
            l << LanStr(1859).arg(fps);
        return l;
    });
    t << check("cnt_ng_video", Network, 1833, REF(cnt_ng_video));
    t << check("cnt_tel_msg", Network, 1834, REF(cnt_tel_msg));
    t << number("cnt_cavities", Network, 1835, REF(cnt_cavities), 1, 999);
    t << number("cnt_products_num", Network, 1836, REF(cnt_products_num), 0, 99999999);
    t << number("cnt_product_serial", Network, 1837, REF(cnt_product_serial), 0, 99999999);
    t << text("cnt_use_name", Network, 1838, [](WizardPara& p) { return p.cnt_use_name; });
    t << text("cnt_msg_tech_name", Network, 1839, [](WizardPara& p) { return p.cnt_msg_tech_name; });
    Field phone = text("cnt_msg_tech_num", Network, 1840, [](WizardPara& p) { return p.cnt_msg_tech_num; });
    phone.latin = true;
    t << phone;
    t << text("cnt_pro_name", Network, 1841, [](WizardPara& p) { return p.cnt_pro_name; });
    t << text("cnt_operator", Network, 1842, [](WizardPara& p) { return p.cnt_operator; });

    // --- IO ---
    t << choice("serial_port", Io, 1697, REF(serial_port), [] {
        QStringList l;
        for (int i = 1; i <= 8; ++i)
            l << QStringLiteral("  COM%1").arg(i);
        return l;
    }).lv(2).restartNote(1016);
    const auto breakClose = messages(1806, 2);
    t << choice("out_invert0", Io, 1153, REF(out_invert[0]), breakClose);
    t << choice("out_invert1", Io, 1154, REF(out_invert[1]), breakClose);
    t << choice("report_alarm", Io, 1102, REF(out_invert[2]), breakClose);
    t << choice("out_invert3", Io, 1155, REF(out_invert[3]), breakClose);
    for (int o = 4; o < 9; ++o) {
        Field f = choice(QStringLiteral("out_invert%1").arg(o), Io, 1152,
                         [o](WizardPara& p) -> int& { return p.out_invert[o]; }, breakClose);
        f.arg = o + 1;
        t << f.when([](const WizardPara& p) { return mode(p) == 4; });
    }
    const auto notMulti = [](const WizardPara& p) { return mode(p) != 4; };
    t << choice("enable_mold_backup", Io, 1156, REF(enable_mold_backup), messageList({1808, 1809, 1810, 1811})).when(notMulti);
    t << choice("enable_output_thimble_pulse", Io, 1143, REF(enable_output_thimble_pulse),
                [] { return QStringList{LanStr(1815), LanStr(1812).arg(1), LanStr(1812).arg(2), LanStr(1812).arg(3)}; })
             .when(notMulti);
    t << check("mold_cutoff", Io, 1114, REF(mold_cutoff));
    t << check("enable_stop_not_alarm", Io, 1126, REF(enable_stop_not_alarm));
    t << check("is_cut_ontime", Io, 1115, REF(is_cut_ontime));
    t << check("is_cut_ontime_thimble", Io, 1116, REF(is_cut_ontime_thimble));
    t << check("enable_cutoff_ontime", Io, 1182, REF(enable_cutoff_ontime));
    t << check("enable_ok_ng_pulse", Io, 1149, REF(enable_ok_ng_pulse));
    t << check("enable_ok_ng_pulse_mold", Io, 1816, REF(enable_ok_ng_pulse_mold));
    t << check("enable_cut_thimble_on_alarm", Io, 1113, REF(enable_cut_thimble_on_alarm));
    t << check("enable_cut_clamp_on_alarm", Io, 1112, REF(enable_cut_clamp_on_alarm));
    t << check("enable_stop_mold", Io, 1164, REF(enable_stop_mold));
    t << check("enable_stop_thimble", Io, 1165, REF(enable_stop_thimble));
    t << check("enable_disarm_before_open", Io, 1183, REF(enable_disarm_before_open));
    t << check("enable_trigger_safety", Io, 1158, REF(enable_trigger_safety));
    t << check("enable_prod_ok_ng_output", Io, 1817, REF(enable_prod_ok_ng_output));
    t << check("enable_mold_stop_not_alarm", Io, 1818, REF(enable_mold_stop_not_alarm));
    t << check("separate_detect_signal", Io, 1176, REF(separate_detect_signal));
    t << check("enable_io_lost_tip", Io, 1141, REF(enable_io_lost_tip));
    t << number("shake_erase_time", Io, 1162, REF(shake_erase_time), 0, 100).showDetail();
    // The multi-detection table: detections, their rows and groups, the rows' inputs and names.
    t << number("multi_detect_num", Io, 1819, REF(multi_detect_num), 2, 8).when([](const WizardPara& p) { return mode(p) == 4; });
    Field order = check("multi_io_flag", Io, 1820, REF(multi_io_flag)).when([](const WizardPara& p) { return mode(p) == 4; });
    order.negated = true;
    t << order;
    for (int j = 0; j < 8; ++j) {
        auto indexed = [&](Field f) {
            f.name += QString::number(j);
            f.arg = j + 1;
            t << f.when(multiUpTo(j));
        };
        indexed(choice("multi_detect_row", Io, 1821, [j](WizardPara& p) -> int& { return p.multi_detect_row[j]; },
                       noneAndNumbered(1861), -1));
        indexed(choice("multi_detect_row_b", Io, 1822, [j](WizardPara& p) -> int& { return p.multi_detect_row_b[j]; },
                       noneAndNumbered(1862), -1));
        indexed(choice("multi_row_input", Io, 1823, [j](WizardPara& p) -> int& { return p.multi_row_input[j]; }, [] {
            QStringList l;
            for (int in : {1, 3, 4, 5, 6, 7, 8, 9})
                l << LanStr(1812).arg(in);
            return l;
        }));
        indexed(choice("multi_in_name", Io, 1824, [j](WizardPara& p) -> int& { return p.multi_in_name[j]; }, messages(1250, 16)));
        indexed(choice("multi_out_name", Io, 1825, [j](WizardPara& p) -> int& { return p.multi_out_name[j]; }, messages(1270, 14)));
        indexed(choice("group_kind", Io, 1826, [j](WizardPara& p) -> int& { return p.reserved_sys11_a[j]; }, [] {
            return QStringList{"0", "1", "2", "3", "4", "5"};
        }));
    }

    // --- advanced: algorithms, location, protection ---
    auto adv = [&](Field f) { t << f.lv(2); };
    adv(check("enable_defect_detect", Advanced, 1134, REF(enable_defect_detect)));
    adv(check("enable_spot_detect", Advanced, 1135, REF(enable_spot_detect)));
    adv(check("enable_black_area", Advanced, 1128, REF(enable_black_area)));
    adv(check("enable_white_area", Advanced, 1136, REF(enable_white_area)));
    adv(check("enable_similarity", Advanced, 1133, REF(enable_similarity)));
    adv(check("enable_white_number", Advanced, 1137, REF(enable_white_number)));
    adv(check("enable_direction", Advanced, 1117, REF(enable_direction)));
    adv(check("enable_distance", Advanced, 1122, REF(enable_distance)));
    adv(check("enable_correct", Advanced, 1145, REF(enable_correct)));
    adv(check("enable_auto_area", Advanced, 1106, REF(enable_auto_area)));
    adv(check("enable_ignore_area", Advanced, 1129, REF(enable_ignore_area)));
    adv(check("enable_manual_edit", Advanced, 1131, REF(enable_manual_edit)));
    adv(check("enable_template_auto_update", Advanced, 1167, REF(enable_template_auto_update)));
    adv(number("min_spot", Advanced, 1144, REF(min_spot), 1, 20));
    adv(number("minimum_size", Advanced, 1174, REF(minimum_size), 1, 10));
    adv(number("minimum_area", Advanced, 1105, REF(minimum_area), 0, 1000));
    adv(number("location_adge", Advanced, 1151, REF(location_adge), 1, 8000));
    adv(number("difference_multiplier", Advanced, 1103, REF(difference_multiplier), 0, 4));
    adv(number("match_angle", Advanced, 1104, REF(match_angle), 0, 180));
    adv(number("tick_limit", Advanced, 1726, REF(tick_limit), 100, 5000));
    adv(check("is_psw_used", Advanced, 1127, REF(is_psw_used)));
    Field psw = text("password", Advanced, 1843, [](WizardPara& p) { return p.password; });
    psw.masked = true;
    adv(psw);
    adv(check("enable_pass_protect", Advanced, 1123, REF(enable_pass_protect)));
    adv(check("enable_template_pass_protect", Advanced, 1101, REF(enable_template_pass_protect)));
    adv(check("enable_ignore_pass_protect", Advanced, 1142, REF(enable_ignore_pass_protect)));
    adv(check("enable_stop_pass_protect", Advanced, 1178, REF(enable_stop_pass_protect)));
    adv(check("enable_display_detail", Advanced, 1118, REF(enable_display_detail)));
    adv(check("factory_param", Advanced, 1119, REF(factory_param)));

    // --- no editor: kept, and a change is named in the record ---
    t << stored("timing_alarm", 1024, REF(timing_alarm));
    t << stored("roi_ng_warn_count", 1844, REF(roi_ng_warn_count));
    t << stored("enable_one_not_mold", 1845, REF(enable_one_not_mold));
    for (int d = 2; d < 8; ++d) {
        Field f = stored("trigger_delay", 1846, [d](WizardPara& p) -> int& {
            int* delays[] = {&p.neutron_detect, &p.fourth_detect, &p.fifth_detect,
                             &p.sixth_detect, &p.seventh_detect, &p.eighth_detect};
            return *delays[d - 2];
        });
        f.name += QString::number(d);
        f.arg = d + 1;
        t << f;
    }
    return t;
}
#undef REF

} // namespace

const QList<Field>& all()
{
    static const QList<Field> table = build();
    return table;
}

const Field* find(const QString& name)
{
    static const QHash<QString, int> byName = [] {
        QHash<QString, int> h;
        for (int i = 0; i < all().size(); ++i)
            h.insert(all()[i].name, i);
        return h;
    }();
    const auto it = byName.constFind(name);
    return it == byName.constEnd() ? nullptr : &all()[*it];
}

QString label(const Field& f)
{
    const QString l = LanStr(f.label);
    return f.arg >= 0 && l.contains(QLatin1String("%1")) ? l.arg(f.arg) : l;
}

namespace {
QString addressText(const Field& f, WizardPara& p)
{
    QStringList parts;
    for (const IntRef& r : f.octets)
        parts << QString::number(r(p));
    return parts.join('.');
}
bool same(const Field& f, WizardPara& a, WizardPara& b)
{
    switch (f.kind) {
    case Kind::Text:
        return qstrncmp(f.text(a), f.text(b), kTextLen) == 0;
    case Kind::Address:
        for (const IntRef& r : f.octets)
            if (r(a) != r(b))
                return false;
        return true;
    default:
        return f.ref(a) == f.ref(b);
    }
}
} // namespace

QString valueText(const Field& f, WizardPara& p)
{
    switch (f.kind) {
    case Kind::Text:
        return f.masked ? QString() : ParaText(f.text(p));
    case Kind::Address:
        return addressText(f, p);
    case Kind::Choice: {
        const QStringList items = f.items();
        const int i = f.ref(p) - f.offset;
        return i >= 0 && i < items.size() ? items[i] : QString::number(f.ref(p));
    }
    default:
        return QString::number(f.ref(p));
    }
}

bool shown(const Field& f, const WizardPara& edit, int level)
{
    if (f.kind == Kind::Stored || level < f.level)
        return false;
    if (f.detail && !edit.enable_display_detail)
        return false;
    if (f.factory && !edit.factory_param)
        return false;
    return !f.applies || f.applies(edit);
}

QList<Change> changes(WizardPara& before, WizardPara& after)
{
    QList<Change> out;
    for (const Field& f : all()) {
        if (same(f, before, after))
            continue;
        QString line;
        if (f.masked)
            line = LanStr(1848).arg(label(f));
        else if (f.recordMessage == 1013)
            line = LanStr(1013).arg(f.arg).arg(valueText(f, before), valueText(f, after));
        else
            line = LanStr(f.recordMessage).arg(f.camera >= 0 ? LanStr(1847).arg(QString::number(f.camera + 1), label(f)) : label(f),
                                                valueText(f, before), valueText(f, after));
        out.append({&f, LanStr(1849) + line});
    }
    return out;
}

void copyFields(WizardPara& live, WizardPara& edit)
{
    for (const Field& f : all()) {
        switch (f.kind) {
        case Kind::Text:
            std::memcpy(f.text(live), f.text(edit), kTextLen);
            break;
        case Kind::Address:
            for (const IntRef& r : f.octets)
                r(live) = r(edit);
            break;
        default:
            f.ref(live) = f.ref(edit);
        }
    }
}

bool derivesDetections(const Field& f)
{
    static const QStringList keys{"machine_mode", "mold_side", "semi_auto", "enable_prod_detect", "multi_detect_num",
                                  "multi_detect_row", "multi_row_input", "enable_stop_not_alarm", "enable_prod_ok_ng_output"};
    for (const QString& k : keys)
        if (f.name.startsWith(k) && (f.name.size() == k.size() || f.name.at(k.size()).isDigit()))
            return true;
    return false;
}

} // namespace parafields
