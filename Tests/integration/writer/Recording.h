#pragma once

#include "MediaFactory.h"
#include "Platform/FFmpeg/FFmpegMediaWriting.h"

#include <chrono>
#include <thread>

// A writer with its inputs, fed the way a test wants: appends wait (for a
// bounded time) until the input is ready, as an offline producer would.

namespace WriterTests {

inline Platform::MediaWritingService& writing() {
  static const auto service = Platform::FFmpeg::makeMediaWritingService();
  return *service;
}

// Gives up when the writer stops writing or after a generous deadline.
inline bool appendWhenReady(Platform::AVAssetWriterInput& input,
                            const Platform::SampleBufferRef& sample,
                            const Platform::AVAssetWriter* writer = nullptr) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!input.isReadyForMoreMediaData()) {
    if (std::chrono::steady_clock::now() > deadline ||
        (writer && writer->status() != Platform::AVAssetWriterStatus::writing)) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return input.appendSampleBuffer(sample);
}

inline Platform::AssetWriterInputRef addInput(Platform::AVAssetWriter& writer,
                                              Platform::MediaType type,
                                              Platform::OutputSettings settings) {
  auto input = writing().makeAssetWriterInput(type, std::move(settings));
  input->setExpectsMediaDataInRealTime(true);
  if (!writer.canAddInput(input)) {
    return nullptr;
  }
  writer.addInput(input);
  return input;
}

} // namespace WriterTests
