#pragma once

#include "Platform/Dispatch.h"
#include "Platform/Error.h"
#include "Platform/SampleBuffer.h"
#include "Platform/Time.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// The media-capture service: discovery of capture devices (microphones and
// external devices), and capture sessions that run device inputs into data
// outputs whose samples reach a delegate on a queue.

namespace Platform {

enum class AVCaptureDeviceType {
  microphone,
  external,
};

enum class AVCaptureDevicePosition { unspecified = 0, back = 1, front = 2 };

struct AVCaptureDeviceFormat {
  std::shared_ptr<const FormatDescription> formatDescription;
};

class AVCaptureDevice {
public:
  virtual ~AVCaptureDevice() = default;
  virtual std::string uniqueID() const = 0;
  virtual std::string localizedName() const = 0;
  virtual std::vector<AVCaptureDeviceFormat> formats() const = 0;
};

using CaptureDeviceRef = std::shared_ptr<AVCaptureDevice>;

class AVCaptureDeviceInput {
public:
  virtual ~AVCaptureDeviceInput() = default;
  virtual CaptureDeviceRef device() const = 0;
};

class AVCaptureOutput;

// Receives the samples of the data outputs it was set on, on their queues.
class AVCaptureDataOutputSampleBufferDelegate {
public:
  virtual ~AVCaptureDataOutputSampleBufferDelegate() = default;
  virtual void captureOutputDidOutputSampleBuffer(AVCaptureOutput& output,
                                                  SampleBufferRef sampleBuffer) = 0;
};

enum class CaptureOutputKind { audioData, videoData };

// A data output of a capture session. Samples are delivered one at a time,
// in capture order, stamped with the host clock.
class AVCaptureOutput {
public:
  virtual ~AVCaptureOutput() = default;
  virtual CaptureOutputKind kind() const = 0;
  virtual void
  setSampleBufferDelegate(std::weak_ptr<AVCaptureDataOutputSampleBufferDelegate> delegate,
                          DispatchQueue queue) = 0;
  // For a video data output: the shortest time between two frames it
  // delivers (a connection's video minimum frame duration); frames a device
  // sends sooner are left out. Invalid, as it starts, takes every frame.
  virtual void setMinFrameDuration(CMTime duration) = 0;
  // For an audio data output: the sound is cleaned of what the speakers play
  // (voice processing), or, off as it starts, delivered as the device hears.
  virtual void setCancelsEcho(bool cancelsEcho) = 0;
};

using CaptureOutputRef = std::shared_ptr<AVCaptureOutput>;

// Runs its inputs into its outputs. The runtime-error handler is called, on
// a thread of the service, when capture ends by itself while running (the
// device went away, the audio server failed).
class AVCaptureSession {
public:
  virtual ~AVCaptureSession() = default;
  virtual bool canAddInput(const std::shared_ptr<AVCaptureDeviceInput>& input) = 0;
  virtual void addInput(std::shared_ptr<AVCaptureDeviceInput> input) = 0;
  virtual bool canAddOutput(const CaptureOutputRef& output) = 0;
  virtual void addOutput(CaptureOutputRef output) = 0;
  virtual void setRuntimeErrorHandler(std::function<void(ErrorRef)> handler) = 0;
  // Blocks until capture runs, or failed (then the runtime-error handler is
  // told and isRunning stays false).
  virtual void startRunning() = 0;
  virtual bool isRunning() const = 0;
  // Blocks until no further sample will be delivered.
  virtual void stopRunning() = 0;
};

class MediaCaptureService {
public:
  virtual ~MediaCaptureService() = default;

  // Devices of the given types, in the service's order; `mediaType` absent
  // means any media.
  virtual std::vector<CaptureDeviceRef>
  discoverDevices(const std::vector<AVCaptureDeviceType>& deviceTypes,
                  std::optional<MediaType> mediaType, AVCaptureDevicePosition position) = 0;

  // Throws Platform::Error when the device cannot be opened.
  virtual std::shared_ptr<AVCaptureDeviceInput> makeDeviceInput(const CaptureDeviceRef& device) = 0;
  virtual std::shared_ptr<AVCaptureSession> makeCaptureSession() = 0;
  virtual CaptureOutputRef makeAudioDataOutput() = 0;
  virtual CaptureOutputRef makeVideoDataOutput() = 0;

  // Lets attached screen-capture devices (external devices) be discovered.
  // Harmless to call again.
  virtual void allowScreenCaptureDevices() = 0;
};

} // namespace Platform
