// Records sound only, the system's and a microphone's, into an .m4a file
// with Apple Lossless audio.
//
//   record-audio <file.m4a> [seconds] [microphone id]

#include <Vistrel/Vistrel.h>

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>
#include <thread>

int main(int argc, char** argv) {
  if (argc < 2 || argc > 4) {
    std::cerr << "usage: record-audio <file.m4a> [seconds] [microphone id]\n";
    return 2;
  }
  const int seconds = argc >= 3 ? std::atoi(argv[2]) : 5;
  // Diagnostics (a re-anchored audio timeline, a device lost) go to this
  // program's own log instead of standard error.
  Vistrel::setLogLevel(Vistrel::LogLevel::info);
  Vistrel::setLogSink([](Vistrel::LogLevel level, std::string_view message) {
    std::clog << "[" << Vistrel::logLevelName(level) << "] " << message << "\n";
  });
  try {
    std::optional<std::string> microphoneID;
    if (argc >= 4)
      microphoneID = argv[3];
    else if (const auto microphones = Vistrel::Devices::audio(); !microphones.empty())
      microphoneID = microphones.front().id;

    Vistrel::Recorder recorder;
    // An audio-only recording needs no target; the extension must be .m4a.
    recorder.start(Vistrel::Target::audioOnly,
                   Vistrel::RecordingOptions({.destination = argv[1],
                                              .targetID = std::nullopt,
                                              .cropRect = std::nullopt,
                                              .losslessAudio = true,
                                              .recordSystemAudio = true,
                                              .microphoneDeviceID = microphoneID}));
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    recorder.stop();
  } catch (const std::exception& error) {
    std::cerr << error.what() << "\n";
    return 1;
  }
  std::cout << "recorded " << argv[1] << "\n";
  return 0;
}
