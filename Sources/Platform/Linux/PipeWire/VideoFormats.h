#pragma once

#include <spa/param/video/raw.h>
#include <spa/pod/pod.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

// The pixel formats a PipeWire video node may send us: those we offer a
// producer (every 32-bit RGB order, the YUV layouts cameras send, MJPG),
// their conversion into the B, G, R, X memory order every later stage
// reads, and why an offer with none of them cannot be recorded. Formats are
// SPA_VIDEO_FORMAT_* values, in shared memory. Pure functions; any thread.

namespace Platform::Linux::PipeWire {

// Stands for MJPG, the one compressed format taken: SPA describes it as a
// subtype of its own rather than a raw format.
inline constexpr std::uint32_t mjpgFormat = SPA_VIDEO_FORMAT_ENCODED;

// The raw formats offered, in order of preference: B, G, R, X first (it
// needs no conversion), the other RGB orders, then YUV.
std::span<const std::uint32_t> takenRawFormats();

// One picture as its producer filled it: each plane's memory (as much as was
// filled; one plane for packed formats and MJPG) and bytes per row.
struct SourcePicture {
  std::uint32_t format = SPA_VIDEO_FORMAT_UNKNOWN;
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::array<std::span<const std::uint8_t>, 3> planes;
  std::array<std::size_t, 3> bytesPerRow{};
};

// A rectangle of a picture, in pixels.
struct Region {
  std::int32_t x = 0;
  std::int32_t y = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;
};

// How many planes a taken format has; 0 for one not taken.
std::size_t planeCount(std::uint32_t format);

// The bytes of a row of the first plane, unpadded: what a producer that
// gives no stride means.
std::size_t unpaddedBytesPerRow(std::uint32_t format, std::int32_t width);

// The planes of a picture whose producer put them one after the other in a
// single block (as V4L2 cameras do), rows `bytesPerRow` apart in the first
// plane and the usual fraction of it in the others.
SourcePicture contiguousPlanes(std::uint32_t format, std::int32_t width, std::int32_t height,
                               std::span<const std::uint8_t> block, std::size_t bytesPerRow);

// Writes `region` of `picture` as B, G, R, X rows `destinationBytesPerRow`
// apart; the fourth byte is the source's alpha or padding, or opaque. A
// compressed picture is decoded whole (its region is all of it). Returns
// false, leaving the destination undefined, for a format not taken, a
// region outside the picture, planes shorter than the region needs, or a
// picture that does not decode.
bool convertToBGRX(const SourcePicture& picture, const Region& region, std::uint8_t* destination,
                   std::size_t destinationBytesPerRow);

// The complaint about a producer whose EnumFormat params offer nothing we
// take, naming what they do offer ("The screen cast offers only NV12
// (DmaBuf), which cannot be recorded"), `subject` being what offers it;
// nothing when one of them fits or there are none to judge.
std::optional<std::string> unrecordableOffer(std::span<const spa_pod* const> enumFormats,
                                             const std::string& subject);

} // namespace Platform::Linux::PipeWire
