#include "Platform/Linux/Pulse/PulseCaptureSession.h"

namespace Platform::Linux::Pulse {

CaptureDevice::CaptureDevice(std::string uniqueID, std::string localizedName,
                             AudioStreamDescription format)
    : uniqueID_(std::move(uniqueID)),
      localizedName_(std::move(localizedName)), formats_{AVCaptureDeviceFormat{
                                                    FormatDescription::audioPCM(format)}} {}

void DataOutput::setSampleBufferDelegate(
    std::weak_ptr<AVCaptureDataOutputSampleBufferDelegate> delegate, DispatchQueue queue) {
  // Samples must reach the delegate in order even on a concurrent queue.
  if (!queue.isSerial()) {
    queue = queue.serialTarget(queue.label());
  }
  Lock lock(mutex_);
  target_ = Target{std::move(delegate), std::move(queue)};
}

std::optional<DataOutput::Target> DataOutput::target() const {
  Lock lock(mutex_);
  return target_;
}

CaptureSession::CaptureSession(CaptureMaker makeCapture) : makeCapture_(std::move(makeCapture)) {}

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
  std::shared_ptr<DataOutput> output;
  {
    Lock lock(stateMutex_);
    if (running_) {
      return;
    }
    input = input_;
    output = audioOutput_;
  }
  // Nothing to record, as with a session that has no input: it runs idle.
  if (input == nullptr || output == nullptr) {
    Lock lock(stateMutex_);
    running_ = true;
    return;
  }

  // Closed when the session stops, so that samples still queued for the
  // delegate then are dropped.
  auto gate = std::make_shared<DeliveryGate>();
  // Without a delegate the samples have nowhere to go and are dropped.
  const auto target = output->target();
  auto receiver = target ? std::make_shared<const DataOutput::Target>(*target) : nullptr;
  auto deliver = [gate, target = std::move(receiver),
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

  {
    // Running from here on, so that a failure right after the start counts.
    Lock lock(stateMutex_);
    gate_ = gate;
    running_ = true;
  }
  try {
    auto capture = makeCapture_(input->device()->uniqueID());
    capture->start(std::move(deliver));
    capture_ = std::move(capture);
  } catch (const std::exception& failure) {
    const auto* systemError = dynamic_cast<const SystemError*>(&failure);
    const ErrorRef error = systemError != nullptr
                               ? std::make_shared<SystemError>(*systemError)
                               : makeError(ErrorDomain::mediaCapture, 0, describe(failure));
    std::function<void(ErrorRef)> handler;
    {
      Lock lock(stateMutex_);
      running_ = false;
      gate_.reset();
      handler = runtimeErrorHandler_;
    }
    if (handler) {
      handler(error);
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
    // The capture passes on what it holds as it stops.
    Lock control(controlMutex_);
    if (capture_) {
      capture_->stop();
      capture_.reset();
    }
  }
  if (gate) {
    // What was captured before the stop reaches the delegate before it
    // returns, nothing after. From inside a delivery the delegate is stopping
    // us itself: the samples queued behind it are dropped.
    gate->drain(finalAudioPatience);
    gate->close();
  }
}

} // namespace Platform::Linux::Pulse
