#pragma once

#include "Platform/MediaCapture.h"
#include "Simulated/SimulatedStream.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

// Capture devices, device inputs, data outputs and capture sessions of the
// simulated media-capture service. The test delivers samples through the
// session's outputs (or, in automatic mode, a generator does while the
// session runs).
//
// Thread contract: every member may be called from any thread. Deliveries of
// one output are serialised on the queue given to setSampleBufferDelegate;
// the runtime-error handler runs on a thread of its own.

namespace Platform::Simulated {

struct World;
class SampleGenerator;

// A scripted capture device: its identity and formats.
struct DeviceDescription {
  std::string uniqueID;
  std::string localizedName;
  std::vector<AVCaptureDeviceFormat> formats;
};

// A device format of PCM audio whose channel layout has `channelCount`
// channels.
AVCaptureDeviceFormat audioDeviceFormat(int channelCount, double sampleRate = 48000);
// A device format of audio whose description carries no channel layout.
AVCaptureDeviceFormat audioDeviceFormatWithoutChannelLayout();
// A device format of BGRA video of the given size.
AVCaptureDeviceFormat videoDeviceFormat(std::int32_t width, std::int32_t height);

class SimulatedCaptureDevice final : public AVCaptureDevice {
public:
  explicit SimulatedCaptureDevice(DeviceDescription description);
  std::string uniqueID() const override { return description_.uniqueID; }
  std::string localizedName() const override { return description_.localizedName; }
  std::vector<AVCaptureDeviceFormat> formats() const override { return description_.formats; }

private:
  const DeviceDescription description_;
};

class SimulatedDeviceInput final : public AVCaptureDeviceInput {
public:
  explicit SimulatedDeviceInput(CaptureDeviceRef device) : device_(std::move(device)) {}
  CaptureDeviceRef device() const override { return device_; }

private:
  const CaptureDeviceRef device_;
};

class SimulatedCaptureOutput final : public AVCaptureOutput,
                                     public std::enable_shared_from_this<SimulatedCaptureOutput> {
public:
  SimulatedCaptureOutput(std::shared_ptr<World> world, CaptureOutputKind kind);

  CaptureOutputKind kind() const override { return kind_; }
  void setSampleBufferDelegate(std::weak_ptr<AVCaptureDataOutputSampleBufferDelegate> delegate,
                               DispatchQueue queue) override;
  void setMinFrameDuration(CMTime duration) override;
  CMTime minFrameDuration() const;
  void setCancelsEcho(bool cancelsEcho) override;
  bool cancelsEcho() const;

  // The label of the delegate's queue; absent before a delegate was set.
  std::optional<std::string> queueLabel() const;
  std::shared_ptr<AVCaptureDataOutputSampleBufferDelegate> delegate() const;
  std::size_t deliveredCount() const;

  // Posts `sample` to the delegate on its queue. False when no delegate is
  // set or it is gone. The owning session's `deliver` also checks that it
  // runs; this one does not.
  bool deliver(SampleBufferRef sample);
  bool deliverAndWait(SampleBufferRef sample,
                      std::chrono::milliseconds timeout = defaultWaitTimeout);
  bool waitForDeliveries(std::chrono::milliseconds timeout = defaultWaitTimeout) const;

private:
  // `afterCallback` runs under mutex_ once the delivery is counted.
  bool post(SampleBufferRef sample, std::function<void()> afterCallback);

  const std::shared_ptr<World> world_;
  const CaptureOutputKind kind_;
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::weak_ptr<AVCaptureDataOutputSampleBufferDelegate> delegate_;
  std::optional<DispatchQueue> queue_;
  CMTime minFrameDuration_ = kCMTimeInvalid;
  bool cancelsEcho_ = false;
  std::size_t delivered_ = 0;
  std::size_t inFlight_ = 0;
};

class SimulatedCaptureSession final : public AVCaptureSession,
                                      public std::enable_shared_from_this<SimulatedCaptureSession> {
public:
  explicit SimulatedCaptureSession(std::shared_ptr<World> world);
  ~SimulatedCaptureSession() override;

  // AVCaptureSession.
  bool canAddInput(const std::shared_ptr<AVCaptureDeviceInput>& input) override;
  void addInput(std::shared_ptr<AVCaptureDeviceInput> input) override;
  bool canAddOutput(const CaptureOutputRef& output) override;
  void addOutput(CaptureOutputRef output) override;
  void setRuntimeErrorHandler(std::function<void(ErrorRef)> handler) override;
  void startRunning() override;
  bool isRunning() const override;
  void stopRunning() override;

  // Observation.
  std::vector<std::string> inputDeviceIDs() const;
  std::vector<std::shared_ptr<SimulatedCaptureOutput>> outputs() const;
  // The first added output of `kind`, or null.
  std::shared_ptr<SimulatedCaptureOutput> output(CaptureOutputKind kind) const;
  // Calls of startRunning and stopRunning, successful or not.
  int startCount() const;
  int stopCount() const;

  bool waitUntilRunning(std::chrono::milliseconds timeout = defaultWaitTimeout) const;

  // Posts `sample` to the first added output of `kind`; false when the
  // session is not running or that output has no delegate.
  bool deliver(CaptureOutputKind kind, SampleBufferRef sample);
  bool deliverAndWait(CaptureOutputKind kind, SampleBufferRef sample,
                      std::chrono::milliseconds timeout = defaultWaitTimeout);

  // Capture ends by itself: the session stops running and the runtime-error
  // handler is called on a thread of its own. Waits until the handler
  // returned; false on timeout or when the session was not running.
  bool failAtRuntime(ErrorRef error, std::chrono::milliseconds timeout = defaultWaitTimeout);

private:
  bool reportRuntimeError(ErrorRef error, std::chrono::milliseconds timeout);
  // Stops running and the generator; false when it was not running.
  bool endRunning(std::unique_lock<std::mutex>& lock);
  bool drainOutputs(std::chrono::milliseconds timeout) const;
  std::unique_ptr<SampleGenerator> makeGenerator();

  const std::shared_ptr<World> world_;
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<std::shared_ptr<AVCaptureDeviceInput>> inputs_;
  std::vector<std::shared_ptr<SimulatedCaptureOutput>> outputs_;
  std::function<void(ErrorRef)> runtimeErrorHandler_;
  bool running_ = false;
  int startCount_ = 0;
  int stopCount_ = 0;
  std::unique_ptr<SampleGenerator> generator_;
};

} // namespace Platform::Simulated
