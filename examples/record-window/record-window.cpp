// Records a window with the system's sound and a microphone: five seconds,
// a pause of two, five more. The pause leaves no hole in the file.
//
//   record-window <file.mp4> [window id] [microphone id]
//
// Without ids it takes the first titled window on screen and the first
// microphone.

#include <Vistrel/Vistrel.h>

#include <chrono>
#include <iostream>
#include <optional>
#include <string>
#include <thread>

int main(int argc, char** argv) {
  if (argc < 2 || argc > 4) {
    std::cerr << "usage: record-window <file.mp4> [window id] [microphone id]\n";
    return 2;
  }
  try {
    std::optional<std::string> windowID;
    if (argc >= 3)
      windowID = argv[2];
    for (const auto& window : Vistrel::Devices::window())
      if (!windowID && window.title && !window.title->empty())
        windowID = window.id;
    std::optional<std::string> microphoneID;
    if (argc >= 4)
      microphoneID = argv[3];
    else if (const auto microphones = Vistrel::Devices::audio(); !microphones.empty())
      microphoneID = microphones.front().id;

    Vistrel::Recorder recorder;
    // The transitions, reported on this thread before each call returns.
    recorder.setOnPause([] { std::cout << "paused\n"; });
    recorder.setOnResume([] { std::cout << "resumed\n"; });
    // A failure while recording (the window closed, the disk full) arrives on
    // a capture thread; the next stop() throws it.
    recorder.setOnError([](const Vistrel::Error& error) {
      std::cerr << "recording failed: " << error.localizedDescription() << "\n";
    });

    recorder.start(Vistrel::Target::window,
                   Vistrel::RecordingOptions({.destination = argv[1],
                                              .targetID = windowID,
                                              .framesPerSecond = 24,
                                              .cropRect = std::nullopt,
                                              .recordSystemAudio = true,
                                              .microphoneDeviceID = microphoneID}));
    std::this_thread::sleep_for(std::chrono::seconds(5));
    recorder.pause();
    std::this_thread::sleep_for(std::chrono::seconds(2));
    recorder.resume();
    std::this_thread::sleep_for(std::chrono::seconds(5));
    recorder.stop();
  } catch (const std::exception& error) {
    std::cerr << error.what() << "\n";
    return 1;
  }
  std::cout << "recorded " << argv[1] << "\n";
  return 0;
}
