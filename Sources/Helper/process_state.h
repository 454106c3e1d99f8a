#pragma once

#include "Vistrel/Recorder.h"

#include <memory>
#include <string>
#include <vector>

namespace tarsel_helper {

// The one recorder of the process and its argument vector. Read and written
// only on the main queue.
extern std::shared_ptr<Vistrel::Recorder> recorder;
extern std::vector<std::string> args;

} // namespace tarsel_helper
