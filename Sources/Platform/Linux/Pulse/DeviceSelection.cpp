#include "Platform/Linux/Pulse/DeviceSelection.h"

#include <algorithm>

namespace Platform::Linux::Pulse {

bool queryListsAudioSources(const std::vector<AVCaptureDeviceType>& deviceTypes,
                            std::optional<MediaType> mediaType, AVCaptureDevicePosition position) {
  if (mediaType == MediaType::video || position != AVCaptureDevicePosition::unspecified) {
    return false;
  }
  return std::any_of(deviceTypes.begin(), deviceTypes.end(), [](AVCaptureDeviceType type) {
    return type == AVCaptureDeviceType::microphone;
  });
}

} // namespace Platform::Linux::Pulse
