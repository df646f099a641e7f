#pragma once
// A video file decoded frame by frame (the replay source of kind 0).
#include <QString>
#include <opencv2/core.hpp>

struct AVFormatContext;
struct AVCodecContext;
struct AVPacket;
struct AVFrame;

class VideoFile {
public:
    ~VideoFile();
    bool open(const QString& path);
    // The next picture (grey, or B, G, R with colour); at the end it starts
    // again from the beginning when loop is set. Empty when nothing decodes.
    cv::Mat next(bool loop);

private:
    void close();
    AVFormatContext* m_fmt = nullptr;
    AVCodecContext* m_dec = nullptr;
    AVPacket* m_pkt = nullptr;
    AVFrame* m_frame = nullptr;
    int m_stream = -1;
};
