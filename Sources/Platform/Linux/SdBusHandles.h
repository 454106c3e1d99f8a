#pragma once

#include <systemd/sd-bus.h>

#include <memory>
#include <string>

// Owners of sd-bus objects, for the Linux services that speak D-Bus (logind,
// the desktop portal). Header only: each user links libsystemd itself.

namespace Platform::Linux {

struct BusOwner {
  void operator()(sd_bus* bus) const { sd_bus_flush_close_unref(bus); }
};
using BusHandle = std::unique_ptr<sd_bus, BusOwner>;

struct MessageOwner {
  void operator()(sd_bus_message* message) const { sd_bus_message_unref(message); }
};
using MessageHandle = std::unique_ptr<sd_bus_message, MessageOwner>;

// An error a call may fill in; freed with the object.
class BusError {
public:
  BusError() = default;
  ~BusError() { sd_bus_error_free(&error_); }
  BusError(const BusError&) = delete;
  BusError& operator=(const BusError&) = delete;
  sd_bus_error* get() { return &error_; }
  std::string text() const { return error_.message ? error_.message : "unknown error"; }

private:
  sd_bus_error error_ = SD_BUS_ERROR_NULL;
};

} // namespace Platform::Linux
