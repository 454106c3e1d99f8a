#include "Platform/Linux/Pulse/PulseAudioCapture.h"

#include "Platform/Linux/Pulse/AudioBatcher.h"
#include "Platform/Linux/Pulse/MonitorLead.h"
#include "Platform/Linux/Pulse/PulseConnection.h"
#include "Platform/Linux/Pulse/PulseSources.h"
#include "Platform/Linux/Pulse/RecordCadence.h"
#include "Platform/Linux/Pulse/SourceReconnection.h"
#include "Platform/Linux/Pulse/StreamReads.h"
#include "Platform/Log.h"

#include <pulse/error.h>
#include <pulse/stream.h>

#include <atomic>
#include <cstdio>
#include <utility>

namespace Platform::Linux::Pulse {

namespace {

// Silence stays this far behind the clock, so that the returning source's
// first buffer, which starts about a fragment before it is read, finds
// room in front of it instead of overlapping the silence.
constexpr std::int64_t silenceLagNanoseconds = 60'000'000;
// A stream that delivers nothing for this long is stalled (the monitor of a
// sink that nothing plays to, a suspended device): silence stands in. Well
// above how late our reads come under load, whose audio would be cut.
constexpr std::int64_t stallNanoseconds = 250'000'000;
// A stop waits this long at most for the fragment that holds its instant:
// three fragments, so that one sent late, or stamped a little early, still
// arrives.
constexpr std::chrono::milliseconds lastFragmentPatience{3 * fragmentMicroseconds / 1000};

class RecordStreamCapture final : public AudioCapture, private SourceReconnection::Capture {
public:
  RecordStreamCapture(std::shared_ptr<AudioServer> server, std::optional<std::string> sourceName)
      : server_(std::move(server)), requestedSource_(std::move(sourceName)),
        reconnection_(*this, !requestedSource_) {}

  ~RecordStreamCapture() override { stop(); }

  void start(std::function<void(SampleBufferRef)> deliver) override {
    if (batcher_) {
      throw SystemError(ErrorDomain::mediaCapture, PA_ERR_BADSTATE,
                        "The audio capture has already been started");
    }
    auto connection = server_->connection();
    sourceName_ = resolveSourceName(*connection);
    const auto source = findSource(*connection, sourceName_);
    if (!source) {
      throw SystemError(ErrorDomain::mediaCapture, PA_ERR_NOENTITY,
                        "The audio source \"" + sourceName_ + "\" is not available");
    }
    chooseFormat(*source, std::move(deliver));
    try {
      openStream(std::move(connection));
    } catch (...) {
      batcher_.reset();
      throw;
    }
    followLatency(*source);
    reconnection_.start();
  }

  void stop() override {
    if (!batcher_) {
      return;
    }
    const std::int64_t stoppedAt = hostTimeNow().value;
    reconnection_.stop();
    awaitSoundUntil(stoppedAt);
    closeStream();
    batcher_->passOn();
    batcher_.reset();
  }

private:
  std::string resolveSourceName(const Connection& connection) const {
    return requestedSource_ ? *requestedSource_ : defaultSinkMonitorName(connection);
  }

  // The format of the first source is the track's format for good; a source
  // that comes back different is converted to it by the server.
  void chooseFormat(const SourceDescription& source, std::function<void(SampleBufferRef)> deliver) {
    spec_ = pa_sample_spec{PA_SAMPLE_FLOAT32LE, source.sampleRate, source.channelCount};
    if (pa_sample_spec_valid(&spec_) == 0) {
      throw SystemError(ErrorDomain::mediaCapture, PA_ERR_INVALID,
                        "The audio source \"" + sourceName_ + "\" has an unusable format");
    }
    map_ = source.channelMap;
    if (pa_channel_map_valid(&map_) == 0 || map_.channels != spec_.channels) {
      pa_channel_map_init_extend(&map_, spec_.channels, PA_CHANNEL_MAP_DEFAULT);
    }
    frameBytes_ = pa_frame_size(&spec_);
    batcher_.emplace(spec_.rate, spec_.channels, timelineToleranceNanoseconds, batchNanoseconds,
                     std::move(deliver));
  }

  // Records `sourceName_` over `connection`; throws when the server refuses.
  void openStream(std::shared_ptr<Connection> connection) {
    // Let go only once unlocked: the last reference ends the main loop.
    std::shared_ptr<Connection> failedConnection;
    const Connection& server = *connection;
    const Connection::Lock lock(server);
    pa_stream* stream = pa_stream_new(server.context(), "Recording", &spec_, &map_);
    if (stream == nullptr) {
      throw startError(server);
    }
    stream_ = stream;
    connection_ = std::move(connection);
    lost_ = false;
    leadKnown_ = false;
    lastRead_ = hostTimeNow().value;
    pa_stream_set_state_callback(stream_, &RecordStreamCapture::stateChanged, this);
    pa_stream_set_read_callback(stream_, &RecordStreamCapture::readable, this);

    pa_buffer_attr attributes = recordBufferAttributes(spec_);
    // Never moved by the server: a source that goes must read as lost, so
    // that a microphone is not silently swapped for another one.
    const auto flags =
        static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE);
    const bool ready =
        pa_stream_connect_record(stream_, sourceName_.c_str(), &attributes, flags) == 0 &&
        server.waitUntil(
            [this] {
              const auto state = pa_stream_get_state(stream_);
              return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
            },
            requestTimeout) &&
        pa_stream_get_state(stream_) == PA_STREAM_READY;
    if (!ready) {
      auto error = startError(server);
      releaseStream();
      // No connection without a stream: the watcher tries again.
      failedConnection = std::move(connection_);
      throw error;
    }
  }

  SystemError startError(const Connection& connection) const REQUIRES(connection) {
    return SystemError(ErrorDomain::mediaCapture, pa_context_errno(connection.context()),
                       "Could not record from the audio source \"" + sourceName_ +
                           "\": " + connection.lastError());
  }

  // With the lock held. No callback of the stream runs after this.
  void releaseStream() {
    if (stream_ == nullptr) {
      return;
    }
    pa_stream_set_state_callback(stream_, nullptr, nullptr);
    pa_stream_set_read_callback(stream_, nullptr, nullptr);
    pa_stream_disconnect(stream_);
    pa_stream_unref(stream_);
    stream_ = nullptr;
  }

  // The server sends a fragment only once it is full: the sound of the last
  // moments before a stop is still on its way, and is waited for.
  void awaitSoundUntil(std::int64_t instant) {
    if (!connection_) {
      return;
    }
    const Connection::Lock lock(*connection_);
    awaitingSound_ = true;
    connection_->waitUntil(
        [&] {
          const auto end = batcher_->end();
          return lost_ || (end && *end >= instant);
        },
        lastFragmentPatience);
    awaitingSound_ = false;
  }

  // Ends the current stream, if any, and lets its connection go.
  void closeStream() override {
    if (!connection_) {
      return;
    }
    {
      const Connection::Lock lock(*connection_);
      releaseStream();
    }
    connection_.reset();
    batcher_->dropPartialFrame();
  }

  static void stateChanged(pa_stream* stream, void* userdata) {
    auto* self = static_cast<RecordStreamCapture*>(userdata);
    self->connection_->signal();
    if (!PA_STREAM_IS_GOOD(pa_stream_get_state(stream)) && !self->lost_.exchange(true)) {
      self->reconnection_.wake();
    }
  }

  // The watcher's; connection_ is its own: no other thread changes it now.
  bool isRecording() const override { return connection_ != nullptr; }
  bool isLost() const override { return lost_; }

  void closeLostStream() override {
    noteLoss();
    closeStream();
  }

  // A monitor hears the sink's sound when the sink renders it, up to the
  // sink's latency before it is played; stamped by when it reaches us, the
  // sound would lead the picture by that much.
  void followLatency(const SourceDescription& source) {
    monitoredSink_.reset();
    monitorLead_.reset();
    if (source.isMonitor) {
      monitoredSink_ = source.monitoredSink;
    }
    refreshMonitorLead();
  }

  // The stream's first buffers wait for the lead: the timeline keeps the
  // lead it starts with unless it moves by more than its tolerance.
  void refreshMonitorLead() override {
    if (!connection_) {
      return;
    }
    try {
      leadNanoseconds_ =
          monitoredSink_ ? monitorLead_.note(sinkLatency(*connection_, *monitoredSink_)) : 0;
    } catch (const Error&) {
      // The server is going: the stream's own state tells the rest.
    }
    const Connection::Lock lock(*connection_);
    leadKnown_ = true;
  }

  void noteLoss() {
    const bool serverLost = !PA_CONTEXT_IS_GOOD(pa_context_get_state(connection_->context()));
    log(LogLevel::warning,
        serverLost ? "The connection to the audio server was lost; recording silence for \"" +
                         sourceName_ + "\" until it is back"
                   : "The audio source \"" + sourceName_ +
                         "\" went away; recording silence until it is back");
  }

  // For system audio: whether the default sink is another one than the one
  // recorded; the name to record is then the new one's monitor.
  bool defaultSinkMoved() override {
    try {
      const auto name = defaultSinkMonitorName(*connection_);
      if (name == sourceName_) {
        return false;
      }
      log(LogLevel::info, "The default output changed; recording \"" + name + "\" instead of \"" +
                              sourceName_ + "\"");
      sourceName_ = name;
      return true;
    } catch (const Error&) {
      // No default sink for now, or the server is going: the stream's own
      // state tells the rest.
      return false;
    }
  }

  void recordAgain() override {
    try {
      auto connection = server_->connection();
      const std::string name = resolveSourceName(*connection);
      const auto source = findSource(*connection, name);
      if (!source) {
        return;
      }
      sourceName_ = name;
      batcher_->rejoinAtNextRead();
      openStream(std::move(connection));
      followLatency(*source);
      log(LogLevel::info, "Recording \"" + sourceName_ + "\" again");
    } catch (const Error&) {
      // Still away: the next attempt comes soon, silence goes on meanwhile.
    }
  }

  // Silence while the stream delivers nothing; its next read rejoins the
  // timeline. Under the lock: the stream's reads touch the timeline too.
  void fillStall() override {
    const Connection::Lock lock(*connection_);
    if (hostTimeNow().value - lastRead_ > stallNanoseconds) {
      if (!stalled_) {
        stalled_ = true;
        log(LogLevel::info, "\"" + sourceName_ + "\" sends nothing: silence stands in");
      }
      fillSilence();
      batcher_->rejoinAtNextRead();
    }
  }

  // Under the lock, as fillStall().
  void reportClock() override {
    std::optional<double> ppm;
    std::optional<std::int64_t> step;
    {
      const Connection::Lock lock(*connection_);
      ppm = batcher_->clockToReport();
      step = batcher_->stepToReport();
    }
    if (step) {
      char text[32];
      std::snprintf(text, sizeof text, "%+.1f", static_cast<double>(*step) / 1e6);
      log(LogLevel::info,
          "The sound of \"" + sourceName_ + "\" stepped by " + text + " ms to meet its reads");
    }
    if (ppm) {
      char text[32];
      std::snprintf(text, sizeof text, "%+.0f", *ppm);
      log(LogLevel::info,
          "The clock of \"" + sourceName_ + "\" runs " + text + " ppm off the host clock");
    }
  }

  // With no stream running or the lock held: the batcher is ours.
  void fillSilence() override {
    batcher_->fillSilenceUntil(hostTimeNow().value - silenceLagNanoseconds);
  }

  static void readable(pa_stream* stream, std::size_t, void* userdata) {
    static_cast<RecordStreamCapture*>(userdata)->readAvailable(stream);
  }

  void readAvailable(pa_stream* stream) {
    readInto(stream, *batcher_, frameBytes_, [this] {
      if (batcher_->hasWholeFrames() && leadKnown_) {
        lastRead_ = hostTimeNow().value;
        stalled_ = false;
        batcher_->stamp(lastRead_ + leadNanoseconds_);
      }
      if (awaitingSound_) {
        connection_->signal();
      }
    });
  }

  const std::shared_ptr<AudioServer> server_;
  const std::optional<std::string> requestedSource_;

  // Set at the start, then read only.
  pa_sample_spec spec_{};
  pa_channel_map map_{};
  std::size_t frameBytes_ = 0;

  // The watcher's: it alone opens and closes streams once recording runs.
  std::string sourceName_;
  std::shared_ptr<Connection> connection_;
  std::optional<std::uint32_t> monitoredSink_;
  MonitorLead monitorLead_;
  std::atomic<std::int64_t> leadNanoseconds_{0};
  std::atomic<bool> lost_{false};

  // Touched on the main loop's thread with its lock held while a stream
  // runs, by the watcher while none does. The batcher delivers there, one
  // buffer at a time and in order; the receivers only queue the buffers, so
  // the main loop is not held up. Present from the start to the stop.
  pa_stream* stream_ = nullptr;
  std::optional<AudioBatcher> batcher_;
  bool leadKnown_ = false;
  bool awaitingSound_ = false; // a stop waits for the last fragment
  std::int64_t lastRead_ = 0;
  bool stalled_ = false; // said so since the last read

  // Last: its watcher ends before the rest goes.
  SourceReconnection reconnection_;
};

} // namespace

std::unique_ptr<AudioCapture> makeRecordStreamCapture(std::shared_ptr<AudioServer> server,
                                                      std::optional<std::string> sourceName) {
  return std::make_unique<RecordStreamCapture>(std::move(server), std::move(sourceName));
}

} // namespace Platform::Linux::Pulse
