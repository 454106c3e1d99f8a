#include "support/VirtualCamera.h"
#include "support/VirtualDesktop.h"

#include "support/Subprocess.h"

#include "Platform/Linux/Camera/CameraDevices.h"
#include "Platform/Linux/PipeWire/PipeWireFrames.h"
#include "Platform/Linux/PipeWire/PipeWireGraph.h"
#include "Platform/Linux/Pulse/AudioServer.h"
#include "Platform/Linux/Pulse/PulseMediaCapture.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>

#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using namespace Platform;

// How many connections this process has open to the PipeWire daemon, as the
// daemon counts its clients.
std::size_t pipeWireClientsOfThisProcess() {
  const auto objects =
      nlohmann::json::parse(TestSupport::run({"/usr/bin/pw-dump"}).output, nullptr, false);
  std::size_t clients = 0;
  for (const auto& object : objects) {
    if (object.value("type", "") != "PipeWire:Interface:Client") {
      continue;
    }
    const auto& pid = object["info"]["props"]["pipewire.sec.pid"];
    if ((pid.is_number() && pid.get<long>() == getpid()) ||
        (pid.is_string() && pid.get<std::string>() == std::to_string(getpid()))) {
      ++clients;
    }
  }
  return clients;
}

class Frames final : public AVCaptureDataOutputSampleBufferDelegate {
public:
  void captureOutputDidOutputSampleBuffer(AVCaptureOutput&, SampleBufferRef sample) override {
    std::lock_guard lock(mutex);
    stamps.push_back(sample->presentationTimeStamp().value);
    const auto& pixels = sample->imageBuffer();
    sizes.emplace_back(pixels ? pixels->width : 0, pixels ? pixels->height : 0);
  }
  std::mutex mutex;
  std::vector<std::int64_t> stamps;
  std::vector<std::pair<std::int32_t, std::int32_t>> sizes;
};

// The camera backend's threads (PipeWire's, the capture loop's, the
// session's) run here as they do in a recording, also under the sanitizers.
TEST(CameraCapture, AListedCameraRunsIntoASessionPacedAndEndsOnceWhenUnplugged) {
  TestSupport::VirtualDesktop desktop(
      TestSupport::VirtualDesktop::Options{.windowManager = {}, .cameras = true});
  desktop.useInThisProcess();
  TestSupport::VirtualCamera camera({"--name", "bench-camera", "--description", "Bench Camera",
                                     "--size", "320x240", "--rate", "30"},
                                    desktop.environment());
  auto server = std::make_shared<Linux::Pulse::AudioServer>();
  auto service = Linux::Capture::makeDeviceCaptureService(
      {Linux::makePulseDeviceBackend(server),
       Linux::Camera::makeCameraBackend(Linux::makePulseAudioCaptureFactory(server),
                                        std::make_shared<Linux::PipeWire::Daemon>())});

  const auto devices = service->discoverDevices({AVCaptureDeviceType::external}, std::nullopt,
                                                AVCaptureDevicePosition::unspecified);
  const auto found = std::find_if(devices.begin(), devices.end(), [](const auto& device) {
    return device->uniqueID() == "bench-camera";
  });
  ASSERT_NE(found, devices.end());
  EXPECT_EQ((*found)->localizedName(), "Bench Camera");
  for (const auto& microphone :
       service->discoverDevices({AVCaptureDeviceType::microphone, AVCaptureDeviceType::external},
                                MediaType::audio, AVCaptureDevicePosition::unspecified)) {
    EXPECT_NE(microphone->uniqueID(), "bench-camera");
  }

  auto session = service->makeCaptureSession();
  session->addInput(service->makeDeviceInput(*found));
  auto video = service->makeVideoDataOutput();
  video->setMinFrameDuration(CMTimeMake(1, 15));
  auto frames = std::make_shared<Frames>();
  video->setSampleBufferDelegate(frames, DispatchQueue::serial("deviceQueue"));
  session->addOutput(video);
  std::mutex mutex;
  std::condition_variable told;
  std::vector<ErrorRef> failures;
  session->setRuntimeErrorHandler([&](ErrorRef error) {
    std::lock_guard lock(mutex);
    failures.push_back(std::move(error));
    told.notify_all();
  });
  session->startRunning();
  ASSERT_TRUE(session->isRunning());
  std::this_thread::sleep_for(2s);
  {
    std::lock_guard lock(frames->mutex);
    EXPECT_GE(frames->stamps.size(), 25U) << "15 a second from a camera sending 30";
    EXPECT_LE(frames->stamps.size(), 32U);
    for (std::size_t i = 1; i < frames->stamps.size(); ++i) {
      EXPECT_GE(frames->stamps[i] - frames->stamps[i - 1], 60'000'000) << "frame " << i;
    }
    for (const auto& size : frames->sizes) {
      EXPECT_EQ(size, std::make_pair(320, 240));
    }
  }

  camera.unplug();
  {
    std::unique_lock lock(mutex);
    ASSERT_TRUE(told.wait_for(lock, 10s, [&] { return !failures.empty(); }));
  }
  std::this_thread::sleep_for(200ms);
  EXPECT_FALSE(session->isRunning());
  std::lock_guard lock(mutex);
  ASSERT_EQ(failures.size(), 1U);
  const auto* system = dynamic_cast<const SystemError*>(failures.front().get());
  ASSERT_NE(system, nullptr);
  EXPECT_EQ(system->domain(), ErrorDomain::mediaCapture);
  EXPECT_EQ(system->code(), MediaCaptureCode::noSuchDevice);
  EXPECT_EQ(system->localizedDescription(), "The camera \u201CBench Camera\u201D was unplugged");
}

TEST(CameraCapture, WithoutPipeWireThereAreNoCamerasAndNoError) {
  TestSupport::TemporaryDirectory nowhere;
  const char* remote = std::getenv("PIPEWIRE_REMOTE");
  const std::optional<std::string> before =
      remote ? std::optional<std::string>(remote) : std::nullopt;
  setenv("PIPEWIRE_REMOTE", (nowhere.path() + "/pipewire-0").c_str(), 1);
  auto service = Linux::Capture::makeDeviceCaptureService(
      {Linux::Camera::makeCameraBackend(nullptr, std::make_shared<Linux::PipeWire::Daemon>())});
  const auto started = std::chrono::steady_clock::now();
  EXPECT_TRUE(service
                  ->discoverDevices({AVCaptureDeviceType::external}, std::nullopt,
                                    AVCaptureDevicePosition::unspecified)
                  .empty());
  EXPECT_LT(std::chrono::steady_clock::now() - started, 1s) << "no waiting for a daemon";
  if (before) {
    setenv("PIPEWIRE_REMOTE", before->c_str(), 1);
  } else {
    unsetenv("PIPEWIRE_REMOTE");
  }
}

// A camera recorded through the device service, a cast read beside it and
// the camera list asked for again all go over one connection, on one
// PipeWire thread: the daemon sees one client of ours.
TEST(CameraCapture, ACameraACastAndTheListShareOneConnectionToPipeWire) {
  TestSupport::VirtualDesktop desktop(
      TestSupport::VirtualDesktop::Options{.windowManager = {}, .cameras = true});
  desktop.useInThisProcess();
  TestSupport::VirtualCamera camera({"--name", "desk-camera", "--size", "320x240", "--rate", "30"},
                                    desktop.environment());
  TestSupport::VirtualCamera castProducer(
      {"--name", "desk-cast", "--size", "640x360", "--rate", "30"}, desktop.environment());
  auto pipeWire = std::make_shared<Linux::PipeWire::Daemon>();
  auto server = std::make_shared<Linux::Pulse::AudioServer>();
  auto service = Linux::Capture::makeDeviceCaptureService(
      {Linux::Camera::makeCameraBackend(Linux::makePulseAudioCaptureFactory(server), pipeWire)});

  const auto devices = service->discoverDevices({AVCaptureDeviceType::external}, std::nullopt,
                                                AVCaptureDevicePosition::unspecified);
  const auto found = std::find_if(devices.begin(), devices.end(), [](const auto& device) {
    return device->uniqueID() == "desk-camera";
  });
  ASSERT_NE(found, devices.end());
  auto session = service->makeCaptureSession();
  session->addInput(service->makeDeviceInput(*found));
  auto video = service->makeVideoDataOutput();
  auto frames = std::make_shared<Frames>();
  video->setSampleBufferDelegate(frames, DispatchQueue::serial("deviceQueue"));
  session->addOutput(video);
  session->startRunning();
  ASSERT_TRUE(session->isRunning());

  const auto graph = Linux::PipeWire::readGraph(*pipeWire, {"Video/Source"}, 2s);
  ASSERT_TRUE(graph.has_value());
  const auto cast = std::find_if(graph->nodes.begin(), graph->nodes.end(), [](const auto& node) {
    return node.property("node.name") == "desk-cast";
  });
  ASSERT_NE(cast, graph->nodes.end());
  Linux::PipeWire::PipeWireFrames castFrames(pipeWire->core(),
                                             {.id = cast->id,
                                              .name = {},
                                              .role = "Screen",
                                              .description = "the screen cast",
                                              .goneMessage = "The desktop ended the screen cast"},
                                             0);
  ASSERT_TRUE(castFrames.waitForFirstFrame(10s)) << castFrames.failure().value_or("no failure");
  Linux::PipeWire::PipeWireFrames::Frame castFrame;
  ASSERT_TRUE(castFrames.takeNewer(castFrame));
  EXPECT_EQ(castFrame.width, 640);
  std::this_thread::sleep_for(1s);
  {
    std::lock_guard lock(frames->mutex);
    EXPECT_GE(frames->stamps.size(), 10U) << "the camera records beside the cast";
  }
  EXPECT_EQ(pipeWireClientsOfThisProcess(), 1U);
  session->stopRunning();
}

} // namespace
