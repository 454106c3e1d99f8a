#include "Simulated/SimulatedPlatform.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace Platform::Simulated {
namespace {

using namespace std::chrono_literals;

class RecordingOutput : public SCStreamOutput, public SCStreamDelegate {
public:
  void streamDidOutputSampleBuffer(SCStream&, SampleBufferRef sample,
                                   SCStreamOutputType type) override {
    const int now = ++concurrent;
    maxConcurrent = std::max(maxConcurrent.load(), now);
    std::this_thread::sleep_for(delay);
    lastTime = CMTimeGetSeconds(sample->presentationTimeStamp());
    lastType = type;
    callbackThread = std::this_thread::get_id();
    ++received;
    --concurrent;
  }
  void streamDidStopWithError(SCStream&, ErrorRef error) override {
    stopError = error;
    delegateThread = std::this_thread::get_id();
    ++stops;
  }

  std::chrono::milliseconds delay{0};
  std::atomic<int> received{0};
  std::atomic<int> concurrent{0};
  std::atomic<int> maxConcurrent{0};
  std::atomic<int> stops{0};
  std::atomic<double> lastTime{-1};
  std::atomic<SCStreamOutputType> lastType{SCStreamOutputType::audio};
  std::atomic<std::thread::id> callbackThread;
  ErrorRef stopError;
  std::thread::id delegateThread;
};

class StreamDeliveryTest : public ::testing::Test {
protected:
  StreamDeliveryTest() {
    platform.addDisplay({.displayID = 1, .width = 320, .height = 200, .frame = {0, 0, 320, 200}});
    stream = platform.services().screenCapture->makeStream(
        SCContentFilter(
            SCDisplay{.displayID = 1, .width = 320, .height = 200, .frame = {0, 0, 320, 200}}, {}),
        SCStreamConfiguration{}, output);
  }

  SimulatedStream& simulated() { return *platform.streams().at(0); }

  SimulatedPlatform platform;
  std::shared_ptr<RecordingOutput> output = std::make_shared<RecordingOutput>();
  std::shared_ptr<SCStream> stream;
};

TEST_F(StreamDeliveryTest, DeliversOnlyWhileCapturingToARegisteredOutput) {
  stream->addStreamOutput(output, SCStreamOutputType::screen, DispatchQueue::global());
  const auto frame = makeVideoSample({.presentationTime = CMTimeMake(3, 2)});

  EXPECT_FALSE(simulated().deliverAndWait(SCStreamOutputType::screen, frame)) << "not started";
  stream->startCapture();
  EXPECT_FALSE(simulated().deliverAndWait(SCStreamOutputType::audio, makeAudioSample({})))
      << "no audio output registered";
  ASSERT_TRUE(simulated().deliverAndWait(SCStreamOutputType::screen, frame));

  // The blocking delivery returned only after the callback did, on a queue thread.
  EXPECT_EQ(output->received, 1);
  EXPECT_DOUBLE_EQ(output->lastTime, 1.5);
  EXPECT_EQ(output->lastType, SCStreamOutputType::screen);
  EXPECT_NE(output->callbackThread.load(), std::this_thread::get_id());
  EXPECT_EQ(simulated().deliveredCount(SCStreamOutputType::screen), 1U);
  ASSERT_EQ(simulated().outputs().size(), 1U);
  EXPECT_EQ(simulated().outputs()[0].queueLabel, DispatchQueue::global().label());

  stream->stopCapture();
  EXPECT_FALSE(simulated().deliver(SCStreamOutputType::screen, frame)) << "stopped";
  EXPECT_EQ(simulated().startCount(), 1);
  EXPECT_EQ(simulated().stopCount(), 1);
}

TEST_F(StreamDeliveryTest, SerialisesOneOutputOnAConcurrentQueueAndStopWaitsForIt) {
  output->delay = 20ms;
  stream->addStreamOutput(output, SCStreamOutputType::screen, DispatchQueue::global());
  stream->startCapture();
  for (int i = 0; i < 5; ++i) {
    ASSERT_TRUE(simulated().deliver(SCStreamOutputType::screen,
                                    makeVideoSample({.presentationTime = CMTimeMake(i, 1)})));
  }

  stream->stopCapture();

  EXPECT_EQ(output->received, 5) << "stop returned before the posted deliveries";
  EXPECT_EQ(output->maxConcurrent, 1);
  EXPECT_DOUBLE_EQ(output->lastTime, 4.0) << "delivered out of order";
}

TEST_F(StreamDeliveryTest, InjectedFailuresFireWhereInjected) {
  platform.refuseStreamOutput(SCStreamOutputType::audio,
                              makeError(ErrorDomain::screenCapture, -3801, "declined"));
  platform.failStreamStart(makeError(ErrorDomain::screenCapture, -3802, "start failed"));

  EXPECT_NO_THROW(
      stream->addStreamOutput(output, SCStreamOutputType::screen, DispatchQueue::global()));
  try {
    stream->addStreamOutput(output, SCStreamOutputType::audio, DispatchQueue::global());
    FAIL() << "audio registration was not refused";
  } catch (const SystemError& error) {
    EXPECT_EQ(error.code(), -3801);
    EXPECT_EQ(error.domain(), ErrorDomain::screenCapture);
  }
  EXPECT_THROW(stream->startCapture(), Error);
  EXPECT_FALSE(simulated().isCapturing());
  EXPECT_THROW(stream->stopCapture(), Error) << "stopping a stream that never ran";

  platform.clearFailures();
  stream->startCapture();
  EXPECT_TRUE(simulated().isCapturing());
}

TEST_F(StreamDeliveryTest, StopWithErrorTellsTheDelegateOnceOnItsOwnThread) {
  stream->addStreamOutput(output, SCStreamOutputType::screen, DispatchQueue::global());
  stream->startCapture();

  ASSERT_TRUE(simulated().stopWithError(makeError(ErrorDomain::screenCapture, -3815, "gone")));
  EXPECT_FALSE(simulated().stopWithError(makeError(ErrorDomain::screenCapture, -3815, "again")));

  EXPECT_EQ(output->stops, 1);
  ASSERT_NE(output->stopError, nullptr);
  EXPECT_EQ(output->stopError->localizedDescription(), "gone");
  EXPECT_NE(output->delegateThread, std::this_thread::get_id());
  EXPECT_FALSE(simulated().isCapturing());
  EXPECT_FALSE(simulated().deliver(SCStreamOutputType::screen, makeVideoSample({})));
  EXPECT_EQ(platform.callLog().count("stream.didStopWithError"), 1U);
}

TEST_F(StreamDeliveryTest, ASlowOutputDoesNotHoldBackTheOthers) {
  auto slow = std::make_shared<RecordingOutput>();
  slow->delay = 300ms;
  stream->addStreamOutput(slow, SCStreamOutputType::screen, DispatchQueue::global());
  stream->addStreamOutput(output, SCStreamOutputType::audio, DispatchQueue::global());
  stream->startCapture();

  ASSERT_TRUE(simulated().deliver(SCStreamOutputType::screen, makeVideoSample({})));
  ASSERT_TRUE(simulated().deliverAndWait(SCStreamOutputType::audio, makeAudioSample({})));

  EXPECT_EQ(slow->received, 0) << "audio waited for the slow screen output";
  stream->stopCapture();
  EXPECT_EQ(slow->received, 1);
}

// An output that stops its own stream from inside a callback, as a session
// that gives up on a bad sample would.
class StoppingOutput : public SCStreamOutput {
public:
  void streamDidOutputSampleBuffer(SCStream& stream, SampleBufferRef, SCStreamOutputType) override {
    try {
      stream.stopCapture();
      stopped = true;
    } catch (const Error&) {
    }
  }
  std::atomic<bool> stopped{false};
};

TEST_F(StreamDeliveryTest, StoppingFromInsideACallbackDoesNotWaitForItself) {
  auto stopping = std::make_shared<StoppingOutput>();
  stream->addStreamOutput(stopping, SCStreamOutputType::screen, DispatchQueue::global());
  stream->startCapture();

  ASSERT_TRUE(simulated().deliverAndWait(SCStreamOutputType::screen, makeVideoSample({}), 2000ms));

  EXPECT_TRUE(stopping->stopped);
  EXPECT_FALSE(simulated().isCapturing());
}

} // namespace
} // namespace Platform::Simulated
