#pragma once

#include "Platform/Time.h"

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// Paces sample production on the host clock for automatic mode: each source
// gets a thread of its own that calls `produce(index, presentationTime)` once
// per period, with presentation times start + index * period, so audio comes
// out gap-free and video at a steady rate.
//
// Thread contract: constructed and destroyed by one owner, never on one of
// its own threads; `produce` runs on the generator's threads, must not block
// for long and must not release the generator's owner. Destruction stops and
// joins every thread.

namespace Platform::Simulated {

class SampleGenerator {
public:
  struct Source {
    CMTime period;
    std::function<void(std::uint64_t index, CMTime presentationTime)> produce;
  };

  explicit SampleGenerator(std::vector<Source> sources);
  ~SampleGenerator();
  SampleGenerator(const SampleGenerator&) = delete;
  SampleGenerator& operator=(const SampleGenerator&) = delete;

private:
  void run(const Source& source, CMTime start);

  std::mutex mutex_;
  std::condition_variable stopRequested_;
  bool stopping_ = false;
  std::vector<Source> sources_;
  std::vector<std::thread> threads_;
};

} // namespace Platform::Simulated
