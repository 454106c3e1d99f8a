#pragma once

#include "Platform/Linux/X11/XConnection.h"
#include "Platform/ScreenCapture.h"

#include <functional>
#include <memory>

// The X11 screen capture service apart from its streams: what lists displays
// and windows links none of the capture code, so a program that only lists
// does not load the libraries that code needs.

namespace Platform::Linux::X11 {

// Makes one capture stream; `display` hands out the service's connection,
// opened on first use and shared by every stream.
using StreamMaker = std::function<std::shared_ptr<SCStream>(
    std::function<std::shared_ptr<XConnection>()> display, const SCContentFilter& filter,
    const SCStreamConfiguration& configuration, std::weak_ptr<SCStreamDelegate> delegate)>;

// A service whose streams come from `makeStream`; without one, makeStream
// fails with a Platform::Error.
std::shared_ptr<ScreenCaptureService> makeX11Service(StreamMaker makeStream);

} // namespace Platform::Linux::X11
