// display_recording_bench SECONDS DESTINATION
//
// Records the main display of $DISPLAY through the library for SECONDS at 24
// frames per second (H.264, no audio) into DESTINATION, then prints the
// process CPU seconds per recorded second and the peak resident memory. The
// caller reads frames and gaps back from the file.

#include "Platform/Linux/LinuxPlatform.h"
#include "Platform/Platform.h"
#include "Vistrel/Recorder.h"

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <exception>
#include <string>
#include <thread>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s SECONDS DESTINATION\n", argv[0]);
    return 2;
  }
  const double seconds = std::stod(argv[1]);
  try {
    Platform::install(Platform::Linux::makeLinuxServices());
    const std::string display = std::to_string(Platform::screenCapture().mainDisplayID());
    Vistrel::Recorder recorder;
    recorder.start(Vistrel::Target::screen,
                   Vistrel::RecordingOptions({.destination = argv[2],
                                              .targetID = display,
                                              .framesPerSecond = 24,
                                              .cropRect = std::nullopt,
                                              .showCursor = false,
                                              .microphoneDeviceID = std::nullopt}));
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    recorder.stop();
  } catch (const std::exception& error) {
    std::fprintf(stderr, "display_recording_bench: %s\n", error.what());
    return 1;
  }
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const double cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                     static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  std::printf("cpu_per_second=%.4f peak_mib=%.1f\n", cpu / seconds,
              static_cast<double>(usage.ru_maxrss) / 1024.0);
  return 0;
}
