#pragma once

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

  // Ends the server now, as a crash would.
  void stopServer();
  // Runs pactl against the server; its exit status.
  int pactl(const std::vector<std::string>& arguments);
  // Plays a 440 Hz tone into `sink` for a few seconds; stops when the
  // returned process goes away.
  std::unique_ptr<TestSupport::Subprocess> playTone(const std::string& sink);

  std::string server_;
  std::string pid_;

private:
  TestSupport::TemporaryDirectory files_;
};

// The largest absolute sample of a float32 buffer.
float peakOf(const Platform::CMSampleBuffer& sample);
