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

void watchSignals(const std::function<void()>& onSignal, const std::function<void()>& atOnce) {
  for (;;) {
    char signalled = 0;
    const ssize_t count = read(signalPipe[0], &signalled, 1);
    if (count == 1) {
      atOnce();
      Platform::DispatchQueue::main().async(onSignal);
    } else if (count == 0 || errno != EINTR) {
      return;
    }
  }
}

} // namespace

void catchStopSignals() {
  const pid_t parent = getppid();
  if (pipe2(signalPipe, O_CLOEXEC) != 0) {
    return; // reported by deliverStopSignals
  }
  // The signal context must never block on the pipe.
  fcntl(signalPipe[1], F_SETFL, fcntl(signalPipe[1], F_GETFL) | O_NONBLOCK);

  struct sigaction action {};
  action.sa_handler = forwardSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP}) {
    sigaction(signalNumber, &action, nullptr);
  }
  std::signal(SIGPIPE, SIG_IGN);

  prctl(PR_SET_PDEATHSIG, SIGTERM);
  if (getppid() != parent) {
    // The parent died before the request took effect: nobody will send it.
    kill(getpid(), SIGTERM);
  }
}

void releaseStopSignals() {
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP}) {
    sigaddset(&stopSignals, signalNumber);
  }
  sigprocmask(SIG_UNBLOCK, &stopSignals, nullptr);
}

void deliverStopSignals(std::function<void()> onSignal, std::function<void()> atOnce) {
  if (signalPipe[0] < 0) {
    Platform::log(Platform::LogLevel::error,
                  std::string("Stop signals cannot be caught: ") + std::strerror(errno));
    return;
  }
  std::thread(watchSignals, std::move(onSignal), std::move(atOnce)).detach();
}

} // namespace App
