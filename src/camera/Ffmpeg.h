#pragma once
// FFmpeg pieces shared by the USB video path and the replay of video files.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavdevice/avdevice.h>
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}
#include <opencv2/core.hpp>

// Registers formats, devices and filters once.
void RegisterFfmpeg();
// A decoded (or filtered) frame in the station's layout: packed 24-bit B, G, R
// when colour, else 8-bit grey.
cv::Mat avframe_to_cvmat(AVFrame* frame, bool colour);
