// wayland-demo-window [--title TEXT | --no-title] [--class NAME] [--size WxH]
//                     [--still] [--flash-every SECONDS] [--beep] [--solid RRGGBB]
//
// demo-window's twin for Wayland desktops: one xdg toplevel of the given
// size (app id from --class; --position is the compositor's to choose),
// drawn in shared memory with the same content, flashes and beep. A
// compositor shows a picture at its next repaint, not when it is committed:
// pictures are drawn for the instant they will be seen, as the beep is
// played for the instant it will be heard, from the delay the compositor's
// presentation feedback reports. Prints
// "shown" once its first picture is on screen and runs until SIGTERM or
// SIGINT or until the compositor closes it.

#include "DemoContent.h"

#include "presentation-time-client-protocol.h"
#include "xdg-shell-client-protocol.h"

#include <wayland-client.h>

#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <stdexcept>

namespace {

using namespace DemoWindow;

constexpr std::size_t bufferCount = 3;

struct Globals {
  wl_compositor* compositor = nullptr;
  wl_shm* shm = nullptr;
  xdg_wm_base* windowManager = nullptr;
  wp_presentation* presentation = nullptr;
};

void onGlobal(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
              std::uint32_t) {
  auto& globals = *static_cast<Globals*>(data);
  if (std::strcmp(interface, wl_compositor_interface.name) == 0) {
    globals.compositor =
        static_cast<wl_compositor*>(wl_registry_bind(registry, name, &wl_compositor_interface, 4));
  } else if (std::strcmp(interface, wl_shm_interface.name) == 0) {
    globals.shm = static_cast<wl_shm*>(wl_registry_bind(registry, name, &wl_shm_interface, 1));
  } else if (std::strcmp(interface, xdg_wm_base_interface.name) == 0) {
    globals.windowManager =
        static_cast<xdg_wm_base*>(wl_registry_bind(registry, name, &xdg_wm_base_interface, 1));
  } else if (std::strcmp(interface, wp_presentation_interface.name) == 0) {
    globals.presentation = static_cast<wp_presentation*>(
        wl_registry_bind(registry, name, &wp_presentation_interface, 1));
  }
}
void onGlobalRemoved(void*, wl_registry*, std::uint32_t) {}
const wl_registry_listener registryListener{onGlobal, onGlobalRemoved};

void onPing(void*, xdg_wm_base* base, std::uint32_t serial) {
  xdg_wm_base_pong(base, serial);
}
const xdg_wm_base_listener windowManagerListener{onPing};

// The window's pixels: a few XRGB buffers in one shared memory pool, each
// busy from its attachment until the compositor releases it.
class Buffers {
public:
  Buffers(wl_shm* shm, std::int32_t width, std::int32_t height)
      : width_(width), height_(height), stride_(width * 4),
        size_(static_cast<std::size_t>(stride_) * static_cast<std::size_t>(height)) {
    const int fd = memfd_create("wayland-demo-window", MFD_CLOEXEC);
    if (fd < 0 || ftruncate(fd, static_cast<off_t>(size_ * bufferCount)) != 0) {
      throw std::runtime_error("no shared memory for the window");
    }
    void* memory = mmap(nullptr, size_ * bufferCount, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (memory == MAP_FAILED) {
      close(fd);
      throw std::runtime_error("no shared memory for the window");
    }
    memory_ = static_cast<std::uint8_t*>(memory);
    wl_shm_pool* pool = wl_shm_create_pool(shm, fd, static_cast<std::int32_t>(size_ * bufferCount));
    for (std::size_t i = 0; i < bufferCount; ++i) {
      slots_[i].buffer = wl_shm_pool_create_buffer(pool, static_cast<std::int32_t>(i * size_),
                                                   width, height, stride_, WL_SHM_FORMAT_XRGB8888);
      wl_buffer_add_listener(slots_[i].buffer, &releaseListener, &slots_[i]);
    }
    wl_shm_pool_destroy(pool);
    close(fd);
  }
  ~Buffers() {
    for (Slot& slot : slots_) {
      wl_buffer_destroy(slot.buffer);
    }
    munmap(memory_, size_ * bufferCount);
  }
  Buffers(const Buffers&) = delete;
  Buffers& operator=(const Buffers&) = delete;

  // Draws the picture into a free buffer and returns it, now busy; null
  // while the compositor holds them all.
  wl_buffer* draw(const std::vector<Fill>& fills) {
    const auto free =
        std::find_if(slots_.begin(), slots_.end(), [](const Slot& s) { return !s.busy; });
    if (free == slots_.end()) {
      return nullptr;
    }
    std::uint8_t* pixels = memory_ + static_cast<std::size_t>(free - slots_.begin()) * size_;
    for (const Fill& fill : fills) {
      const std::int32_t left = std::clamp(fill.x, 0, width_);
      const std::int32_t right = std::clamp(fill.x + fill.width, 0, width_);
      const std::int32_t top = std::clamp(fill.y, 0, height_);
      const std::int32_t bottom = std::clamp(fill.y + fill.height, 0, height_);
      for (std::int32_t y = top; y < bottom; ++y) {
        auto* row = reinterpret_cast<std::uint32_t*>(
            pixels + static_cast<std::size_t>(y) * static_cast<std::size_t>(stride_));
        std::fill(row + left, row + right, 0xFF000000U | fill.rgb);
      }
    }
    free->busy = true;
    return free->buffer;
  }

private:
  struct Slot {
    wl_buffer* buffer = nullptr;
    bool busy = false;
  };
  static void onRelease(void* data, wl_buffer*) { static_cast<Slot*>(data)->busy = false; }
  static constexpr wl_buffer_listener releaseListener{onRelease};

  std::int32_t width_;
  std::int32_t height_;
  std::int32_t stride_;
  std::size_t size_;
  std::uint8_t* memory_ = nullptr;
  std::array<Slot, bufferCount> slots_{};
};

// The time from a commit to the picture on screen, as the compositor last
// reported it; zero until it does. Its clock must be the steady clock's.
class DisplayDelay {
public:
  void clockIs(std::uint32_t clock) { monotonic_ = clock == CLOCK_MONOTONIC; }

  // Asks when the commit about to be made is shown.
  void follow(wp_presentation* presentation, wl_surface* surface) {
    if (presentation == nullptr) {
      return;
    }
    auto* pending = new Pending{this, Clock::now()};
    wp_presentation_feedback_add_listener(wp_presentation_feedback(presentation, surface),
                                          &listener, pending);
  }

  Clock::duration delay() const { return delay_; }

private:
  struct Pending {
    DisplayDelay* owner;
    Clock::time_point committed;
  };

  static void onSyncOutput(void*, struct wp_presentation_feedback*, wl_output*) {}
  static void onPresented(void* data, struct wp_presentation_feedback* feedback,
                          std::uint32_t secondsHigh, std::uint32_t secondsLow,
                          std::uint32_t nanoseconds, std::uint32_t, std::uint32_t, std::uint32_t,
                          std::uint32_t) {
    std::unique_ptr<Pending> pending(static_cast<Pending*>(data));
    wp_presentation_feedback_destroy(feedback);
    if (!pending->owner->monotonic_) {
      return;
    }
    const auto seconds = (static_cast<std::uint64_t>(secondsHigh) << 32) | secondsLow;
    const Clock::time_point shown{std::chrono::seconds(seconds) +
                                  std::chrono::nanoseconds(nanoseconds)};
    if (shown >= pending->committed &&
        shown - pending->committed < std::chrono::milliseconds(200)) {
      pending->owner->delay_ = shown - pending->committed;
    }
  }
  static void onDiscarded(void* data, struct wp_presentation_feedback* feedback) {
    delete static_cast<Pending*>(data);
    wp_presentation_feedback_destroy(feedback);
  }
  static constexpr wp_presentation_feedback_listener listener{onSyncOutput, onPresented,
                                                              onDiscarded};

  bool monotonic_ = false;
  Clock::duration delay_{};
};

void onClockID(void* data, wp_presentation*, std::uint32_t clock) {
  static_cast<DisplayDelay*>(data)->clockIs(clock);
}
const wp_presentation_listener presentationListener{onClockID};

struct WindowState {
  bool configured = false;
  bool closed = false;
};

void onSurfaceConfigure(void* data, xdg_surface* surface, std::uint32_t serial) {
  xdg_surface_ack_configure(surface, serial);
  static_cast<WindowState*>(data)->configured = true;
}
const xdg_surface_listener surfaceListener{onSurfaceConfigure};

// The size is ours: the compositor's suggestion is not taken.
void onToplevelConfigure(void*, xdg_toplevel*, std::int32_t, std::int32_t, wl_array*) {}
void onToplevelClose(void* data, xdg_toplevel*) {
  static_cast<WindowState*>(data)->closed = true;
}
// Bound at version 1: the later events never come.
const xdg_toplevel_listener toplevelListener{onToplevelConfigure, onToplevelClose, nullptr,
                                             nullptr};

} // namespace

int main(int argc, char** argv) {
  const Options options = parse(argc, argv, "wayland-demo-window");
  const int signalFd = blockStopSignals();

  wl_display* display = wl_display_connect(nullptr);
  if (display == nullptr) {
    std::fprintf(stderr, "wayland-demo-window: cannot connect to the Wayland display\n");
    return 1;
  }
  Globals globals;
  wl_registry* registry = wl_display_get_registry(display);
  wl_registry_add_listener(registry, &registryListener, &globals);
  wl_display_roundtrip(display);
  if (globals.compositor == nullptr || globals.shm == nullptr || globals.windowManager == nullptr) {
    std::fprintf(stderr, "wayland-demo-window: the compositor lacks wl_shm or xdg-shell\n");
    return 1;
  }
  xdg_wm_base_add_listener(globals.windowManager, &windowManagerListener, nullptr);
  DisplayDelay displayDelay;
  if (globals.presentation != nullptr) {
    wp_presentation_add_listener(globals.presentation, &presentationListener, &displayDelay);
  }

  WindowState state;
  wl_surface* surface = wl_compositor_create_surface(globals.compositor);
  xdg_surface* windowSurface = xdg_wm_base_get_xdg_surface(globals.windowManager, surface);
  xdg_surface_add_listener(windowSurface, &surfaceListener, &state);
  xdg_toplevel* toplevel = xdg_surface_get_toplevel(windowSurface);
  xdg_toplevel_add_listener(toplevel, &toplevelListener, &state);
  if (options.title) {
    xdg_toplevel_set_title(toplevel, options.title->c_str());
  }
  xdg_toplevel_set_app_id(toplevel, options.windowClass.c_str());
  xdg_toplevel_set_min_size(toplevel, options.width, options.height);
  xdg_toplevel_set_max_size(toplevel, options.width, options.height);
  wl_surface_commit(surface);

  auto buffers = std::make_unique<Buffers>(globals.shm, options.width, options.height);
  PaintSchedule schedule(options);
  std::unique_ptr<Beeper> beeper;
  if (options.beep) {
    beeper = std::make_unique<Beeper>(schedule.flashes());
  }

  bool announced = false;
  int status = 0;
  pollfd watched[2] = {{wl_display_get_fd(display), POLLIN, 0}, {signalFd, POLLIN, 0}};
  while (!state.closed) {
    if (state.configured) {
      if (const auto paint = schedule.due(Clock::now() + displayDelay.delay())) {
        if (wl_buffer* buffer = buffers->draw(picture(options, paint->flash, paint->frame))) {
          wl_surface_attach(surface, buffer, 0, 0);
          wl_surface_damage_buffer(surface, 0, 0, options.width, options.height);
          displayDelay.follow(globals.presentation, surface);
          wl_surface_commit(surface);
          if (!announced) {
            std::printf("shown\n");
            std::fflush(stdout);
            announced = true;
          }
        } else {
          schedule.invalidate(); // painted as soon as a buffer comes back
        }
      }
    }
    while (wl_display_prepare_read(display) != 0) {
      wl_display_dispatch_pending(display);
    }
    wl_display_flush(display);
    if (poll(watched, 2, schedule.pollTimeoutMilliseconds()) < 0 && errno != EINTR) {
      wl_display_cancel_read(display);
      status = 1;
      break;
    }
    if ((watched[0].revents & POLLIN) != 0) {
      wl_display_read_events(display);
    } else {
      wl_display_cancel_read(display);
    }
    if (wl_display_dispatch_pending(display) < 0) {
      std::fprintf(stderr, "wayland-demo-window: the Wayland connection broke\n");
      status = 1;
      break;
    }
    if ((watched[1].revents & POLLIN) != 0) {
      break;
    }
  }
  beeper.reset();
  buffers.reset();
  xdg_toplevel_destroy(toplevel);
  xdg_surface_destroy(windowSurface);
  wl_surface_destroy(surface);
  wl_display_roundtrip(display);
  wl_display_disconnect(display);
  close(signalFd);
  return status;
}
