#include "stop_signals.h"

#include "Platform/Dispatch.h"
#include "Platform/Log.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/prctl.h>
#include <thread>
#include <unistd.h>

namespace App {

namespace {

int signalPipe[2] = {-1, -1};

// The only work done inside the signal context: one byte into the pipe. A
// full pipe already holds more wake-ups than anyone needs, so a failed write
// loses nothing that matters.
extern "C" void forwardSignal(int) {
  const int savedErrno = errno;
  const char signalled = 1;
  static_cast<void>(!write(signalPipe[1], &signalled, 1));
  errno = savedErrno;
}

void watchSignals(const std::function<void()>& onSignal) {
  for (;;) {
    char signalled = 0;
    const ssize_t count = read(signalPipe[0], &signalled, 1);
    if (count == 1) {
      Platform::DispatchQueue::main().async(onSignal);
    } else if (count == 0 || errno != EINTR) {
      return;
    }
  }
}

void fail(const char* what) {
  Platform::log(Platform::LogLevel::error,
                std::string("Signals cannot be handled: ") + what + ": " + std::strerror(errno));
}

} // namespace

void installStopSignals(std::function<void()> onSignal) {
  const pid_t parent = getppid();
  if (pipe2(signalPipe, O_CLOEXEC) != 0) {
    fail("pipe");
    return;
  }
  // The signal context must never block on the pipe.
  fcntl(signalPipe[1], F_SETFL, fcntl(signalPipe[1], F_GETFL) | O_NONBLOCK);
  std::thread(watchSignals, std::move(onSignal)).detach();

  struct sigaction action {};
  action.sa_handler = forwardSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP}) {
    if (sigaction(signalNumber, &action, nullptr) != 0) {
      fail("sigaction");
    }
  }
  std::signal(SIGPIPE, SIG_IGN);

  if (prctl(PR_SET_PDEATHSIG, SIGTERM) != 0) {
    fail("prctl");
  } else if (getppid() != parent) {
    // The parent died before the request took effect: nobody will send it.
    kill(getpid(), SIGTERM);
  }
}

} // namespace App
