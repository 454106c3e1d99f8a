#include "support/ServerHang.h"

#include <csignal>
#include <stdexcept>
#include <string>

namespace TestSupport {

ServerHang::ServerHang(int pid) : pid_(pid) {
  if (pid <= 0 || ::kill(pid, SIGSTOP) != 0) {
    throw std::runtime_error("cannot stop the server with process id " + std::to_string(pid));
  }
}

void ServerHang::resume() {
  if (stopped_) {
    stopped_ = false;
    ::kill(pid_, SIGCONT);
  }
}

} // namespace TestSupport
