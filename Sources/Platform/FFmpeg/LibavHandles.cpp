#include "Platform/FFmpeg/LibavHandles.h"

namespace Platform::FFmpeg {

std::string libavErrorText(int error) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(error, text, sizeof text);
  return text;
}

} // namespace Platform::FFmpeg
