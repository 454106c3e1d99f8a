// pipewire-sound-card: the test sound card on PipeWire itself, which
// sound_card.py starts there. PipeWire's pipe sink is scheduled by the
// graph's timer, not by who drains its pipe, so a card of its own clock must
// drive the graph: a sink NAME (and with --beep-every a microphone NAME_mic)
// that starts each cycle when its clock, PPM parts per million off
// CLOCK_MONOTONIC, has played or heard one more quantum. The microphone hears
// a 100 ms beep of 1 kHz every --beep-every seconds from the CLOCK_MONOTONIC
// instant --beep-from. Prints "ready" once both nodes are in the graph;
// SIGINT or SIGTERM take them away.

#include "PipeWireTool.h"

#include <spa/node/io.h>
#include <spa/param/audio/format-utils.h>
#include <spa/utils/result.h>

#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <sys/prctl.h>

namespace {

constexpr std::uint32_t sampleRate = 48000;
constexpr std::uint32_t channels = 2;
constexpr std::uint32_t period = 256; // 5.3 ms, asked of the graph as its quantum
constexpr double beepSeconds = 0.100;
constexpr double beepHertz = 1000.0;
// A cycle whose process never came is given up after this, and the next
// one started.
constexpr double cycleTimeout = 0.1;
// Periods a card's ring buffer holds beyond the one it plays.
constexpr std::uint64_t ringPeriods = 4;

double monotonicSeconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

struct Options {
  std::string name;
  double ppm = 0;
  bool microphone = false;
  double beepEvery = 0;
  double beepFrom = 0;
};

[[noreturn]] void usage(const std::string& problem) {
  std::fprintf(stderr,
               "pipewire-sound-card: %s\nusage: pipewire-sound-card --name NAME --ppm N "
               "[--beep-every SECONDS --beep-from MONOTONIC_SECONDS]\n",
               problem.c_str());
  std::exit(2);
}

Options parse(int argc, char** argv) {
  Options options;
  bool beepFrom = false;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (i + 1 >= argc) {
      usage("missing value after " + argument);
    }
    const char* value = argv[++i];
    char* end = nullptr;
    if (argument == "--name") {
      options.name = value;
      continue;
    }
    const double number = std::strtod(value, &end);
    if (*value == '\0' || *end != '\0' || !std::isfinite(number)) {
      usage(argument + " takes a number");
    }
    if (argument == "--ppm" && std::fabs(number) < 100000) {
      options.ppm = number;
    } else if (argument == "--beep-every" && number >= 0.2) {
      options.microphone = true;
      options.beepEvery = number;
    } else if (argument == "--beep-from") {
      beepFrom = true;
      options.beepFrom = number;
    } else {
      usage("unknown argument or value out of range: " + argument);
    }
  }
  if (options.name.empty() || options.microphone != beepFrom) {
    usage("--name is needed, --beep-every and --beep-from go together");
  }
  return options;
}

// The card's clock: frame `n` is played or heard at host time start + n / rate.
class CardClock {
public:
  explicit CardClock(double ppm) : rate_(sampleRate * (1 + ppm * 1e-6)) {}
  double timeOf(std::uint64_t frame) const { return start_ + static_cast<double>(frame) / rate_; }
  std::uint64_t framesBy(double time) const {
    return time <= start_ ? 0 : static_cast<std::uint64_t>((time - start_) * rate_);
  }
  double rate() const { return rate_; }

private:
  double rate_;
  double start_ = monotonicSeconds();
};

// One node of the card, driving its own part of the graph: a cycle starts
// once the card has moved the quantum after the frames it moved so far.
class CardNode {
public:
  CardNode(pw_core* core, const CardClock& clock, const std::string& name, bool microphone,
           const Options& options)
      : clock_(clock), name_(name), microphone_(microphone), options_(options) {
    const std::string latency = std::to_string(period) + "/" + std::to_string(sampleRate);
    pw_properties* properties = pw_properties_new(
        PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY, microphone ? "Capture" : "Playback",
        PW_KEY_MEDIA_CLASS, microphone ? "Audio/Source" : "Audio/Sink", PW_KEY_NODE_NAME,
        name.c_str(), PW_KEY_NODE_DESCRIPTION, name.c_str(), PW_KEY_NODE_LATENCY, latency.c_str(),
        PW_KEY_PRIORITY_DRIVER, "3000", nullptr);
    stream_.reset(pw_stream_new(core, name.c_str(), properties));
    if (!stream_) {
      throw std::runtime_error("cannot make the stream of " + name);
    }
    static const pw_stream_events events = [] {
      pw_stream_events events{};
      events.version = PW_VERSION_STREAM_EVENTS;
      events.state_changed = [](void* self, pw_stream_state, pw_stream_state state,
                                const char* error) {
        static_cast<CardNode*>(self)->stateChanged(state, error);
      };
      events.process = [](void* self) { static_cast<CardNode*>(self)->process(); };
      events.io_changed = [](void* self, std::uint32_t id, void* area, std::uint32_t) {
        if (id == SPA_IO_Position) {
          static_cast<CardNode*>(self)->position_ = static_cast<spa_io_position*>(area);
        }
      };
      return events;
    }();
    pw_stream_add_listener(stream_.get(), &listener_, &events, this);

    spa_audio_info_raw format{};
    format.format = SPA_AUDIO_FORMAT_F32;
    format.rate = sampleRate;
    format.channels = channels;
    format.position[0] = SPA_AUDIO_CHANNEL_FL;
    format.position[1] = SPA_AUDIO_CHANNEL_FR;
    std::uint8_t buffer[512];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(buffer, sizeof(buffer));
    const spa_pod* params[] = {spa_format_audio_raw_build(&builder, SPA_PARAM_EnumFormat, &format)};
    const int result = pw_stream_connect(
        stream_.get(), microphone ? PW_DIRECTION_OUTPUT : PW_DIRECTION_INPUT, PW_ID_ANY,
        static_cast<pw_stream_flags>(PW_STREAM_FLAG_DRIVER | PW_STREAM_FLAG_MAP_BUFFERS), params,
        1);
    if (result < 0) {
      throw std::runtime_error("cannot connect " + name + ": " + spa_strerror(result));
    }
  }
  ~CardNode() { spa_hook_remove(&listener_); }
  CardNode(const CardNode&) = delete;
  CardNode& operator=(const CardNode&) = delete;

  bool ready() const { return ready_; }
  bool failed() const { return failed_; }

  // Starts the next cycle when it is due on the card's clock: the quantum
  // after the frames moved so far. Cycles that come late are caught up as
  // long as the card's ring holds them; periods past that (the graph, or
  // this process, was late) are gone, as a card's DMA goes on: the cycle is
  // the one due now.
  void tick(double now) {
    const std::uint32_t frames = quantum();
    if (!ready_ || now < clock_.timeOf(moved_ + frames)) {
      return;
    }
    if (pending_ && now - triggeredAt_ < cycleTimeout) {
      return;
    }
    const std::uint64_t due = clock_.framesBy(now);
    if (due >= moved_ + (ringPeriods + 1) * frames) {
      const std::uint64_t missed = (due - moved_) / frames * frames - frames;
      moved_ += missed;
      reportMissed(now, missed);
    }
    cycleFrom_ = moved_;
    moved_ += frames;
    pending_ = true;
    filled_ = false;
    triggeredAt_ = now;
    pw_stream_trigger_process(stream_.get());
  }

private:
  // Said at most once a second, on standard error: a test that fails then
  // shows that its card skipped sound.
  void reportMissed(double now, std::uint64_t frames) {
    missed_ += frames;
    if (now - missedReportedAt_ >= 1) {
      std::fprintf(stderr, "pipewire-sound-card: %s skipped %.0f ms: the graph was late\n",
                   name_.c_str(), static_cast<double>(missed_) * 1000 / clock_.rate());
      missed_ = 0;
      missedReportedAt_ = now;
    }
  }

  void stateChanged(pw_stream_state state, const char* error) {
    if (state == PW_STREAM_STATE_ERROR || (ready_ && state == PW_STREAM_STATE_UNCONNECTED)) {
      std::fprintf(stderr, "pipewire-sound-card: %s\n", error ? error : "the node was taken away");
      failed_ = true;
    }
    ready_ = ready_ || state == PW_STREAM_STATE_PAUSED || state == PW_STREAM_STATE_STREAMING;
  }

  // The sink drops what it played; the microphone fills the cycle's frames,
  // once, with what it heard at the card's instants of them.
  void process() {
    pending_ = false;
    if (microphone_ && filled_) {
      return;
    }
    pw_buffer* buffer = pw_stream_dequeue_buffer(stream_.get());
    if (buffer == nullptr) {
      return;
    }
    if (microphone_) {
      filled_ = true;
      spa_data& data = buffer->buffer->datas[0];
      auto* samples = static_cast<float*>(data.data);
      std::uint32_t frames = samples != nullptr ? data.maxsize / (channels * sizeof(float)) : 0;
      frames = std::min(frames, static_cast<std::uint32_t>(moved_ - cycleFrom_));
      for (std::uint32_t i = 0; i < frames; ++i) {
        const double at = clock_.timeOf(cycleFrom_ + i) - options_.beepFrom;
        const bool on = at >= 0 && std::fmod(at, options_.beepEvery) < beepSeconds;
        const float value = on ? 0.4f * static_cast<float>(std::sin(2 * M_PI * beepHertz * at)) : 0;
        samples[i * channels] = value;
        samples[i * channels + 1] = value;
      }
      data.chunk->offset = 0;
      data.chunk->stride = channels * sizeof(float);
      data.chunk->size = frames * channels * sizeof(float);
    }
    pw_stream_queue_buffer(stream_.get(), buffer);
  }

  // The frames of a cycle: the graph's quantum, which other nodes may make
  // shorter than the one asked for.
  std::uint32_t quantum() const {
    return position_ != nullptr && position_->clock.duration != 0
               ? static_cast<std::uint32_t>(position_->clock.duration)
               : period;
  }

  const CardClock& clock_;
  const std::string name_;
  const bool microphone_;
  const Options& options_;
  PipeWireTool::Stream stream_;
  spa_hook listener_{};
  spa_io_position* position_ = nullptr;
  std::uint64_t moved_ = 0;     // frames of the cycles started
  std::uint64_t cycleFrom_ = 0; // the first frame of the newest cycle
  bool ready_ = false;
  bool failed_ = false;
  bool pending_ = false;
  bool filled_ = false;
  double triggeredAt_ = 0;
  std::uint64_t missed_ = 0; // frames skipped since the last report
  double missedReportedAt_ = 0;
};

class Card {
public:
  explicit Card(const Options& options) : options_(options) {
    nodes_.push_back(
        std::make_unique<CardNode>(pipewire_.core.get(), clock_, options.name, false, options));
    if (options.microphone) {
      nodes_.push_back(std::make_unique<CardNode>(pipewire_.core.get(), clock_,
                                                  options.name + "_mic", true, options));
    }
    spa_source* timer = pw_loop_add_timer(
        pipewire_.events(), [](void* self, std::uint64_t) { static_cast<Card*>(self)->tick(); },
        this);
    // A card moves its samples in periods; the timer looks five times a
    // period, so that a cycle starts within a millisecond of its instant.
    timespec interval{0, 1000000};
    pw_loop_update_timer(pipewire_.events(), timer, &interval, &interval, false);
  }

  int run() {
    pw_main_loop_run(pipewire_.loop.get());
    return status_;
  }

private:
  void tick() {
    const double now = monotonicSeconds();
    bool ready = true;
    for (const auto& node : nodes_) {
      if (node->failed()) {
        status_ = 1;
        pw_main_loop_quit(pipewire_.loop.get());
        return;
      }
      node->tick(now);
      ready = ready && node->ready();
    }
    if (ready && !announced_) {
      announced_ = true;
      std::printf("ready\n");
      std::fflush(stdout);
    }
  }

  Options options_;
  CardClock clock_{options_.ppm};
  PipeWireTool::Connection pipewire_;
  std::vector<std::unique_ptr<CardNode>> nodes_;
  bool announced_ = false;
  int status_ = 0;
};

} // namespace

int main(int argc, char** argv) {
  const Options options = parse(argc, argv);
  // Started by sound_card.py: the card goes with it, however it ends.
  prctl(PR_SET_PDEATHSIG, SIGTERM);
  return PipeWireTool::run(argc, argv, "pipewire-sound-card", [&] { return Card(options).run(); });
}
