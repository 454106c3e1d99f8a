#include "support/Subprocess.h"
#include "support/VirtualDesktop.h"

#include "Platform/Linux/Capture/CaptureStream.h"
#include "Platform/Linux/PipeWire/PipeWireDaemon.h"
#include "Platform/Linux/PipeWire/PipeWireFrames.h"
#include "Platform/Linux/Wayland/ScreenCastPortal.h"
#include "Platform/Linux/Wayland/ScreenCastSource.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <array>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace {

using namespace std::chrono_literals;
using Platform::SampleBufferRef;
using Platform::SCFrameStatus;
using Platform::SCStreamOutputType;
using Platform::Linux::PipeWire::PipeWireFrames;
using Platform::Linux::Wayland::Cast;
using Platform::Linux::Wayland::CastSource;
using Platform::Linux::Wayland::requestScreenCast;
using Platform::Linux::Wayland::ScreenCastGrant;
using Platform::Linux::Wayland::screenCastNode;
using Platform::Linux::Wayland::ScreenCastRequest;
using TestSupport::Subprocess;
using TestSupport::VirtualDesktop;

constexpr std::uint32_t windowOrMonitor = static_cast<std::uint32_t>(CastSource::window) |
                                          static_cast<std::uint32_t>(CastSource::monitor);

class Collector : public Platform::SCStreamOutput {
public:
  void streamDidOutputSampleBuffer(Platform::SCStream&, SampleBufferRef sample,
                                   SCStreamOutputType) override {
    std::lock_guard lock(mutex_);
    samples_.push_back(std::move(sample));
    changed_.notify_all();
  }
  bool waitFor(std::size_t count, std::chrono::milliseconds timeout = 10s) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return samples_.size() >= count; });
  }
  std::vector<SampleBufferRef> samples() {
    std::lock_guard lock(mutex_);
    return samples_;
  }

private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<SampleBufferRef> samples_;
};

class StopWatcher : public Platform::SCStreamDelegate {
public:
  void streamDidStopWithError(Platform::SCStream&, Platform::ErrorRef error) override {
    stopped_.complete(error);
  }
  Platform::OneShot<Platform::ErrorRef> stopped_;
};

// A producer other than the compositor: GStreamer's test source, offering
// one colour (red 0x10, green 0x20, blue 0x30) in one pixel format only.
class TestPatternNode {
public:
  explicit TestPatternNode(const std::string& format)
      : name_("tarsel-test-pattern-" + format),
        producer_({"/usr/bin/gst-launch-1.0", "-q", "videotestsrc", "pattern=solid-color",
                   "foreground-color=0xff102030", "!",
                   "video/x-raw,format=" + format + ",width=64,height=48,framerate=30/1", "!",
                   "pipewiresink", "mode=provide", "stream-properties=props,node.name=" + name_}) {}

  // Its node, once PipeWire lists it; 0 when it never did.
  std::uint32_t node() const {
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    do {
      const auto objects =
          nlohmann::json::parse(TestSupport::run({"/usr/bin/pw-dump"}).output, nullptr, false);
      for (const auto& object : objects) {
        if (object.value("type", "") == "PipeWire:Interface:Node" &&
            object["info"]["props"].value("node.name", "") == name_) {
          return object["id"].get<std::uint32_t>();
        }
      }
      std::this_thread::sleep_for(100ms);
    } while (std::chrono::steady_clock::now() < deadline);
    return 0;
  }

private:
  std::string name_;
  Subprocess producer_;
};

// The frames' way to PipeWire: the portal's remote, or the session's daemon.
std::shared_ptr<Platform::Linux::PipeWire::Core> coreFor(int remote) {
  static Platform::Linux::PipeWire::Daemon pipeWire;
  return remote >= 0 ? pipeWire.remoteCore(remote) : pipeWire.core();
}

SCFrameStatus statusOf(const SampleBufferRef& sample) {
  return static_cast<SCFrameStatus>(std::get<std::int64_t>(
      sample->sampleAttachments()->front().at(Platform::SCStreamFrameInfoStatus)));
}

class WaylandCaptureTest : public testing::Test {
protected:
  static void SetUpTestSuite() {
    desktop_ = VirtualDesktop::waylandIfPossible(skipReason_);
    if (desktop_) {
      desktop_->useInThisProcess();
    }
  }
  static void TearDownTestSuite() { desktop_.reset(); }

  void SetUp() override {
    if (!desktop_) {
      GTEST_SKIP() << "No Wayland test desktop here: " << skipReason_;
    }
    desktop_->pickScreenCast("monitor");
  }

  // A capture stream of the cast the picker grants.
  std::shared_ptr<Platform::SCStream>
  castStream(const Platform::SCStreamConfiguration& config,
             std::weak_ptr<Platform::SCStreamDelegate> delegate = {}) {
    return std::make_shared<Platform::Linux::Capture::CaptureStream>(
        [config](std::stop_token stop) {
          return Platform::Linux::Wayland::makeScreenCastSource(
              [](std::stop_token stop, bool) {
                ScreenCastGrant grant = requestScreenCast(monitorRequest(), stop);
                return Cast{grant.lease,
                            std::make_unique<PipeWireFrames>(
                                coreFor(grant.remote), screenCastNode(grant.node), frameRate)};
              },
              config.sourceRect, stop);
        },
        nullptr, config, std::move(delegate));
  }

  static ScreenCastRequest monitorRequest(bool showsCursor = false) {
    ScreenCastRequest request;
    request.showsCursor = showsCursor;
    return request;
  }

  static constexpr CMTimeScale frameRate = 20;

  static Platform::SCStreamConfiguration configuration() {
    Platform::SCStreamConfiguration config;
    config.minimumFrameInterval = CMTimeMake(1, frameRate);
    config.showsCursor = false;
    return config;
  }

  static inline std::unique_ptr<VirtualDesktop> desktop_;
  static inline std::string skipReason_;
};

TEST_F(WaylandCaptureTest, ThePortalGrantsTheMonitorAndItsPictureArrives) {
  EXPECT_TRUE(Platform::Linux::Wayland::screenCastPortalAvailable());
  ScreenCastGrant grant = requestScreenCast(monitorRequest(true));
  EXPECT_GT(grant.node, 0U);
  EXPECT_GE(grant.remote, 0);
  EXPECT_EQ(grant.width, 1280);
  EXPECT_EQ(grant.height, 720);
  EXPECT_NE(grant.lease, nullptr);

  const CMTime before = hostTimeNow();
  PipeWireFrames frames(coreFor(grant.remote), screenCastNode(grant.node), frameRate);
  ASSERT_TRUE(frames.waitForFirstFrame(10s)) << frames.failure().value_or("no failure");
  PipeWireFrames::Frame frame;
  ASSERT_TRUE(frames.takeNewer(frame));
  EXPECT_EQ(frame.width, 1280);
  EXPECT_EQ(frame.height, 720);
  EXPECT_EQ(frame.pixels.size(), frame.bytesPerRow * 720);
  EXPECT_GE(frame.producedAtNanoseconds, before.value - 1'000'000'000) << "on the host clock";
  EXPECT_LE(frame.producedAtNanoseconds, hostTimeNow().value);
  EXPECT_FALSE(frames.takeNewer(frame)) << "the same frame is not new twice";
  EXPECT_FALSE(frames.failure());

  // The desktop ends the cast when the session closes: the frames say so.
  grant.lease.reset();
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (!frames.failure() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(20ms);
  }
  EXPECT_TRUE(frames.failure().has_value());
}

TEST_F(WaylandCaptureTest, TheCastSendsNoMoreFramesThanTheRecordingKeeps) {
  Subprocess client({"/usr/bin/weston-simple-shm"}); // changes the picture at every refresh
  ScreenCastGrant grant = requestScreenCast(monitorRequest());
  PipeWireFrames frames(coreFor(grant.remote), screenCastNode(grant.node), 5);
  ASSERT_TRUE(frames.waitForFirstFrame(10s)) << frames.failure().value_or("no failure");
  PipeWireFrames::Frame frame;
  ASSERT_TRUE(frames.takeNewer(frame));
  const std::uint64_t first = frame.sequence;
  std::this_thread::sleep_for(2s);
  ASSERT_TRUE(frames.takeNewer(frame));
  client.signal(SIGTERM);
  // Unlimited, the desktop sends this client's every picture: some 60.
  EXPECT_LE(frame.sequence - first, 12U) << "5 a second, and a frame's slack at either end";
  EXPECT_GE(frame.sequence - first, 2U) << "the picture changed all along";
}

TEST_F(WaylandCaptureTest, AnotherProducersRGBOrderOrYUVLayoutArrivesAsBlueGreenRed) {
  for (const char* format : {"RGBx", "YUY2", "NV12", "I420"}) {
    TestPatternNode producer(format);
    const std::uint32_t node = producer.node();
    ASSERT_NE(node, 0U) << format << ": the test pattern's node never appeared";
    PipeWireFrames frames(coreFor(-1), screenCastNode(node), frameRate);
    ASSERT_TRUE(frames.waitForFirstFrame(10s))
        << format << ": " << frames.failure().value_or("no failure");
    PipeWireFrames::Frame frame;
    ASSERT_TRUE(frames.takeNewer(frame));
    ASSERT_EQ(frame.width, 64) << format;
    ASSERT_EQ(frame.height, 48) << format;
    // RGB exactly; YUV give or take its rounding.
    const int tolerance = std::string(format) == "RGBx" ? 0 : 6;
    for (const std::size_t pixel : {0UL, 64UL * 24 + 32, 64UL * 48 - 1}) {
      const std::uint8_t* bytes = frame.pixels.data() + pixel * 4;
      const std::array<int, 3> expected{0x30, 0x20, 0x10};
      for (std::size_t channel = 0; channel < 3; ++channel) {
        EXPECT_NEAR(bytes[channel], expected[channel], tolerance)
            << format << ", pixel " << pixel << ", channel " << channel;
      }
    }
  }
}

TEST_F(WaylandCaptureTest, AProducerOfNothingWeTakeFailsAtOnceSayingWhatItOffers) {
  TestPatternNode producer("GRAY8");
  const std::uint32_t node = producer.node();
  ASSERT_NE(node, 0U) << "the test pattern's node never appeared";
  const auto start = std::chrono::steady_clock::now();
  PipeWireFrames frames(coreFor(-1), screenCastNode(node), frameRate);
  EXPECT_FALSE(frames.waitForFirstFrame(10s));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s) << "not after the first frame's timeout";
  EXPECT_EQ(frames.failure(), "The screen cast offers only GRAY8, which cannot be recorded");
}

TEST_F(WaylandCaptureTest, ACancelledPickerIsTheUsersRefusal) {
  desktop_->pickScreenCast("cancel");
  try {
    ScreenCastRequest request;
    request.sources = windowOrMonitor;
    requestScreenCast(request);
    FAIL() << "a cancelled picker granted a cast";
  } catch (const Platform::SystemError& error) {
    EXPECT_EQ(error.code(), Platform::userDeclinedScreenCaptureCode);
    EXPECT_NE(std::string(error.what()).find("cancelled"), std::string::npos) << error.what();
  }
}

TEST_F(WaylandCaptureTest, WithoutASessionBusThereIsNoPortal) {
  const std::string bus = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus", 1);
  EXPECT_FALSE(Platform::Linux::Wayland::screenCastPortalAvailable());
  EXPECT_THROW(requestScreenCast({}), Platform::Error);
  setenv("DBUS_SESSION_BUS_ADDRESS", bus.c_str(), 1);
}

TEST_F(WaylandCaptureTest,
       AStreamDeliversHostClockFramesOfAMovingClientAndIdleOnesOfAStillDesktop) {
  Subprocess client({"/usr/bin/weston-simple-shm"});
  auto collector = std::make_shared<Collector>();
  auto stream = castStream(configuration());
  stream->addStreamOutput(collector, SCStreamOutputType::screen, Platform::DispatchQueue::global());
  const CMTime before = hostTimeNow();
  stream->startCapture();
  ASSERT_TRUE(collector->waitFor(20));
  stream->stopCapture();
  const CMTime after = hostTimeNow();
  client.signal(SIGTERM);

  const auto samples = collector->samples();
  std::size_t complete = 0;
  CMTime previous = before;
  for (const auto& sample : samples) {
    const CMTime time = sample->presentationTimeStamp();
    EXPECT_GT(CMTimeCompare(time, previous), 0) << "frames in order, on the host clock";
    EXPECT_LE(CMTimeCompare(time, after), 0);
    previous = time;
    const auto& pixels = *sample->imageBuffer();
    EXPECT_EQ(pixels.width, 1280);
    EXPECT_EQ(pixels.height, 720);
    complete += statusOf(sample) == SCFrameStatus::complete ? 1 : 0;
  }
  EXPECT_GT(complete, 5U) << "an animated client changes the picture every frame";

  // Nothing moves without the client: frames repeat, marked idle.
  std::this_thread::sleep_for(300ms);
  auto still = std::make_shared<Collector>();
  auto stillStream = castStream(configuration());
  stillStream->addStreamOutput(still, SCStreamOutputType::screen,
                               Platform::DispatchQueue::global());
  stillStream->startCapture();
  ASSERT_TRUE(still->waitFor(10));
  stillStream->stopCapture();
  std::size_t idle = 0;
  for (const auto& sample : still->samples()) {
    idle += statusOf(sample) == SCFrameStatus::idle ? 1 : 0;
  }
  EXPECT_GE(idle, still->samples().size() - 2);
}

TEST_F(WaylandCaptureTest, ADisplayCastIsCutToTheSourceRectangle) {
  auto config = configuration();
  config.sourceRect = Platform::CGRect{100, 50, 320, 240};
  auto collector = std::make_shared<Collector>();
  auto stream = castStream(config);
  stream->addStreamOutput(collector, SCStreamOutputType::screen, Platform::DispatchQueue::global());
  stream->startCapture();
  ASSERT_TRUE(collector->waitFor(2));
  stream->stopCapture();
  EXPECT_EQ(collector->samples().front()->imageBuffer()->width, 320);
  EXPECT_EQ(collector->samples().front()->imageBuffer()->height, 240);

  config.sourceRect = Platform::CGRect{2000, 2000, 10, 10};
  EXPECT_THROW(castStream(config)->startCapture(), Platform::Error)
      << "a rectangle beside the display";
}

TEST_F(WaylandCaptureTest, AStreamWhoseCastEndsTellsItsDelegate) {
  // The compositor's cast ends when its session does: closing the portal's
  // session from outside stands for the desktop ending it.
  auto watcher = std::make_shared<StopWatcher>();
  std::shared_ptr<void> lease;
  auto stream = std::make_shared<Platform::Linux::Capture::CaptureStream>(
      [&lease](std::stop_token stop) {
        return Platform::Linux::Wayland::makeScreenCastSource(
            [&lease](std::stop_token stop, bool) {
              ScreenCastGrant grant = requestScreenCast(monitorRequest(), stop);
              lease = grant.lease;
              return Cast{nullptr,
                          std::make_unique<PipeWireFrames>(coreFor(grant.remote),
                                                           screenCastNode(grant.node), frameRate)};
            },
            std::nullopt, stop);
      },
      nullptr, configuration(), watcher);
  auto collector = std::make_shared<Collector>();
  stream->addStreamOutput(collector, SCStreamOutputType::screen, Platform::DispatchQueue::global());
  stream->startCapture();
  ASSERT_TRUE(collector->waitFor(2));
  lease.reset();
  const auto error = watcher->stopped_.waitFor(10s);
  ASSERT_TRUE(error.has_value()) << "the delegate was not told";
  ASSERT_NE(*error, nullptr);
}

} // namespace
