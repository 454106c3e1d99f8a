#include "PulseServerFixture.h"

#include "Platform/Linux/Pulse/PulseMediaCapture.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>

using namespace Platform;

namespace {

constexpr auto patience = std::chrono::seconds(10);

// Everything a capture delivered, for the test to wait on.
struct Received {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<SampleBufferRef> samples;
  std::vector<std::string> failures;
  std::vector<std::thread::id> threads;
  std::vector<CMTimeValue> arrivals;

  void add(SampleBufferRef sample) {
    std::lock_guard lock(mutex);
    arrivals.push_back(hostTimeNow().value);
    samples.push_back(std::move(sample));
    threads.push_back(std::this_thread::get_id());
    changed.notify_all();
  }
  void fail(const ErrorRef& error) {
    std::lock_guard lock(mutex);
    failures.push_back(error->localizedDescription());
    changed.notify_all();
  }
  bool waitFor(const std::function<bool()>& done) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, patience, done);
  }
};

CMTimeValue nanoseconds(CMTime time) {
  return CMTimeConvertScale(time, hostTimeScale).value;
}

using CaptureTest = PulseServerTest;

TEST_F(CaptureTest, SystemAudioIsStampedContinuouslyOnTheHostClockAndHearsWhatPlays) {
  // As in a meeting, something already plays when recording starts.
  const auto tone = playTone("speakers");
  ASSERT_EQ(pactl({"list", "short", "sink-inputs"}), 0);
  auto capture = Linux::makePulseAudioCaptureFactory()->makeSystemAudioCapture();
  Received received;
  const CMTimeValue before = hostTimeNow().value;
  capture->start([&](SampleBufferRef sample) { received.add(std::move(sample)); },
                 [&](ErrorRef error) { received.fail(error); });
  // About a second and a half of audio in buffers of about 10 ms.
  ASSERT_TRUE(received.waitFor([&] { return received.samples.size() >= 150; }));
  capture->stop();
  const CMTimeValue after = hostTimeNow().value;

  std::lock_guard lock(received.mutex);
  EXPECT_TRUE(received.failures.empty());
  const auto& samples = received.samples;
  float peak = 0;
  for (std::size_t i = 0; i < samples.size(); ++i) {
    const auto& sample = *samples[i];
    ASSERT_EQ(sample.sampleTimingInfos()->size(), 1U);
    const auto& format = *sample.formatDescription();
    ASSERT_EQ(format.audio->sampleFormat, AudioSampleFormat::float32);
    ASSERT_EQ(format.audio->channelCount, 2);
    ASSERT_EQ(format.audio->sampleRate, 44100);
    ASSERT_EQ(sample.audioBuffer()->bytes.size(), sample.audioBuffer()->frameCount * 8);
    ASSERT_EQ(sample.duration(),
              CMTimeMake(static_cast<CMTimeValue>(sample.audioBuffer()->frameCount), 44100));
    peak = std::max(peak, peakOf(sample));
    if (i > 0) {
      const auto& previous = *samples[i - 1];
      const CMTimeValue previousEnd =
          nanoseconds(previous.presentationTimeStamp()) + nanoseconds(previous.duration());
      const CMTimeValue gap = nanoseconds(sample.presentationTimeStamp()) - previousEnd;
      // Back to back to the nanosecond of rounding; a gap only where the
      // server lost audio (a starved null sink skips time), never an overlap.
      ASSERT_GE(gap, -1) << "buffer " << i << " overlaps the one before";
      ASSERT_TRUE(gap <= 1 || gap > 10'000'000) << "buffer " << i << " jitters by " << gap;
    }
  }
  EXPECT_GT(peak, 0.3F);
  // On the host clock: each buffer was captured before it reached us (give or
  // take the jitter the timeline smooths over, 15 ms), and the stamps keep up
  // with the clock instead of drifting away from it.
  for (std::size_t i = 0; i < samples.size(); ++i) {
    const CMTimeValue end =
        nanoseconds(samples[i]->presentationTimeStamp()) + nanoseconds(samples[i]->duration());
    ASSERT_LE(end, received.arrivals[i] + 15'000'000)
        << "buffer " << i << " is stamped in the future";
  }
  const CMTimeValue lastEnd = nanoseconds(samples.back()->presentationTimeStamp()) +
                              nanoseconds(samples.back()->duration());
  EXPECT_GT(lastEnd, received.arrivals.back() - 300'000'000);
  EXPECT_GT(nanoseconds(samples.front()->presentationTimeStamp()), before - 500'000'000);
  EXPECT_LT(lastEnd, after + 15'000'000);
}

class RecordingDelegate final : public AVCaptureDataOutputSampleBufferDelegate {
public:
  explicit RecordingDelegate(Received& received) : received_(received) {}
  void captureOutputDidOutputSampleBuffer(AVCaptureOutput&, SampleBufferRef sample) override {
    received_.add(std::move(sample));
  }

private:
  Received& received_;
};

TEST_F(CaptureTest, MicrophoneSessionDeliversTheSourceToItsDelegate) {
  auto service = Linux::makePulseMediaCaptureService();
  const auto devices = service->discoverDevices({AVCaptureDeviceType::microphone}, MediaType::audio,
                                                AVCaptureDevicePosition::unspecified);
  ASSERT_EQ(devices.size(), 1U);
  auto session = service->makeCaptureSession();
  auto input = service->makeDeviceInput(devices[0]);
  ASSERT_TRUE(session->canAddInput(input));
  session->addInput(input);
  EXPECT_FALSE(session->canAddInput(service->makeDeviceInput(devices[0])));
  auto output = service->makeAudioDataOutput();
  Received received;
  auto delegate = std::make_shared<RecordingDelegate>(received);
  output->setSampleBufferDelegate(delegate, DispatchQueue::serial("microphoneQueue"));
  ASSERT_TRUE(session->canAddOutput(output));
  session->addOutput(output);
  std::vector<std::string> errors;
  session->setRuntimeErrorHandler([&](ErrorRef error) { received.fail(error); });

  session->startRunning();
  ASSERT_TRUE(session->isRunning());
  const auto tone = playTone("virtmic_sink");
  ASSERT_TRUE(received.waitFor([&] {
    return std::any_of(received.samples.begin(), received.samples.end(),
                       [](const SampleBufferRef& sample) { return peakOf(*sample) > 0.3F; });
  })) << "the microphone never heard the tone";
  session->stopRunning();
  EXPECT_FALSE(session->isRunning());

  std::lock_guard lock(received.mutex);
  EXPECT_TRUE(received.failures.empty());
  EXPECT_EQ(
      std::count(received.threads.begin(), received.threads.end(), std::this_thread::get_id()), 0);
}

TEST_F(CaptureTest, SourceThatDisappearsFailsTheCaptureOnce) {
  auto capture = Linux::makePulseAudioCaptureFactory()->makeSourceCapture("virtual_mic");
  Received received;
  capture->start([&](SampleBufferRef sample) { received.add(std::move(sample)); },
                 [&](ErrorRef error) { received.fail(error); });
  ASSERT_TRUE(received.waitFor([&] { return !received.samples.empty(); }));

  ASSERT_EQ(pactl({"unload-module", "module-remap-source"}), 0);
  ASSERT_TRUE(received.waitFor([&] { return !received.failures.empty(); }));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  capture->stop();
  std::lock_guard lock(received.mutex);
  EXPECT_EQ(received.failures,
            std::vector<std::string>{"The audio source \"virtual_mic\" is no longer available"});
}

TEST_F(CaptureTest, ServerThatDiesFailsTheSessionOnceAndStopStillReturns) {
  auto service = Linux::makePulseMediaCaptureService();
  const auto devices = service->discoverDevices({AVCaptureDeviceType::microphone}, MediaType::audio,
                                                AVCaptureDevicePosition::unspecified);
  ASSERT_EQ(devices.size(), 1U);
  auto session = service->makeCaptureSession();
  session->addInput(service->makeDeviceInput(devices[0]));
  auto output = service->makeAudioDataOutput();
  Received received;
  auto delegate = std::make_shared<RecordingDelegate>(received);
  output->setSampleBufferDelegate(delegate, DispatchQueue::serial("microphoneQueue"));
  session->addOutput(output);
  // The handler may stop the session itself.
  session->setRuntimeErrorHandler([&](ErrorRef error) {
    session->stopRunning();
    received.fail(error);
  });
  session->startRunning();
  ASSERT_TRUE(received.waitFor([&] { return !received.samples.empty(); }));

  stopServer();
  ASSERT_TRUE(received.waitFor([&] { return !received.failures.empty(); }));
  EXPECT_FALSE(session->isRunning());
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  session->stopRunning();
  std::lock_guard lock(received.mutex);
  ASSERT_EQ(received.failures.size(), 1U);
  EXPECT_EQ(received.failures[0].rfind("The connection to the audio server was lost", 0), 0U)
      << received.failures[0];
}

} // namespace
