#include "Simulated/SampleGenerator.h"

#include <chrono>

namespace Platform::Simulated {

namespace {

std::chrono::nanoseconds toDuration(CMTime time) {
  return std::chrono::nanoseconds(
      static_cast<std::int64_t>(CMTimeConvertScale(time, hostTimeScale).value));
}

} // namespace

SampleGenerator::SampleGenerator(std::vector<Source> sources) : sources_(std::move(sources)) {
  // One start time for every source keeps audio and video aligned.
  const CMTime start = hostTimeNow();
  threads_.reserve(sources_.size());
  for (const Source& source : sources_) {
    threads_.emplace_back([this, &source, start] { run(source, start); });
  }
}

SampleGenerator::~SampleGenerator() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  stopRequested_.notify_all();
  for (std::thread& thread : threads_) {
    thread.join();
  }
}

void SampleGenerator::run(const Source& source, CMTime start) {
  // hostTimeNow is CLOCK_MONOTONIC, the clock steady_clock reads on Linux.
  const auto startPoint = std::chrono::steady_clock::time_point(toDuration(start));
  for (std::uint64_t index = 0;; ++index) {
    const CMTime offset =
        CMTimeMake(source.period.value * static_cast<CMTimeValue>(index), source.period.timescale);
    const CMTime presentationTime = CMTimeAdd(start, offset);
    {
      std::unique_lock lock(mutex_);
      if (stopRequested_.wait_until(lock, startPoint + toDuration(offset),
                                    [this] { return stopping_; })) {
        return;
      }
    }
    source.produce(index, presentationTime);
  }
}

} // namespace Platform::Simulated
