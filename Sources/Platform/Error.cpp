#include "Platform/Error.h"

namespace Platform {

const char* Error::what() const noexcept {
  try {
    whatText_ = localizedDescription();
  } catch (...) {
    return "error";
  }
  return whatText_.c_str();
}

SystemError::SystemError(std::string domain, std::int64_t code, std::string description)
    : domain_(std::move(domain)), code_(code), description_(std::move(description)) {}

ErrorRef makeError(std::string domain, std::int64_t code, std::string description) {
  return std::make_shared<SystemError>(std::move(domain), code, std::move(description));
}

std::string describe(const std::exception& error) {
  if (const auto* platformError = dynamic_cast<const Error*>(&error)) {
    return platformError->localizedDescription();
  }
  return error.what();
}

} // namespace Platform
