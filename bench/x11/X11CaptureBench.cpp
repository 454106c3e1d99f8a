// x11_capture_bench SECONDS WINDOW_ID...
//
// Captures each window in turn for SECONDS at 24 frames per second in BGRA at
// the window's own size, and prints the process CPU time spent per second of
// capture (the share of one core), the frames delivered and how many were
// complete (grabbed and converted) or idle (unchanged, reused).

#include "Platform/Linux/X11/X11ScreenCapture.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <string>
#include <thread>

namespace {

double processCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

class Counter : public Platform::SCStreamOutput {
public:
  void streamDidOutputSampleBuffer(Platform::SCStream&, Platform::SampleBufferRef sample,
                                   Platform::SCStreamOutputType) override {
    const auto& attachments = *sample->sampleAttachments();
    const auto status =
        std::get<std::int64_t>(attachments.front().at(Platform::SCStreamFrameInfoStatus));
    (status == 0 ? complete : idle).fetch_add(1);
  }
  std::atomic<int> complete{0};
  std::atomic<int> idle{0};
};

} // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: x11_capture_bench SECONDS WINDOW_ID...\n");
    return 2;
  }
  const double seconds = std::stod(argv[1]);
  const auto service = Platform::Linux::makeX11ScreenCaptureService(nullptr);
  const auto content = service->shareableContent(false, false);
  for (int i = 2; i < argc; ++i) {
    const auto id = static_cast<std::uint32_t>(std::stoul(argv[i]));
    const Platform::SCWindow* window = nullptr;
    for (const auto& candidate : content.windows) {
      if (candidate.windowID == id) {
        window = &candidate;
      }
    }
    if (window == nullptr) {
      std::fprintf(stderr, "no window %u\n", id);
      return 1;
    }
    Platform::SCStreamConfiguration configuration;
    configuration.minimumFrameInterval = CMTimeMake(1, 24);
    configuration.showsCursor = true;
    configuration.width = static_cast<std::int64_t>(window->frame.width);
    configuration.height = static_cast<std::int64_t>(window->frame.height);
    auto counter = std::make_shared<Counter>();
    auto stream = service->makeStream(Platform::SCContentFilter(*window), configuration, {});
    stream->addStreamOutput(counter, Platform::SCStreamOutputType::screen,
                            Platform::DispatchQueue::global());

    const double cpuBefore = processCpuSeconds();
    const auto wallBefore = std::chrono::steady_clock::now();
    stream->startCapture();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    stream->stopCapture();
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wallBefore).count();
    const double cpu = processCpuSeconds() - cpuBefore;
    std::printf("window %u (%s, %.0fx%.0f): %.4f CPU-s per s, %d complete, %d idle frames\n", id,
                window->title.value_or("untitled").c_str(), window->frame.width,
                window->frame.height, cpu / wall, counter->complete.load(), counter->idle.load());
  }
  return 0;
}
