#include "ContentGenerator.h"

#include <cmath>
#include <cstring>
#include <numbers>

namespace WriterBench {

namespace {

constexpr int pageWidth = 2 * frameWidth;

} // namespace

ContentGenerator::ContentGenerator()
    : page_(static_cast<std::size_t>(pageWidth) * frameHeight * 4) {
  // Rows of "text": short dark strokes on a light page, with coloured panels.
  std::uint32_t noise = 12345;
  for (int y = 0; y < frameHeight; ++y) {
    for (int x = 0; x < pageWidth; ++x) {
      noise = noise * 1664525U + 1013904223U;
      std::uint8_t* pixel = &page_[(static_cast<std::size_t>(y) * pageWidth + x) * 4];
      const bool textLine = (y / 14) % 2 == 0 && (x / 9) % 7 != 0;
      const bool stroke = textLine && (noise >> 28) < 6;
      const std::uint8_t shade = stroke ? 30 : 235;
      const bool panel = (x / 480) % 3 == 1;
      pixel[0] = panel ? static_cast<std::uint8_t>(shade / 2 + 60) : shade;
      pixel[1] = shade;
      pixel[2] = panel ? static_cast<std::uint8_t>(shade / 3 + 100) : shade;
      pixel[3] = 255;
    }
  }
}

std::vector<std::uint8_t> ContentGenerator::frame(int index) const {
  std::vector<std::uint8_t> pixels(static_cast<std::size_t>(frameWidth) * frameHeight * 4);
  const int scroll = (index * 6) % frameWidth;
  for (int y = 0; y < frameHeight; ++y) {
    std::memcpy(&pixels[static_cast<std::size_t>(y) * frameWidth * 4],
                &page_[(static_cast<std::size_t>(y) * pageWidth + scroll) * 4],
                static_cast<std::size_t>(frameWidth) * 4);
  }
  const int boxX = (index * 17) % (frameWidth - 200);
  const int boxY = (index * 11) % (frameHeight - 200);
  for (int y = boxY; y < boxY + 200; ++y) {
    for (int x = boxX; x < boxX + 200; ++x) {
      std::uint8_t* pixel = &pixels[(static_cast<std::size_t>(y) * frameWidth + x) * 4];
      pixel[0] = 200;
      pixel[1] = static_cast<std::uint8_t>(index * 3);
      pixel[2] = 40;
    }
  }
  return pixels;
}

std::vector<std::uint8_t> ContentGenerator::systemAudio(int index) const {
  std::vector<std::uint8_t> bytes(480 * 2 * sizeof(float));
  for (int i = 0; i < 480; ++i) {
    const double t = (index * 480 + i) / 48000.0;
    const auto value = static_cast<float>(0.3 * std::sin(2 * std::numbers::pi * 440 * t));
    std::memcpy(&bytes[static_cast<std::size_t>(i) * 8], &value, 4);
    std::memcpy(&bytes[static_cast<std::size_t>(i) * 8 + 4], &value, 4);
  }
  return bytes;
}

std::vector<std::uint8_t> ContentGenerator::microphoneAudio(int index) const {
  std::vector<std::uint8_t> bytes(441 * sizeof(std::int16_t));
  for (int i = 0; i < 441; ++i) {
    const double t = (index * 441 + i) / 44100.0;
    const auto value = static_cast<std::int16_t>(8000 * std::sin(2 * std::numbers::pi * 220 * t));
    std::memcpy(&bytes[static_cast<std::size_t>(i) * 2], &value, 2);
  }
  return bytes;
}

} // namespace WriterBench
