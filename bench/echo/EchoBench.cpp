// echo_bench offline
// echo_bench live HELPER DEMO_WINDOW ROOM_RIG   (bench/echo/run.sh gives the desktop)
//
// The echo canceller's figures on the room of the echo tests: how much of
// the far end it takes out of the microphone (after 3 s at room delays of
// 50, 150 and 300 ms, and within 3 s after a jump from 50 to 150 ms), how
// the near end alone and during double talk is kept, and what it costs.
// Offline, the room is simulated in-process and the canceller of the
// microphone path is compared with speexdsp's; live, the helper records a
// window on the virtual desktop while room-rig is the room, once with echo
// cancellation and once without, side by side, and the figures come from
// the recorded microphone track.

#include "EchoScenes.h"
#include "Room.h"

#include "Platform/Linux/Echo/EchoCancellingCapture.h"
#include "support/MediaProbe.h"
#include "support/Subprocess.h"

#include <speex/speex_echo.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

namespace {

using namespace EchoBench;
using namespace std::chrono_literals;

struct Room {
  const char* name;
  double delayMs;
  double jumpDelayMs; // negative: no jump
};
constexpr Room rooms[] = {
    {"50 ms", 50, -1}, {"150 ms", 150, -1}, {"300 ms", 300, -1}, {"50 -> 150 ms at 3 s", 50, 150}};
constexpr double jumpAt = 3;
constexpr double roomGainDb = -6;

double cpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

void print(const char* canceller, const Room& room, const Figures& figures, double cpuPerSecond) {
  std::printf("%-8s %-20s far end -%5.1f dB  near end alone %+5.2f dB  double talk near end "
              "%+5.2f dB  CPU %.4f s/s\n",
              canceller, room.name, figures.farEndReduction, figures.nearEndAlone,
              figures.doubleTalkNearEnd, cpuPerSecond);
}

// The microphone the room makes of the scene: echo and near end apart.
std::pair<std::vector<float>, std::vector<float>> roomEcho(const Scene& scene, const Room& room) {
  RoomRig::Room acoustics(sampleRate, room.delayMs, roomGainDb);
  std::vector<float> echo(scene.far.size());
  const auto jump = static_cast<std::size_t>(jumpAt * sampleRate);
  for (std::size_t at = 0; at < scene.far.size(); at += sampleRate / 100) {
    if (room.jumpDelayMs >= 0 && at == jump) {
      acoustics.setDelay(room.jumpDelayMs);
    }
    const std::size_t frames = std::min<std::size_t>(sampleRate / 100, scene.far.size() - at);
    acoustics.hear(scene.far.data() + at, echo.data() + at, frames);
  }
  return {echo, scene.near};
}

// A capture the bench delivers by hand.
class HandCapture final : public Platform::Linux::AudioCapture {
public:
  void start(std::function<void(Platform::SampleBufferRef)> deliver) override {
    *deliver_ = std::move(deliver);
  }
  void stop() override {}
  std::shared_ptr<std::function<void(Platform::SampleBufferRef)>> deliver_ =
      std::make_shared<std::function<void(Platform::SampleBufferRef)>>();
};

Platform::SampleBufferRef buffer(const std::vector<float>& signal, std::size_t from,
                                 std::size_t frames) {
  auto audio = std::make_shared<Platform::AudioBuffer>();
  audio->frameCount = frames;
  audio->bytes.resize(frames * sizeof(float));
  std::memcpy(audio->bytes.data(), signal.data() + from, audio->bytes.size());
  Platform::CMSampleBuffer::Contents contents;
  contents.formatDescription =
      Platform::FormatDescription::audioPCM({sampleRate, 1, Platform::AudioSampleFormat::float32});
  const auto nanoseconds = [](std::size_t samples) {
    return static_cast<std::int64_t>(samples) * 1'000'000'000 / sampleRate;
  };
  contents.timing = {Platform::CMSampleTimingInfo{
      CMTimeMake(nanoseconds(frames), hostTimeScale),
      CMTimeMake(1'000'000'000 + nanoseconds(from), hostTimeScale), kCMTimeInvalid}};
  contents.audioBuffer = std::move(audio);
  return Platform::CMSampleBuffer::make(std::move(contents));
}

// The microphone through the recording's echo-cancelling capture, in
// buffers of 40 ms stamped on one clock with the reference's.
std::vector<float> cancelThroughCapture(const std::vector<float>& microphone,
                                        const std::vector<float>& reference) {
  auto heard = std::make_unique<HandCapture>();
  auto played = std::make_unique<HandCapture>();
  const auto deliverHeard = heard->deliver_;
  const auto deliverPlayed = played->deliver_;
  auto capture =
      Platform::Linux::Echo::makeEchoCancellingCapture(std::move(heard), std::move(played));
  std::vector<float> cleaned;
  capture->start([&cleaned](Platform::SampleBufferRef sample) {
    const auto* data = reinterpret_cast<const float*>(sample->audioBuffer()->bytes.data());
    cleaned.insert(cleaned.end(), data, data + sample->audioBuffer()->frameCount);
  });
  const std::size_t frames = sampleRate / 25;
  for (std::size_t at = 0; at + frames <= microphone.size(); at += frames) {
    (*deliverHeard)(buffer(microphone, at, frames));
    (*deliverPlayed)(buffer(reference, at, frames));
  }
  capture->stop();
  return cleaned;
}

double measureFrom(const Room& room) {
  return room.jumpDelayMs >= 0 ? jumpAt + 3 : 3;
}

void offline() {
  const Scene scene = makeScene();
  const double seconds = static_cast<double>(scene.far.size()) / sampleRate;
  const std::size_t frame = sampleRate / 100;
  for (const Room& room : rooms) {
    const auto [echo, near] = roomEcho(scene, room);
    std::vector<float> microphone(echo.size());
    for (std::size_t i = 0; i < microphone.size(); ++i) {
      microphone[i] = echo[i] + near[i];
    }
    {
      const double before = cpuSeconds();
      const auto cleaned = cancelThroughCapture(microphone, scene.far);
      print("webrtc", room, measure(cleaned, echo, near, measureFrom(room)),
            (cpuSeconds() - before) / seconds);
    }
    {
      // speexdsp needs a filter as long as the room's delay and tail.
      const int filterLength = sampleRate / 2;
      SpeexEchoState* speex = speex_echo_state_init(static_cast<int>(frame), filterLength);
      int rate = sampleRate;
      speex_echo_ctl(speex, SPEEX_ECHO_SET_SAMPLING_RATE, &rate);
      std::vector<float> cleaned(microphone.size());
      std::vector<spx_int16_t> in(frame), played(frame), out(frame);
      const double before = cpuSeconds();
      for (std::size_t at = 0; at + frame <= cleaned.size(); at += frame) {
        for (std::size_t i = 0; i < frame; ++i) {
          in[i] = static_cast<spx_int16_t>(std::clamp(microphone[at + i], -1.0F, 1.0F) * 32767);
          played[i] = static_cast<spx_int16_t>(std::clamp(scene.far[at + i], -1.0F, 1.0F) * 32767);
        }
        speex_echo_cancellation(speex, in.data(), played.data(), out.data());
        for (std::size_t i = 0; i < frame; ++i) {
          cleaned[at + i] = static_cast<float>(out[i]) / 32768.0F;
        }
      }
      const double cpu = (cpuSeconds() - before) / seconds;
      speex_echo_state_destroy(speex);
      print("speexdsp", room, measure(cleaned, echo, near, measureFrom(room)), cpu);
    }
  }
}

// The CPU time a process has used so far, from /proc.
double processCpuSeconds(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  std::istringstream fields(text.substr(text.rfind(')') + 2));
  std::string field;
  double ticks = 0;
  for (int index = 3; fields >> field; ++index) {
    if (index == 14 || index == 15) {
      ticks += std::stod(field);
    }
  }
  return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

struct LiveRun {
  Figures figures;
  double cpuPerSecond = 0;
};

LiveRun recordRoom(const std::string& helper, const std::string& demo, const std::string& rig,
                   const Room& room, bool cancelling, const std::string& directory) {
  std::map<std::string, std::string> environment{
      {"TARSEL_ECHO_CANCELLATION", cancelling ? "1" : "0"}};
  TestSupport::Subprocess window({demo, "--size", "160x120", "--still"}, {});
  const auto windowID = window.readLine(10s);
  const std::string file = directory + (cancelling ? "/cancelled.mp4" : "/raw.mp4");
  std::filesystem::remove(file);
  TestSupport::Subprocess recording({helper, "start", windowID.value_or("0"), "virtual_mic", file},
                                    environment);
  recording.readLine(20s);
  if (recording.readLine(20s) != "Recording started! Press Ctrl+C to stop.") {
    throw std::runtime_error("the helper did not start recording");
  }
  const double cpuBefore = processCpuSeconds(recording.pid());
  const auto started = std::chrono::steady_clock::now();
  std::vector<std::string> arguments{rig,
                                     "--far",
                                     directory + "/far.f32",
                                     "--near",
                                     directory + "/near.f32",
                                     "--out-dir",
                                     directory,
                                     "--delay-ms",
                                     std::to_string(room.delayMs),
                                     "--gain-db",
                                     std::to_string(roomGainDb)};
  if (room.jumpDelayMs >= 0) {
    arguments.insert(arguments.end(), {"--jump-delay-ms", std::to_string(room.jumpDelayMs),
                                       "--jump-at", std::to_string(jumpAt)});
  }
  TestSupport::Subprocess roomRig(arguments, {});
  if (roomRig.wait(60s) != 0) {
    throw std::runtime_error("room-rig failed");
  }
  const double cpu = processCpuSeconds(recording.pid()) - cpuBefore;
  const double wall =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  recording.signal(SIGINT);
  recording.wait(30s);

  const auto info = TestSupport::probeFile(file);
  std::vector<float> microphone;
  for (std::size_t index = 0; index < info.tracks.size(); ++index) {
    if (info.tracks[index].name == "Microphone") {
      microphone = resample(TestSupport::decodeTrack(file, static_cast<int>(index)).firstChannel,
                            info.tracks[index].sampleRate, sampleRate);
    }
  }
  const auto echo = readSamples(directory + "/echo.f32");
  const auto near = readSamples(directory + "/near.f32");
  const long offset = alignment(microphone, near);
  std::vector<float> cleaned(near.size(), 0.0F);
  for (std::size_t i = 0; i < cleaned.size(); ++i) {
    const long j = static_cast<long>(i) + offset;
    if (j >= 0 && j < static_cast<long>(microphone.size())) {
      cleaned[i] = microphone[static_cast<std::size_t>(j)];
    }
  }
  return {measure(cleaned, echo, near, measureFrom(room)), cpu / wall};
}

void live(const std::string& helper, const std::string& demo, const std::string& rig) {
  const std::string directory = std::filesystem::temp_directory_path() / "echo-bench";
  std::filesystem::create_directories(directory);
  const Scene scene = makeScene();
  writeSamples(directory + "/far.f32", scene.far);
  writeSamples(directory + "/near.f32", scene.near);
  for (const Room& room : rooms) {
    const LiveRun raw = recordRoom(helper, demo, rig, room, false, directory);
    const LiveRun cancelled = recordRoom(helper, demo, rig, room, true, directory);
    print("raw", room, raw.figures, raw.cpuPerSecond);
    print("webrtc", room, cancelled.figures, cancelled.cpuPerSecond);
    std::printf("%-8s %-20s added CPU %.4f s per recorded s\n", "", room.name,
                cancelled.cpuPerSecond - raw.cpuPerSecond);
    std::fflush(stdout);
  }
}

} // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  try {
    if (mode == "offline") {
      offline();
      return 0;
    }
    if (mode == "live" && argc == 5) {
      live(argv[2], argv[3], argv[4]);
      return 0;
    }
  } catch (const std::exception& error) {
    std::fprintf(stderr, "echo_bench: %s\n", error.what());
    return 1;
  }
  std::fprintf(stderr, "usage: echo_bench offline | echo_bench live HELPER DEMO_WINDOW ROOM_RIG\n");
  return 2;
}
