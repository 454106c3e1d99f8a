#pragma once

#include "Platform/Linux/Pulse/AudioServer.h"
#include "Platform/SampleBuffer.h"

#include "support/Subprocess.h"
#include "support/VirtualDesktop.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

// A private PulseAudio server per test (speakers, virtmic_sink, virtual_mic),
// with PULSE_SERVER pointing at it for the test's process.
class PulseServerTest : public testing::Test {
protected:
  void SetUp() override;
  void TearDown() override;

  // Ends the server now.
  void stopServer();
  // Kills the server as a crash would and starts a fresh one on the same
  // socket, as a restarting audio server does.
  void restartServer();
  // Runs pactl against the server; its exit status.
  int pactl(const std::vector<std::string>& arguments);
  // Loads a module; its index, or empty when the server refused.
  std::string loadModule(const std::vector<std::string>& arguments);
  // Plays a 440 Hz tone into `sink` for a few seconds; stops when the
  // returned process goes away. A low-latency player, as a meeting's, is
  // heard at once; pacat's default buffers about 2 s first.
  std::unique_ptr<TestSupport::Subprocess> playTone(const std::string& sink,
                                                    bool lowLatency = false);

  std::string server_;
  std::string pid_;
  // What the platform would own: the one way to the server under test.
  std::shared_ptr<Platform::Linux::Pulse::AudioServer> audioServer_ =
      std::make_shared<Platform::Linux::Pulse::AudioServer>();

private:
  TestSupport::TemporaryDirectory files_;
};

// The largest absolute sample of a float32 buffer.
float peakOf(const Platform::CMSampleBuffer& sample);
