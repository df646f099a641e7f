#include "Ffmpeg.h"

#include "Globals.h"
#include "VideoFile.h"

#include <QtDebug>
#include <mutex>

void RegisterFfmpeg()
{
    static std::once_flag once;
    std::call_once(once, [] {
        avdevice_register_all();
        avformat_network_init();
    });
}

cv::Mat avframe_to_cvmat(AVFrame* frame, bool colour)
{
    const AVPixelFormat target = colour ? AV_PIX_FMT_BGR24 : AV_PIX_FMT_GRAY8;
    cv::Mat m(frame->height, frame->width, colour ? CV_8UC3 : CV_8UC1);
    SwsContext* sws = sws_getContext(frame->width, frame->height, AVPixelFormat(frame->format), frame->width,
                                     frame->height, target, SWS_FAST_BILINEAR, nullptr, nullptr, nullptr);
    if (!sws)
        return {};
    uint8_t* dst[4] = {m.data, nullptr, nullptr, nullptr};
    int lines[4] = {int(m.step[0]), 0, 0, 0};
    sws_scale(sws, frame->data, frame->linesize, 0, frame->height, dst, lines);
    sws_freeContext(sws);
    return m;
}

VideoFile::~VideoFile() { close(); }

void VideoFile::close()
{
    av_frame_free(&m_frame);
    av_packet_free(&m_pkt);
    avcodec_free_context(&m_dec);
    if (m_fmt)
        avformat_close_input(&m_fmt);
    m_stream = -1;
}

bool VideoFile::open(const QString& path)
{
    close();
    RegisterFfmpeg();
    if (avformat_open_input(&m_fmt, path.toLocal8Bit().constData(), nullptr, nullptr) < 0)
        return false;
    if (avformat_find_stream_info(m_fmt, nullptr) < 0) {
        close();
        return false;
    }
    for (unsigned i = 0; i < m_fmt->nb_streams; ++i)
        if (m_fmt->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO)
            m_stream = int(i);
    const AVCodec* codec = m_stream >= 0 ? avcodec_find_decoder(m_fmt->streams[m_stream]->codecpar->codec_id) : nullptr;
    if (!codec || !(m_dec = avcodec_alloc_context3(codec)) ||
        avcodec_parameters_to_context(m_dec, m_fmt->streams[m_stream]->codecpar) < 0 ||
        avcodec_open2(m_dec, codec, nullptr) < 0) {
        close();
        return false;
    }
    m_pkt = av_packet_alloc();
    m_frame = av_frame_alloc();
    return true;
}

cv::Mat VideoFile::next(bool loop)
{
    if (!m_fmt)
        return {};
    for (int guard = 0; guard < 10000; ++guard) {
        if (avcodec_receive_frame(m_dec, m_frame) == 0) {
            cv::Mat m = avframe_to_cvmat(m_frame, gisColor != 0);
            av_frame_unref(m_frame);
            return m;
        }
        const int r = av_read_frame(m_fmt, m_pkt);
        if (r < 0) {
            if (!loop)
                return {};
            // Start again: drain the decoder, rewind.
            avcodec_flush_buffers(m_dec);
            if (av_seek_frame(m_fmt, m_stream, 0, AVSEEK_FLAG_BACKWARD) < 0)
                return {};
            continue;
        }
        if (m_pkt->stream_index == m_stream)
            avcodec_send_packet(m_dec, m_pkt);
        av_packet_unref(m_pkt);
    }
    return {};
}
