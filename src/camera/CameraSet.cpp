#include "CameraSet.h"

#include "Detection.h"
#include "GenicamCamera.h"
#include "GigE.h"
#include "Host.h"
#include "Messages.h"
#include "MindCamera.h"
#include "OperationRecord.h"
#include "ParamDb.h"
#include "SimCamera.h"
#include "StartupFiles.h"
#include "UsbCamera.h"
#include "WizardPara.h"

#include "CameraApi.h"
#include "DVPCamera.h"
#include "MvCameraControl.h"
#include "ueye.h"

#include <QThread>
#include <QtDebug>
#include <cstring>
#include <system_error>

CameraManager* gpCameras = nullptr;

namespace {
std::unique_ptr<CameraDevice> makeDevice(int index, int kind)
{
    if (kind == kKindNone) {
        const QString replay = SimCamera::replaySource();
        const ReplaySetup s = ReplayCameras(replay);
        return std::make_unique<SimCamera>(index, replay.isEmpty() ? QString() : s.sources.value(index));
    }
    return CreateCameraDevice(kind, index);
}
} // namespace

// --- one camera ---------------------------------------------------------------------
CammerView::CammerView(int index, int kind, const WizardPara&) : para(index), paraEdit(index), m_index(index)
{
    m_device = makeDevice(index, kind);
    para.LoadDatafromFile();
    paraEdit = para;
}

CammerView::~CammerView()
{
    if (m_device)
        m_device->CameraClose();
}

void CammerView::SetUpInspection(const WizardPara& wp)
{
    if (recong)
        return;
    store = std::make_unique<TemplateStore>(m_index, gTempNum, gImageW, gImageH, gisColor != 0);
    store->LoadAll();
    recong = std::make_unique<CammerRecong>(&para, store.get(), &wp);
}

bool CammerView::TakeFrame()
{
    if (!CameraDevice::TakeFrame(m_index, m_working, &frameSeq, &frameArrivedMs))
        return false;
    ++frames;
    // The mean grey for the display and the exposure: every 7th byte is plenty,
    // and the whole frame would cost the tick a millisecond.
    const size_t n = std::min(m_working.size(), size_t(std::max(0, gImageLen)));
    if (n) {
        quint64 sum = 0, count = 0;
        for (size_t i = 0; i < n; i += 7, ++count)
            sum += m_working[i];
        brightness = double(sum) / double(count);
    }
    return true;
}

cv::Mat CammerView::frame() const
{
    if (m_working.size() != CameraDevice::frameBytes() || m_working.empty())
        return {};
    return cv::Mat(gImageH, gImageW, gisColor ? CV_8UC4 : CV_8UC1, const_cast<unsigned char*>(m_working.data()));
}

// --- all cameras --------------------------------------------------------------------
CameraManager::CameraManager(QObject* parent) : QObject(parent)
{
    if (!gpCameras)
        gpCameras = this;
}

CameraManager::~CameraManager()
{
    if (m_recount.valid())
        m_recount.wait();
    m_views.clear();
    if (gpCameras == this)
        gpCameras = nullptr;
}

void CameraManager::BuildViews(const WizardPara& wp)
{
    m_wp = &wp;
    m_views.clear();
    for (int i = 0; i < kMaxCameras; ++i)
        std::snprintf(gSerialNB[i], sizeof gSerialNB[i], "%s", wp.serialNB[i][0] ? wp.serialNB[i] : "0");
    numCamera = 0;
    const int count = std::clamp(gFindCamera, 1, kMaxCameras);
    for (int i = 0; i < count; ++i) {
        auto v = std::make_unique<CammerView>(i, gCameraID, wp);
        if (v->device() && v->device()->CameraOpen())
            ++numCamera;
        if (v->opened() || i == 0)
            v->SetUpInspection(wp);
        m_views.push_back(std::move(v));
    }
    for (auto& v : m_views)
        if (v->opened())
            v->device()->CameraStart();
}

void CameraManager::ApplySpeed() { CameraSetSpeed(devices()); }

CammerView* CameraManager::view(int index) const
{
    return index >= 0 && index < int(m_views.size()) ? m_views[size_t(index)].get() : nullptr;
}

std::vector<CameraDevice*> CameraManager::devices() const
{
    std::vector<CameraDevice*> out;
    for (const auto& v : m_views)
        if (v->device())
            out.push_back(v->device());
    return out;
}

bool CameraManager::SaveSN(int clear)
{
    QStringList values(kMaxCameras, QStringLiteral("0"));
    QStringList lines;
    if (!clear) {
        for (const auto& v : m_views) {
            if (!v->opened())
                continue;
            const int target = std::clamp(gCamNO[v->index()], 0, kMaxCameras - 1);
            const QString sn = v->device()->serialNumber();
            values[target] = sn.isEmpty() ? QStringLiteral("0") : sn;
            lines << QStringLiteral("Save SN %1: %2").arg(target + 1).arg(values[target]);
        }
    }
    QList<QPair<QString, QString>> rows;
    for (int i = 0; i < kMaxCameras; ++i)
        rows.append({QStringLiteral("serialNB%1").arg(i), values[i]});
    if (!paramdb::writeValues(paramdb::serialDb(), "sysparam", rows, true)) {
        OperationRecord::instance().InsertRecord(LanStr(1700));
        emit serialsNotSaved();
        return false;
    }
    for (const QString& l : lines)
        OperationRecord::instance().InsertRecord(l);
    return true;
}

int CameraManager::SetCameraOrder(const QList<int>& order, int* repeated)
{
    for (int i = 0; i < order.size(); ++i)
        for (int j = i + 1; j < order.size(); ++j)
            if (order[i] == order[j]) {
                if (repeated)
                    *repeated = order[i] + 1;
                return 1327;
            }
    for (int i = 0; i < order.size() && i < kMaxCameras; ++i)
        gCamNO[i] = std::clamp(order[i], 0, kMaxCameras - 1);
    SaveSN(0);
    return 0;
}

int CameraManager::countNow(int kind)
{
    if (recount)
        return recount(kind);
    switch (kind) {
    case kKindIds: {
        INT n = 0;
        return is_GetNumberOfCameras(&n) == IS_SUCCESS ? n : -1;
    }
    case kKindMind: {
        int n = 12;
        std::memset(gCList, 0, sizeof gCList);
        return CameraEnumerateDevice(gCList, &n) == CAMERA_STATUS_SUCCESS ? n : -1;
    }
    case kKindHik: {
        EnsureDeviceReach();
        static MV_CC_DEVICE_INFO_LIST list{};
        return MV_CC_EnumDevices(MV_GIGE_DEVICE | MV_USB_DEVICE, &list) == MV_OK ? int(list.nDeviceNum) : -1;
    }
    case kKindUsb:
        return CheckUSBCameraNum();
    case kKindDvp: {
        dvpUint32 n = 0;
        return dvpRefresh(&n) == DVP_STATUS_OK ? int(n) : -1;
    }
    case kKindGenicam:
        return GenicamCamera::Count();
    default:
        return -1;  // Daheng and simulation are never counted again
    }
}

void CameraManager::SupervisionTick()
{
    const bool external = m_wp && m_wp->use_external_trigger;
    for (auto& v : m_views) {
        if (!v->opened())
            continue;
        const bool moved = v->frames != v->framesAtTick;
        v->fps = int(v->frames - v->framesAtTick);
        v->framesAtTick = v->frames;
        if (external || moved) {
            v->stall = 0;
            continue;
        }
        if (++v->stall > 5) {
            v->stall = 0;
            CameraCheck(v->index(), true);
        }
    }
}

int CameraManager::countFor(int kind, bool* ready)
{
    *ready = true;
    if (kind != kKindHik)
        return countNow(kind);
    if (m_recount.valid() && m_recount.wait_for(std::chrono::seconds(0)) == std::future_status::ready) {
        const int n = m_recount.get();
        if (m_recountGen == m_lossGen)
            return n;
    }
    if (!m_recount.valid()) {
        m_recountGen = m_lossGen;
        try {
            m_recount = std::async(std::launch::async, [this, kind] { return countNow(kind); });
        } catch (const std::system_error& e) {
            // No thread to be had: count here rather than not at all.
            qWarning() << "camera recount: no thread (" << e.what() << "), counting on the cycle's thread";
            return countNow(kind);
        }
    }
    *ready = false;
    return -1;
}

void CameraManager::CameraCheck(int index, bool silent)
{
    if (gisLost)
        return;
    switch (gCameraID) {
    case kKindNone:
        return;  // simulation is never lost
    case kKindHik:
    case kKindDvp:
    case kKindGenicam:
        if (!silent) {
            bool ready = false;
            const int n = countFor(gCameraID, &ready);
            if (!ready)
                return;  // decided when the count is in
            if (n == numCamera) {
                // Still all there: the SDK's disconnect was transient.
                CameraDevice::connectionLost = false;
                return;
            }
        }
        break;
    default:
        break;  // Daheng, IDS, MindVision and USB: silence is a loss
    }
    gisLost = 1;
    ++gLost;
    ++m_lossGen;
    OperationRecord::instance().InsertRecord(LanStr(1009).arg(gLost).arg(index + 1));
    if (!detecting || detecting()) {
        if (prohibitClamping)
            prohibitClamping();
    }
    emit cameraLost(index, m_wp && m_wp->enable_camera_lost_alarm);
    for (auto& v : m_views)
        if (v->device()) {
            v->device()->CameraStop();
            v->device()->CameraClose();
        }
}

bool CameraManager::CameraRestart()
{
    if (!gisLost)
        return true;
    bool ready = false;
    const int n = countFor(gCameraID, &ready);
    if (!ready || n < 0 || n != numCamera)
        return false;  // try again next time
    gisLost = 0;
    for (auto& v : m_views)
        if (v->device() && v->device()->CameraOpen())
            v->device()->CameraStart();
    OperationRecord::instance().InsertRecord(LanStr(1601));
    emit camerasRecovered();
    int stillClosed = -1;
    for (auto& v : m_views) {
        v->stall = 0;
        if (!v->opened() && v->index() < numCamera)
            stillClosed = v->index();
    }
    if (stillClosed >= 0) {
        CameraCheck(stillClosed, true);  // a camera that cannot be opened is lost, whatever is listed
    } else {
        CameraDevice::connectionLost = false;
        ApplySpeed();
    }
    return !gisLost;
}

bool CameraManager::CheckCameraCount(bool replay, const std::function<int(const QString&)>& ask)
{
    if ((gCameraID != kKindNone || replay) && numCamera != 0) {
        const int recorded = m_wp ? m_wp->RecordedCameraCount() : 0;
        if (recorded > 0 && recorded != gFindCamera && ask(LanStr(360)) == 1) {
            SaveSN(1);
            if (flushAll)
                flushAll();
            platform::Host::instance().reboot();
            gRebootPending = true;
            return true;
        }
        return false;
    }
    gCameraID = kKindNone;
    numCamera = gFindCamera;
    if (ask(LanStr(134)) == 1)
        SaveSN(1);
    return false;
}

void CameraManager::ShutDownAfterLoss()
{
    if (!gisLost)
        return;
    OperationRecord::instance().InsertRecord(LanStr(1604));
    StopWTD();
    if (flushAll)
        flushAll();
    QThread::sleep(1);
    platform::Host::instance().powerOff();
}
