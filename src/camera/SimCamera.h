#pragma once
// Kind 0: no camera. Without STATION_CAMERA it delivers nothing; with
// STATION_CAMERA=replay:<folder or video> it replays those pictures in name
// order, looping, resized to the working size, at the capture speed. A single
// picture is a scene: delivered at the capture speed and read again whenever
// the file is replaced, so a test or the demo decides what the camera sees.
#include "CameraDevice.h"

#include <QString>
#include <QStringList>
#include <memory>
#include <opencv2/core.hpp>

class VideoFile;

class SimCamera : public CameraDevice {
public:
    // source: a folder of pictures or a video file; empty for no frames.
    SimCamera(int index, const QString& source);
    ~SimCamera() override;

    bool threadPass() override;
    void speedKind(int speed) override;
    // Frames per second of the replay for a capture speed.
    static int fps(int speed) { return speed > 0 ? speed : 1; }
    // The replay source named by STATION_CAMERA, or empty.
    static QString replaySource();
    static const QStringList& pictureFilters();
    static bool isPicture(const QString& path);
    // Frames the replay has tried to produce (delivered or not).
    quint64 tries() const { return m_tries; }

protected:
    bool openKind() override;
    void closeKind() override;
    void exposeKind(const WizardPara& p) override;
    void gainKind(const WizardPara& p) override;

private:
    bool nextFrame(std::vector<unsigned char>& out);
    int light(const WizardPara& p) const;

    QString m_source;
    QStringList m_files;
    int m_next = 0;
    std::unique_ptr<VideoFile> m_video;
    bool m_scene = false;
    QString m_sceneStamp;
    cv::Mat m_sceneFrame;
    std::atomic<int> m_periodMs{83};
    int m_openLight = 1;
    std::atomic<int> m_gainPercent{100};
    qint64 m_lastMs = 0;
    std::atomic<quint64> m_tries{0};
};
