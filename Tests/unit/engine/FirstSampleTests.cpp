#include "EngineFixture.h"

namespace {

using namespace EngineTesting;
using Vistrel::Error;
using Vistrel::RecordingOptions;
using Vistrel::Target;

class FirstSampleTest : public EngineTest {
protected:
  void SetUp() override {
    EngineTest::SetUp();
    recorder.setOnError(
        [this](const Error& error) { reported.push_back(error.localizedDescription()); });
  }

  // Delivers `sample` until the start ends; the message it failed with.
  std::string startFailureWith(const std::function<SampleBufferRef()>& sample) {
    const std::size_t index = platform.streams().size();
    auto started = startAsync(Target::screen, RecordingOptions(fields("/tmp/a.mp4", "1")));
    auto stream = platform.waitForStream(index);
    EXPECT_TRUE(stream && stream->waitUntilStarted());
    try {
      deliverUntilStarted(started, [&] { stream->deliver(SCStreamOutputType::screen, sample()); });
    } catch (const Error& error) {
      return error.localizedDescription();
    }
    return "started";
  }

  std::vector<std::string> reported;
};

TEST_F(FirstSampleTest, OnlyACompleteFrameStartsTheWriterAtItsOwnTime) {
  auto started = startAsync(Target::screen, RecordingOptions(fields("/tmp/a.mp4", "1")));
  auto stream = platform.waitForStream();
  ASSERT_TRUE(stream && stream->waitUntilStarted());
  std::int64_t time = 1000;
  for (int round = 0; round < 20; ++round) {
    for (const auto status : {Platform::SCFrameStatus::idle, Platform::SCFrameStatus::blank,
                              Platform::SCFrameStatus::started}) {
      stream->deliverAndWait(SCStreamOutputType::screen, frame(ms(time += 10), status));
    }
    for (const auto shape : {FrameInfoShape::noAttachments, FrameInfoShape::emptyAttachments,
                             FrameInfoShape::statusNotInteger, FrameInfoShape::statusMissing}) {
      stream->deliverAndWait(
          SCStreamOutputType::screen,
          makeVideoSample({.presentationTime = ms(time += 10), .frameInfo = shape}));
    }
    stream->deliverAndWait(SCStreamOutputType::screen, makeInvalidSample(ms(time += 10)));
  }
  EXPECT_EQ(started.wait_for(0ms), std::future_status::timeout);
  EXPECT_EQ(writer()->startWritingCount(), 0);

  deliverUntilStarted(
      started, [&] { stream->deliverAndWait(SCStreamOutputType::screen, frame(ms(time + 10))); });
  EXPECT_EQ(writer()->startWritingCount(), 1);
  EXPECT_EQ(writer()->sessionStartTime(), std::optional<CMTime>(ms(time + 10)));
  const auto video = appendedTimes(MediaType::video);
  ASSERT_FALSE(video.empty());
  EXPECT_EQ(video.front(), ms(time + 10));
  EXPECT_EQ(
      writer()->input(MediaType::video)->outputSettings().at(Platform::AVVideoWidthKey).integer(),
      64);
  recorder.stop();
  EXPECT_TRUE(reported.empty());
  EXPECT_TRUE(writer()->misuses().empty());
}

TEST_F(FirstSampleTest, RefusedVideoInput) {
  platform.refuseWriterInputs(MediaType::video, true);
  EXPECT_EQ(startFailureWith([] { return frame(ms(1000)); }),
            "Could not start recording: Could not add video input.");
  EXPECT_TRUE(reported.empty()) << "the throw alone reports a start failure";
  EXPECT_EQ(writer()->startWritingCount(), 0);
  EXPECT_EQ(platform.callLog().count("makeAssetWriterInput(video)"), 1U);
  EXPECT_EQ(writer()->status(), Platform::AVAssetWriterStatus::cancelled)
      << "a failed start leaves no file";
}

TEST_F(FirstSampleTest, StartThatNeverGetsAUsableSampleFailsInBoundedTime) {
  auto started = startAsync(Target::screen, RecordingOptions(fields("/tmp/a.mp4", "1")));
  auto stream = platform.waitForStream();
  ASSERT_TRUE(stream && stream->waitUntilStarted());
  stream->deliverAndWait(SCStreamOutputType::screen,
                         frame(ms(1000), Platform::SCFrameStatus::idle));
  ASSERT_EQ(started.wait_for(Vistrel::RecordingSession::firstSampleTimeout + 10s),
            std::future_status::ready);
  try {
    started.get();
    FAIL() << "started";
  } catch (const Error& error) {
    EXPECT_EQ(error.localizedDescription(),
              "Could not start recording: No usable picture or sound arrived in time.");
  }
  EXPECT_TRUE(reported.empty());
  EXPECT_EQ(writer()->startWritingCount(), 0);
  EXPECT_EQ(writer()->status(), Platform::AVAssetWriterStatus::cancelled);
  EXPECT_FALSE(stream->isCapturing());
  EXPECT_THROW(recorder.stop(), Error) << "nothing is left to stop";
}

TEST_F(FirstSampleTest, FailedStartWritingAndFrameWithoutFormat) {
  platform.failStartWriting(Platform::makeError("W", 5, "Permission denied"));
  EXPECT_EQ(startFailureWith([] { return frame(ms(1000)); }),
            "Could not start recording: Permission denied");
  platform.clearFailures();

  EXPECT_EQ(startFailureWith([] { return makeSampleWithoutFormatDescription(ms(1000)); }),
            "Could not start recording.");
  EXPECT_TRUE(reported.empty());
}

TEST_F(FirstSampleTest, VideoSettingsByCodec) {
  struct Case {
    Vistrel::VideoCodec codec;
    const char* destination;
    std::size_t keyCount;
    const char* primaries;
  };
  for (const Case& testCase :
       {Case{Vistrel::VideoCodec::proRes422, "/tmp/p.mov", 3, nullptr},
        Case{Vistrel::VideoCodec::hevc, "/tmp/h.mov", 0, Platform::AVVideoColorPrimaries_P3_D65},
        Case{Vistrel::VideoCodec::h264, "/tmp/a.mp4", 0,
             Platform::AVVideoColorPrimaries_ITU_R_709_2}}) {
    auto options = fields(testCase.destination, "1");
    options.videoCodec = testCase.codec;
    startVideo(Target::screen, RecordingOptions(options));
    const auto& settings = platform.writers().back()->input(MediaType::video)->outputSettings();
    if (testCase.keyCount != 0) {
      EXPECT_EQ(settings.size(), testCase.keyCount);
      EXPECT_EQ(*settings.at(Platform::AVVideoCodecKey).text(),
                Platform::AVVideoCodecTypeAppleProRes422);
    }
    if (testCase.primaries) {
      const auto* colour = settings.at(Platform::AVVideoColorPropertiesKey).dictionary();
      ASSERT_NE(colour, nullptr);
      EXPECT_EQ(*colour->at(Platform::AVVideoColorPrimariesKey).text(), testCase.primaries);
      EXPECT_EQ(*colour->at(Platform::AVVideoYCbCrMatrixKey).text(),
                Platform::AVVideoYCbCrMatrix_ITU_R_709_2);
    }
    EXPECT_EQ(settings.at(Platform::AVVideoHeightKey).integer(), 36);
    recorder.stop();
  }
  // Without an assistant the codec key is the only one left to choose.
  platform.setOutputSettingsAssistantAvailable(false);
  startVideo(Target::screen, RecordingOptions(fields("/tmp/b.mp4", "1")));
  const auto& settings = platform.writers().back()->input(MediaType::video)->outputSettings();
  EXPECT_EQ(*settings.at(Platform::AVVideoCodecKey).text(), Platform::AVVideoCodecTypeH264);
  EXPECT_EQ(settings.size(), 4U);
  recorder.stop();
}

TEST_F(FirstSampleTest, ExternalDeviceRecordsThroughItsCaptureSession) {
  platform.addExternalDevice({"phone", "Phone", {videoDeviceFormat(1170, 2532)}});
  auto options = fields("/tmp/phone.mov", "phone");
  options.recordSystemAudio = true;
  options.microphoneDeviceID = stereoMicrophone; // on 15.0 still its own session
  auto started = startAsync(Target::externalDevice, RecordingOptions(options));
  auto deviceSession = platform.waitForCaptureSession(1);
  ASSERT_TRUE(deviceSession && deviceSession->waitUntilRunning());
  deliverUntilStarted(started, [&] {
    deviceSession->deliverAndWait(CaptureOutputKind::videoData, frame(ms(2000)));
  });
  EXPECT_TRUE(platform.streams().empty());
  EXPECT_EQ(deviceSession->output(CaptureOutputKind::videoData)->queueLabel(),
            std::optional<std::string>("deviceQueue"));
  EXPECT_EQ(deviceSession->output(CaptureOutputKind::audioData)->queueLabel(),
            std::optional<std::string>("deviceAudioQueue"));
  EXPECT_EQ(CMTimeCompare(deviceSession->output(CaptureOutputKind::videoData)->minFrameDuration(),
                          CMTimeMake(1, static_cast<CMTimeScale>(options.framesPerSecond))),
            0)
      << "the device paced at the frame rate asked for";
  deviceSession->deliverAndWait(CaptureOutputKind::audioData, audioChunk(ms(2000)));
  platform.captureSessions()[0]->deliverAndWait(CaptureOutputKind::audioData, audioChunk(ms(2000)));
  EXPECT_EQ(appendedTimes(MediaType::audio, 0), std::vector<CMTime>{ms(2000)}) << "system audio";
  EXPECT_EQ(appendedTimes(MediaType::audio, 1), std::vector<CMTime>{ms(2000)}) << "microphone";
  recorder.stop();
  EXPECT_FALSE(deviceSession->isRunning());
}

} // namespace
