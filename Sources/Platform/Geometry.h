#pragma once

namespace Platform {

// A rectangle in points (display coordinates), origin at the top left.
struct CGRect {
  double x = 0;
  double y = 0;
  double width = 0;
  double height = 0;
  friend bool operator==(const CGRect&, const CGRect&) = default;
};

} // namespace Platform
