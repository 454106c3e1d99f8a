#include "Simulated/SimulatedCaptureSession.h"

#include "Simulated/AutomaticSources.h"
#include "Simulated/OwnThreadCall.h"
#include "Simulated/SampleGenerator.h"
#include "Simulated/World.h"

#include <algorithm>

namespace Platform::Simulated {

namespace {

constexpr std::chrono::milliseconds drainTimeout{5000};
constexpr std::int32_t defaultDeviceWidth = 1280;
constexpr std::int32_t defaultDeviceHeight = 720;
constexpr CMTime deviceFrameInterval{1, 30, kCMTimeFlags_Valid, 0};

std::string kindName(CaptureOutputKind kind) {
  return kind == CaptureOutputKind::audioData ? "audioData" : "videoData";
}

std::string deviceIDOf(const std::shared_ptr<AVCaptureDeviceInput>& input) {
  const auto device = input ? input->device() : nullptr;
  return device ? device->uniqueID() : std::string();
}

// The first format of `mediaType` among the device's formats.
std::shared_ptr<const FormatDescription> firstFormat(const CaptureDeviceRef& device,
                                                     MediaType mediaType) {
  if (!device) {
    return nullptr;
  }
  for (const AVCaptureDeviceFormat& format : device->formats()) {
    if (format.formatDescription && format.formatDescription->mediaType == mediaType) {
      return format.formatDescription;
    }
  }
  return nullptr;
}

} // namespace

AVCaptureDeviceFormat audioDeviceFormat(int channelCount, double sampleRate) {
  return {FormatDescription::audioPCM({sampleRate, channelCount, AudioSampleFormat::float32})};
}

AVCaptureDeviceFormat audioDeviceFormatWithoutChannelLayout() {
  auto description = std::make_shared<FormatDescription>(
      *FormatDescription::audioPCM({48000, 2, AudioSampleFormat::float32}));
  description->audioChannelLayoutChannelCount.reset();
  return {std::move(description)};
}

AVCaptureDeviceFormat videoDeviceFormat(std::int32_t width, std::int32_t height) {
  return {FormatDescription::video(kCVPixelFormatType_32BGRA, width, height)};
}

SimulatedCaptureDevice::SimulatedCaptureDevice(DeviceDescription description)
    : description_(std::move(description)) {}

SimulatedCaptureOutput::SimulatedCaptureOutput(std::shared_ptr<World> world, CaptureOutputKind kind)
    : world_(std::move(world)), kind_(kind) {}

void SimulatedCaptureOutput::setSampleBufferDelegate(
    std::weak_ptr<AVCaptureDataOutputSampleBufferDelegate> delegate, DispatchQueue queue) {
  world_->callLog.append("output.setSampleBufferDelegate(" + queue.label() + ")");
  std::lock_guard lock(mutex_);
  delegate_ = std::move(delegate);
  // Samples of one output arrive one at a time, whatever queue was given.
  queue_.emplace(queue.serialTarget(queue.label()));
}

void SimulatedCaptureOutput::setCancelsEcho(bool cancelsEcho) {
  std::lock_guard lock(mutex_);
  cancelsEcho_ = cancelsEcho;
}

bool SimulatedCaptureOutput::cancelsEcho() const {
  std::lock_guard lock(mutex_);
  return cancelsEcho_;
}

void SimulatedCaptureOutput::setMinFrameDuration(CMTime duration) {
  world_->callLog.append("output.setMinFrameDuration(" + std::to_string(duration.value) + "/" +
                         std::to_string(duration.timescale) + ")");
  std::lock_guard lock(mutex_);
  minFrameDuration_ = duration;
}

CMTime SimulatedCaptureOutput::minFrameDuration() const {
  std::lock_guard lock(mutex_);
  return minFrameDuration_;
}

std::optional<std::string> SimulatedCaptureOutput::queueLabel() const {
  std::lock_guard lock(mutex_);
  if (!queue_) {
    return std::nullopt;
  }
  return queue_->label();
}

std::shared_ptr<AVCaptureDataOutputSampleBufferDelegate> SimulatedCaptureOutput::delegate() const {
  std::lock_guard lock(mutex_);
  return delegate_.lock();
}

std::size_t SimulatedCaptureOutput::deliveredCount() const {
  std::lock_guard lock(mutex_);
  return delivered_;
}

bool SimulatedCaptureOutput::deliver(SampleBufferRef sample) {
  return post(std::move(sample), nullptr);
}

bool SimulatedCaptureOutput::deliverAndWait(SampleBufferRef sample,
                                            std::chrono::milliseconds timeout) {
  auto returned = std::make_shared<OneShot<Done>>();
  if (!post(std::move(sample), [returned] { returned->complete(Done{}); })) {
    return false;
  }
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [&returned] { return returned->isCompleted(); });
}

bool SimulatedCaptureOutput::waitForDeliveries(std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [this] { return inFlight_ == 0; });
}

bool SimulatedCaptureOutput::post(SampleBufferRef sample, std::function<void()> afterCallback) {
  if (sample) {
    world_->noteDelivered(*sample);
  }
  std::lock_guard lock(mutex_);
  if (!queue_ || delegate_.expired()) {
    return false;
  }
  ++inFlight_;
  queue_->async([self = shared_from_this(), delegate = delegate_, sample = std::move(sample),
                 afterCallback = std::move(afterCallback)] {
    if (const auto receiver = delegate.lock()) {
      receiver->captureOutputDidOutputSampleBuffer(*self, sample);
    }
    // Counted before the waiter is released, so it sees its own delivery.
    std::lock_guard lock(self->mutex_);
    ++self->delivered_;
    --self->inFlight_;
    if (afterCallback) {
      afterCallback();
    }
    self->changed_.notify_all();
  });
  return true;
}

SimulatedCaptureSession::SimulatedCaptureSession(std::shared_ptr<World> world)
    : world_(std::move(world)) {}

SimulatedCaptureSession::~SimulatedCaptureSession() = default;

bool SimulatedCaptureSession::canAddInput(const std::shared_ptr<AVCaptureDeviceInput>& input) {
  if (!input ||
      world_->read([](const World& world) { return world.failures.refuseCaptureSessionInputs; })) {
    return false;
  }
  std::lock_guard lock(mutex_);
  return std::find(inputs_.begin(), inputs_.end(), input) == inputs_.end();
}

void SimulatedCaptureSession::addInput(std::shared_ptr<AVCaptureDeviceInput> input) {
  world_->callLog.append("captureSession.addInput(" + deviceIDOf(input) + ")");
  std::lock_guard lock(mutex_);
  inputs_.push_back(std::move(input));
}

bool SimulatedCaptureSession::canAddOutput(const CaptureOutputRef& output) {
  if (!std::dynamic_pointer_cast<SimulatedCaptureOutput>(output) ||
      world_->read([](const World& world) { return world.failures.refuseCaptureSessionOutputs; })) {
    return false;
  }
  std::lock_guard lock(mutex_);
  return std::find(outputs_.begin(), outputs_.end(), output) == outputs_.end();
}

void SimulatedCaptureSession::addOutput(CaptureOutputRef output) {
  world_->callLog.append("captureSession.addOutput(" + kindName(output->kind()) + ")");
  auto simulated = std::dynamic_pointer_cast<SimulatedCaptureOutput>(std::move(output));
  if (!simulated) {
    return; // not one of ours: a real session would refuse it too
  }
  std::lock_guard lock(mutex_);
  outputs_.push_back(std::move(simulated));
}

void SimulatedCaptureSession::setRuntimeErrorHandler(std::function<void(ErrorRef)> handler) {
  std::lock_guard lock(mutex_);
  runtimeErrorHandler_ = std::move(handler);
}

void SimulatedCaptureSession::startRunning() {
  world_->callLog.append("captureSession.startRunning");
  const ErrorRef failure =
      world_->read([](const World& world) { return world.failures.captureSessionStart; });
  {
    std::lock_guard lock(mutex_);
    ++startCount_;
    if (running_) {
      return;
    }
    if (!failure) {
      running_ = true;
      if (world_->generation == SampleGeneration::automatic) {
        generator_ = makeGenerator();
      }
      changed_.notify_all();
      return;
    }
  }
  reportRuntimeError(failure, defaultWaitTimeout);
}

bool SimulatedCaptureSession::isRunning() const {
  std::lock_guard lock(mutex_);
  return running_;
}

void SimulatedCaptureSession::stopRunning() {
  world_->callLog.append("captureSession.stopRunning");
  std::unique_lock lock(mutex_);
  ++stopCount_;
  endRunning(lock);
  lock.unlock();
  drainOutputs(drainTimeout);
}

bool SimulatedCaptureSession::endRunning(std::unique_lock<std::mutex>& lock) {
  if (!running_) {
    return false;
  }
  running_ = false;
  auto generator = std::move(generator_);
  changed_.notify_all();
  lock.unlock();
  generator.reset();
  lock.lock();
  return true;
}

bool SimulatedCaptureSession::drainOutputs(std::chrono::milliseconds timeout) const {
  const auto current = outputs();
  return std::all_of(current.begin(), current.end(),
                     [timeout](const auto& output) { return output->waitForDeliveries(timeout); });
}

std::vector<std::string> SimulatedCaptureSession::inputDeviceIDs() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> ids;
  for (const auto& input : inputs_) {
    ids.push_back(deviceIDOf(input));
  }
  return ids;
}

std::vector<std::shared_ptr<SimulatedCaptureOutput>> SimulatedCaptureSession::outputs() const {
  std::lock_guard lock(mutex_);
  return outputs_;
}

std::shared_ptr<SimulatedCaptureOutput>
SimulatedCaptureSession::output(CaptureOutputKind kind) const {
  std::lock_guard lock(mutex_);
  const auto found = std::find_if(outputs_.begin(), outputs_.end(),
                                  [kind](const auto& output) { return output->kind() == kind; });
  return found == outputs_.end() ? nullptr : *found;
}

int SimulatedCaptureSession::startCount() const {
  std::lock_guard lock(mutex_);
  return startCount_;
}

int SimulatedCaptureSession::stopCount() const {
  std::lock_guard lock(mutex_);
  return stopCount_;
}

bool SimulatedCaptureSession::waitUntilRunning(std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [this] { return running_; });
}

bool SimulatedCaptureSession::deliver(CaptureOutputKind kind, SampleBufferRef sample) {
  const auto target = output(kind);
  return target && isRunning() && target->deliver(std::move(sample));
}

bool SimulatedCaptureSession::deliverAndWait(CaptureOutputKind kind, SampleBufferRef sample,
                                             std::chrono::milliseconds timeout) {
  const auto target = output(kind);
  return target && isRunning() && target->deliverAndWait(std::move(sample), timeout);
}

bool SimulatedCaptureSession::failAtRuntime(ErrorRef error, std::chrono::milliseconds timeout) {
  {
    std::unique_lock lock(mutex_);
    if (!endRunning(lock)) {
      return false;
    }
  }
  if (!drainOutputs(timeout)) {
    return false;
  }
  return reportRuntimeError(std::move(error), timeout);
}

bool SimulatedCaptureSession::reportRuntimeError(ErrorRef error,
                                                 std::chrono::milliseconds timeout) {
  world_->callLog.append("captureSession.runtimeError");
  std::function<void(ErrorRef)> handler;
  {
    std::lock_guard lock(mutex_);
    handler = runtimeErrorHandler_;
  }
  if (!handler) {
    return true;
  }
  return callOnOwnThread([handler, error = std::move(error)] { handler(error); }, timeout);
}

std::unique_ptr<SampleGenerator> SimulatedCaptureSession::makeGenerator() {
  const CaptureDeviceRef device = inputs_.empty() ? nullptr : inputs_.front()->device();
  std::vector<SampleGenerator::Source> sources;
  for (const auto& output : outputs_) {
    const std::weak_ptr<SimulatedCaptureOutput> weakOutput = output;
    PostSample post = [weakOutput](SampleBufferRef sample) {
      if (const auto target = weakOutput.lock()) {
        target->deliver(std::move(sample));
      }
    };
    if (output->kind() == CaptureOutputKind::audioData) {
      const auto format = firstFormat(device, MediaType::audio);
      const int channels = format && format->audio ? format->audio->channelCount : 2;
      sources.push_back(audioSource(std::move(post), channels, 550));
    } else {
      const auto format = firstFormat(device, MediaType::video);
      sources.push_back(videoSource(std::move(post), format ? format->width : defaultDeviceWidth,
                                    format ? format->height : defaultDeviceHeight,
                                    kCVPixelFormatType_32BGRA, deviceFrameInterval));
    }
  }
  return std::make_unique<SampleGenerator>(std::move(sources));
}

} // namespace Platform::Simulated
