#include "Vistrel/RecordingSession.h"

#include "Platform/Platform.h"

#include <string_view>

// The writer, its container and its inputs with their output settings.

namespace Vistrel {

namespace {

// The text after the last full stop of the last path component; empty when
// there is none.
std::string pathExtension(std::string_view path) {
  while (path.size() > 1 && path.back() == '/') {
    path.remove_suffix(1);
  }
  const std::size_t slash = path.rfind('/');
  const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  const std::size_t dot = name.rfind('.');
  return dot == std::string_view::npos ? std::string() : std::string(name.substr(dot + 1));
}

Platform::OutputSettings audioSettings(bool lossless) {
  Platform::OutputSettings settings{
      {Platform::AVSampleRateKey, 48000},
      {Platform::AVNumberOfChannelsKey, 2},
  };
  if (lossless) {
    settings.insert_or_assign(Platform::AVFormatIDKey, Platform::kAudioFormatAppleLossless);
    settings.insert_or_assign(Platform::AVEncoderBitDepthHintKey, 16);
  } else {
    settings.insert_or_assign(Platform::AVFormatIDKey, Platform::kAudioFormatMPEG4AAC);
  }
  return settings;
}

struct AssistantChoice {
  const char* preset;
  std::uint32_t sourceCodecType;
};

std::optional<AssistantChoice> assistantChoice(VideoCodec codec) {
  switch (codec.value()) {
  case VideoCodec::h264:
    return AssistantChoice{Platform::AVOutputSettingsPreset3840x2160,
                           Platform::kCMVideoCodecType_H264};
  case VideoCodec::hevc:
    return AssistantChoice{Platform::AVOutputSettingsPresetHEVC7680x4320,
                           Platform::kCMVideoCodecType_HEVC};
  case VideoCodec::proRes422:
  case VideoCodec::proRes4444:
    return std::nullopt;
  }
  return std::nullopt;
}

std::optional<Platform::OutputSettings> colorProperties(VideoCodec codec) {
  const char* primaries = nullptr;
  switch (codec.value()) {
  case VideoCodec::h264:
    primaries = Platform::AVVideoColorPrimaries_ITU_R_709_2;
    break;
  case VideoCodec::hevc:
    primaries = Platform::AVVideoColorPrimaries_P3_D65;
    break;
  case VideoCodec::proRes422:
  case VideoCodec::proRes4444:
    return std::nullopt;
  }
  return Platform::OutputSettings{
      {Platform::AVVideoTransferFunctionKey, Platform::AVVideoTransferFunction_ITU_R_709_2},
      {Platform::AVVideoColorPrimariesKey, primaries},
      {Platform::AVVideoYCbCrMatrixKey, Platform::AVVideoYCbCrMatrix_ITU_R_709_2},
  };
}

Platform::OutputSettings videoSettings(VideoCodec codec,
                                       const Platform::FormatDescription& format) {
  std::optional<Platform::OutputSettings> settings;
  if (const auto choice = assistantChoice(codec)) {
    auto& writing = Platform::mediaWriting();
    if (const auto assistant = writing.makeOutputSettingsAssistant(choice->preset)) {
      assistant->setSourceVideoFormat(
          writing.makeVideoFormatDescription(choice->sourceCodecType, format.width, format.height));
      settings = assistant->videoSettings();
    }
  }
  if (!settings) {
    settings = Platform::OutputSettings{{Platform::AVVideoCodecKey, codec.asAVVideoCodec()}};
  }
  settings->insert_or_assign(Platform::AVVideoWidthKey, format.width);
  settings->insert_or_assign(Platform::AVVideoHeightKey, format.height);
  if (auto properties = colorProperties(codec)) {
    settings->insert_or_assign(Platform::AVVideoColorPropertiesKey, std::move(*properties));
  }
  return std::move(*settings);
}

} // namespace

Platform::AssetWriterRef RecordingSession::getAssetWriter(Target target,
                                                          const RecordingOptions& options) {
  const std::string extension = pathExtension(options.destination());
  Platform::AVFileType fileType = Platform::AVFileType::mpeg4;
  if (target == Target::audioOnly) {
    if (extension != "m4a") {
      throw Error::unsupportedFileExtension(extension, true);
    }
    fileType = Platform::AVFileType::appleM4A;
  } else if (extension == "mp4" || extension == "m4v") {
    if (options.videoCodec().isProRes()) {
      throw Error::invalidFileExtension(extension, options.videoCodec().asString());
    }
    fileType = extension == "mp4" ? Platform::AVFileType::mpeg4 : Platform::AVFileType::appleM4V;
  } else if (extension == "mov") {
    fileType = Platform::AVFileType::quickTimeMovie;
  } else {
    throw Error::unsupportedFileExtension(extension, false);
  }
  return Platform::mediaWriting().makeAssetWriter(options.destination(), fileType);
}

void RecordingSession::setUpWriter(Target target, const RecordingOptions& options) {
  const Platform::AssetWriterRef writer = getAssetWriter(target, options);
  Platform::OutputSettings settings = audioSettings(options.losslessAudio());
  {
    Lock lock(mutex_);
    assetWriter_ = writer;
  }
  if (options.recordSystemAudio()) {
    // An external device's own sound rides in this track.
    auto input = addAudioInput(*writer, settings, "systemAudio",
                               target == Target::externalDevice ? "Device audio" : "System audio");
    Lock lock(mutex_);
    systemAudio_.input = std::move(input);
  }
  if (const auto& microphoneID = options.microphoneDeviceID()) {
    const int channelCount =
        isMicrophoneFromStream(target, options)
            ? 2
            : setUpMicrophoneCaptureSession(*microphoneID, options.echoCancellation());
    settings.insert_or_assign(Platform::AVNumberOfChannelsKey, channelCount);
    auto input = addAudioInput(*writer, settings, "microphone", "Microphone");
    Lock lock(mutex_);
    microphone_.input = std::move(input);
  }
}

Platform::AssetWriterInputRef
RecordingSession::addAudioInput(Platform::AVAssetWriter& writer,
                                const Platform::OutputSettings& settings, const char* name,
                                const char* trackName) {
  Platform::AssetWriterInputRef input =
      Platform::mediaWriting().makeAssetWriterInput(Platform::MediaType::audio, settings);
  input->setExpectsMediaDataInRealTime(true);
  input->setTrackName(trackName);
  if (!writer.canAddInput(input)) {
    throw Error::couldNotStartStream(std::make_shared<Error>(Error::couldNotAddInput(name)));
  }
  writer.addInput(input);
  return input;
}

bool RecordingSession::addVideoInput(const RecordingOptions& options,
                                     const Platform::FormatDescription& format) {
  Platform::AssetWriterInputRef input = Platform::mediaWriting().makeAssetWriterInput(
      Platform::MediaType::video, videoSettings(options.videoCodec(), format));
  input->setExpectsMediaDataInRealTime(true);
  video_.input = input;
  if (!assetWriter_->canAddInput(input)) {
    return false;
  }
  assetWriter_->addInput(std::move(input));
  return true;
}

} // namespace Vistrel
