#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/frame.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <memory>
#include <string>

// Owners for the FFmpeg objects the writer holds, and the text of FFmpeg's
// error codes. Plain values: no thread contract beyond that of the objects.

namespace Platform::FFmpeg {

struct CodecContextDeleter {
  void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct FrameDeleter {
  void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct PacketDeleter {
  void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct ScaleContextDeleter {
  void operator()(SwsContext* context) const { sws_freeContext(context); }
};
struct ResampleContextDeleter {
  void operator()(SwrContext* context) const { swr_free(&context); }
};
struct AudioFifoDeleter {
  void operator()(AVAudioFifo* fifo) const { av_audio_fifo_free(fifo); }
};
struct IOContextDeleter {
  void operator()(AVIOContext* context) const {
    if (context != nullptr) {
      av_freep(&context->buffer);
    }
    avio_context_free(&context);
  }
};
// Frees an output format context that owns no I/O context of its own.
struct OutputFormatContextDeleter {
  void operator()(AVFormatContext* context) const { avformat_free_context(context); }
};

using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextDeleter>;
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;
using ScaleContextPtr = std::unique_ptr<SwsContext, ScaleContextDeleter>;
using ResampleContextPtr = std::unique_ptr<SwrContext, ResampleContextDeleter>;
using AudioFifoPtr = std::unique_ptr<AVAudioFifo, AudioFifoDeleter>;
using IOContextPtr = std::unique_ptr<AVIOContext, IOContextDeleter>;
using OutputFormatContextPtr = std::unique_ptr<AVFormatContext, OutputFormatContextDeleter>;

// FFmpeg's text for an AVERROR code.
std::string libavErrorText(int error);

} // namespace Platform::FFmpeg
