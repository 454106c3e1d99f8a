#include "Vistrel/SystemAudio.h"

#include "Vistrel/Error.h"

namespace Vistrel {

SystemAudio SystemAudio::fromRawValue(const std::string& name) {
  for (const Value value : {all, application}) {
    if (SystemAudio(value).asString() == name) {
      return value;
    }
  }
  throw Error::unsupportedSystemAudio(name);
}

std::string SystemAudio::asString() const {
  switch (value_) {
  case all:
    return "all";
  case application:
    return "application";
  }
  return {};
}

} // namespace Vistrel
