#pragma once
// The cameras of the station after detection: per camera index its device,
// its regions (live and edit copy), templates and recognition engine, and the
// frame the cycle works on; the serial record that keeps physical cameras at
// their indexes; loss of a camera and its recovery.
#include "CammerRecong.h"
#include "CammerSingleton.h"
#include "CameraDevice.h"
#include "TemplateStore.h"

#include <QObject>
#include <QStringList>
#include <functional>
#include <future>
#include <memory>
#include <opencv2/core.hpp>

class WizardPara;

// The non-widget half of a camera widget: what the cycle and the pages use.
class CammerView {
public:
    CammerView(int index, int kind, const WizardPara& wp);
    ~CammerView();

    int index() const { return m_index; }
    CameraDevice* device() const { return m_device.get(); }
    bool opened() const { return m_device && m_device->opened(); }
    // Builds templates and the engine (index 0 always, others once opened).
    void SetUpInspection(const WizardPara& wp);
    bool inspecting() const { return bool(recong); }

    // Takes a waiting frame into the working copy; counts it.
    bool TakeFrame();
    // The working copy as an image (grey, or 4-byte colour), no copy.
    cv::Mat frame() const;

    CammerSingleton para;
    CammerSingleton paraEdit;
    std::unique_ptr<TemplateStore> store;
    std::unique_ptr<CammerRecong> recong;

    // Frame bookkeeping of the main window, per camera.
    quint64 frames = 0;         // frames taken
    quint64 frameSeq = 0;       // station-wide sequence number of the working copy (0: none yet)
    qint64 frameArrivedMs = -1; // its arrival on the monotonic clock
    quint64 framesAtTick = 0;   // at the previous one-second tick
    int fps = 0;
    int stall = 0;              // silent one-second ticks
    double brightness = 0;      // mean of the last frame taken

private:
    int m_index;
    std::unique_ptr<CameraDevice> m_device;
    std::vector<unsigned char> m_working;
};

class CameraManager : public QObject {
    Q_OBJECT
public:
    explicit CameraManager(QObject* parent = nullptr);
    ~CameraManager() override;

    // Creates the views of indexes 0 .. found-1 (at most 8) and opens their
    // cameras; numCamera counts those opened; every opened camera and index 0
    // get their inspection. Then every opened camera starts.
    void BuildViews(const WizardPara& wp);
    // The capture speed to every camera (at the end of start-up).
    void ApplySpeed();

    CammerView* view(int index) const;
    int viewCount() const { return int(m_views.size()); }
    std::vector<CameraDevice*> devices() const;

    // Stores the serial of each opened camera i at index gCamNO[i] (clear:
    // all "0") in SN.db, with a record line per opened camera. False when the
    // rows could not be written (recorded and said).
    bool SaveSN(int clear);
    // The camera-order page's confirmation: order[i] = index (0..7) for opened
    // camera i. Refused with the repeated index's message when two cameras get
    // one index; otherwise gCamNO is set and SaveSN(0) runs. Returns 0 when
    // accepted, else the message number (1327) with *repeated = index from 1.
    int SetCameraOrder(const QList<int>& order, int* repeated);
    // After start-up: with cameras, a found count that differs from the
    // recorded one asks whether to re-register (yes: serials cleared, flushed,
    // reboot through the host; returns true). Without cameras, the no-camera
    // question (yes: serials cleared). replay: pictures stand for cameras.
    bool CheckCameraCount(bool replay, const std::function<int(const QString&)>& ask);

    // --- loss and recovery ---
    // The one-second tick: frames per second; a camera silent for six ticks
    // (never with the external trigger) is checked.
    void SupervisionTick();
    // Decides whether cameras are lost (by kind) and acts. A camera whose
    // stream went silent (silent) is lost whatever its SDK still enumerates:
    // a camera that is listed but sends nothing cannot vouch for the mould.
    void CameraCheck(int index, bool silent = false);
    // Counts the cameras again; reopens all when the count is numCamera.
    // Returns true when recovered.
    bool CameraRestart();
    // "Shut Down" on the camera-lost box: recorded, then counters and
    // databases closed and the computer switched off through the host.
    void ShutDownAfterLoss();

    // Installed by the station: whether it is detecting, how clamping is
    // prohibited at once (output 1 set and published), and what closes the
    // databases before a power-off.
    std::function<bool()> detecting;
    std::function<void()> prohibitClamping;
    std::function<void()> flushAll;
    // Tests: the recount a kind reports (default: its SDK).
    std::function<int(int kind)> recount;
    // A Hikvision recount (address repair, pings, access probes) runs on a
    // thread of its own; the checks decide once its count is in.
    bool recountPending() const { return m_recount.valid(); }

signals:
    // The box to show: with the camera-lost alarm on, "camera disconnect" with
    // "Shut Down"; otherwise the camera-unavailable warning.
    void cameraLost(int index, bool alarmBox);
    void camerasRecovered();
    void serialsNotSaved();

private:
    int countNow(int kind);
    // The count of kind: at once, or for Hikvision the count of a finished
    // background recount (*ready false while none is in: one is started).
    int countFor(int kind, bool* ready);
    std::future<int> m_recount;
    // A count started before the last loss says nothing about the cameras since.
    int m_recountGen = 0, m_lossGen = 0;

    std::vector<std::unique_ptr<CammerView>> m_views;
    const WizardPara* m_wp = nullptr;
};

extern CameraManager* gpCameras;
