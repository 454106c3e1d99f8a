#include "Platform/Linux/Pulse/ApplicationAudioCapture.h"

#include "Platform/Linux/Pulse/ApplicationStreams.h"
#include "Platform/Linux/Pulse/AudioBatcher.h"
#include "Platform/Linux/Pulse/AudioMixer.h"
#include "Platform/Linux/Pulse/MonitorLead.h"
#include "Platform/Linux/Pulse/PulseConnection.h"
#include "Platform/Linux/Pulse/PulseSources.h"
#include "Platform/Linux/Pulse/RecordCadence.h"
#include "Platform/Linux/Pulse/StreamReads.h"
#include "Platform/Log.h"
#include "Platform/ThreadSafety.h"

#include <pulse/error.h>
#include <pulse/introspect.h>
#include <pulse/stream.h>
#include <pulse/subscribe.h>

#include <map>
#include <thread>
#include <utility>

namespace Platform::Linux::Pulse {

namespace {

// The mix is passed on this far behind the clock: a stream's buffer reaches
// it a fragment and a batch after its first frame, later under load.
constexpr std::int64_t mixDelayNanoseconds = 250'000'000;
constexpr std::chrono::milliseconds mixPeriod{40};

// A record stream on one playback stream, with its own timeline.
struct MonitoredStream {
  pa_stream* stream = nullptr;
  std::uint32_t sink = PA_INVALID_INDEX;
  std::int64_t lead = 0; // how far ahead of playing the sink hands it over
  std::optional<AudioBatcher> batcher;
};

class ApplicationAudioCapture final : public AudioCapture {
public:
  explicit ApplicationAudioCapture(SCRunningApplication application)
      : match_(std::move(application)) {}

  ~ApplicationAudioCapture() override { stop(); }

  void start(std::function<void(SampleBufferRef)> deliver) override {
    if (connection_) {
      throw SystemError(ErrorDomain::mediaCapture, PA_ERR_BADSTATE,
                        "The audio capture has already been started");
    }
    // A connection of our own: its subscription to stream events is ours.
    auto connection = Connection::open(requestTimeout);
    const std::string monitor = defaultSinkMonitorName(*connection);
    const auto source = findSource(*connection, monitor);
    if (!source) {
      throw SystemError(ErrorDomain::mediaCapture, PA_ERR_NOENTITY,
                        "The audio source \"" + monitor + "\" is not available");
    }
    spec_ = pa_sample_spec{PA_SAMPLE_FLOAT32LE, source->sampleRate, source->channelCount};
    map_ = source->channelMap;
    if (pa_sample_spec_valid(&spec_) == 0) {
      throw SystemError(ErrorDomain::mediaCapture, PA_ERR_INVALID,
                        "The audio source \"" + monitor + "\" has an unusable format");
    }
    if (pa_channel_map_valid(&map_) == 0 || map_.channels != spec_.channels) {
      pa_channel_map_init_extend(&map_, spec_.channels, PA_CHANNEL_MAP_DEFAULT);
    }
    {
      const Lock lock(mixMutex_);
      mixer_.emplace(spec_.rate, spec_.channels, std::move(deliver));
      mixer_->passOnUntil(hostTimeNow().value - mixDelayNanoseconds);
    }
    connection_ = std::move(connection);
    {
      const Connection::Lock lock(*connection_);
      pa_context_set_subscribe_callback(connection_->context(), &ApplicationAudioCapture::changed,
                                        this);
      const bool subscribed = connection_->await(
          pa_context_subscribe(connection_->context(), PA_SUBSCRIPTION_MASK_SINK_INPUT, nullptr,
                               nullptr),
          requestTimeout);
      if (!subscribed) {
        pa_context_set_subscribe_callback(connection_->context(), nullptr, nullptr);
        auto error = SystemError(
            ErrorDomain::mediaCapture, pa_context_errno(connection_->context()),
            "Could not follow the audio server's playback streams: " + connection_->lastError());
        throw error;
      }
      pa_operation_unref(pa_context_get_sink_input_info_list(
          connection_->context(), &ApplicationAudioCapture::streamDescribed, this));
    }
    log(LogLevel::info, "Recording the sound of " + match_.description());
    pump_ = std::jthread([this](std::stop_token stop) { pumpMix(stop); });
  }

  void stop() override {
    if (!connection_) {
      return;
    }
    const std::int64_t stoppedAt = hostTimeNow().value;
    pump_.request_stop();
    pump_.join();
    // The sound up to the stop instant is still on its way to the mix.
    std::this_thread::sleep_for(std::chrono::nanoseconds(mixDelayNanoseconds));
    {
      const Connection::Lock lock(*connection_);
      pa_context_set_subscribe_callback(connection_->context(), nullptr, nullptr);
      for (auto& [index, monitored] : monitored_) {
        releaseStream(*monitored);
      }
      monitored_.clear();
    }
    connection_.reset();
    const Lock lock(mixMutex_);
    mixer_->passOnUntil(stoppedAt);
    if (mixer_->lateFrames() > 0) {
      log(LogLevel::info, std::to_string(mixer_->lateFrames()) +
                              " frames of the application's sound came too late for the mix");
    }
    mixer_.reset();
  }

private:
  void pumpMix(const std::stop_token& stop) {
    while (!stop.stop_requested()) {
      std::this_thread::sleep_for(mixPeriod);
      const Lock lock(mixMutex_);
      mixer_->passOnUntil(hostTimeNow().value - mixDelayNanoseconds);
    }
  }

  // On the main loop's thread, as every callback below.
  static void changed(pa_context* context, pa_subscription_event_type_t event, std::uint32_t index,
                      void* userdata) {
    auto* self = static_cast<ApplicationAudioCapture*>(userdata);
    const auto type = event & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
    if (type == PA_SUBSCRIPTION_EVENT_REMOVE) {
      self->forget(index);
      return;
    }
    // New, or changed (moved to another sink, say): look at it again.
    pa_operation_unref(pa_context_get_sink_input_info(
        context, index, &ApplicationAudioCapture::streamDescribed, userdata));
  }

  static void streamDescribed(pa_context* context, const pa_sink_input_info* info, int endOfList,
                              void* userdata) {
    auto* self = static_cast<ApplicationAudioCapture*>(userdata);
    if (endOfList != 0 || info == nullptr || !self->match_.owns(describe(*info))) {
      return;
    }
    const auto known = self->monitored_.find(info->index);
    if (known != self->monitored_.end()) {
      if (known->second->sink == info->sink) {
        return;
      }
      self->forget(info->index); // moved: recorded again where it plays now
    }
    self->pendingSinks_[info->index] = info->sink;
    pa_operation_unref(pa_context_get_sink_info_by_index(
        context, info->sink, &ApplicationAudioCapture::sinkDescribed, userdata));
  }

  static PlaybackStream describe(const pa_sink_input_info& info) {
    PlaybackStream stream;
    if (const char* pid = pa_proplist_gets(info.proplist, PA_PROP_APPLICATION_PROCESS_ID)) {
      try {
        stream.processID = static_cast<pid_t>(std::stol(pid));
      } catch (const std::exception&) {
        // Not a number: not a process of ours to match.
      }
    }
    for (const char* key : {PA_PROP_APPLICATION_ID, "pipewire.access.portal.app_id"}) {
      if (const char* id = pa_proplist_gets(info.proplist, key); id != nullptr && *id != '\0') {
        stream.applicationID = id;
        break;
      }
    }
    return stream;
  }

  // The sink of a matched stream is known: its monitor source is where the
  // stream is recorded from.
  static void sinkDescribed(pa_context*, const pa_sink_info* sink, int endOfList, void* userdata) {
    auto* self = static_cast<ApplicationAudioCapture*>(userdata);
    if (endOfList != 0 || sink == nullptr) {
      return;
    }
    for (auto pending = self->pendingSinks_.begin(); pending != self->pendingSinks_.end();) {
      if (pending->second != sink->index) {
        ++pending;
        continue;
      }
      const std::uint32_t input = pending->first;
      pending = self->pendingSinks_.erase(pending);
      // As the system audio's monitor: the lead the sink's latency gives.
      SinkLatency latency;
      latency.current = static_cast<std::int64_t>(sink->latency) * 1000;
      if ((sink->flags & PA_SINK_DYNAMIC_LATENCY) != 0) {
        latency.configured = static_cast<std::int64_t>(sink->configured_latency) * 1000;
      }
      self->monitor(input, *sink, MonitorLead().note(latency));
    }
  }

  void monitor(std::uint32_t input, const pa_sink_info& sink, std::int64_t lead) {
    if (monitored_.contains(input)) {
      return;
    }
    auto monitored = std::make_unique<MonitoredStream>();
    monitored->sink = sink.index;
    monitored->lead = lead;
    monitored->batcher.emplace(spec_.rate, spec_.channels, timelineToleranceNanoseconds,
                               batchNanoseconds, [this](SampleBufferRef buffer) {
                                 const Lock lock(mixMutex_);
                                 if (mixer_) {
                                   mixer_->add(*buffer);
                                 }
                               });
    pa_stream* stream = pa_stream_new(connection_->context(), "Application sound", &spec_, &map_);
    if (stream == nullptr) {
      return;
    }
    monitored->stream = stream;
    pa_stream_set_monitor_stream(stream, input);
    pa_stream_set_read_callback(stream, &ApplicationAudioCapture::readable, monitored.get());
    pa_buffer_attr attributes = recordBufferAttributes(spec_);
    const std::string device = std::to_string(sink.monitor_source);
    if (pa_stream_connect_record(stream, device.c_str(), &attributes, PA_STREAM_ADJUST_LATENCY) <
        0) {
      log(LogLevel::warning,
          "Could not record a playback stream of the application: " +
              std::string(pa_strerror(pa_context_errno(connection_->context()))));
      releaseStream(*monitored);
      return;
    }
    monitored_.emplace(input, std::move(monitored));
  }

  static void readable(pa_stream* stream, std::size_t, void* userdata) {
    auto& monitored = *static_cast<MonitoredStream*>(userdata);
    readInto(stream, *monitored.batcher, pa_frame_size(pa_stream_get_sample_spec(stream)), [&] {
      if (monitored.batcher->hasWholeFrames()) {
        monitored.batcher->stamp(hostTimeNow().value + monitored.lead);
      }
    });
  }

  // A stream that ended: what it played goes to the mix, the rest is silence.
  void forget(std::uint32_t input) {
    pendingSinks_.erase(input);
    const auto known = monitored_.find(input);
    if (known == monitored_.end()) {
      return;
    }
    releaseStream(*known->second);
    monitored_.erase(known);
  }

  static void releaseStream(MonitoredStream& monitored) {
    if (monitored.stream != nullptr) {
      pa_stream_set_read_callback(monitored.stream, nullptr, nullptr);
      pa_stream_disconnect(monitored.stream);
      pa_stream_unref(monitored.stream);
      monitored.stream = nullptr;
    }
    monitored.batcher->passOn();
  }

  const ApplicationMatch match_;
  pa_sample_spec spec_{};
  pa_channel_map map_{};
  std::shared_ptr<Connection> connection_;

  // The main loop's, with its lock held.
  std::map<std::uint32_t, std::unique_ptr<MonitoredStream>> monitored_;
  std::map<std::uint32_t, std::uint32_t> pendingSinks_; // stream -> sink asked about

  Mutex mixMutex_;
  std::optional<AudioMixer> mixer_ GUARDED_BY(mixMutex_);
  std::jthread pump_;
};

} // namespace

std::unique_ptr<AudioCapture> makeApplicationAudioCapture(SCRunningApplication application) {
  return std::make_unique<ApplicationAudioCapture>(std::move(application));
}

} // namespace Platform::Linux::Pulse
