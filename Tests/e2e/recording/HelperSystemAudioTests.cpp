#include "HelperFixture.h"
#include "RecordingChecks.h"

#include "support/DemoWindow.h"
#include "support/MediaProbe.h"

#include <filesystem>
#include <thread>
#include <tuple>

// What the system audio track holds, as the parent application chooses it
// (TARSEL_SYSTEM_AUDIO): the window's application alone, or everything.
// The window's process plays one tone, a child it starts after the
// recording began another; a program of its own plays a third, and one
// that the audio server names with the window's application id (as a
// sandbox does, its process ids being none of the window's) a fourth.

namespace {

using namespace HelperTesting;
using RecordingChecks::toneAmplitude;
using TestSupport::DemoWindow;

constexpr double windowTone = 440;
constexpr double childTone = 660;
constexpr double otherProgramTone = 1000;
constexpr double sandboxedTone = 1320;
// A tone played at the demo's level measures about 0.37 (less where the
// server mixes it down); what leaks of a neighbouring one, a few
// thousandths.
constexpr double heard = 0.05;
constexpr double notHeard = 0.01;

class HelperSystemAudio : public HelperTest {
protected:
  static std::map<std::string, std::string> withVariable(const std::string& name,
                                                         const std::string& value) {
    auto variables = environment();
    variables[name] = value;
    return variables;
  }

  // Records the window for five seconds; the window's child starts to play
  // three seconds after the window, well after the recording began. The
  // system audio track's first channel and rate.
  std::pair<std::vector<float>, int> recordSystemAudio(const DemoWindow& window,
                                                       const std::string& systemAudio) {
    const std::string file = directory.path() + "/" + systemAudio + ".mp4";
    Subprocess helper({TARSEL_HELPER, "start", window.idText(), "virtual_mic", file},
                      withVariable("TARSEL_SYSTEM_AUDIO", systemAudio));
    expectStarted(helper, file);
    std::this_thread::sleep_for(5s);
    expectFinishedAfterInterrupt(helper);
    const auto info = TestSupport::probeFile(file);
    for (std::size_t index = 0; index < info.tracks.size(); ++index) {
      if (info.tracks[index].name == "System audio") {
        return {TestSupport::decodeTrack(file, static_cast<int>(index)).firstChannel,
                info.tracks[index].sampleRate};
      }
    }
    ADD_FAILURE() << "no system audio track";
    return {};
  }

  static DemoWindow meetingWindow() {
    return DemoWindow({"--size", "160x120", "--still", "--class", "meeting", "--tone",
                       std::to_string(windowTone), "--child-tone", std::to_string(childTone),
                       "--child-after", "3"},
                      environment());
  }
};

TEST_F(HelperSystemAudio, ApplicationHoldsTheWindowsProcessesAndItsSandboxedStreamsAlone) {
  const auto other = TestSupport::startTone(otherProgramTone, environment());
  auto sandboxed = environment();
  sandboxed["PULSE_PROP"] = "application.id=org.example.meeting application.process.id=1";
  const auto sandboxedProgram = TestSupport::startTone(sandboxedTone, sandboxed);
  std::this_thread::sleep_for(300ms);
  const auto window = meetingWindow();

  const auto [samples, rate] = recordSystemAudio(window, "application");
  ASSERT_GT(samples.size(), static_cast<std::size_t>(rate) * 3);
  const double end = static_cast<double>(samples.size()) / rate;
  EXPECT_GT(toneAmplitude(samples, rate, windowTone, 0.5, end - 0.5), heard);
  EXPECT_GT(toneAmplitude(samples, rate, sandboxedTone, 0.5, end - 0.5), heard);
  EXPECT_LT(toneAmplitude(samples, rate, childTone, 0.2, 1), notHeard) << "not yet started";
  EXPECT_GT(toneAmplitude(samples, rate, childTone, end - 1.5, end - 0.5), heard)
      << "a stream that started while recording";
  EXPECT_LT(toneAmplitude(samples, rate, otherProgramTone, 0.5, end - 0.5), notHeard)
      << "another program's sound";
}

TEST_F(HelperSystemAudio, AllHoldsEveryProgramsSound) {
  const auto other = TestSupport::startTone(otherProgramTone, environment());
  std::this_thread::sleep_for(300ms);
  const auto window = meetingWindow();

  const auto [samples, rate] = recordSystemAudio(window, "all");
  ASSERT_GT(samples.size(), static_cast<std::size_t>(rate) * 3);
  const double end = static_cast<double>(samples.size()) / rate;
  EXPECT_GT(toneAmplitude(samples, rate, windowTone, 0.5, end - 0.5), heard);
  EXPECT_GT(toneAmplitude(samples, rate, otherProgramTone, 0.5, end - 0.5), heard);
  EXPECT_GT(toneAmplitude(samples, rate, childTone, end - 1.5, end - 0.5), heard);
}

TEST_F(HelperSystemAudio, UnknownChoiceFailsTheStartWithoutAFile) {
  const DemoWindow window({"--size", "160x120", "--still"}, environment());
  const std::string file = directory.path() + "/refused.mp4";
  const std::tuple<const char*, const char*, const char*> choices[] = {
      {"TARSEL_SYSTEM_AUDIO", "Application",
       "Vistrel Error: System audio Application not supported. Use all or application."},
      {"TARSEL_ECHO_CANCELLATION", "true",
       "Vistrel Error: Echo cancellation true not supported. Use 0 or 1."},
  };
  for (const auto& [variable, value, refusal] : choices) {
    SCOPED_TRACE(variable);
    Subprocess helper({TARSEL_HELPER, "start", window.idText(), "virtual_mic", file},
                      withVariable(variable, value));
    ASSERT_EQ(line(helper).rfind("File path: file://", 0), 0U);
    EXPECT_EQ(line(helper), refusal);
    EXPECT_EQ(helper.wait(20s), 1);
    EXPECT_FALSE(std::filesystem::exists(file));
  }
}

} // namespace
