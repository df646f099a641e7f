#pragma once
// Kind 9: a Video4Linux2 device through FFmpeg, with a filter graph that
// applies contrast, gamma and sharpness in software.
#include "CameraDevice.h"
#include "Ffmpeg.h"

#include <QByteArray>
#include <QMutex>
#include <atomic>
#include <string>

class UsbCamera : public CameraDevice {
public:
    explicit UsbCamera(int index);
    ~UsbCamera() override;

    // Where devices are found; tests point them at video files they made.
    static std::string inputFormat;   // "video4linux2"; empty: detect from the file
    static std::string devicePattern; // "/dev/video%d"

    // Builds the filter graph; called with the graph lock held.
    int init_filters(const char* description);
    bool threadPass() override;

    // The filter pieces, as text.
    QByteArray contrastPiece, gammaPiece, sharpPiece, tailPiece;
    QByteArray filterDescription() const { return contrastPiece + gammaPiece + sharpPiece + tailPiece; }
    QString openedDevice() const { return m_device; }

    static QByteArray contrastText(int p);
    static QByteArray gammaText(int p);
    static QByteArray sharpText(int p);

    // Reads that failed (the device gone or silent) since open.
    quint64 failedReads() const { return m_failedReads; }
    static constexpr int kReadTimeoutMs = 1000;

protected:
    bool openKind() override;
    void closeKind() override;
    void sharpKind(const WizardPara& p) override;
    void contrastKind(const WizardPara& p) override;
    void gammaKind(const WizardPara& p) override;
    void defaultsKind() override;

private:
    void rebuildGraph();

    AVFormatContext* m_fmt = nullptr;
    AVCodecContext* m_dec = nullptr;
    const AVCodec* m_codec = nullptr;
    int m_stream = -1;
    AVPacket* m_pkt = nullptr;
    AVFrame* m_frame = nullptr;
    AVFrame* m_filtered = nullptr;
    AVDictionary* m_options = nullptr;
    AVFilterGraph* m_graph = nullptr;
    AVFilterContext* m_src = nullptr;
    AVFilterContext* m_sink = nullptr;
    QString m_device;
    // Guards the decoder and the filter graph (not the read, which may wait).
    QMutex m_graphMutex;
    std::atomic<qint64> m_readDeadline{0};
    int m_backoffMs = 5;
    std::atomic<quint64> m_failedReads{0};
    static int interruptRead(void* self);
};
