#pragma once

#include <spa/pod/pod.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

// The pixel formats a screen cast may arrive in: those we offer a producer,
// their copy into the B, G, R, X memory order every later stage reads, and
// why an offer with none of them cannot be recorded. Formats are
// SPA_VIDEO_FORMAT_* values, in shared memory. Pure functions; any thread.

namespace Platform::Linux::Wayland {

// Every 32-bit RGB order, B, G, R, X first: it needs no reordering.
std::span<const std::uint32_t> takenVideoFormats();

// Copies `width` x `height` pixels of a taken `format` into B, G, R, X
// memory; the fourth byte is the source's alpha or padding. Returns false,
// copying nothing, for a format not taken.
bool copyAsBGRX(std::uint32_t format, const std::uint8_t* source, std::size_t sourceBytesPerRow,
                std::uint8_t* destination, std::size_t destinationBytesPerRow, std::int32_t width,
                std::int32_t height);

// The complaint about a producer whose EnumFormat params offer nothing we
// take, naming what they do offer ("The screen cast offers only NV12
// (DmaBuf), which cannot be recorded"); nothing when one of them fits or
// there are none to judge.
std::optional<std::string> unrecordableOffer(std::span<const spa_pod* const> enumFormats);

} // namespace Platform::Linux::Wayland
