#include "Platform/Linux/Pulse/MonitorLead.h"

#include <algorithm>
#include <cstdlib>

namespace {
// Above how far the peak of the answers wanders at a steady latency: half
// a render of 10 ms, which sixteen answers all miss once in days.
constexpr std::int64_t leadChangeNanoseconds = 5'000'000;
} // namespace

namespace Platform::Linux::Pulse {

std::int64_t MonitorLead::note(const SinkLatency& latency) {
  if (latency.configured > 0) {
    reset();
    lead_ = latency.configured;
    return lead_;
  }
  answers_[next_] = latency.current;
  next_ = (next_ + 1) % answers_.size();
  const bool first = count_ == 0;
  count_ = std::min(count_ + 1, answers_.size());
  const std::int64_t peak =
      *std::max_element(answers_.begin(), answers_.begin() + static_cast<std::ptrdiff_t>(count_));
  if (first || std::abs(peak - lead_) > leadChangeNanoseconds) {
    lead_ = peak;
  }
  return lead_;
}

} // namespace Platform::Linux::Pulse
