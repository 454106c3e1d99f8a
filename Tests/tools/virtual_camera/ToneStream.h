#pragma once

// The camera's sound: an output stream announced as an audio source in the
// camera's group, a 1 kHz tone exactly while the picture flashes.

#include "CameraOptions.h"
#include "DemoContent.h"
#include "PipeWireTool.h"

#include <functional>

namespace VirtualCamera {

class ToneStream {
public:
  ToneStream(pw_core* core, const Options& options, const DemoWindow::Flashes& flashes,
             std::function<void(pw_stream_state)> onState);
  ~ToneStream();
  ToneStream(const ToneStream&) = delete;
  ToneStream& operator=(const ToneStream&) = delete;

private:
  void process();

  const DemoWindow::Flashes& flashes_;
  std::function<void(pw_stream_state)> onState_;
  PipeWireTool::Stream stream_;
  spa_hook listener_{};
  std::uint64_t phase_ = 0;
};

} // namespace VirtualCamera
