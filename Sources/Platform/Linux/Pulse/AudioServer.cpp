#include "Platform/Linux/Pulse/AudioServer.h"

#include "Platform/Error.h"

namespace Platform::Linux::Pulse {

namespace {
// A local server answers in milliseconds; a refused socket fails at once.
constexpr std::chrono::milliseconds connectTimeout{3000};
} // namespace

std::shared_ptr<Connection> AudioServer::connection() {
  Lock guard(mutex_);
  if (current_) {
    const Connection::Lock lock(*current_);
    if (current_->isReady()) {
      return current_;
    }
  }
  current_.reset();
  current_ = Connection::open(connectTimeout);
  return current_;
}

bool AudioServer::accepts() {
  try {
    return connection() != nullptr;
  } catch (const Error&) {
    return false;
  }
}

} // namespace Platform::Linux::Pulse
