#include "CameraDevice.h"

#include <QElapsedTimer>

#include "ImageLib.h"
#include "WizardPara.h"

#include <QtDebug>
#include <opencv2/imgproc.hpp>
#include <cstring>

int gOW = 0, gOH = 0;
int gSensorColor = 0;
char gSerialNB[kMaxCameras][100] = {};
int gContrast[kMaxCameras] = {};
std::atomic<bool> gisSettingsOpen{false};
std::atomic<bool> CameraDevice::connectionLost{false};

namespace {
std::atomic<quint64> gFrameSequence{0};
std::atomic<qint64> gClockAhead{0};
QElapsedTimer& monotonic()
{
    static QElapsedTimer t = [] {
        QElapsedTimer e;
        e.start();
        return e;
    }();
    return t;
}
} // namespace

quint64 CameraDevice::frameSequence() { return gFrameSequence.load(); }
qint64 CameraDevice::monotonicMs() { return monotonic().elapsed() + gClockAhead.load(); }
void CameraDevice::moveClockOn(qint64 ms) { gClockAhead += ms; }
CameraDevice* gCameraDevices[kMaxCameras] = {};

const WizardPara& CameraParams()
{
    static const WizardPara none;
    if (gisSettingsOpen && gpWParaBak)
        return *gpWParaBak;
    return gpWPara ? *gpWPara : none;
}

void CameraThread::run()
{
    QThread::msleep(300);
    while (runFlag) {
        if (m_dev->threadPass())
            QThread::msleep(10);
    }
}

size_t CameraDevice::frameBytes() { return size_t(std::max(0, gColorLen)); }

CameraDevice::CameraDevice(int index, int kind)
    : frameBuffer(frameBytes()), processedBuffer(size_t(4) * size_t(std::max(0, gImageLen))),
      m_index(index), m_kind(kind)
{
    if (index >= 0 && index < kMaxCameras)
        gCameraDevices[index] = this;
}

CameraDevice::~CameraDevice()
{
    if (m_index >= 0 && m_index < kMaxCameras && gCameraDevices[m_index] == this)
        gCameraDevices[m_index] = nullptr;
    if (m_thread) {
        m_thread->runFlag = false;
        m_thread->wait();
    }
}

bool CameraDevice::CameraOpen()
{
    if (m_opened)
        return true;  // a second open must not replace a running thread
    if (m_index >= gFindCamera)
        return false;
    if (!openKind())
        return false;
    m_opened = true;
    m_thread = std::make_unique<CameraThread>(this);
    CameraChangeTrig(true);
    SetAdjustPlus();
    SetExposeTime();
    SetContrast();
    SetSharp();
    SetGamma();
    SetHMirror();
    SetVMirror();
    return true;
}

void CameraDevice::CameraStart()
{
    if (!m_opened || m_thread->isRunning())
        return;
    startKind();
    m_thread->runFlag = true;
    m_thread->start(QThread::InheritPriority);
}

void CameraDevice::CameraStop()
{
    if (!m_opened)
        return;
    stopKind();
    if (m_thread) {
        m_thread->runFlag = false;
        m_thread->wait();
    }
}

void CameraDevice::CameraClose()
{
    if (!m_opened)
        return;
    m_opened = false;
    if (m_thread) {
        m_thread->runFlag = false;
        m_thread->wait();
        m_thread.reset();
    }
    closeKind();
}

void CameraDevice::CameraChangeTrig(bool restart)
{
    if (!m_opened)
        return;
    changeTrigKind(restart);
    // A frame grabbed under the old trigger mode is never used.
    QMutexLocker lock(pMutex[m_index]);
    isImageFill[m_index] = false;
}

void CameraDevice::SetExposeTime()
{
    if (!m_opened)
        return;
    exposeKind(CameraParams());
    SetWB();
}

void CameraDevice::SetAdjustPlus()
{
    if (!m_opened)
        return;
    gainKind(CameraParams());
    SetWB();
}

void CameraDevice::SetSharp()
{
    if (m_opened)
        sharpKind(CameraParams());
}

void CameraDevice::SetContrast()
{
    if (m_opened)
        contrastKind(CameraParams());
}

void CameraDevice::SetGamma()
{
    if (m_opened)
        gammaKind(CameraParams());
}

void CameraDevice::SetWB()
{
    if (m_opened && gisColor)
        whiteBalanceKind();
}

void CameraDevice::SetHMirror()
{
    if (m_opened)
        mirrorKind(0, CameraParams().h_mirror[m_index] != 0);
}

void CameraDevice::SetVMirror()
{
    if (m_opened)
        mirrorKind(1, CameraParams().v_mirror[m_index] != 0);
}

void CameraDevice::RestoreDefaultSettings()
{
    if (!m_opened)
        return;
    CameraStop();
    defaultsKind();
    CameraStart();
}

bool CameraDevice::deliver(const unsigned char* data, size_t len, Layout layout)
{
    const size_t pixels = size_t(std::max(0, gImageLen));
    if (!data || pixels == 0 || len != pixels * bytesOf(layout)) {
        if (m_refused++ == 0)
            qWarning() << "camera" << m_index + 1 << "delivered a frame of" << len << "bytes; a" << gImageW << "x"
                       << gImageH << "frame has" << pixels * bytesOf(layout) << "- refused";
        return false;
    }
    const Layout want = gisColor ? Layout::Bgra32 : Layout::Mono8;
    QMutexLocker stage(&m_stageMutex);
    const unsigned char* src = data;
    if (layout != want) {
        m_stage.resize(frameBytes());
        const cv::Mat in(gImageH, gImageW, layout == Layout::Mono8 ? CV_8UC1 : layout == Layout::Rgb24 ? CV_8UC3 : CV_8UC4,
                         const_cast<unsigned char*>(data));
        if (want == Layout::Bgra32 && layout == Layout::Mono8)
            Gray2RGBA(data, m_stage.data(), gImageW, gImageH);
        else if (want == Layout::Bgra32)
            RGB2RGBA(data, m_stage.data(), gImageW, gImageH);
        else {
            cv::Mat out(gImageH, gImageW, CV_8UC1, m_stage.data());
            cv::cvtColor(in, out, layout == Layout::Rgb24 ? cv::COLOR_BGR2GRAY : cv::COLOR_BGRA2GRAY);
        }
        src = m_stage.data();
    }
    QMutexLocker lock(pMutex[m_index]);
    std::memcpy(frameBuffer.data(), src, frameBuffer.size());
    frameSeq = ++gFrameSequence;
    frameArrivedMs = monotonicMs();
    isImageFill[m_index] = true;
    ++m_delivered;
    return true;
}

bool CameraDevice::TakeFrame(int index, std::vector<unsigned char>& out, quint64* seq, qint64* arrivedMs)
{
    bool waiting;
    {
        QMutexLocker lock(pMutex[index]);
        waiting = isImageFill[index];
    }
    if (!waiting)
        return false;
    CameraDevice* dev = gCameraDevices[index];
    if (!dev)
        return false;
    QMutexLocker lock(pMutex[index]);
    out.assign(dev->frameBuffer.begin(), dev->frameBuffer.end());
    if (seq)
        *seq = dev->frameSeq;
    if (arrivedMs)
        *arrivedMs = dev->frameArrivedMs;
    isImageFill[index] = false;
    return true;
}

void CameraSetSpeed(const std::vector<CameraDevice*>& cameras)
{
    for (CameraDevice* c : cameras) {
        if (!c || !c->opened())
            continue;
        c->CameraStop();
        c->speedKind(CameraParams().capture_speed);
        c->CameraStart();
    }
}
