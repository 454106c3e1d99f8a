#pragma once

#include "Platform/DeliveryGate.h"
#include "Platform/Linux/AudioCapture.h"
#include "Platform/MediaCapture.h"
#include "Platform/ThreadSafety.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

// Capture sessions of the Linux platform: one device input (a microphone, a
// camera) run into an audio and a video data output, whose delegates get
// the samples on the outputs' queues, one at a time and in capture order.
// What runs the device is the business of the backend that listed it.
//
// Thread contract: every member may be called from any thread, stopRunning
// also from inside the delegate. The runtime-error handler hears of a start
// that failed and of a device that stopped by itself (a camera unplugged);
// an audio capture turns a lost source into silence and never fails.

namespace Platform::Linux::Capture {

// A device as a backend lists it; backends derive their own, to tell theirs
// apart.
class CaptureDevice : public AVCaptureDevice {
public:
  CaptureDevice(std::string uniqueID, std::string localizedName,
                std::vector<AVCaptureDeviceFormat> formats);
  std::string uniqueID() const override { return uniqueID_; }
  std::string localizedName() const override { return localizedName_; }
  std::vector<AVCaptureDeviceFormat> formats() const override { return formats_; }

private:
  std::string uniqueID_;
  std::string localizedName_;
  std::vector<AVCaptureDeviceFormat> formats_;
};

class DeviceInput final : public AVCaptureDeviceInput {
public:
  explicit DeviceInput(CaptureDeviceRef device) : device_(std::move(device)) {}
  CaptureDeviceRef device() const override { return device_; }

private:
  CaptureDeviceRef device_;
};

class DataOutput final : public AVCaptureOutput {
public:
  explicit DataOutput(CaptureOutputKind kind) : kind_(kind) {}
  CaptureOutputKind kind() const override { return kind_; }
  void setSampleBufferDelegate(std::weak_ptr<AVCaptureDataOutputSampleBufferDelegate> delegate,
                               DispatchQueue queue) override;
  void setMinFrameDuration(CMTime duration) override;
  void setCancelsEcho(bool cancelsEcho) override;

  struct Target {
    std::weak_ptr<AVCaptureDataOutputSampleBufferDelegate> delegate;
    DispatchQueue queue;
  };
  // The delegate and its queue, when set.
  std::optional<Target> target() const;
  CMTime minFrameDuration() const;
  bool cancelsEcho() const;

private:
  const CaptureOutputKind kind_;
  mutable Mutex mutex_;
  std::optional<Target> target_ GUARDED_BY(mutex_);
  CMTime minFrameDuration_ GUARDED_BY(mutex_) = kCMTimeInvalid;
  bool cancelsEcho_ GUARDED_BY(mutex_) = false;
};

// Where a running device sends what it captures: each function empty when
// no output takes that kind.
struct DeviceSinks {
  std::function<void(SampleBufferRef)> audio;
  std::function<void(SampleBufferRef)> video;
  // The device stopped by itself; called at most once, on a thread of the
  // capture, never from inside stop().
  std::function<void(ErrorRef)> failed;
  // The video output's shortest time between frames (invalid: any).
  CMTime minFrameDuration = kCMTimeInvalid;
  // The audio output's sound is cleaned of what the speakers play.
  bool cancelsEcho = false;
};

// One device being captured.
class DeviceRun {
public:
  virtual ~DeviceRun() = default;
  // Passes on what it still holds, then delivers nothing more.
  virtual void stop() = 0;
};

// Starts capturing `device` into `sinks`; null when it has nothing for the
// sinks given. Throws Platform::Error when the device cannot be captured.
using DeviceRunMaker =
    std::function<std::unique_ptr<DeviceRun>(const AVCaptureDevice& device, DeviceSinks sinks)>;

// Runs an audio device through the audio capture its uniqueID names, with
// or without echo cancelling.
DeviceRunMaker audioDeviceRuns(
    std::function<std::unique_ptr<AudioCapture>(const std::string& sourceName, bool cancelsEcho)>
        makeCapture);

class CaptureSession final : public AVCaptureSession,
                             public std::enable_shared_from_this<CaptureSession> {
public:
  explicit CaptureSession(DeviceRunMaker makeRun);
  ~CaptureSession() override;

  bool canAddInput(const std::shared_ptr<AVCaptureDeviceInput>& input) override;
  void addInput(std::shared_ptr<AVCaptureDeviceInput> input) override;
  bool canAddOutput(const CaptureOutputRef& output) override;
  void addOutput(CaptureOutputRef output) override;
  void setRuntimeErrorHandler(std::function<void(ErrorRef)> handler) override;
  void startRunning() override;
  bool isRunning() const override;
  void stopRunning() override;

private:
  // Tells the runtime-error handler, once per run, and stops the run.
  void runFailed(std::uint64_t runNumber, ErrorRef error);

  const DeviceRunMaker makeRun_;

  // Serialises starting and stopping the run.
  Mutex controlMutex_;
  std::unique_ptr<DeviceRun> run_ GUARDED_BY(controlMutex_);

  // Guards the configuration, the gate and the running flag.
  mutable Mutex stateMutex_;
  std::shared_ptr<DeliveryGate> gate_ GUARDED_BY(stateMutex_);
  std::shared_ptr<AVCaptureDeviceInput> input_ GUARDED_BY(stateMutex_);
  std::shared_ptr<DataOutput> audioOutput_ GUARDED_BY(stateMutex_);
  std::shared_ptr<DataOutput> videoOutput_ GUARDED_BY(stateMutex_);
  std::function<void(ErrorRef)> runtimeErrorHandler_ GUARDED_BY(stateMutex_);
  bool running_ GUARDED_BY(stateMutex_) = false;
  std::uint64_t runCount_ GUARDED_BY(stateMutex_) = 0;
};

} // namespace Platform::Linux::Capture
