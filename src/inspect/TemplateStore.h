#pragma once
// The templates and ignore images of one camera: per detection a fixed number
// of slots (slot 0 the base template) and an ignore image, kept on disk as
// "./cammer<c><d>/template<k>.bmp" and "./cammer<c><d>/ignorepoint.bmp".
// A slot holds a frame only while it is used.
#include <QString>
#include <QStringList>
#include <opencv2/core.hpp>
#include <functional>
#include <vector>

// Writes img as BMP (grey frames 8-bit with the grey table), whole or not at all.
bool WriteBmp(const QString& path, const cv::Mat& img);

class TemplateStore {
public:
    // slotCount = gTempNum; frames are width x height, 8-bit grey or 4-byte colour.
    TemplateStore(int cameraIndex, int slotCount, int width, int height, bool colour);

    // What an editor operation tells the operator and writes in the record.
    struct Outcome {
        bool ok = false;
        int message = 0;        // message number to show (0: none)
        QStringList args;       // its arguments
        QString record;         // operation-record line (empty: none)
        int slot = -1;          // the slot written, where one was
    };
    struct AlarmedRegion {
        int score = 0;
        std::vector<cv::Rect> rects;
    };

    QString dir(int d) const;
    QString templatePath(int d, int k) const;
    QString ignorePath(int d) const;

    // Reads every slot of detection d (a missing or mismatched file leaves the
    // slot free; a free base becomes the centre-white frame) and its ignore image.
    void Load(int d);
    void LoadAll();
    bool LoadIgnorePoint(int d);
    bool SaveIgnorePoint(int d);

    int slotCount() const { return m_slots; }
    bool used(int d, int k) const;
    int usedCount(int d) const;
    const cv::Mat& slot(int d, int k) const { return m_frames[size_t(d)][size_t(k)]; }
    cv::Mat& ignore(int d) { return m_ignore[size_t(d)]; }
    const cv::Mat& ignore(int d) const { return m_ignore[size_t(d)]; }
    bool colour() const { return m_colour; }
    // The base of detection d is the centre-white stand-in, no picture yet.
    bool baseIsSynthetic(int d) const { return d >= 0 && d < 8 && m_synthetic[size_t(d)]; }
    cv::Size size() const { return {m_w, m_h}; }
    // Bytes held by the slots in use (for the memory check).
    size_t heldBytes() const;

    // Editor operations; each returns what to show and what to record.
    Outcome AddTemplate(int d, const cv::Mat& frame);
    Outcome DeleteCurrent(int d, int k);
    Outcome DeleteAll();
    Outcome SaveReTrainImage(int d, const cv::Mat& frame);
    Outcome IgnoreAlarmPoints(int d, const std::vector<AlarmedRegion>& ngRegions, const cv::Mat& alarmImage);
    Outcome DeleteIgnorePoints(int d);
    // File time of a template as "yyyy-MM-dd hh.mm.ss" (empty when there is none).
    QString GetTempTIme(int d, int k) const;

    // Announcements to the service link (set when it is on).
    std::function<void(const QString& absolutePath)> announceSaved;
    std::function<void(int camera, int detection, const QString& name)> announceDeleted;

    static constexpr int kIgnoreLimit = 2000;

private:
    bool writeImage(const QString& path, const cv::Mat& img);
    bool saveSlot(int d, int k);
    void freeSlot(int d, int k);

    int m_cam, m_slots, m_w, m_h;
    bool m_colour;
    std::vector<std::vector<cv::Mat>> m_frames;  // [detection][slot], empty when free
    std::vector<cv::Mat> m_ignore;
    std::vector<bool> m_synthetic;
};
