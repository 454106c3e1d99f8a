#include "Platform/FFmpeg/AudioEncoder.h"

#include <algorithm>
#include <cerrno>
#include <vector>

namespace Platform::FFmpeg {

namespace {

// Below this, a difference between a buffer's time and where the track has
// got to is clock drift or capture jitter, not a gap. Captures smooth their
// stamps, so what is above it is real: lost audio, or a buffer that started
// before a resume and was dropped whole. Placed where they belong, the
// following sound stays in step with the picture.
constexpr int jitterToleranceMilliseconds = 10;
// What is below the tolerance is stretched away: the resampler adds or
// removes the difference spread over this long. A sample clock that runs
// 100 ppm apart from the stamps' then keeps the track within 0.2 ms of them.
constexpr int steeringSeconds = 2;
// At most 0.2 % faster or slower, a pitch change of three cents: inaudible,
// and twice what any clock the stamps steer by can ask.
constexpr int steeringPerMille = 2;
constexpr int silenceChunkFrames = 4096;
constexpr std::int64_t defaultBitRatePerChannel = 64000;

[[noreturn]] void failAudio(int error, const std::string& action) {
  throw SystemError(ErrorDomain::mediaWriting, error,
                    "Could not " + action + ": " + libavErrorText(error) + ".");
}

CodecContextPtr openCodec(const AudioEncoderSettings& settings) {
  const char* name = settings.lossless ? "alac" : "aac";
  const AVCodec* encoder = avcodec_find_encoder_by_name(name);
  if (encoder == nullptr) {
    throw SystemError(ErrorDomain::mediaWriting, ENOSYS,
                      std::string("The audio encoder ") + name + " is not available.");
  }
  CodecContextPtr codec(avcodec_alloc_context3(encoder));
  if (!codec) {
    throw SystemError(ErrorDomain::mediaWriting, ENOMEM, "Could not set up the audio encoder.");
  }
  codec->sample_rate = settings.sampleRate;
  av_channel_layout_default(&codec->ch_layout, settings.channelCount);
  codec->time_base = AVRational{1, settings.sampleRate};
  codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  if (settings.lossless) {
    codec->sample_fmt = settings.bitDepth == 24 ? AV_SAMPLE_FMT_S32P : AV_SAMPLE_FMT_S16P;
    codec->bits_per_raw_sample = settings.bitDepth;
  } else {
    codec->sample_fmt = AV_SAMPLE_FMT_FLTP;
    codec->bit_rate = settings.bitRate.value_or(defaultBitRatePerChannel * settings.channelCount);
  }
  AVDictionary* options = nullptr;
  openEncoder(*codec, &options, "audio");
  return codec;
}

AVSampleFormat sampleFormat(AudioSampleFormat format) {
  return format == AudioSampleFormat::int16 ? AV_SAMPLE_FMT_S16 : AV_SAMPLE_FMT_FLT;
}

bool isUsable(const AudioStreamDescription& source) {
  return source.sampleRate >= 1000 && source.sampleRate <= 768000 && source.channelCount >= 1 &&
         source.channelCount <= 16;
}

} // namespace

AudioEncoder::AudioEncoder(const AudioEncoderSettings& settings)
    : AudioEncoder(openCodec(settings)) {}

AudioEncoder::AudioEncoder(CodecContextPtr codec)
    : TrackEncoder(std::move(codec)),
      fifo_(av_audio_fifo_alloc(this->codec().sample_fmt, this->codec().ch_layout.nb_channels,
                                this->codec().frame_size > 0 ? this->codec().frame_size : 1024)),
      resampled_(av_frame_alloc()), frame_(av_frame_alloc()),
      primingToSkip_(this->codec().initial_padding) {
  if (!fifo_ || !resampled_ || !frame_) {
    throw SystemError(ErrorDomain::mediaWriting, ENOMEM, "Could not set up the audio encoder.");
  }
}

void AudioEncoder::append(const CMSampleBuffer& sample, CMTime sessionStart) {
  const auto& format = sample.formatDescription();
  const auto& buffer = sample.audioBuffer();
  if (!format || !format->audio || !buffer || !isUsable(*format->audio)) {
    return;
  }
  const CMTime offset = CMTimeSubtract(sample.presentationTimeStamp(), sessionStart);
  if (!offset.isNumeric()) {
    return;
  }
  const AudioStreamDescription& source = *format->audio;
  // Never read past the bytes the buffer really holds.
  std::int64_t frameCount = static_cast<std::int64_t>(
      std::min(buffer->frameCount, buffer->bytes.size() / source.bytesPerFrame()));
  if (frameCount == 0) {
    return;
  }
  if (!source_ || *source_ != source) {
    useSource(source);
  }

  const int rate = codec().sample_rate;
  const std::int64_t position = CMTimeConvertScale(offset, rate).value;
  const std::int64_t difference = position - expectedPosition();
  const std::int64_t tolerance =
      static_cast<std::int64_t>(rate) * jitterToleranceMilliseconds / 1000;
  const std::uint8_t* bytes = buffer->bytes.data();
  if (difference > tolerance) {
    resampleSilence(difference * sourceRate_ / rate);
    steer(0);
  } else if (difference < -tolerance) {
    const std::int64_t overlap = -difference * sourceRate_ / rate;
    if (overlap >= frameCount) {
      return;
    }
    bytes += static_cast<std::size_t>(overlap) * source.bytesPerFrame();
    frameCount -= overlap;
    steer(0);
  } else {
    steer(difference);
  }
  while (frameCount > 0) {
    const int chunk = static_cast<int>(std::min<std::int64_t>(frameCount, 1 << 20));
    resample(bytes, chunk);
    bytes += static_cast<std::size_t>(chunk) * source.bytesPerFrame();
    frameCount -= chunk;
  }
  encodeBufferedFrames(false);
}

CMTime AudioEncoder::appendedEnd() const {
  const std::int64_t position = expectedPosition();
  return position > 0 ? CMTimeMake(position, codecContext().sample_rate) : kCMTimeInvalid;
}

void AudioEncoder::finish(CMTime recordingEnd) {
  if (resampler_) {
    // Sound that stopped before the recording did is silence until its end.
    if (recordingEnd.isNumeric()) {
      const int rate = codec().sample_rate;
      const std::int64_t missing =
          CMTimeConvertScale(recordingEnd, rate).value - expectedPosition();
      if (missing > 0) {
        resampleSilence(missing * sourceRate_ / rate);
      }
    }
    resample(nullptr, 0); // what the resampler's filter still holds
  }
  encodeBufferedFrames(true);
  encode(nullptr);
}

std::int64_t AudioEncoder::expectedPosition() const {
  if (!resampler_) {
    return produced_;
  }
  // Input the resampler holds lands after what it has put out.
  return produced_ + swr_get_delay(resampler_.get(), codecContext().sample_rate);
}

void AudioEncoder::steer(std::int64_t lead) {
  if (lead == 0 && !steering_) {
    return; // input on its time passes through unchanged
  }
  // Steering needs the resampler's filter even where the rates match; it
  // holds nothing before its first use, so switching it on loses nothing.
  const int distance = steeringSeconds * codec().sample_rate;
  const std::int64_t most = static_cast<std::int64_t>(distance) * steeringPerMille / 1000;
  const int delta = static_cast<int>(std::clamp(lead, -most, most));
  const int result = swr_set_compensation(resampler_.get(), delta, distance);
  if (result < 0) {
    failAudio(result, "steer the audio resampler");
  }
  steering_ = true;
}

void AudioEncoder::useSource(const AudioStreamDescription& source) {
  if (resampler_) {
    resample(nullptr, 0);
  }
  steering_ = false;
  AVChannelLayout layout{};
  av_channel_layout_default(&layout, source.channelCount);
  SwrContext* resampler = nullptr;
  int result = swr_alloc_set_opts2(&resampler, &codec().ch_layout, codec().sample_fmt,
                                   codec().sample_rate, &layout, sampleFormat(source.sampleFormat),
                                   static_cast<int>(source.sampleRate), 0, nullptr);
  av_channel_layout_uninit(&layout);
  ResampleContextPtr owner(resampler);
  if (result >= 0) {
    result = swr_init(resampler);
  }
  if (result < 0) {
    failAudio(result, "set up the audio resampler");
  }
  resampler_ = std::move(owner);
  source_ = source;
  sourceRate_ = static_cast<int>(source.sampleRate);
}

void AudioEncoder::resample(const std::uint8_t* bytes, int frameCount) {
  const int capacity = swr_get_out_samples(resampler_.get(), frameCount);
  if (capacity <= 0) {
    return;
  }
  if (resampled_->nb_samples < capacity) {
    av_frame_unref(resampled_.get());
    resampled_->format = codec().sample_fmt;
    resampled_->nb_samples = capacity;
    av_channel_layout_copy(&resampled_->ch_layout, &codec().ch_layout);
    const int result = av_frame_get_buffer(resampled_.get(), 0);
    if (result < 0) {
      failAudio(result, "allocate audio");
    }
  }
  const std::uint8_t* input[1] = {bytes};
  const int converted = swr_convert(resampler_.get(), resampled_->data, capacity,
                                    bytes ? input : nullptr, frameCount);
  if (converted < 0) {
    failAudio(converted, "resample audio");
  }
  if (converted > 0 && av_audio_fifo_write(fifo_.get(), reinterpret_cast<void**>(resampled_->data),
                                           converted) < converted) {
    failAudio(AVERROR(ENOMEM), "buffer audio");
  }
  produced_ += converted;
}

void AudioEncoder::resampleSilence(std::int64_t frameCount) {
  // Zero bytes are silence in both float and integer samples.
  std::vector<std::uint8_t> silence(silenceChunkFrames * source_->bytesPerFrame());
  while (frameCount > 0) {
    const int chunk = static_cast<int>(std::min<std::int64_t>(frameCount, silenceChunkFrames));
    resample(silence.data(), chunk);
    frameCount -= chunk;
    encodeBufferedFrames(false);
  }
}

AVFrame& AudioEncoder::writableFrame(int sampleCount) {
  if (frame_->buf[0] == nullptr || av_frame_is_writable(frame_.get()) == 0 ||
      frame_->nb_samples < sampleCount) {
    av_frame_unref(frame_.get());
    frame_->format = codec().sample_fmt;
    frame_->nb_samples = std::max(sampleCount, codec().frame_size);
    frame_->sample_rate = codec().sample_rate;
    av_channel_layout_copy(&frame_->ch_layout, &codec().ch_layout);
    const int result = av_frame_get_buffer(frame_.get(), 0);
    if (result < 0) {
      failAudio(result, "allocate audio");
    }
  }
  frame_->nb_samples = sampleCount;
  return *frame_;
}

void AudioEncoder::encodeBufferedFrames(bool all) {
  const int frameSize = codec().frame_size > 0 ? codec().frame_size : 1024;
  const bool takesShortFrames = (codec().codec->capabilities & AV_CODEC_CAP_SMALL_LAST_FRAME) != 0;
  // The file's track starts with the encoder's priming samples, and the
  // fragmented file carries no edit list to hide them: drop as much of the
  // start of the input instead, so that every later sample plays at its time.
  if (primingToSkip_ > 0) {
    const int skipped = std::min(primingToSkip_, av_audio_fifo_size(fifo_.get()));
    av_audio_fifo_drain(fifo_.get(), skipped);
    primingToSkip_ -= skipped;
    if (primingToSkip_ > 0) {
      return;
    }
  }
  for (;;) {
    const int buffered = av_audio_fifo_size(fifo_.get());
    if (buffered == 0 || (buffered < frameSize && !all)) {
      return;
    }
    const int taken = std::min(buffered, frameSize);
    const int sampleCount = taken < frameSize && !takesShortFrames ? frameSize : taken;
    AVFrame& frame = writableFrame(sampleCount);
    av_audio_fifo_read(fifo_.get(), reinterpret_cast<void**>(frame.data), taken);
    if (sampleCount > taken) {
      av_samples_set_silence(frame.data, taken, sampleCount - taken, codec().ch_layout.nb_channels,
                             codec().sample_fmt);
    }
    frame.pts = nextTime_;
    nextTime_ += sampleCount;
    encode(&frame);
  }
}

} // namespace Platform::FFmpeg
