// Lists the external capture devices (cameras, capture cards, virtual
// cameras) and records one, with its own sound when it has some, for the
// seconds given.
//
//   record-device                            lists the devices: id, then name
//   record-device <file.mp4> [seconds] [device id]
//
// Without an id it records the first device listed.

#include <Vistrel/Vistrel.h>

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>
#include <thread>

int main(int argc, char** argv) {
  if (argc > 4) {
    std::cerr << "usage: record-device [<file.mp4> [seconds] [device id]]\n";
    return 2;
  }
  try {
    const auto devices = Vistrel::Devices::iOS();
    if (argc == 1) {
      for (const auto& device : devices)
        std::cout << device.id << "\t" << device.name << "\n";
      return 0;
    }
    const int seconds = argc >= 3 ? std::atoi(argv[2]) : 5;
    std::optional<std::string> deviceID;
    if (argc >= 4)
      deviceID = argv[3];
    else if (!devices.empty())
      deviceID = devices.front().id;
    if (!deviceID) {
      std::cerr << "no capture device is attached\n";
      return 1;
    }

    Vistrel::Recorder recorder;
    // A device unplugged while recording arrives here, on a capture thread;
    // the file keeps what was recorded, and the next stop() throws it.
    recorder.setOnError([](const Vistrel::Error& error) {
      std::cerr << "recording failed: " << error.localizedDescription() << "\n";
    });
    // The device's picture at its own size, at most 30 frames a second; its
    // sound goes in the system-audio track.
    recorder.start(Vistrel::Target::externalDevice,
                   Vistrel::RecordingOptions({.destination = argv[1],
                                              .targetID = deviceID,
                                              .framesPerSecond = 30,
                                              .cropRect = std::nullopt,
                                              .recordSystemAudio = true,
                                              .microphoneDeviceID = std::nullopt}));
    std::this_thread::sleep_for(std::chrono::seconds(seconds > 0 ? seconds : 5));
    recorder.stop();
  } catch (const std::exception& error) {
    std::cerr << error.what() << "\n";
    return 1;
  }
  std::cout << "recorded " << argv[1] << "\n";
  return 0;
}
