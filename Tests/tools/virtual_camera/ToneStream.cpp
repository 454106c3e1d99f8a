#include "ToneStream.h"

#include <spa/param/audio/format-utils.h>
#include <spa/utils/result.h>

#include <cmath>
#include <stdexcept>
#include <string>

namespace VirtualCamera {

namespace {
constexpr std::uint32_t sampleRate = 48000;
constexpr double toneFrequency = 1000.0;
constexpr float toneLevel = 0.4f;
} // namespace

ToneStream::ToneStream(pw_core* core, const Options& options, const DemoWindow::Flashes& flashes,
                       std::function<void(pw_stream_state)> onState)
    : flashes_(flashes), onState_(std::move(onState)) {
  const std::string name = options.name + "-audio";
  const std::string description = options.description + " Audio";
  // A short quantum keeps the instant of each sample, which a consumer
  // infers from the cycle, within a few milliseconds.
  pw_properties* properties =
      pw_properties_new(PW_KEY_MEDIA_CLASS, "Audio/Source", PW_KEY_NODE_NAME, name.c_str(),
                        PW_KEY_NODE_DESCRIPTION, description.c_str(), PW_KEY_NODE_GROUP,
                        options.name.c_str(), PW_KEY_NODE_LATENCY, "256/48000", nullptr);
  stream_.reset(pw_stream_new(core, name.c_str(), properties));
  if (!stream_) {
    throw std::runtime_error("cannot make an audio stream");
  }
  static const pw_stream_events events = [] {
    pw_stream_events events{};
    events.version = PW_VERSION_STREAM_EVENTS;
    events.state_changed = [](void* self, pw_stream_state, pw_stream_state state, const char*) {
      static_cast<ToneStream*>(self)->onState_(state);
    };
    events.process = [](void* self) { static_cast<ToneStream*>(self)->process(); };
    return events;
  }();
  pw_stream_add_listener(stream_.get(), &listener_, &events, this);

  spa_audio_info_raw format{};
  format.format = SPA_AUDIO_FORMAT_F32;
  format.rate = sampleRate;
  format.channels = 1;
  format.position[0] = SPA_AUDIO_CHANNEL_MONO;
  std::uint8_t buffer[512];
  spa_pod_builder builder = SPA_POD_BUILDER_INIT(buffer, sizeof(buffer));
  const spa_pod* params[] = {spa_format_audio_raw_build(&builder, SPA_PARAM_EnumFormat, &format)};
  const int result =
      pw_stream_connect(stream_.get(), PW_DIRECTION_OUTPUT, PW_ID_ANY,
                        static_cast<pw_stream_flags>(PW_STREAM_FLAG_MAP_BUFFERS), params, 1);
  if (result < 0) {
    throw std::runtime_error(std::string("cannot connect the audio stream: ") +
                             spa_strerror(result));
  }
}

ToneStream::~ToneStream() {
  spa_hook_remove(&listener_);
}

// A cycle's samples are those of the quantum that ends at the cycle's
// instant, as a microphone's are: consumers stamp them so.
void ToneStream::process() {
  pw_buffer* buffer = pw_stream_dequeue_buffer(stream_.get());
  if (buffer == nullptr) {
    return;
  }
  spa_data& data = buffer->buffer->datas[0];
  auto* samples = static_cast<float*>(data.data);
  std::uint32_t count = samples != nullptr ? data.maxsize / sizeof(float) : 0;
  if (buffer->requested != 0 && buffer->requested < count) {
    count = static_cast<std::uint32_t>(buffer->requested);
  }
  pw_time time{};
  pw_stream_get_time_n(stream_.get(), &time, sizeof(time));
  const auto cycle = time.now != 0
                         ? DemoWindow::Clock::time_point(std::chrono::nanoseconds(time.now))
                         : DemoWindow::Clock::now();
  const auto samplePeriod = std::chrono::duration<double>(1.0 / sampleRate);
  const auto first = cycle - std::chrono::duration_cast<DemoWindow::Clock::duration>(
                                 samplePeriod * static_cast<double>(count));
  for (std::uint32_t i = 0; i < count; ++i, ++phase_) {
    const auto at = first + std::chrono::duration_cast<DemoWindow::Clock::duration>(
                                samplePeriod * static_cast<double>(i));
    samples[i] =
        flashes_.isOn(at)
            ? toneLevel * static_cast<float>(std::sin(2 * M_PI * toneFrequency *
                                                      static_cast<double>(phase_) / sampleRate))
            : 0.0f;
  }
  data.chunk->offset = 0;
  data.chunk->stride = sizeof(float);
  data.chunk->size = count * sizeof(float);
  pw_stream_queue_buffer(stream_.get(), buffer);
}

} // namespace VirtualCamera
