#include "Platform/FFmpeg/TrackEncoder.h"

#include <algorithm>
#include <cerrno>

namespace Platform::FFmpeg {

TrackEncoder::TrackEncoder(CodecContextPtr codec)
    : codec_(std::move(codec)), packet_(av_packet_alloc()), waiting_(av_packet_alloc()) {
  if (!packet_ || !waiting_) {
    throw SystemError(ErrorDomain::mediaWriting, ENOMEM, "Could not set up an encoder.");
  }
}

void TrackEncoder::attach(std::shared_ptr<Muxer> muxer, int streamIndex) {
  muxer_ = std::move(muxer);
  streamIndex_ = streamIndex;
}

void TrackEncoder::encode(const AVFrame* frame) {
  int result = avcodec_send_frame(codec_.get(), frame);
  if (result < 0 && result != AVERROR_EOF) {
    throw SystemError(ErrorDomain::mediaWriting, result,
                      std::string("Could not encode with ") + codec_->codec->name + ": " +
                          libavErrorText(result) + ".");
  }
  for (;;) {
    result = avcodec_receive_packet(codec_.get(), packet_.get());
    if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) {
      return;
    }
    if (result < 0) {
      throw SystemError(ErrorDomain::mediaWriting, result,
                        std::string("Could not encode with ") + codec_->codec->name + ": " +
                            libavErrorText(result) + ".");
    }
    if ((packet_->flags & AV_PKT_FLAG_KEY) != 0 && packet_->pts > lastKeyFrameTime_) {
      lastKeyFrameTime_ = packet_->pts;
    }
    if (waiting_->data != nullptr) {
      waiting_->duration = std::max<std::int64_t>(1, packet_->dts - waiting_->dts);
      write(*waiting_);
    }
    if (packet_->duration > 0) {
      write(*packet_);
    } else {
      av_packet_move_ref(waiting_.get(), packet_.get());
    }
  }
}

void TrackEncoder::writeLastPacket(std::int64_t end) {
  if (waiting_->data == nullptr) {
    return;
  }
  waiting_->duration =
      end > waiting_->dts ? end - waiting_->dts : std::max<std::int64_t>(1, lastDuration_);
  write(*waiting_);
}

void TrackEncoder::write(AVPacket& packet) {
  lastDuration_ = packet.duration;
  // The muxer takes the packet's contents.
  muxer_->write(packet, streamIndex_, codec_->time_base);
}

void openEncoder(AVCodecContext& codec, AVDictionary** options, const std::string& what) {
  const int result = avcodec_open2(&codec, codec.codec, options);
  av_dict_free(options);
  if (result < 0) {
    throw SystemError(ErrorDomain::mediaWriting, result,
                      "Could not open the " + what + " encoder: " + libavErrorText(result) + ".");
  }
}

} // namespace Platform::FFmpeg
