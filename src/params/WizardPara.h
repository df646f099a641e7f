#pragma once
// WizardPara: all station-wide settings, one record loaded from the sysparam
// table of PARAM.db at start and written back as a whole. Numeric fields are
// signed 32-bit; text fields are 100-byte buffers (at most 99 bytes of text).
#include "Globals.h"

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <algorithm>
#include <functional>

constexpr int kTextLen = 100;

// Number of detections in use, derived from the machine mode at every load.
extern int gDNum;

class WizardPara {
public:
    WizardPara();

    // Loads every key (inserting the defaults of system7..system12 when
    // missing), applies the load corrections and derives the detection settings.
    void LoadDatafromFile();
    // Writes every key in one transaction. Returns false when nothing was saved.
    bool SaveDatatoFile();
    // Makes sure a sysparam row exists (inserted with "0" when missing).
    bool SaveChkDBItem(const QString& name);
    // Writes the parameter-group index to "sysadd.txt".
    bool SaveAddFile();

    // Recomputes the derived detection settings from machine_mode.
    void DeriveDetections();
    // Puts the pending mode in force after the settings dialog was accepted
    // (not across mode 4, which waits for the next start).
    void ApplyPendingMode();

    // The IO signal names: "name.txt" when present, else by mode and language.
    void LoadSignalNames();
    // The signals' names in the current language and machine mode.
    QStringList defaultSignalNames() const;

    // Number of stored camera serials of 9..99 characters.
    int RecordedCameraCount() const { return serialCount; }

    // Hook run after a mode-4 load for every camera and enabled detection
    // (templates rebuilt and retrained); set by the inspection subsystem.
    static std::function<void(int camera, int detection)> retrainHook;
    // Run after every successful save (the service link reports the parameters).
    static std::function<void()> savedHook;

    struct Binding {
        const char* key;
        QList<int*> ints;      // positions in order
        char* text = nullptr;  // text keys, kept as UTF-8
    };
    // Every stored key with the fields of its positions, in load order.
    QList<Binding> bindings();
    // Keys in the order the save writes them.
    static const QStringList& saveOrder();
    // (key, stored value) of every key in save order, as the save writes them.
    QList<QPair<QString, QString>> storedRows();

    // --- stored fields (key: position) ---
    // trigInDelay
    int finished_product_detect = 0, cavity_detect = 0, neutron_detect = 0, fourth_detect = 0;
    int fifth_detect = 0, sixth_detect = 0, seventh_detect = 0, eighth_detect = 0;
    // per camera: exposeTime/system5/system6, adjustPlus/..., sharp/..., contrast/..., numAllDetect
    int expose_time[kMaxCameras] = {};
    int adjust_plus[kMaxCameras] = {};
    int sharp[kMaxCameras] = {};
    int contrast[kMaxCameras] = {};
    int gamma[kMaxCameras] = {};
    // numFailDetect
    int machine_mode = 0, mold_side = 0, auto_expose = 0, auto_wdr = 0, save_ok_record = 0;
    int enable_black_area = 0, enable_white_area = 0, enable_similarity = 0;
    // isPswUsed, password
    int is_psw_used = 0;
    char password[kTextLen] = {};
    // system1
    int semi_auto = 0, enable_prod_detect = 0, enabe_two_test = 0, enable_correct = 0, enable_stop_mold = 0;
    int pre_cut_time = 0, front_auto_check_time = 0, ok_record_max_num = 0, enable_auto_area = 0;
    // system2 (position 13 is the global gLan)
    int mold_cutoff = 0, max_mold_num = 0, min_spot = 0, ng_max_num = 0, thimble_pulse = 0, mold_pulse = 0;
    int enable_stop_not_alarm = 0, is_cut_ontime = 0, enable_cutoff_ontime = 0, enable_pass_protect = 0;
    int enable_template_pass_protect = 0, enable_ignore_pass_protect = 0, enable_mold_backup = 0;
    int location_adge = 0, location_level = 0, capture_speed = 0, input_timeout_len = 0;
    // system3
    int enable_output_thimble_pulse = 0, enable_disarm_before_open = 0, difference_multiplier = 0;
    int enable_defect_detect = 0, enable_spot_detect = 0, enable_ignore_area = 0, enable_manual_edit = 0;
    int enable_display_detail = 0, auto_cancel_timelen = 0, enable_one_not_mold = 0, enable_trigger_safety = 0;
    // system4
    int enable_template_auto_update = 0;
    int local_addr_1 = 0, local_addr_2 = 0, local_addr_3 = 0, local_addr_4 = 0;
    int mask_1 = 0, mask_2 = 0, mask_3 = 0, mask_4 = 0;
    int gateway_1 = 0, gateway_2 = 0, gateway_3 = 0, gateway_4 = 0;
    int minimum_size = 0, minimum_area = 0;
    // system5
    int enable_ok_ng_pulse = 0, match_angle = 0, enable_cut_thimble_on_alarm = 0, use_external_trigger = 0;
    int enable_cut_clamp_on_alarm = 0;
    // system6
    int shake_erase_time = 0, enable_statistics = 0, hide_ng_number = 0, enable_stop_pass_protect = 0;
    // system7; out_invert[2] is report_alarm, the alarm output's initial state
    int serial_port = 0, enable_color_camera = 0, enable_gray_channel = 0, snap_shot = 0;
    int out_invert[9] = {};
    int prohibit_optimize = 0, factory_param = 0, enable_ng_image = 0, reserved_sys7_12 = 0;
    int enable_show_roi = 0, enable_show_mold_no = 0, enable_white_number = 0;
    int& report_alarm() { return out_invert[2]; }
    // system8
    int multi_detect_num = 2;
    int multi_row_input[8] = {};
    int multi_detect_row_b[8] = {};
    int is_cut_ontime_thimble = 0, enable_log = 0, enable_direction = 0;
    // system9
    int multi_detect_row[8] = {};
    int timing_alarm = 0, skip_detect_times = 0, enable_skip_detect = 0, separate_detect_signal = 0;
    int enable_distance = 0, enable_prod_ok_ng_output = 0, roi_ng_warn_count = 2, reserved_sys9 = 0;
    // system10
    int multi_in_name[8] = {};
    int multi_out_name[8] = {};
    int reserved_sys10_17 = 0, enable_mold_stop_not_alarm = 0, enable_image_adjust = 0, enable_stop_thimble = 0;
    // system11
    int reserved_sys11_a[8] = {};
    int reserved_sys11_b[8] = {};
    int enable_camera_lost_alarm = 0, enable_io_lost_tip = 0, multi_io_flag = 0, tick_limit = 500;
    // The IO thread holds the last word when the tick is late by more than this (ms); a stored 0 reads as 500.
    int tickLimitMs() const { return tick_limit >= 100 ? std::min(tick_limit, 5000) : 500; }
    // system12
    int h_mirror[kMaxCameras] = {};
    int v_mirror[kMaxCameras] = {};
    int enable_ok_ng_pulse_mold = 0, show_capture_mode_button = 0, ng_switch_continuous = 0;
    int continuous_timed_detect = 0, enable_detect_cycle = 0;
    // CntNet and its texts
    int enable_cnt_net = 0, cnt_video_source = 1, cnt_video_rate = 3, cnt_ng_video = 0, cnt_tel_msg = 0;
    int cnt_cavities = 6, cnt_products_num = 1, cnt_product_serial = 10000;
    char cnt_use_name[kTextLen] = {};
    char cnt_msg_tech_name[kTextLen] = {};
    char cnt_msg_tech_num[kTextLen] = {};
    char cnt_pro_name[kTextLen] = {};
    char cnt_operator[kTextLen] = {};

    // --- outside the table ---
    int pending_machine_mode = 0;   // the mode the save writes
    // Cameras on the machine's trigger run free only for the alarm page: never
    // stored so, a restart finds them on the trigger.
    bool freeRunningForAlarm = false;
    int para_group_index = 0;       // "sysadd.txt"

    // --- derived at load ---
    int detect_enable[kMaxDetections] = {};
    int detect_trig_input[kMaxDetections] = {};  // -1 none
    int detect_row[kMaxDetections] = {};         // mode 4: row of each detection
    int io_count = 4;
    bool left_side_active = true;
    QString signal_names[8];

    // Camera serial slots from SN.db.
    char serialNB[kMaxCameras][kTextLen] = {};
    int serialCount = 0;

private:
    void applyCorrections();
    void loadSerials();
};

extern WizardPara* gpWPara;
extern WizardPara* gpWParaBak;

// Sets a text buffer when the text fits as UTF-8 (at most 99 bytes); returns whether it did.
bool SetParaText(char* buf, const QString& text);
// The text of a buffer: UTF-8, or Latin-1 for bytes an older station left that are not UTF-8.
QString ParaText(const char* buf);
