// A program with an asio of its own, configured unlike the library's (a
// larger handler-memory cache per thread, so a different layout of asio's
// per-thread state), that records the first display for a second while its
// own thread pool posts work, also from the library's callback threads.
// Had the library exported its asio instances, both would share one
// definition of that state, and one of them would read it with the wrong
// layout.
//
//   own-asio <file.mp4>

#define ASIO_RECYCLING_ALLOCATOR_CACHE_SIZE 8
#include <asio/post.hpp>
#include <asio/thread_pool.hpp>

#include <Vistrel/Vistrel.h>

#include <atomic>
#include <chrono>
#include <iostream>
#include <thread>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: own-asio <file.mp4>\n";
    return 2;
  }
  asio::thread_pool pool(2);
  std::atomic<int> ran = 0;
  const auto work = [&pool, &ran] {
    for (int i = 0; i < 100; ++i) {
      asio::post(pool, [&ran] { ++ran; });
    }
  };
  try {
    const auto screens = Vistrel::Devices::screen();
    if (screens.empty()) {
      std::cerr << "no display to record\n";
      return 1;
    }
    Vistrel::Recorder recorder;
    // Runs on one of the library's threads.
    recorder.setOnError([&](const Vistrel::Error& error) {
      work();
      std::cerr << "recording failed: " << error.localizedDescription() << "\n";
    });
    recorder.start(Vistrel::Target::screen,
                   Vistrel::RecordingOptions({.destination = argv[1],
                                              .targetID = screens.front().id,
                                              .framesPerSecond = 30,
                                              .cropRect = std::nullopt,
                                              .microphoneDeviceID = std::nullopt}));
    for (int round = 0; round < 10; ++round) {
      work();
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    recorder.stop();
  } catch (const std::exception& error) {
    std::cerr << error.what() << "\n";
    return 1;
  }
  pool.join();
  if (ran < 1000) {
    std::cerr << "the program's own pool ran " << ran << " of its 1000 handlers\n";
    return 1;
  }
  std::cout << "recorded " << argv[1] << " beside " << ran << " handlers of our own\n";
  return 0;
}
