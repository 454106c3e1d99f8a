// room-rig --far FILE --near FILE --out-dir DIR [--delay-ms MS] [--gain-db DB]
//          [--jump-delay-ms MS --jump-at SECONDS]
//
// The room of an echo test, on the audio server PULSE_SERVER names (the
// virtual desktop's): plays FILE --far through the default sink (the
// speakers, as a meeting's remote side), hears the speakers' monitor and
// feeds it to "virtmic_sink", whose monitor is the microphone
// "virtual_mic", delayed, weaker and reverberated as a room sends it back,
// together with the near-end voice of FILE --near. Both files are mono
// float32 at 48 kHz, on one timeline from the rig's start. It writes what
// it fed to the microphone, apart, as DIR/echo.f32 and DIR/near.f32 (the
// same timeline, sample for sample), and ends when both files are played.

#include "Room.h"

#include <pulse/error.h>
#include <pulse/simple.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int sampleRate = 48000;
constexpr std::size_t chunk = sampleRate / 100; // 10 ms

[[noreturn]] void fail(const std::string& problem) {
  std::fprintf(stderr, "room-rig: %s\n", problem.c_str());
  std::exit(1);
}

std::vector<float> readSamples(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    fail("cannot read " + path);
  }
  std::vector<char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  std::vector<float> samples(bytes.size() / sizeof(float));
  std::memcpy(samples.data(), bytes.data(), samples.size() * sizeof(float));
  return samples;
}

pa_simple* open(pa_stream_direction_t direction, const char* device, const char* name,
                std::uint32_t bufferFrames) {
  const pa_sample_spec spec{PA_SAMPLE_FLOAT32LE, sampleRate, 1};
  pa_buffer_attr attributes{};
  attributes.maxlength = static_cast<std::uint32_t>(-1);
  attributes.tlength = bufferFrames * sizeof(float);
  attributes.prebuf = static_cast<std::uint32_t>(-1);
  attributes.minreq = static_cast<std::uint32_t>(-1);
  attributes.fragsize = bufferFrames * sizeof(float);
  int error = 0;
  pa_simple* stream = pa_simple_new(nullptr, "room-rig", direction, device, name, &spec, nullptr,
                                    &attributes, &error);
  if (stream == nullptr) {
    fail(std::string("cannot open ") + name + ": " + pa_strerror(error));
  }
  return stream;
}

struct Arguments {
  std::string far, near, outDir;
  double delayMs = 100, gainDb = -6, jumpDelayMs = -1, jumpAt = -1;
};

Arguments parse(int argc, char** argv) {
  Arguments arguments;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string flag = argv[i];
    const std::string value = argv[i + 1];
    if (flag == "--far") {
      arguments.far = value;
    } else if (flag == "--near") {
      arguments.near = value;
    } else if (flag == "--out-dir") {
      arguments.outDir = value;
    } else if (flag == "--delay-ms") {
      arguments.delayMs = std::atof(value.c_str());
    } else if (flag == "--gain-db") {
      arguments.gainDb = std::atof(value.c_str());
    } else if (flag == "--jump-delay-ms") {
      arguments.jumpDelayMs = std::atof(value.c_str());
    } else if (flag == "--jump-at") {
      arguments.jumpAt = std::atof(value.c_str());
    } else {
      fail("unknown argument " + flag);
    }
  }
  if (arguments.far.empty() || arguments.near.empty() || arguments.outDir.empty()) {
    fail("usage: room-rig --far FILE --near FILE --out-dir DIR [--delay-ms MS] [--gain-db DB] "
         "[--jump-delay-ms MS --jump-at SECONDS]");
  }
  return arguments;
}

} // namespace

int main(int argc, char** argv) {
  const Arguments arguments = parse(argc, argv);
  const std::vector<float> far = readSamples(arguments.far);
  const std::vector<float> near = readSamples(arguments.near);
  const std::size_t length = std::max(far.size(), near.size());

  // Small buffers: the rig's own latency adds to the room's delay.
  pa_simple* speakers = open(PA_STREAM_PLAYBACK, nullptr, "far end", chunk * 4);
  pa_simple* monitor = open(PA_STREAM_RECORD, "speakers.monitor", "room", chunk);
  pa_simple* microphone = open(PA_STREAM_PLAYBACK, "virtmic_sink", "room", chunk * 3);

  std::atomic<bool> farDone{false};
  std::thread farEnd([&] {
    std::vector<float> block(chunk);
    int error = 0;
    for (std::size_t at = 0; at < length; at += chunk) {
      for (std::size_t i = 0; i < chunk; ++i) {
        block[i] = at + i < far.size() ? far[at + i] : 0.0F;
      }
      if (pa_simple_write(speakers, block.data(), chunk * sizeof(float), &error) < 0) {
        fail(std::string("the far end stopped: ") + pa_strerror(error));
      }
    }
    pa_simple_drain(speakers, &error);
    farDone = true;
  });

  RoomRig::Room room(sampleRate, arguments.delayMs, arguments.gainDb);
  std::ofstream echoOut(arguments.outDir + "/echo.f32", std::ios::binary);
  std::ofstream nearOut(arguments.outDir + "/near.f32", std::ios::binary);
  std::vector<float> heard(chunk), echo(chunk), fed(chunk), voice(chunk);
  int error = 0;
  const auto jumpSample = static_cast<std::size_t>(arguments.jumpAt * sampleRate);
  for (std::size_t at = 0; at < length + sampleRate / 2; at += chunk) {
    if (arguments.jumpAt >= 0 && at <= jumpSample && jumpSample < at + chunk) {
      room.setDelay(arguments.jumpDelayMs);
    }
    if (pa_simple_read(monitor, heard.data(), chunk * sizeof(float), &error) < 0) {
      fail(std::string("the room stopped hearing: ") + pa_strerror(error));
    }
    room.hear(heard.data(), echo.data(), chunk);
    for (std::size_t i = 0; i < chunk; ++i) {
      voice[i] = at + i < near.size() ? near[at + i] : 0.0F;
      fed[i] = echo[i] + voice[i];
    }
    if (pa_simple_write(microphone, fed.data(), chunk * sizeof(float), &error) < 0) {
      fail(std::string("the microphone stopped: ") + pa_strerror(error));
    }
    echoOut.write(reinterpret_cast<const char*>(echo.data()), chunk * sizeof(float));
    nearOut.write(reinterpret_cast<const char*>(voice.data()), chunk * sizeof(float));
  }
  farEnd.join();
  pa_simple_drain(microphone, &error);
  pa_simple_free(microphone);
  pa_simple_free(monitor);
  pa_simple_free(speakers);
  return farDone ? 0 : 1;
}
