#include "Vistrel/Devices.h"
#include "Vistrel/RecordingSession.h"

#include "Platform/Platform.h"
#include "Vistrel/FailureCauses.h"
#include "Vistrel/SharedErrors.h"

// Capture sources: the stream and its outputs, the microphone and external
// device capture sessions, their start, and the first-sample hand-over that
// starts the writer.

namespace Vistrel {

namespace {

// Adds a device input when the session allows it; a refused input is left out.
void addDeviceInput(Platform::MediaCaptureService& capture, Platform::AVCaptureSession& session,
                    const Platform::CaptureDeviceRef& device) {
  const auto input = capture.makeDeviceInput(device);
  if (session.canAddInput(input)) {
    session.addInput(input);
  }
}

// Delivers the output's samples to `delegate` on a new serial queue, and adds
// the output when the session allows it; a refused output is left out.
void attachDataOutput(Platform::AVCaptureSession& session, const Platform::CaptureOutputRef& output,
                      std::weak_ptr<Platform::AVCaptureDataOutputSampleBufferDelegate> delegate,
                      const char* queueLabel) {
  output->setSampleBufferDelegate(std::move(delegate), Platform::DispatchQueue::serial(queueLabel));
  if (session.canAddOutput(output)) {
    session.addOutput(output);
  }
}

Platform::CaptureDeviceRef findDevice(const std::vector<Platform::CaptureDeviceRef>& devices,
                                      const std::string& uniqueID) {
  for (const auto& device : devices) {
    if (device->uniqueID() == uniqueID) {
      return device;
    }
  }
  return nullptr;
}

// The channel count of the device's first format; absent when it has no
// usable one.
std::optional<int> firstFormatChannelCount(const Platform::AVCaptureDevice& device) {
  const std::vector<Platform::AVCaptureDeviceFormat> formats = device.formats();
  if (formats.empty() || !formats.front().formatDescription) {
    return std::nullopt;
  }
  const std::optional<int> count =
      formats.front().formatDescription->audioChannelLayoutChannelCount;
  if (!count || *count < 1) {
    return std::nullopt;
  }
  return count;
}

} // namespace

void RecordingSession::makeStream(const Platform::SCContentFilter& filter,
                                  const Platform::SCStreamConfiguration& configuration,
                                  const RecordingOptions& options) {
  std::shared_ptr<Platform::SCStream> stream =
      Platform::screenCapture().makeStream(filter, configuration, weak_from_this());
  {
    Lock lock(mutex_);
    stream_ = stream;
  }
  const auto addOutput = [&](Platform::SCStreamOutputType type) {
    try {
      stream->addStreamOutput(weak_from_this(), type, Platform::DispatchQueue::global());
    } catch (const std::exception& error) {
      throw Error::couldNotStartStream(shareError(error));
    }
  };
  addOutput(Platform::SCStreamOutputType::screen);
  if (options.recordSystemAudio()) {
    addOutput(Platform::SCStreamOutputType::audio);
  }
  if (options.microphoneDeviceID() && Platform::system().capabilities().streamCapturesMicrophone) {
    addOutput(Platform::SCStreamOutputType::microphone);
  }
}

bool RecordingSession::isMicrophoneFromStream(Target target,
                                              const RecordingOptions& options) const {
  return options.microphoneDeviceID() && target != Target::externalDevice &&
         Platform::system().capabilities().streamCapturesMicrophone;
}

int RecordingSession::setUpMicrophoneCaptureSession(const std::string& microphoneID,
                                                    bool cancelsEcho) {
  auto& capture = Platform::mediaCapture();
  const Platform::CaptureDeviceRef device = findDevice(
      capture.discoverDevices(
          {Platform::AVCaptureDeviceType::microphone, Platform::AVCaptureDeviceType::external},
          Platform::MediaType::audio, Platform::AVCaptureDevicePosition::unspecified),
      microphoneID);
  const std::optional<int> channelCount = device ? firstFormatChannelCount(*device) : std::nullopt;
  if (!channelCount) {
    throw Error::microphoneNotFound(microphoneID);
  }

  const std::shared_ptr<Platform::AVCaptureSession> session = capture.makeCaptureSession();
  {
    Lock lock(mutex_);
    microphoneCaptureSession_ = session;
  }
  watchRuntimeErrors(*session);
  addDeviceInput(capture, *session, device);
  const Platform::CaptureOutputRef output = capture.makeAudioDataOutput();
  output->setCancelsEcho(cancelsEcho);
  {
    Lock lock(mutex_);
    microphoneDataOutput_ = output;
  }
  attachDataOutput(*session, output, weak_from_this(), "microphoneQueue");
  return *channelCount;
}

void RecordingSession::setUpExternalDeviceCaptureSession(const RecordingOptions& options) {
  enableDalDevices();
  if (!options.targetID()) {
    throw Error::noTargetProvided();
  }
  auto& capture = Platform::mediaCapture();
  const Platform::CaptureDeviceRef device =
      findDevice(capture.discoverDevices({Platform::AVCaptureDeviceType::external}, std::nullopt,
                                         Platform::AVCaptureDevicePosition::unspecified),
                 *options.targetID());
  if (!device) {
    throw Error::targetNotFound(*options.targetID());
  }

  const std::shared_ptr<Platform::AVCaptureSession> session = capture.makeCaptureSession();
  {
    Lock lock(mutex_);
    externalDeviceCaptureSession_ = session;
  }
  watchRuntimeErrors(*session);
  addDeviceInput(capture, *session, device);
  // The device's frames are paced like a stream's: at most the frame rate asked for.
  const Platform::CaptureOutputRef videoOutput = capture.makeVideoDataOutput();
  videoOutput->setMinFrameDuration(
      CMTimeMake(1, static_cast<CMTimeScale>(options.framesPerSecond())));
  attachDataOutput(*session, videoOutput, weak_from_this(), "deviceQueue");
  const Platform::CaptureOutputRef audioOutput = capture.makeAudioDataOutput();
  {
    Lock lock(mutex_);
    externalDeviceDataOutput_ = audioOutput;
  }
  attachDataOutput(*session, audioOutput, weak_from_this(), "deviceAudioQueue");
}

// A device that goes away ends its capture session by itself: that is a
// failure of the recording, reported like the stream's.
void RecordingSession::watchRuntimeErrors(Platform::AVCaptureSession& session) {
  session.setRuntimeErrorHandler([weakSelf = weak_from_this()](Platform::ErrorRef error) {
    if (const auto self = weakSelf.lock()) {
      self->recordError(recordingFailure(std::move(error), FailureOrigin::captureSession,
                                         "The capture session stopped."));
    }
  });
}

void RecordingSession::startSources() {
  std::shared_ptr<Platform::AVCaptureSession> microphoneSession;
  std::shared_ptr<Platform::AVCaptureSession> deviceSession;
  std::shared_ptr<Platform::SCStream> stream;
  {
    Lock lock(mutex_);
    if (state_ != State::starting) {
      throw error_.value_or(stoppedBeforeStart()); // stopped or failed meanwhile
    }
    microphoneSession = microphoneCaptureSession_;
    deviceSession = externalDeviceCaptureSession_;
    stream = stream_;
  }
  if (microphoneSession) {
    microphoneSession->startRunning();
  }
  if (deviceSession) {
    deviceSession->startRunning();
  }
  if (!stream) {
    return;
  }
  {
    Lock lock(mutex_);
    if (state_ != State::starting) {
      throw error_.value_or(stoppedBeforeStart());
    }
    transition(State::startingStream);
  }
  const auto settle = [this] {
    Lock lock(mutex_);
    if (state_ == State::startingStream) {
      transition(State::starting);
    }
  };
  try {
    stream->startCapture();
  } catch (...) {
    settle();
    Lock lock(mutex_);
    if (state_ != State::starting) {
      throw error_.value_or(stoppedBeforeStart()); // a stop cancelled it
    }
    throw;
  }
  settle();
}

void RecordingSession::waitForFirstSample() {
  const auto wait = std::make_shared<StartWait>();
  {
    Lock lock(mutex_);
    // A source that failed while starting, or a stop, has ended it already.
    if (state_ != State::starting) {
      throw error_.value_or(stoppedBeforeStart());
    }
    continuation_ = wait;
  }
  const std::optional<std::optional<Error>> outcome = wait->waitFor(firstSampleTimeout);
  if (!outcome) {
    // No source delivered anything usable: end the wait ourselves, unless a
    // sample completed it in the meantime.
    const Error silence = Error::couldNotStartStream(Platform::makeError(
        Platform::ErrorDomain::screenCapture, 0, "No usable picture or sound arrived in time."));
    std::optional<Error> failure;
    {
      Lock lock(mutex_);
      awaitWriterStart(lock);
      if (continuation_ == wait) {
        completeStartWait(silence);
      }
      failure = wait->wait();
    }
    if (failure) {
      throw *failure;
    }
    return;
  }
  if (*outcome) {
    throw **outcome;
  }
}

void RecordingSession::completeStartWait(std::optional<Error> failure) {
  continuation_->complete(std::move(failure));
  continuation_.reset();
}

void RecordingSession::startVideoStream(const Platform::SampleBufferRef& sampleBuffer) {
  if (isAudioOnly()) {
    return;
  }
  if (!assetWriter_ || !continuation_ || !options_ || !sampleBuffer->formatDescription()) {
    if (continuation_) {
      completeStartWait(Error::couldNotStartStream());
    }
    return;
  }
  if (!addVideoInput(*options_, *sampleBuffer->formatDescription())) {
    completeStartWait(
        Error::couldNotStartStream(std::make_shared<Error>(Error::couldNotAddInput("video"))));
    return;
  }
  startWriting(sampleBuffer, &video_);
}

void RecordingSession::startAudioStream(const Platform::SampleBufferRef& sampleBuffer,
                                        Track* track) {
  if (!assetWriter_ || !continuation_) {
    return;
  }
  startWriting(sampleBuffer, track);
}

void RecordingSession::startWriting(const Platform::SampleBufferRef& sampleBuffer, Track* track) {
  transition(State::startingWriter);
  writerStart_ = HeldSample{track, sampleBuffer};
}

bool RecordingSession::startWriter(Platform::AVAssetWriter& writer,
                                   const Platform::CMSampleBuffer& first) {
  if (!writer.startWriting()) {
    return false;
  }
  writer.startSessionAtSourceTime(first.presentationTimeStamp());
  return true;
}

std::optional<Error> RecordingSession::finishWriterStart(const HeldSample& first, bool started) {
  if (!started) {
    transition(State::starting);
    completeStartWait(Error::couldNotStartStream(assetWriter_->error()));
    return std::nullopt;
  }
  transition(State::recording);
  completeStartWait(std::nullopt);
  return first.track && first.track->input ? append(*first.track, first.buffer) : std::nullopt;
}

void RecordingSession::awaitWriterStart(Lock& lock) {
  while (state_ == State::startingWriter) {
    lock.wait(writerStarted_);
  }
}

} // namespace Vistrel
