#include "Platform/FFmpeg/VideoEncoder.h"

#include <algorithm>
#include <cerrno>
#include <limits>
#include <string>

namespace Platform::FFmpeg {

namespace {

constexpr AVRational videoTimeBase{1, 90000};
constexpr std::int64_t keyFrameSpacing = 90000; // one second
// Beyond this the last picture is repeated at the end (a tenth of a second).
constexpr std::int64_t stillPictureGap = 9000;
// A nominal rate for the encoders' rate control; frames carry their own times.
constexpr AVRational nominalFrameRate{30, 1};
// How long the closing frame lasts, and the last one when nothing tells.
constexpr std::int64_t nominalFrameDuration = videoTimeBase.den / nominalFrameRate.num;
constexpr int defaultKeyFrameInterval = 60;
// One thread encodes a window-sized frame at veryfast in a few milliseconds;
// a second thread would only add wake-ups and slice overhead to every frame.
// Larger frames are split between two, so that key frames of a busy full
// screen still leave within a frame period.
constexpr int largestSingleThreadPixels = 1280 * 1024;

const char* encoderName(VideoCodec codec) {
  switch (codec) {
  case VideoCodec::h264:
    return "libx264";
  case VideoCodec::hevc:
    return "libx265";
  case VideoCodec::proRes422:
  case VideoCodec::proRes4444:
    return "prores_ks";
  }
  return "";
}

AVPixelFormat encodedFormat(const VideoEncoderSettings& settings) {
  switch (settings.codec) {
  case VideoCodec::h264:
    return AV_PIX_FMT_YUV420P;
  case VideoCodec::hevc:
    return settings.tenBit ? AV_PIX_FMT_YUV420P10LE : AV_PIX_FMT_YUV420P;
  case VideoCodec::proRes422:
    return AV_PIX_FMT_YUV422P10LE;
  case VideoCodec::proRes4444:
    return AV_PIX_FMT_YUV444P10LE;
  }
  return AV_PIX_FMT_YUV420P;
}

CodecContextPtr allocateCodec(const VideoEncoderSettings& settings) {
  const AVCodec* encoder = avcodec_find_encoder_by_name(encoderName(settings.codec));
  if (encoder == nullptr) {
    throw SystemError(ErrorDomain::mediaWriting, ENOSYS,
                      std::string("The video encoder ") + encoderName(settings.codec) +
                          " is not available.");
  }
  CodecContextPtr codec(avcodec_alloc_context3(encoder));
  if (!codec) {
    throw SystemError(ErrorDomain::mediaWriting, ENOMEM, "Could not set up the video encoder.");
  }
  return codec;
}

bool isSingleThreaded(const VideoEncoderSettings& settings) {
  return settings.codec == VideoCodec::h264 &&
         static_cast<std::int64_t>(settings.width) * settings.height <= largestSingleThreadPixels;
}

// Encoder choices for live screen content on two cores. No B-frames: decode
// order equals presentation order, so a fragment cut at any point decodes
// and a killed recording loses no reordered tail; it also saves the CPU
// time B-frame decisions cost. Quality is constant (CRF) with the average
// bit rate as a ceiling over two seconds, so still screens cost little and
// busy ones stay bounded.
AVDictionary* encoderOptions(const VideoEncoderSettings& settings) {
  AVDictionary* options = nullptr;
  switch (settings.codec) {
  case VideoCodec::h264:
    // veryfast keeps 1080p at about half a core with good text quality.
    av_dict_set(&options, "preset", "veryfast", 0);
    av_dict_set(&options, "crf", "23", 0);
    av_dict_set(&options, "forced-idr", "1", 0);
    // A frame leaves the encoder as soon as it is encoded: no lookahead (its
    // half second of frames would be lost to a kill and held in memory) and
    // threads, where there are two, that split each frame rather than work
    // on several at once.
    av_dict_set(&options, "x264-params",
                isSingleThreaded(settings)
                    ? "rc-lookahead=0:sync-lookahead=0:mbtree=0"
                    : "rc-lookahead=0:sync-lookahead=0:mbtree=0:sliced-threads=1",
                0);
    if (!settings.profile.empty()) {
      av_dict_set(&options, "profile", settings.profile.c_str(), 0);
    }
    break;
  case VideoCodec::hevc: {
    // x265 is several times slower than x264: only ultrafast keeps up with
    // live 1080p on two cores.
    av_dict_set(&options, "preset", "ultrafast", 0);
    av_dict_set(&options, "crf", "26", 0);
    av_dict_set(&options, "forced-idr", "1", 0);
    std::string parameters = "log-level=error:bframes=0:open-gop=0";
    if (settings.averageBitRate) {
      const auto kilobits = *settings.averageBitRate / 1000;
      parameters += ":vbv-maxrate=" + std::to_string(kilobits) +
                    ":vbv-bufsize=" + std::to_string(2 * kilobits);
    }
    av_dict_set(&options, "x265-params", parameters.c_str(), 0);
    if (!settings.profile.empty()) {
      av_dict_set(&options, "profile", settings.profile.c_str(), 0);
    }
    break;
  }
  case VideoCodec::proRes422:
    av_dict_set(&options, "profile", "standard", 0);
    av_dict_set(&options, "vendor", "apl0", 0);
    break;
  case VideoCodec::proRes4444:
    av_dict_set(&options, "profile", "4444", 0);
    av_dict_set(&options, "vendor", "apl0", 0);
    break;
  }
  return options;
}

CodecContextPtr openCodec(const VideoEncoderSettings& settings) {
  CodecContextPtr codec = allocateCodec(settings);
  codec->width = encodedExtent(settings.width);
  codec->height = encodedExtent(settings.height);
  codec->pix_fmt = encodedFormat(settings);
  codec->time_base = videoTimeBase;
  codec->framerate = nominalFrameRate;
  codec->gop_size = settings.maxKeyFrameInterval.value_or(defaultKeyFrameInterval);
  codec->max_b_frames = 0;
  codec->thread_count = isSingleThreaded(settings) ? 1 : 2;
  codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  codec->color_range = AVCOL_RANGE_MPEG;
  codec->color_primaries = settings.primaries;
  codec->color_trc = settings.transfer;
  // The converter always applies a matrix, so the track names it.
  codec->colorspace = settings.matrix == AVCOL_SPC_UNSPECIFIED ? AVCOL_SPC_BT709 : settings.matrix;
  if (settings.averageBitRate && settings.codec == VideoCodec::h264) {
    codec->rc_max_rate = *settings.averageBitRate;
    codec->rc_buffer_size = static_cast<int>(
        std::min<std::int64_t>(2 * *settings.averageBitRate, std::numeric_limits<int>::max()));
  }
  if (settings.codec == VideoCodec::hevc) {
    // The tag Apple's players require for HEVC in MP4 and QuickTime files.
    codec->codec_tag = MKTAG('h', 'v', 'c', '1');
  }
  AVDictionary* options = encoderOptions(settings);
  openEncoder(*codec, &options, "video");
  return codec;
}

} // namespace

int encodedExtent(int extent) {
  return std::max(2, extent - extent % 2);
}

VideoEncoder::VideoEncoder(const VideoEncoderSettings& settings)
    : VideoEncoder(openCodec(settings)) {}

VideoEncoder::VideoEncoder(CodecContextPtr codec)
    : TrackEncoder(std::move(codec)), converter_(this->codec().pix_fmt, this->codec().width,
                                                 this->codec().height, this->codec().colorspace),
      frame_(av_frame_alloc()) {
  if (!frame_) {
    throw SystemError(ErrorDomain::mediaWriting, ENOMEM, "Could not set up the video encoder.");
  }
}

AVFrame& VideoEncoder::writableFrame() {
  // The encoder may still hold the previous picture; never draw over it.
  if (frame_->buf[0] == nullptr || av_frame_is_writable(frame_.get()) == 0) {
    av_frame_unref(frame_.get());
    frame_->format = codec().pix_fmt;
    frame_->width = codec().width;
    frame_->height = codec().height;
    const int result = av_frame_get_buffer(frame_.get(), 0);
    if (result < 0) {
      throw SystemError(ErrorDomain::mediaWriting, result,
                        "Could not allocate a video frame: " + libavErrorText(result) + ".");
    }
  }
  return *frame_;
}

void VideoEncoder::append(const CMSampleBuffer& sample, CMTime sessionStart) {
  const CMTime offset = CMTimeSubtract(sample.presentationTimeStamp(), sessionStart);
  if (!offset.isNumeric() || offset.value < 0 || !sample.imageBuffer()) {
    return;
  }
  // The file starts each track at its first frame, so the first picture is
  // shown from the session start: later frames then keep their times beside
  // the audio, which also starts there.
  const std::int64_t time =
      lastTime_ == INT64_MIN ? 0 : CMTimeConvertScale(offset, videoTimeBase.den).value;
  // A repeated or backward time would break the track's timing: drop it.
  if (time <= lastTime_) {
    return;
  }
  AVFrame& frame = writableFrame();
  converter_.convert(*sample.imageBuffer(), frame);
  frame.pts = time;
  frame.color_range = codec().color_range;
  frame.colorspace = codec().colorspace;
  frame.color_primaries = codec().color_primaries;
  frame.color_trc = codec().color_trc;
  // Packets leave the encoder some frames late, so a key frame asked for
  // counts as one until its packet shows up.
  const std::int64_t lastKeyFrame = std::max(lastKeyFrameTime(), lastForcedKeyFrame_);
  const bool keyFrameDue = lastKeyFrame == INT64_MIN || time - lastKeyFrame >= keyFrameSpacing;
  frame.pict_type = keyFrameDue ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
  if (keyFrameDue) {
    lastForcedKeyFrame_ = time;
  }
  lastTime_ = time;
  encode(&frame);
}

CMTime VideoEncoder::appendedEnd() const {
  return lastTime_ == INT64_MIN ? kCMTimeInvalid : CMTimeMake(lastTime_, videoTimeBase.den);
}

void VideoEncoder::finish(CMTime recordingEnd) {
  if (lastTime_ == INT64_MIN) {
    encode(nullptr);
    return;
  }
  std::int64_t endTime = lastTime_ + nominalFrameDuration;
  if (recordingEnd.isNumeric()) {
    endTime = std::max(CMTimeConvertScale(recordingEnd, videoTimeBase.den).value, endTime);
  }
  // The last picture is still in frame_; idle frames were never appended.
  // Shown once more as the closing frame, it marks that the picture stood
  // still until the end even for tools that ignore the last duration.
  const std::int64_t closingTime = endTime - nominalFrameDuration;
  if (closingTime - lastTime_ > stillPictureGap) {
    frame_->pts = closingTime;
    frame_->pict_type = AV_PICTURE_TYPE_NONE;
    lastTime_ = closingTime;
    encode(frame_.get());
  }
  encode(nullptr);
  writeLastPacket(endTime);
}

} // namespace Platform::FFmpeg
