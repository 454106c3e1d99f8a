#include "Vistrel/RecordingSession.h"

#include "Platform/Log.h"

#include <cstdio>
#include <string>
#include <utility>

// Sample routing: what is dropped, how each sample is moved onto the
// gap-free output timeline, and which track it is appended to.
//
// Every track moves by the same offset, so audio stays in sync with video
// across pauses. Only timeline-driving samples (video, or any audio of an
// audio-only recording) measure a pause's gap; until the first of them after
// a resume has, the new offset is unknown and other samples are dropped.

namespace Vistrel {

namespace {

bool hasFrameStatus(const Platform::CMSampleBuffer& buffer, Platform::SCFrameStatus wanted) {
  const auto& attachments = buffer.sampleAttachments();
  if (!attachments || attachments->empty()) {
    return false;
  }
  const auto& frameInfo = attachments->front();
  const auto status = frameInfo.find(Platform::SCStreamFrameInfoStatus);
  if (status == frameInfo.end()) {
    return false;
  }
  const auto* value = std::get_if<std::int64_t>(&status->second);
  return value && *value == static_cast<std::int64_t>(wanted);
}

// A frame the file takes: a changed picture, or the unchanged picture that
// begins the stretch after a resume (so the file shows the window as it is
// now, not as it was before the pause).
bool isWrittenFrame(const Platform::CMSampleBuffer& buffer, bool beginsStretch) {
  return hasFrameStatus(buffer, Platform::SCFrameStatus::complete) ||
         (beginsStretch && hasFrameStatus(buffer, Platform::SCFrameStatus::idle) &&
          buffer.imageBuffer());
}

Platform::SampleBufferRef shifted(const Platform::SampleBufferRef& buffer, CMTime offset) {
  Platform::SampleBufferRef copy = adjustTime(buffer, offset);
  return copy ? copy : buffer;
}

// The end of a buffer on its track: its start plus a positive duration.
CMTime endOf(const Platform::CMSampleBuffer& buffer) {
  const CMTime duration = buffer.duration();
  return CMTimeAdd(buffer.presentationTimeStamp(), duration.value > 0 ? duration : kCMTimeZero);
}

} // namespace

void RecordingSession::streamDidOutputSampleBuffer(Platform::SCStream& /*stream*/,
                                                   Platform::SampleBufferRef sampleBuffer,
                                                   Platform::SCStreamOutputType type) {
  receive(std::move(sampleBuffer), type, nullptr);
}

void RecordingSession::captureOutputDidOutputSampleBuffer(Platform::AVCaptureOutput& output,
                                                          Platform::SampleBufferRef sampleBuffer) {
  receive(std::move(sampleBuffer), Platform::SCStreamOutputType::screen, &output);
}

void RecordingSession::receive(Platform::SampleBufferRef sampleBuffer,
                               Platform::SCStreamOutputType type,
                               Platform::AVCaptureOutput* output) {
  std::optional<Error> failure;
  std::vector<std::string> gaps;
  try {
    Lock lock(mutex_);
    if (!sampleBuffer || !sampleBuffer->isValid()) {
      return;
    }
    // It belongs after the sample that starts the writer.
    awaitWriterStart(lock);
    sampleBuffer = cutAtStop(sampleBuffer);
    if (!sampleBuffer) {
      return;
    }
    failure =
        output ? routeCaptureSample(*output, sampleBuffer) : routeStreamSample(sampleBuffer, type);
    if (!failure && writerStart_) {
      const HeldSample first = *std::exchange(writerStart_, std::nullopt);
      const Platform::AssetWriterRef writer = assetWriter_;
      lock.unlock(); // nothing else waits on the disk
      const bool started = startWriter(*writer, *first.buffer);
      lock.lock();
      failure = finishWriterStart(first, started);
    }
    if (!failure) {
      failure = releaseHeld();
    }
    gaps.swap(gapWarnings_);
  } catch (...) {
    failure = currentExceptionAsError();
  }
  for (const std::string& gap : gaps) {
    Platform::log(Platform::LogLevel::warning, gap);
  }
  if (failure) {
    recordError(*failure);
  }
}

void RecordingSession::noteArrival(Track& track, const Platform::CMSampleBuffer& buffer) {
  const std::optional<CMTime> previous = std::exchange(track.arrived, endOf(buffer));
  if (!previous || !isWriting()) {
    return;
  }
  const double gap = CMTimeGetSeconds(CMTimeSubtract(buffer.presentationTimeStamp(), *previous));
  if (gap > gapWorthSaying) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f", gap);
    gapWarnings_.push_back(std::string("Nothing arrived for the ") + track.name + " for " +
                           seconds +
                           " s: its display or audio server did not answer, or this process "
                           "did not run. The track goes on from here.");
  }
}

Platform::SampleBufferRef RecordingSession::cutAtStop(const Platform::SampleBufferRef& buffer) {
  if (!stopInstant_) {
    return buffer;
  }
  const CMTime start = buffer->presentationTimeStamp();
  if (CMTimeCompare(start, *stopInstant_) >= 0) {
    return nullptr;
  }
  if (buffer->imageBuffer() || CMTimeCompare(endOf(*buffer), *stopInstant_) <= 0) {
    return buffer;
  }
  return audioPart(buffer, start, *stopInstant_);
}

std::optional<Error>
RecordingSession::routeStreamSample(const Platform::SampleBufferRef& sampleBuffer,
                                    Platform::SCStreamOutputType type) {
  Track* track = type == Platform::SCStreamOutputType::screen  ? &video_
                 : type == Platform::SCStreamOutputType::audio ? &systemAudio_
                                                               : &microphone_;
  noteArrival(*track, *sampleBuffer);
  const Platform::SampleBufferRef buffer =
      handleBuffer(sampleBuffer, type == Platform::SCStreamOutputType::screen, track);
  if (!buffer) {
    return std::nullopt;
  }
  switch (type) {
  case Platform::SCStreamOutputType::screen:
    if (!isWrittenFrame(*buffer, std::exchange(beginsStretch_, false))) {
      return std::nullopt;
    }
    if (assetWriter_ && state_ == State::starting) {
      startVideoStream(buffer);
    }
    break;
  case Platform::SCStreamOutputType::audio:
  case Platform::SCStreamOutputType::microphone:
    if (assetWriter_ && state_ == State::starting && isAudioOnly()) {
      startAudioStream(buffer, track);
    }
    break;
  }
  if (track && isWriting() && track->input) {
    return append(*track, buffer);
  }
  return std::nullopt;
}

std::optional<Error>
RecordingSession::routeCaptureSample(Platform::AVCaptureOutput& output,
                                     const Platform::SampleBufferRef& sampleBuffer) {
  const bool isVideo = output.kind() == Platform::CaptureOutputKind::videoData;
  Track* track = nullptr;
  if (isVideo) {
    track = &video_;
  } else if (&output == microphoneDataOutput_.get()) {
    track = &microphone_;
  } else if (&output == externalDeviceDataOutput_.get()) {
    track = &systemAudio_; // an external device's sound goes to the system-audio track
  }
  if (track) {
    noteArrival(*track, *sampleBuffer);
  }
  const Platform::SampleBufferRef buffer = handleBuffer(sampleBuffer, isVideo, track);
  beginsStretch_ = false; // a device's frames are all complete
  if (!buffer) {
    return std::nullopt;
  }
  if (isVideo) {
    if (assetWriter_ && state_ == State::starting) {
      startVideoStream(buffer);
    }
  } else if (assetWriter_ && state_ == State::starting && isAudioOnly()) {
    startAudioStream(buffer, track);
  }
  // A video input made for a writer that then failed to start is never fed.
  if (track && isWriting() && track->input) {
    return append(*track, buffer);
  }
  return std::nullopt;
}

Platform::SampleBufferRef RecordingSession::handleBuffer(Platform::SampleBufferRef buffer,
                                                         bool isVideo, Track* track) {
  const CMTime captured = buffer->presentationTimeStamp();
  const bool isDriving = isVideo || isAudioOnly();
  const bool isAfterPause = state_ == State::resuming && !timeline_.isBeforePause(captured);
  if (!isDriving && isAfterPause) {
    // Where it goes is known once the next driving sample measured the pause.
    if (held_.size() == maximumHeldSamples) {
      held_.erase(held_.begin());
    }
    held_.push_back({track, std::move(buffer)});
    return nullptr;
  }
  if (isAfterPause) {
    transition(State::recording);
    endResumeWait();
    beginsStretch_ = isVideo;
  }
  if (isVideo) {
    const std::optional<CMTime> offset =
        timeline_.placeDriving(captured, buffer->duration(), isAfterPause);
    return offset ? shifted(buffer, *offset) : nullptr;
  }
  if (isAfterPause) {
    timeline_.placeDriving(captured, kCMTimeZero, true); // sound begins the stretch
  }
  // Sound keeps the part of it inside the recording's stretches.
  const std::optional<PauseTimeline::Placement> placement =
      timeline_.place(captured, buffer->duration());
  if (!placement) {
    return nullptr;
  }
  Platform::SampleBufferRef part = audioPart(buffer, placement->from, placement->to);
  if (!part) {
    return nullptr;
  }
  if (isDriving) {
    timeline_.placeDriving(part->presentationTimeStamp(), part->duration(), false);
  }
  return shifted(part, placement->offset);
}

std::optional<Error> RecordingSession::releaseHeld() {
  if (held_.empty() || state_ == State::resuming || state_ == State::paused) {
    return std::nullopt;
  }
  std::optional<Error> failure;
  for (auto& [track, sample] : std::exchange(held_, {})) {
    const Platform::SampleBufferRef buffer = handleBuffer(std::move(sample), false, track);
    if (buffer && track && isWriting() && track->input && !failure) {
      failure = append(*track, buffer);
    }
  }
  return failure;
}

std::optional<Error> RecordingSession::append(Track& track,
                                              const Platform::SampleBufferRef& buffer) {
  if (!track.input->isReadyForMoreMediaData()) {
    return checkWriter(); // a failed writer takes nothing more
  }
  // A track's times only move forward: a buffer that would start inside the
  // last one written is dropped.
  const CMTime start = buffer->presentationTimeStamp();
  if (track.end && CMTimeCompare(start, *track.end) < 0) {
    return std::nullopt;
  }
  if (!track.input->appendSampleBuffer(buffer)) {
    return checkWriter();
  }
  track.end = endOf(*buffer);
  return std::nullopt;
}

std::optional<Error> RecordingSession::checkWriter() {
  if (error_ || assetWriter_->status() != Platform::AVAssetWriterStatus::failed) {
    return std::nullopt; // only a full queue (the sample is lost, the file is fine), or known
  }
  return writerFailure(*assetWriter_);
}

} // namespace Vistrel
