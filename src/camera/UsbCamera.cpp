#include "UsbCamera.h"

#include "ImageLib.h"
#include "WizardPara.h"

#include <QDateTime>
#include <QThread>
#include <QtDebug>
#include <opencv2/imgproc.hpp>
#include <cstdio>
#include <cstring>

std::string UsbCamera::inputFormat = "video4linux2";
std::string UsbCamera::devicePattern = "/dev/video%d";

namespace {
QByteArray printed(const char* fmt, double v)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, fmt, v);
    return buf;
}
} // namespace

// Single-precision multipliers, printed with %f.
QByteArray UsbCamera::contrastText(int p) { return printed("eq=contrast=%f:", double(float(p) * 0.02f - 2.0f)); }
QByteArray UsbCamera::gammaText(int p) { return printed("gamma=%f,", double(float(p) * 0.0396f + 0.1f)); }
QByteArray UsbCamera::sharpText(int p) { return printed("unsharp=5:5:%f", double(float(p) * 0.05f)); }

UsbCamera::UsbCamera(int index) : CameraDevice(index, 9)
{
    const WizardPara& p = CameraParams();
    contrastPiece = contrastText(p.contrast[index]);
    gammaPiece = gammaText(p.gamma[index]);
    sharpPiece = sharpText(p.sharp[index]);
}

UsbCamera::~UsbCamera()
{
    if (m_thread) {
        m_thread->runFlag = false;
        m_thread->wait();
    }
    closeKind();
}

bool UsbCamera::openKind()
{
    RegisterFfmpeg();
    const AVInputFormat* ifmt = inputFormat.empty() ? nullptr : av_find_input_format(inputFormat.c_str());
    auto tryOpen = [&](int n) {
        char path[512];
        std::snprintf(path, sizeof path, devicePattern.c_str(), n);
        m_fmt = avformat_alloc_context();
        av_dict_free(&m_options);
        av_dict_set(&m_options, "framerate", "30", 0);
        if (avformat_open_input(&m_fmt, path, ifmt, &m_options) == 0) {
            m_device = QString::fromLocal8Bit(path);
            return true;
        }
        m_fmt = nullptr;  // freed by the failed open
        return false;
    };
    bool ok = tryOpen(m_index);
    for (int n = gFindCamera; !ok && n <= 63; ++n)
        ok = tryOpen(n);
    if (!ok) {
        av_dict_free(&m_options);
        return false;
    }
    bool good = avformat_find_stream_info(m_fmt, nullptr) >= 0;
    m_stream = -1;
    for (unsigned i = 0; good && i < m_fmt->nb_streams; ++i)
        if (m_fmt->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO)
            m_stream = int(i);  // the last video stream
    good = good && m_stream >= 0 && (m_codec = avcodec_find_decoder(m_fmt->streams[m_stream]->codecpar->codec_id));
    good = good && (m_dec = avcodec_alloc_context3(m_codec)) &&
           avcodec_parameters_to_context(m_dec, m_fmt->streams[m_stream]->codecpar) >= 0 &&
           avcodec_open2(m_dec, m_codec, nullptr) >= 0;
    if (!good) {
        avcodec_free_context(&m_dec);
        avformat_close_input(&m_fmt);
        av_dict_free(&m_options);
        return false;
    }
    m_frame = av_frame_alloc();
    m_filtered = av_frame_alloc();
    m_pkt = av_packet_alloc();
    m_fmt->interrupt_callback.callback = &UsbCamera::interruptRead;
    m_fmt->interrupt_callback.opaque = this;
    QMutexLocker lock(&m_graphMutex);
    init_filters(filterDescription().constData());
    return true;
}

int UsbCamera::init_filters(const char* description)
{
    const AVFilter* buffersrc = avfilter_get_by_name("buffer");
    const AVFilter* buffersink = avfilter_get_by_name("buffersink");
    AVFilterInOut* outputs = avfilter_inout_alloc();
    AVFilterInOut* inputs = avfilter_inout_alloc();
    AVFilterGraph* graph = avfilter_graph_alloc();
    int ret = 0;
    if (!outputs || !inputs || !graph || !m_dec) {
        ret = AVERROR(ENOMEM);
    } else {
        const AVRational tb = m_fmt->streams[m_stream]->time_base;
        char args[512];
        std::snprintf(args, sizeof args, "video_size=%dx%d:pix_fmt=%d:time_base=%d/%d:pixel_aspect=%d/%d", m_dec->width,
                      m_dec->height, m_dec->pix_fmt, tb.num, tb.den, m_dec->sample_aspect_ratio.num,
                      std::max(1, m_dec->sample_aspect_ratio.den));
        AVFilterContext* src = nullptr;
        AVFilterContext* sink = nullptr;
        ret = avfilter_graph_create_filter(&src, buffersrc, "in", args, nullptr, graph);
        if (ret < 0) {
            av_log(nullptr, AV_LOG_ERROR, "Cannot create buffer source\n");
        } else if ((ret = avfilter_graph_create_filter(&sink, buffersink, "out", nullptr, nullptr, graph)) < 0) {
            av_log(nullptr, AV_LOG_ERROR, "Cannot create buffer sink\n");
        } else {
            const AVPixelFormat fmts[] = {AV_PIX_FMT_GRAY8, AV_PIX_FMT_NONE};
            ret = av_opt_set_int_list(sink, "pix_fmts", fmts, AV_PIX_FMT_NONE, AV_OPT_SEARCH_CHILDREN);
            if (ret < 0)
                av_log(nullptr, AV_LOG_ERROR, "Cannot set output pixel format\n");
        }
        if (ret >= 0) {
            outputs->name = av_strdup("in");
            outputs->filter_ctx = src;
            outputs->pad_idx = 0;
            outputs->next = nullptr;
            inputs->name = av_strdup("out");
            inputs->filter_ctx = sink;
            inputs->pad_idx = 0;
            inputs->next = nullptr;
            ret = avfilter_graph_parse_ptr(graph, description, &inputs, &outputs, nullptr);
            if (ret >= 0)
                ret = avfilter_graph_config(graph, nullptr);
        }
        if (ret >= 0) {
            avfilter_graph_free(&m_graph);
            m_graph = graph;
            graph = nullptr;
            m_src = src;
            m_sink = sink;
        }
    }
    avfilter_inout_free(&inputs);
    avfilter_inout_free(&outputs);
    avfilter_graph_free(&graph);
    return ret;
}

void UsbCamera::rebuildGraph()
{
    if (!opened() || !m_dec)
        return;
    QMutexLocker lock(&m_graphMutex);
    const int r = init_filters(filterDescription().constData());
    if (r < 0)
        qWarning() << "camera" << m_index + 1 << "filter graph failed:" << r << filterDescription();
}

int UsbCamera::interruptRead(void* self)
{
    auto* cam = static_cast<UsbCamera*>(self);
    // A device that stops answering gives up its read: the thread must stay
    // able to stop, and the next pass backs off.
    return cam->m_readDeadline.load() > 0 && QDateTime::currentMSecsSinceEpoch() > cam->m_readDeadline.load() ? 1 : 0;
}

bool UsbCamera::threadPass()
{
    if (!m_fmt)
        return true;
    // Reading waits on the device; no lock is held while it does, so a
    // stalled camera never blocks the GUI thread's setters or the cycle.
    m_readDeadline = QDateTime::currentMSecsSinceEpoch() + kReadTimeoutMs;
    const int got = av_read_frame(m_fmt, m_pkt);
    m_readDeadline = 0;
    if (got < 0) {
        // Back off: 10 ms doubling to half a second, not a spinning core.
        m_backoffMs = std::clamp(m_backoffMs * 2, 10, 500);
        QThread::msleep(unsigned(m_backoffMs));
        ++m_failedReads;
        return false;
    }
    m_backoffMs = 5;
    if (m_pkt->stream_index != m_stream) {
        av_packet_unref(m_pkt);
        return false;
    }
    cv::Mat picture;
    {
        QMutexLocker graph(&m_graphMutex);
        if (avcodec_send_packet(m_dec, m_pkt) >= 0) {
            while (avcodec_receive_frame(m_dec, m_frame) == 0) {
                if (!m_src || av_buffersrc_add_frame_flags(m_src, m_frame, AV_BUFFERSRC_FLAG_KEEP_REF) < 0)
                    continue;
                while (av_buffersink_get_frame(m_sink, m_filtered) >= 0) {
                    cv::Mat m = avframe_to_cvmat(m_filtered, gisColor != 0);
                    av_frame_unref(m_filtered);
                    if (!m.empty())
                        picture = m;
                }
            }
        }
    }
    av_packet_unref(m_pkt);
    if (picture.empty())
        return true;
    // A device of another size than the working size is scaled to it.
    if (picture.cols != gImageW || picture.rows != gImageH)
        cv::resize(picture, picture, cv::Size(gImageW, gImageH));
    if (!picture.isContinuous())
        picture = picture.clone();
    deliver(picture.data, picture.total() * picture.elemSize(), picture.channels() == 3 ? Layout::Rgb24 : Layout::Mono8);
    return true;
}

void UsbCamera::closeKind()
{
    av_frame_free(&m_frame);
    av_frame_free(&m_filtered);
    av_packet_free(&m_pkt);
    avcodec_free_context(&m_dec);
    if (m_fmt)
        avformat_close_input(&m_fmt);
    av_dict_free(&m_options);
    avfilter_graph_free(&m_graph);
    m_src = m_sink = nullptr;
}

void UsbCamera::contrastKind(const WizardPara& p)
{
    contrastPiece = contrastText(p.contrast[m_index]);
    rebuildGraph();
}

void UsbCamera::gammaKind(const WizardPara& p)
{
    gammaPiece = gammaText(p.gamma[m_index]);
    rebuildGraph();
}

void UsbCamera::sharpKind(const WizardPara& p)
{
    sharpPiece = sharpText(p.sharp[m_index]);
    rebuildGraph();
}

void UsbCamera::defaultsKind()
{
    contrastPiece = contrastText(140);
    gammaPiece = gammaText(40);
    sharpPiece = sharpText(0);
    rebuildGraph();
    if (gpWParaBak) {
        gpWParaBak->contrast[m_index] = 140;
        gpWParaBak->gamma[m_index] = 40;
        gpWParaBak->sharp[m_index] = 0;
    }
}
