#include "Platform/Linux/Capture/CaptureSession.h"

#include <atomic>

namespace Platform::Linux::Capture {

namespace {

// An audio capture as a device run.
class AudioDeviceRun final : public DeviceRun {
public:
  explicit AudioDeviceRun(std::unique_ptr<AudioCapture> capture) : capture_(std::move(capture)) {}
  void stop() override { capture_->stop(); }

private:
  std::unique_ptr<AudioCapture> capture_;
};

// Posts each sample to the output's delegate on its queue, through `gate`.
// Without a delegate the samples have nowhere to go and are dropped.
std::function<void(SampleBufferRef)> deliveryTo(const std::shared_ptr<DataOutput>& output,
                                                const std::shared_ptr<DeliveryGate>& gate) {
  const auto target = output->target();
  auto receiver = target ? std::make_shared<const DataOutput::Target>(*target) : nullptr;
  return [gate, target = std::move(receiver),
          weakOutput = std::weak_ptr<DataOutput>(output)](SampleBufferRef sample) {
    if (target == nullptr) {
      return;
    }
    target->queue.async(gate->wrap([delegate = target->delegate, weakOutput, sample] {
      auto receiver = delegate.lock();
      auto output = weakOutput.lock();
      if (receiver && output) {
        receiver->captureOutputDidOutputSampleBuffer(*output, sample);
      }
    }));
  };
}

ErrorRef asError(const std::exception& failure) {
  const auto* systemError = dynamic_cast<const SystemError*>(&failure);
  return systemError != nullptr ? std::make_shared<SystemError>(*systemError)
                                : makeError(ErrorDomain::mediaCapture, 0, describe(failure));
}

} // namespace

CaptureDevice::CaptureDevice(std::string uniqueID, std::string localizedName,
                             std::vector<AVCaptureDeviceFormat> formats)
    : uniqueID_(std::move(uniqueID)), localizedName_(std::move(localizedName)),
      formats_(std::move(formats)) {}

void DataOutput::setSampleBufferDelegate(
    std::weak_ptr<AVCaptureDataOutputSampleBufferDelegate> delegate, DispatchQueue queue) {
  // Samples must reach the delegate in order even on a concurrent queue.
  if (!queue.isSerial()) {
    queue = queue.serialTarget(queue.label());
  }
  Lock lock(mutex_);
  target_ = Target{std::move(delegate), std::move(queue)};
}

void DataOutput::setMinFrameDuration(CMTime duration) {
  Lock lock(mutex_);
  minFrameDuration_ = duration;
}

std::optional<DataOutput::Target> DataOutput::target() const {
  Lock lock(mutex_);
  return target_;
}

CMTime DataOutput::minFrameDuration() const {
  Lock lock(mutex_);
  return minFrameDuration_;
}

void DataOutput::setCancelsEcho(bool cancelsEcho) {
  Lock lock(mutex_);
  cancelsEcho_ = cancelsEcho;
}

bool DataOutput::cancelsEcho() const {
  Lock lock(mutex_);
  return cancelsEcho_;
}

DeviceRunMaker audioDeviceRuns(
    std::function<std::unique_ptr<AudioCapture>(const std::string& sourceName, bool cancelsEcho)>
        makeCapture) {
  return [makeCapture = std::move(makeCapture)](const AVCaptureDevice& device,
                                                DeviceSinks sinks) -> std::unique_ptr<DeviceRun> {
    if (!sinks.audio) {
      return nullptr;
    }
    auto capture = makeCapture(device.uniqueID(), sinks.cancelsEcho);
    capture->start(std::move(sinks.audio));
    return std::make_unique<AudioDeviceRun>(std::move(capture));
  };
}

CaptureSession::CaptureSession(DeviceRunMaker makeRun) : makeRun_(std::move(makeRun)) {}

CaptureSession::~CaptureSession() {
  stopRunning();
}

bool CaptureSession::canAddInput(const std::shared_ptr<AVCaptureDeviceInput>& input) {
  Lock lock(stateMutex_);
  return input != nullptr && input->device() != nullptr && input_ == nullptr;
}

void CaptureSession::addInput(std::shared_ptr<AVCaptureDeviceInput> input) {
  if (!canAddInput(input)) {
    return;
  }
  Lock lock(stateMutex_);
  input_ = std::move(input);
}

bool CaptureSession::canAddOutput(const CaptureOutputRef& output) {
  const auto* ours = dynamic_cast<const DataOutput*>(output.get());
  if (ours == nullptr) {
    return false;
  }
  Lock lock(stateMutex_);
  return (ours->kind() == CaptureOutputKind::audioData ? audioOutput_ : videoOutput_) == nullptr;
}

void CaptureSession::addOutput(CaptureOutputRef output) {
  if (!canAddOutput(output)) {
    return;
  }
  auto ours = std::static_pointer_cast<DataOutput>(std::move(output));
  Lock lock(stateMutex_);
  (ours->kind() == CaptureOutputKind::audioData ? audioOutput_ : videoOutput_) = std::move(ours);
}

void CaptureSession::setRuntimeErrorHandler(std::function<void(ErrorRef)> handler) {
  Lock lock(stateMutex_);
  runtimeErrorHandler_ = std::move(handler);
}

void CaptureSession::startRunning() {
  Lock control(controlMutex_);
  std::shared_ptr<AVCaptureDeviceInput> input;
  std::shared_ptr<DataOutput> audioOutput;
  std::shared_ptr<DataOutput> videoOutput;
  {
    Lock lock(stateMutex_);
    if (running_) {
      return;
    }
    input = input_;
    audioOutput = audioOutput_;
    videoOutput = videoOutput_;
  }

  // Closed when the session stops, so that samples still queued for the
  // delegates then are dropped.
  auto gate = std::make_shared<DeliveryGate>();
  DeviceSinks sinks;
  if (audioOutput) {
    sinks.audio = deliveryTo(audioOutput, gate);
    sinks.cancelsEcho = audioOutput->cancelsEcho();
  }
  if (videoOutput) {
    sinks.video = deliveryTo(videoOutput, gate);
    sinks.minFrameDuration = videoOutput->minFrameDuration();
  }
  std::uint64_t runNumber = 0;
  {
    // Running from here on, so that a failure right after the start counts.
    Lock lock(stateMutex_);
    gate_ = gate;
    running_ = true;
    runNumber = ++runCount_;
  }
  // Nothing to record, as with a session that has no input: it runs idle.
  if (input == nullptr || (!sinks.audio && !sinks.video)) {
    return;
  }
  // Told off the capture's thread, as stopping the run joins it; the first
  // failure is the one told.
  sinks.failed = [session = weak_from_this(), runNumber,
                  told = std::make_shared<std::atomic<bool>>(false)](ErrorRef error) {
    if (told->exchange(true)) {
      return;
    }
    startTask([session, runNumber, error = std::move(error)] {
      if (const auto self = session.lock()) {
        self->runFailed(runNumber, error);
      }
    });
  };
  try {
    run_ = makeRun_(*input->device(), std::move(sinks));
  } catch (const std::exception& failure) {
    std::function<void(ErrorRef)> handler;
    {
      Lock lock(stateMutex_);
      running_ = false;
      gate_.reset();
      handler = runtimeErrorHandler_;
    }
    if (handler) {
      handler(asError(failure));
    }
  }
}

bool CaptureSession::isRunning() const {
  Lock lock(stateMutex_);
  return running_;
}

void CaptureSession::stopRunning() {
  std::shared_ptr<DeliveryGate> gate;
  {
    Lock lock(stateMutex_);
    running_ = false;
    gate = std::move(gate_);
  }
  {
    // The run passes on what it holds as it stops.
    Lock control(controlMutex_);
    if (run_) {
      run_->stop();
      run_.reset();
    }
  }
  if (gate) {
    // What was captured before the stop reaches the delegates before it
    // returns, nothing after. From inside a delivery the delegate is stopping
    // us itself: the samples queued behind it are dropped.
    gate->drain(finalAudioPatience);
    gate->close();
  }
}

void CaptureSession::runFailed(std::uint64_t runNumber, ErrorRef error) {
  std::function<void(ErrorRef)> handler;
  {
    Lock lock(stateMutex_);
    if (!running_ || runCount_ != runNumber) {
      return; // stopped meanwhile
    }
    handler = runtimeErrorHandler_;
  }
  // What the device gave before it went is delivered, then the failure told.
  stopRunning();
  if (handler) {
    handler(std::move(error));
  }
}

} // namespace Platform::Linux::Capture
