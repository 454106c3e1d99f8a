#include "Platform/Linux/Pulse/PulseAudioCapture.h"

#include "Platform/Linux/Pulse/AudioTimeline.h"
#include "Platform/Linux/Pulse/OrderedDelivery.h"
#include "Platform/Linux/Pulse/PulseConnection.h"
#include "Platform/Linux/Pulse/PulseSources.h"

#include <pulse/error.h>
#include <pulse/stream.h>

#include <cstring>

namespace Platform::Linux::Pulse {

namespace {

constexpr pa_usec_t fragmentMicroseconds = 10'000;
// Above the jitter of when our reads are scheduled (about a fragment).
constexpr std::int64_t timelineToleranceNanoseconds = 15'000'000;
constexpr std::size_t bytesPerSample = sizeof(float);

class RecordStreamCapture final : public AudioCapture {
public:
  explicit RecordStreamCapture(std::optional<std::string> sourceName)
      : requestedSource_(std::move(sourceName)) {}

  ~RecordStreamCapture() override { stop(); }

  void start(std::function<void(SampleBufferRef)> deliver,
             std::function<void(ErrorRef)> failed) override {
    if (connection_) {
      throw SystemError(ErrorDomain::mediaCapture, PA_ERR_BADSTATE,
                        "The audio capture has already been started");
    }
    auto connection = Connection::shared();
    sourceName_ = requestedSource_ ? *requestedSource_ : defaultSinkMonitorName(*connection);
    const auto source = findSource(*connection, sourceName_);
    if (!source) {
      throw SystemError(ErrorDomain::mediaCapture, PA_ERR_NOENTITY,
                        "The audio source \"" + sourceName_ + "\" is not available");
    }
    deliver_ = std::move(deliver);
    failed_ = std::move(failed);
    openStream(*connection, *source);
    connection_ = std::move(connection);
  }

  void stop() override {
    if (!connection_) {
      return;
    }
    {
      const Connection::Lock lock(*connection_);
      closeStream();
    }
    delivery_->close();
  }

private:
  void openStream(const Connection& connection, const SourceDescription& source) {
    const pa_sample_spec spec{PA_SAMPLE_FLOAT32LE, source.sampleRate, source.channelCount};
    pa_channel_map map = source.channelMap;
    if (pa_channel_map_valid(&map) == 0 || map.channels != spec.channels) {
      pa_channel_map_init_extend(&map, spec.channels, PA_CHANNEL_MAP_DEFAULT);
    }
    if (pa_sample_spec_valid(&spec) == 0) {
      throw SystemError(ErrorDomain::mediaCapture, PA_ERR_INVALID,
                        "The audio source \"" + sourceName_ + "\" has an unusable format");
    }
    format_ = FormatDescription::audioPCM(
        {static_cast<double>(spec.rate), spec.channels, AudioSampleFormat::float32});
    frameBytes_ = spec.channels * bytesPerSample;
    sampleRate_ = spec.rate;
    timeline_.emplace(spec.rate, timelineToleranceNanoseconds);
    delivery_ = std::make_unique<OrderedDelivery>();

    const Connection::Lock lock(connection);
    stream_ = pa_stream_new(connection.context(), "Recording", &spec, &map);
    if (stream_ == nullptr) {
      throw startError(connection);
    }
    context_ = connection.context();
    connectionForCallbacks_ = &connection;
    pa_stream_set_state_callback(stream_, &RecordStreamCapture::stateChanged, this);
    pa_stream_set_read_callback(stream_, &RecordStreamCapture::readable, this);

    pa_buffer_attr attributes{};
    attributes.maxlength = static_cast<std::uint32_t>(-1);
    attributes.tlength = static_cast<std::uint32_t>(-1);
    attributes.prebuf = static_cast<std::uint32_t>(-1);
    attributes.minreq = static_cast<std::uint32_t>(-1);
    attributes.fragsize = static_cast<std::uint32_t>(pa_usec_to_bytes(fragmentMicroseconds, &spec));
    const auto flags =
        static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE);
    const bool ready =
        pa_stream_connect_record(stream_, sourceName_.c_str(), &attributes, flags) == 0 &&
        connection.waitUntil(
            [this] {
              const auto state = pa_stream_get_state(stream_);
              return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
            },
            requestTimeout) &&
        pa_stream_get_state(stream_) == PA_STREAM_READY;
    if (!ready) {
      auto error = startError(connection);
      closeStream();
      throw error;
    }
    running_ = true;
  }

  SystemError startError(const Connection& connection) const {
    return SystemError(ErrorDomain::mediaCapture, pa_context_errno(connection.context()),
                       "Could not record from the audio source \"" + sourceName_ +
                           "\": " + connection.lastError());
  }

  // With the lock held. No callback of the stream runs after this.
  void closeStream() {
    running_ = false;
    if (stream_ == nullptr) {
      return;
    }
    pa_stream_set_state_callback(stream_, nullptr, nullptr);
    pa_stream_set_read_callback(stream_, nullptr, nullptr);
    pa_stream_disconnect(stream_);
    pa_stream_unref(stream_);
    stream_ = nullptr;
  }

  static void stateChanged(pa_stream* stream, void* userdata) {
    auto* self = static_cast<RecordStreamCapture*>(userdata);
    self->connectionForCallbacks_->signal();
    if (self->running_ && !PA_STREAM_IS_GOOD(pa_stream_get_state(stream))) {
      self->running_ = false;
      self->reportFailure();
    }
  }

  void reportFailure() {
    const bool serverLost = !PA_CONTEXT_IS_GOOD(pa_context_get_state(context_));
    auto error = serverLost
                     ? makeError(ErrorDomain::mediaCapture, pa_context_errno(context_),
                                 "The connection to the audio server was lost: " +
                                     std::string(pa_strerror(pa_context_errno(context_))))
                     : makeError(ErrorDomain::mediaCapture, PA_ERR_NOENTITY,
                                 "The audio source \"" + sourceName_ + "\" is no longer available");
    delivery_->post([this, error = std::move(error)] { failed_(error); });
  }

  static void readable(pa_stream* stream, std::size_t, void* userdata) {
    static_cast<RecordStreamCapture*>(userdata)->readAvailable(stream);
  }

  void readAvailable(pa_stream* stream) {
    for (;;) {
      const void* data = nullptr;
      std::size_t length = 0;
      if (pa_stream_peek(stream, &data, &length) < 0 || length == 0) {
        return;
      }
      if (data == nullptr) {
        // A hole: audio the server lost. Later buffers keep their place.
        timeline_->skip(length / frameBytes_);
        pa_stream_drop(stream);
        continue;
      }
      const auto* bytes = static_cast<const std::uint8_t*>(data);
      pending_.insert(pending_.end(), bytes, bytes + length);
      pa_stream_drop(stream);
      deliverWholeFrames();
    }
  }

  // Sends the whole frames gathered so far as one buffer; a partial frame
  // waits for the rest of its bytes.
  void deliverWholeFrames() {
    const std::size_t frames = pending_.size() / frameBytes_;
    if (frames == 0) {
      return;
    }
    const auto used = static_cast<std::ptrdiff_t>(frames * frameBytes_);
    auto audio = std::make_shared<AudioBuffer>();
    audio->frameCount = frames;
    audio->bytes.assign(pending_.begin(), pending_.begin() + used);
    pending_.erase(pending_.begin(), pending_.begin() + used);
    const std::int64_t start = timeline_->stamp(hostTimeNow().value, frames);

    CMSampleBuffer::Contents contents;
    contents.formatDescription = format_;
    contents.timing.push_back(CMSampleTimingInfo{
        CMTimeMake(static_cast<CMTimeValue>(frames), static_cast<CMTimeScale>(sampleRate_)),
        CMTimeMake(start, hostTimeScale), kCMTimeInvalid});
    contents.audioBuffer = std::move(audio);
    delivery_->post(
        [this, sample = CMSampleBuffer::make(std::move(contents))] { deliver_(sample); });
  }

  std::optional<std::string> requestedSource_;
  std::string sourceName_;
  std::function<void(SampleBufferRef)> deliver_;
  std::function<void(ErrorRef)> failed_;
  std::shared_ptr<Connection> connection_;
  std::unique_ptr<OrderedDelivery> delivery_;

  // Touched on the main loop's thread, or with the lock held.
  const Connection* connectionForCallbacks_ = nullptr;
  pa_context* context_ = nullptr;
  pa_stream* stream_ = nullptr;
  bool running_ = false;
  std::shared_ptr<const FormatDescription> format_;
  std::size_t frameBytes_ = 0;
  std::uint32_t sampleRate_ = 0;
  std::optional<AudioTimeline> timeline_;
  std::vector<std::uint8_t> pending_;
};

} // namespace

std::unique_ptr<AudioCapture> makeRecordStreamCapture(std::optional<std::string> sourceName) {
  return std::make_unique<RecordStreamCapture>(std::move(sourceName));
}

} // namespace Platform::Linux::Pulse
