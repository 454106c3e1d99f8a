#include "EngineFixture.h"

namespace {

using namespace EngineTesting;
using Vistrel::Error;
using Vistrel::RecordingOptions;
using Vistrel::Target;
using Vistrel::VideoCodec;

class StartUpTest : public EngineTest {
protected:
  void SetUp() override {
    EngineTest::SetUp();
    recorder.setOnError(
        [this](const Error& error) { reported.push_back(error.localizedDescription()); });
  }

  // The error of a start that fails without needing a sample.
  Error startFailure(Target target, const RecordingOptions& options) {
    try {
      recorder.start(target, options);
    } catch (const Error& error) {
      EXPECT_THROW(recorder.stop(), Error) << "a failed start leaves the recorder idle";
      return error;
    }
    ADD_FAILURE() << "the start succeeded";
    return Error::recorderNotStarted();
  }

  std::vector<std::string> reported;
};

TEST_F(StartUpTest, RequestsRefusedBeforeCaptureReportOnlyThroughStart) {
  for (const Target target : {Target::screen, Target::window, Target::externalDevice}) {
    EXPECT_EQ(startFailure(target, RecordingOptions(fields("/tmp/a.mp4", std::nullopt))).kind(),
              Error::Kind::noTargetProvided);
  }
  auto zeroRate = fields("/tmp/a.mp4", "1");
  zeroRate.framesPerSecond = 0;
  EXPECT_EQ(startFailure(Target::screen, RecordingOptions(zeroRate)).localizedDescription(),
            "Could not start recording: framesPerSecond must be between 1 and 2147483647, got 0");
  auto hugeRate = fields("/tmp/a.mp4", "1");
  hugeRate.framesPerSecond = 2147483648LL;
  EXPECT_EQ(startFailure(Target::window, RecordingOptions(hugeRate)).localizedDescription(),
            "Could not start recording: framesPerSecond must be between 1 and 2147483647, got "
            "2147483648");
  EXPECT_EQ(startFailure(Target::audioOnly, RecordingOptions(fields("/tmp/a.m4a", std::nullopt)))
                .localizedDescription(),
            "Could not start recording: An audioOnly recording needs recordSystemAudio or a "
            "microphoneDeviceID");
  EXPECT_FALSE(platform.callLog().indexOf("shareableContent(false, false)"));

  EXPECT_EQ(startFailure(Target::screen, RecordingOptions(fields("/tmp/a.mp4", "012")))
                .localizedDescription(),
            "Target with id 012 not found.");
  EXPECT_EQ(startFailure(Target::window, RecordingOptions(fields("/tmp/a.mp4", "")))
                .localizedDescription(),
            "Target with id  not found.");
  EXPECT_TRUE(platform.streams().empty());
  EXPECT_TRUE(reported.empty());
}

TEST_F(StartUpTest, ShareableContentFailures) {
  platform.failShareableContent(Platform::makeError("ScreenCapture", -3801, "declined"));
  EXPECT_EQ(
      startFailure(Target::externalDevice, RecordingOptions(fields("/tmp/a.mp4", "x"))).kind(),
      Error::Kind::noPermissions);
  platform.failShareableContent(Platform::makeError("ScreenCapture", -3802, "server gone"));
  EXPECT_EQ(startFailure(Target::screen, RecordingOptions(fields("/tmp/a.mp4", "1")))
                .localizedDescription(),
            "Could not start recording: server gone");
  EXPECT_TRUE(reported.empty());
}

TEST_F(StartUpTest, AudioOnlyNeedsADisplay) {
  SimulatedPlatform empty;
  empty.addAudioDevice({monoMicrophone, "Mono", {audioDeviceFormat(1)}});
  Platform::install(empty.services());
  auto options = fields("/tmp/a.m4a", std::nullopt);
  options.recordSystemAudio = true;
  EXPECT_EQ(startFailure(Target::audioOnly, RecordingOptions(options)).kind(),
            Error::Kind::noDisplaysConnected);
}

TEST_F(StartUpTest, RefusedStreamOutputStartsNothing) {
  platform.refuseStreamOutput(SCStreamOutputType::audio, Platform::makeError("S", 1, "no audio"));
  auto options = fields("/tmp/a.mp4", "1");
  options.recordSystemAudio = true;
  EXPECT_EQ(startFailure(Target::screen, RecordingOptions(options)).localizedDescription(),
            "Could not start recording: no audio");
  EXPECT_FALSE(platform.callLog().indexOf("stream.startCapture"));
  EXPECT_FALSE(platform.callLog().indexOf("makeAssetWriter(/tmp/a.mp4)"));
  EXPECT_TRUE(reported.empty());
}

TEST_F(StartUpTest, ContainerAndCodecTable) {
  struct Case {
    Target target;
    std::string destination;
    VideoCodec codec;
    std::string expected; // a message, or the accepted file type's name
  };
  const std::vector<Case> cases = {
      {Target::audioOnly, "/tmp/a.m4a", VideoCodec::proRes422, "m4a"},
      {Target::audioOnly, "/tmp/a.mp4", VideoCodec::h264,
       "Invalid file extension. Only .m4a is supported for audio recordings. Got mp4."},
      {Target::audioOnly, "/tmp/noextension", VideoCodec::h264,
       "Invalid file extension. Only .m4a is supported for audio recordings. Got ."},
      {Target::screen, "/tmp/a.mp4", VideoCodec::hevc, "mp4"},
      {Target::screen, "/tmp/a.m4v", VideoCodec::h264, "m4v"},
      {Target::screen, "/tmp/a.mov", VideoCodec::proRes4444, "mov"},
      {Target::screen, "/tmp/a.mp4", VideoCodec::proRes422,
       "Invalid file extension. .mp4 does not support proRes422."},
      {Target::window, "/tmp/a.m4v", VideoCodec::proRes4444,
       "Invalid file extension. .m4v does not support proRes4444."},
      {Target::screen, "/tmp/a.MP4", VideoCodec::h264,
       "Invalid file extension. Only .mp4, .mov and .m4v are supported for video recordings. "
       "Got MP4."},
      {Target::externalDevice, "/tmp/a.m4a", VideoCodec::h264,
       "Invalid file extension. Only .mp4, .mov and .m4v are supported for video recordings. "
       "Got m4a."},
      {Target::screen, "/tmp/dir.mp4/file", VideoCodec::h264,
       "Invalid file extension. Only .mp4, .mov and .m4v are supported for video recordings. "
       "Got ."},
  };
  // An accepted container fails later, at the stream's start.
  platform.failStreamStart(Platform::makeError("S", 2, "capture refused"));
  const std::map<Platform::AVFileType, std::string> typeNames = {
      {Platform::AVFileType::appleM4A, "m4a"},
      {Platform::AVFileType::mpeg4, "mp4"},
      {Platform::AVFileType::appleM4V, "m4v"},
      {Platform::AVFileType::quickTimeMovie, "mov"}};
  platform.addExternalDevice({"phone", "Phone", {videoDeviceFormat(100, 100)}});
  for (const Case& testCase : cases) {
    auto options = fields(testCase.destination, testCase.target == Target::screen ? "1" : "77");
    options.videoCodec = testCase.codec;
    options.recordSystemAudio = true;
    const std::size_t writersBefore = platform.writers().size();
    reported.clear();
    const Error error = startFailure(testCase.target, RecordingOptions(options));
    EXPECT_TRUE(reported.empty()) << testCase.destination << ": the throw alone reports it";
    if (platform.writers().size() > writersBefore) {
      EXPECT_EQ(error.localizedDescription(), "Could not start recording: capture refused");
      EXPECT_EQ(typeNames.at(platform.writers().back()->fileType()), testCase.expected)
          << testCase.destination;
    } else {
      EXPECT_EQ(error.localizedDescription(), testCase.expected);
    }
  }
}

TEST_F(StartUpTest, WriterSetUpFailuresAreCleanedUpAndOnlyThrown) {
  auto options = fields("/tmp/a.mov", "1");
  options.recordSystemAudio = true;
  options.microphoneDeviceID = "nobody";

  platform.setCapabilities({.streamCapturesMicrophone = false,
                            .streamHighlightsClicks = false}); // the microphone has its own session
  EXPECT_EQ(startFailure(Target::screen, RecordingOptions(options)).localizedDescription(),
            "Microphone with id nobody not found");
  EXPECT_TRUE(platform.callLog().isBefore("writer.addInput(audio)",
                                          "discoverDevices(microphone, external; audio)"));
  EXPECT_FALSE(platform.callLog().indexOf("stream.startCapture"));

  platform.addAudioDevice({"silent", "No formats", {}});
  platform.addAudioDevice({"layoutless", "No layout", {audioDeviceFormatWithoutChannelLayout()}});
  for (const std::string microphone : {"silent", "layoutless"}) {
    options.microphoneDeviceID = microphone;
    EXPECT_EQ(startFailure(Target::screen, RecordingOptions(options)).kind(),
              Error::Kind::microphoneNotFound);
  }

  options.microphoneDeviceID = std::nullopt;
  platform.refuseWriterInputs(MediaType::audio, true);
  EXPECT_EQ(startFailure(Target::screen, RecordingOptions(options)).localizedDescription(),
            "Could not start recording: Could not add systemAudio input.");
  platform.refuseWriterInputs(MediaType::audio, false);

  platform.failAssetWriterCreation(Platform::makeError("W", 17, "File exists"));
  EXPECT_EQ(startFailure(Target::screen, RecordingOptions(options)).localizedDescription(),
            "Could not start recording: File exists");
  EXPECT_TRUE(reported.empty()) << "onError hears of no start failure";
}

TEST_F(StartUpTest, MicrophoneChannelCountsByRoute) {
  auto options = fields("/tmp/a.mov", "1");
  options.recordSystemAudio = true;
  options.microphoneDeviceID = monoMicrophone;
  options.losslessAudio = true;

  platform.setCapabilities({.streamCapturesMicrophone = false, .streamHighlightsClicks = false});
  platform.failStreamStart(Platform::makeError("S", 2, "stop here"));
  startFailure(Target::screen, RecordingOptions(options));
  auto writer = platform.writers().back();
  const auto systemAudio = writer->input(MediaType::audio, 0);
  const auto microphone = writer->input(MediaType::audio, 1);
  ASSERT_TRUE(systemAudio && microphone);
  EXPECT_EQ(systemAudio->outputSettings().at(Platform::AVNumberOfChannelsKey).integer(), 2);
  EXPECT_EQ(microphone->outputSettings().at(Platform::AVNumberOfChannelsKey).integer(), 1);
  EXPECT_EQ(microphone->outputSettings().at(Platform::AVFormatIDKey).integer(),
            Platform::kAudioFormatAppleLossless);
  EXPECT_EQ(microphone->outputSettings().at(Platform::AVEncoderBitDepthHintKey).integer(), 16);
  EXPECT_EQ(microphone->outputSettings().at(Platform::AVSampleRateKey).integer(), 48000);
  EXPECT_TRUE(microphone->expectsMediaDataInRealTime());
  ASSERT_EQ(platform.captureSessions().size(), 1U);
  const auto microphoneOutput =
      platform.captureSessions()[0]->output(Platform::CaptureOutputKind::audioData);
  EXPECT_EQ(microphoneOutput->queueLabel(), std::optional<std::string>("microphoneQueue"));
  EXPECT_FALSE(microphoneOutput->cancelsEcho()) << "the microphone as it hears, unless asked";
  EXPECT_FALSE(platform.streams().back()->hasOutput(SCStreamOutputType::microphone));
  EXPECT_FALSE(platform.streams().back()->configuration().capturesApplicationAudioOnly);

  options.echoCancellation = true;
  options.systemAudio = Vistrel::SystemAudio::application;
  startFailure(Target::screen, RecordingOptions(options));
  EXPECT_TRUE(platform.captureSessions()
                  .back()
                  ->output(Platform::CaptureOutputKind::audioData)
                  ->cancelsEcho());
  EXPECT_TRUE(platform.streams().back()->configuration().capturesApplicationAudioOnly);
  options.echoCancellation = false;
  options.systemAudio = Vistrel::SystemAudio::all;

  platform.setCapabilities({.streamCapturesMicrophone = true, .streamHighlightsClicks = true});
  options.losslessAudio = false;
  startFailure(Target::screen, RecordingOptions(options));
  writer = platform.writers().back();
  EXPECT_EQ(writer->input(MediaType::audio, 1)
                ->outputSettings()
                .at(Platform::AVNumberOfChannelsKey)
                .integer(),
            2);
  EXPECT_EQ(writer->input(MediaType::audio, 1)
                ->outputSettings()
                .count(Platform::AVEncoderBitDepthHintKey),
            0U);
  EXPECT_EQ(
      writer->input(MediaType::audio, 0)->outputSettings().at(Platform::AVFormatIDKey).integer(),
      Platform::kAudioFormatMPEG4AAC);
  EXPECT_EQ(platform.captureSessions().size(), 2U) << "no new capture session on 15.0";
  const auto stream = platform.streams().back();
  EXPECT_TRUE(stream->hasOutput(SCStreamOutputType::microphone));
  EXPECT_TRUE(stream->configuration().captureMicrophone);
  EXPECT_EQ(stream->configuration().microphoneCaptureDeviceID,
            std::optional<std::string>(monoMicrophone));
}

TEST_F(StartUpTest, StreamConfigurationAndSizes) {
  auto crop = fields("/tmp/a.mp4", "1");
  crop.cropRect = Vistrel::Rect{3, 4, 100.7, 50.2};
  crop.framesPerSecond = 30;
  crop.highlightClicks = true;
  auto stream = startVideo(Target::screen, RecordingOptions(crop));
  ASSERT_TRUE(stream);
  auto configuration = stream->configuration();
  EXPECT_EQ(configuration.sourceRect, (Platform::CGRect{3, 4, 100.7, 50.2}));
  EXPECT_EQ(configuration.width, 200);
  EXPECT_EQ(configuration.height, 100);
  EXPECT_EQ(configuration.queueDepth, 6);
  EXPECT_EQ(configuration.minimumFrameInterval, CMTimeMake(1, 30));
  EXPECT_EQ(configuration.pixelFormat, Platform::kCVPixelFormatType_32BGRA);
  EXPECT_EQ(configuration.colorSpaceName, std::optional<std::string>(Platform::kCGColorSpaceSRGB));
  EXPECT_TRUE(configuration.showMouseClicks);
  EXPECT_FALSE(configuration.capturesAudio);
  EXPECT_EQ(platform.activities().size(), 1U);
  EXPECT_EQ(platform.activities()[0].options, 0x100000U);
  EXPECT_EQ(platform.activities()[0].reason, "Recording screen");
  recorder.stop();

  platform.setCapabilities({.streamCapturesMicrophone = false, .streamHighlightsClicks = false});
  auto whole = fields("/tmp/b.mov", "1");
  whole.videoCodec = VideoCodec::hevc;
  whole.highlightClicks = true;
  stream = startVideo(Target::screen, RecordingOptions(whole));
  configuration = stream->configuration();
  EXPECT_EQ(configuration.width, 2880);
  EXPECT_EQ(configuration.height, 1800);
  EXPECT_FALSE(configuration.sourceRect);
  EXPECT_FALSE(configuration.showMouseClicks) << "the stream cannot mark clicks";
  EXPECT_EQ(configuration.pixelFormat, Platform::kCVPixelFormatType_ARGB2101010LEPacked);
  EXPECT_EQ(configuration.colorSpaceName,
            std::optional<std::string>(Platform::kCGColorSpaceDisplayP3));
  recorder.stop();

  auto window = fields("/tmp/c.mov", "77");
  window.videoCodec = VideoCodec::proRes422;
  stream = startVideo(Target::window, RecordingOptions(window));
  configuration = stream->configuration();
  EXPECT_EQ(configuration.width, 640) << "a window is not scaled";
  EXPECT_EQ(configuration.height, 480);
  EXPECT_FALSE(configuration.pixelFormat);
  EXPECT_FALSE(configuration.colorSpaceName);
  ASSERT_TRUE(stream->filter().window());
  EXPECT_EQ(stream->filter().window()->windowID, windowID);
  recorder.stop();
}

TEST_F(StartUpTest, AudioOnlyRecordsFromTheFirstDisplayAtOneFramePerSecond) {
  auto options = fields("/tmp/a.m4a", std::nullopt);
  options.framesPerSecond = 0; // ignored for audio only
  options.recordSystemAudio = true;
  auto started = startAsync(Target::audioOnly, RecordingOptions(options));
  auto stream = platform.waitForStream();
  ASSERT_TRUE(stream && stream->waitUntilStarted());
  deliverUntilStarted(
      started, [&] { stream->deliverAndWait(SCStreamOutputType::audio, audioChunk(ms(5000))); });
  EXPECT_EQ(stream->configuration().minimumFrameInterval, CMTimeMake(1, 1));
  EXPECT_EQ(stream->configuration().width, 0);
  EXPECT_EQ(stream->filter().display()->displayID, displayID);
  EXPECT_EQ(writer()->sessionStartTime(), std::optional<CMTime>(ms(5000)));
  // Screen frames of an audio-only stream never make a video input.
  stream->deliverAndWait(SCStreamOutputType::screen, frame(ms(5100)));
  EXPECT_FALSE(writer()->input(MediaType::video));
  recorder.stop();
  EXPECT_TRUE(writer()->misuses().empty());
}

} // namespace
