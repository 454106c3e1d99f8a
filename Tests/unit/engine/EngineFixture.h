#pragma once

#include "Platform/Platform.h"
#include "Simulated/SimulatedPlatform.h"
#include "Vistrel/Recorder.h"
#include "Vistrel/RecordingSession.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

// Runs the engine on the simulated platform: one display of scale 2, one
// window, two microphones (one and two channels), and helpers that start a
// recording on another thread and feed it samples with exact times.

namespace EngineTesting {

using Platform::CMSampleBuffer;
using Platform::CaptureOutputKind;
using Platform::MediaType;
using Platform::SampleBufferRef;
using Platform::SCStreamOutputType;
using namespace Platform::Simulated;
using namespace std::chrono_literals;

inline constexpr std::uint32_t displayID = 1;
inline constexpr std::uint32_t windowID = 77;
inline const std::string monoMicrophone = "mic-mono";
inline const std::string stereoMicrophone = "mic-stereo";

// Seconds as an exact time at a millisecond timescale.
inline CMTime ms(CMTimeValue milliseconds) {
  return CMTimeMake(milliseconds, 1000);
}

inline SampleBufferRef frame(CMTime time,
                             Platform::SCFrameStatus status = Platform::SCFrameStatus::complete) {
  return makeVideoSample({.presentationTime = time, .status = status});
}

// 10 ms of audio.
inline SampleBufferRef audioChunk(CMTime time) {
  return makeAudioSample({.presentationTime = time, .frameCount = 480});
}

// Platform records with the fields a test cares about.
inline Platform::SCDisplay display(std::uint32_t id, std::int64_t width = 0,
                                   std::int64_t height = 0, Platform::CGRect frame = {}) {
  Platform::SCDisplay display;
  display.displayID = id;
  display.width = width;
  display.height = height;
  display.frame = frame;
  return display;
}

inline Platform::SCWindow window(std::uint32_t id, std::optional<std::string> title,
                                 Platform::CGRect frame = {}) {
  Platform::SCWindow window;
  window.windowID = id;
  window.title = std::move(title);
  window.frame = frame;
  window.isOnScreen = true;
  return window;
}

inline Platform::NSScreen screen(std::optional<std::int64_t> number, std::string name) {
  Platform::NSScreen screen;
  screen.screenNumber = number;
  screen.localizedName = std::move(name);
  return screen;
}

inline Vistrel::RecordingOptions::Fields fields(std::string destination,
                                                std::optional<std::string> targetID) {
  return {.destination = std::move(destination),
          .targetID = std::move(targetID),
          .cropRect = std::nullopt,
          .microphoneDeviceID = std::nullopt};
}

class EngineTest : public ::testing::Test {
protected:
  void SetUp() override {
    platform.addDisplay(
        {.displayID = displayID, .width = 1440, .height = 900, .frame = {0, 0, 1440, 900}},
        Platform::CGDisplayMode{
            .pixelWidth = 2880, .pixelHeight = 1800, .width = 1440, .height = 900});
    platform.addWindow(window(windowID, "Meeting", {10, 20, 640.9, 480.2}));
    platform.addAudioDevice({monoMicrophone, "Mono", {audioDeviceFormat(1)}});
    platform.addAudioDevice({stereoMicrophone, "Stereo", {audioDeviceFormat(2)}});
    Platform::install(platform.services());
  }

  // Starts on another thread; the recording waits for its first sample.
  std::future<void> startAsync(Vistrel::Target target, Vistrel::RecordingOptions options) {
    return std::async(std::launch::async, [this, target, options = std::move(options)] {
      recorder.start(target, options);
    });
  }

  // Delivers `sample` until the start returns (samples that come before the
  // start wait begins are ignored, as they would be by a real stream).
  template <typename Deliver>
  void deliverUntilStarted(std::future<void>& started, Deliver deliver) {
    for (int attempt = 0; attempt < 500; ++attempt) {
      deliver();
      if (started.wait_for(10ms) == std::future_status::ready) {
        started.get();
        return;
      }
    }
    FAIL() << "the recording did not start";
  }

  // A started screen or window recording whose writer began at `firstFrame`.
  std::shared_ptr<SimulatedStream> startVideo(Vistrel::Target target,
                                              Vistrel::RecordingOptions options,
                                              CMTime firstFrame = ms(10000)) {
    const std::size_t index = platform.streams().size();
    auto started = startAsync(target, std::move(options));
    auto stream = platform.waitForStream(index);
    EXPECT_TRUE(stream && stream->waitUntilStarted());
    if (!stream) {
      started.wait();
      return nullptr;
    }
    deliverUntilStarted(
        started, [&] { stream->deliverAndWait(SCStreamOutputType::screen, frame(firstFrame)); });
    return stream;
  }

  // Resumes on another thread, and returns once the resume waits for its
  // timeline-driving sample (it blocks until one arrives).
  std::future<void> resumeAsync() {
    const bool wasPaused = recorder.isPaused();
    auto resumed = std::async(std::launch::async, [this] { recorder.resume(); });
    if (wasPaused) {
      for (int poll = 0; poll < 5000 && recorder.isPaused(); ++poll) {
        std::this_thread::sleep_for(1ms);
      }
    } else {
      std::this_thread::sleep_for(50ms); // nothing to observe: give it time
    }
    return resumed;
  }

  // The writer of the latest recording.
  std::shared_ptr<SimulatedAssetWriter> writer() {
    return platform.waitForWriter() ? platform.writers().back() : nullptr;
  }

  std::vector<CMTime> appendedTimes(MediaType mediaType, std::size_t skip = 0) {
    std::vector<CMTime> times;
    const auto input = writer()->input(mediaType, skip);
    if (!input) {
      return times;
    }
    for (const AppendRecord& record : writer()->appends(*input)) {
      times.push_back(record.presentationTime);
    }
    return times;
  }

  SimulatedPlatform platform;
  Vistrel::Recorder recorder;
};

} // namespace EngineTesting
