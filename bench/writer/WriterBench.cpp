// writer_bench record <file.mp4> <seconds>   records in real time, prints figures
// writer_bench raw <directory> <seconds>     the same input as raw files and stdout
// writer_bench convert                       BGRA -> I420 at 1080p: libyuv vs libswscale
// writer_bench finish <directory>            time from stop to a plain file, 10 s and 10 min

#include "ContentGenerator.h"
#include "Platform/FFmpeg/Bt709Conversion.h"
#include "Platform/FFmpeg/FFmpegMediaWriting.h"

extern "C" {
#include <libswscale/swscale.h>
}
#include <libyuv.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

using namespace Platform;
using namespace WriterBench;

namespace {

double cpuSeconds(clockid_t clock) {
  timespec now{};
  clock_gettime(clock, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

CMTime at(std::int64_t value, std::int32_t scale) {
  return CMTimeMake(value, scale);
}

SampleBufferRef videoSample(std::vector<std::uint8_t> pixels, CMTime time, int width = frameWidth,
                            int height = frameHeight) {
  auto buffer = std::make_shared<PixelBuffer>();
  buffer->width = width;
  buffer->height = height;
  buffer->bytesPerRow = static_cast<std::size_t>(width) * 4;
  buffer->bytes = std::move(pixels);
  CMSampleBuffer::Contents contents;
  contents.formatDescription = FormatDescription::video(kCVPixelFormatType_32BGRA, width, height);
  contents.timing = {{kCMTimeInvalid, time, kCMTimeInvalid}};
  contents.imageBuffer = std::move(buffer);
  return CMSampleBuffer::make(std::move(contents));
}

SampleBufferRef audioSample(std::vector<std::uint8_t> bytes, AudioStreamDescription stream,
                            CMTime time) {
  auto buffer = std::make_shared<AudioBuffer>();
  buffer->frameCount = bytes.size() / stream.bytesPerFrame();
  buffer->bytes = std::move(bytes);
  CMSampleBuffer::Contents contents;
  contents.formatDescription = FormatDescription::audioPCM(stream);
  contents.timing = {{kCMTimeInvalid, time, kCMTimeInvalid}};
  contents.audioBuffer = std::move(buffer);
  return CMSampleBuffer::make(std::move(contents));
}

OutputSettings audioSettings(int channels) {
  return {{AVFormatIDKey, kAudioFormatAppleLossless},
          {AVEncoderBitDepthHintKey, 16},
          {AVSampleRateKey, 48000},
          {AVNumberOfChannelsKey, channels}};
}

// The settings a recording of a 1080p window builds.
OutputSettings videoSettings(MediaWritingService& writing) {
  auto assistant = writing.makeOutputSettingsAssistant(AVOutputSettingsPreset3840x2160);
  assistant->setSourceVideoFormat(
      writing.makeVideoFormatDescription(kCMVideoCodecType_H264, frameWidth, frameHeight));
  OutputSettings settings = *assistant->videoSettings();
  settings.insert_or_assign(AVVideoWidthKey, frameWidth);
  settings.insert_or_assign(AVVideoHeightKey, frameHeight);
  settings.insert_or_assign(
      AVVideoColorPropertiesKey,
      OutputSettings{{AVVideoTransferFunctionKey, AVVideoTransferFunction_ITU_R_709_2},
                     {AVVideoColorPrimariesKey, AVVideoColorPrimaries_ITU_R_709_2},
                     {AVVideoYCbCrMatrixKey, AVVideoYCbCrMatrix_ITU_R_709_2}});
  return settings;
}

int record(const std::string& path, int seconds) {
  auto writing = FFmpeg::makeMediaWritingService();
  auto writer = writing->makeAssetWriter(path, AVFileType::mpeg4);
  auto system = writing->makeAssetWriterInput(MediaType::audio, audioSettings(2));
  auto microphone = writing->makeAssetWriterInput(MediaType::audio, audioSettings(1));
  auto video = writing->makeAssetWriterInput(MediaType::video, videoSettings(*writing));
  for (const auto& input : {system, microphone, video}) {
    input->setExpectsMediaDataInRealTime(true);
    writer->addInput(input);
  }
  const ContentGenerator content;
  const AudioStreamDescription systemStream{48000, 2, AudioSampleFormat::float32};
  const AudioStreamDescription microphoneStream{44100, 1, AudioSampleFormat::int16};

  // The generator runs on this thread; its CPU time is not the writer's.
  const double ownStart = cpuSeconds(CLOCK_THREAD_CPUTIME_ID);
  const double processStart = cpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
  writer->startWriting();
  writer->startSessionAtSourceTime(kCMTimeZero);
  int written = 0;
  int dropped = 0;
  int audioDropped = 0;
  int frame = 0;
  const auto begin = std::chrono::steady_clock::now();
  for (int block = 0; block < seconds * 100; ++block) {
    std::this_thread::sleep_until(begin + std::chrono::milliseconds(10 * block));
    audioDropped += system->appendSampleBuffer(
                        audioSample(content.systemAudio(block), systemStream, at(block, 100)))
                        ? 0
                        : 1;
    audioDropped += microphone->appendSampleBuffer(audioSample(content.microphoneAudio(block),
                                                               microphoneStream, at(block, 100)))
                        ? 0
                        : 1;
    if (frame * 100 <= block * framesPerSecond) {
      // A capture source drops the frame when the input is not ready.
      if (video->isReadyForMoreMediaData() &&
          video->appendSampleBuffer(
              videoSample(content.frame(frame), at(frame, framesPerSecond)))) {
        ++written;
      } else {
        ++dropped;
      }
      ++frame;
    }
  }
  for (const auto& input : {system, microphone, video}) {
    input->markAsFinished();
  }
  writer->finishWriting();
  const double generator = cpuSeconds(CLOCK_THREAD_CPUTIME_ID) - ownStart;
  const double writerCpu = cpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - processStart - generator;
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("status %d%s%s\n", static_cast<int>(writer->status()), writer->error() ? " " : "",
              writer->error() ? writer->error()->localizedDescription().c_str() : "");
  std::printf("writer_cpu_seconds %.3f\n", writerCpu);
  std::printf("writer_cpu_per_recorded_second %.4f\n", writerCpu / seconds);
  std::printf("generator_cpu_seconds %.3f\n", generator);
  std::printf("peak_rss_mib %.1f\n", static_cast<double>(usage.ru_maxrss) / 1024);
  std::printf("frames_written %d\nframes_dropped %d\naudio_buffers_dropped %d\n", written, dropped,
              audioDropped);
  return writer->status() == AVAssetWriterStatus::completed ? 0 : 1;
}

int raw(const std::string& directory, int seconds) {
  const ContentGenerator content;
  std::ofstream system(directory + "/system.f32", std::ios::binary);
  std::ofstream microphone(directory + "/microphone.s16", std::ios::binary);
  for (int block = 0; block < seconds * 100; ++block) {
    const auto systemBytes = content.systemAudio(block);
    const auto microphoneBytes = content.microphoneAudio(block);
    system.write(reinterpret_cast<const char*>(systemBytes.data()),
                 static_cast<std::streamsize>(systemBytes.size()));
    microphone.write(reinterpret_cast<const char*>(microphoneBytes.data()),
                     static_cast<std::streamsize>(microphoneBytes.size()));
  }
  system.close();
  microphone.close();
  for (int frame = 0; frame < seconds * framesPerSecond; ++frame) {
    const auto pixels = content.frame(frame);
    if (std::fwrite(pixels.data(), 1, pixels.size(), stdout) != pixels.size()) {
      return 1;
    }
  }
  return 0;
}

int convert() {
  const ContentGenerator content;
  const auto pixels = content.frame(7);
  const int stride = frameWidth * 4;
  std::vector<std::uint8_t> y(static_cast<std::size_t>(frameWidth) * frameHeight);
  std::vector<std::uint8_t> u(y.size() / 4);
  std::vector<std::uint8_t> v(y.size() / 4);
  constexpr int rounds = 200;

  const double yuvStart = cpuSeconds(CLOCK_THREAD_CPUTIME_ID);
  for (int i = 0; i < rounds; ++i) {
    libyuv::ARGBToI420(pixels.data(), stride, y.data(), frameWidth, u.data(), frameWidth / 2,
                       v.data(), frameWidth / 2, frameWidth, frameHeight);
  }
  const double yuv = (cpuSeconds(CLOCK_THREAD_CPUTIME_ID) - yuvStart) / rounds;

  const auto swscale = [&](int flags) {
    SwsContext* context =
        sws_getContext(frameWidth, frameHeight, AV_PIX_FMT_BGRA, frameWidth, frameHeight,
                       AV_PIX_FMT_YUV420P, flags, nullptr, nullptr, nullptr);
    const int* table = sws_getCoefficients(SWS_CS_ITU709);
    sws_setColorspaceDetails(context, table, 1, table, 0, 0, 1 << 16, 1 << 16);
    const std::uint8_t* source[4] = {pixels.data(), nullptr, nullptr, nullptr};
    const int sourceStrides[4] = {stride, 0, 0, 0};
    std::uint8_t* planes[4] = {y.data(), u.data(), v.data(), nullptr};
    const int strides[4] = {frameWidth, frameWidth / 2, frameWidth / 2, 0};
    const double start = cpuSeconds(CLOCK_THREAD_CPUTIME_ID);
    for (int i = 0; i < rounds; ++i) {
      sws_scale(context, source, sourceStrides, 0, frameHeight, planes, strides);
    }
    const double perFrame = (cpuSeconds(CLOCK_THREAD_CPUTIME_ID) - start) / rounds;
    sws_freeContext(context);
    return perFrame;
  };
  const double ownStart = cpuSeconds(CLOCK_THREAD_CPUTIME_ID);
  for (int i = 0; i < rounds; ++i) {
    FFmpeg::convertBgraToI420Bt709(
        pixels.data(), static_cast<std::size_t>(stride), frameWidth, frameHeight,
        {y.data(), frameWidth, u.data(), frameWidth / 2, v.data(), frameWidth / 2});
  }
  const double own = (cpuSeconds(CLOCK_THREAD_CPUTIME_ID) - ownStart) / rounds;
  const double bilinear = swscale(SWS_BILINEAR);
  const double point = swscale(SWS_POINT);
  std::printf("libyuv_ARGBToI420_ms %.3f (BT.601 only)\n", yuv * 1e3);
  std::printf("swscale_bilinear_bt709_ms %.3f\n", bilinear * 1e3);
  std::printf("swscale_point_bt709_ms %.3f\n", point * 1e3);
  std::printf("writer_bt709_ms %.3f\n", own * 1e3);
  std::printf("writer_bt709_over_libyuv %.2f\n", own / yuv);
  std::printf("swscale_bilinear_over_libyuv %.2f\n", bilinear / yuv);
  std::printf("swscale_point_over_libyuv %.2f\n", point / yuv);
  std::printf("cpu_per_second_at_24fps libyuv %.4f swscale_bilinear %.4f\n", yuv * 24,
              bilinear * 24);
  return 0;
}

// A recording of `seconds` with the sample layout of a real one (24 small
// pictures and 100 buffers per audio track each second), written as fast as
// the encoders go; returns the seconds finishWriting took: the last
// fragment, the trailer and turning the file into a plain movie.
double finishTime(const std::string& path, int seconds) {
  auto writing = FFmpeg::makeMediaWritingService();
  auto writer = writing->makeAssetWriter(path, AVFileType::mpeg4);
  auto system = writing->makeAssetWriterInput(MediaType::audio, audioSettings(2));
  auto microphone = writing->makeAssetWriterInput(MediaType::audio, audioSettings(1));
  OutputSettings small = videoSettings(*writing);
  small.insert_or_assign(AVVideoWidthKey, 64);
  small.insert_or_assign(AVVideoHeightKey, 48);
  auto video = writing->makeAssetWriterInput(MediaType::video, small);
  for (const auto& input : {system, microphone, video}) {
    writer->addInput(input);
  }
  const AudioStreamDescription stream{48000, 2, AudioSampleFormat::float32};
  const std::vector<std::uint8_t> silence(480 * stream.bytesPerFrame());
  const std::vector<std::uint8_t> picture(64 * 48 * 4, 0x80);
  writer->startWriting();
  writer->startSessionAtSourceTime(kCMTimeZero);
  const auto appendWhenReady = [](AVAssetWriterInput& input, const SampleBufferRef& sample) {
    while (!input.appendSampleBuffer(sample)) {
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  };
  int frame = 0;
  for (int block = 0; block < seconds * 100; ++block) {
    appendWhenReady(*system, audioSample(silence, stream, at(block, 100)));
    appendWhenReady(*microphone, audioSample(silence, stream, at(block, 100)));
    if (frame * 100 <= block * framesPerSecond) {
      std::vector<std::uint8_t> pixels = picture;
      pixels[static_cast<std::size_t>(frame) % pixels.size()] ^= 0xFF; // every frame changes
      appendWhenReady(*video, videoSample(std::move(pixels), at(frame, framesPerSecond), 64, 48));
      ++frame;
    }
  }
  writer->endSessionAtSourceTime(at(seconds, 1));
  for (const auto& input : {system, microphone, video}) {
    input->markAsFinished();
  }
  const auto stop = std::chrono::steady_clock::now();
  writer->finishWriting();
  const double elapsed =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - stop).count();
  if (writer->status() != AVAssetWriterStatus::completed) {
    std::fprintf(stderr, "the writer failed: %s\n",
                 writer->error() ? writer->error()->localizedDescription().c_str() : "?");
  }
  return elapsed;
}

int finish(const std::string& directory) {
  std::printf("recorded   finish (stop to plain file)\n");
  for (const int seconds : {10, 600}) {
    const std::string path = directory + "/finish-" + std::to_string(seconds) + ".mp4";
    std::remove(path.c_str());
    const double elapsed = finishTime(path, seconds);
    std::printf("%5d s    %.3f s\n", seconds, elapsed);
  }
  return 0;
}

} // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "record" && argc == 4) {
    return record(argv[2], std::stoi(argv[3]));
  }
  if (mode == "raw" && argc == 4) {
    return raw(argv[2], std::stoi(argv[3]));
  }
  if (mode == "convert") {
    return convert();
  }
  if (mode == "finish" && argc == 3) {
    return finish(argv[2]);
  }
  std::fprintf(
      stderr, "usage: writer_bench record FILE SECONDS | raw DIR SECONDS | convert | finish DIR\n");
  return 2;
}
