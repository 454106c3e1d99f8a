#pragma once

/// @file
/// A rectangle on the desktop.

namespace Vistrel {

/// A rectangle in points (desktop coordinates), origin at the top left.
struct Rect {
  double x = 0;      ///< left edge
  double y = 0;      ///< top edge
  double width = 0;  ///< width
  double height = 0; ///< height
  /// Equal when every field is.
  friend bool operator==(const Rect&, const Rect&) = default;
};

} // namespace Vistrel
