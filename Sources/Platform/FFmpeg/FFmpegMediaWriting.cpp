#include "Platform/FFmpeg/FFmpegMediaWriting.h"

#include "Platform/FFmpeg/AssetWriter.h"
#include "Platform/FFmpeg/LibraryLog.h"
#include "Platform/FFmpeg/OutputFile.h"
#include "Platform/FFmpeg/OutputSettingsAssistant.h"
#include "Platform/FFmpeg/WriterInput.h"

namespace Platform::FFmpeg {

namespace {

class MediaWriting final : public MediaWritingService {
public:
  MediaWriting() { routeLibraryLog(); }

  AssetWriterRef makeAssetWriter(const std::string& path, AVFileType fileType) override {
    OutputFile::checkCreatable(path);
    return std::make_shared<AssetWriter>(path, fileType);
  }

  AssetWriterInputRef makeAssetWriterInput(MediaType mediaType,
                                           OutputSettings outputSettings) override {
    return std::make_shared<WriterInput>(mediaType, std::move(outputSettings));
  }

  std::shared_ptr<AVOutputSettingsAssistant>
  makeOutputSettingsAssistant(const std::string& preset) override {
    return OutputSettingsAssistant::make(preset);
  }

  std::shared_ptr<const FormatDescription>
  makeVideoFormatDescription(std::uint32_t codecType, std::int32_t width,
                             std::int32_t height) override {
    if (width <= 0 || height <= 0) {
      return nullptr;
    }
    return FormatDescription::video(codecType, width, height);
  }
};

} // namespace

std::shared_ptr<MediaWritingService> makeMediaWritingService() {
  return std::make_shared<MediaWriting>();
}

} // namespace Platform::FFmpeg
