#include "Platform/Linux/Capture/SkippedFrames.h"

#include "Platform/Log.h"

#include <string>

namespace Platform::Linux::Capture {

SkippedFrames::~SkippedFrames() {
  if (pending_[0] + pending_[1] > 0) {
    report();
  }
}

void SkippedFrames::add(std::uint64_t count, Cause cause) {
  if (count == 0) {
    return;
  }
  pending_[static_cast<std::size_t>(cause)] += count;
  total_ += count;
  if (std::chrono::steady_clock::now() - lastReport_ >= std::chrono::seconds(1)) {
    report();
  }
}

void SkippedFrames::report() {
  Platform::log(LogLevel::warning,
                "Screen capture fell behind: skipped " + std::to_string(pending_[0]) +
                    " frames as it woke late and " + std::to_string(pending_[1]) +
                    " as the frames before were still being handled (" + std::to_string(total_) +
                    " in this recording)");
  pending_ = {};
  lastReport_ = std::chrono::steady_clock::now();
}

} // namespace Platform::Linux::Capture
