#pragma once

#include "support/Subprocess.h"
#include "support/VirtualDesktop.h"

#include <map>
#include <string>
#include <vector>

namespace TestSupport {

// A virtual-camera process with the given options (Tests/tools/virtual_camera:
// "--format", "MJPG", "--audio", ...) on the PipeWire that `environment`
// names; its nodes are in the graph once constructed. Throws
// std::runtime_error with the program's error output when they do not
// appear. Unplugged when the object goes away.
class VirtualCamera {
public:
  explicit VirtualCamera(const std::vector<std::string>& options = {},
                         const std::map<std::string, std::string>& environment = {});
  ~VirtualCamera();
  VirtualCamera(const VirtualCamera&) = delete;
  VirtualCamera& operator=(const VirtualCamera&) = delete;

  // Ends the program, which takes its nodes away, as a device unplugged,
  // and waits until it is gone.
  void unplug();

private:
  TemporaryDirectory errors_;
  Subprocess process_;
};

} // namespace TestSupport
