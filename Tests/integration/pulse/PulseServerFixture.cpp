#include "PulseServerFixture.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <numbers>
#include <sstream>

namespace {

const std::string script = std::string(TARSEL_SOURCE_DIR) + "/scripts/virtual-audio";

} // namespace

void PulseServerTest::SetUp() {
  const auto started = TestSupport::run({script, "start"}, {}, std::chrono::seconds(30));
  ASSERT_EQ(started.status, 0) << started.output;
  std::istringstream fields(started.output);
  fields >> server_ >> pid_;
  ASSERT_EQ(server_.rfind("unix:", 0), 0U) << started.output;
  ASSERT_FALSE(pid_.empty());
  setenv("PULSE_SERVER", server_.c_str(), 1);
}

void PulseServerTest::TearDown() {
  stopServer();
}

void PulseServerTest::stopServer() {
  if (!pid_.empty()) {
    TestSupport::run({script, "stop", pid_}, {}, std::chrono::seconds(30));
    pid_.clear();
  }
}

void PulseServerTest::restartServer() {
  const auto restarted = TestSupport::run({script, "restart", pid_}, {}, std::chrono::seconds(30));
  ASSERT_EQ(restarted.status, 0) << restarted.output;
  std::istringstream fields(restarted.output);
  std::string server;
  fields >> server >> pid_;
  ASSERT_EQ(server, server_) << "the same socket";
}

std::string PulseServerTest::loadModule(const std::vector<std::string>& arguments) {
  std::vector<std::string> command{"/usr/bin/env", "pactl", "load-module"};
  command.insert(command.end(), arguments.begin(), arguments.end());
  const auto loaded = TestSupport::run(command, {}, std::chrono::seconds(10));
  if (loaded.status != 0) {
    return {};
  }
  std::istringstream fields(loaded.output);
  std::string index;
  fields >> index;
  return index;
}

int PulseServerTest::pactl(const std::vector<std::string>& arguments) {
  std::vector<std::string> command{"/usr/bin/env", "pactl"};
  command.insert(command.end(), arguments.begin(), arguments.end());
  return TestSupport::run(command, {}, std::chrono::seconds(10)).status;
}

std::unique_ptr<TestSupport::Subprocess> PulseServerTest::playTone(const std::string& sink,
                                                                   bool lowLatency) {
  constexpr int rate = 44100;
  constexpr int seconds = 5;
  const std::string path = files_.path() + "/tone-" + sink + ".raw";
  {
    std::ofstream file(path, std::ios::binary);
    for (int frame = 0; frame < rate * seconds; ++frame) {
      const float value =
          0.5F * static_cast<float>(std::sin(2 * std::numbers::pi * 440 * frame / rate));
      file.write(reinterpret_cast<const char*>(&value), sizeof value);
      file.write(reinterpret_cast<const char*>(&value), sizeof value);
    }
  }
  // Low latency, as a meeting's player: the sink renders small blocks, so
  // the tone reaches its monitor at once, not after pacat's default 2 s.
  std::vector<std::string> command{
      "/usr/bin/env",       "pacat",        "--playback",   "--device=" + sink,
      "--format=float32le", "--rate=44100", "--channels=2", "--raw"};
  if (lowLatency) {
    command.emplace_back("--latency-msec=20");
  }
  command.push_back(path);
  return std::make_unique<TestSupport::Subprocess>(command);
}

float peakOf(const Platform::CMSampleBuffer& sample) {
  const auto& bytes = sample.audioBuffer()->bytes;
  float peak = 0;
  for (std::size_t offset = 0; offset + sizeof(float) <= bytes.size(); offset += sizeof(float)) {
    float value = 0;
    std::memcpy(&value, bytes.data() + offset, sizeof value);
    peak = std::max(peak, std::fabs(value));
  }
  return peak;
}
