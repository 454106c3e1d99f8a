#include "console.h"
#include "interrupt.h"
#include "permissions.h"
#include "platform_installation.h"
#include "process_state.h"
#include "recorder.h"
#include "stop_signals.h"

#include "Platform/Dispatch.h"
#include "Platform/Platform.h"

#include <cstring>
#include <sys/prctl.h>

namespace {

constexpr const char* usageLine = "Usage: cli_tool <screens | start screenId>";

void printFlag(bool flag) {
  App::print(flag ? "true" : "false");
}

void dispatch(std::vector<std::string> arguments) {
  using tarsel_helper::args;
  tarsel_helper::recorder.reset();
  tarsel_helper::recorder = std::make_shared<Vistrel::Recorder>();
  args = std::move(arguments);

  if (args.size() < 2) {
    App::print(usageLine);
    App::exitProcess(0);
  }
  const std::string& command = args[1];
  if (command == "meetings") {
    App::getScreens();
    App::exitProcess(0);
  }
  if (command == "audio-devices") {
    App::getAudioDevices();
    App::exitProcess(0);
  }
  if (command == "start") {
    if (args.size() < 5) {
      App::print("Missing screenId or file path for start");
      App::exitProcess(1);
    }
    if (startWaitsForUser(args[2])) {
      App::cancelStartOnInterrupt(tarsel_helper::recorder);
    }
    // The recording task runs after the dispatcher has handed the main thread
    // to the main queue for good.
    Platform::DispatchQueue::main().async(
        [] { App::startRecording(args[2], std::optional<std::string>(args[3]), args[4]); });
    return;
  }
  if (command == "is-microphone-allowed") {
    App::print(TCC::caseName(Permissions::isMicrophoneAllowed()));
    App::exitProcess(0);
  }
  if (command == "request-microphone-access") {
    printFlag(Permissions::requestMicrophoneAccess());
    App::exitProcess(0);
  }
  if (command == "open-microphone-settings") {
    Permissions::openMicrophoneSettings();
    App::exitProcess(0);
  }
  if (command == "is-recording-allowed") {
    printFlag(Permissions::isScreenRecordingAllowed());
    App::exitProcess(0);
  }
  if (command == "request-recording-access") {
    printFlag(Permissions::requestScreenRecordingAccess());
    App::exitProcess(0);
  }
  if (command == "open-recording-settings") {
    Permissions::openScreenRecordingSettings();
    App::exitProcess(0);
  }
  if (command == "bundle-id") {
    const auto bundle = Platform::system().mainBundle();
    if (bundle && bundle->bundleIdentifier) {
      App::print({"Bundle ID:", *bundle->bundleIdentifier});
    } else {
      App::print("No bundle ID found");
    }
    App::exitProcess(0);
  }
  App::print({"Unknown command:", command});
  App::exitProcess(1);
}

bool isRecordingCommand(int argc, char** argv) {
  return argc > 1 && std::strcmp(argv[1], "start") == 0;
}

// Runs before the start-up code of the many libraries we load: a parent may
// interrupt us as soon as it has spawned the launcher, which holds the stop
// signals back until here. The other commands keep the default reactions.
// The process also takes back the name the parent spawned, for ps and pkill.
void catchStopSignalsEarly(int argc, char** argv, char** /*environment*/) {
  if (isRecordingCommand(argc, argv)) {
    App::catchStopSignals();
  }
  App::releaseStopSignals();
  prctl(PR_SET_NAME, "tarsel-helper");
}

[[gnu::section(".preinit_array"),
  gnu::used]] void (*const catchStopSignalsAtLoad)(int, char**, char**) = catchStopSignalsEarly;

} // namespace

int main(int argc, char** argv) {
  std::vector<std::string> arguments(argv, argv + argc);
  if (isRecordingCommand(argc, argv)) {
    App::deliverStopSignals(App::handleInterrupt, App::interruptArrived);
  }
  installPlatform();
  Platform::DispatchQueue::main().async(
      [arguments = std::move(arguments)]() mutable { dispatch(std::move(arguments)); });
  Platform::dispatch_main();
}
