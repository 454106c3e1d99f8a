#include "recorder.h"

#include "console.h"
#include "file_url.h"
#include "interrupt.h"
#include "json_output.h"
#include "process_state.h"

#include "Platform/Error.h"
#include "Vistrel/Devices.h"

#include <cstdlib>
#include <stdexcept>
#include <string>
#include <string_view>

namespace App {

namespace {

void printJSONArray(const std::vector<JSONObject>& objects) {
  std::string text;
  try {
    text = prettyPrintedJSONArray(objects);
  } catch (const std::exception& error) {
    print({"Unknown Error:", Platform::describe(error)});
    exitProcess(1);
  }
  print(text);
}

// The parent application's audio choices, from the environment: what the
// system audio holds (TARSEL_SYSTEM_AUDIO, "all" when unset) and whether the
// microphone's echo is cancelled (TARSEL_ECHO_CANCELLATION=1). Throws
// Vistrel::Error for a system audio it does not know.
Vistrel::SystemAudio systemAudioChoice() {
  const char* value = std::getenv("TARSEL_SYSTEM_AUDIO");
  return value == nullptr ? Vistrel::SystemAudio::all : Vistrel::SystemAudio::fromRawValue(value);
}

// A value the helper does not know, said as the library says its own.
struct UnknownChoice : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Throws UnknownChoice for anything but 1, 0 or nothing: a parent that
// wrote "true" must not record the echo unawares.
bool echoCancellationChoice() {
  const char* value = std::getenv("TARSEL_ECHO_CANCELLATION");
  if (value == nullptr || std::string_view(value).empty() || std::string_view(value) == "0") {
    return false;
  }
  if (std::string_view(value) != "1") {
    throw UnknownChoice(std::string("Echo cancellation ") + value + " not supported. Use 0 or 1.");
  }
  return true;
}

} // namespace

std::string displayTitle(const std::optional<std::string>& appName,
                         const std::optional<std::string>& title) {
  return appName.value_or("") + " | " + title.value_or("");
}

void getScreens() {
  std::vector<Vistrel::Devices::Window> windows;
  try {
    windows = Vistrel::Devices::window(true, true);
  } catch (const std::exception& error) {
    print({"Unknown Error:", Platform::describe(error)});
    exitProcess(1);
  }
  std::vector<JSONObject> screens;
  screens.reserve(windows.size());
  for (const auto& window : windows) {
    const Screen screen{window.id, displayTitle(window.appName, window.title)};
    screens.push_back({{"id", screen.id}, {"title", screen.title}});
  }
  printJSONArray(screens);
}

void getAudioDevices() {
  std::vector<JSONObject> devices;
  for (const auto& device : Vistrel::Devices::audio()) {
    const Audio audio{device.id, device.name};
    devices.push_back({{"id", audio.id}, {"name", audio.name}});
  }
  printJSONArray(devices);
}

void startRecording(const std::string& screenId, const std::optional<std::string>& mic,
                    const std::string& fullFilePath) {
  print({"File path:", fileURLText(fullFilePath)});
  const std::shared_ptr<Vistrel::Recorder> recorder = tarsel_helper::recorder;
  try {
    const Vistrel::RecordingOptions options({
        .destination = fullFilePath,
        .targetID = std::optional<std::string>(screenId),
        .framesPerSecond = 24,
        .cropRect = std::nullopt,
        .losslessAudio = true,
        .recordSystemAudio = true,
        .microphoneDeviceID = std::optional<std::string>(mic.value_or("BuiltInMicrophoneDevice")),
        .systemAudio = systemAudioChoice(),
        .echoCancellation = echoCancellationChoice(),
    });
    recorder->start(Vistrel::Target::window, options);
  } catch (const Vistrel::Error& error) {
    print({"Vistrel Error:", error.localizedDescription()});
    exitProcess(1);
  } catch (const UnknownChoice& error) {
    print({"Vistrel Error:", error.what()});
    exitProcess(1);
  } catch (const std::exception& error) {
    print({"Unknown Error:", Platform::describe(error)});
    exitProcess(1);
  }
  startDidSettle();
  print("Recording started! Press Ctrl+C to stop.");
  recordingDidStart();
}

} // namespace App
