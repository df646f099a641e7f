#pragma once
// The camera side of a camera widget: one device per camera index, opened,
// configured, started, stopped and closed through its kind's SDK, delivering
// whole frames into its frame buffer for the detection cycle.
//
// Hand-off: a producer locks the index's pMutex, writes a whole frame into
// the frame buffer, sets isImageFill and unlocks. The consumer (TakeFrame)
// locks, reads the flag, unlocks; when it was set it locks again, copies the
// frame out, clears the flag and unlocks. A frame not taken is overwritten.
#include "Globals.h"

#include <QString>
#include <QThread>
#include <atomic>
#include <memory>
#include <vector>

class WizardPara;
class CameraDevice;

// Camera state fixed by detection at start-up.
extern int gOW, gOH;           // sensor size
extern int gSensorColor;       // 1: colour sensor
extern char gSerialNB[kMaxCameras][100];
extern int gContrast[kMaxCameras];  // Daheng software contrast, under pMutex
// While the settings page is open the setters read its edit copy.
extern std::atomic<bool> gisSettingsOpen;
const WizardPara& CameraParams();

class CameraThread : public QThread {
public:
    explicit CameraThread(CameraDevice* dev) : m_dev(dev) {}
    void run() override;
    std::atomic<bool> runFlag{false};

private:
    CameraDevice* m_dev;
};

class CameraDevice {
public:
    CameraDevice(int index, int kind);
    virtual ~CameraDevice();

    int index() const { return m_index; }
    int kind() const { return m_kind; }
    bool opened() const { return m_opened; }

    // Opens and configures (trigger mode, gain, exposure, contrast, sharpness,
    // gamma, mirrors); false leaves the index unopened. On a camera that is
    // open already it does nothing and returns true.
    bool CameraOpen();
    void CameraStart();
    // Stops acquisition and waits for the camera thread, so whatever comes
    // next (a start, a speed change, factory settings) reconfigures an idle SDK.
    void CameraStop();
    // Clears the opened byte, waits for the thread and releases the device.
    void CameraClose();
    void CameraChangeTrig(bool restart);
    void SetExposeTime();
    void SetAdjustPlus();
    void SetSharp();
    void SetContrast();
    void SetGamma();
    void SetWB();
    void SetHMirror();
    void SetVMirror();
    void RestoreDefaultSettings();

    // How a producer's frame is laid out: 8-bit grey, 3 bytes per pixel (in
    // the order RGB2RGBA reads), or the station's 4-byte colour.
    enum class Layout { Mono8, Rgb24, Bgra32 };
    static size_t bytesOf(Layout l) { return l == Layout::Mono8 ? 1 : l == Layout::Rgb24 ? 3 : 4; }
    // Producer side: one whole gImageW x gImageH frame of len bytes in the
    // given layout, converted to the station's (grey, or 4-byte colour with
    // grey widened). A frame of another size is refused, not copied; returns
    // whether the frame was taken.
    bool deliver(const unsigned char* data, size_t len, Layout layout);
    // Consumer side: copies a waiting frame of camera index into out, with its
    // sequence number and the monotonic time (ms) of its arrival.
    static bool TakeFrame(int index, std::vector<unsigned char>& out, quint64* seq = nullptr,
                          qint64* arrivedMs = nullptr);
    // Every delivered frame of every camera gets the next number of one
    // station-wide sequence: a frame is newer than a moment when its number is
    // above the sequence read at that moment (a reopened camera starts no count anew).
    static quint64 frameSequence();
    // The monotonic clock the arrival times are read from.
    static qint64 monotonicMs();
    // Long randomized runs move that clock on instead of waiting for it.
    static void moveClockOn(qint64 ms);

    // Frames delivered since open (for tests and the frame-rate display), and
    // frames refused for their size.
    quint64 delivered() const { return m_delivered; }
    quint64 refused() const { return m_refused; }
    // The connection-lost flag the SDK callbacks raise.
    static std::atomic<bool> connectionLost;

    // The serial the camera reports (for the serial record); empty where the
    // kind has none to tell.
    virtual QString serialNumber() const { return {}; }

    // One pass of the camera thread; returns false to skip the 10-ms sleep.
    virtual bool threadPass() { return true; }
    CameraThread* thread() const { return m_thread.get(); }

protected:
    // Kind hooks; the defaults do nothing.
    virtual bool openKind() = 0;
    virtual void startKind() {}
    virtual void stopKind() {}
    virtual void closeKind() {}
    virtual void changeTrigKind(bool) {}
    virtual void exposeKind(const WizardPara&) {}
    virtual void gainKind(const WizardPara&) {}
    virtual void sharpKind(const WizardPara&) {}
    virtual void contrastKind(const WizardPara&) {}
    virtual void gammaKind(const WizardPara&) {}
    virtual void whiteBalanceKind() {}
    virtual void mirrorKind(int, bool) {}
    virtual void defaultsKind() {}
public:
    virtual void speedKind(int) {}
protected:

public:
    // The frame size every kind delivers (gColorLen).
    static size_t frameBytes();
    std::vector<unsigned char> frameBuffer;    // guarded by pMutex[index]
    quint64 frameSeq = 0;                      // guarded by pMutex[index]
    qint64 frameArrivedMs = 0;                 // guarded by pMutex[index]
    std::vector<unsigned char> processedBuffer;

protected:
    int m_index, m_kind;
    std::atomic<bool> m_opened{false};
    std::atomic<quint64> m_delivered{0};
    std::atomic<quint64> m_refused{0};
    std::unique_ptr<CameraThread> m_thread;
    // Conversion to the station's layout happens here, outside the frame lock.
    QMutex m_stageMutex;
    std::vector<unsigned char> m_stage;
};

// The devices by camera index (null where none); GUI thread only changes it.
extern CameraDevice* gCameraDevices[kMaxCameras];

// Makes the device of a camera kind: 0 simulation or replay, 4 Daheng, 5 IDS,
// 6 MindVision, 7 Hikvision, 9 USB video, 12 dvp, 13 GenICam; null for any other.
std::unique_ptr<CameraDevice> CreateCameraDevice(int kind, int index);
// Applies the capture speed to every opened camera (stop, set, start).
void CameraSetSpeed(const std::vector<CameraDevice*>& cameras);
