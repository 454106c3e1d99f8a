#include "Platform/ScreenCapture.h"

namespace Platform {

SCContentFilter::SCContentFilter(SCDisplay display, std::vector<SCWindow> excludingWindows)
    : display_(std::move(display)), excludedWindows_(std::move(excludingWindows)) {}

SCContentFilter::SCContentFilter(SCWindow desktopIndependentWindow)
    : window_(std::move(desktopIndependentWindow)) {}

CGRect SCContentFilter::contentRect() const {
  const CGRect frame = display_ ? display_->frame : window_->frame;
  return CGRect{0, 0, frame.width, frame.height};
}

} // namespace Platform
