// demo-window [--title TEXT | --no-title] [--class NAME] [--size WxH]
//             [--position X,Y] [--still] [--flash-every SECONDS] [--beep]
//             [--solid RRGGBB] [--tone HZ] [--child-tone HZ [--child-after SECONDS]]
// demo-window --play-tone HZ
//
// Opens one top-level window, prints its id in decimal once it is mapped, and
// draws until SIGTERM or SIGINT: a bar moving across a dark background, or a
// still picture with --still, or one colour with --solid. With --flash-every
// the window turns white for 100 ms at each period, and with --beep a 100 ms
// 1 kHz tone plays at the same instants, so audio/video sync can be measured.
// --tone plays a steady tone from the window's process, --child-tone one
// from a child process it starts --child-after seconds later (1 unless
// given), so that what one application plays can be told from the rest;
// --play-tone only plays a tone, with no window.

#include "DemoContent.h"

#include <xcb/xcb.h>

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

using namespace DemoWindow;

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
    for (const Fill& area : picture(options_, flash, frame)) {
      fill(area.rgb, static_cast<std::int16_t>(area.x), static_cast<std::int16_t>(area.y),
           static_cast<std::uint16_t>(area.width), static_cast<std::uint16_t>(area.height));
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
  const Options options = parse(argc, argv, "demo-window");
  const int signalFd = blockStopSignals();
  if (options.playTone) {
    return playToneUntilStopped(*options.playTone, signalFd);
  }

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
  PaintSchedule schedule(options);
  std::unique_ptr<Beeper> beeper;
  if (options.beep) {
    beeper = std::make_unique<Beeper>(schedule.flashes());
  }
  std::unique_ptr<Beeper> tone;
  if (options.tone) {
    tone = std::make_unique<Beeper>(schedule.flashes(), *options.tone, true);
  }
  std::unique_ptr<ChildTone> childTone;
  if (options.childTone) {
    childTone = std::make_unique<ChildTone>(*options.childTone, options.childAfter);
  }

  bool announced = false;
  const auto handle = [&](xcb_generic_event_t* event) {
    const std::uint8_t type = event->response_type & 0x7F;
    if (type == XCB_MAP_NOTIFY && !announced) {
      std::printf("%u\n", window);
      std::fflush(stdout);
      announced = true;
    }
    if (type == XCB_EXPOSE || type == XCB_MAP_NOTIFY) {
      schedule.invalidate();
    }
    std::free(event);
  };
  pollfd watched[2] = {{xcb_get_file_descriptor(c), POLLIN, 0}, {signalFd, POLLIN, 0}};
  for (;;) {
    while (xcb_generic_event_t* event = xcb_poll_for_event(c)) {
      handle(event);
    }
    if (xcb_connection_has_error(c) != 0) {
      std::fprintf(stderr, "demo-window: the X connection broke\n");
      xcb_disconnect(c); // frees the connection even when broken
      return 1;
    }
    if (const auto paint = schedule.due(Clock::now())) {
      painter.paint(paint->flash, paint->frame);
    }
    // Sending the paint may have read events off the socket into xcb's own
    // queue, where poll() cannot see them: a still window would then never
    // announce its map.
    bool queued = false;
    while (xcb_generic_event_t* event = xcb_poll_for_queued_event(c)) {
      handle(event);
      queued = true;
    }
    if (queued) {
      continue;
    }
    if (poll(watched, 2, schedule.pollTimeoutMilliseconds()) < 0 && errno != EINTR) {
      return 1;
    }
    if ((watched[1].revents & POLLIN) != 0) {
      break;
    }
  }
  childTone.reset();
  tone.reset();
  beeper.reset();
  xcb_destroy_window(c, window);
  xcb_flush(c);
  xcb_disconnect(c);
  close(signalFd);
  return 0;
}
