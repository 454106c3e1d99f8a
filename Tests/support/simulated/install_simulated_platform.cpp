// The platform of the test build of the helper: the simulated platform in
// automatic mode, scripted by a JSON scenario whose path is in the
// environment variable TARSEL_SIMULATION. Only test builds read it.
//
// Scenario (every key optional):
// {
//   "capabilities": {"streamCapturesMicrophone": false},
//   "displays": [{"id": 1, "width": 1440, "height": 900, "frame": [0, 0, 1440, 900],
//                 "pixelWidth": 2880, "name": "Built-in Display"}],
//   "mainDisplay": 1,
//   "windows": [{"id": 42, "title": "Standup", "frame": [0, 0, 1280, 720], "layer": 0,
//                "onScreen": true, "active": true,
//                "application": {"name": "Meet", "bundleIdentifier": "com.meet", "pid": 7}}],
//   "audioDevices": [{"id": "mic-1", "name": "Desk Microphone", "channels": 1}],
//   "externalDevices": [{"id": "phone-1", "name": "Phone", "width": 1170, "height": 2532}],
//   "permissions": {"microphoneStatus": 3, "microphoneRequest": true,
//                   "screenCapture": true, "screenCaptureRequest": true},
//   "openURL": true,
//   "mainBundle": {"path": "/opt/Tarsel.app", "identifier": "com.example.tarsel"},
//   "writer": "ffmpeg",
//   "failures": {
//     "shareableContent": ERROR, "streamStart": ERROR, "captureSessionStart": ERROR,
//     "assetWriterCreation": ERROR, "startWriting": ERROR, "finishWriting": ERROR,
//     "streamOutputs": {"screen" | "audio" | "microphone": ERROR},
//     "deviceInputs": {"<device id>": ERROR},
//     "streamStopsAfter": {"seconds": 1.5, "error": ERROR}
//   }
// }
// ERROR is {"domain": "ScreenCapture", "code": -3801, "description": "..."}.
// A display without "pixelWidth" has no display mode; "name" adds a screen
// of that name. "channels" 1 or 2 gives the device one format with that
// channel layout, 0 one format without a layout, absent no format at all.
// "writer": "ffmpeg" writes real files; anything else records appends only.
// "streamStopsAfter" ends the first stream with the error that long after
// it started, as a closed window would.

#include "Helper/platform_installation.h"

#include "Platform/FFmpeg/FFmpegMediaWriting.h"
#include "Simulated/SimulatedPlatform.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <thread>

namespace {

using nlohmann::json;
using namespace Platform;
using namespace Platform::Simulated;

CGRect rectFrom(const json& values) {
  return CGRect{values.at(0).get<double>(), values.at(1).get<double>(), values.at(2).get<double>(),
                values.at(3).get<double>()};
}

// The member `key`, or an empty value of the same kind as `empty`.
const json& memberOr(const json& object, const char* key, const json& empty) {
  return object.contains(key) ? object.at(key) : empty;
}

const json& listAt(const json& object, const char* key) {
  static const json emptyList = json::array();
  return memberOr(object, key, emptyList);
}

const json& objectAt(const json& object, const char* key) {
  static const json emptyObject = json::object();
  return memberOr(object, key, emptyObject);
}

ErrorRef errorFrom(const json& value) {
  return makeError(value.value("domain", std::string(ErrorDomain::system)), value.value("code", 0),
                   value.value("description", std::string("Simulated failure")));
}

void addDisplays(SimulatedPlatform& platform, const json& scenario) {
  for (const json& item : listAt(scenario, "displays")) {
    SCDisplay display;
    display.displayID = item.at("id").get<std::uint32_t>();
    display.width = item.at("width").get<std::int64_t>();
    display.height = item.at("height").get<std::int64_t>();
    display.frame = item.contains("frame") ? rectFrom(item.at("frame"))
                                           : CGRect{0, 0, static_cast<double>(display.width),
                                                    static_cast<double>(display.height)};
    std::optional<CGDisplayMode> mode;
    if (item.contains("pixelWidth")) {
      const auto pixelWidth = item.at("pixelWidth").get<std::int64_t>();
      const std::int64_t scale = display.width > 0 ? pixelWidth / display.width : 1;
      mode = CGDisplayMode{pixelWidth, display.height * scale, display.width, display.height};
    }
    if (item.contains("name")) {
      platform.addScreen({display.displayID, item.at("name").get<std::string>()});
    }
    platform.addDisplay(display, mode);
  }
  if (scenario.contains("mainDisplay")) {
    platform.setMainDisplayID(scenario.at("mainDisplay").get<std::uint32_t>());
  }
}

void addWindows(SimulatedPlatform& platform, const json& scenario) {
  for (const json& item : listAt(scenario, "windows")) {
    SCWindow window;
    window.windowID = item.at("id").get<std::uint32_t>();
    if (item.contains("title")) {
      window.title = item.at("title").get<std::string>();
    }
    window.frame = rectFrom(item.value("frame", json::array({0, 0, 1280, 720})));
    window.windowLayer = item.value("layer", std::int64_t{0});
    window.isOnScreen = item.value("onScreen", true);
    window.isActive = item.value("active", false);
    if (item.contains("application")) {
      const json& application = item.at("application");
      window.owningApplication =
          SCRunningApplication{application.value("name", std::string()),
                               application.value("bundleIdentifier", std::string()),
                               application.value("pid", std::int32_t{0})};
    }
    platform.addWindow(std::move(window));
  }
}

void addDevices(SimulatedPlatform& platform, const json& scenario) {
  for (const json& item : listAt(scenario, "audioDevices")) {
    DeviceDescription device{
        item.at("id").get<std::string>(), item.value("name", std::string()), {}};
    if (item.contains("channels")) {
      const int channels = item.at("channels").get<int>();
      device.formats.push_back(channels > 0 ? audioDeviceFormat(channels)
                                            : audioDeviceFormatWithoutChannelLayout());
    }
    platform.addAudioDevice(std::move(device));
  }
  for (const json& item : listAt(scenario, "externalDevices")) {
    platform.addExternalDevice(
        {item.at("id").get<std::string>(),
         item.value("name", std::string()),
         {videoDeviceFormat(item.value("width", 1280), item.value("height", 720))}});
  }
}

void setSystemAnswers(SimulatedPlatform& platform, const json& scenario) {
  if (scenario.contains("capabilities")) {
    const json& capabilities = scenario.at("capabilities");
    platform.setCapabilities(
        {.streamCapturesMicrophone = capabilities.value("streamCapturesMicrophone", true),
         .streamHighlightsClicks = capabilities.value("streamHighlightsClicks", true)});
  }
  const json& permissions = objectAt(scenario, "permissions");
  platform.setMicrophoneAuthorizationStatus(permissions.value("microphoneStatus", std::int64_t{3}));
  platform.setMicrophoneAccessAnswer(permissions.value("microphoneRequest", true));
  platform.setScreenCapturePreflight(permissions.value("screenCapture", true));
  platform.setScreenCaptureRequestAnswer(permissions.value("screenCaptureRequest", true));
  platform.setOpenURLAnswer(scenario.value("openURL", true));
  if (scenario.contains("mainBundle")) {
    const json& bundle = scenario.at("mainBundle");
    Bundle main{bundle.at("path").get<std::string>(), std::nullopt};
    if (bundle.contains("identifier")) {
      main.bundleIdentifier = bundle.at("identifier").get<std::string>();
    }
    platform.setMainBundle(std::move(main));
  }
}

void stopFirstStreamLater(SimulatedPlatform& platform, const json& stop) {
  const auto delay = std::chrono::duration<double>(stop.value("seconds", 1.0));
  const ErrorRef error = errorFrom(objectAt(stop, "error"));
  // The platform lives for the whole process, so the thread may refer to it.
  std::thread([&platform, delay, error] {
    std::shared_ptr<SimulatedStream> stream;
    while (!(stream = platform.waitForStream())) {
    }
    if (stream->waitUntilStarted(std::chrono::hours(24))) {
      std::this_thread::sleep_for(delay);
      stream->stopWithError(error);
    }
  }).detach();
}

void injectFailures(SimulatedPlatform& platform, const json& failures) {
  const auto error = [&failures](const char* key) -> ErrorRef {
    return failures.contains(key) ? errorFrom(failures.at(key)) : nullptr;
  };
  platform.failShareableContent(error("shareableContent"));
  platform.failStreamStart(error("streamStart"));
  platform.failCaptureSessionStart(error("captureSessionStart"));
  platform.failAssetWriterCreation(error("assetWriterCreation"));
  platform.failStartWriting(error("startWriting"));
  platform.failFinishWriting(error("finishWriting"));
  const std::pair<const char*, SCStreamOutputType> outputTypes[] = {
      {"screen", SCStreamOutputType::screen},
      {"audio", SCStreamOutputType::audio},
      {"microphone", SCStreamOutputType::microphone}};
  const json& refusals = objectAt(failures, "streamOutputs");
  for (const auto& [name, type] : outputTypes) {
    if (refusals.contains(name)) {
      platform.refuseStreamOutput(type, errorFrom(refusals.at(name)));
    }
  }
  for (const auto& [deviceID, value] : objectAt(failures, "deviceInputs").items()) {
    platform.failDeviceInput(deviceID, errorFrom(value));
  }
  if (failures.contains("streamStopsAfter")) {
    stopFirstStreamLater(platform, failures.at("streamStopsAfter"));
  }
}

[[noreturn]] void refuse(const std::string& message) {
  std::fprintf(stderr, "simulated platform: %s\n", message.c_str());
  std::exit(EXIT_FAILURE);
}

json readScenario() {
  const char* path = std::getenv("TARSEL_SIMULATION");
  if (path == nullptr || *path == '\0') {
    refuse("TARSEL_SIMULATION names no scenario file");
  }
  std::ifstream file(path);
  if (!file) {
    refuse(std::string("cannot read the scenario ") + path);
  }
  try {
    return json::parse(file);
  } catch (const json::exception& error) {
    refuse(std::string("the scenario ") + path + " is not JSON: " + error.what());
  }
}

} // namespace

void installPlatform() {
  const json scenario = readScenario();
  // Process-wide, like the platform it stands for, and never destroyed: its
  // generators must not stop while exit() tears down the queues they feed.
  static SimulatedPlatform& platform = *new SimulatedPlatform(SampleGeneration::automatic);
  platform.setKeepsAppendedSamples(false);
  try {
    addDisplays(platform, scenario);
    addWindows(platform, scenario);
    addDevices(platform, scenario);
    setSystemAnswers(platform, scenario);
    injectFailures(platform, objectAt(scenario, "failures"));
  } catch (const json::exception& error) {
    refuse(std::string("the scenario does not fit its format: ") + error.what());
  }
  Services services = platform.services();
  if (scenario.value("writer", std::string()) == "ffmpeg") {
    services.mediaWriting = Platform::FFmpeg::makeMediaWritingService();
  }
  Platform::install(std::move(services));
}

// The simulated desktop has no picker: every start runs on its own.
bool startWaitsForUser(const std::string& /*screenId*/) {
  return false;
}
