#pragma once

#include "support/Subprocess.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace TestSupport {

// A demo-window process with the given options, on the display that
// `environment` (or ours) names; its window id once it is mapped. Closed
// when the object goes away.
class DemoWindow {
public:
  explicit DemoWindow(const std::vector<std::string>& options,
                      const std::map<std::string, std::string>& environment = {});
  // Its Wayland twin, once its first picture is shown; Wayland windows have
  // no id a client may know (id() is 0).
  struct Wayland {};
  DemoWindow(Wayland, const std::vector<std::string>& options,
             const std::map<std::string, std::string>& environment);
  ~DemoWindow();
  DemoWindow(const DemoWindow&) = delete;
  DemoWindow& operator=(const DemoWindow&) = delete;

  std::uint32_t id() const { return id_; }
  std::string idText() const { return std::to_string(id_); }
  // Ends the program the way a user closes it, and waits until it is gone.
  void close();

private:
  Subprocess process_;
  std::uint32_t id_ = 0;
};

// Another program, with no window, that plays a steady tone until it is
// ended (demo-window --play-tone); `environment` as for DemoWindow.
std::unique_ptr<Subprocess> startTone(double frequency,
                                      const std::map<std::string, std::string>& environment);

} // namespace TestSupport
