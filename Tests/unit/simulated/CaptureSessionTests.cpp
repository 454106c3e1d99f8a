#include "Simulated/SimulatedPlatform.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace Platform::Simulated {
namespace {

class CountingDelegate : public AVCaptureDataOutputSampleBufferDelegate {
public:
  void captureOutputDidOutputSampleBuffer(AVCaptureOutput& output, SampleBufferRef) override {
    lastKind = output.kind();
    ++received;
  }
  std::atomic<int> received{0};
  std::atomic<CaptureOutputKind> lastKind{CaptureOutputKind::videoData};
};

class CaptureSessionTest : public ::testing::Test {
protected:
  CaptureSessionTest() {
    platform.addAudioDevice({"mic-1", "Desk Microphone", {audioDeviceFormat(1)}});
    auto& capture = *platform.services().mediaCapture;
    const auto devices = capture.discoverDevices(
        {AVCaptureDeviceType::microphone}, MediaType::audio, AVCaptureDevicePosition::unspecified);
    session = capture.makeCaptureSession();
    session->setRuntimeErrorHandler([this](ErrorRef error) {
      runtimeError = error;
      handlerThread = std::this_thread::get_id();
      ++runtimeErrors;
    });
    const auto input = capture.makeDeviceInput(devices.at(0));
    if (session->canAddInput(input)) {
      session->addInput(input);
    }
    output = capture.makeAudioDataOutput();
    output->setSampleBufferDelegate(delegate, DispatchQueue::serial("microphoneQueue"));
    if (session->canAddOutput(output)) {
      session->addOutput(output);
    }
  }

  SimulatedCaptureSession& simulated() { return *platform.captureSessions().at(0); }

  SimulatedPlatform platform;
  std::shared_ptr<CountingDelegate> delegate = std::make_shared<CountingDelegate>();
  std::shared_ptr<AVCaptureSession> session;
  CaptureOutputRef output;
  std::atomic<int> runtimeErrors{0};
  ErrorRef runtimeError;
  std::thread::id handlerThread;
};

TEST_F(CaptureSessionTest, RecordsItsWiringAndDeliversOnlyWhileRunning) {
  EXPECT_EQ(simulated().inputDeviceIDs(), std::vector<std::string>{"mic-1"});
  ASSERT_EQ(simulated().outputs().size(), 1U);
  EXPECT_EQ(simulated().outputs()[0]->queueLabel(), "microphoneQueue");

  EXPECT_FALSE(simulated().deliverAndWait(CaptureOutputKind::audioData, makeAudioSample({})));
  session->startRunning();
  EXPECT_TRUE(simulated().waitUntilRunning());
  EXPECT_FALSE(simulated().deliverAndWait(CaptureOutputKind::videoData, makeVideoSample({})))
      << "there is no video output";
  ASSERT_TRUE(simulated().deliverAndWait(CaptureOutputKind::audioData, makeAudioSample({})));
  EXPECT_EQ(delegate->received, 1);
  EXPECT_EQ(delegate->lastKind, CaptureOutputKind::audioData);

  session->stopRunning();
  EXPECT_FALSE(session->isRunning());
  EXPECT_FALSE(simulated().deliver(CaptureOutputKind::audioData, makeAudioSample({})));
  EXPECT_TRUE(
      platform.callLog().isBefore("captureSession.startRunning", "captureSession.stopRunning"));
}

TEST_F(CaptureSessionTest, RuntimeFailureStopsTheSessionAndTellsTheHandlerOnce) {
  session->startRunning();

  ASSERT_TRUE(simulated().failAtRuntime(makeError(ErrorDomain::mediaCapture, -11819, "lost")));
  EXPECT_FALSE(simulated().failAtRuntime(makeError(ErrorDomain::mediaCapture, -11819, "again")));

  EXPECT_EQ(runtimeErrors, 1);
  EXPECT_EQ(runtimeError->localizedDescription(), "lost");
  EXPECT_NE(handlerThread, std::this_thread::get_id());
  EXPECT_FALSE(session->isRunning());
}

TEST_F(CaptureSessionTest, AFailedStartReportsThroughTheHandlerAndDoesNotRun) {
  platform.failCaptureSessionStart(makeError(ErrorDomain::mediaCapture, -11800, "busy"));

  session->startRunning();

  EXPECT_EQ(runtimeErrors, 1) << "the handler was told before startRunning returned";
  EXPECT_FALSE(session->isRunning());
  EXPECT_FALSE(simulated().deliver(CaptureOutputKind::audioData, makeAudioSample({})));
}

TEST(CaptureSessionFailures, RefusedInputsAndOutputsAndFailingDeviceInputs) {
  SimulatedPlatform platform;
  platform.addAudioDevice({"mic-1", "Desk Microphone", {audioDeviceFormat(2)}});
  platform.failDeviceInput("mic-1", makeError(ErrorDomain::mediaCapture, -11852, "in use"));
  platform.refuseCaptureSessionOutputs(true);
  auto& capture = *platform.services().mediaCapture;
  const auto device = capture
                          .discoverDevices({AVCaptureDeviceType::microphone}, MediaType::audio,
                                           AVCaptureDevicePosition::unspecified)
                          .at(0);

  EXPECT_THROW(capture.makeDeviceInput(device), Error);
  EXPECT_FALSE(capture.makeCaptureSession()->canAddOutput(capture.makeAudioDataOutput()));

  platform.clearFailures();
  const auto session = capture.makeCaptureSession();
  EXPECT_TRUE(session->canAddInput(capture.makeDeviceInput(device)));
  platform.refuseCaptureSessionInputs(true);
  EXPECT_FALSE(session->canAddInput(capture.makeDeviceInput(device)));
}

} // namespace
} // namespace Platform::Simulated
