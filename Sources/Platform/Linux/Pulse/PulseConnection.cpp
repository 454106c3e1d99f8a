#include "Platform/Linux/Pulse/PulseConnection.h"

#include "Platform/Error.h"

#include <pulse/error.h>
#include <pulse/rtclock.h>

namespace Platform::Linux::Pulse {

namespace {

// A main-loop timer that wakes the waiters once its deadline has passed.
class Deadline {
public:
  Deadline(const Connection& connection, std::chrono::milliseconds timeout)
      : connection_(connection) {
    const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(timeout).count();
    event_ = pa_context_rttime_new(
        connection.context(), pa_rtclock_now() + static_cast<pa_usec_t>(micros), &expired, this);
    // Without a timer the wait could outlive its deadline: treat it as passed.
    passed_ = event_ == nullptr;
  }
  ~Deadline() {
    if (event_ != nullptr) {
      pa_mainloop_api* api = pa_threaded_mainloop_get_api(connection_.mainloop());
      api->time_free(event_);
    }
  }
  Deadline(const Deadline&) = delete;
  Deadline& operator=(const Deadline&) = delete;

  bool hasPassed() const { return passed_; }

private:
  static void expired(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* userdata) {
    auto* self = static_cast<Deadline*>(userdata);
    self->passed_ = true;
    self->connection_.signal();
  }

  const Connection& connection_;
  pa_time_event* event_ = nullptr;
  bool passed_ = false;
};

struct OperationOwner {
  void operator()(pa_operation* operation) const { pa_operation_unref(operation); }
};

} // namespace

Connection::Lock::Lock(const Connection& connection) : mainloop_(connection.mainloop()) {
  pa_threaded_mainloop_lock(mainloop_);
}

Connection::Lock::~Lock() {
  pa_threaded_mainloop_unlock(mainloop_);
}

Connection::Connection() {
  mainloop_ = pa_threaded_mainloop_new();
  if (mainloop_ == nullptr) {
    throw SystemError(ErrorDomain::mediaCapture, PA_ERR_INTERNAL,
                      "Could not create the audio server main loop");
  }
  context_ = pa_context_new(pa_threaded_mainloop_get_api(mainloop_), "tarsel-helper");
  if (context_ == nullptr) {
    pa_threaded_mainloop_free(mainloop_);
    throw SystemError(ErrorDomain::mediaCapture, PA_ERR_INTERNAL,
                      "Could not create the audio server context");
  }
  pa_context_set_state_callback(
      context_, [](pa_context*, void* userdata) { static_cast<Connection*>(userdata)->signal(); },
      this);
}

Connection::~Connection() {
  // Owners live outside the main loop's thread, where stopping the loop is
  // allowed.
  pa_threaded_mainloop_lock(mainloop_);
  pa_context_set_state_callback(context_, nullptr, nullptr);
  pa_context_disconnect(context_);
  pa_context_unref(context_);
  pa_threaded_mainloop_unlock(mainloop_);
  pa_threaded_mainloop_stop(mainloop_);
  pa_threaded_mainloop_free(mainloop_);
}

std::shared_ptr<Connection> Connection::open(std::chrono::milliseconds timeout) {
  std::shared_ptr<Connection> connection(new Connection());
  if (pa_threaded_mainloop_start(connection->mainloop_) < 0) {
    throw SystemError(ErrorDomain::mediaCapture, PA_ERR_INTERNAL,
                      "Could not start the audio server main loop");
  }
  Lock lock(*connection);
  if (pa_context_connect(connection->context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
    throw SystemError(ErrorDomain::mediaCapture, pa_context_errno(connection->context_),
                      "Could not connect to the audio server: " + connection->lastError());
  }
  const bool ready = connection->waitUntil(
      [&connection] { return pa_context_get_state(connection->context_) == PA_CONTEXT_READY; },
      timeout);
  if (!ready) {
    const bool timedOut = PA_CONTEXT_IS_GOOD(pa_context_get_state(connection->context_));
    throw SystemError(ErrorDomain::mediaCapture,
                      timedOut ? PA_ERR_TIMEOUT : pa_context_errno(connection->context_),
                      "Could not connect to the audio server: " +
                          (timedOut ? std::string("timed out") : connection->lastError()));
  }
  return connection;
}

bool Connection::isReady() const {
  return pa_context_get_state(context_) == PA_CONTEXT_READY;
}

std::string Connection::lastError() const {
  return pa_strerror(pa_context_errno(context_));
}

bool Connection::waitUntil(const std::function<bool()>& done,
                           std::chrono::milliseconds timeout) const {
  const Deadline deadline(*this, timeout);
  while (!done()) {
    if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(context_)) || deadline.hasPassed()) {
      return false;
    }
    pa_threaded_mainloop_wait(mainloop_);
  }
  return true;
}

bool Connection::await(pa_operation* operation, std::chrono::milliseconds timeout) const {
  if (operation == nullptr) {
    return false;
  }
  const std::unique_ptr<pa_operation, OperationOwner> owner(operation);
  pa_operation_set_state_callback(
      operation,
      [](pa_operation*, void* userdata) { static_cast<Connection*>(userdata)->signal(); },
      const_cast<Connection*>(this));
  const bool finished = waitUntil(
      [operation] { return pa_operation_get_state(operation) != PA_OPERATION_RUNNING; }, timeout);
  if (!finished) {
    pa_operation_cancel(operation);
  }
  pa_operation_set_state_callback(operation, nullptr, nullptr);
  return finished && pa_operation_get_state(operation) == PA_OPERATION_DONE;
}

void Connection::signal() const {
  pa_threaded_mainloop_signal(mainloop_, 0);
}

} // namespace Platform::Linux::Pulse
