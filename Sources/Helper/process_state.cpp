#include "process_state.h"

namespace tarsel_helper {
std::shared_ptr<Vistrel::Recorder> recorder;
std::vector<std::string> args;
} // namespace tarsel_helper
