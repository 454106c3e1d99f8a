#include "PulseServerFixture.h"

#include "Platform/Linux/Pulse/PulseMediaCapture.h"

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
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
  auto capture = Linux::makePulseAudioCaptureFactory(audioServer_)->makeSystemAudioCapture();
  Received received;
  const CMTimeValue before = hostTimeNow().value;
  capture->start([&](SampleBufferRef sample) { received.add(std::move(sample)); });
  // About a second and a half of audio in buffers of about 40 ms.
  ASSERT_TRUE(received.waitFor([&] { return received.samples.size() >= 40; }));
  capture->stop();
  const CMTimeValue after = hostTimeNow().value;

  std::lock_guard lock(received.mutex);
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
    // Its length on the host clock: its frames' nominal length, steered by
    // 0.1 % at most for the source's clock drift.
    const double nominal = static_cast<double>(sample.audioBuffer()->frameCount) * 1e9 / 44100;
    ASSERT_NEAR(static_cast<double>(nanoseconds(sample.duration())), nominal, nominal / 1000 + 1);
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
  // Buffers of about 40 ms: each buffer wakes every thread down to the file.
  std::vector<std::size_t> lengths;
  for (const auto& sample : samples) {
    lengths.push_back(sample->audioBuffer()->frameCount);
  }
  std::nth_element(lengths.begin(), lengths.begin() + lengths.size() / 2, lengths.end());
  EXPECT_GE(lengths[lengths.size() / 2], 44100U * 40 / 1000);
  // On the host clock: a monitor's buffer is stamped when the sink plays it,
  // at most the sink's latency (no more than the 40 ms fragment asked for)
  // after it reached us, give or take the jitter the timeline smooths over
  // (15 ms); and the stamps keep up with the clock instead of drifting away.
  for (std::size_t i = 0; i < samples.size(); ++i) {
    const CMTimeValue end =
        nanoseconds(samples[i]->presentationTimeStamp()) + nanoseconds(samples[i]->duration());
    ASSERT_LE(end, received.arrivals[i] + 55'000'000)
        << "buffer " << i << " is stamped in the future";
  }
  const CMTimeValue lastEnd = nanoseconds(samples.back()->presentationTimeStamp()) +
                              nanoseconds(samples.back()->duration());
  EXPECT_GT(lastEnd, received.arrivals.back() - 300'000'000);
  EXPECT_GT(nanoseconds(samples.front()->presentationTimeStamp()), before - 500'000'000);
  EXPECT_LT(lastEnd, after + 55'000'000);
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
  auto service =
      Linux::Capture::makeDeviceCaptureService({Linux::makePulseDeviceBackend(audioServer_)});
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

// Checks that the buffers follow each other without an overlap and without a
// gap but the short holes a starved null sink makes: an outage of the source
// must be filled with silence, not left out.
void expectOneTimeline(const std::vector<SampleBufferRef>& samples) {
  for (std::size_t i = 1; i < samples.size(); ++i) {
    const CMTimeValue previousEnd = nanoseconds(samples[i - 1]->presentationTimeStamp()) +
                                    nanoseconds(samples[i - 1]->duration());
    const CMTimeValue gap = nanoseconds(samples[i]->presentationTimeStamp()) - previousEnd;
    ASSERT_GE(gap, -1) << "buffer " << i << " overlaps the one before";
    ASSERT_LT(gap, 100'000'000) << "buffer " << i << " of " << samples.size();
  }
}

// Total duration of the buffers in [from, to) whose peak is below `level`.
CMTimeValue silentNanoseconds(const std::vector<SampleBufferRef>& samples, std::size_t from,
                              std::size_t to, float level) {
  CMTimeValue total = 0;
  for (std::size_t i = from; i < to; ++i) {
    if (peakOf(*samples[i]) < level) {
      total += nanoseconds(samples[i]->duration());
    }
  }
  return total;
}

bool isLoud(const SampleBufferRef& sample) {
  return peakOf(*sample) > 0.3F;
}

// Waits until a buffer after the first `after` is loud; its index.
std::optional<std::size_t> waitForSound(Received& received, std::size_t after) {
  std::optional<std::size_t> found;
  received.waitFor([&] {
    for (std::size_t i = after; i < received.samples.size(); ++i) {
      if (isLoud(received.samples[i])) {
        found = i;
        return true;
      }
    }
    return false;
  });
  return found;
}

std::size_t countOf(Received& received) {
  std::lock_guard lock(received.mutex);
  return received.samples.size();
}

// Checks that sound read from `from` on, across a switch of the recorded sink
// at buffer `switched`, neither loses nor doubles time and stays on the host
// clock: the frames last as long as the host time they are stamped over, to
// within one read, and each buffer of sound ends no earlier than it reached
// us and no later than a monitor's latency after (at most the 40 ms fragment
// asked for), give or take the 15 ms the timeline smooths over.
void expectContinuousAcross(const Received& received, std::size_t from, std::size_t switched) {
  constexpr CMTimeValue oneRead = 40'000'000;
  constexpr CMTimeValue tolerance = 15'000'000;
  const auto& samples = received.samples;
  const std::size_t last = samples.size() - 1;
  ASSERT_GT(switched, from + 10);
  ASSERT_GT(last, switched + 10);
  CMTimeValue frames = 0;
  for (std::size_t i = from; i <= last; ++i) {
    frames += static_cast<CMTimeValue>(samples[i]->audioBuffer()->frameCount);
    const CMTimeValue end =
        nanoseconds(samples[i]->presentationTimeStamp()) + nanoseconds(samples[i]->duration());
    if (isLoud(samples[i])) {
      EXPECT_GE(end, received.arrivals[i] - tolerance) << "buffer " << i << " is stamped early";
      EXPECT_LE(end, received.arrivals[i] + oneRead + tolerance)
          << "buffer " << i << " is stamped late";
    }
  }
  const CMTimeValue stamped = nanoseconds(samples[last]->presentationTimeStamp()) +
                              nanoseconds(samples[last]->duration()) -
                              nanoseconds(samples[from]->presentationTimeStamp());
  EXPECT_NEAR(static_cast<double>(frames) * 1e9 / 44100, static_cast<double>(stamped), oneRead);
}

TEST_F(CaptureTest, UnpluggedMicrophoneIsSilenceUntilItComesBackInTheSameTimeline) {
  const auto tone = playTone("virtmic_sink");
  auto capture =
      Linux::makePulseAudioCaptureFactory(audioServer_)->makeSourceCapture("virtual_mic");
  Received received;
  capture->start([&](SampleBufferRef sample) { received.add(std::move(sample)); });
  ASSERT_TRUE(waitForSound(received, 0)) << "the microphone never heard the tone";

  // Unplugged: the source's module goes, the tone still plays into the sink
  // behind it but nobody hears it.
  ASSERT_EQ(pactl({"unload-module", "module-remap-source"}), 0);
  const std::size_t atLoss = countOf(received);
  std::this_thread::sleep_for(std::chrono::milliseconds(800));
  const std::size_t beforeReturn = countOf(received);
  // Plugged in again under the same name.
  ASSERT_FALSE(
      loadModule({"module-remap-source", "source_name=virtual_mic", "master=virtmic_sink.monitor"})
          .empty());
  const CMTimeValue returned = hostTimeNow().value;
  const auto back = waitForSound(received, beforeReturn);
  ASSERT_TRUE(back) << "the returned microphone was never heard";
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const CMTimeValue stopping = hostTimeNow().value;
  capture->stop();

  std::lock_guard lock(received.mutex);
  const auto& samples = received.samples;
  // The stop waited for the fragment still on its way: the sound reaches the
  // instant it was asked to stop.
  EXPECT_GE(nanoseconds(samples.back()->presentationTimeStamp()) +
                nanoseconds(samples.back()->duration()),
            stopping);
  // And it is sound, not silence: the last buffer of some length is loud (one
  // after it, cut at the stop, may hold a few frames, too few to tell).
  const auto lastLong = std::find_if(samples.rbegin(), samples.rend(), [](const auto& sample) {
    return sample->audioBuffer()->frameCount >= 441;
  });
  ASSERT_NE(lastLong, samples.rend());
  EXPECT_TRUE(isLoud(*lastLong)) << "peak " << peakOf(**lastLong) << " in the buffer "
                                 << samples.rend() - lastLong << " of " << samples.size();
  // One timeline from the first buffer to the last: silence fills the loss.
  expectOneTimeline(samples);
  EXPECT_GE(silentNanoseconds(samples, atLoss, beforeReturn, 1e-6F), 600'000'000)
      << "the unplugged time is recorded as silence";
  EXPECT_LT(received.arrivals[*back] - returned, 1'500'000'000) << "heard again promptly";
  // The returned sound is stamped when it was captured, not behind the
  // silence: its stamp is within a few fragments of when it reached us.
  const CMTimeValue backStamp = nanoseconds(samples[*back]->presentationTimeStamp());
  EXPECT_LE(received.arrivals[*back] - backStamp, 100'000'000);
  EXPECT_GE(received.arrivals[*back] - backStamp, 0);
}

TEST_F(CaptureTest, SystemAudioFollowsTheDefaultSinkWhenItChangesAndWhenItGoes) {
  // Headphones plugged in and made the default; the speakers still play too.
  const std::string headphones = loadModule({"module-null-sink", "sink_name=headphones"});
  ASSERT_FALSE(headphones.empty());
  const auto speakerTone = playTone("speakers");
  auto capture = Linux::makePulseAudioCaptureFactory(audioServer_)->makeSystemAudioCapture();
  Received received;
  capture->start([&](SampleBufferRef sample) { received.add(std::move(sample)); });
  ASSERT_TRUE(waitForSound(received, 0)) << "the speakers are the default at first";

  ASSERT_EQ(pactl({"set-default-sink", "headphones"}), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(1200));
  const std::size_t onHeadphones = countOf(received);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  {
    std::lock_guard lock(received.mutex);
    ASSERT_GT(received.samples.size(), onHeadphones);
    for (std::size_t i = onHeadphones; i < received.samples.size(); ++i) {
      ASSERT_LT(peakOf(*received.samples[i]), 1e-6F)
          << "the silent headphones are recorded, not the speakers";
    }
  }
  const auto headphoneTone = playTone("headphones");
  const auto heard = waitForSound(received, onHeadphones);
  ASSERT_TRUE(heard) << "the headphones are heard";

  // Back to the speakers, with sound on both sides of the switch.
  const auto returnTone = playTone("speakers", true);
  std::this_thread::sleep_for(std::chrono::milliseconds(600));
  const std::size_t beforeReturn = countOf(received);
  ASSERT_EQ(pactl({"set-default-sink", "speakers"}), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  {
    std::lock_guard lock(received.mutex);
    expectContinuousAcross(received, *heard + 1, beforeReturn);
  }
  ASSERT_EQ(pactl({"set-default-sink", "headphones"}), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));

  // Unplugged: the server falls back to another sink, and so do we.
  ASSERT_EQ(pactl({"unload-module", headphones}), 0);
  const std::size_t afterUnplug = countOf(received);
  const auto fallbackTone = playTone("@DEFAULT_SINK@");
  ASSERT_TRUE(waitForSound(received, afterUnplug + 1)) << "the new default sink is heard";
  capture->stop();
  std::lock_guard lock(received.mutex);
  expectOneTimeline(received.samples);
}

TEST_F(CaptureTest, RestartedServerIsSilenceThenSoundWithinTwoSecondsInOneTimeline) {
  auto tone = playTone("speakers");
  auto capture = Linux::makePulseAudioCaptureFactory(audioServer_)->makeSystemAudioCapture();
  Received received;
  capture->start([&](SampleBufferRef sample) { received.add(std::move(sample)); });
  ASSERT_TRUE(waitForSound(received, 0));

  restartServer();
  const CMTimeValue serverBack = hostTimeNow().value;
  const std::size_t atRestart = countOf(received);
  // Heard as soon as it plays, so what is timed is our way back.
  tone = playTone("speakers", true);
  const auto back = waitForSound(received, atRestart);
  ASSERT_TRUE(back) << "nothing heard from the restarted server";
  capture->stop();

  std::lock_guard lock(received.mutex);
  EXPECT_LT(received.arrivals[*back] - serverBack, 2'000'000'000);
  expectOneTimeline(received.samples);
}

TEST_F(CaptureTest, SessionOutlivesTheServerOnSilenceAndStopsPromptly) {
  auto service =
      Linux::Capture::makeDeviceCaptureService({Linux::makePulseDeviceBackend(audioServer_)});
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
  session->setRuntimeErrorHandler([&](ErrorRef error) { received.fail(error); });
  session->startRunning();
  ASSERT_TRUE(received.waitFor([&] { return !received.samples.empty(); }));

  stopServer();
  const std::size_t atLoss = countOf(received);
  std::this_thread::sleep_for(std::chrono::milliseconds(700));
  EXPECT_TRUE(session->isRunning());
  const auto stopping = std::chrono::steady_clock::now();
  session->stopRunning();
  EXPECT_LT(std::chrono::steady_clock::now() - stopping, std::chrono::seconds(1));

  std::lock_guard lock(received.mutex);
  EXPECT_TRUE(received.failures.empty());
  EXPECT_GE(silentNanoseconds(received.samples, atLoss, received.samples.size(), 1e-6F),
            500'000'000)
      << "the time without a server is recorded as silence";
  expectOneTimeline(received.samples);
}

} // namespace
