#include "Platform/Linux/X11/DamageTracker.h"

#include <xcb/damage.h>

namespace Platform::Linux::X11 {

DamageTracker::DamageTracker(std::shared_ptr<XConnection> connection, xcb_drawable_t drawable)
    : connection_(std::move(connection)) {
  const Extensions& extensions = connection_->extensions();
  if (!extensions.damage) {
    return;
  }
  damage_ = connection_->generateId();
  xcb_damage_create(connection_->get(), damage_, drawable, XCB_DAMAGE_REPORT_LEVEL_NON_EMPTY);
  const std::uint8_t notify = extensions.damageFirstEvent + XCB_DAMAGE_NOTIFY;
  subscription_ = connection_->subscribe([this, notify](const xcb_generic_event_t& event) {
    if ((event.response_type & 0x7F) != notify) {
      return;
    }
    const auto& damage = reinterpret_cast<const xcb_damage_notify_event_t&>(event);
    if (damage.damage == damage_) {
      changed_ = true;
    }
  });
}

DamageTracker::~DamageTracker() {
  subscription_ = {};
  if (damage_ != 0) {
    xcb_damage_destroy(connection_->get(), damage_);
    xcb_flush(connection_->get());
  }
}

bool DamageTracker::takeChange() {
  if (damage_ == 0) {
    return true;
  }
  if (!changed_.exchange(false)) {
    return false;
  }
  xcb_damage_subtract(connection_->get(), damage_, XCB_NONE, XCB_NONE);
  return true;
}

} // namespace Platform::Linux::X11
