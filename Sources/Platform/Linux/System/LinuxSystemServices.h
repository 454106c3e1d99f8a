#pragma once

#include "Platform/SystemServices.h"

#include <functional>
#include <memory>

// The Linux system services: capability level, permissions, settings pages,
// bundles and the idle-sleep inhibitor.
//
// Thread contract: every member may be called from any thread; the injected
// probes must be too. No member blocks for long: programs are started
// detached and the idle inhibitor's bus call has a short timeout.

namespace Platform::Linux {

// `screenCaptureAllowed` answers the screen-recording permission (the X
// display can be opened and captured); `audioServerAccepts` the microphone
// permission.
std::shared_ptr<SystemServices> makeLinuxSystemServices(std::function<bool()> screenCaptureAllowed,
                                                        std::function<bool()> audioServerAccepts);

} // namespace Platform::Linux
