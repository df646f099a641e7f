#pragma once
// The NG and OK picture archive: the cycle renders a judged frame with its
// regions and results into a pending-picture table; SaveFialImageThread
// writes the pending pictures as JPEG into "./alarmimage/camera<c>/detect<d>/NG"
// or "OK" (camera and detection from 1), keeps each folder within its limit,
// and announces every picture it wrote. Files are written whole or not at
// all (a power cut leaves no half picture), and never on the cycle's thread.
#include "CammerRecong.h"
#include "CammerSingleton.h"

#include <QImage>
#include <QString>
#include <QThread>
#include <atomic>
#include <functional>
#include <opencv2/core.hpp>

class WizardPara;

// The pending-picture table, guarded by pMutexSaveFail: slot 0 the NG
// picture, slot 1 the OK picture of each camera and detection.
extern QImage gpFailImage[8][8][2];
extern unsigned char gisSaveFail[8][8][2];
extern int gFailIndex[8][8];  // first NG region (from 1) of the last NG picture, 0 none
// Pictures replaced in the table before the writer took them (lost, and warned).
extern std::atomic<quint64> gArchiveReplaced;

// The last three NG frames of each camera and detection (cycle thread only),
// offered by the region editor beside the templates.
struct NgRing {
    cv::Mat frames[3];
    quint32 n = 0;
    void add(const cv::Mat& frame);
    // i = 0 the newest, 1 the one before, 2 the oldest; empty when not filled.
    cv::Mat recent(int i) const;
};
extern NgRing gNgRing[8][8];

QString ArchiveFolder(int camera, int detection, bool ng);

// Renders frame (grey, or 4-byte colour) with the regions of detection d and
// the engine's last results into the pending slot (0 NG, 1 OK). doorTrigger
// adds the safety-door caption. Returns false when the frame cannot be used.
bool SaveFailImage(int camera, int d, int slot, const cv::Mat& frame, const CammerSingleton& para,
                   const CammerRecong& engine, const WizardPara& wp, bool doorTrigger);
// The picture-save state of one camera and detection in a cycle; SaveOk,
// SaveNg and SaveBoth become the writer's flags.
namespace SaveState {
enum : int {
    None = 0,
    Pending = 1,            // the detection is to be judged in this cycle
    SaveOk = 2,
    NgHeld = 3,             // NG picture of an alarm, written once the alarm is cleared
    NgDontDetect = 4,       // ... cleared by "Don't Detect"
    NgAddedAsTemplate = 5,  // ... cleared by adding the picture as a template
    NgSwitchedToMould = 6,  // ... cleared by the switch to the mould detection
    NgRedetecting = 7,      // ... being re-detected
    NgRedetectedOk = 8,     // ... re-detected OK: the OK picture follows
    SaveNg = 9,
    SaveBoth = 10,
};
}
// Stamps the alarm-clearing caption of save state `state` onto the pending
// picture of the slot; returns the next save state (unchanged for others).
int UpdateFailImage(int camera, int d, int slot, int state);
// Sets the pending flags of a camera and detection (under the lock).
void MarkForSaving(int camera, int d, bool ng, bool ok);

class SaveFialImageThread : public QThread {
    Q_OBJECT
public:
    // cameras: the folders scanned for the running number.
    SaveFialImageThread(int cameras, int ngLimit, int okLimit, QObject* parent = nullptr);
    ~SaveFialImageThread() override;
    void stop();

    // The running number at start: 100000, or the highest leading number of
    // any stored picture, plus 100.
    static quint64 Renumber(int cameras);
    quint64 nextNumber() const { return m_number; }

    // Called on the writer thread for every picture written (absolute path).
    std::function<void(const QString& path)> written;
    // One pass over the table (what run() repeats); for tests.
    void writePending();

    // Pause after each picture (the disk's rest): 200 ms, 1 s after an NG
    // written together with an OK.
    int pauseMs = 200;

    std::atomic<quint64> writes{0};
    std::atomic<quint64> failures{0};
    // Tests: the thread that did the last write.
    std::atomic<Qt::HANDLE> lastWriter{nullptr};

protected:
    void run() override;

private:
    bool writeOne(const QImage& img, const QString& folder, int limit);

    int m_cameras, m_ngLimit, m_okLimit;
    std::atomic<quint64> m_number;
    std::atomic<bool> m_stop{false};
};

extern SaveFialImageThread* gpSaveFialImageThread;
