#pragma once

#include "Platform/MediaWriting.h"

#include <memory>

// The media-writing service over the scripted world: recording writers that
// the world keeps as they are made, their inputs, and a settings assistant
// that knows the two presets the engine asks for.
// Thread contract: every member may be called from any thread.

namespace Platform::Simulated {

struct World;

class SimulatedMediaWritingService final : public MediaWritingService {
public:
  explicit SimulatedMediaWritingService(std::shared_ptr<World> world);

  AssetWriterRef makeAssetWriter(const std::string& path, AVFileType fileType) override;
  AssetWriterInputRef makeAssetWriterInput(MediaType mediaType,
                                           OutputSettings outputSettings) override;
  std::shared_ptr<AVOutputSettingsAssistant>
  makeOutputSettingsAssistant(const std::string& preset) override;
  std::shared_ptr<const FormatDescription> makeVideoFormatDescription(std::uint32_t codecType,
                                                                      std::int32_t width,
                                                                      std::int32_t height) override;

private:
  const std::shared_ptr<World> world_;
};

} // namespace Platform::Simulated
