#include "Platform/Linux/X11/XConnection.h"

#include "Platform/Linux/Capture/CaptureErrors.h"

#include <xcb/composite.h>
#include <xcb/damage.h>
#include <xcb/randr.h>
#include <xcb/shm.h>
#include <xcb/xfixes.h>

#include <array>
#include <string_view>

namespace Platform::Linux::X11 {

using Capture::captureError;
using Capture::throwCaptureError;
namespace CaptureErrorCode = Capture::CaptureErrorCode;

namespace {

constexpr std::array<std::string_view, static_cast<std::size_t>(Atom::count)> atomNames = {
    "UTF8_STRING",
    "COMPOUND_TEXT",
    "WM_NAME",
    "WM_CLASS",
    "WM_STATE",
    "_NET_WM_NAME",
    "_NET_WM_PID",
    "_NET_WM_STATE",
    "_NET_WM_STATE_ABOVE",
    "_NET_WM_STATE_BELOW",
    "_NET_WM_STATE_HIDDEN",
    "_NET_WM_WINDOW_TYPE",
    "_NET_WM_WINDOW_TYPE_NORMAL",
    "_NET_WM_WINDOW_TYPE_DESKTOP",
    "_NET_WM_WINDOW_TYPE_DOCK",
    "_NET_WM_WINDOW_TYPE_TOOLBAR",
    "_NET_WM_WINDOW_TYPE_MENU",
    "_NET_WM_WINDOW_TYPE_UTILITY",
    "_NET_WM_WINDOW_TYPE_SPLASH",
    "_NET_WM_WINDOW_TYPE_DIALOG",
    "_NET_WM_WINDOW_TYPE_DROPDOWN_MENU",
    "_NET_WM_WINDOW_TYPE_POPUP_MENU",
    "_NET_WM_WINDOW_TYPE_TOOLTIP",
    "_NET_WM_WINDOW_TYPE_NOTIFICATION",
    "_NET_WM_WINDOW_TYPE_COMBO",
    "_NET_WM_WINDOW_TYPE_DND",
    "_NET_WM_DESKTOP",
    "_NET_CURRENT_DESKTOP",
    "_NET_ACTIVE_WINDOW",
    "_NET_CLIENT_LIST",
    "_NET_CLIENT_LIST_STACKING",
};

const xcb_screen_t* screenAt(xcb_connection_t* connection, int screenNumber) {
  xcb_screen_iterator_t iterator = xcb_setup_roots_iterator(xcb_get_setup(connection));
  for (int index = 0; iterator.rem > 0; ++index, xcb_screen_next(&iterator)) {
    if (index == screenNumber) {
      return iterator.data;
    }
  }
  return nullptr;
}

bool formatIs32BitsPerPixel(const xcb_setup_t* setup, std::uint8_t depth) {
  xcb_format_iterator_t format = xcb_setup_pixmap_formats_iterator(setup);
  for (; format.rem > 0; xcb_format_next(&format)) {
    if (format.data->depth == depth) {
      return format.data->bits_per_pixel == 32;
    }
  }
  return false;
}

bool rootVisualIsBGRX(const xcb_screen_t& screen) {
  xcb_depth_iterator_t depth = xcb_screen_allowed_depths_iterator(&screen);
  for (; depth.rem > 0; xcb_depth_next(&depth)) {
    xcb_visualtype_iterator_t visual = xcb_depth_visuals_iterator(depth.data);
    for (; visual.rem > 0; xcb_visualtype_next(&visual)) {
      if (visual.data->visual_id == screen.root_visual) {
        return visual.data->_class == XCB_VISUAL_CLASS_TRUE_COLOR &&
               visual.data->red_mask == 0xFF0000 && visual.data->green_mask == 0xFF00 &&
               visual.data->blue_mask == 0xFF;
      }
    }
  }
  return false;
}

} // namespace

std::shared_ptr<XConnection> XConnection::open(const std::optional<std::string>& displayName) {
  std::string name;
  if (displayName) {
    name = *displayName;
  } else if (const char* environment = std::getenv("DISPLAY"); environment && *environment) {
    name = environment;
  } else {
    throwCaptureError(CaptureErrorCode::connectionInvalid, "No X display: DISPLAY is not set");
  }
  int screenNumber = 0;
  xcb_connection_t* connection = xcb_connect(name.c_str(), &screenNumber);
  if (xcb_connection_has_error(connection) != 0) {
    xcb_disconnect(connection);
    throwCaptureError(CaptureErrorCode::connectionInvalid,
                      "Cannot open X display \"" + name + "\"");
  }
  // The constructor takes ownership of the connection even if it throws.
  return std::shared_ptr<XConnection>(new XConnection(connection, screenNumber, std::move(name)));
}

XConnection::XConnection(xcb_connection_t* connection, int screenNumber, std::string displayName)
    : connection_(connection), displayName_(std::move(displayName)) {
  screen_ = screenAt(connection_, screenNumber);
  if (screen_ == nullptr) {
    xcb_disconnect(connection_);
    throwCaptureError(CaptureErrorCode::connectionInvalid, "X display \"" + displayName_ +
                                                               "\" has no screen " +
                                                               std::to_string(screenNumber));
  }
  const xcb_setup_t* setup = xcb_get_setup(connection_);
  capturableImageFormat_ =
      setup->image_byte_order == XCB_IMAGE_ORDER_LSB_FIRST && screen_->root_depth >= 24 &&
      formatIs32BitsPerPixel(setup, screen_->root_depth) && rootVisualIsBGRX(*screen_);
  internAtoms();
  probeExtensions();
}

XConnection::~XConnection() {
  xcb_disconnect(connection_);
}

void XConnection::internAtoms() {
  std::array<xcb_intern_atom_cookie_t, atomNames.size()> cookies{};
  for (std::size_t i = 0; i < atomNames.size(); ++i) {
    cookies[i] = xcb_intern_atom(connection_, 0, static_cast<std::uint16_t>(atomNames[i].size()),
                                 atomNames[i].data());
  }
  for (std::size_t i = 0; i < atomNames.size(); ++i) {
    XReply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(connection_, cookies[i], nullptr));
    atoms_[i] = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
  }
}

void XConnection::probeExtensions() {
  // Prefetch every extension's presence in one round trip.
  for (xcb_extension_t* extension :
       {&xcb_composite_id, &xcb_shm_id, &xcb_xfixes_id, &xcb_damage_id, &xcb_randr_id}) {
    xcb_prefetch_extension_data(connection_, extension);
  }
  const auto present = [this](xcb_extension_t* extension) -> const xcb_query_extension_reply_t* {
    const xcb_query_extension_reply_t* data = xcb_get_extension_data(connection_, extension);
    return data != nullptr && data->present ? data : nullptr;
  };
  const bool hasComposite = present(&xcb_composite_id) != nullptr;
  const bool hasShm = present(&xcb_shm_id) != nullptr;
  const xcb_query_extension_reply_t* xfixes = present(&xcb_xfixes_id);
  const xcb_query_extension_reply_t* damage = present(&xcb_damage_id);
  const xcb_query_extension_reply_t* randr = present(&xcb_randr_id);

  // Each extension must be told our version before it is used.
  xcb_composite_query_version_cookie_t compositeCookie{};
  xcb_shm_query_version_cookie_t shmCookie{};
  xcb_xfixes_query_version_cookie_t xfixesCookie{};
  xcb_damage_query_version_cookie_t damageCookie{};
  xcb_randr_query_version_cookie_t randrCookie{};
  if (hasComposite) {
    compositeCookie = xcb_composite_query_version(connection_, 0, 4);
  }
  if (hasShm) {
    shmCookie = xcb_shm_query_version(connection_);
  }
  if (xfixes != nullptr) {
    xfixesCookie = xcb_xfixes_query_version(connection_, 4, 0);
  }
  if (damage != nullptr) {
    damageCookie = xcb_damage_query_version(connection_, 1, 1);
  }
  if (randr != nullptr) {
    randrCookie = xcb_randr_query_version(connection_, 1, 5);
  }
  if (hasComposite) {
    XReply<xcb_composite_query_version_reply_t> reply(
        xcb_composite_query_version_reply(connection_, compositeCookie, nullptr));
    extensions_.composite = reply && (reply->major_version > 0 || reply->minor_version >= 2);
  }
  if (hasShm) {
    XReply<xcb_shm_query_version_reply_t> reply(
        xcb_shm_query_version_reply(connection_, shmCookie, nullptr));
    extensions_.shm = reply != nullptr;
  }
  if (xfixes != nullptr) {
    XReply<xcb_xfixes_query_version_reply_t> reply(
        xcb_xfixes_query_version_reply(connection_, xfixesCookie, nullptr));
    // Cursor images and their change events came with version 2.
    extensions_.xfixes = reply && reply->major_version >= 2;
    extensions_.xfixesFirstEvent = xfixes->first_event;
  }
  if (damage != nullptr) {
    XReply<xcb_damage_query_version_reply_t> reply(
        xcb_damage_query_version_reply(connection_, damageCookie, nullptr));
    extensions_.damage = reply != nullptr;
    extensions_.damageFirstEvent = damage->first_event;
  }
  if (randr != nullptr) {
    XReply<xcb_randr_query_version_reply_t> reply(
        xcb_randr_query_version_reply(connection_, randrCookie, nullptr));
    extensions_.randrMonitors = reply && (reply->major_version > 1 || reply->minor_version >= 5);
    extensions_.randrFirstEvent = randr->first_event;
  }
}

bool XConnection::isAlive() const {
  return xcb_connection_has_error(connection_) == 0;
}

XConnection::Subscription XConnection::subscribe(EventHandler handler) {
  Lock lock(eventMutex_);
  const std::uint64_t id = nextHandlerId_++;
  handlers_.emplace_back(id, std::move(handler));
  return Subscription(shared_from_this(), id);
}

void XConnection::unsubscribe(std::uint64_t id) {
  Lock lock(eventMutex_);
  handlers_.remove_if([id](const auto& entry) { return entry.first == id; });
}

void XConnection::pumpEvents() {
  Lock lock(eventMutex_);
  while (XReply<xcb_generic_event_t> event{xcb_poll_for_event(connection_)}) {
    for (const auto& [id, handler] : handlers_) {
      handler(*event);
    }
  }
}

XConnection::Subscription::Subscription(Subscription&& other) noexcept
    : connection_(std::move(other.connection_)), id_(other.id_) {
  other.id_ = 0;
}

XConnection::Subscription& XConnection::Subscription::operator=(Subscription&& other) noexcept {
  if (this != &other) {
    reset();
    connection_ = std::move(other.connection_);
    id_ = other.id_;
    other.id_ = 0;
  }
  return *this;
}

XConnection::Subscription::~Subscription() {
  reset();
}

void XConnection::Subscription::reset() {
  if (connection_ && id_ != 0) {
    connection_->unsubscribe(id_);
  }
  connection_.reset();
  id_ = 0;
}

} // namespace Platform::Linux::X11
