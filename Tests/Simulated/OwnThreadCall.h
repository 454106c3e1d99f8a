#pragma once

#include <chrono>
#include <functional>

// Runs a callback on a thread of its own, as the platform's delegate and
// runtime-error threads do, and waits (bounded) until it returned.
// Callable from any thread.

namespace Platform::Simulated {

// False when `work` had not returned within `timeout`; it then still runs
// to its end on its thread.
bool callOnOwnThread(std::function<void()> work, std::chrono::milliseconds timeout);

} // namespace Platform::Simulated
