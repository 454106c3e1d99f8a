// A program built from the installed library alone that records until the
// recording fails (or its start does), and says whether the failure's cause
// is the one expected.
//
//   failure-causes <expected cause> window <file> <window title>
//   failure-causes <expected cause> screen <file>
//
// Prints "recording" once started; exits 0 when onError and stop() both
// carry the expected cause, or the start threw it.

#include <Vistrel/Vistrel.h>

#include <chrono>
#include <condition_variable>
#include <iostream>
#include <mutex>
#include <optional>
#include <string>

namespace {

std::string nameOf(Vistrel::Error::Cause cause) {
  switch (cause) {
  case Vistrel::Error::Cause::targetGone:
    return "targetGone";
  case Vistrel::Error::Cause::serverLost:
    return "serverLost";
  case Vistrel::Error::Cause::outputNotWritable:
    return "outputNotWritable";
  case Vistrel::Error::Cause::deviceUnplugged:
    return "deviceUnplugged";
  case Vistrel::Error::Cause::pickCancelled:
    return "pickCancelled";
  case Vistrel::Error::Cause::destinationExists:
    return "destinationExists";
  case Vistrel::Error::Cause::other:
    return "other";
  }
  return "?";
}

std::optional<std::string> targetID(const std::string& kind, const char* title) {
  if (kind == "screen") {
    const auto screens = Vistrel::Devices::screen();
    return screens.empty() ? std::nullopt : std::optional(screens.front().id);
  }
  for (const auto& window : Vistrel::Devices::window()) {
    if (title != nullptr && window.title == title) {
      return window.id;
    }
  }
  return std::nullopt;
}

} // namespace

int main(int argc, char** argv) {
  if (argc < 4 || argc > 5) {
    std::cerr << "usage: failure-causes <cause> window|screen <file> [window title]\n";
    return 2;
  }
  const std::string expected = argv[1];
  const std::string kind = argv[2];
  const auto target = targetID(kind, argc == 5 ? argv[4] : nullptr);
  if (!target) {
    std::cerr << "nothing to record\n";
    return 2;
  }

  std::mutex mutex;
  std::condition_variable failed;
  std::optional<Vistrel::Error::Cause> reported;
  Vistrel::Recorder recorder;
  recorder.setOnError([&](const Vistrel::Error& error) {
    std::lock_guard lock(mutex);
    reported = error.cause();
    failed.notify_all();
  });
  try {
    recorder.start(kind == "screen" ? Vistrel::Target::screen : Vistrel::Target::window,
                   Vistrel::RecordingOptions({.destination = argv[3],
                                              .targetID = target,
                                              .framesPerSecond = 30,
                                              .cropRect = std::nullopt,
                                              .microphoneDeviceID = std::nullopt}));
  } catch (const Vistrel::Error& error) {
    std::cout << "could not start: " << nameOf(error.cause()) << " (" << error.what() << ")"
              << std::endl;
    return nameOf(error.cause()) == expected ? 0 : 1;
  }
  std::cout << "recording" << std::endl;
  {
    std::unique_lock lock(mutex);
    if (!failed.wait_for(lock, std::chrono::seconds(60), [&] { return reported.has_value(); })) {
      std::cerr << "no failure within a minute\n";
      return 1;
    }
  }
  std::optional<Vistrel::Error::Cause> thrown;
  try {
    recorder.stop();
  } catch (const Vistrel::Error& error) {
    thrown = error.cause();
  }
  std::cout << "onError: " << nameOf(*reported)
            << ", stop: " << (thrown ? nameOf(*thrown) : "returned") << std::endl;
  return nameOf(*reported) == expected && thrown == reported ? 0 : 1;
}
