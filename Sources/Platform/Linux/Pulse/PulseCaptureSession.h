#pragma once

#include "Platform/DeliveryGate.h"
#include "Platform/Linux/AudioCapture.h"
#include "Platform/MediaCapture.h"
#include "Platform/ThreadSafety.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

// Capture sessions of the Linux platform: one audio device input run into one
// audio data output, whose delegate gets the samples on the output's queue,
// one at a time and in capture order.
//
// Thread contract: every member may be called from any thread, stopRunning
// also from inside the delegate. The runtime-error handler hears only of a
// start that failed: a running session does not fail, its capture turns a
// lost source into silence.

namespace Platform::Linux::Pulse {

class CaptureDevice final : public AVCaptureDevice {
public:
  CaptureDevice(std::string uniqueID, std::string localizedName, AudioStreamDescription format);
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

  struct Target {
    std::weak_ptr<AVCaptureDataOutputSampleBufferDelegate> delegate;
    DispatchQueue queue;
  };
  // The delegate and its queue, when set.
  std::optional<Target> target() const;

private:
  const CaptureOutputKind kind_;
  mutable Mutex mutex_;
  std::optional<Target> target_ GUARDED_BY(mutex_);
};

class CaptureSession final : public AVCaptureSession {
public:
  // Makes the capture of a source named by a device's uniqueID.
  using CaptureMaker = std::function<std::unique_ptr<AudioCapture>(const std::string& sourceName)>;

  explicit CaptureSession(CaptureMaker makeCapture);
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
  const CaptureMaker makeCapture_;

  // Serialises starting and stopping the capture.
  Mutex controlMutex_;
  std::unique_ptr<AudioCapture> capture_ GUARDED_BY(controlMutex_);

  // Guards the configuration, the gate and the running flag.
  mutable Mutex stateMutex_;
  std::shared_ptr<DeliveryGate> gate_ GUARDED_BY(stateMutex_);
  std::shared_ptr<AVCaptureDeviceInput> input_ GUARDED_BY(stateMutex_);
  std::shared_ptr<DataOutput> audioOutput_ GUARDED_BY(stateMutex_);
  std::shared_ptr<DataOutput> videoOutput_ GUARDED_BY(stateMutex_);
  std::function<void(ErrorRef)> runtimeErrorHandler_ GUARDED_BY(stateMutex_);
  bool running_ GUARDED_BY(stateMutex_) = false;
};

} // namespace Platform::Linux::Pulse
