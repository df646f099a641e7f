// The service link wired into the station: what the cycle, the record, the
// picture archive, the templates and the parameters report.
#include "CNT_Net.h"
#include "CammerSingleton.h"
#include "CameraDevice.h"
#include "CameraSet.h"
#include "Counters.h"
#include "DetectionCycle.h"
#include "DiVeZoruzo.h"
#include "Globals.h"
#include "ImageArchive.h"
#include "OperationRecord.h"
#include "WizardPara.h"

#include <QDir>
#include <QFileInfo>
#include <QPointer>
#include <glog/logging.h>

void DiVeZoruzo::buildServiceLink()
{
    m_net = new CNT_Net(this);
    if (!m_net->initialised())
        return;
    CNT_Net* net = m_net;
    NetSources& s = net->sources;
    s.state = [this] {
        const int r = m_cycle->runState();
        return r == DetectionCycle::Detecting ? 0 : r == DetectionCycle::Stopped ? 1 : 2;
    };
    s.stateText = [state = s.state] { return CNT_Net::stateText(state()); };
    s.cycleTenths = [this] { return m_cycle->cycleTenths(); };
    s.cameras = [] { return numCamera; };
    s.allNum = [](int c) { return c >= 0 && c < 8 ? gAllNum[c] : 0u; };
    s.failNum = [](int c) { return c >= 0 && c < 8 ? gFailNum[c] : 0u; };
    s.serial = [](int c) { return c >= 0 && c < kMaxCameras ? QString::fromLatin1(gSerialNB[c]) : QString(); };
    s.regions = [this](int c) -> const CammerSingleton* {
        CammerView* v = m_cameras->view(c);
        return v ? &v->para : nullptr;
    };
    s.frame = [this](int c) {
        CammerView* v = m_cameras->view(c);
        return v && v->opened() ? v->frame() : cv::Mat();
    };
    s.screen = [this] { return grab().toImage(); };

    // Hooks of objects that outlive this window hold the link weakly.
    const QPointer<CNT_Net> weak(net);
    OperationRecord::instance().setForwarder([weak](const QString&, const QString& level, const QString& text) {
        if (weak)
            weak->CNT_SendRecord(QDateTime::currentDateTime(), level, text);
    });
    WizardPara::savedHook = [weak] {
        if (weak)
            weak->CNT_SendParam();
    };
    CammerSingleton::savedHook = [weak](const CammerSingleton& saved) {
        for (int d = 0; weak && d < 8; ++d)
            if (saved.roi_count[d] > 0)
                weak->CNT_SendROIParam(saved, d);
    };

    CycleReports& r = m_cycle->reports();
    r.sendStatisticsOnce = [net](bool ng, int trigger) { net->CNT_SendStatistics_Once(g_listParamROI, ng, trigger); };
    r.sendSaveNgVideo = [net](int camera, int ng) { net->CNT_SendSaveNgVideo(camera, ng); };
    r.sendTelInfo = [net](int role, int regions) { net->CNT_SendTelInfo(role, regions); };
    r.addStatisticsItem = [net](int c, int d, int region) { net->ChkandAddStaticticsItem(c, d, region); };
    r.sendStatistics = [net](const QString& what) { net->CNT_SendStatistics(what); };
    r.addNgTimes = [net](qint64 ms) { net->CNT_AddNgTimes(int(std::min<qint64>(ms, INT_MAX))); };
    r.sendCancel = [net] {
        net->cancelMethod = 0;
        net->CNT_SendCancle();
    };
    r.sendManualStop = [net] { net->CNT_SendManualStop(); };

    // The archive writes on its own thread; the report is built on ours.
    m_archive->written = [net](const QString& path) {
        if (QFileInfo(path).dir().dirName() != QLatin1String("NG"))
            return;
        QMetaObject::invokeMethod(net, [net, path] {
            net->CNT_SendAlarmPic(path);
            net->CNT_SendStatistics("./" + QDir::current().relativeFilePath(path));
        }, Qt::QueuedConnection);
    };
    for (int c = 0; c < m_cameras->viewCount(); ++c) {
        CammerView* v = m_cameras->view(c);
        if (!v || !v->store)
            continue;
        v->store->announceSaved = [net](const QString& path) { net->CNT_SendTempPic(path); };
        v->store->announceDeleted = [net](int camera, int d, const QString& name) {
            net->CNT_SendDelTempPic(camera, d, name);
        };
    }
}

void DiVeZoruzo::startServiceLink()
{
    if (!m_net || !m_net->initialised() || !gpWPara->enable_cnt_net)
        return;
    if (gpWPara->cnt_video_source == 2)
        for (int c = 0; c < m_cameras->viewCount(); ++c)
            if (m_cameras->view(c) && m_cameras->view(c)->opened())
                m_net->CNT_AddUseMemory(c, gImageW, gImageH, true);
    m_net->CNT_FirstInit();
    m_net->restartClient("(start init) 'NetClinet' will restart...");
}
