#include "Platform/Linux/X11/CursorReader.h"

#include <xcb/xfixes.h>

namespace Platform::Linux::X11 {

std::optional<CursorImage> readCursor(const XConnection& connection, xcb_window_t window,
                                      std::int32_t offsetX, std::int32_t offsetY) {
  if (!connection.extensions().xfixes) {
    return std::nullopt;
  }
  xcb_connection_t* c = connection.get();
  const auto imageCookie = xcb_xfixes_get_cursor_image(c);
  const auto pointerCookie = xcb_query_pointer(c, window);
  XReply<xcb_xfixes_get_cursor_image_reply_t> image(
      xcb_xfixes_get_cursor_image_reply(c, imageCookie, nullptr));
  XReply<xcb_query_pointer_reply_t> pointer(xcb_query_pointer_reply(c, pointerCookie, nullptr));
  if (!image || !pointer || pointer->same_screen == 0) {
    return std::nullopt;
  }
  const int length = xcb_xfixes_get_cursor_image_cursor_image_length(image.get());
  if (length < image->width * image->height) {
    return std::nullopt;
  }
  CursorImage cursor;
  cursor.x = pointer->win_x - image->xhot - offsetX;
  cursor.y = pointer->win_y - image->yhot - offsetY;
  cursor.width = image->width;
  cursor.height = image->height;
  cursor.serial = image->cursor_serial;
  const std::uint32_t* pixels = xcb_xfixes_get_cursor_image_cursor_image(image.get());
  cursor.pixels.assign(pixels, pixels + image->width * image->height);
  return cursor;
}

namespace {

bool touches(const CursorImage& cursor, std::int32_t width, std::int32_t height) {
  return cursor.x < width && cursor.y < height && cursor.x + cursor.width > 0 &&
         cursor.y + cursor.height > 0;
}

} // namespace

bool cursorChangedInside(const std::optional<CursorImage>& before,
                         const std::optional<CursorImage>& after, std::int32_t width,
                         std::int32_t height) {
  const bool wasInside = before && touches(*before, width, height);
  const bool isInside = after && touches(*after, width, height);
  if (!wasInside && !isInside) {
    return false;
  }
  if (wasInside != isInside) {
    return true;
  }
  return before->x != after->x || before->y != after->y || before->serial != after->serial;
}

} // namespace Platform::Linux::X11
