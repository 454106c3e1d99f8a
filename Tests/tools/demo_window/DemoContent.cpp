#include "DemoContent.h"

#include <pulse/error.h>

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace DemoWindow {

namespace {

constexpr auto flashLength = std::chrono::milliseconds(100);
constexpr auto framePeriod = std::chrono::milliseconds(33);

[[noreturn]] void usage(const char* program, const char* problem) {
  std::fprintf(stderr,
               "%s: %s\nusage: %s [--title TEXT | --no-title] [--class NAME] "
               "[--size WxH] [--position X,Y] [--still] [--flash-every SECONDS] "
               "[--flash-from MONOTONIC_SECONDS] [--beep] [--solid RRGGBB] [--tone HZ] "
               "[--child-tone HZ [--child-after SECONDS]] | --play-tone HZ\n",
               program, problem, program);
  std::exit(2);
}

} // namespace

Options parse(int argc, char** argv, const char* program) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    const auto value = [&]() -> std::string {
      if (i + 1 >= argc) {
        usage(program, ("missing value after " + argument).c_str());
      }
      return argv[++i];
    };
    if (argument == "--title") {
      options.title = value();
    } else if (argument == "--no-title") {
      options.title.reset();
    } else if (argument == "--class") {
      options.windowClass = value();
    } else if (argument == "--size") {
      unsigned width = 0;
      unsigned height = 0;
      if (std::sscanf(value().c_str(), "%ux%u", &width, &height) != 2 || width == 0 ||
          height == 0 || width > 8192 || height > 8192) {
        usage(program, "--size takes WxH");
      }
      options.width = static_cast<std::uint16_t>(width);
      options.height = static_cast<std::uint16_t>(height);
    } else if (argument == "--position") {
      int x = 0;
      int y = 0;
      if (std::sscanf(value().c_str(), "%d,%d", &x, &y) != 2 || std::abs(x) > 30000 ||
          std::abs(y) > 30000) {
        usage(program, "--position takes X,Y");
      }
      options.x = static_cast<std::int16_t>(x);
      options.y = static_cast<std::int16_t>(y);
    } else if (argument == "--still") {
      options.still = true;
    } else if (argument == "--flash-every") {
      const double seconds = std::atof(value().c_str());
      if (!(seconds >= 0.2)) {
        usage(program, "--flash-every takes seconds, at least 0.2");
      }
      options.flashEvery = seconds;
    } else if (argument == "--flash-from") {
      const double seconds = std::atof(value().c_str());
      if (!(seconds > 0)) {
        usage(program, "--flash-from takes seconds of CLOCK_MONOTONIC");
      }
      options.flashFrom = seconds;
    } else if (argument == "--beep") {
      options.beep = true;
    } else if (argument == "--tone" || argument == "--child-tone" || argument == "--play-tone") {
      const double frequency = std::atof(value().c_str());
      if (!(frequency >= 20 && frequency <= 20000)) {
        usage(program, "a tone takes a frequency from 20 to 20000 Hz");
      }
      (argument == "--tone"         ? options.tone
       : argument == "--child-tone" ? options.childTone
                                    : options.playTone) = frequency;
    } else if (argument == "--child-after") {
      options.childAfter = std::atof(value().c_str());
      if (!(options.childAfter >= 0)) {
        usage(program, "--child-after takes seconds");
      }
    } else if (argument == "--solid") {
      const std::string colour = value();
      char* end = nullptr;
      const unsigned long rgb = std::strtoul(colour.c_str(), &end, 16);
      if (colour.size() != 6 || *end != '\0') {
        usage(program, "--solid takes RRGGBB");
      }
      options.solid = static_cast<std::uint32_t>(rgb);
    } else {
      usage(program, ("unknown argument " + argument).c_str());
    }
  }
  if (options.beep && !options.flashEvery) {
    usage(program, "--beep needs --flash-every");
  }
  return options;
}

bool Flashes::isOn(Clock::time_point at) const {
  if (!period_ || at < start_) {
    return false;
  }
  const auto elapsed = std::chrono::duration<double>(at - start_).count();
  return std::fmod(elapsed, *period_) < std::chrono::duration<double>(flashLength).count();
}

namespace {
constexpr std::uint32_t sampleRate = 48000;
constexpr std::uint32_t chunkFrames = sampleRate / 100;
} // namespace

Beeper::Beeper(const Flashes& flashes, double frequency, bool steady)
    : flashes_(flashes), frequency_(frequency), steady_(steady) {
  pa_sample_spec spec{PA_SAMPLE_S16LE, sampleRate, 1};
  pa_buffer_attr attributes{};
  attributes.maxlength = static_cast<std::uint32_t>(-1);
  attributes.tlength = chunkFrames * 2 * 4; // about 40 ms queued
  attributes.prebuf = static_cast<std::uint32_t>(-1);
  attributes.minreq = static_cast<std::uint32_t>(-1);
  attributes.fragsize = static_cast<std::uint32_t>(-1);
  int error = 0;
  stream_ = pa_simple_new(nullptr, "demo-window", PA_STREAM_PLAYBACK, nullptr, "beep", &spec,
                          nullptr, &attributes, &error);
  if (stream_ == nullptr) {
    std::fprintf(stderr, "demo-window: no audio: %s\n", pa_strerror(error));
    return;
  }
  thread_ = std::thread([this] { play(); });
}

Beeper::~Beeper() {
  stop_ = true;
  if (thread_.joinable()) {
    thread_.join();
  }
  if (stream_ != nullptr) {
    pa_simple_free(stream_);
  }
}

void Beeper::play() {
  std::vector<std::int16_t> chunk(chunkFrames);
  std::uint64_t phase = 0;
  while (!stop_) {
    int error = 0;
    const pa_usec_t latency = pa_simple_get_latency(stream_, &error);
    const auto heardAt = Clock::now() + std::chrono::microseconds(latency);
    const bool on = steady_ || flashes_.isOn(heardAt);
    for (std::uint32_t i = 0; i < chunkFrames; ++i, ++phase) {
      chunk[i] =
          on ? static_cast<std::int16_t>(12000 * std::sin(2 * M_PI * frequency_ *
                                                          static_cast<double>(phase) / sampleRate))
             : 0;
    }
    if (pa_simple_write(stream_, chunk.data(), chunk.size() * sizeof(std::int16_t), &error) < 0) {
      std::fprintf(stderr, "demo-window: audio failed: %s\n", pa_strerror(error));
      return;
    }
  }
}

std::vector<Fill> picture(const Options& options, bool flash, std::uint64_t frame) {
  const std::int32_t width = options.width;
  const std::int32_t height = options.height;
  if (flash) {
    return {{0xFFFFFF, 0, 0, width, height}};
  }
  if (options.solid) {
    return {{*options.solid, 0, 0, width, height}};
  }
  const std::int32_t barWidth = std::max(8, width / 16);
  const auto span = static_cast<std::uint64_t>(width) + static_cast<std::uint64_t>(barWidth);
  const std::int32_t x =
      options.still ? width / 2 : static_cast<std::int32_t>((frame * 8) % span) - barWidth;
  return {{0x202830, 0, 0, width, height}, {0xF0A020, x, 0, barWidth, height}};
}

namespace {
Clock::time_point flashStart(const Options& options) {
  if (!options.flashFrom) {
    return Clock::now();
  }
  return Clock::time_point(std::chrono::duration_cast<Clock::duration>(
      std::chrono::duration<double>(*options.flashFrom)));
}
} // namespace

PaintSchedule::PaintSchedule(const Options& options)
    : options_(options), flashes_(flashStart(options), options.flashEvery),
      animated_(!options.still && !options.solid), nextPaint_(Clock::now()) {}

std::optional<PaintSchedule::Paint> PaintSchedule::due(Clock::time_point now) {
  const bool flashing = flashes_.isOn(now);
  if (drawn_ && flashing == lastFlash_ && !(animated_ && now >= nextPaint_)) {
    return std::nullopt;
  }
  drawn_ = true;
  lastFlash_ = flashing;
  nextPaint_ = now + framePeriod;
  return Paint{flashing, frame_++};
}

int PaintSchedule::pollTimeoutMilliseconds() const {
  int timeout = -1;
  if (animated_) {
    timeout = static_cast<int>(
        std::chrono::ceil<std::chrono::milliseconds>(nextPaint_ - Clock::now()).count());
    timeout = std::max(timeout, 0);
  }
  if (options_.flashEvery) {
    // Flash edges are caught within a few milliseconds.
    timeout = timeout < 0 ? 5 : std::min(timeout, 5);
  }
  return timeout;
}

ChildTone::ChildTone(double frequency, double afterSeconds)
    : thread_([this, frequency, afterSeconds] {
        const auto due = Clock::now() + std::chrono::duration<double>(afterSeconds);
        while (!stop_ && Clock::now() < due) {
          std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (stop_) {
          return;
        }
        const std::string hz = std::to_string(frequency);
        char program[] = "/proc/self/exe";
        char flag[] = "--play-tone";
        std::vector<char> value(hz.begin(), hz.end());
        value.push_back('\0');
        char* arguments[] = {program, flag, value.data(), nullptr};
        pid_t pid = 0;
        if (posix_spawn(&pid, program, nullptr, nullptr, arguments, environ) == 0) {
          child_ = pid;
        } else {
          std::fprintf(stderr, "demo-window: could not start the child's tone\n");
        }
      }) {}

ChildTone::~ChildTone() {
  stop_ = true;
  thread_.join();
  if (const int pid = child_; pid > 0) {
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
  }
}

int playToneUntilStopped(double frequency, int signalFd) {
  prctl(PR_SET_PDEATHSIG, SIGTERM);
  const Flashes none(Clock::now(), std::nullopt);
  const Beeper tone(none, frequency, true);
  pollfd watched{signalFd, POLLIN, 0};
  while (poll(&watched, 1, -1) < 0 && errno == EINTR) {
  }
  return 0;
}

int blockStopSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  sigprocmask(SIG_BLOCK, &signals, nullptr);
  return signalfd(-1, &signals, SFD_CLOEXEC);
}

} // namespace DemoWindow
