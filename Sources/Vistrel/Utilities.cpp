#include "Vistrel/Utilities.h"

#include "Platform/Platform.h"

#include <exception>

namespace Vistrel {

Activity::Activity(std::uint64_t options, const std::string& reason)
    : activity_(Platform::system().beginActivity(options, reason)) {}

bool hasPermissions() {
  try {
    Platform::screenCapture().shareableContent(false, false);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

void initializeCGS() {
  static_cast<void>(Platform::screenCapture().mainDisplayID());
}

Platform::SampleBufferRef adjustTime(const Platform::SampleBufferRef& buffer, CMTime offset) {
  if (!buffer->formatDescription() || offset.value <= 0) {
    return nullptr;
  }
  std::optional<std::vector<Platform::CMSampleTimingInfo>> timing = buffer->sampleTimingInfos();
  if (!timing) {
    return nullptr;
  }
  for (Platform::CMSampleTimingInfo& entry : *timing) {
    entry.decodeTimeStamp = CMTimeSubtract(entry.decodeTimeStamp, offset);
    entry.presentationTimeStamp = CMTimeSubtract(entry.presentationTimeStamp, offset);
  }
  return buffer->withNewTiming(std::move(*timing));
}

} // namespace Vistrel
