#pragma once

#include "Platform/MediaWriting.h"

#include <memory>

// The media-writing service over FFmpeg: asset writers that encode and mux
// into MP4, M4V, MOV and M4A files, their inputs and the settings assistant.
// Platform-neutral, so every platform installs the same one.
//
// Threads: the service and the writers it makes may be used from any thread.
// Each input encodes on a thread of its own; appends never block the caller.

namespace Platform::FFmpeg {

std::shared_ptr<MediaWritingService> makeMediaWritingService();

} // namespace Platform::FFmpeg
