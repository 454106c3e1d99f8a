// Records the main display, or a part of it, for a few seconds.
//
//   record-display <file.mp4> [seconds] [x y width height]

#include <Vistrel/Vistrel.h>

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>
#include <thread>

int main(int argc, char** argv) {
  if (argc != 2 && argc != 3 && argc != 7) {
    std::cerr << "usage: record-display <file.mp4> [seconds] [x y width height]\n";
    return 2;
  }
  const int seconds = argc >= 3 ? std::atoi(argv[2]) : 3;
  std::optional<Vistrel::Rect> crop;
  if (argc == 7)
    crop = Vistrel::Rect{std::atof(argv[3]), std::atof(argv[4]), std::atof(argv[5]),
                         std::atof(argv[6])};

  try {
    // The first display Vistrel finds; its id is what targetID expects.
    const auto screens = Vistrel::Devices::screen();
    if (screens.empty()) {
      std::cerr << "no display to record\n";
      return 1;
    }
    Vistrel::Recorder recorder;
    // A failure while recording arrives here, on a capture thread.
    recorder.setOnError([](const Vistrel::Error& error) {
      std::cerr << "recording failed: " << error.localizedDescription() << "\n";
    });
    recorder.start(Vistrel::Target::screen,
                   Vistrel::RecordingOptions({.destination = argv[1],
                                              .targetID = screens.front().id,
                                              .framesPerSecond = 30,
                                              .cropRect = crop,
                                              .microphoneDeviceID = std::nullopt}));
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    recorder.stop();
  } catch (const std::exception& error) {
    std::cerr << error.what() << "\n";
    return 1;
  }
  std::cout << "recorded " << argv[1] << "\n";
  return 0;
}
