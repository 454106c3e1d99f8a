// kwin-screencast windows
// kwin-screencast monitor CURSOR
// kwin-screencast window UUID CURSOR
//
// What the KDE test desktop's portal backend asks KWin for itself, as KDE's
// own portal does, through KWin's Wayland protocols:
//   windows  prints one line a window, "UUID<TAB>ACTIVE<TAB>TITLE" (ACTIVE
//            is 1 for the focused window, else 0), and exits
//   monitor  casts the first output, CURSOR being the portal's cursor mode
//            (1 hidden, 2 embedded, 4 metadata); prints "node ID" with the
//            PipeWire node of the cast and "size W H", the output's size in
//            points, then runs while the cast does. It prints "closed" and
//            exits when KWin ends the cast, and ends the cast when killed
//   window   the same for the window of that UUID (no "size" line)
// Exits 1 with a message on standard error when KWin refuses.

#include "plasma-window-management-client-protocol.h"
#include "zkde-screencast-unstable-v1-client-protocol.h"

#include <wayland-client.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

namespace {

struct Output {
  wl_output* output = nullptr;
  std::int32_t width = 0; // pixels of the current mode
  std::int32_t height = 0;
  std::int32_t scale = 1;
};

struct WindowInfo {
  std::string title;
  bool active = false;
};

struct Globals {
  zkde_screencast_unstable_v1* screencast = nullptr;
  org_kde_plasma_window_management* windowManagement = nullptr;
  Output output;
  std::map<std::string, WindowInfo> windows;
};

void ignore() {}

void onMode(void* data, wl_output*, std::uint32_t flags, std::int32_t width, std::int32_t height,
            std::int32_t) {
  if ((flags & WL_OUTPUT_MODE_CURRENT) != 0) {
    auto& output = *static_cast<Output*>(data);
    output.width = width;
    output.height = height;
  }
}

void onScale(void* data, wl_output*, std::int32_t scale) {
  static_cast<Output*>(data)->scale = scale;
}

const wl_output_listener outputListener = {
    .geometry = [](void*, wl_output*, std::int32_t, std::int32_t, std::int32_t, std::int32_t,
                   std::int32_t, const char*, const char*, std::int32_t) { ignore(); },
    .mode = onMode,
    .done = [](void*, wl_output*) { ignore(); },
    .scale = onScale,
    .name = [](void*, wl_output*, const char*) { ignore(); },
    .description = [](void*, wl_output*, const char*) { ignore(); },
};

// The window events this tool reads; the others are ignored.
void onTitle(void* data, org_kde_plasma_window*, const char* title) {
  static_cast<WindowInfo*>(data)->title = title;
}

void onState(void* data, org_kde_plasma_window*, std::uint32_t flags) {
  static_cast<WindowInfo*>(data)->active =
      (flags & ORG_KDE_PLASMA_WINDOW_MANAGEMENT_STATE_ACTIVE) != 0;
}

org_kde_plasma_window_listener windowListener() {
  org_kde_plasma_window_listener listener{};
  listener.title_changed = onTitle;
  listener.app_id_changed = [](void*, org_kde_plasma_window*, const char*) { ignore(); };
  listener.state_changed = onState;
  listener.virtual_desktop_changed = [](void*, org_kde_plasma_window*, std::int32_t) { ignore(); };
  listener.themed_icon_name_changed = [](void*, org_kde_plasma_window*, const char*) { ignore(); };
  listener.unmapped = [](void*, org_kde_plasma_window*) { ignore(); };
  listener.initial_state = [](void*, org_kde_plasma_window*) { ignore(); };
  listener.parent_window = [](void*, org_kde_plasma_window*, org_kde_plasma_window*) { ignore(); };
  listener.geometry = [](void*, org_kde_plasma_window*, std::int32_t, std::int32_t, std::uint32_t,
                         std::uint32_t) { ignore(); };
  listener.icon_changed = [](void*, org_kde_plasma_window*) { ignore(); };
  listener.pid_changed = [](void*, org_kde_plasma_window*, std::uint32_t) { ignore(); };
  listener.virtual_desktop_entered = [](void*, org_kde_plasma_window*, const char*) { ignore(); };
  listener.virtual_desktop_left = [](void*, org_kde_plasma_window*, const char*) { ignore(); };
  listener.application_menu = [](void*, org_kde_plasma_window*, const char*, const char*) {
    ignore();
  };
  listener.activity_entered = [](void*, org_kde_plasma_window*, const char*) { ignore(); };
  listener.activity_left = [](void*, org_kde_plasma_window*, const char*) { ignore(); };
  listener.resource_name_changed = [](void*, org_kde_plasma_window*, const char*) { ignore(); };
  return listener;
}

const org_kde_plasma_window_listener windowEvents = windowListener();

void onWindowWithUuid(void* data, org_kde_plasma_window_management* management, std::uint32_t,
                      const char* uuid) {
  auto& globals = *static_cast<Globals*>(data);
  auto* window = org_kde_plasma_window_management_get_window_by_uuid(management, uuid);
  org_kde_plasma_window_add_listener(window, &windowEvents, &globals.windows[uuid]);
}

const org_kde_plasma_window_management_listener managementListener = {
    .show_desktop_changed = [](void*, org_kde_plasma_window_management*,
                               std::uint32_t) { ignore(); },
    .window = [](void*, org_kde_plasma_window_management*, std::uint32_t) { ignore(); },
    .stacking_order_changed = [](void*, org_kde_plasma_window_management*, wl_array*) { ignore(); },
    .stacking_order_uuid_changed = [](void*, org_kde_plasma_window_management*,
                                      const char*) { ignore(); },
    .window_with_uuid = onWindowWithUuid,
};

void onGlobal(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
              std::uint32_t version) {
  auto& globals = *static_cast<Globals*>(data);
  if (std::strcmp(interface, zkde_screencast_unstable_v1_interface.name) == 0) {
    globals.screencast = static_cast<zkde_screencast_unstable_v1*>(
        wl_registry_bind(registry, name, &zkde_screencast_unstable_v1_interface, 1));
  } else if (std::strcmp(interface, org_kde_plasma_window_management_interface.name) == 0 &&
             version >= 13) {
    globals.windowManagement = static_cast<org_kde_plasma_window_management*>(
        wl_registry_bind(registry, name, &org_kde_plasma_window_management_interface, 13));
    org_kde_plasma_window_management_add_listener(globals.windowManagement, &managementListener,
                                                  &globals);
  } else if (std::strcmp(interface, wl_output_interface.name) == 0 && !globals.output.output) {
    globals.output.output =
        static_cast<wl_output*>(wl_registry_bind(registry, name, &wl_output_interface, 2));
    wl_output_add_listener(globals.output.output, &outputListener, &globals.output);
  }
}

const wl_registry_listener registryListener = {
    .global = onGlobal,
    .global_remove = [](void*, wl_registry*, std::uint32_t) { ignore(); },
};

[[noreturn]] void fail(const std::string& message) {
  std::fprintf(stderr, "kwin-screencast: %s\n", message.c_str());
  std::exit(1);
}

int listWindows(wl_display* display, Globals& globals) {
  if (!globals.windowManagement) {
    fail("KWin offers no window management");
  }
  // One round trip announces the windows, the next their titles and states.
  wl_display_roundtrip(display);
  wl_display_roundtrip(display);
  for (const auto& [uuid, window] : globals.windows) {
    std::printf("%s\t%d\t%s\n", uuid.c_str(), window.active ? 1 : 0, window.title.c_str());
  }
  return 0;
}

struct Stream {
  bool ended = false;
};

void onCreated(void*, zkde_screencast_stream_unstable_v1*, std::uint32_t node) {
  std::printf("node %u\n", node);
  std::fflush(stdout);
}

void onClosed(void* data, zkde_screencast_stream_unstable_v1*) {
  std::printf("closed\n");
  std::fflush(stdout);
  static_cast<Stream*>(data)->ended = true;
}

void onFailed(void*, zkde_screencast_stream_unstable_v1*, const char* error) {
  fail(std::string("KWin refused the cast: ") + error);
}

const zkde_screencast_stream_unstable_v1_listener streamListener = {
    .closed = onClosed,
    .created = onCreated,
    .failed = onFailed,
};

int cast(wl_display* display, Globals& globals, const char* windowUuid, std::uint32_t cursor) {
  if (!globals.screencast) {
    fail("KWin offers no screen casts to this program");
  }
  zkde_screencast_stream_unstable_v1* stream = nullptr;
  if (windowUuid) {
    stream = zkde_screencast_unstable_v1_stream_window(globals.screencast, windowUuid, cursor);
  } else {
    if (!globals.output.output || globals.output.width <= 0) {
      fail("KWin has no output");
    }
    stream = zkde_screencast_unstable_v1_stream_output(globals.screencast, globals.output.output,
                                                       cursor);
    const std::int32_t scale = globals.output.scale > 0 ? globals.output.scale : 1;
    std::printf("size %d %d\n", globals.output.width / scale, globals.output.height / scale);
  }
  Stream state;
  zkde_screencast_stream_unstable_v1_add_listener(stream, &streamListener, &state);
  while (!state.ended && wl_display_dispatch(display) >= 0) {
  }
  zkde_screencast_stream_unstable_v1_close(stream);
  wl_display_flush(display);
  return state.ended ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  const bool valid = (command == "windows" && argc == 2) || (command == "monitor" && argc == 3) ||
                     (command == "window" && argc == 4);
  if (!valid) {
    std::fprintf(stderr, "usage: kwin-screencast windows | monitor CURSOR | window UUID CURSOR\n");
    return 2;
  }
  wl_display* display = wl_display_connect(nullptr);
  if (!display) {
    fail("cannot connect to the Wayland display");
  }
  Globals globals;
  wl_registry* registry = wl_display_get_registry(display);
  wl_registry_add_listener(registry, &registryListener, &globals);
  // The globals, then the output's mode and scale.
  wl_display_roundtrip(display);
  wl_display_roundtrip(display);
  if (command == "windows") {
    return listWindows(display, globals);
  }
  const char* uuid = command == "window" ? argv[2] : nullptr;
  return cast(display, globals, uuid,
              static_cast<std::uint32_t>(std::strtoul(argv[argc - 1], nullptr, 10)));
}
