#include "Platform/Error.h"
#include "Platform/OutputSettings.h"
#include "Vistrel/Error.h"
#include "Vistrel/FailureCauses.h"
#include "Vistrel/RecordingOptions.h"
#include "Vistrel/SharedErrors.h"
#include "Vistrel/VideoCodec.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <memory>
#include <tuple>
#include <unordered_set>

namespace {

using Vistrel::Error;
using Vistrel::VideoCodec;

std::shared_ptr<Error> nested(Error error) {
  return std::make_shared<Error>(std::move(error));
}

TEST(ErrorMessages, EveryCaseReadsItsFixedText) {
  const std::vector<std::pair<Error, std::string>> table = {
      {Error::targetNotFound("12345"), "Target with id 12345 not found."},
      {Error::couldNotAddInput("video"), "Could not add video input."},
      {Error::couldNotStartStream(), "Could not start recording."},
      {Error::microphoneNotFound("mic"), "Microphone with id mic not found"},
      {Error::unsupportedFileExtension("mkv", false),
       "Invalid file extension. Only .mp4, .mov and .m4v are supported for video recordings. "
       "Got mkv."},
      {Error::unsupportedFileExtension("mp3", true),
       "Invalid file extension. Only .m4a is supported for audio recordings. Got mp3."},
      {Error::invalidFileExtension("mp4", "proRes422"),
       "Invalid file extension. .mp4 does not support proRes422."},
      {Error::unknown(Platform::makeError("X", 3, "the device went away")),
       "An unknown error has occurred: the device went away"},
      {Error::recorderAlreadyStarted(),
       "Recorder has already started. Each recorder instance can only be started once."},
      {Error::recorderNotStarted(), "Recorder needs to be started first."},
      {Error::noTargetProvided(), "No target provider."},
      {Error::noDisplaysConnected(), "At least one display must be connected."},
      {Error::noPermissions(), "Missing screen capture permissions."},
      {Error::unsupportedVideoCodec(), "VideoCodec not supported."},
      {Error::unsupportedSystemAudio("loud"),
       "System audio loud not supported. Use all or application."},
  };
  for (const auto& [error, message] : table) {
    EXPECT_EQ(error.localizedDescription(), message);
    EXPECT_STREQ(error.what(), message.c_str());
  }
}

TEST(ErrorMessages, EmptyPayloadsAreInsertedVerbatim) {
  EXPECT_EQ(Error::microphoneNotFound("").localizedDescription(), "Microphone with id  not found");
  EXPECT_EQ(Error::targetNotFound("").localizedDescription(), "Target with id  not found.");
  EXPECT_EQ(Error::unsupportedFileExtension("", false).localizedDescription(),
            "Invalid file extension. Only .mp4, .mov and .m4v are supported for video "
            "recordings. Got .");
  EXPECT_EQ(Error::couldNotStartStream(Platform::makeError("X", 1, "")).localizedDescription(),
            "Could not start recording: ");
  EXPECT_EQ(Error::unknown(Platform::makeError("X", 1, "")).localizedDescription(),
            "An unknown error has occurred: ");
}

TEST(ErrorMessages, NestedEngineErrorsRecurse) {
  const Error twice = Error::couldNotStartStream(
      nested(Error::couldNotStartStream(nested(Error::noPermissions()))));
  EXPECT_EQ(twice.localizedDescription(),
            "Could not start recording: Could not start recording: Missing screen capture "
            "permissions.");
  EXPECT_EQ(Error::couldNotStartStream(nested(Error::couldNotAddInput("systemAudio")))
                .localizedDescription(),
            "Could not start recording: Could not add systemAudio input.");
  // The underlying error is shared, and keeps its own kind.
  const auto& inner = dynamic_cast<const Error&>(*twice.underlyingError());
  EXPECT_EQ(inner.kind(), Error::Kind::couldNotStartStream);
}

TEST(ErrorMessages, SharedCopyKeepsTypeAndText) {
  const Platform::SystemError system("Domain", 7, "disk full");
  const auto shared = Vistrel::shareError(system);
  const auto* copy = dynamic_cast<const Platform::SystemError*>(shared.get());
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->code(), 7);
  EXPECT_STREQ(Vistrel::shareError(std::runtime_error("plain"))->what(), "plain");
  const auto engine = Vistrel::shareError(Error::noPermissions());
  EXPECT_EQ(dynamic_cast<const Error&>(*engine).kind(), Error::Kind::noPermissions);
}

TEST(ErrorCauses, PlatformCodesTellWhatAProgramCanDo) {
  using Cause = Error::Cause;
  using Vistrel::FailureOrigin;
  const auto cause = [](Platform::ErrorRef error, FailureOrigin origin) {
    return Vistrel::recordingFailure(std::move(error), origin, "unexplained").cause();
  };
  const auto system = [](const char* domain, std::int64_t code) {
    return Platform::makeError(domain, code, "text");
  };
  namespace Domain = Platform::ErrorDomain;
  namespace Capture = Platform::MediaCaptureCode;
  const std::vector<std::tuple<Platform::ErrorRef, FailureOrigin, Cause>> table = {
      {system(Domain::screenCapture, Platform::captureSourceGoneCode), FailureOrigin::stream,
       Cause::targetGone},
      {system(Domain::screenCapture, Platform::displayConnectionLostCode), FailureOrigin::stream,
       Cause::serverLost},
      {system(Domain::screenCapture, -3811), FailureOrigin::stream, Cause::other},
      {system(Domain::mediaCapture, Capture::connectionTerminated), FailureOrigin::stream,
       Cause::serverLost},
      {system(Domain::mediaCapture, Capture::connectionRefused), FailureOrigin::captureSession,
       Cause::serverLost},
      {system(Domain::mediaCapture, Capture::deviceKilled), FailureOrigin::stream,
       Cause::deviceUnplugged},
      {system(Domain::mediaCapture, 2), FailureOrigin::captureSession, Cause::deviceUnplugged},
      {nullptr, FailureOrigin::captureSession, Cause::deviceUnplugged},
      {system(Domain::mediaWriting, ENOSPC), FailureOrigin::writer, Cause::outputNotWritable},
      {system(Domain::mediaWriting, -EDQUOT), FailureOrigin::writer, Cause::outputNotWritable},
      {system(Domain::mediaWriting, ENOENT), FailureOrigin::writer, Cause::outputNotWritable},
      {system(Domain::mediaWriting, ENOMEM), FailureOrigin::writer, Cause::other},
      {nullptr, FailureOrigin::writer, Cause::other},
      {system("Elsewhere", ENOSPC), FailureOrigin::writer, Cause::other},
  };
  for (const auto& [error, origin, expected] : table) {
    EXPECT_EQ(cause(error, origin), expected)
        << (error ? error->localizedDescription() : "no error") << " from origin "
        << static_cast<int>(origin);
  }
  const Error failure = Vistrel::recordingFailure(nullptr, FailureOrigin::writer, "unexplained");
  EXPECT_EQ(failure.localizedDescription(), "An unknown error has occurred: unexplained");
  EXPECT_EQ(Error::noPermissions().cause(), Cause::other);
  // A start failure tells a cancelled pick and a taken or unwritable
  // destination, also when nested.
  const std::vector<std::pair<Error, Cause>> startFailures = {
      {Error::couldNotStartStream(
           system(Domain::screenCapture, Platform::userDeclinedScreenCaptureCode)),
       Cause::pickCancelled},
      {Error::couldNotStartStream(system(Domain::mediaWriting, EEXIST)), Cause::destinationExists},
      {Error::couldNotStartStream(system(Domain::mediaWriting, ELOOP)), Cause::destinationExists},
      {Error::couldNotStartStream(system(Domain::mediaWriting, EACCES)), Cause::outputNotWritable},
      {Error::couldNotStartStream(std::make_shared<Error>(
           Error::couldNotStartStream(system(Domain::mediaWriting, EEXIST)))),
       Cause::destinationExists},
      {Error::couldNotStartStream(std::make_shared<Error>(Error::couldNotAddInput("video"))),
       Cause::other},
      {Error::couldNotStartStream(), Cause::other},
  };
  for (const auto& [error, expected] : startFailures) {
    EXPECT_EQ(error.cause(), expected) << error.what();
  }
  // A writer may throw its failure while it takes a sample.
  try {
    throw Platform::SystemError(Domain::mediaWriting, -EIO, "Could not write the file");
  } catch (...) {
    EXPECT_EQ(Vistrel::currentExceptionAsError().cause(), Cause::outputNotWritable);
  }
}

TEST(VideoCodecNames, RoundTripAndExactMatching) {
  const std::vector<std::pair<VideoCodec, std::string>> names = {
      {VideoCodec::h264, "h264"},
      {VideoCodec::hevc, "hevc"},
      {VideoCodec::proRes422, "proRes422"},
      {VideoCodec::proRes4444, "proRes4444"}};
  for (const auto& [codec, name] : names) {
    EXPECT_EQ(codec.asString(), name);
    EXPECT_EQ(VideoCodec::fromRawValue(name), codec);
  }
  for (const std::string refused : {"HEVC", " hevc", "hevc ", "", "prores422", "h265"}) {
    try {
      VideoCodec::fromRawValue(refused);
      ADD_FAILURE() << "accepted '" << refused << "'";
    } catch (const Error& error) {
      EXPECT_EQ(error.kind(), Error::Kind::unsupportedVideoCodec);
    }
  }
}

TEST(SystemAudioNames, NamesRoundTripAndAnyOtherTextIsRefusedWithIt) {
  for (const auto choice : {Vistrel::SystemAudio::all, Vistrel::SystemAudio::application}) {
    EXPECT_EQ(Vistrel::SystemAudio::fromRawValue(Vistrel::SystemAudio(choice).asString()), choice);
  }
  EXPECT_EQ(Vistrel::SystemAudio(Vistrel::SystemAudio::application).asString(), "application");
  for (const std::string refused : {"All", "application ", "", "app"}) {
    try {
      Vistrel::SystemAudio::fromRawValue(refused);
      ADD_FAILURE() << "accepted '" << refused << "'";
    } catch (const Error& error) {
      EXPECT_EQ(error.kind(), Error::Kind::unsupportedSystemAudio);
      EXPECT_EQ(error.text(), refused);
    }
  }
}

TEST(VideoCodecNames, PlatformIdentifiersAreOneToOne) {
  EXPECT_EQ(VideoCodec(VideoCodec::h264).asAVVideoCodec(), Platform::AVVideoCodecTypeH264);
  EXPECT_EQ(VideoCodec(VideoCodec::hevc).asAVVideoCodec(), Platform::AVVideoCodecTypeHEVC);
  EXPECT_EQ(VideoCodec(VideoCodec::proRes422).asAVVideoCodec(),
            Platform::AVVideoCodecTypeAppleProRes422);
  EXPECT_EQ(VideoCodec(VideoCodec::proRes4444).asAVVideoCodec(),
            Platform::AVVideoCodecTypeAppleProRes4444);
  const std::unordered_set<VideoCodec> codecs = {VideoCodec::h264, VideoCodec::hevc,
                                                 VideoCodec::proRes422, VideoCodec::proRes4444,
                                                 VideoCodec::h264};
  EXPECT_EQ(codecs.size(), 4U);
}

TEST(RecordingOptionsFields, DefaultsAndStoredValues) {
  const Vistrel::RecordingOptions defaults({.destination = "/tmp/a.mov",
                                            .targetID = std::nullopt,
                                            .cropRect = std::nullopt,
                                            .microphoneDeviceID = std::nullopt});
  EXPECT_EQ(defaults.framesPerSecond(), 60);
  EXPECT_TRUE(defaults.showCursor());
  EXPECT_FALSE(defaults.highlightClicks());
  EXPECT_EQ(defaults.videoCodec(), VideoCodec::h264);
  EXPECT_FALSE(defaults.losslessAudio());
  EXPECT_FALSE(defaults.recordSystemAudio());
  EXPECT_FALSE(defaults.targetID());
  EXPECT_EQ(defaults.systemAudio(), Vistrel::SystemAudio::all) << "everything, as before";
  EXPECT_FALSE(defaults.echoCancellation()) << "the raw microphone, as before";

  // Nothing is validated or normalised.
  const Vistrel::RecordingOptions given({.destination = "/tmp/A.MP4",
                                         .targetID = "",
                                         .framesPerSecond = -5,
                                         .cropRect = Vistrel::Rect{1.5, 2, 100.7, 50.2},
                                         .showCursor = false,
                                         .videoCodec = VideoCodec::proRes4444,
                                         .microphoneDeviceID = " mic "});
  EXPECT_EQ(given.destination(), "/tmp/A.MP4");
  EXPECT_EQ(given.targetID(), std::optional<std::string>(""));
  EXPECT_EQ(given.framesPerSecond(), -5);
  EXPECT_EQ(given.cropRect(), (Vistrel::Rect{1.5, 2, 100.7, 50.2}));
  EXPECT_FALSE(given.showCursor());
  EXPECT_EQ(given.videoCodec(), VideoCodec::proRes4444);
  EXPECT_EQ(given.microphoneDeviceID(), std::optional<std::string>(" mic "));
}

} // namespace
