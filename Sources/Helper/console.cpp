#include "console.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace App {

namespace {
// Lines come from the main queue and from the interrupt watcher; one lock
// keeps every line whole.
std::mutex outputMutex;
} // namespace

void print(std::initializer_list<std::string_view> items) {
  std::string line;
  bool first = true;
  for (const std::string_view item : items) {
    if (!first) {
      line += ' ';
    }
    line += item;
    first = false;
  }
  line += '\n';
  std::lock_guard lock(outputMutex);
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fflush(stdout);
}

void print(std::string_view line) {
  print({line});
}

void exitProcess(int status) {
  {
    std::lock_guard lock(outputMutex);
    std::fflush(stdout);
  }
  std::_Exit(status);
}

} // namespace App
