#include "Platform/Linux/Pulse/ApplicationStreams.h"
#include "Platform/Linux/Pulse/AudioMixer.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <vector>

// One application's sound: which playback streams are its own, and how
// they are mixed on the host clock into one gap-free track.

using namespace Platform;
using Platform::Linux::Pulse::ApplicationMatch;
using Platform::Linux::Pulse::AudioMixer;
using Platform::Linux::Pulse::isProcessWithin;
using Platform::Linux::Pulse::PlaybackStream;

namespace {

constexpr std::int64_t millisecond = 1'000'000;
constexpr std::uint32_t rate = 1000; // a frame per millisecond keeps the arithmetic readable

SampleBufferRef buffer(std::int64_t startMs, std::vector<float> samples) {
  auto audio = std::make_shared<AudioBuffer>();
  audio->frameCount = samples.size();
  audio->bytes.resize(samples.size() * sizeof(float));
  std::memcpy(audio->bytes.data(), samples.data(), audio->bytes.size());
  CMSampleBuffer::Contents contents;
  contents.formatDescription = FormatDescription::audioPCM({rate, 1, AudioSampleFormat::float32});
  contents.timing = {CMSampleTimingInfo{
      CMTimeMake(static_cast<std::int64_t>(samples.size()) * millisecond, hostTimeScale),
      CMTimeMake(startMs * millisecond, hostTimeScale), kCMTimeInvalid}};
  contents.audioBuffer = std::move(audio);
  return CMSampleBuffer::make(std::move(contents));
}

struct Mixed {
  std::int64_t startMs = 0;
  std::int64_t durationMs = 0;
  std::vector<float> samples;
};

class AudioMixerTest : public ::testing::Test {
protected:
  AudioMixer mixer_{rate, 1, [this](SampleBufferRef sample) {
                      Mixed mixed;
                      mixed.startMs = sample->presentationTimeStamp().value / millisecond;
                      mixed.durationMs = sample->duration().value / millisecond;
                      const auto& audio = *sample->audioBuffer();
                      mixed.samples.resize(audio.frameCount);
                      std::memcpy(mixed.samples.data(), audio.bytes.data(), audio.bytes.size());
                      mixed_.push_back(std::move(mixed));
                    }};
  std::vector<Mixed> mixed_;
};

TEST_F(AudioMixerTest, StreamsPlayingAtOnceAreSummedAndSilenceFillsTheRest) {
  mixer_.passOnUntil(100 * millisecond);
  mixer_.add(*buffer(102, {1, 1, 1}));
  mixer_.add(*buffer(103, {10, 10, 10}));
  mixer_.passOnUntil(108 * millisecond);
  ASSERT_EQ(mixed_.size(), 1U);
  EXPECT_EQ(mixed_[0].startMs, 100);
  EXPECT_EQ(mixed_[0].durationMs, 8);
  EXPECT_EQ(mixed_[0].samples, (std::vector<float>{0, 0, 1, 11, 11, 10, 0, 0}));
}

TEST_F(AudioMixerTest, TheTrackRunsOnBackToBackWithoutAnyStreamAndDropsSoundThatCameTooLate) {
  mixer_.passOnUntil(0);
  mixer_.passOnUntil(5 * millisecond);
  mixer_.add(*buffer(3, {1, 2, 3, 4})); // 3 and 4 are passed on: only 5 and 6 are mixed
  mixer_.passOnUntil(9 * millisecond);
  mixer_.passOnUntil(9 * millisecond); // nothing new
  ASSERT_EQ(mixed_.size(), 2U);
  EXPECT_EQ(mixed_[0].samples, std::vector<float>(5, 0));
  EXPECT_EQ(mixed_[1].startMs, mixed_[0].startMs + mixed_[0].durationMs);
  EXPECT_EQ(mixed_[1].samples, (std::vector<float>{3, 4, 0, 0}));
  EXPECT_EQ(mixer_.lateFrames(), 2U);
}

TEST_F(AudioMixerTest, SoundBeforeTheTrackStartsIsNotInIt) {
  mixer_.add(*buffer(0, {5, 5}));
  mixer_.passOnUntil(0);
  mixer_.passOnUntil(2 * millisecond);
  ASSERT_EQ(mixed_.size(), 1U);
  EXPECT_EQ(mixed_[0].samples, (std::vector<float>{0, 0}));
}

class ChildProcess {
public:
  ChildProcess() : pid_(fork()) {
    if (pid_ == 0) {
      pause();
      _exit(0);
    }
  }
  ~ChildProcess() {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  pid_t pid() const { return pid_; }

private:
  pid_t pid_;
};

TEST(ApplicationMatch, TheWindowsProcessAndThoseItStartedAreItsOwnOthersAreNot) {
  const ChildProcess child;
  const ApplicationMatch ours(SCRunningApplication{"Meeting", "meeting", getpid()});
  EXPECT_TRUE(ours.owns(PlaybackStream{getpid(), ""}));
  EXPECT_TRUE(ours.owns(PlaybackStream{child.pid(), ""})) << "a child plays for its parent";
  EXPECT_FALSE(ours.owns(PlaybackStream{getppid(), ""})) << "our parent is not ours";
  EXPECT_FALSE(ours.owns(PlaybackStream{std::nullopt, ""}));

  const ApplicationMatch childsOwn(SCRunningApplication{"Helper", "helper", child.pid()});
  EXPECT_FALSE(childsOwn.owns(PlaybackStream{getpid(), ""})) << "a parent is not its child's";
  EXPECT_FALSE(isProcessWithin(1'000'000'000, getpid())) << "a process that does not exist";
  EXPECT_FALSE(isProcessWithin(getpid(), 0));
}

TEST(ApplicationMatch, ASandboxedStreamIsTheApplicationsByTheIdTheServerNames) {
  // The sandbox's process ids are none of the window's.
  const ApplicationMatch meeting(SCRunningApplication{"Meeting", "meeting", getpid()});
  EXPECT_TRUE(meeting.owns(PlaybackStream{1, "meeting"}));
  EXPECT_TRUE(meeting.owns(PlaybackStream{1, "org.example.Meeting"}));
  EXPECT_FALSE(meeting.owns(PlaybackStream{1, "org.example.Meetings"}));
  EXPECT_FALSE(meeting.owns(PlaybackStream{1, "meeting.org.example"}));
  EXPECT_FALSE(meeting.owns(PlaybackStream{1, ""}));

  const ApplicationMatch nameless(SCRunningApplication{"", "", getpid()});
  EXPECT_FALSE(nameless.owns(PlaybackStream{1, ""})) << "an empty id names no application";
}

} // namespace
