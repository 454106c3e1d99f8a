#pragma once

#include <cstddef>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

// The order of the platform calls a test cares about ("stream.startCapture",
// "writer.startWriting", ...). Entries are appended from any thread; reads
// return a snapshot.

namespace Platform::Simulated {

class CallLog {
public:
  void append(std::string entry);
  std::vector<std::string> entries() const;
  void clear();

  // The position of the first entry equal to `entry`, if any.
  std::optional<std::size_t> indexOf(const std::string& entry) const;
  // True when both entries are logged and the first `earlier` precedes the
  // first `later`.
  bool isBefore(const std::string& earlier, const std::string& later) const;
  std::size_t count(const std::string& entry) const;

private:
  std::optional<std::size_t> find(const std::string& entry) const; // under mutex_

  mutable std::mutex mutex_;
  std::vector<std::string> entries_;
};

} // namespace Platform::Simulated
