// The reports: what the station tells the network client, and the little
// state it keeps for that (statistics, manual stops, reminders).
#include "CNT_Net.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <cjson/cJSON.h>
#include "NetLog.h"

#include "CammerRecong.h"
#include "CammerSingleton.h"
#include "Globals.h"
#include "WizardPara.h"


namespace {
const char* kStatFile = "./cnt_net/data/Statistics";
const char* kStopFile = "./cnt_net/data/ManualStop";
const char* kRemindFile = "./cnt_net/data/Remind";
// A statistics file of eight cameras with their regions is far above the
// 8 KB the first reader allowed; what is read must be whole.
constexpr qint64 kReadLimit = 4 << 20;

using Json = std::unique_ptr<cJSON, decltype(&cJSON_Delete)>;
Json object() { return Json(cJSON_CreateObject(), &cJSON_Delete); }

QByteArray print(const cJSON* o)
{
    char* t = cJSON_Print(o);
    QByteArray out(t ? t : "");
    cJSON_free(t);
    return out;
}

bool writeWhole(const char* path, const QByteArray& body)
{
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(body) != body.size() || !f.commit()) {
        NETLOG << "open " << path << ": " << f.errorString().toStdString();
        return false;
    }
    return true;
}

Json readJson(const char* path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return Json(nullptr, &cJSON_Delete);
    const QByteArray t = f.read(kReadLimit);
    return Json(cJSON_ParseWithLength(t.constData(), size_t(t.size())), &cJSON_Delete);
}

QString ip(int a, int b, int c, int d) { return QStringLiteral("%1.%2.%3.%4").arg(a).arg(b).arg(c).arg(d); }

QString textOf(const char* field) { return QString::fromUtf8(field, int(qstrnlen(field, kTextLen))); }

// The text the client knows for a value; empty for any other.
const char* textFor(int v, std::initializer_list<std::pair<int, const char*>> texts)
{
    for (const auto& [k, t] : texts)
        if (k == v)
            return t;
    return "";
}
} // namespace

QString CNT_Net::stateText(int state)
{
    return QString::fromUtf8(state == 0 ? "正在检测" : state == 1 ? "停止检测" : "模板训练中");
}

// The members of a report, in the order they are added.
void ccJSON_AddItemToObject(cJSON* o, const char* name, const char* v) { cJSON_AddStringToObject(o, name, v); }
void ccJSON_AddItemToObject(cJSON* o, const char* name, long v) { cJSON_AddNumberToObject(o, name, double(v)); }
void ccJSON_AddItemToObject(cJSON* o, const char* name, qint64 v) { cJSON_AddNumberToObject(o, name, double(v)); }
void ccJSON_AddItemToObject(cJSON* o, const char* name, int v) { cJSON_AddNumberToObject(o, name, v); }
// Texts go as UTF-8: product and operator names are often Chinese.
void ccJSON_AddItemToObject(cJSON* o, const char* name, const QString& v)
{
    cJSON_AddStringToObject(o, name, v.toUtf8().constData());
}
void ccJSON_AddItemToObject(cJSON* o, const char* name, const std::string& v)
{
    cJSON_AddStringToObject(o, name, v.c_str());
}
#define ADD ccJSON_AddItemToObject

// 1 ---------------------------------------------------------------------------
void CNT_Net::CNT_SendRecord(const QDateTime& t, const QString& level, const QString& text)
{
    const QString body = QStringList{QStringLiteral("device_id=%1").arg(m_deviceId),
                                     QStringLiteral("operater=%1").arg(level),
                                     QStringLiteral("utc=%1").arg(t.toMSecsSinceEpoch()),
                                     QStringLiteral("description=%1").arg(text)}
                             .join('&');
    queue(1, body.toUtf8());
}

// 2 ---------------------------------------------------------------------------
void CNT_Net::CNT_SendParam()
{
    if (!gpWPara)
        return;
    const WizardPara& p = *gpWPara;
    Json o = object();
    cJSON* r = o.get();
    ADD(r, "device_id", m_deviceId);
#define P_(key, field) ADD(r, key, p.field)
    P_("finished_product_detect", finished_product_detect);
    P_("cavity_detect", cavity_detect);
    P_("neutron_detect", neutron_detect);
    P_("fourth_detect", fourth_detect);
    P_("is_psw_used", is_psw_used);
    ADD(r, "password", textOf(p.password));
    P_("semi_auto", semi_auto);
    P_("enabe_one_test", enable_prod_detect);
    P_("enabe_two_test", enabe_two_test);
    P_("enable_correct", enable_correct);
    P_("enable_stop_mold", enable_stop_mold);
    P_("front_mold_timelen", pre_cut_time);
    P_("front_auto_check_time", front_auto_check_time);
    P_("ok_record_max_num", ok_record_max_num);
    ADD(r, "enable_watch_dog", 1);
    P_("mold_cutoff", mold_cutoff);
    P_("max_mold_num", max_mold_num);
    P_("enable_stop_check", min_spot);
    P_("ng_max_num", ng_max_num);
    P_("thimble_pulse", thimble_pulse);
    P_("mold_pulse", mold_pulse);
    P_("enable_stop_not_alarm", enable_stop_not_alarm);
    P_("is_cut_ontime", is_cut_ontime);
    P_("is_cut_ontime_thimble", is_cut_ontime_thimble);
    P_("enable_cutoff_ontime", enable_cutoff_ontime);
    P_("enable_pass_protect", enable_pass_protect);
    ADD(r, "language", gLan);
    P_("enable_mold_backup", enable_mold_backup);
    P_("location_adge", location_adge);
    P_("location_level", location_level);
    P_("capture_speed", capture_speed);
    P_("input_timeout_len", input_timeout_len);
    P_("enable_output_thimble_pulse", enable_output_thimble_pulse);
    P_("enable_disarm_before_open", enable_disarm_before_open);
    P_("difference_multiplier", difference_multiplier);
    P_("enable_defect_detect", enable_defect_detect);
    P_("enable_spot_detect", enable_spot_detect);
    P_("enable_ignore_area", enable_ignore_area);
    P_("enable_manual_edit", enable_manual_edit);
    P_("enable_display_detail", enable_display_detail);
    P_("auto_cancel_timelen", auto_cancel_timelen);
    P_("enable_one_not_mold", enable_one_not_mold);
    P_("enable_trigger_safety", enable_trigger_safety);
    P_("enable_network", enable_template_auto_update);
    const QString none = QStringLiteral("0.0.0.0");
    ADD(r, "local_addr_1", ip(p.local_addr_1, p.local_addr_2, p.local_addr_3, p.local_addr_4));
    ADD(r, "local_addr_2", none);
    ADD(r, "local_addr_3", none);
    ADD(r, "local_addr_4", none);
    ADD(r, "mask_1", ip(p.mask_1, p.mask_2, p.mask_3, p.mask_4));
    ADD(r, "mask_2", none);
    ADD(r, "mask_3", none);
    ADD(r, "mask_4", none);
    ADD(r, "gateway_1", ip(p.gateway_1, p.gateway_2, p.gateway_3, p.gateway_4));
    ADD(r, "gateway_2", none);
    ADD(r, "gateway_3", none);
    ADD(r, "gateway_4", none);
    P_("minimum_size", minimum_size);
    P_("minimum_area", minimum_area);
    P_("serial_port", serial_port);
    P_("enable_color_camera", enable_color_camera);
    P_("enable_gray_channel", enable_gray_channel);
    P_("snap_shot", snap_shot);
    P_("min_spot", min_spot);
    P_("factory_param", factory_param);
    ADD(r, "report_alarm", p.out_invert[2]);
    P_("prohibit_optimize", prohibit_optimize);
#undef P_
    cJSON* cams = cJSON_AddArrayToObject(r, "camera");
    for (int i = 0; i < 8; ++i) {
        cJSON* c = cJSON_CreateObject();
        ADD(c, "camera_id", QString::number(i + 1));
        ADD(c, "expose_time", p.expose_time[i]);
        ADD(c, "adjust_plus", p.adjust_plus[i]);
        ADD(c, "num_fail_detect", qint64(sources.failNum ? sources.failNum(i) : 0));
        ADD(c, "num_all_detect", qint64(sources.allNum ? sources.allNum(i) : 0));
        ADD(c, "sharp", p.sharp[i]);
        ADD(c, "contrast", p.contrast[i]);
        ADD(c, "camera_serial", sources.serial ? sources.serial(i) : textOf(p.serialNB[i]));
        cJSON_AddItemToArray(cams, c);
    }
    queue(2, print(r));
}

// 5, 6, 11 --------------------------------------------------------------------
void CNT_Net::CNT_SendAlarmPic(const QString& path) { queue(5, path.toUtf8()); }
void CNT_Net::CNT_SendTempPic(const QString& path) { queue(6, path.toUtf8()); }

void CNT_Net::CNT_SendDelTempPic(int camera, int detection, const QString& name)
{
    const QString body = QStringLiteral("deviceId=%1&").arg(m_deviceId) + QStringLiteral("cameraId=%1&").arg(camera) +
                         QStringLiteral("detectId=%1&").arg(detection) + QStringLiteral("template=%1&").arg(name) +
                         QStringLiteral("utc=%1&").arg(utcNow()) +
                         QStringLiteral("operator=%1").arg(m_stop.operator_id);
    queue(11, body.toUtf8());
}

// 7 ---------------------------------------------------------------------------
int CNT_Net::CNT_AddCycle(int)
{
    while (m_ngTimes.size() > 100)
        m_ngTimes.removeFirst();
    if (m_ngTimes.isEmpty())
        return 0;
    qint64 sum = 0;
    for (int t : m_ngTimes)
        sum += t;
    return int(sum / m_ngTimes.size());
}

void CNT_Net::CNT_AddNgTimes(int ms)
{
    QMutexLocker l(&m_statLock);
    m_stat.total_stop_alarm_timelen += ms;
    m_lastNgTime = ms;
    m_ngTimes.append(ms);
}

void CNT_Net::ChkandAddStaticticsItem(int camera, int detection, int region)
{
    if (camera < 0 || camera > 7 || detection < 0 || detection > 7 || region < 0 || region >= kMaxRoi)
        return;
    QMutexLocker l(&m_statLock);
    StatCamera& c = m_stat.cameras[camera];
    c.id = QString::number(camera + 1);
    // Numbered from 1 as the file is read back: key = number - 1.
    StatDetect& d = c.detects[detection];
    d.time = detection + 1;
    if (!d.alarms.contains(region))
        d.alarms[region].area = region + 1;
}

QByteArray CNT_Net::statisticsBody(const QString& ngImage, bool* ok)
{
    *ok = true;
    CNT_Path_Statistics& s = m_stat;
    const qint64 t = utcNow();
    s.utc_watch_total = t - s.start_utc - m_stop.timelen;
    const int cams = sources.cameras ? sources.cameras() : 0;
    quint32 watch = 0, ng = 0;
    for (int i = 0; i < cams && i < 8; ++i) {
        watch = std::max(watch, sources.allNum ? sources.allNum(i) : 0u);
        ng = std::max(ng, sources.failNum ? sources.failNum(i) : 0u);
    }
    s.watch_count_total = int(watch);
    s.ng_count_total = int(ng);
    s.ng_notification_rate = watch ? int(qint64(ng) * 10000 / watch) : 0;
    const int cavities = gpWPara ? gpWPara->cnt_cavities : 1;
    s.real_produce = (qint64(watch) - ng) * cavities;
    s.watch_circle = qint64(sources.cycleTenths ? sources.cycleTenths() : 0) * 100;
    const int average = CNT_AddCycle(0);
    if (gpWPara) {
        s.product_name = textOf(gpWPara->cnt_pro_name);
        s.product_serial = QString::number(gpWPara->cnt_product_serial);
        s.products_num = gpWPara->cnt_products_num;
    }
    Json o = object();
    cJSON* r = o.get();
    ADD(r, "device_id", m_deviceId);
    ADD(r, "state", sources.state ? sources.state() : 2);
    ADD(r, "product_name", s.product_name);
    ADD(r, "product_serial", s.product_serial);
    ADD(r, "products_num", s.products_num);
    ADD(r, "start_utc", s.start_utc);
    ADD(r, "real_produce", s.real_produce);
    ADD(r, "utc_watch_total", s.utc_watch_total);
    ADD(r, "total_stop_alarm_timelen", s.total_stop_alarm_timelen);
    ADD(r, "watch_count_total", s.watch_count_total);
    ADD(r, "ng_count_total", s.ng_count_total);
    ADD(r, "ng_notification_rate", s.ng_notification_rate);
    ADD(r, "watch_circle", s.watch_circle);
    ADD(r, "utc", t);
    ADD(r, "ng_image", ngImage);
    cJSON* camera = cJSON_AddObjectToObject(r, "camera");
    cJSON* ngArr = cJSON_AddArrayToObject(camera, "ng");
    for (auto ci = s.cameras.begin(); ci != s.cameras.end(); ++ci) {
        if (ci.key() < 0 || ci.key() > 7) {
            *ok = false;
            return {};
        }
        StatCamera& c = ci.value();
        c.disalarm_timeout_time = 1;
        c.last_monitor_period = int(s.total_stop_alarm_timelen);
        c.now_monitor_period = int(m_lastNgTime);
        c.average_monitor_period = average;
        cJSON* co = cJSON_CreateObject();
        cJSON_AddItemToArray(ngArr, co);
        ADD(co, "camera_id", QString::number(ci.key() + 1));
        ADD(co, "disalarm_timeout_time", c.disalarm_timeout_time);
        ADD(co, "last_monitor_period", c.last_monitor_period);
        ADD(co, "now_monitor_period", c.now_monitor_period);
        ADD(co, "average_monitor_period", c.average_monitor_period);
        cJSON* mons = cJSON_AddArrayToObject(co, "ng_monitors");
        const int total = int(sources.allNum ? sources.allNum(ci.key()) : 0);
        const int fail = int(sources.failNum ? sources.failNum(ci.key()) : 0);
        for (auto di = c.detects.begin(); di != c.detects.end(); ++di) {
            if (di.key() < 0 || di.key() > 7) {
                *ok = false;
                return {};
            }
            StatDetect& d = di.value();
            d.ng_sum = fail;
            d.produce = gpWPara ? gpWPara->cnt_products_num : 0;
            d.monitor_times = total;
            d.ok_num = total - fail;
            d.ok_rate = total ? int(qint64(d.ok_num) * 10000 / total) : 0;
            d.not_ok_num = fail;
            d.not_ok_rate = total ? int(qint64(fail) * 10000 / total) : 0;
            cJSON* dobj = cJSON_CreateObject();
            cJSON_AddItemToArray(mons, dobj);
            ADD(dobj, "time", d.time);
            ADD(dobj, "ng_sum", d.ng_sum);
            ADD(dobj, "produce", d.produce);
            ADD(dobj, "monitor_times", d.monitor_times);
            ADD(dobj, "ok_num", d.ok_num);
            ADD(dobj, "ok_rate", d.ok_rate);
            ADD(dobj, "not_ok_num", d.not_ok_num);
            ADD(dobj, "not_ok_rate", d.not_ok_rate);
            cJSON* alarms = cJSON_AddArrayToObject(dobj, "alarm");
            for (const StatAlarm& a : d.alarms) {
                cJSON* ao = cJSON_CreateObject();
                cJSON_AddItemToArray(alarms, ao);
                ADD(ao, "alarm_area_num", a.area);
                ADD(ao, "alarm_algorithm_type", a.algorithm);
                ADD(ao, "alarm_result", a.result);
            }
        }
    }
    return print(r);
}

void CNT_Net::CNT_SendStatistics(const QString& ngImage)
{
    if (!sendable(7))
        return;
    QMutexLocker l(&m_statLock);
    bool ok = true;
    const QByteArray body = statisticsBody(ngImage, &ok);
    if (!ok) {
        NETLOG << "CNT: statistics hold an index out of range; started afresh";
        QFile::remove(kStatFile);
        l.unlock();
        InitStatistics();
        return;
    }
    writeWhole(kStatFile, body);
    queue(7, body);
}

CNT_Path_Statistics CNT_Net::statistics() const
{
    QMutexLocker l(&m_statLock);
    return m_stat;
}

void CNT_Net::InitStatistics()
{
    QMutexLocker l(&m_statLock);
    m_stat = CNT_Path_Statistics();
    m_stat.start_utc = utcNow();
    const Json root = readJson(kStatFile);
    if (!cJSON_IsObject(root.get()))
        return;
    m_stat.fresh = false;
    CNT_Path_Statistics& s = m_stat;
    const cJSON* r = root.get();
    auto str = [](const cJSON* o, const char* n, QString* out) {
        const cJSON* v = cJSON_GetObjectItemCaseSensitive(o, n);
        if (!cJSON_IsString(v))
            return false;
        *out = QString::fromUtf8(v->valuestring);
        return true;
    };
    auto num = [](const cJSON* o, const char* n, auto* out) {
        const cJSON* v = cJSON_GetObjectItemCaseSensitive(o, n);
        if (!cJSON_IsNumber(v))
            return false;
        *out = decltype(+*out)(v->valuedouble);
        return true;
    };
    qint64 ignore = 0;
    // Members in the order they are written; the first one missing ends the reading.
    if (!(str(r, "product_name", &s.product_name) && str(r, "product_serial", &s.product_serial) &&
          num(r, "products_num", &s.products_num) && num(r, "start_utc", &s.start_utc) &&
          num(r, "real_produce", &s.real_produce) && num(r, "utc_watch_total", &s.utc_watch_total) &&
          num(r, "total_stop_alarm_timelen", &s.total_stop_alarm_timelen) &&
          num(r, "watch_count_total", &s.watch_count_total) && num(r, "ng_count_total", &s.ng_count_total) &&
          num(r, "ng_notification_rate", &s.ng_notification_rate) && num(r, "watch_circle", &s.watch_circle) &&
          num(r, "utc", &ignore)))
        return;
    const cJSON* ng = cJSON_GetObjectItemCaseSensitive(cJSON_GetObjectItemCaseSensitive(r, "camera"), "ng");
    const cJSON* co = nullptr;
    cJSON_ArrayForEach(co, ng)
    {
        QString id;
        if (!str(co, "camera_id", &id))
            return;
        const int ck = id.toInt() - 1;
        if (ck < 0 || ck > 7)
            return;
        StatCamera& c = s.cameras[ck];
        c.id = id;
        if (!(num(co, "disalarm_timeout_time", &c.disalarm_timeout_time) &&
              num(co, "last_monitor_period", &c.last_monitor_period) &&
              num(co, "now_monitor_period", &c.now_monitor_period) &&
              num(co, "average_monitor_period", &c.average_monitor_period)))
            return;
        const cJSON* dobj = nullptr;
        cJSON_ArrayForEach(dobj, cJSON_GetObjectItemCaseSensitive(co, "ng_monitors"))
        {
            int time = 0;
            if (!num(dobj, "time", &time) || time < 1 || time > 8)
                return;
            StatDetect& d = c.detects[time - 1];
            d.time = time;
            if (!(num(dobj, "ng_sum", &d.ng_sum) && num(dobj, "produce", &d.produce) &&
                  num(dobj, "monitor_times", &d.monitor_times) && num(dobj, "ok_num", &d.ok_num) &&
                  num(dobj, "ok_rate", &d.ok_rate) && num(dobj, "not_ok_num", &d.not_ok_num) &&
                  num(dobj, "not_ok_rate", &d.not_ok_rate)))
                return;
            const cJSON* ao = nullptr;
            cJSON_ArrayForEach(ao, cJSON_GetObjectItemCaseSensitive(dobj, "alarm"))
            {
                StatAlarm a;
                if (!num(ao, "alarm_area_num", &a.area) || a.area < 1 || a.area > kMaxRoi)
                    return;
                if (!(str(ao, "alarm_algorithm_type", &a.algorithm) && num(ao, "alarm_result", &a.result)))
                    return;
                d.alarms[a.area - 1] = a;
            }
        }
    }
}

// 8 ---------------------------------------------------------------------------
void CNT_Net::CNT_SendROIParam(int camera, int detection)
{
    if (const CammerSingleton* para = sources.regions ? sources.regions(camera) : nullptr)
        CNT_SendROIParam(*para, detection);
}

void CNT_Net::CNT_SendROIParam(const CammerSingleton& regions, int detection)
{
    const CammerSingleton* para = &regions;
    const int camera = regions.camera_index;
    if (detection < 0 || detection > 7)
        return;
    Json o = object();
    cJSON* r = o.get();
    const int count = std::clamp(para->roi_count[detection], 0, kMaxRoi);
    ADD(r, "device_id", m_deviceId);
    ADD(r, "camera_id", QString::number(camera + 1));
    ADD(r, "detect", detection + 1);
    ADD(r, "count", count);
    cJSON* arr = cJSON_AddArrayToObject(r, "roi");
    for (int i = 0; i < count; ++i) {
        const RoiParam& rp = para->roi[detection][i];
        cJSON* ro = cJSON_CreateObject();
        cJSON_AddItemToArray(arr, ro);
        ADD(ro, "roi_idx", i + 1);
        ADD(ro, "min_size", rp.min_size);
        ADD(ro, "sensibility", rp.sensibility);
        ADD(ro, "max_area", rp.max_area);
        ADD(ro, "algorithm", rp.algorithm);
        ADD(ro, "output_point", rp.output_point);
        std::vector<cv::Point> pts;
        int type = -1, inner = 0, outer = 0;
        if (rp.roi_shape == ShapeRect) {
            type = 0;
            pts = {para->rects[detection][i].p1, para->rects[detection][i].p2};
        } else if (rp.roi_shape == ShapeCircle) {
            type = 1;
            pts = {para->circles[detection][i].centre};
            // The radii as they are: masking them would tell the client a different ring.
            inner = para->circles[detection][i].inner;
            outer = para->circles[detection][i].outer;
        } else if (rp.roi_shape == ShapePolygon) {
            type = 2;
            pts = para->polys[detection][i].points;
        }
        ADD(ro, "roi_type", type);
        ADD(ro, "top_point_count", int(pts.size()));
        for (size_t k = 0; k < pts.size(); ++k) {
            ADD(ro, QByteArray("top_%1_x").replace("%1", QByteArray::number(qulonglong(k))).constData(), pts[k].x);
            ADD(ro, QByteArray("top_%1_y").replace("%1", QByteArray::number(qulonglong(k))).constData(), pts[k].y);
        }
        ADD(ro, "in_r", inner);
        ADD(ro, "out_r", outer);
    }
    queue(8, print(r));
}

// 10 --------------------------------------------------------------------------
void CNT_Net::CNT_SendManualStop()
{
    const int state = sources.state ? sources.state() : 2;
    const QDateTime t = now();
    if (state == 1) {
        m_stop.utc = t.toMSecsSinceEpoch();
        m_stop.timeslot = QStringLiteral("%1---:--").arg(t.toString("hh:mm"));
    } else if (state == 0 && m_stop.timeslot.contains("--:--")) {
        const QDateTime stopped = QDateTime::fromMSecsSinceEpoch(m_stop.utc);
        m_stop.timelen += int((t.toMSecsSinceEpoch() - m_stop.utc) / 60000);
        m_stop.timeslot = QStringLiteral("%1-%2").arg(stopped.toString("hh:mm"), t.toString("hh:mm"));
    }
    const QString op = gpWPara ? textOf(gpWPara->cnt_operator) : QStringLiteral("--");
    m_stop.operator_id = op;
    m_stop.disalarm_operator_id = op;
    Json o = object();
    cJSON* r = o.get();
    ADD(r, "device_id", m_deviceId);
    ADD(r, "state", state);
    ADD(r, "utc", m_stop.utc);
    ADD(r, "stop_check_timeslot", m_stop.timeslot);
    ADD(r, "stop_check_timelen", m_stop.timelen);
    ADD(r, "timeout_time", m_stop.timeout);
    ADD(r, "operator_id", m_stop.operator_id);
    ADD(r, "disalarm_operator_id", m_stop.disalarm_operator_id);
    ADD(r, "stop_check_reason", m_stop.reason);
    const QByteArray body = print(r);
    if (!sendable(10))
        return;
    writeWhole(kStopFile, body);
    queue(10, body);
}

void CNT_Net::InitManualStop()
{
    m_stop = CNT_Path_ManualStop();
    m_stop.utc = QDateTime(QDate(1970, 11, 12), QTime(13, 14, 15), Qt::UTC).toMSecsSinceEpoch();
    if (!QFile::exists(kStopFile))
        return;
    const Json root = readJson(kStopFile);
    const cJSON* r = root.get();
    CNT_Path_ManualStop m = m_stop;
    auto str = [r](const char* n, QString* out) {
        const cJSON* v = cJSON_GetObjectItemCaseSensitive(r, n);
        return cJSON_IsString(v) ? (*out = QString::fromUtf8(v->valuestring), true) : false;
    };
    auto num = [r](const char* n, auto* out) {
        const cJSON* v = cJSON_GetObjectItemCaseSensitive(r, n);
        return cJSON_IsNumber(v) ? (*out = decltype(+*out)(v->valuedouble), true) : false;
    };
    if (cJSON_IsObject(r) && num("utc", &m.utc) && str("stop_check_timeslot", &m.timeslot) &&
        num("stop_check_timelen", &m.timelen) && num("timeout_time", &m.timeout) &&
        str("operator_id", &m.operator_id) && str("disalarm_operator_id", &m.disalarm_operator_id) &&
        str("stop_check_reason", &m.reason)) {
        m.valid = true;
        m_stop = m;
        return;
    }
    NETLOG << "CNT: ManualStop unreadable, removed";
    QFile::remove(kStopFile);
}

// 12, 13 ----------------------------------------------------------------------
void CNT_Net::CNT_SendAddRemind(CNT_Path_Remind& rem)
{
    Json o = object();
    cJSON* r = o.get();
    ADD(r, "device_id", m_deviceId);
    ADD(r, "utc", rem.utc);
    ADD(r, "notification_utc", rem.notification_utc);
    ADD(r, "duration", rem.duration);
    ADD(r, "description", rem.description);
    ADD(r, "operator_id", rem.operator_id);
    Json file = readJson(kRemindFile);
    if (!cJSON_IsArray(cJSON_GetObjectItemCaseSensitive(file.get(), "remind"))) {
        file = object();
        cJSON_AddArrayToObject(file.get(), "remind");
    }
    cJSON_AddItemToArray(cJSON_GetObjectItemCaseSensitive(file.get(), "remind"), cJSON_Duplicate(r, true));
    writeWhole(kRemindFile, print(file.get()));
    queue(12, print(r));
}

void CNT_Net::CNT_SendDelRemind(qint64 utc)
{
    Json o = object();
    ADD(o.get(), "device_id", m_deviceId);
    ADD(o.get(), "utc", utc);
    Json file = readJson(kRemindFile);
    cJSON* arr = cJSON_GetObjectItemCaseSensitive(file.get(), "remind");
    if (cJSON_IsArray(arr)) {
        for (int i = cJSON_GetArraySize(arr) - 1; i >= 0; --i) {
            const cJSON* u = cJSON_GetObjectItemCaseSensitive(cJSON_GetArrayItem(arr, i), "utc");
            if (cJSON_IsNumber(u) && qint64(u->valuedouble) == utc)
                cJSON_DeleteItemFromArray(arr, i);
        }
        writeWhole(kRemindFile, print(file.get()));
    }
    queue(13, print(o.get()));
}

// 14, 15, 16, 17 --------------------------------------------------------------
void CNT_Net::CNT_SendGetProduct() { queue(14, {}); }
void CNT_Net::CNT_SendGetRemindList() { queue(17, {}); }

void CNT_Net::CNT_SendSaveNgVideo(int camera, int ng)
{
    if (!gpWPara || !gpWPara->cnt_ng_video || !gpWPara->cnt_video_source)
        return;
    QString product;
    {
        QMutexLocker l(&m_statLock);
        product = m_stat.product_name;
    }
    const QString body = QStringList{QStringLiteral("device_id=%1").arg(m_deviceId),
                                     QStringLiteral("camera_id=%1").arg(camera),
                                     QStringLiteral("product=%1").arg(product), QStringLiteral("isng=%1").arg(ng)}
                             .join('&');
    queue(15, body.toUtf8());
}

void CNT_Net::CNT_SendTelInfo(int detection, int count)
{
    if (!gpWPara || !gpWPara->cnt_tel_msg)
        return;
    const QString body = QStringList{QStringLiteral("device_id=%1").arg(m_deviceId),
                                     QStringLiteral("check_id=%1").arg(detection + 1),
                                     QStringLiteral("product_count=%1").arg(count),
                                     QStringLiteral("worker_name=%1").arg(textOf(gpWPara->cnt_msg_tech_name)),
                                     QStringLiteral("mobile=%1").arg(textOf(gpWPara->cnt_msg_tech_num))}
                             .join('&');
    queue(16, body.toUtf8());
}

// 18, 19, 20 ------------------------------------------------------------------
void CNT_Net::CNT_SendStatistics_Once(const QList<param_roi>& results, bool ng, int method)
{
    m_bindUtc = utcNow();
    const char* how = textFor(method, {{-2, "模腔手动抓拍"}, {-1, "成品手动抓拍"}, {1, "开模到位"}, {2, "安全门"}, {3, "顶针"}});
    Json o = object();
    cJSON* r = o.get();
    ADD(r, "device_id", m_deviceId);
    ADD(r, "utc", m_bindUtc);
    ADD(r, "state", sources.stateText ? sources.stateText() : stateText(2));
    ADD(r, "detect_method", how);
    ADD(r, "product_name", gpWPara ? textOf(gpWPara->cnt_pro_name) : QString());
    ADD(r, "product_serial", gpWPara ? QString::number(gpWPara->cnt_product_serial) : QString());
    ADD(r, "product_num", gpWPara ? gpWPara->cnt_products_num : 0);
    ADD(r, "product_moldcavity", gpWPara ? gpWPara->cnt_cavities : 0);
    ADD(r, "product_operator", gpWPara ? textOf(gpWPara->cnt_operator) : QString());
    ADD(r, "result", ng ? 1 : 0);
    cJSON* arr = cJSON_AddArrayToObject(r, "array");
    const int cams = sources.cameras ? sources.cameras() : 0;
    QList<int> order;
    for (const param_roi& p : results)
        if (p.camera_id >= 0 && p.camera_id < cams && !order.contains(p.camera_id))
            order.append(p.camera_id);
    for (int c : order) {
        cJSON* co = cJSON_CreateObject();
        cJSON_AddItemToArray(arr, co);
        ADD(co, "camera_id", c + 1);
        ADD(co, "device_ng", qint64(sources.failNum ? sources.failNum(c) : 0));
        ADD(co, "device_all", qint64(sources.allNum ? sources.allNum(c) : 0));
        cJSON* darr = cJSON_AddArrayToObject(co, "detect_array");
        for (int d = 0; d <= 4; ++d) {
            cJSON* dobj = nullptr;
            for (const param_roi& p : results) {
                if (p.camera_id != c || p.detect_id != d)
                    continue;
                if (!dobj) {
                    dobj = cJSON_CreateObject();
                    cJSON_AddItemToArray(darr, dobj);
                    ADD(dobj, "detect_id", d + 1);
                    cJSON_AddArrayToObject(dobj, "roi_array");
                }
                cJSON* ro = cJSON_CreateObject();
                cJSON_AddItemToArray(cJSON_GetObjectItemCaseSensitive(dobj, "roi_array"), ro);
                ADD(ro, "roi_id", p.roi_id + 1);
                ADD(ro, "algorithm_type", p.algorithm_type);
                ADD(ro, "algorithm_result", p.algorithm_result);
                ADD(ro, "algorithm_premin", p.algorithm_premin);
                ADD(ro, "algorithm_premax", p.algorithm_premax);
                ADD(ro, "is_alarm", p.is_alarm);
            }
        }
    }
    queue(18, print(r));
}

void CNT_Net::CNT_SendRunState()
{
    Json o = object();
    ADD(o.get(), "device_id", m_deviceId);
    ADD(o.get(), "state", sources.stateText ? sources.stateText() : stateText(2));
    ADD(o.get(), "utc", utcNow());
    queue(19, print(o.get()));
}

void CNT_Net::CNT_SendCancle()
{
    const char* how = textFor(cancelMethod, {{0, "不检测此模解除"}, {1, "添加为模板解除"}, {2, "重新检测切换到模腔检测"},
                                             {3, "进行重检检测"}, {4, "重检检测OK"}});
    Json o = object();
    cJSON* r = o.get();
    ADD(r, "device_id", m_deviceId);
    ADD(r, "bind_utc", m_bindUtc);
    ADD(r, "utc", utcNow());
    ADD(r, "method", how);
    ADD(r, "product_operator", gpWPara ? textOf(gpWPara->cnt_operator) : QString());
    queue(20, print(r));
}

void CNT_Net::ResetStatistics()
{
    QFile::remove(kStatFile);
    QFile::remove(kStopFile);
    for (const char* d : {"./cnt_net/cnt_alarmimage", "./cnt_net/cnt_tempimage", "./cnt_net/cnt_fail"})
        QDir(d).removeRecursively();
    InitStatistics();
    InitManualStop();
}
