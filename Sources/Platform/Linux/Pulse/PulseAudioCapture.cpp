#include "Platform/Linux/Pulse/PulseAudioCapture.h"

#include "Platform/Linux/Pulse/AudioTimeline.h"
#include "Platform/Linux/Pulse/PulseConnection.h"
#include "Platform/Linux/Pulse/PulseSources.h"
#include "Platform/Log.h"

#include <pulse/error.h>
#include <pulse/stream.h>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <utility>

namespace Platform::Linux::Pulse {

namespace {

using SteadyClock = std::chrono::steady_clock;

// What the server is asked to send at a time. A monitor's request sets the
// sink's latency: small enough that the lead a monitor's buffers are moved
// by stays small, large enough that neither the server nor our reading
// thread wakes a hundred times a second for each source.
constexpr pa_usec_t fragmentMicroseconds = 40'000;
// Reads are gathered up to this much before they are passed on: every buffer
// passed on wakes the threads down to the file, and for a still window those
// wake-ups are most of what recording costs.
constexpr pa_usec_t batchMicroseconds = 40'000;
// Stamps that follow each other differ by rounding only; a moved timeline
// moves them by milliseconds.
constexpr std::int64_t contiguityNanoseconds = 1'000;
// A least delayed read this far off is an event (lost audio, a monitor's
// lead that jumped) and moves the timeline at once; closer ones steer it.
// Above the jitter of when our reads are scheduled.
constexpr std::int64_t timelineToleranceNanoseconds = 15'000'000;
constexpr std::size_t bytesPerSample = sizeof(float);
// How often the watcher looks for a stalled source and a moved default sink
// while recording, and how often it fills silence and tries to record again
// while the source is away.
constexpr std::chrono::milliseconds recordingWatchPeriod{100};
constexpr std::chrono::milliseconds awayWatchPeriod{20};
// Silence stays this far behind the clock, so that the returning source's
// first buffer, which starts about a fragment before it is read, finds
// room in front of it instead of overlapping the silence.
constexpr std::int64_t silenceLagNanoseconds = 60'000'000;
// Between attempts to record again; together with connecting, well within
// the 2 s in which a restarted server should be heard again.
constexpr std::chrono::milliseconds retryPeriod{250};
// A stream that delivers nothing for this long is stalled (the monitor of a
// sink that nothing plays to, a suspended device): silence stands in. Well
// above how late our reads come under load, whose audio would be cut.
constexpr std::int64_t stallNanoseconds = 250'000'000;
// How often system audio checks which sink is the default one.
constexpr std::chrono::milliseconds defaultSinkCheckPeriod{500};
// A stop waits this long at most for the fragment that holds its instant:
// three fragments, so that one sent late, or stamped a little early, still
// arrives.
constexpr std::chrono::milliseconds lastFragmentPatience{3 * fragmentMicroseconds / 1000};

class RecordStreamCapture final : public AudioCapture {
public:
  RecordStreamCapture(std::shared_ptr<AudioServer> server, std::optional<std::string> sourceName)
      : server_(std::move(server)), requestedSource_(std::move(sourceName)) {}

  ~RecordStreamCapture() override { stop(); }

  void start(std::function<void(SampleBufferRef)> deliver) override {
    if (deliver_) {
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
    chooseFormat(*source);
    deliver_ = std::move(deliver);
    try {
      openStream(std::move(connection));
    } catch (...) {
      deliver_ = nullptr;
      throw;
    }
    followLatency(*source);
    watcher_ = std::thread([this] { watch(); });
  }

  void stop() override {
    if (!deliver_) {
      return;
    }
    const std::int64_t stoppedAt = hostTimeNow().value;
    {
      std::lock_guard lock(watchMutex_);
      stopping_ = true;
    }
    watchWake_.notify_all();
    if (watcher_.joinable()) {
      watcher_.join();
    }
    awaitSoundUntil(stoppedAt);
    closeStream();
    passOnBatch();
    deliver_ = nullptr;
  }

private:
  std::string resolveSourceName(const Connection& connection) const {
    return requestedSource_ ? *requestedSource_ : defaultSinkMonitorName(connection);
  }

  // The format of the first source is the track's format for good; a source
  // that comes back different is converted to it by the server.
  void chooseFormat(const SourceDescription& source) {
    spec_ = pa_sample_spec{PA_SAMPLE_FLOAT32LE, source.sampleRate, source.channelCount};
    if (pa_sample_spec_valid(&spec_) == 0) {
      throw SystemError(ErrorDomain::mediaCapture, PA_ERR_INVALID,
                        "The audio source \"" + sourceName_ + "\" has an unusable format");
    }
    map_ = source.channelMap;
    if (pa_channel_map_valid(&map_) == 0 || map_.channels != spec_.channels) {
      pa_channel_map_init_extend(&map_, spec_.channels, PA_CHANNEL_MAP_DEFAULT);
    }
    format_ = FormatDescription::audioPCM(
        {static_cast<double>(spec_.rate), spec_.channels, AudioSampleFormat::float32});
    frameBytes_ = spec_.channels * bytesPerSample;
    framesPerBatch_ = pa_usec_to_bytes(batchMicroseconds, &spec_) / frameBytes_;
    timeline_.emplace(spec_.rate, timelineToleranceNanoseconds);
  }

  // Records `sourceName_` over `connection`; throws when the server refuses.
  void openStream(std::shared_ptr<Connection> connection) {
    // Let go only once unlocked: the last reference ends the main loop.
    std::shared_ptr<Connection> failedConnection;
    const Connection::Lock lock(*connection);
    pa_stream* stream = pa_stream_new(connection->context(), "Recording", &spec_, &map_);
    if (stream == nullptr) {
      throw startError(*connection);
    }
    stream_ = stream;
    connection_ = std::move(connection);
    lost_ = false;
    leadKnown_ = false;
    lastRead_ = hostTimeNow().value;
    pa_stream_set_state_callback(stream_, &RecordStreamCapture::stateChanged, this);
    pa_stream_set_read_callback(stream_, &RecordStreamCapture::readable, this);

    pa_buffer_attr attributes{};
    attributes.maxlength = static_cast<std::uint32_t>(-1);
    attributes.tlength = static_cast<std::uint32_t>(-1);
    attributes.prebuf = static_cast<std::uint32_t>(-1);
    attributes.minreq = static_cast<std::uint32_t>(-1);
    attributes.fragsize =
        static_cast<std::uint32_t>(pa_usec_to_bytes(fragmentMicroseconds, &spec_));
    // Never moved by the server: a source that goes must read as lost, so
    // that a microphone is not silently swapped for another one.
    const auto flags =
        static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE);
    const bool ready =
        pa_stream_connect_record(stream_, sourceName_.c_str(), &attributes, flags) == 0 &&
        connection_->waitUntil(
            [this] {
              const auto state = pa_stream_get_state(stream_);
              return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
            },
            requestTimeout) &&
        pa_stream_get_state(stream_) == PA_STREAM_READY;
    if (!ready) {
      auto error = startError(*connection_);
      releaseStream();
      // No connection without a stream: the watcher tries again.
      failedConnection = std::move(connection_);
      throw error;
    }
  }

  SystemError startError(const Connection& connection) const {
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
          const auto end = timeline_->end();
          return lost_ || (end && *end >= instant);
        },
        lastFragmentPatience);
    awaitingSound_ = false;
  }

  // Ends the current stream, if any, and lets its connection go.
  void closeStream() {
    if (!connection_) {
      return;
    }
    {
      const Connection::Lock lock(*connection_);
      releaseStream();
    }
    connection_.reset();
    pending_.clear();
  }

  static void stateChanged(pa_stream* stream, void* userdata) {
    auto* self = static_cast<RecordStreamCapture*>(userdata);
    self->connection_->signal();
    if (!PA_STREAM_IS_GOOD(pa_stream_get_state(stream)) && !self->lost_.exchange(true)) {
      self->watchWake_.notify_all();
    }
  }

  // The watcher's thread: silence while the source is gone, and the way back.
  void watch() {
    std::unique_lock lock(watchMutex_);
    for (;;) {
      // connection_ is the watcher's own: no other thread changes it now.
      const bool recording = connection_ != nullptr;
      const auto period = recording ? recordingWatchPeriod : awayWatchPeriod;
      if (watchWake_.wait_for(lock, period,
                              [&] { return stopping_ || (recording && lost_.load()); })) {
        if (stopping_) {
          return;
        }
      }
      lock.unlock();
      tend(SteadyClock::now());
      lock.lock();
    }
  }

  void tend(SteadyClock::time_point now) {
    if (lost_ && connection_) {
      noteLoss();
      closeStream();
    }
    if (!connection_) {
      deliverSilence();
      if (now >= nextAttempt_) {
        nextAttempt_ = now + retryPeriod;
        tryToRecordAgain();
      }
      return;
    }
    fillStall();
    if (!requestedSource_ && now >= nextDefaultCheck_) {
      nextDefaultCheck_ = now + defaultSinkCheckPeriod;
      if (defaultSinkMoved()) {
        closeStream();
        nextAttempt_ = now + retryPeriod;
        tryToRecordAgain();
      } else {
        // Streams joining or leaving the sink change its latency.
        refreshMonitorLead();
      }
    }
  }

  // A monitor hears the sink's sound when the sink renders it, up to the
  // sink's latency before it is played; stamped by when it reaches us, the
  // sound would lead the picture by that much.
  void followLatency(const SourceDescription& source) {
    monitoredSink_.reset();
    if (source.isMonitor) {
      monitoredSink_ = source.monitoredSink;
    }
    refreshMonitorLead();
  }

  // The stream's first buffers wait for the lead: the timeline keeps the
  // lead it starts with unless it moves by more than its tolerance.
  void refreshMonitorLead() {
    if (!connection_) {
      return;
    }
    try {
      monitorLead_ = monitoredSink_ ? sinkLatencyNanoseconds(*connection_, *monitoredSink_) : 0;
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
  bool defaultSinkMoved() {
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

  void tryToRecordAgain() {
    try {
      auto connection = server_->connection();
      const std::string name = resolveSourceName(*connection);
      const auto source = findSource(*connection, name);
      if (!source) {
        return;
      }
      sourceName_ = name;
      rejoining_ = true;
      openStream(std::move(connection));
      followLatency(*source);
      log(LogLevel::info, "Recording \"" + sourceName_ + "\" again");
    } catch (const Error&) {
      // Still away: the next attempt comes soon, silence goes on meanwhile.
    }
  }

  // Silence while the stream delivers nothing; its next read rejoins the
  // timeline. Under the lock: the stream's reads touch the timeline too.
  void fillStall() {
    const Connection::Lock lock(*connection_);
    if (hostTimeNow().value - lastRead_ > stallNanoseconds) {
      deliverSilence();
      rejoining_ = true;
    }
  }

  // With no stream running or the lock held: the timeline is ours.
  void deliverSilence() {
    const auto span = timeline_->silenceUntil(hostTimeNow().value - silenceLagNanoseconds);
    if (span.frames > 0) {
      gather(nullptr, span.frames, span.start, *timeline_->end());
    }
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
      if (awaitingSound_) {
        connection_->signal();
      }
    }
  }

  // Stamps the whole frames read so far as one buffer; a partial frame waits
  // for the rest of its bytes.
  void deliverWholeFrames() {
    const std::size_t frames = pending_.size() / frameBytes_;
    if (frames == 0 || !leadKnown_) {
      return;
    }
    lastRead_ = hostTimeNow().value;
    const std::int64_t now = lastRead_ + monitorLead_;
    AudioTimeline::Placement placed;
    if (!rejoining_) {
      placed = timeline_->stamp(now, frames);
    } else {
      rejoining_ = false;
      const auto rejoined = timeline_->rejoin(now, frames);
      if (rejoined.silenceFrames > 0) {
        gather(nullptr, rejoined.silenceFrames, rejoined.silenceStart, rejoined.placement.start);
      }
      placed = rejoined.placement;
    }
    if (const std::size_t kept = frames - placed.droppedFrames; kept > 0) {
      gather(pending_.data() + placed.droppedFrames * frameBytes_, kept, placed.start,
             *timeline_->end());
    }
    pending_.erase(pending_.begin(),
                   pending_.begin() + static_cast<std::ptrdiff_t>(frames * frameBytes_));
  }

  // Adds `frames` stamped frames (silence when `bytes` is null), lasting from
  // `start` to `end` on the host clock, to the batch, which is passed on once
  // it is long enough or when these frames do not follow it (the timeline
  // moved).
  void gather(const std::uint8_t* bytes, std::size_t frames, std::int64_t start, std::int64_t end) {
    if (batchFrames_ > 0 && std::abs(start - batchEnd_) > contiguityNanoseconds) {
      passOnBatch();
    }
    if (batchFrames_ == 0) {
      batchStart_ = start;
    }
    batchEnd_ = end;
    const std::size_t length = frames * frameBytes_;
    if (bytes == nullptr) {
      batch_.resize(batch_.size() + length, 0);
    } else {
      batch_.insert(batch_.end(), bytes, bytes + length);
    }
    batchFrames_ += frames;
    if (batchFrames_ >= framesPerBatch_) {
      passOnBatch();
    }
  }

  void passOnBatch() {
    if (batchFrames_ == 0) {
      return;
    }
    auto audio = std::make_shared<AudioBuffer>();
    audio->frameCount = std::exchange(batchFrames_, 0);
    audio->bytes = std::exchange(batch_, {});
    CMSampleBuffer::Contents contents;
    contents.formatDescription = format_;
    // As long as it lasts on the host clock, which is the nominal length as
    // steered for the source's clock drift: the next buffer starts at its end.
    contents.timing.push_back(CMSampleTimingInfo{CMTimeMake(batchEnd_ - batchStart_, hostTimeScale),
                                                 CMTimeMake(batchStart_, hostTimeScale),
                                                 kCMTimeInvalid});
    contents.audioBuffer = std::move(audio);
    deliver_(CMSampleBuffer::make(std::move(contents)));
  }

  const std::shared_ptr<AudioServer> server_;
  const std::optional<std::string> requestedSource_;
  // Called on the main loop's thread with its lock held, or by the watcher
  // while no stream runs: one buffer at a time, in order. The receivers only
  // queue the buffers, so the main loop is not held up.
  std::function<void(SampleBufferRef)> deliver_;

  // Set at the start, then read only.
  pa_sample_spec spec_{};
  pa_channel_map map_{};
  std::shared_ptr<const FormatDescription> format_;
  std::size_t frameBytes_ = 0;
  std::size_t framesPerBatch_ = 1;

  // The watcher's: it alone opens and closes streams once recording runs.
  std::string sourceName_;
  std::shared_ptr<Connection> connection_;
  std::thread watcher_;
  std::optional<std::uint32_t> monitoredSink_;
  std::atomic<std::int64_t> monitorLead_{0};
  SteadyClock::time_point nextAttempt_{};
  SteadyClock::time_point nextDefaultCheck_{};
  std::mutex watchMutex_;
  std::condition_variable watchWake_;
  bool stopping_ = false; // guarded by watchMutex_
  std::atomic<bool> lost_{false};

  // Touched on the main loop's thread while a stream runs, by the watcher
  // while none does.
  pa_stream* stream_ = nullptr;
  std::optional<AudioTimeline> timeline_;
  std::vector<std::uint8_t> pending_;
  std::vector<std::uint8_t> batch_;
  std::size_t batchFrames_ = 0;
  std::int64_t batchStart_ = 0;
  std::int64_t batchEnd_ = 0;
  bool rejoining_ = false;
  bool leadKnown_ = false;
  bool awaitingSound_ = false; // a stop waits for the last fragment
  std::int64_t lastRead_ = 0;
};

} // namespace

std::unique_ptr<AudioCapture> makeRecordStreamCapture(std::shared_ptr<AudioServer> server,
                                                      std::optional<std::string> sourceName) {
  return std::make_unique<RecordStreamCapture>(std::move(server), std::move(sourceName));
}

} // namespace Platform::Linux::Pulse
