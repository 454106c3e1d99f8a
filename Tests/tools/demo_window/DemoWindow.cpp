// demo-window [--title TEXT | --no-title] [--class NAME] [--size WxH]
//             [--position X,Y] [--still] [--flash-every SECONDS] [--beep]
//             [--solid RRGGBB]
//
// Opens one top-level window, prints its id in decimal once it is mapped, and
// draws until SIGTERM or SIGINT: a bar moving across a dark background, or a
// still picture with --still, or one colour with --solid. With --flash-every
// the window turns white for 100 ms at each period, and with --beep a 100 ms
// 1 kHz tone plays at the same instants, so audio/video sync can be measured.

#include <xcb/xcb.h>

#include <pulse/error.h>
#include <pulse/simple.h>

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto flashLength = std::chrono::milliseconds(100);
constexpr auto framePeriod = std::chrono::milliseconds(33);

struct Options {
  std::optional<std::string> title = std::string("Demo Window");
  std::string windowClass = "demo-window";
  std::uint16_t width = 640;
  std::uint16_t height = 360;
  std::int16_t x = 0;
  std::int16_t y = 0;
  bool still = false;
  std::optional<double> flashEvery;
  bool beep = false;
  std::optional<std::uint32_t> solid;
};

[[noreturn]] void usage(const char* problem) {
  std::fprintf(stderr,
               "demo-window: %s\nusage: demo-window [--title TEXT | --no-title] [--class NAME] "
               "[--size WxH] [--position X,Y] [--still] [--flash-every SECONDS] [--beep] "
               "[--solid RRGGBB]\n",
               problem);
  std::exit(2);
}

Options parse(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    const auto value = [&]() -> std::string {
      if (i + 1 >= argc) {
        usage(("missing value after " + argument).c_str());
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
        usage("--size takes WxH");
      }
      options.width = static_cast<std::uint16_t>(width);
      options.height = static_cast<std::uint16_t>(height);
    } else if (argument == "--position") {
      int x = 0;
      int y = 0;
      if (std::sscanf(value().c_str(), "%d,%d", &x, &y) != 2 || std::abs(x) > 30000 ||
          std::abs(y) > 30000) {
        usage("--position takes X,Y");
      }
      options.x = static_cast<std::int16_t>(x);
      options.y = static_cast<std::int16_t>(y);
    } else if (argument == "--still") {
      options.still = true;
    } else if (argument == "--flash-every") {
      const double seconds = std::atof(value().c_str());
      if (!(seconds >= 0.2)) {
        usage("--flash-every takes seconds, at least 0.2");
      }
      options.flashEvery = seconds;
    } else if (argument == "--beep") {
      options.beep = true;
    } else if (argument == "--solid") {
      const std::string colour = value();
      char* end = nullptr;
      const unsigned long rgb = std::strtoul(colour.c_str(), &end, 16);
      if (colour.size() != 6 || *end != '\0') {
        usage("--solid takes RRGGBB");
      }
      options.solid = static_cast<std::uint32_t>(rgb);
    } else {
      usage(("unknown argument " + argument).c_str());
    }
  }
  if (options.beep && !options.flashEvery) {
    usage("--beep needs --flash-every");
  }
  return options;
}

// The flash schedule both the picture and the tone follow.
class Flashes {
public:
  Flashes(Clock::time_point start, std::optional<double> period) : start_(start), period_(period) {}

  bool isOn(Clock::time_point at) const {
    if (!period_ || at < start_) {
      return false;
    }
    const auto elapsed = std::chrono::duration<double>(at - start_).count();
    return std::fmod(elapsed, *period_) < std::chrono::duration<double>(flashLength).count();
  }

private:
  Clock::time_point start_;
  std::optional<double> period_;
};

// Plays the tone through the audio server in 10 ms chunks, silence between
// flashes; each chunk is chosen for the instant it will be heard.
class Beeper {
public:
  explicit Beeper(const Flashes& flashes) : flashes_(flashes) {
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

  ~Beeper() {
    stop_ = true;
    if (thread_.joinable()) {
      thread_.join();
    }
    if (stream_ != nullptr) {
      pa_simple_free(stream_);
    }
  }

  Beeper(const Beeper&) = delete;
  Beeper& operator=(const Beeper&) = delete;

private:
  static constexpr std::uint32_t sampleRate = 48000;
  static constexpr std::uint32_t chunkFrames = sampleRate / 100;

  void play() {
    std::vector<std::int16_t> chunk(chunkFrames);
    std::uint64_t phase = 0;
    while (!stop_) {
      int error = 0;
      const pa_usec_t latency = pa_simple_get_latency(stream_, &error);
      const auto heardAt = Clock::now() + std::chrono::microseconds(latency);
      const bool on = flashes_.isOn(heardAt);
      for (std::uint32_t i = 0; i < chunkFrames; ++i, ++phase) {
        chunk[i] =
            on ? static_cast<std::int16_t>(
                     12000 * std::sin(2 * M_PI * 1000.0 * static_cast<double>(phase) / sampleRate))
               : 0;
      }
      if (pa_simple_write(stream_, chunk.data(), chunk.size() * sizeof(std::int16_t), &error) < 0) {
        std::fprintf(stderr, "demo-window: audio failed: %s\n", pa_strerror(error));
        return;
      }
    }
  }

  const Flashes& flashes_;
  pa_simple* stream_ = nullptr;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

void setProperty(xcb_connection_t* c, xcb_window_t window, xcb_atom_t property, xcb_atom_t type,
                 std::uint8_t format, std::uint32_t length, const void* data) {
  xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, property, type, format, length, data);
}

xcb_atom_t intern(xcb_connection_t* c, const char* name) {
  std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
      xcb_intern_atom_reply(
          c, xcb_intern_atom(c, 0, static_cast<std::uint16_t>(std::strlen(name)), name), nullptr),
      &std::free);
  return reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
}

class Painter {
public:
  Painter(xcb_connection_t* c, xcb_window_t window, const Options& options)
      : c_(c), window_(window), options_(options), gc_(xcb_generate_id(c)) {
    xcb_create_gc(c_, gc_, window_, 0, nullptr);
  }

  void paint(bool flash, std::uint64_t frame) {
    const std::uint16_t width = options_.width;
    const std::uint16_t height = options_.height;
    if (flash) {
      fill(0xFFFFFF, 0, 0, width, height);
    } else if (options_.solid) {
      fill(*options_.solid, 0, 0, width, height);
    } else {
      fill(0x202830, 0, 0, width, height);
      const std::uint16_t barWidth = std::max<std::uint16_t>(8, width / 16);
      const auto span = static_cast<std::uint64_t>(width) + barWidth;
      const auto x = options_.still ? static_cast<std::int64_t>(width / 2)
                                    : static_cast<std::int64_t>((frame * 8) % span) - barWidth;
      fill(0xF0A020, static_cast<std::int16_t>(x), 0, barWidth, height);
    }
    xcb_flush(c_);
  }

private:
  void fill(std::uint32_t rgb, std::int16_t x, std::int16_t y, std::uint16_t width,
            std::uint16_t height) {
    xcb_change_gc(c_, gc_, XCB_GC_FOREGROUND, &rgb);
    const xcb_rectangle_t rectangle{x, y, width, height};
    xcb_poly_fill_rectangle(c_, window_, gc_, 1, &rectangle);
  }

  xcb_connection_t* c_;
  xcb_window_t window_;
  const Options& options_;
  xcb_gcontext_t gc_;
};

} // namespace

int main(int argc, char** argv) {
  const Options options = parse(argc, argv);

  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  sigprocmask(SIG_BLOCK, &signals, nullptr);
  const int signalFd = signalfd(-1, &signals, SFD_CLOEXEC);

  int screenNumber = 0;
  xcb_connection_t* c = xcb_connect(nullptr, &screenNumber);
  if (xcb_connection_has_error(c) != 0) {
    std::fprintf(stderr, "demo-window: cannot open the X display\n");
    return 1;
  }
  xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(c));
  for (int i = 0; i < screenNumber; ++i) {
    xcb_screen_next(&screens);
  }
  const xcb_screen_t* screen = screens.data;

  const xcb_window_t window = xcb_generate_id(c);
  const std::uint32_t values[] = {screen->black_pixel,
                                  XCB_EVENT_MASK_EXPOSURE | XCB_EVENT_MASK_STRUCTURE_NOTIFY};
  xcb_create_window(c, XCB_COPY_FROM_PARENT, window, screen->root, options.x, options.y,
                    options.width, options.height, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                    screen->root_visual, XCB_CW_BACK_PIXEL | XCB_CW_EVENT_MASK, values);

  const xcb_atom_t utf8 = intern(c, "UTF8_STRING");
  if (options.title) {
    const std::string& title = *options.title;
    const auto length = static_cast<std::uint32_t>(title.size());
    setProperty(c, window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8, length, title.data());
    setProperty(c, window, intern(c, "_NET_WM_NAME"), utf8, 8, length, title.data());
  }
  const std::string windowClass = options.windowClass + '\0' + options.windowClass + '\0';
  setProperty(c, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8,
              static_cast<std::uint32_t>(windowClass.size()), windowClass.data());
  const auto pid = static_cast<std::uint32_t>(getpid());
  setProperty(c, window, intern(c, "_NET_WM_PID"), XCB_ATOM_CARDINAL, 32, 1, &pid);
  // WM_NORMAL_HINTS with a user-given position and size, so a window manager
  // keeps them: flags USPosition | USSize, then x, y, width, height.
  std::uint32_t hints[18] = {1 | 2, static_cast<std::uint32_t>(options.x),
                             static_cast<std::uint32_t>(options.y), options.width, options.height};
  setProperty(c, window, XCB_ATOM_WM_NORMAL_HINTS, XCB_ATOM_WM_SIZE_HINTS, 32, 18, hints);
  xcb_map_window(c, window);
  xcb_flush(c);

  Painter painter(c, window, options);
  const Flashes flashes(Clock::now(), options.flashEvery);
  std::unique_ptr<Beeper> beeper;
  if (options.beep) {
    beeper = std::make_unique<Beeper>(flashes);
  }

  const bool animated = !options.still && !options.solid;
  bool announced = false;
  bool drawn = false;
  bool lastFlash = false;
  std::uint64_t frame = 0;
  auto nextPaint = Clock::now();
  pollfd watched[2] = {{xcb_get_file_descriptor(c), POLLIN, 0}, {signalFd, POLLIN, 0}};
  for (;;) {
    while (xcb_generic_event_t* event = xcb_poll_for_event(c)) {
      const std::uint8_t type = event->response_type & 0x7F;
      if (type == XCB_MAP_NOTIFY && !announced) {
        std::printf("%u\n", window);
        std::fflush(stdout);
        announced = true;
      }
      if (type == XCB_EXPOSE || type == XCB_MAP_NOTIFY) {
        drawn = false;
      }
      std::free(event);
    }
    if (xcb_connection_has_error(c) != 0) {
      std::fprintf(stderr, "demo-window: the X connection broke\n");
      xcb_disconnect(c); // frees the connection even when broken
      return 1;
    }
    const auto now = Clock::now();
    const bool flashing = flashes.isOn(now);
    if (!drawn || flashing != lastFlash || (animated && now >= nextPaint)) {
      painter.paint(flashing, frame++);
      drawn = true;
      lastFlash = flashing;
      nextPaint = now + framePeriod;
    }
    int timeout = -1;
    if (animated) {
      timeout = static_cast<int>(
          std::chrono::ceil<std::chrono::milliseconds>(nextPaint - Clock::now()).count());
      timeout = std::max(timeout, 0);
    }
    if (options.flashEvery) {
      // Flash edges are caught within a few milliseconds.
      timeout = timeout < 0 ? 5 : std::min(timeout, 5);
    }
    if (poll(watched, 2, timeout) < 0 && errno != EINTR) {
      return 1;
    }
    if ((watched[1].revents & POLLIN) != 0) {
      break;
    }
  }
  beeper.reset();
  xcb_destroy_window(c, window);
  xcb_flush(c);
  xcb_disconnect(c);
  close(signalFd);
  return 0;
}
