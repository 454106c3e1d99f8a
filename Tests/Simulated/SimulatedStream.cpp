#include "Simulated/SimulatedStream.h"

#include "Simulated/AutomaticSources.h"
#include "Simulated/OwnThreadCall.h"
#include "Simulated/RaiseError.h"
#include "Simulated/SampleGenerator.h"
#include "Simulated/World.h"

#include <algorithm>

namespace Platform::Simulated {

namespace {

// The stream whose output callback runs on this thread, so that a stop
// requested from inside a callback does not wait for itself.
thread_local const SimulatedStream* deliveringStream = nullptr;

std::string typeName(SCStreamOutputType type) {
  switch (type) {
  case SCStreamOutputType::screen:
    return "screen";
  case SCStreamOutputType::audio:
    return "audio";
  case SCStreamOutputType::microphone:
    return "microphone";
  }
  return "unknown";
}

// Stops of real streams finish in well under this; a delivery still running
// after it is stuck (usually on a lock its stopper holds).
constexpr std::chrono::milliseconds drainTimeout{5000};

constexpr CMTime defaultFrameInterval{1, 60, kCMTimeFlags_Valid, 0};

} // namespace

SimulatedStream::SimulatedStream(std::shared_ptr<World> world, SCContentFilter filter,
                                 SCStreamConfiguration configuration,
                                 std::weak_ptr<SCStreamDelegate> delegate)
    : world_(std::move(world)), filter_(std::move(filter)),
      configuration_(std::move(configuration)), delegate_(std::move(delegate)),
      startHeld_(world_->read([](const World& world) { return world.streamStartsHeld; })) {}

SimulatedStream::~SimulatedStream() = default;

void SimulatedStream::addStreamOutput(std::weak_ptr<SCStreamOutput> output, SCStreamOutputType type,
                                      DispatchQueue queue) {
  world_->callLog.append("stream.addStreamOutput(" + typeName(type) + ")");
  const ErrorRef refusal = world_->read([type](const World& world) {
    const auto found = world.failures.streamOutputs.find(type);
    return found == world.failures.streamOutputs.end() ? nullptr : found->second;
  });
  if (refusal) {
    raise(refusal);
  }
  std::lock_guard lock(mutex_);
  if (capturing_) {
    raise(makeError(ErrorDomain::screenCapture, -3802, "Outputs must be added before capture"));
  }
  std::string label = queue.label();
  registrations_.push_back(
      Registration{type, std::move(output), label, queue.serialTarget(std::move(label)), 0});
}

void SimulatedStream::startCapture() {
  world_->callLog.append("stream.startCapture");
  const ErrorRef failure =
      world_->read([](const World& world) { return world.failures.streamStart; });
  std::unique_lock lock(mutex_);
  ++startCount_;
  if (failure) {
    startBegun_ = true; // and failed: a later stop is no stop before it
    lock.unlock();
    raise(failure);
  }
  if (capturing_) {
    raise(makeError(ErrorDomain::screenCapture, -3805, "The stream is already capturing"));
  }
  const bool waitsForPick = startHeld_;
  changed_.wait(lock, [this] { return !startHeld_; });
  if (stoppedBeforeStart_) {
    raise(makeError(ErrorDomain::screenCapture, -3807, "The stream was stopped before it started"));
  }
  startBegun_ = true;
  if (waitsForPick) {
    startWaitsForStop_ = true;
    changed_.wait(lock, [this] { return !startWaitsForStop_; });
    raise(makeError(ErrorDomain::screenCapture, -3807, "The stream was stopped while it started"));
  }
  capturing_ = true;
  hasStarted_ = true;
  if (world_->generation == SampleGeneration::automatic) {
    generator_ = makeGenerator();
  }
  changed_.notify_all();
}

void SimulatedStream::stopCapture() {
  world_->callLog.append("stream.stopCapture");
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return !stopsHeld_; });
  ++stopCount_;
  if (startWaitsForStop_) {
    startWaitsForStop_ = false;
    changed_.notify_all();
    return;
  }
  if (!endCapture(lock)) {
    stoppedBeforeStart_ = stoppedBeforeStart_ || !startBegun_;
    raise(makeError(ErrorDomain::screenCapture, -3808, "The stream is not capturing"));
  }
  if (!drain(lock, drainTimeout)) {
    raise(makeError(ErrorDomain::screenCapture, -3808,
                    "A sample callback did not return while the stream stopped"));
  }
}

void SimulatedStream::beginHeldStart() {
  {
    std::lock_guard lock(mutex_);
    startHeld_ = false;
  }
  changed_.notify_all();
}

void SimulatedStream::holdStops() {
  std::lock_guard lock(mutex_);
  stopsHeld_ = true;
}

void SimulatedStream::releaseStops() {
  {
    std::lock_guard lock(mutex_);
    stopsHeld_ = false;
  }
  changed_.notify_all();
}

bool SimulatedStream::endCapture(std::unique_lock<std::mutex>& lock) {
  if (!capturing_) {
    return false;
  }
  capturing_ = false;
  hasStopped_ = true;
  auto generator = std::move(generator_);
  changed_.notify_all();
  // Joining the generator's threads must not hold the lock they post under.
  lock.unlock();
  generator.reset();
  lock.lock();
  return true;
}

bool SimulatedStream::drain(std::unique_lock<std::mutex>& lock,
                            std::chrono::milliseconds timeout) const {
  const std::size_t own = deliveringStream == this ? 1 : 0;
  return changed_.wait_for(lock, timeout, [this, own] { return inFlight_ <= own; });
}

std::vector<RegisteredStreamOutput> SimulatedStream::outputs() const {
  std::lock_guard lock(mutex_);
  std::vector<RegisteredStreamOutput> result;
  for (const Registration& registration : registrations_) {
    result.push_back({registration.type, registration.queueLabel, registration.output});
  }
  return result;
}

bool SimulatedStream::hasOutput(SCStreamOutputType type) const {
  std::lock_guard lock(mutex_);
  return std::any_of(
      registrations_.begin(), registrations_.end(),
      [type](const Registration& registration) { return registration.type == type; });
}

int SimulatedStream::startCount() const {
  std::lock_guard lock(mutex_);
  return startCount_;
}

int SimulatedStream::stopCount() const {
  std::lock_guard lock(mutex_);
  return stopCount_;
}

bool SimulatedStream::isCapturing() const {
  std::lock_guard lock(mutex_);
  return capturing_;
}

std::size_t SimulatedStream::deliveredCount(SCStreamOutputType type) const {
  std::lock_guard lock(mutex_);
  std::size_t count = 0;
  for (const Registration& registration : registrations_) {
    if (registration.type == type) {
      count += registration.delivered;
    }
  }
  return count;
}

bool SimulatedStream::waitUntilStarted(std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [this] { return hasStarted_; });
}

bool SimulatedStream::waitUntilStopped(std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [this] { return hasStopped_; });
}

bool SimulatedStream::deliver(SCStreamOutputType type, SampleBufferRef sample) {
  return post(type, std::move(sample), nullptr);
}

bool SimulatedStream::deliverAndWait(SCStreamOutputType type, SampleBufferRef sample,
                                     std::chrono::milliseconds timeout) {
  auto returned = std::make_shared<OneShot<Done>>();
  if (!post(type, std::move(sample), [returned] { returned->complete(Done{}); })) {
    return false;
  }
  std::unique_lock lock(mutex_);
  // The delivery's own notification wakes this wait after the callback.
  return changed_.wait_for(lock, timeout, [&returned] { return returned->isCompleted(); });
}

bool SimulatedStream::waitForDeliveries(std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  return drain(lock, timeout);
}

bool SimulatedStream::post(SCStreamOutputType type, SampleBufferRef sample,
                           std::function<void()> afterCallback) {
  if (sample) {
    world_->noteDelivered(*sample);
  }
  std::lock_guard lock(mutex_);
  if (!capturing_) {
    return false;
  }
  const auto found =
      std::find_if(registrations_.begin(), registrations_.end(),
                   [type](const Registration& registration) { return registration.type == type; });
  if (found == registrations_.end() || found->output.expired()) {
    return false;
  }
  ++inFlight_;
  const std::size_t index = static_cast<std::size_t>(found - registrations_.begin());
  found->queue.async([self = shared_from_this(), index, type, sample = std::move(sample),
                      afterCallback = std::move(afterCallback), output = found->output] {
    if (const auto receiver = output.lock()) {
      deliveringStream = self.get();
      receiver->streamDidOutputSampleBuffer(*self, sample, type);
      deliveringStream = nullptr;
    }
    // Counted before the waiter is released, so it sees its own delivery.
    std::lock_guard lock(self->mutex_);
    ++self->registrations_[index].delivered;
    --self->inFlight_;
    if (afterCallback) {
      afterCallback();
    }
    self->changed_.notify_all();
  });
  return true;
}

bool SimulatedStream::stopWithError(ErrorRef error, std::chrono::milliseconds timeout) {
  {
    std::unique_lock lock(mutex_);
    if (!endCapture(lock) || !drain(lock, timeout)) {
      return false;
    }
  }
  world_->callLog.append("stream.didStopWithError");
  const auto delegate = delegate_.lock();
  if (!delegate) {
    return true;
  }
  return callOnOwnThread([self = shared_from_this(), delegate,
                          error] { delegate->streamDidStopWithError(*self, error); },
                         timeout);
}

std::unique_ptr<SampleGenerator> SimulatedStream::makeGenerator() {
  const std::weak_ptr<SimulatedStream> weakSelf = weak_from_this();
  const auto poster = [weakSelf](SCStreamOutputType type) -> PostSample {
    return [weakSelf, type](SampleBufferRef sample) {
      if (auto self = weakSelf.lock()) {
        self->post(type, std::move(sample), nullptr);
        // The last owner must not be released on the generator's thread,
        // whose destruction joins it.
        DispatchQueue::global().async([released = std::move(self)] {});
      }
    };
  };

  std::vector<SampleGenerator::Source> sources;
  for (const Registration& registration : registrations_) {
    switch (registration.type) {
    case SCStreamOutputType::screen: {
      const CGRect content = filter_.contentRect();
      const auto width = static_cast<std::int32_t>(configuration_.width > 0
                                                       ? configuration_.width
                                                       : static_cast<std::int64_t>(content.width));
      const auto height = static_cast<std::int32_t>(
          configuration_.height > 0 ? configuration_.height
                                    : static_cast<std::int64_t>(content.height));
      const CMTime interval = configuration_.minimumFrameInterval.isNumeric() &&
                                      configuration_.minimumFrameInterval.value > 0
                                  ? configuration_.minimumFrameInterval
                                  : defaultFrameInterval;
      sources.push_back(videoSource(poster(registration.type), width, height,
                                    configuration_.pixelFormat.value_or(kCVPixelFormatType_32BGRA),
                                    interval));
      break;
    }
    case SCStreamOutputType::audio:
      sources.push_back(audioSource(poster(registration.type), 2, 440));
      break;
    case SCStreamOutputType::microphone:
      // The stream delivers the microphone in stereo.
      sources.push_back(audioSource(poster(registration.type), 2, 660));
      break;
    }
  }
  return std::make_unique<SampleGenerator>(std::move(sources));
}

} // namespace Platform::Simulated
