#pragma once

#include <string>
#include <string_view>

namespace App {

// Writes one line to standard output, like a print call: the items joined by
// one blank and ended by "\n". The line is flushed at once, because the parent
// application reads our output through a pipe while we run.
void print(std::initializer_list<std::string_view> items);
void print(std::string_view line);

// Flushes standard output and ends the process with `status`, without running
// destructors that capture threads might still race with.
[[noreturn]] void exitProcess(int status);

} // namespace App
