#include "Platform/Linux/Echo/EchoCanceller.h"

#include "Platform/Error.h"

#include <webrtc/modules/audio_processing/include/audio_processing.h>

#include <string>
#include <vector>

namespace Platform::Linux::Echo {

namespace {

std::size_t framesIn10Milliseconds(int rate) {
  return static_cast<std::size_t>(rate / 100);
}

void deinterleave(const float* interleaved, std::size_t frames, int channels, float* planes) {
  for (std::size_t frame = 0; frame < frames; ++frame) {
    for (int channel = 0; channel < channels; ++channel) {
      planes[static_cast<std::size_t>(channel) * frames + frame] =
          interleaved[frame * static_cast<std::size_t>(channels) +
                      static_cast<std::size_t>(channel)];
    }
  }
}

void interleave(const float* planes, std::size_t frames, int channels, float* interleaved) {
  for (std::size_t frame = 0; frame < frames; ++frame) {
    for (int channel = 0; channel < channels; ++channel) {
      interleaved[frame * static_cast<std::size_t>(channels) + static_cast<std::size_t>(channel)] =
          planes[static_cast<std::size_t>(channel) * frames + frame];
    }
  }
}

std::vector<float*> channelPointers(float* planes, std::size_t frames, int channels) {
  std::vector<float*> pointers;
  for (int channel = 0; channel < channels; ++channel) {
    pointers.push_back(planes + static_cast<std::size_t>(channel) * frames);
  }
  return pointers;
}

[[noreturn]] void refuse(const std::string& what, int code) {
  throw SystemError(ErrorDomain::mediaCapture, code, "The echo canceller " + what);
}

} // namespace

EchoCanceller::EchoCanceller(int microphoneRate, int microphoneChannels, int referenceRate,
                             int referenceChannels)
    : microphoneRate_(microphoneRate), microphoneChannels_(microphoneChannels),
      referenceRate_(referenceRate), referenceChannels_(referenceChannels),
      microphoneFrames_(framesIn10Milliseconds(microphoneRate)),
      referenceFrames_(framesIn10Milliseconds(referenceRate)),
      microphonePlanes_(std::make_unique<float[]>(microphoneFrames_ *
                                                  static_cast<std::size_t>(microphoneChannels))),
      referencePlanes_(std::make_unique<float[]>(referenceFrames_ *
                                                 static_cast<std::size_t>(referenceChannels))) {
  if (microphoneRate < 8000 || referenceRate < 8000 || microphoneChannels < 1 ||
      referenceChannels < 1) {
    refuse("takes no audio of " + std::to_string(microphoneRate) + " Hz", -1);
  }
  // The room's delay is found by the canceller itself (the sound reaches
  // the microphone up to hundreds of milliseconds after the speakers), and
  // its filter is long enough for a reverberant room.
  webrtc::Config config;
  config.Set<webrtc::ExtendedFilter>(new webrtc::ExtendedFilter(true));
  config.Set<webrtc::DelayAgnostic>(new webrtc::DelayAgnostic(true));
  processing_.reset(webrtc::AudioProcessing::Create(config));
  if (!processing_) {
    refuse("could not be made", -1);
  }
  const webrtc::ProcessingConfig streams{{
      webrtc::StreamConfig(microphoneRate, microphoneChannels),
      webrtc::StreamConfig(microphoneRate, microphoneChannels),
      webrtc::StreamConfig(referenceRate, referenceChannels),
      webrtc::StreamConfig(referenceRate, referenceChannels),
  }};
  if (const int error = processing_->Initialize(streams); error != 0) {
    refuse("takes no audio of " + std::to_string(microphoneRate) + " Hz", error);
  }
  auto* echo = processing_->echo_cancellation();
  echo->enable_drift_compensation(false);
  echo->set_suppression_level(webrtc::EchoCancellation::kLowSuppression);
  if (const int error = echo->Enable(true); error != 0) {
    refuse("could not be started", error);
  }
}

EchoCanceller::~EchoCanceller() = default;

void EchoCanceller::process(float* microphone, const float* reference) {
  deinterleave(reference, referenceFrames_, referenceChannels_, referencePlanes_.get());
  const auto far = channelPointers(referencePlanes_.get(), referenceFrames_, referenceChannels_);
  const webrtc::StreamConfig referenceConfig(referenceRate_, referenceChannels_);
  processing_->ProcessReverseStream(far.data(), referenceConfig, referenceConfig, far.data());

  deinterleave(microphone, microphoneFrames_, microphoneChannels_, microphonePlanes_.get());
  const auto near =
      channelPointers(microphonePlanes_.get(), microphoneFrames_, microphoneChannels_);
  const webrtc::StreamConfig microphoneConfig(microphoneRate_, microphoneChannels_);
  // The two are stamped on one clock and handed over aligned: what is left
  // is the room's own delay, which the canceller estimates.
  processing_->set_stream_delay_ms(0);
  processing_->ProcessStream(near.data(), microphoneConfig, microphoneConfig, near.data());
  interleave(microphonePlanes_.get(), microphoneFrames_, microphoneChannels_, microphone);
}

} // namespace Platform::Linux::Echo
