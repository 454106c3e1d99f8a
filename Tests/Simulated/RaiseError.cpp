#include "Simulated/RaiseError.h"

namespace Platform::Simulated {

namespace {

// An error that is not a SystemError, passed on with its own description.
class CarriedError final : public Error {
public:
  explicit CarriedError(ErrorRef cause) : cause_(std::move(cause)) {}
  std::string localizedDescription() const override { return cause_->localizedDescription(); }

private:
  ErrorRef cause_;
};

} // namespace

void raise(const ErrorRef& error) {
  if (const auto* systemError = dynamic_cast<const SystemError*>(error.get())) {
    throw *systemError;
  }
  throw CarriedError(error);
}

} // namespace Platform::Simulated
