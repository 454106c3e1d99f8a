#pragma once

// The camera's picture: an output stream announced as a video source,
// offering one format, that sends a frame every frame period.

#include "CameraOptions.h"
#include "FramePainter.h"
#include "PipeWireTool.h"

#include <functional>

namespace VirtualCamera {

class VideoStream {
public:
  // `onState` hears every state the stream reaches; the stream stays
  // silent with `options.frames` false.
  VideoStream(pw_core* core, pw_loop* loop, const Options& options,
              const DemoWindow::Flashes& flashes, std::function<void(pw_stream_state)> onState);
  ~VideoStream();
  VideoStream(const VideoStream&) = delete;
  VideoStream& operator=(const VideoStream&) = delete;

private:
  // With a sound of its own the picture follows the driver of the camera's
  // group, as the sound does: driving, it would pace the sound at the frame
  // rate.
  bool drives() const { return !options_.audio; }
  void stateChanged(pw_stream_state state);
  void formatChanged();
  void tick();
  void process();

  const Options& options_;
  const DemoWindow::Flashes& flashes_;
  std::function<void(pw_stream_state)> onState_;
  FramePainter painter_;
  pw_loop* loop_;
  spa_source* timer_ = nullptr;
  PipeWireTool::Stream stream_;
  spa_hook listener_{};
  DemoWindow::Clock::duration period_;
  DemoWindow::Clock::time_point nextFrame_;
  std::uint64_t frame_ = 0;
};

} // namespace VirtualCamera
