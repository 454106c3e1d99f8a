#include "interrupt.h"

#include "console.h"
#include "process_state.h"

#include "Platform/Dispatch.h"
#include "Platform/Error.h"
#include "Platform/Log.h"
#include "Vistrel/Error.h"

#include <mutex>
#include <utility>

namespace App {

namespace {

enum class Phase { starting, recording, stopping };

// Main queue only.
Phase phase = Phase::starting;
int signalsDuringStart = 0;

// The recorder whose start a signal cancels, while it waits on the user.
std::mutex cancellableMutex;
std::shared_ptr<Vistrel::Recorder> cancellableStart; // guarded by cancellableMutex

void finishAndExit(const std::shared_ptr<Vistrel::Recorder>& current) {
  std::string failure;
  try {
    current->stop();
  } catch (const std::exception& error) {
    failure = Platform::describe(error);
  } catch (...) {
    failure = Vistrel::currentExceptionAsError().localizedDescription();
  }
  Platform::DispatchQueue::main().async([failure] {
    if (failure.empty()) {
      print("Finished recording:");
      exitProcess(0);
    }
    print({"Error stopping recorder:", failure});
    exitProcess(1);
  });
}

} // namespace

void handleInterrupt() {
  if (phase == Phase::starting) {
    ++signalsDuringStart;
    return;
  }
  print("\nReceived interrupt. Stopping recording...");
  if (phase == Phase::stopping) {
    return;
  }
  phase = Phase::stopping;
  // The stop runs off the main queue, so that later signals still print
  // their line while the file is being finished.
  Platform::startTask([current = tarsel_helper::recorder] { finishAndExit(current); });
}

void recordingDidStart() {
  phase = Phase::recording;
  for (; signalsDuringStart > 0; --signalsDuringStart) {
    handleInterrupt();
  }
}

void cancelStartOnInterrupt(std::shared_ptr<Vistrel::Recorder> recorder) {
  std::lock_guard lock(cancellableMutex);
  cancellableStart = std::move(recorder);
}

void startDidSettle() {
  std::lock_guard lock(cancellableMutex);
  cancellableStart.reset();
}

void interruptArrived() {
  std::shared_ptr<Vistrel::Recorder> recorder;
  {
    std::lock_guard lock(cancellableMutex);
    recorder = std::exchange(cancellableStart, nullptr);
  }
  if (recorder) {
    // The start fails as cancelled and prints its error on the main queue.
    Platform::startTask([recorder] {
      try {
        recorder->stop();
      } catch (const std::exception& error) {
        Platform::log(Platform::LogLevel::warning,
                      "The start could not be cancelled: " + Platform::describe(error));
      }
    });
  }
}

} // namespace App
