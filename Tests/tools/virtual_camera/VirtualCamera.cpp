// virtual-camera: a camera of our own for the tests and the demo. A PipeWire
// video source showing the demo windows' picture in one chosen format, with
// the same optional flashes and, with --audio, an audio source in the same
// group that beeps while the picture flashes. Prints "ready" once its nodes
// are in the graph; SIGINT or SIGTERM take them away and end it.

#include "CameraOptions.h"
#include "PipeWireTool.h"
#include "ToneStream.h"
#include "VideoStream.h"

#include <cstdio>
#include <optional>

namespace {

using namespace VirtualCamera;

class Camera {
public:
  explicit Camera(const Options& options);
  int run();

private:
  void stateChanged(pw_stream_state state, bool& reached);
  void fail(const char* what, const char* message);

  Options options_;
  DemoWindow::Flashes flashes_;
  PipeWireTool::Connection pipewire_;
  spa_hook coreListener_{};
  std::optional<VideoStream> video_;
  std::optional<ToneStream> tone_;
  bool videoReady_ = false;
  bool toneReady_ = false;
  bool announced_ = false;
  int status_ = 0;
};

Camera::Camera(const Options& options)
    : options_(options), flashes_(DemoWindow::Clock::now(), options.flashEvery) {
  static const pw_core_events events = [] {
    pw_core_events events{};
    events.version = PW_VERSION_CORE_EVENTS;
    events.error = [](void* self, std::uint32_t id, int, int, const char* message) {
      if (id == PW_ID_CORE) {
        static_cast<Camera*>(self)->fail("PipeWire", message);
      }
    };
    return events;
  }();
  pw_core_add_listener(pipewire_.core.get(), &coreListener_, &events, this);

  video_.emplace(pipewire_.core.get(), pipewire_.events(), options_, flashes_,
                 [this](pw_stream_state state) { stateChanged(state, videoReady_); });
  toneReady_ = !options_.audio;
  if (options_.audio) {
    tone_.emplace(pipewire_.core.get(), options_, flashes_,
                  [this](pw_stream_state state) { stateChanged(state, toneReady_); });
  }
}

int Camera::run() {
  pw_main_loop_run(pipewire_.loop.get());
  tone_.reset();
  video_.reset();
  return status_;
}

void Camera::stateChanged(pw_stream_state state, bool& reached) {
  if (state == PW_STREAM_STATE_ERROR || (reached && state == PW_STREAM_STATE_UNCONNECTED)) {
    fail("stream", "PipeWire took the node away");
    return;
  }
  reached = reached || state == PW_STREAM_STATE_PAUSED || state == PW_STREAM_STATE_STREAMING;
  if (videoReady_ && toneReady_ && !announced_) {
    announced_ = true;
    std::printf("ready\n");
    std::fflush(stdout);
  }
}

void Camera::fail(const char* what, const char* message) {
  std::fprintf(stderr, "virtual-camera: %s: %s\n", what, message);
  status_ = 1;
  pw_main_loop_quit(pipewire_.loop.get());
}

} // namespace

int main(int argc, char** argv) {
  const Options options = parse(argc, argv);
  return PipeWireTool::run(argc, argv, "virtual-camera", [&] { return Camera(options).run(); });
}
