#include "support/DemoWindow.h"
#include "support/VirtualDesktop.h"
#include "support/WindowActions.h"

#include "Platform/Linux/X11/X11ScreenCapture.h"
#include "Platform/Log.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <xcb/xcb.h>
#include <xcb/xcb_icccm.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>

namespace {

using namespace std::chrono_literals;
using Platform::SampleBufferRef;
using Platform::SCStreamOutputType;
using TestSupport::DemoWindow;
using TestSupport::minimizeWindow;
using TestSupport::resizeWindow;
using TestSupport::restoreWindow;
using TestSupport::syncAndClose;
using TestSupport::VirtualDesktop;
using TestSupport::waitUntilViewable;

// Collects what a stream delivers, and checks it arrives one at a time.
class Collector : public Platform::SCStreamOutput {
public:
  void streamDidOutputSampleBuffer(Platform::SCStream&, SampleBufferRef sample,
                                   SCStreamOutputType type) override {
    std::unique_lock lock(mutex_);
    if (delivering_) {
      overlapped_ = true;
    }
    delivering_ = true;
    lock.unlock();
    std::this_thread::sleep_for(1ms); // widens the window for overlap
    lock.lock();
    delivering_ = false;
    samples_.push_back({sample, type});
    changed_.notify_all();
  }

  // Waits until `count` samples have arrived; false on time-out.
  bool waitFor(std::size_t count, std::chrono::milliseconds timeout = 10s) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return samples_.size() >= count; });
  }

  std::vector<SampleBufferRef> samples() {
    std::lock_guard lock(mutex_);
    std::vector<SampleBufferRef> result;
    for (const auto& entry : samples_) {
      result.push_back(entry.first);
    }
    return result;
  }

  std::size_t count() {
    std::lock_guard lock(mutex_);
    return samples_.size();
  }

  bool overlapped() {
    std::lock_guard lock(mutex_);
    return overlapped_;
  }

private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::pair<SampleBufferRef, SCStreamOutputType>> samples_;
  bool delivering_ = false;
  bool overlapped_ = false;
};

class StopWatcher : public Platform::SCStreamDelegate {
public:
  void streamDidStopWithError(Platform::SCStream&, Platform::ErrorRef error) override {
    calls_.fetch_add(1);
    stopped_.complete(error);
  }
  Platform::OneShot<Platform::ErrorRef> stopped_;
  std::atomic<int> calls_{0};
};

Platform::SCFrameStatus statusOf(const SampleBufferRef& sample) {
  const auto& attachments = sample->sampleAttachments();
  EXPECT_TRUE(attachments.has_value());
  EXPECT_EQ(attachments->size(), 1U);
  return static_cast<Platform::SCFrameStatus>(
      std::get<std::int64_t>(attachments->front().at(Platform::SCStreamFrameInfoStatus)));
}

std::uint32_t pixelAt(const Platform::PixelBuffer& buffer, int x, int y) {
  std::uint32_t value = 0;
  std::memcpy(&value, buffer.bytes.data() + y * buffer.bytesPerRow + x * 4, 4);
  return value;
}

// Polls the window list until the window shows up (windows map asynchronously).
std::optional<Platform::SCWindow> findWindow(Platform::ScreenCaptureService& service,
                                             std::uint32_t id) {
  for (int attempt = 0; attempt < 50; ++attempt) {
    for (const auto& window : service.shareableContent(false, false).windows) {
      if (window.windowID == id) {
        return window;
      }
    }
    std::this_thread::sleep_for(20ms);
  }
  return std::nullopt;
}

class X11CaptureTest : public testing::Test {
protected:
  static void SetUpTestSuite() {
    display_ = std::make_unique<VirtualDesktop>();
    display_->useInThisProcess();
  }
  static void TearDownTestSuite() { display_.reset(); }

  Platform::SCStreamConfiguration configuration(std::int64_t width, std::int64_t height) {
    Platform::SCStreamConfiguration config;
    config.minimumFrameInterval = CMTimeMake(1, 30);
    config.width = width;
    config.height = height;
    config.showsCursor = false;
    return config;
  }

  std::shared_ptr<Platform::SCStream> windowStream(std::uint32_t id,
                                                   const Platform::SCStreamConfiguration& config) {
    const auto window = findWindow(*service_, id);
    EXPECT_TRUE(window.has_value());
    auto stream = service_->makeStream(Platform::SCContentFilter(*window), config, watcher_);
    stream->addStreamOutput(collector_, SCStreamOutputType::screen,
                            Platform::DispatchQueue::global());
    return stream;
  }

  static std::unique_ptr<VirtualDesktop> display_;
  std::shared_ptr<Platform::ScreenCaptureService> service_ =
      Platform::Linux::makeX11ScreenCaptureService(nullptr);
  std::shared_ptr<Collector> collector_ = std::make_shared<Collector>();
  std::shared_ptr<StopWatcher> watcher_ = std::make_shared<StopWatcher>();
};

std::unique_ptr<VirtualDesktop> X11CaptureTest::display_;

TEST_F(X11CaptureTest, ListsDisplaysAndWindowsWithTitlesFramesAndApplications) {
  DemoWindow titled({"--title", "Caf\xC3\xA9 \xE2\x9C\x93", "--class", "recorder-demo",
                     "--position", "40,50", "--size", "320x200", "--still"});
  DemoWindow untitled({"--no-title", "--position", "400,300", "--size", "100x80", "--still"});

  const auto window = findWindow(*service_, titled.id());
  ASSERT_TRUE(window.has_value());
  EXPECT_EQ(window->title, "Caf\xC3\xA9 \xE2\x9C\x93");
  EXPECT_EQ(window->frame, (Platform::CGRect{40, 50, 320, 200}));
  EXPECT_TRUE(window->isOnScreen);
  EXPECT_EQ(window->windowLayer, 0);
  ASSERT_TRUE(window->owningApplication.has_value());
  EXPECT_EQ(window->owningApplication->applicationName, "recorder-demo");
  EXPECT_EQ(window->owningApplication->bundleIdentifier, "recorder-demo");
  EXPECT_GT(window->owningApplication->processID, 0);

  const auto nameless = findWindow(*service_, untitled.id());
  ASSERT_TRUE(nameless.has_value());
  EXPECT_FALSE(nameless->title.has_value());
  EXPECT_EQ(nameless->frame, (Platform::CGRect{400, 300, 100, 80}));

  const auto content = service_->shareableContent(true, true);
  ASSERT_EQ(content.displays.size(), 1U);
  const Platform::SCDisplay& screen = content.displays.front();
  EXPECT_EQ(screen.width, 1280);
  EXPECT_EQ(screen.height, 720);
  EXPECT_EQ(screen.frame, (Platform::CGRect{0, 0, 1280, 720}));
  EXPECT_EQ(service_->mainDisplayID(), screen.displayID);
  const auto mode = service_->displayMode(screen.displayID);
  ASSERT_TRUE(mode.has_value());
  EXPECT_EQ(mode->pixelWidth, 1280);
  EXPECT_EQ(mode->width, 1280);
  EXPECT_FALSE(service_->displayMode(screen.displayID + 1000).has_value());
  const auto screens = service_->screens();
  ASSERT_EQ(screens.size(), 1U);
  EXPECT_EQ(screens.front().screenNumber, static_cast<std::int64_t>(screen.displayID));
  EXPECT_FALSE(screens.front().localizedName.empty());
}

TEST_F(X11CaptureTest, WindowCaptureDeliversScaledCompleteFramesInOrderUntilStopped) {
  DemoWindow moving({"--size", "320x200"});
  auto stream = windowStream(moving.id(), configuration(160, 120));

  stream->startCapture();
  ASSERT_TRUE(collector_->waitFor(15));
  stream->stopCapture();
  const std::size_t afterStop = collector_->count();
  std::this_thread::sleep_for(200ms);

  EXPECT_EQ(collector_->count(), afterStop) << "a sample arrived after stopCapture returned";
  EXPECT_FALSE(collector_->overlapped());
  const auto samples = collector_->samples();
  int complete = 0;
  for (std::size_t i = 0; i < samples.size(); ++i) {
    const auto& pixels = samples[i]->imageBuffer();
    ASSERT_TRUE(pixels);
    EXPECT_EQ(pixels->pixelFormat, Platform::kCVPixelFormatType_32BGRA);
    EXPECT_EQ(pixels->width, 160);
    EXPECT_EQ(pixels->height, 120);
    EXPECT_EQ(pixels->bytesPerRow, 640U);
    EXPECT_EQ(samples[i]->duration(), kCMTimeZero);
    complete += statusOf(samples[i]) == Platform::SCFrameStatus::complete ? 1 : 0;
    if (i > 0) {
      EXPECT_LT(CMTimeCompare(samples[i - 1]->presentationTimeStamp(),
                              samples[i]->presentationTimeStamp()),
                0);
    }
  }
  // The bar moves every 33 ms: nearly every frame at 30 fps shows a change.
  EXPECT_GE(complete, static_cast<int>(samples.size()) * 2 / 3);
  // 320x200 fitted into 160x120 leaves black bars of 10 rows above and below.
  EXPECT_EQ(pixelAt(*samples.back()->imageBuffer(), 80, 2), 0xFF000000U);
  EXPECT_THROW(stream->stopCapture(), Platform::Error);
}

// Frames at the window's own size are the memory the server drew into, lent
// out with the frame: a frame still held must never be drawn over by a later
// grab, however many are held.
TEST_F(X11CaptureTest, HeldFramesKeepTheirPixelsWhileLaterOnesAreCaptured) {
  DemoWindow moving({"--size", "320x200"});
  auto stream = windowStream(moving.id(), configuration(0, 0));

  stream->startCapture();
  ASSERT_TRUE(collector_->waitFor(30)); // the collector holds every frame
  stream->stopCapture();

  std::set<std::string> contents;
  int complete = 0;
  for (const auto& sample : collector_->samples()) {
    if (statusOf(sample) != Platform::SCFrameStatus::complete) {
      continue;
    }
    const auto& pixels = *sample->imageBuffer();
    ASSERT_EQ(pixels.bytes.size(), 320U * 200 * 4);
    EXPECT_EQ(pixelAt(pixels, 0, 0) >> 24, 0xFFU) << "every pixel opaque";
    contents.emplace(reinterpret_cast<const char*>(pixels.bytes.data()), pixels.bytes.size());
    ++complete;
  }
  ASSERT_GE(complete, 20);
  // The bar moves between frames, so held frames show it in different places
  // (a few may catch the same one); drawn over, they would all show the last.
  EXPECT_GE(static_cast<int>(contents.size()), complete * 3 / 4);
}

TEST_F(X11CaptureTest, StillWindowYieldsIdleFramesReusingThePixels) {
  DemoWindow still({"--size", "200x100", "--still"});
  auto stream = windowStream(still.id(), configuration(0, 0));

  stream->startCapture();
  std::this_thread::sleep_for(300ms); // let the first paint settle
  const std::size_t settled = collector_->count();
  ASSERT_TRUE(collector_->waitFor(settled + 8));
  stream->stopCapture();

  const auto samples = collector_->samples();
  ASSERT_FALSE(samples.empty());
  EXPECT_EQ(statusOf(samples.front()), Platform::SCFrameStatus::complete);
  EXPECT_EQ(samples.front()->imageBuffer()->width, 200);
  int idle = 0;
  for (std::size_t i = settled + 1; i < samples.size(); ++i) {
    if (statusOf(samples[i]) == Platform::SCFrameStatus::idle) {
      ++idle;
      EXPECT_EQ(samples[i]->imageBuffer(), samples[i - 1]->imageBuffer());
    }
  }
  EXPECT_GE(idle, 6);
}

TEST_F(X11CaptureTest, CoveredWindowIsCapturedWithItsOwnPixels) {
  DemoWindow red({"--solid", "FF0000", "--position", "0,0", "--size", "200x200"});
  DemoWindow green({"--solid", "00FF00", "--position", "0,0", "--size", "200x200"});
  auto stream = windowStream(red.id(), configuration(0, 0));

  stream->startCapture();
  std::this_thread::sleep_for(300ms);
  const std::size_t settled = collector_->count();
  ASSERT_TRUE(collector_->waitFor(settled + 1));
  stream->stopCapture();

  const auto frame = collector_->samples().back()->imageBuffer();
  EXPECT_EQ(pixelAt(*frame, 100, 100), 0xFFFF0000U); // B, G, R, A bytes of opaque red

  // The screen itself shows the green window on top.
  auto collector = std::make_shared<Collector>();
  auto config = configuration(0, 0);
  config.sourceRect = Platform::CGRect{50, 60, 100, 40};
  const auto content = service_->shareableContent(false, false);
  auto screenStream = service_->makeStream(Platform::SCContentFilter(content.displays.front(), {}),
                                           config, watcher_);
  screenStream->addStreamOutput(collector, SCStreamOutputType::screen,
                                Platform::DispatchQueue::global());
  screenStream->startCapture();
  ASSERT_TRUE(collector->waitFor(2));
  screenStream->stopCapture();
  const auto screenFrame = collector->samples().back()->imageBuffer();
  EXPECT_EQ(screenFrame->width, 100);
  EXPECT_EQ(screenFrame->height, 40);
  EXPECT_EQ(pixelAt(*screenFrame, 50, 20), 0xFF00FF00U);
}

TEST_F(X11CaptureTest, TenBitFramesCarryTheColourInPackedARGB) {
  DemoWindow red({"--solid", "FF0000", "--size", "64x48"});
  auto config = configuration(0, 0);
  config.pixelFormat = Platform::kCVPixelFormatType_ARGB2101010LEPacked;
  auto stream = windowStream(red.id(), config);

  stream->startCapture();
  std::this_thread::sleep_for(300ms);
  const std::size_t settled = collector_->count();
  ASSERT_TRUE(collector_->waitFor(settled + 1));
  stream->stopCapture();

  const auto frame = collector_->samples().back()->imageBuffer();
  EXPECT_EQ(frame->pixelFormat, Platform::kCVPixelFormatType_ARGB2101010LEPacked);
  // Alpha 3 in the top two bits, red 1023, green and blue 0.
  EXPECT_EQ(pixelAt(*frame, 32, 24), 0xFFF00000U);
}

TEST_F(X11CaptureTest, DisplayFramesAreCompleteOnlyWhileTheScreenChanges) {
  DemoWindow still({"--solid", "3060C0", "--position", "0,0", "--size", "300x200"});
  findWindow(*service_, still.id());
  std::this_thread::sleep_for(200ms);
  auto config = configuration(0, 0);
  config.sourceRect = Platform::CGRect{0, 0, 640, 360};
  const auto content = service_->shareableContent(false, false);
  auto stream = service_->makeStream(Platform::SCContentFilter(content.displays.front(), {}),
                                     config, watcher_);
  stream->addStreamOutput(collector_, SCStreamOutputType::screen,
                          Platform::DispatchQueue::global());
  stream->startCapture();
  ASSERT_TRUE(collector_->waitFor(10));
  const std::size_t quietEnd = collector_->count();

  DemoWindow moving({"--position", "320,0", "--size", "200x100"});
  ASSERT_TRUE(collector_->waitFor(quietEnd + 20));
  stream->stopCapture();

  const auto samples = collector_->samples();
  const auto countStatus = [&](std::size_t from, std::size_t to, Platform::SCFrameStatus status) {
    return std::count_if(samples.begin() + static_cast<std::ptrdiff_t>(from),
                         samples.begin() + static_cast<std::ptrdiff_t>(to),
                         [&](const auto& sample) { return statusOf(sample) == status; });
  };
  EXPECT_GE(countStatus(1, quietEnd, Platform::SCFrameStatus::idle), 7);
  EXPECT_GE(countStatus(quietEnd, samples.size(), Platform::SCFrameStatus::complete), 10);
  EXPECT_EQ(samples.back()->imageBuffer()->width, 640);
  EXPECT_EQ(pixelAt(*samples.back()->imageBuffer(), 100, 100), 0xFF3060C0U);
}

TEST_F(X11CaptureTest, ResizedWindowKeepsRecordingAtTheConfiguredSize) {
  DemoWindow moving({"--size", "320x200"});
  auto stream = windowStream(moving.id(), configuration(320, 200));
  stream->startCapture();
  ASSERT_TRUE(collector_->waitFor(3));

  resizeWindow(moving.id(), 100, 300);
  const std::size_t resizedAt = collector_->count();
  ASSERT_TRUE(collector_->waitFor(resizedAt + 10));
  stream->stopCapture();

  EXPECT_FALSE(watcher_->stopped_.isCompleted());
  const auto frame = collector_->samples().back()->imageBuffer();
  EXPECT_EQ(frame->width, 320);
  EXPECT_EQ(frame->height, 200);
  // 100x300 fitted into 320x200 is 67x200 in the middle: black at the sides.
  EXPECT_EQ(pixelAt(*frame, 5, 100), 0xFF000000U);
  EXPECT_EQ(pixelAt(*frame, 314, 100), 0xFF000000U);
  EXPECT_NE(pixelAt(*frame, 160, 100), 0xFF000000U);
}

TEST_F(X11CaptureTest, ClosedWindowStopsTheStreamOnceWithAnError) {
  DemoWindow closing({"--size", "160x100"});
  auto stream = windowStream(closing.id(), configuration(0, 0));
  stream->startCapture();
  ASSERT_TRUE(collector_->waitFor(2));

  const auto closedAt = std::chrono::steady_clock::now();
  closing.close();
  const Platform::ErrorRef error = watcher_->stopped_.wait();
  EXPECT_LT(std::chrono::steady_clock::now() - closedAt, 1s);

  ASSERT_TRUE(error);
  const auto* systemError = dynamic_cast<const Platform::SystemError*>(error.get());
  ASSERT_NE(systemError, nullptr);
  EXPECT_EQ(systemError->domain(), Platform::ErrorDomain::screenCapture);
  EXPECT_THAT(error->localizedDescription(), testing::HasSubstr("closed"));
  const std::size_t atStop = collector_->count();
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(collector_->count(), atStop);
  EXPECT_EQ(watcher_->calls_.load(), 1);
  EXPECT_THROW(stream->stopCapture(), Platform::Error);
}

// An output whose handler fails on the first frame.
class FailingOutput : public Platform::SCStreamOutput {
public:
  void streamDidOutputSampleBuffer(Platform::SCStream&, SampleBufferRef,
                                   SCStreamOutputType) override {
    calls.fetch_add(1);
    throw std::runtime_error("no room for the frame");
  }
  std::atomic<int> calls{0};
};

TEST_F(X11CaptureTest, FailingOutputEndsTheStreamWithAnErrorNotTheProcess) {
  DemoWindow moving({"--size", "160x100"});
  const auto window = findWindow(*service_, moving.id());
  ASSERT_TRUE(window.has_value());
  auto failing = std::make_shared<FailingOutput>();
  auto stream =
      service_->makeStream(Platform::SCContentFilter(*window), configuration(0, 0), watcher_);
  stream->addStreamOutput(failing, SCStreamOutputType::screen, Platform::DispatchQueue::global());
  stream->startCapture();

  const Platform::ErrorRef error = watcher_->stopped_.wait();
  ASSERT_TRUE(error);
  EXPECT_THAT(error->localizedDescription(), testing::HasSubstr("no room for the frame"));
  EXPECT_EQ(watcher_->calls_.load(), 1);
  EXPECT_THROW(stream->stopCapture(), Platform::Error);
}

TEST_F(X11CaptureTest, StartingOnAWindowThatNoLongerExistsThrows) {
  std::optional<Platform::SCWindow> window;
  {
    DemoWindow brief({"--size", "50x50"});
    window = findWindow(*service_, brief.id());
    ASSERT_TRUE(window.has_value());
  }
  auto stream =
      service_->makeStream(Platform::SCContentFilter(*window), configuration(0, 0), watcher_);
  stream->addStreamOutput(collector_, SCStreamOutputType::screen,
                          Platform::DispatchQueue::global());

  EXPECT_THROW(stream->startCapture(), Platform::Error);
  EXPECT_THROW(stream->stopCapture(), Platform::Error);
}

// Which pixels around (100, 100) are not the red of the window: the cursor.
std::vector<bool> cursorAroundPointer(const Platform::PixelBuffer& frame) {
  std::vector<bool> covered;
  for (int y = 80; y < 120; ++y) {
    for (int x = 80; x < 120; ++x) {
      covered.push_back(pixelAt(frame, x, y) != 0xFFFF0000U);
    }
  }
  return covered;
}

TEST_F(X11CaptureTest, CursorIsDrawnOnlyWhenAskedAndTakesEachNewShape) {
  DemoWindow red({"--solid", "FF0000", "--position", "0,0", "--size", "200x200"});
  xcb_connection_t* c = xcb_connect(nullptr, nullptr);
  xcb_warp_pointer(c, XCB_NONE, red.id(), 0, 0, 0, 0, 100, 100);
  xcb_flush(c);

  const auto capture = [&](bool showsCursor, const std::function<void()>& meanwhile) {
    auto collector = std::make_shared<Collector>();
    auto config = configuration(0, 0);
    config.showsCursor = showsCursor;
    auto stream = service_->makeStream(Platform::SCContentFilter(*findWindow(*service_, red.id())),
                                       config, watcher_);
    stream->addStreamOutput(collector, SCStreamOutputType::screen,
                            Platform::DispatchQueue::global());
    stream->startCapture();
    std::vector<std::vector<bool>> cursors;
    for (const auto& step : {std::function<void()>([] {}), meanwhile}) {
      step();
      std::this_thread::sleep_for(300ms);
      EXPECT_TRUE(collector->waitFor(collector->count() + 1));
      cursors.push_back(cursorAroundPointer(*collector->samples().back()->imageBuffer()));
    }
    stream->stopCapture();
    return cursors;
  };
  const auto covers = [](const std::vector<bool>& cursor) {
    return std::count(cursor.begin(), cursor.end(), true);
  };

  EXPECT_EQ(covers(capture(false, [] {}).back()), 0);

  // The window takes a crosshair while it is captured: the next frames
  // draw the crosshair where the server's default cursor was.
  const xcb_font_t font = xcb_generate_id(c);
  xcb_open_font(c, font, 6, "cursor");
  const xcb_cursor_t crosshair = xcb_generate_id(c);
  constexpr std::uint16_t crosshairGlyph = 34;
  xcb_create_glyph_cursor(c, crosshair, font, font, crosshairGlyph, crosshairGlyph + 1, 0, 0, 0,
                          0xFFFF, 0xFFFF, 0xFFFF);
  const auto cursors = capture(true, [&] {
    xcb_change_window_attributes(c, red.id(), XCB_CW_CURSOR, &crosshair);
    xcb_flush(c);
  });
  EXPECT_GT(covers(cursors.front()), 0);
  EXPECT_GT(covers(cursors.back()), 0);
  EXPECT_NE(cursors.front(), cursors.back()) << "the new shape is drawn";
  syncAndClose(c);
}

// Delivers a few silent buffers of 10 ms from a thread of its own, and a last
// one of 20 ms, which it held, as it stops.
class FakeSystemAudio : public Platform::Linux::AudioCapture {
public:
  ~FakeSystemAudio() override { stop(); }

  void start(std::function<void(SampleBufferRef)> deliver) override {
    deliver_ = std::move(deliver);
    thread_ = std::thread([this] {
      for (int i = 0; i < 5 && !stopping_; ++i) {
        deliver_(silence(480));
        std::this_thread::sleep_for(10ms);
      }
    });
  }

  void stop() override {
    stopping_ = true;
    if (thread_.joinable()) {
      thread_.join();
      deliver_(silence(960));
    }
  }

private:
  static SampleBufferRef silence(std::size_t frames) {
    Platform::CMSampleBuffer::Contents contents;
    contents.formatDescription =
        Platform::FormatDescription::audioPCM(Platform::AudioStreamDescription{});
    contents.timing = {
        {CMTimeMake(static_cast<CMTimeValue>(frames), 48000), hostTimeNow(), kCMTimeInvalid}};
    auto audio = std::make_shared<Platform::AudioBuffer>();
    audio->frameCount = frames;
    audio->bytes.resize(frames * 8);
    contents.audioBuffer = audio;
    return Platform::CMSampleBuffer::make(std::move(contents));
  }

  std::function<void(SampleBufferRef)> deliver_;
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

// Says which sound each stream asked for: "everything", or the
// application's identifier and process.
class FakeAudioFactory : public Platform::Linux::AudioCaptureFactory {
public:
  std::unique_ptr<Platform::Linux::AudioCapture> makeSystemAudioCapture() override {
    asked.push_back("everything");
    return std::make_unique<FakeSystemAudio>();
  }
  std::unique_ptr<Platform::Linux::AudioCapture> makeSourceCapture(const std::string&) override {
    return nullptr;
  }
  std::unique_ptr<Platform::Linux::AudioCapture>
  makeApplicationAudioCapture(const Platform::SCRunningApplication& application) override {
    asked.push_back(application.bundleIdentifier + " " + std::to_string(application.processID));
    return std::make_unique<FakeSystemAudio>();
  }
  std::vector<std::string> asked;
};

TEST_F(X11CaptureTest, SystemAudioArrivesOnItsOutput) {
  DemoWindow window({"--size", "64x64", "--still"});
  auto service = Platform::Linux::makeX11ScreenCaptureService(std::make_shared<FakeAudioFactory>());
  auto audio = std::make_shared<Collector>();
  auto stream = service->makeStream(Platform::SCContentFilter(*findWindow(*service, window.id())),
                                    configuration(0, 0), watcher_);
  stream->addStreamOutput(collector_, SCStreamOutputType::screen,
                          Platform::DispatchQueue::global());
  stream->addStreamOutput(audio, SCStreamOutputType::audio, Platform::DispatchQueue::global());
  EXPECT_THROW(stream->addStreamOutput(audio, SCStreamOutputType::microphone,
                                       Platform::DispatchQueue::global()),
               Platform::Error);

  stream->startCapture();
  ASSERT_TRUE(audio->waitFor(5));
  stream->stopCapture();
  EXPECT_FALSE(watcher_->stopped_.isCompleted());
  // The sound the capture still held when the stream stopped has arrived by
  // the time the stop returns: a recording keeps its last moments.
  const auto samples = audio->samples();
  ASSERT_EQ(samples.size(), 6U);
  EXPECT_EQ(samples.back()->audioBuffer()->frameCount, 960U);
}

TEST_F(X11CaptureTest, ApplicationAudioIsTheWindowsApplicationsAndADisplaysIsEverything) {
  DemoWindow window({"--size", "64x64", "--still", "--class", "meeting"});
  const auto audioFactory = std::make_shared<FakeAudioFactory>();
  auto service = Platform::Linux::makeX11ScreenCaptureService(audioFactory);
  auto applicationOnly = configuration(0, 0);
  applicationOnly.capturesAudio = true;
  applicationOnly.capturesApplicationAudioOnly = true;
  const auto shown = findWindow(*service, window.id());
  ASSERT_TRUE(shown && shown->owningApplication);
  std::atomic<int> warnings{0};
  Platform::setLogSink([&warnings](Platform::LogLevel level, std::string_view message) {
    if (level == Platform::LogLevel::warning &&
        message.find("names no application") != std::string_view::npos) {
      ++warnings;
    }
  });
  const auto record = [&](const Platform::SCContentFilter& filter,
                          const Platform::SCStreamConfiguration& config) {
    auto audio = std::make_shared<Collector>();
    auto stream = service->makeStream(filter, config, watcher_);
    stream->addStreamOutput(audio, SCStreamOutputType::audio, Platform::DispatchQueue::global());
    stream->startCapture();
    EXPECT_TRUE(audio->waitFor(1));
    stream->stopCapture();
  };
  record(Platform::SCContentFilter(*shown), applicationOnly);
  EXPECT_EQ(warnings, 0);
  const auto content = service->shareableContent(false, false);
  record(Platform::SCContentFilter(content.displays.front(), {}), applicationOnly);
  EXPECT_EQ(warnings, 1) << "a display names no application, which is said once";
  auto everything = applicationOnly;
  everything.capturesApplicationAudioOnly = false;
  record(Platform::SCContentFilter(*shown), everything);
  Platform::setLogSink(nullptr);

  EXPECT_EQ(
      audioFactory->asked,
      (std::vector<std::string>{"meeting " + std::to_string(shown->owningApplication->processID),
                                "everything", "everything"}));
  EXPECT_GT(shown->owningApplication->processID, 0) << "the window's _NET_WM_PID";
}

TEST_F(X11CaptureTest, AudioWithoutAnAudioSourceFailsToStart) {
  DemoWindow window({"--size", "64x64", "--still"});
  auto stream = windowStream(window.id(), configuration(0, 0));
  stream->addStreamOutput(collector_, SCStreamOutputType::audio, Platform::DispatchQueue::global());
  EXPECT_THROW(stream->startCapture(), Platform::Error);
}

// $DISPLAY set to `value` (unset when absent) for one scope.
class DisplayVariable {
public:
  explicit DisplayVariable(const char* value) : saved_(std::getenv("DISPLAY")) {
    value ? setenv("DISPLAY", value, 1) : unsetenv("DISPLAY");
  }
  ~DisplayVariable() { setenv("DISPLAY", saved_.c_str(), 1); }

private:
  std::string saved_;
};

std::string shareableContentError() {
  try {
    Platform::Linux::makeX11ScreenCaptureService(nullptr)->shareableContent(true, true);
  } catch (const Platform::Error& error) {
    return error.localizedDescription();
  }
  return "no error";
}

TEST_F(X11CaptureTest, MissingDisplayIsAnErrorWithAClearTextNotACrash) {
  EXPECT_TRUE(Platform::Linux::canCaptureScreen());
  {
    DisplayVariable unset(nullptr);
    EXPECT_EQ(shareableContentError(), "No X display: DISPLAY is not set");
    EXPECT_FALSE(Platform::Linux::canCaptureScreen());
    const auto service = Platform::Linux::makeX11ScreenCaptureService(nullptr);
    EXPECT_EQ(service->mainDisplayID(), 0U);
    EXPECT_TRUE(service->screens().empty());
  }
  {
    DisplayVariable absent(":4321");
    EXPECT_EQ(shareableContentError(), "Cannot open X display \":4321\"");
    EXPECT_FALSE(Platform::Linux::canCaptureScreen());
  }
}

TEST_F(X11CaptureTest, LostXServerStopsTheStreamAtOnceWithAnError) {
  VirtualDesktop doomed;
  doomed.useInThisProcess();
  const auto service = Platform::Linux::makeX11ScreenCaptureService(nullptr);
  DemoWindow window({"--size", "160x100"}, doomed.environment());
  const auto found = findWindow(*service, window.id());
  ASSERT_TRUE(found.has_value());
  auto stream =
      service->makeStream(Platform::SCContentFilter(*found), configuration(0, 0), watcher_);
  stream->addStreamOutput(collector_, SCStreamOutputType::screen,
                          Platform::DispatchQueue::global());
  stream->startCapture();
  ASSERT_TRUE(collector_->waitFor(2));

  const auto killedAt = std::chrono::steady_clock::now();
  doomed.killDisplayServer();
  while (!watcher_->stopped_.isCompleted() && std::chrono::steady_clock::now() - killedAt < 5s) {
    std::this_thread::sleep_for(5ms);
  }
  const auto noticedAfter = std::chrono::steady_clock::now() - killedAt;
  ASSERT_TRUE(watcher_->stopped_.isCompleted()) << "the stream did not notice the lost server";

  const Platform::ErrorRef error = watcher_->stopped_.wait();
  ASSERT_TRUE(error);
  EXPECT_THAT(error->localizedDescription(), testing::HasSubstr("was lost"));
  EXPECT_LT(noticedAfter, 1s);
  EXPECT_EQ(watcher_->calls_.load(), 1);
}

// The same captures on a desktop whose window manager reparents and can
// minimize windows.
class X11CaptureUnderWindowManagerTest : public X11CaptureTest {
protected:
  static void SetUpTestSuite() {
    display_ = std::make_unique<VirtualDesktop>(VirtualDesktop::WindowManager::reparenting);
    display_->useInThisProcess();
  }
};

TEST_F(X11CaptureUnderWindowManagerTest, MinimizedWindowStartsBlackAtItsSizeThenShowsItsPixels) {
  DemoWindow blue({"--solid", "3080F0", "--size", "240x160"});
  const auto window = findWindow(*service_, blue.id());
  ASSERT_TRUE(window.has_value());
  minimizeWindow(blue.id());
  ASSERT_TRUE(waitUntilViewable(blue.id(), false)) << "the window manager did not minimize it";

  auto stream =
      service_->makeStream(Platform::SCContentFilter(*window), configuration(0, 0), watcher_);
  stream->addStreamOutput(collector_, SCStreamOutputType::screen,
                          Platform::DispatchQueue::global());
  stream->startCapture();
  ASSERT_TRUE(collector_->waitFor(1, 1s)) << "no frame within a second of the start";
  ASSERT_TRUE(collector_->waitFor(5));
  for (const auto& sample : collector_->samples()) {
    const auto& frame = sample->imageBuffer();
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->width, 240);
    EXPECT_EQ(frame->height, 160);
    EXPECT_EQ(pixelAt(*frame, 0, 0), 0xFF000000U);
    EXPECT_EQ(pixelAt(*frame, 120, 80), 0xFF000000U);
    EXPECT_EQ(pixelAt(*frame, 239, 159), 0xFF000000U);
  }

  restoreWindow(blue.id());
  ASSERT_TRUE(waitUntilViewable(blue.id(), true)) << "the window manager did not restore it";
  std::this_thread::sleep_for(300ms); // let it repaint
  const std::size_t restored = collector_->count();
  ASSERT_TRUE(collector_->waitFor(restored + 1));
  stream->stopCapture();

  EXPECT_FALSE(watcher_->stopped_.isCompleted());
  const auto frame = collector_->samples().back()->imageBuffer();
  EXPECT_EQ(frame->width, 240);
  EXPECT_EQ(frame->height, 160);
  EXPECT_EQ(pixelAt(*frame, 120, 80), 0xFF3080F0U);
}

} // namespace
