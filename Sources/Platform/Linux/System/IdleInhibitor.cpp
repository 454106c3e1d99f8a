#include "Platform/Linux/System/IdleInhibitor.h"

#include "Platform/Linux/SdBusHandles.h"

#include <fcntl.h>
#include <unistd.h>

namespace Platform::Linux::System {

namespace {

constexpr std::uint64_t busCallTimeoutMicroseconds = 2'000'000;

// Holds the inhibitor's file descriptor; logind drops the inhibitor when it
// is closed.
class InhibitorToken final : public ActivityToken {
public:
  explicit InhibitorToken(int descriptor) : descriptor_(descriptor) {}
  ~InhibitorToken() override {
    if (descriptor_ >= 0) {
      close(descriptor_);
    }
  }
  InhibitorToken(const InhibitorToken&) = delete;
  InhibitorToken& operator=(const InhibitorToken&) = delete;

private:
  int descriptor_;
};

int takeInhibitor(const std::string& reason) {
  sd_bus* rawBus = nullptr;
  if (sd_bus_open_system(&rawBus) < 0) {
    return -1;
  }
  const BusHandle bus(rawBus);
  sd_bus_set_method_call_timeout(bus.get(), busCallTimeoutMicroseconds);
  BusError error;
  sd_bus_message* rawReply = nullptr;
  if (sd_bus_call_method(bus.get(), "org.freedesktop.login1", "/org/freedesktop/login1",
                         "org.freedesktop.login1.Manager", "Inhibit", error.get(), &rawReply,
                         "ssss", "idle", "tarsel-helper", reason.c_str(), "block") < 0) {
    return -1;
  }
  const MessageHandle reply(rawReply);
  int descriptor = -1;
  if (sd_bus_message_read(reply.get(), "h", &descriptor) < 0 || descriptor < 0) {
    return -1;
  }
  // The reply owns its descriptor; keep a copy of our own.
  return fcntl(descriptor, F_DUPFD_CLOEXEC, 3);
}

} // namespace

std::unique_ptr<ActivityToken> inhibitIdleSleep(const std::string& reason) {
  return std::make_unique<InhibitorToken>(takeInhibitor(reason));
}

} // namespace Platform::Linux::System
