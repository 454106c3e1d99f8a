#include "Platform/Linux/Capture/CaptureSession.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

using namespace Platform;
using Platform::Linux::AudioCapture;
using Platform::Linux::Capture::audioDeviceRuns;
using Platform::Linux::Capture::CaptureDevice;
using Platform::Linux::Capture::CaptureSession;
using Platform::Linux::Capture::DataOutput;
using Platform::Linux::Capture::DeviceInput;

constexpr auto patience = std::chrono::seconds(10);

// What the fake capture was asked, and a way to feed it, shared with the test.
struct CaptureScript {
  std::mutex mutex;
  std::string startedSource;
  std::function<void(SampleBufferRef)> deliver;
  bool stopped = false;
  std::optional<SystemError> startError;
  // What the capture still holds when it stops, passed on then.
  std::optional<SampleBufferRef> held;
};

class FakeCapture final : public AudioCapture {
public:
  FakeCapture(std::shared_ptr<CaptureScript> script, std::string source)
      : script_(std::move(script)), source_(std::move(source)) {}
  void start(std::function<void(SampleBufferRef)> deliver) override {
    std::lock_guard lock(script_->mutex);
    if (script_->startError) {
      throw *script_->startError;
    }
    script_->startedSource = source_;
    script_->deliver = std::move(deliver);
  }
  void stop() override {
    std::lock_guard lock(script_->mutex);
    if (script_->held) {
      script_->deliver(*script_->held);
    }
    script_->stopped = true;
  }

private:
  std::shared_ptr<CaptureScript> script_;
  std::string source_;
};

SampleBufferRef sampleAt(CMTimeValue value) {
  CMSampleBuffer::Contents contents;
  contents.formatDescription = FormatDescription::audioPCM({48000, 1});
  contents.timing.push_back(
      CMSampleTimingInfo{CMTimeMake(480, 48000), CMTimeMake(value, 1000), kCMTimeInvalid});
  return CMSampleBuffer::make(std::move(contents));
}

class RecordingDelegate final : public AVCaptureDataOutputSampleBufferDelegate {
public:
  void captureOutputDidOutputSampleBuffer(AVCaptureOutput& output,
                                          SampleBufferRef sample) override {
    if (onSample) {
      onSample();
    }
    std::lock_guard lock(mutex);
    outputs.push_back(&output);
    times.push_back(sample->presentationTimeStamp().value);
    concurrent = concurrent || inside.exchange(true);
    std::this_thread::sleep_for(std::chrono::microseconds(50));
    inside = false;
    arrived.notify_all();
  }

  bool waitFor(std::size_t count) {
    std::unique_lock lock(mutex);
    return arrived.wait_for(lock, patience, [&] { return times.size() >= count; });
  }

  std::function<void()> onSample;
  std::mutex mutex;
  std::condition_variable arrived;
  std::vector<AVCaptureOutput*> outputs;
  std::vector<CMTimeValue> times;
  std::atomic<bool> inside{false};
  bool concurrent = false;
};

class CaptureSessionTest : public testing::Test {
protected:
  CaptureSessionTest()
      : script(std::make_shared<CaptureScript>()),
        session(std::make_shared<CaptureSession>(
            audioDeviceRuns([script = script](const std::string& source, bool) {
              return std::make_unique<FakeCapture>(script, source);
            }))),
        device(std::make_shared<CaptureDevice>(
            "alsa_input.usb", "USB Microphone",
            std::vector{AVCaptureDeviceFormat{
                FormatDescription::audioPCM(AudioStreamDescription{44100, 1})}})),
        output(std::make_shared<DataOutput>(CaptureOutputKind::audioData)),
        delegate(std::make_shared<RecordingDelegate>()) {}

  void configure(DispatchQueue queue) {
    session->addInput(std::make_shared<DeviceInput>(device));
    output->setSampleBufferDelegate(delegate, std::move(queue));
    session->addOutput(output);
  }

  std::shared_ptr<CaptureScript> script;
  std::shared_ptr<CaptureSession> session;
  CaptureDeviceRef device;
  std::shared_ptr<DataOutput> output;
  std::shared_ptr<RecordingDelegate> delegate;
};

TEST_F(CaptureSessionTest, TakesOneInputAndOneOutputOfEachKind) {
  auto input = std::make_shared<DeviceInput>(device);
  ASSERT_TRUE(session->canAddInput(input));
  session->addInput(input);
  EXPECT_FALSE(session->canAddInput(std::make_shared<DeviceInput>(device)));
  EXPECT_FALSE(session->canAddInput(nullptr));

  ASSERT_TRUE(session->canAddOutput(output));
  session->addOutput(output);
  EXPECT_FALSE(session->canAddOutput(std::make_shared<DataOutput>(CaptureOutputKind::audioData)));
  EXPECT_TRUE(session->canAddOutput(std::make_shared<DataOutput>(CaptureOutputKind::videoData)));
}

TEST_F(CaptureSessionTest, DeviceListsItsOneFormatWithAChannelLayout) {
  const auto formats = device->formats();
  ASSERT_EQ(formats.size(), 1U);
  const auto& format = *formats.front().formatDescription;
  EXPECT_EQ(format.mediaType, MediaType::audio);
  EXPECT_EQ(format.audio->sampleRate, 44100);
  EXPECT_EQ(format.audioChannelLayoutChannelCount, 1);
}

TEST_F(CaptureSessionTest, RunsTheInputsSourceIntoTheDelegateInOrder) {
  // A concurrent queue: the session must still deliver one at a time, in order.
  configure(DispatchQueue::global());
  session->startRunning();
  ASSERT_TRUE(session->isRunning());
  EXPECT_EQ(script->startedSource, "alsa_input.usb");

  for (CMTimeValue i = 0; i < 200; ++i) {
    script->deliver(sampleAt(i));
  }
  ASSERT_TRUE(delegate->waitFor(200));
  std::lock_guard lock(delegate->mutex);
  for (CMTimeValue i = 0; i < 200; ++i) {
    ASSERT_EQ(delegate->times[static_cast<std::size_t>(i)], i);
  }
  EXPECT_FALSE(delegate->concurrent);
  EXPECT_EQ(delegate->outputs.front(), output.get());
}

TEST_F(CaptureSessionTest, WhatWasCapturedBeforeStopArrivesBeforeItReturnsAndNothingAfter) {
  configure(DispatchQueue::serial("microphoneQueue"));
  session->startRunning();
  for (CMTimeValue i = 0; i < 500; ++i) {
    script->deliver(sampleAt(i));
  }
  script->held = sampleAt(500);
  session->stopRunning();
  EXPECT_FALSE(session->isRunning());
  EXPECT_TRUE(script->stopped);
  {
    // The end of a recording is kept: the queued samples and the one the
    // capture still held have all reached the delegate.
    std::lock_guard lock(delegate->mutex);
    ASSERT_EQ(delegate->times.size(), 501U);
    EXPECT_EQ(delegate->times.back(), 500);
  }
  // A late sample from a capture that is gone never arrives.
  script->deliver(sampleAt(501));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  std::lock_guard lock(delegate->mutex);
  EXPECT_EQ(delegate->times.size(), 501U);
}

TEST_F(CaptureSessionTest, DelegateMayStopTheSessionFromInsideADelivery) {
  configure(DispatchQueue::serial("microphoneQueue"));
  delegate->onSample = [this] { session->stopRunning(); };
  session->startRunning();
  script->deliver(sampleAt(0));
  script->deliver(sampleAt(1));
  ASSERT_TRUE(delegate->waitFor(1));
  EXPECT_FALSE(session->isRunning());
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  std::lock_guard lock(delegate->mutex);
  EXPECT_EQ(delegate->times.size(), 1U);
}

TEST_F(CaptureSessionTest, StartFailureTellsTheHandlerAndLeavesTheSessionStopped) {
  configure(DispatchQueue::serial("microphoneQueue"));
  script->startError.emplace(ErrorDomain::mediaCapture, 7, "The audio source is not available");
  std::optional<std::string> message;
  session->setRuntimeErrorHandler([&](ErrorRef error) { message = error->localizedDescription(); });
  session->startRunning();
  EXPECT_FALSE(session->isRunning());
  EXPECT_EQ(message, "The audio source is not available");
}

// A device that sends pictures and can stop by itself, as a camera does.
class FakeDeviceRun final : public Platform::Linux::Capture::DeviceRun {
public:
  explicit FakeDeviceRun(std::atomic<int>& stops) : stops_(stops) {}
  void stop() override { ++stops_; }

private:
  std::atomic<int>& stops_;
};

TEST(CaptureSessionDevice, ADeviceThatStopsByItselfEndsTheSessionAndIsToldOnce) {
  using Platform::Linux::Capture::DeviceSinks;
  std::atomic<int> stops{0};
  std::optional<DeviceSinks> sinks;
  auto session = std::make_shared<CaptureSession>(
      [&](const AVCaptureDevice&, DeviceSinks given) -> std::unique_ptr<Linux::Capture::DeviceRun> {
        sinks = std::move(given);
        return std::make_unique<FakeDeviceRun>(stops);
      });
  auto device =
      std::make_shared<CaptureDevice>("camera", "Camera", std::vector<AVCaptureDeviceFormat>{});
  session->addInput(std::make_shared<DeviceInput>(device));
  auto video = std::make_shared<DataOutput>(CaptureOutputKind::videoData);
  video->setMinFrameDuration(CMTimeMake(1, 30));
  auto delegate = std::make_shared<RecordingDelegate>();
  video->setSampleBufferDelegate(delegate, DispatchQueue::serial("deviceQueue"));
  session->addOutput(video);

  std::mutex mutex;
  std::condition_variable told;
  std::vector<std::string> failures;
  session->setRuntimeErrorHandler([&](ErrorRef error) {
    std::lock_guard lock(mutex);
    failures.push_back(error->localizedDescription());
    told.notify_all();
  });
  session->startRunning();
  ASSERT_TRUE(sinks && sinks->video && sinks->failed);
  EXPECT_FALSE(sinks->audio) << "no audio output was added";
  EXPECT_EQ(CMTimeCompare(sinks->minFrameDuration, CMTimeMake(1, 30)), 0);

  sinks->video(sampleAt(0));
  sinks->failed(makeError(ErrorDomain::mediaCapture, 5, "The camera was unplugged"));
  sinks->failed(makeError(ErrorDomain::mediaCapture, 5, "told twice"));
  {
    std::unique_lock lock(mutex);
    ASSERT_TRUE(told.wait_for(lock, patience, [&] { return !failures.empty(); }));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_FALSE(session->isRunning());
  EXPECT_EQ(stops, 1) << "the run is stopped once";
  std::lock_guard lock(mutex);
  EXPECT_EQ(failures, std::vector<std::string>{"The camera was unplugged"});
  EXPECT_TRUE(delegate->waitFor(1)) << "what came before the failure is delivered";
  session->stopRunning();
  EXPECT_EQ(stops, 1);
}

} // namespace
