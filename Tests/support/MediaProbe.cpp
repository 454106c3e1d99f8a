#include "support/MediaProbe.h"

#include "support/Subprocess.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <stdexcept>

namespace TestSupport {

namespace {

struct InputCloser {
  void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};
using Input = std::unique_ptr<AVFormatContext, InputCloser>;

Input openInput(const std::string& path) {
  AVFormatContext* context = nullptr;
  if (avformat_open_input(&context, path.c_str(), nullptr, nullptr) < 0) {
    throw std::runtime_error("cannot open " + path);
  }
  Input input(context);
  if (avformat_find_stream_info(context, nullptr) < 0) {
    throw std::runtime_error("cannot read the streams of " + path);
  }
  return input;
}

double secondsOf(std::int64_t value, AVRational timeBase) {
  return static_cast<double>(value) * av_q2d(timeBase);
}

// Brightness and centre colour of an 8-bit 4:2:0 picture (limited range).
PictureSample samplePicture(const AVFrame& frame, double time) {
  PictureSample sample;
  sample.time = time;
  double total = 0;
  for (int y = 0; y < frame.height; ++y) {
    const std::uint8_t* row = frame.data[0] + static_cast<std::ptrdiff_t>(y) * frame.linesize[0];
    for (int x = 0; x < frame.width; ++x) {
      total += row[x];
    }
  }
  sample.meanLuma = total / (static_cast<double>(frame.width) * frame.height);
  const int cx = frame.width / 2;
  const int cy = frame.height / 2;
  const double luma = (frame.data[0][cy * frame.linesize[0] + cx] - 16) * 255.0 / 219.0;
  const double blue = (frame.data[1][(cy / 2) * frame.linesize[1] + cx / 2] - 128) * 255.0 / 224.0;
  const double red = (frame.data[2][(cy / 2) * frame.linesize[2] + cx / 2] - 128) * 255.0 / 224.0;
  const auto clamp = [](double value) { return static_cast<int>(std::clamp(value, 0.0, 255.0)); };
  sample.centreRGB = {clamp(luma + 1.5748 * red), clamp(luma - 0.1873 * blue - 0.4681 * red),
                      clamp(luma + 1.8556 * blue)};
  return sample;
}

} // namespace

std::uint32_t fourCC(const char (&text)[5]) {
  return MKTAG(text[0], text[1], text[2], text[3]);
}

FileInfo probeFile(const std::string& path) {
  Input input = openInput(path);
  FileInfo info;
  if (const AVDictionaryEntry* brand = av_dict_get(input->metadata, "major_brand", nullptr, 0)) {
    info.majorBrand = brand->value;
  }
  for (unsigned i = 0; i < input->nb_streams; ++i) {
    const AVCodecParameters& parameters = *input->streams[i]->codecpar;
    TrackInfo track;
    track.type = parameters.codec_type;
    track.codec = parameters.codec_id;
    track.tag = parameters.codec_tag;
    track.sampleRate = parameters.sample_rate;
    track.channelCount = parameters.ch_layout.nb_channels;
    track.width = parameters.width;
    track.height = parameters.height;
    track.format = parameters.format;
    track.primaries = parameters.color_primaries;
    track.transfer = parameters.color_trc;
    track.matrix = parameters.color_space;
    track.profile = parameters.profile;
    const AVDictionary* metadata = input->streams[i]->metadata;
    if (const AVDictionaryEntry* name = av_dict_get(metadata, "handler_name", nullptr, 0)) {
      track.name = name->value;
    }
    if (const AVDictionaryEntry* language = av_dict_get(metadata, "language", nullptr, 0)) {
      track.language = language->value;
    }
    track.isDefault = (input->streams[i]->disposition & AV_DISPOSITION_DEFAULT) != 0;
    if (input->streams[i]->duration != AV_NOPTS_VALUE) {
      track.duration = secondsOf(input->streams[i]->duration, input->streams[i]->time_base);
    }
    info.tracks.push_back(track);
  }
  AVPacket* packet = av_packet_alloc();
  while (av_read_frame(input.get(), packet) >= 0) {
    const AVStream& stream = *input->streams[packet->stream_index];
    TrackInfo& track = info.tracks[static_cast<std::size_t>(packet->stream_index)];
    track.times.push_back(secondsOf(packet->pts, stream.time_base));
    track.end = std::max(track.end, secondsOf(packet->pts + packet->duration, stream.time_base));
    track.packetTimes.push_back(packet->pts);
    track.packetDurations.push_back(packet->duration);
    track.keyFrames += (packet->flags & AV_PKT_FLAG_KEY) != 0 ? 1 : 0;
    av_packet_unref(packet);
  }
  av_packet_free(&packet);
  for (TrackInfo& track : info.tracks) {
    std::sort(track.times.begin(), track.times.end());
  }
  return info;
}

DecodedTrack decodeTrack(const std::string& path, int index) {
  Input input = openInput(path);
  const AVStream& stream = *input->streams[index];
  const AVCodec* decoder = avcodec_find_decoder(stream.codecpar->codec_id);
  std::unique_ptr<AVCodecContext, void (*)(AVCodecContext*)> codec(
      avcodec_alloc_context3(decoder),
      [](AVCodecContext* context) { avcodec_free_context(&context); });
  avcodec_parameters_to_context(codec.get(), stream.codecpar);
  if (avcodec_open2(codec.get(), decoder, nullptr) < 0) {
    throw std::runtime_error("cannot open a decoder for " + path);
  }
  DecodedTrack decoded;
  AVPacket* packet = av_packet_alloc();
  AVFrame* frame = av_frame_alloc();
  const auto takeFrames = [&] {
    while (avcodec_receive_frame(codec.get(), frame) >= 0) {
      ++decoded.frames;
      if (codec->codec_type == AVMEDIA_TYPE_AUDIO) {
        for (int i = 0; i < frame->nb_samples; ++i) {
          float value = 0;
          switch (frame->format) {
          case AV_SAMPLE_FMT_FLTP:
            value = reinterpret_cast<const float*>(frame->extended_data[0])[i];
            break;
          case AV_SAMPLE_FMT_S16P:
            value = reinterpret_cast<const std::int16_t*>(frame->extended_data[0])[i] / 32768.0F;
            break;
          case AV_SAMPLE_FMT_S32P:
            value = static_cast<float>(
                reinterpret_cast<const std::int32_t*>(frame->extended_data[0])[i] / 2147483648.0);
            break;
          default:
            break;
          }
          decoded.firstChannel.push_back(value);
        }
      } else if (frame->format == AV_PIX_FMT_YUV420P || frame->format == AV_PIX_FMT_YUVJ420P) {
        decoded.pictures.push_back(
            samplePicture(*frame, secondsOf(frame->best_effort_timestamp, stream.time_base)));
      }
      av_frame_unref(frame);
    }
  };
  while (av_read_frame(input.get(), packet) >= 0) {
    if (packet->stream_index == index) {
      if (avcodec_send_packet(codec.get(), packet) < 0) {
        ++decoded.errors;
      }
      takeFrames();
    }
    av_packet_unref(packet);
  }
  avcodec_send_packet(codec.get(), nullptr);
  takeFrames();
  av_frame_free(&frame);
  av_packet_free(&packet);
  return decoded;
}

std::string decodingErrors(const std::string& path) {
  // Pictures keep the file's own times (-enc_time_base -1): on its default
  // grid of the guessed frame rate, which for a file with a long still
  // stretch is its average rate, frames closer than that grid would collide
  // and ffmpeg would blame its own null output for it.
  const RunResult result =
      run({"/bin/sh", "-c",
           "ffmpeg -nostdin -v error -i \"$0\" -map 0 -enc_time_base -1 -f null - 2>&1", path},
          {}, std::chrono::seconds(60));
  return result.status == 0 ? result.output
                            : "status " + std::to_string(result.status) + ": " + result.output;
}

} // namespace TestSupport
