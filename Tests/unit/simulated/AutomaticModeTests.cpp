#include "Simulated/SimulatedPlatform.h"

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

namespace Platform::Simulated {
namespace {

using namespace std::chrono_literals;

class CollectingOutput : public SCStreamOutput {
public:
  void streamDidOutputSampleBuffer(SCStream&, SampleBufferRef sample,
                                   SCStreamOutputType type) override {
    std::lock_guard lock(mutex);
    (type == SCStreamOutputType::screen ? frames : audio).push_back(sample);
  }
  std::mutex mutex;
  std::vector<SampleBufferRef> frames;
  std::vector<SampleBufferRef> audio;
};

TEST(AutomaticMode, AStartedStreamMakesFramesAndGapFreeAudioOnTheHostClock) {
  SimulatedPlatform platform(SampleGeneration::automatic);
  const SCDisplay display{.displayID = 1, .width = 160, .height = 90, .frame = {0, 0, 160, 90}};
  SCStreamConfiguration configuration;
  configuration.minimumFrameInterval = CMTimeMake(1, 50);
  configuration.width = 320;
  configuration.height = 180;
  auto output = std::make_shared<CollectingOutput>();
  const auto stream = platform.services().screenCapture->makeStream(
      SCContentFilter(display, {}), configuration, std::weak_ptr<SCStreamDelegate>());
  stream->addStreamOutput(output, SCStreamOutputType::screen, DispatchQueue::global());
  stream->addStreamOutput(output, SCStreamOutputType::audio, DispatchQueue::global());

  const CMTime before = hostTimeNow();
  stream->startCapture();
  std::this_thread::sleep_for(200ms);
  stream->stopCapture();

  std::lock_guard lock(output->mutex);
  ASSERT_GE(output->frames.size(), 3U);
  ASSERT_GE(output->audio.size(), 3U);
  const auto& frame = *output->frames.front();
  EXPECT_EQ(frame.imageBuffer()->width, 320);
  EXPECT_EQ(frame.imageBuffer()->height, 180);
  EXPECT_EQ(frame.imageBuffer()->bytes.size(), 320U * 180U * 4U);
  EXPECT_GE(CMTimeCompare(frame.presentationTimeStamp(), before), 0);
  EXPECT_LE(CMTimeCompare(output->frames.back()->presentationTimeStamp(), hostTimeNow()), 0);
  for (std::size_t i = 1; i < output->audio.size(); ++i) {
    EXPECT_EQ(CMTimeCompare(CMTimeSubtract(output->audio[i]->presentationTimeStamp(),
                                           output->audio[i - 1]->presentationTimeStamp()),
                            CMTimeMake(480, 48000)),
              0)
        << "gap before audio buffer " << i;
  }
  EXPECT_EQ(output->audio.front()->formatDescription()->audio->channelCount, 2);

  const std::size_t framesAtStop = output->frames.size();
  output->mutex.unlock();
  std::this_thread::sleep_for(50ms);
  output->mutex.lock();
  EXPECT_EQ(output->frames.size(), framesAtStop) << "a frame arrived after stopCapture";
}

class CountingCaptureDelegate : public AVCaptureDataOutputSampleBufferDelegate {
public:
  void captureOutputDidOutputSampleBuffer(AVCaptureOutput&, SampleBufferRef sample) override {
    std::lock_guard lock(mutex);
    samples.push_back(sample);
  }
  std::mutex mutex;
  std::vector<SampleBufferRef> samples;
};

TEST(AutomaticMode, ARunningCaptureSessionMakesSamplesOfItsDevice) {
  SimulatedPlatform platform(SampleGeneration::automatic);
  platform.addAudioDevice({"mic-1", "Mono", {audioDeviceFormat(1)}});
  platform.addExternalDevice({"phone-1", "Phone", {videoDeviceFormat(390, 844)}});
  auto& capture = *platform.services().mediaCapture;
  capture.allowScreenCaptureDevices();
  const auto microphone = capture.discoverDevices(
      {AVCaptureDeviceType::microphone}, MediaType::audio, AVCaptureDevicePosition::unspecified);
  const auto phone = capture.discoverDevices({AVCaptureDeviceType::external}, std::nullopt,
                                             AVCaptureDevicePosition::unspecified);
  const auto run = [&capture](const CaptureDeviceRef& device, CaptureOutputRef output) {
    auto delegate = std::make_shared<CountingCaptureDelegate>();
    const auto session = capture.makeCaptureSession();
    session->addInput(capture.makeDeviceInput(device));
    output->setSampleBufferDelegate(delegate, DispatchQueue::serial("deviceQueue"));
    session->addOutput(output);
    session->startRunning();
    std::this_thread::sleep_for(150ms);
    session->stopRunning();
    std::lock_guard lock(delegate->mutex);
    return delegate->samples;
  };

  const auto audio = run(microphone.at(0), capture.makeAudioDataOutput());
  const auto video = run(phone.at(0), capture.makeVideoDataOutput());

  ASSERT_FALSE(audio.empty());
  EXPECT_EQ(audio.front()->formatDescription()->audio->channelCount, 1);
  EXPECT_EQ(audio.front()->audioBuffer()->frameCount, 480U);
  ASSERT_FALSE(video.empty());
  EXPECT_EQ(video.front()->imageBuffer()->width, 390);
  EXPECT_EQ(video.front()->imageBuffer()->height, 844);
}

} // namespace
} // namespace Platform::Simulated
