#include "interrupt.h"

#include "console.h"
#include "process_state.h"

#include "Platform/Dispatch.h"
#include "Platform/Error.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <mutex>
#include <thread>
#include <unistd.h>

namespace App {

namespace {

int interruptPipe[2] = {-1, -1};
bool stopRequested = false; // main queue only

void handleInterrupt() {
  print("\nReceived interrupt. Stopping recording...");
  if (stopRequested) {
    return;
  }
  stopRequested = true;
  const std::shared_ptr<Vistrel::Recorder> current = tarsel_helper::recorder;
  // The stop runs off the main queue, so that later interrupts still print
  // their line while the file is being finished.
  Platform::startTask([current] {
    try {
      current->stop();
      Platform::DispatchQueue::main().async([] {
        print("Finished recording:");
        exitProcess(0);
      });
    } catch (const std::exception& error) {
      const std::string description = Platform::describe(error);
      Platform::DispatchQueue::main().async([description] {
        print({"Error stopping recorder:", description});
        exitProcess(1);
      });
    }
  });
}

void watchInterrupts() {
  for (;;) {
    char signalled = 0;
    const ssize_t count = read(interruptPipe[0], &signalled, 1);
    if (count == 1) {
      Platform::DispatchQueue::main().async(handleInterrupt);
    } else if (count < 0 && errno != EINTR) {
      return;
    }
  }
}

} // namespace

extern "C" void signalHandler(int) {
  const int savedErrno = errno;
  const char signalled = 1;
  static_cast<void>(!write(interruptPipe[1], &signalled, 1));
  errno = savedErrno;
}

void setupSignalHandler() {
  static std::once_flag once;
  std::call_once(once, [] {
    if (pipe2(interruptPipe, O_CLOEXEC) != 0) {
      return;
    }
    std::thread(watchInterrupts).detach();
  });
  struct sigaction action {};
  action.sa_handler = signalHandler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
}

} // namespace App
