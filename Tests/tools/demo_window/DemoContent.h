#pragma once

// What the demo windows show and play, whatever display server they run on:
// their options, the flash schedule, the beep that follows it, the picture
// of each moment and when to paint the next one.

#include <pulse/simple.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace DemoWindow {

using Clock = std::chrono::steady_clock;

struct Options {
  std::optional<std::string> title = std::string("Demo Window");
  std::string windowClass = "demo-window";
  std::uint16_t width = 640;
  std::uint16_t height = 360;
  std::int16_t x = 0;
  std::int16_t y = 0;
  bool still = false;
  std::optional<double> flashEvery;
  // The first flash, in seconds of the steady clock (CLOCK_MONOTONIC), for
  // another program to follow the schedule; the start when absent.
  std::optional<double> flashFrom;
  bool beep = false;
  std::optional<std::uint32_t> solid;
  // A steady tone the window's process plays; one a child of it plays,
  // started that many seconds after the window; or no window, only a tone.
  std::optional<double> tone;
  std::optional<double> childTone;
  double childAfter = 1;
  std::optional<double> playTone;
};

// Parses the command line; prints the usage and exits with 2 when it is wrong.
Options parse(int argc, char** argv, const char* program);

// The flash schedule both the picture and the tone follow.
class Flashes {
public:
  Flashes(Clock::time_point start, std::optional<double> period) : start_(start), period_(period) {}
  bool isOn(Clock::time_point at) const;

private:
  Clock::time_point start_;
  std::optional<double> period_;
};

// Plays the tone through the audio server in 10 ms chunks, silence between
// flashes (or, steady, all the time); each chunk is chosen for the instant
// it will be heard.
class Beeper {
public:
  explicit Beeper(const Flashes& flashes, double frequency = 1000, bool steady = false);
  ~Beeper();
  Beeper(const Beeper&) = delete;
  Beeper& operator=(const Beeper&) = delete;

private:
  void play();

  const Flashes& flashes_;
  const double frequency_;
  const bool steady_;
  pa_simple* stream_ = nullptr;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// A child process of ours that plays a steady tone (this program with
// --play-tone), started after a delay; ended when this goes away.
class ChildTone {
public:
  ChildTone(double frequency, double afterSeconds);
  ~ChildTone();
  ChildTone(const ChildTone&) = delete;
  ChildTone& operator=(const ChildTone&) = delete;

private:
  std::atomic<bool> stop_{false};
  std::atomic<int> child_{0};
  std::thread thread_;
};

// --play-tone: plays the tone until a stop signal arrives on `signalFd` or
// the parent ends.
int playToneUntilStopped(double frequency, int signalFd);

// One filled rectangle of the picture, in window coordinates; RGB colour.
struct Fill {
  std::uint32_t rgb;
  std::int32_t x;
  std::int32_t y;
  std::int32_t width;
  std::int32_t height;
};

// The picture of frame `frame`, back to front: white while flashing, else a
// bar moving across a dark background, or a still one, or one colour.
std::vector<Fill> picture(const Options& options, bool flash, std::uint64_t frame);

// When to paint: at once when the picture is stale, at every flash edge, and
// every frame period while the content moves.
class PaintSchedule {
public:
  explicit PaintSchedule(const Options& options);

  // Whether to paint now, and if so what: the flash state and frame number.
  struct Paint {
    bool flash;
    std::uint64_t frame;
  };
  std::optional<Paint> due(Clock::time_point now);
  // The picture needs painting again (exposed, shown, or a paint was lost).
  void invalidate() { drawn_ = false; }
  // How long to wait for events before asking again; -1 is forever.
  int pollTimeoutMilliseconds() const;
  const Flashes& flashes() const { return flashes_; }

private:
  const Options& options_;
  Flashes flashes_;
  bool animated_;
  bool drawn_ = false;
  bool lastFlash_ = false;
  std::uint64_t frame_ = 0;
  Clock::time_point nextPaint_;
};

// The signals that end a demo window, blocked and readable from a
// descriptor so that an event loop can poll them.
int blockStopSignals();

} // namespace DemoWindow
