#include "support/WindowActions.h"

#include <xcb/xcb_icccm.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace TestSupport {

namespace {

xcb_atom_t atom(xcb_connection_t* connection, const char* name) {
  xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
      connection,
      xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(std::strlen(name)), name), nullptr);
  const xcb_atom_t result = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
  std::free(reply);
  return result;
}

bool isViewable(std::uint32_t id) {
  xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
  xcb_get_window_attributes_reply_t* attributes = xcb_get_window_attributes_reply(
      connection, xcb_get_window_attributes(connection, id), nullptr);
  const bool viewable = attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
  std::free(attributes);
  xcb_disconnect(connection);
  return viewable;
}

} // namespace

void syncAndClose(xcb_connection_t* connection) {
  std::free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
  xcb_disconnect(connection);
}

void resizeWindow(std::uint32_t id, std::uint16_t width, std::uint16_t height) {
  xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
  const std::uint32_t size[] = {width, height};
  xcb_configure_window(connection, id, XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT, size);
  syncAndClose(connection);
}

void minimizeWindow(std::uint32_t id) {
  xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
  xcb_client_message_event_t message{};
  message.response_type = XCB_CLIENT_MESSAGE;
  message.format = 32;
  message.window = id;
  message.type = atom(connection, "WM_CHANGE_STATE");
  message.data.data32[0] = XCB_ICCCM_WM_STATE_ICONIC;
  const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
  xcb_send_event(connection, 0, root,
                 XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                 reinterpret_cast<const char*>(&message));
  syncAndClose(connection);
}

void restoreWindow(std::uint32_t id) {
  xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
  xcb_map_window(connection, id);
  syncAndClose(connection);
}

bool waitUntilViewable(std::uint32_t id, bool viewable) {
  using namespace std::chrono_literals;
  for (int attempt = 0; attempt < 100; ++attempt) {
    if (isViewable(id) == viewable) {
      return true;
    }
    std::this_thread::sleep_for(20ms);
  }
  return false;
}

} // namespace TestSupport
