#pragma once

#include "Platform/ScreenCapture.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// A capture stream whose samples the test delivers (or, in automatic mode, a
// generator makes on the host clock once capture has started).
//
// Thread contract: every member may be called from any thread. Deliveries to
// one registered output are serialised on a serial queue that targets the
// queue given at registration; deliveries to different outputs may run at
// once. stopCapture waits (bounded) for deliveries in flight.

namespace Platform::Simulated {

struct World;
class SampleGenerator;

struct RegisteredStreamOutput {
  SCStreamOutputType type = SCStreamOutputType::screen;
  std::string queueLabel; // the label of the queue given at registration
  std::weak_ptr<SCStreamOutput> output;
};

inline constexpr std::chrono::milliseconds defaultWaitTimeout{5000};

class SimulatedStream final : public SCStream,
                              public std::enable_shared_from_this<SimulatedStream> {
public:
  SimulatedStream(std::shared_ptr<World> world, SCContentFilter filter,
                  SCStreamConfiguration configuration, std::weak_ptr<SCStreamDelegate> delegate);
  ~SimulatedStream() override;

  // SCStream.
  void addStreamOutput(std::weak_ptr<SCStreamOutput> output, SCStreamOutputType type,
                       DispatchQueue queue) override;
  void startCapture() override;
  void stopCapture() override;

  // Observation.
  const SCContentFilter& filter() const { return filter_; }
  const SCStreamConfiguration& configuration() const { return configuration_; }
  std::shared_ptr<SCStreamDelegate> delegate() const { return delegate_.lock(); }
  std::vector<RegisteredStreamOutput> outputs() const;
  bool hasOutput(SCStreamOutputType type) const;
  // Calls of startCapture and stopCapture, successful or not.
  int startCount() const;
  int stopCount() const;
  bool isCapturing() const;
  // Samples handed to outputs so far, per type.
  std::size_t deliveredCount(SCStreamOutputType type) const;

  // Waits until capture has started; false on timeout.
  bool waitUntilStarted(std::chrono::milliseconds timeout = defaultWaitTimeout) const;
  // Waits until capture has been stopped (by stopCapture or stopWithError).
  bool waitUntilStopped(std::chrono::milliseconds timeout = defaultWaitTimeout) const;

  // Posts `sample` to the output registered for `type`. False (and nothing
  // delivered) when no output of that type is registered, the stream is not
  // capturing, or the output is gone.
  bool deliver(SCStreamOutputType type, SampleBufferRef sample);
  // Like deliver, then waits until the output's callback has returned.
  // False also on timeout.
  bool deliverAndWait(SCStreamOutputType type, SampleBufferRef sample,
                      std::chrono::milliseconds timeout = defaultWaitTimeout);
  // Waits until every delivery posted so far has returned.
  bool waitForDeliveries(std::chrono::milliseconds timeout = defaultWaitTimeout) const;

  // A stream made while the platform holds stream starts waits in
  // startCapture, not yet begun, until this: a stop meanwhile finds nothing
  // to stop, and the start gives up when it begins. Begun unstopped, it
  // waits for a stop, as one waiting on the user's pick in the desktop's
  // dialog, and gives up at it.
  void beginHeldStart();

  // Makes stopCapture wait, still capturing, until releaseStops: a stream
  // whose server does not answer. Deliveries go on meanwhile.
  void holdStops();
  void releaseStops();

  // Ends the stream by itself: capture stops and the delegate is told, once,
  // on a thread of its own (the service's delegate thread). Waits until the
  // delegate returned; false on timeout, or when the stream was not
  // capturing (then the delegate is not called).
  bool stopWithError(ErrorRef error, std::chrono::milliseconds timeout = defaultWaitTimeout);

private:
  struct Registration {
    SCStreamOutputType type;
    std::weak_ptr<SCStreamOutput> output;
    std::string queueLabel;
    DispatchQueue queue; // serial, on the threads of the registered queue
    std::size_t delivered = 0;
  };

  // `afterCallback` runs under mutex_ once the delivery is counted.
  bool post(SCStreamOutputType type, SampleBufferRef sample, std::function<void()> afterCallback);
  // Ends capture and stops the generator; false when it was not capturing.
  bool endCapture(std::unique_lock<std::mutex>& lock);
  // Waits until no delivery but the caller's own is in flight.
  bool drain(std::unique_lock<std::mutex>& lock, std::chrono::milliseconds timeout) const;
  std::unique_ptr<SampleGenerator> makeGenerator();

  const std::shared_ptr<World> world_;
  const SCContentFilter filter_;
  const SCStreamConfiguration configuration_;
  const std::weak_ptr<SCStreamDelegate> delegate_;

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<Registration> registrations_;
  bool capturing_ = false;
  bool hasStarted_ = false;
  bool hasStopped_ = false;
  bool stopsHeld_ = false;
  bool startHeld_;
  bool startWaitsForStop_ = false;
  bool startBegun_ = false;
  bool stoppedBeforeStart_ = false;
  int startCount_ = 0;
  int stopCount_ = 0;
  std::size_t inFlight_ = 0;
  std::unique_ptr<SampleGenerator> generator_;
};

} // namespace Platform::Simulated
