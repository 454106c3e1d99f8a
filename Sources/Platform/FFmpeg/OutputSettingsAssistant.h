#pragma once

#include "Platform/MediaWriting.h"

#include <memory>
#include <string>

// The settings assistant: video settings for a preset, sized to the source
// video format when one is given.
//
// Threads: not thread-safe; made and used by one caller.

namespace Platform::FFmpeg {

class OutputSettingsAssistant final : public AVOutputSettingsAssistant {
public:
  // Null for a preset this writer does not know.
  static std::shared_ptr<OutputSettingsAssistant> make(const std::string& preset);

  void setSourceVideoFormat(std::shared_ptr<const FormatDescription> format) override;
  std::optional<OutputSettings> videoSettings() const override;

private:
  struct Preset {
    const char* codec;
    int width;
    int height;
    // Average bit rate per pixel of the frame, in bits per second.
    double bitsPerPixel;
    const char* profileLevel;
  };

  explicit OutputSettingsAssistant(const Preset& preset) : preset_(preset) {}

  Preset preset_;
  std::shared_ptr<const FormatDescription> source_;
};

} // namespace Platform::FFmpeg
