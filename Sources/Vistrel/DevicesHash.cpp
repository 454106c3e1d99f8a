#include "Vistrel/Devices.h"

namespace Vistrel::Devices {

namespace Detail {

std::size_t combineHash(std::size_t seed, std::size_t value) {
  return seed ^ (value + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2));
}

std::size_t hashRect(const Rect& rect) {
  std::size_t seed = 0;
  for (const double part : {rect.x, rect.y, rect.width, rect.height}) {
    seed = combineHash(seed, std::hash<double>()(part));
  }
  return seed;
}

} // namespace Detail

} // namespace Vistrel::Devices

using Vistrel::Devices::Detail::combineHash;
using Vistrel::Devices::Detail::hashRect;

std::size_t std::hash<Vistrel::Devices::Screen>::operator()(
    const Vistrel::Devices::Screen& screen) const noexcept {
  std::size_t seed = std::hash<std::string>()(screen.id);
  seed = combineHash(seed, std::hash<std::string>()(screen.name));
  seed = combineHash(seed, std::hash<std::int64_t>()(screen.width));
  seed = combineHash(seed, std::hash<std::int64_t>()(screen.height));
  return combineHash(seed, hashRect(screen.frame));
}

std::size_t std::hash<Vistrel::Devices::Window>::operator()(
    const Vistrel::Devices::Window& window) const noexcept {
  std::size_t seed = std::hash<std::string>()(window.id);
  for (const auto* text : {&window.title, &window.appName, &window.appBundleIdentifier}) {
    seed = combineHash(seed, std::hash<std::optional<std::string>>()(*text));
  }
  seed = combineHash(seed, std::hash<bool>()(window.isActive));
  seed = combineHash(seed, std::hash<bool>()(window.isOnScreen));
  seed = combineHash(seed, std::hash<std::int64_t>()(window.layer));
  return combineHash(seed, hashRect(window.frame));
}

std::size_t std::hash<Vistrel::Devices::Audio>::operator()(
    const Vistrel::Devices::Audio& audio) const noexcept {
  return combineHash(std::hash<std::string>()(audio.id), std::hash<std::string>()(audio.name));
}

std::size_t
std::hash<Vistrel::Devices::IOS>::operator()(const Vistrel::Devices::IOS& device) const noexcept {
  return combineHash(std::hash<std::string>()(device.id), std::hash<std::string>()(device.name));
}
