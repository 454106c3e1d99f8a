#pragma once

#include "Platform/Linux/PipeWire/PipeWireCore.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// The frames of one PipeWire video node (a screen cast, a camera), as they
// arrive. PipeWire's buffers go back to the producer at once: the newest
// frame is converted out, in B, G, R, X order whatever RGB order, YUV layout
// or MJPG it came in, so that a capture thread can read it at its own pace.
// A compositor sends a buffer only when something changed, which makes a new
// frame the mark of a change.
//
// Thread contract: every member may be called from any thread but
// PipeWire's, which fills the frame.

namespace Platform::Linux::PipeWire {

// The node to consume, and how messages name it.
struct VideoNode {
  // The node by its id (a screen cast the portal granted), or else by its
  // name (a device, whose name outlives a reconnection).
  std::optional<std::uint32_t> id;
  std::string name;
  // The media role our stream asks with ("Screen", "Camera").
  std::string role;
  // The node in a sentence: "the screen cast", "the camera “Desk Camera”".
  std::string description;
  // Why the frames stopped when the node went away.
  std::string goneMessage;
};

// Text that begins a sentence: "the camera" -> "The camera".
std::string capitalized(std::string text);

class PipeWireFrames {
public:
  // B, G, R, X bytes, `bytesPerRow` apart; already cut to the cast's crop.
  struct Frame {
    std::vector<std::uint8_t> pixels;
    // In pixels, as the cast sends them (a HiDPI screen's full resolution).
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::size_t bytesPerRow = 0;
    std::uint64_t sequence = 0; // counts the frames received, from 1
    // When the producer made it, on the host clock (CLOCK_MONOTONIC).
    std::int64_t producedAtNanoseconds = 0;
  };

  // Consumes `node` through `core` (the daemon's, or a portal's remote),
  // asking its producer for at most `maxFrameRate` frames a second (no
  // limit when it is not positive). Throws Platform::Error when the stream
  // cannot be made.
  PipeWireFrames(std::shared_ptr<Core> core, VideoNode node, double maxFrameRate);
  ~PipeWireFrames();
  PipeWireFrames(const PipeWireFrames&) = delete;
  PipeWireFrames& operator=(const PipeWireFrames&) = delete;

  // Waits up to `timeout` for the first frame; false when none came. Returns
  // at once when the cast fails first: a producer that offers no format we
  // take fails as soon as its offer is read.
  bool waitForFirstFrame(std::chrono::milliseconds timeout);

  // Hands over the newest frame when it is newer than the one `into` holds,
  // by swapping: `into`'s old pixels are reused for a later frame. Returns
  // whether it did.
  bool takeNewer(Frame& into);

  // Why the frames ended (the producer stopped or went away, so did
  // PipeWire) or could not start (the producer offers nothing we take);
  // empty while they flow.
  std::optional<std::string> failure() const;
  // Whether the connection to PipeWire itself broke (a restarted daemon),
  // rather than the node ending.
  bool connectionLost() const;
  // Whether the node went away (a cast ended, a camera unplugged).
  bool nodeGone() const;

  struct Consumer; // PipeWire's side, filled on its thread

private:
  std::unique_ptr<Consumer> consumer_;
};

} // namespace Platform::Linux::PipeWire
