#pragma once

#include "Platform/SystemServices.h"

#include <memory>
#include <string>

// Keeping the machine from idle sleep: a logind idle inhibitor over the system
// D-Bus, held for as long as the token lives.
//
// Thread contract: callable from any thread; the bus call has a short timeout.

namespace Platform::Linux::System {

// A token holding the inhibitor; one that holds nothing when there is no
// system bus or no logind (the machine is then not ours to keep awake).
std::unique_ptr<ActivityToken> inhibitIdleSleep(const std::string& reason);

} // namespace Platform::Linux::System
