#include "Platform/Linux/X11/CursorReader.h"

#include <xcb/xfixes.h>

#include <utility>

namespace Platform::Linux::X11 {

CursorReader::CursorReader(std::shared_ptr<XConnection> connection)
    : connection_(std::move(connection)) {
  const Extensions& extensions = connection_->extensions();
  if (!extensions.xfixes) {
    return;
  }
  // Left selected when the reader goes: other readers may share the
  // connection, and the events cost nothing while the shape stays.
  xcb_xfixes_select_cursor_input(connection_->get(), connection_->root(),
                                 XCB_XFIXES_CURSOR_NOTIFY_MASK_DISPLAY_CURSOR);
  const std::uint8_t notify = extensions.xfixesFirstEvent + XCB_XFIXES_CURSOR_NOTIFY;
  subscription_ = connection_->subscribe([this, notify](const xcb_generic_event_t& event) {
    if ((event.response_type & 0x7F) == notify) {
      shapeChanged_ = true;
    }
  });
}

std::optional<Capture::CursorImage> CursorReader::read(xcb_window_t window, std::int32_t offsetX,
                                                       std::int32_t offsetY) {
  if (!connection_->extensions().xfixes) {
    return std::nullopt;
  }
  xcb_connection_t* c = connection_->get();
  // Cleared before the image is asked for: a change reported from now on is
  // fetched at the next reading.
  const bool fetchShape = shapeChanged_.exchange(false) || !shape_;
  xcb_xfixes_get_cursor_image_cookie_t imageCookie{};
  if (fetchShape) {
    imageCookie = xcb_xfixes_get_cursor_image(c);
  }
  const auto pointerCookie = xcb_query_pointer(c, window);
  if (fetchShape) {
    XReply<xcb_xfixes_get_cursor_image_reply_t> image(
        xcb_xfixes_get_cursor_image_reply(c, imageCookie, nullptr));
    shape_.reset();
    if (image && xcb_xfixes_get_cursor_image_cursor_image_length(image.get()) >=
                     image->width * image->height) {
      Capture::CursorImage& shape = shape_.emplace();
      hotX_ = image->xhot;
      hotY_ = image->yhot;
      shape.width = image->width;
      shape.height = image->height;
      shape.serial = image->cursor_serial;
      const std::uint32_t* pixels = xcb_xfixes_get_cursor_image_cursor_image(image.get());
      shape.pixels = std::make_shared<const std::vector<std::uint32_t>>(
          pixels, pixels + image->width * image->height);
    }
  }
  XReply<xcb_query_pointer_reply_t> pointer(xcb_query_pointer_reply(c, pointerCookie, nullptr));
  if (!shape_ || !pointer || pointer->same_screen == 0) {
    return std::nullopt;
  }
  Capture::CursorImage cursor = *shape_;
  cursor.x = pointer->win_x - hotX_ - offsetX;
  cursor.y = pointer->win_y - hotY_ - offsetY;
  return cursor;
}

} // namespace Platform::Linux::X11
