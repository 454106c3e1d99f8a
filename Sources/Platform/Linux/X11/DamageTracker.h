#pragma once

#include "Platform/Linux/X11/XConnection.h"

#include <atomic>
#include <memory>

// Tells whether a drawable changed since it was last grabbed, through the
// Damage extension; without the extension every grab counts as changed.
//
// Thread contract: takeChange() on one thread (the capture thread); the event
// handler may run on any thread that pumps the connection.

namespace Platform::Linux::X11 {

class DamageTracker {
public:
  DamageTracker(std::shared_ptr<XConnection> connection, xcb_drawable_t drawable);
  ~DamageTracker();
  DamageTracker(const DamageTracker&) = delete;
  DamageTracker& operator=(const DamageTracker&) = delete;

  // True when the drawable changed since the last call (and on the first
  // call); the damage is then cleared, before the caller grabs, so a change
  // made during the grab is reported next time.
  bool takeChange();

  // Counts the next call as a change (the content moved or was re-created).
  void markChanged() { changed_ = true; }

private:
  std::shared_ptr<XConnection> connection_;
  std::uint32_t damage_ = 0; // 0 without the extension
  std::atomic<bool> changed_{true};
  XConnection::Subscription subscription_;
};

} // namespace Platform::Linux::X11
