#include "Simulated/CallLog.h"

#include <algorithm>

namespace Platform::Simulated {

void CallLog::append(std::string entry) {
  std::lock_guard lock(mutex_);
  entries_.push_back(std::move(entry));
}

std::vector<std::string> CallLog::entries() const {
  std::lock_guard lock(mutex_);
  return entries_;
}

void CallLog::clear() {
  std::lock_guard lock(mutex_);
  entries_.clear();
}

std::optional<std::size_t> CallLog::indexOf(const std::string& entry) const {
  std::lock_guard lock(mutex_);
  return find(entry);
}

bool CallLog::isBefore(const std::string& earlier, const std::string& later) const {
  // One lock for both look-ups, so a clear in between cannot mix two logs.
  std::lock_guard lock(mutex_);
  const auto first = find(earlier);
  const auto second = find(later);
  return first && second && *first < *second;
}

std::optional<std::size_t> CallLog::find(const std::string& entry) const {
  const auto found = std::find(entries_.begin(), entries_.end(), entry);
  if (found == entries_.end()) {
    return std::nullopt;
  }
  return static_cast<std::size_t>(found - entries_.begin());
}

std::size_t CallLog::count(const std::string& entry) const {
  std::lock_guard lock(mutex_);
  return static_cast<std::size_t>(std::count(entries_.begin(), entries_.end(), entry));
}

} // namespace Platform::Simulated
