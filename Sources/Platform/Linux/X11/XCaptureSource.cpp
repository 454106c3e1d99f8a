#include "Platform/Linux/X11/XCaptureSource.h"

#include "Platform/Linux/Capture/CaptureErrors.h"

namespace Platform::Linux::X11 {

XCaptureSource::XCaptureSource(std::shared_ptr<XConnection> connection, bool showsCursor)
    : connection_(std::move(connection)) {
  if (showsCursor) {
    cursorReader_.emplace(connection_);
  }
}

ErrorRef XCaptureSource::pumpConnection() {
  connection_->pumpEvents();
  if (!connection_->isAlive()) {
    return Capture::captureError(Capture::CaptureErrorCode::connectionInvalid,
                                 "The connection to X display \"" + connection_->displayName() +
                                     "\" was lost");
  }
  return nullptr;
}

std::optional<Capture::CursorImage> XCaptureSource::cursor() {
  if (!cursorReader_) {
    return std::nullopt;
  }
  return cursorReader_->read(pointerWindow(), pointerOffsetX(), pointerOffsetY());
}

} // namespace Platform::Linux::X11
