#include "EngineFixture.h"

#include "Vistrel/PauseTimeline.h"

namespace {

using namespace EngineTesting;
using Vistrel::RecordingOptions;
using Vistrel::Target;

// Worked numbers, in milliseconds of capture time.
TEST(PauseTimeline, APauseCutsFromItsInstantToTheFirstDrivingSampleAfterTheResume) {
  using Placement = Vistrel::PauseTimeline::Placement;
  Vistrel::PauseTimeline timeline;
  for (const CMTimeValue start : {1000, 1040, 1080}) {
    EXPECT_EQ(timeline.placeDriving(ms(start), ms(40), false), kCMTimeZero);
  }
  EXPECT_EQ(timeline.end(), ms(1120));

  timeline.pause(ms(1100));
  EXPECT_TRUE(timeline.isBeforePause(ms(1090)));
  EXPECT_FALSE(timeline.isBeforePause(ms(5000)));
  EXPECT_EQ(timeline.place(ms(1095), ms(10)), (Placement{ms(1095), ms(1100), kCMTimeZero}))
      << "sound straddling the pause keeps its part before it";
  EXPECT_EQ(timeline.place(ms(1105), ms(10)), std::nullopt);
  EXPECT_EQ(timeline.placeDriving(ms(1110), ms(40), false), std::nullopt);

  // The first frame after the resume, at 5000: 3900 ms are cut.
  EXPECT_EQ(timeline.placeDriving(ms(5000), ms(40), true), ms(3900));
  EXPECT_EQ(timeline.offset(), ms(3900));
  EXPECT_EQ(timeline.end(), ms(1140)) << "5000 - 3900 + 40";
  EXPECT_EQ(timeline.place(ms(4990), ms(20)), (Placement{ms(5000), ms(5010), ms(3900)}))
      << "sound straddling the resume keeps its part after it";
  EXPECT_EQ(timeline.place(ms(1098), ms(4)), (Placement{ms(1098), ms(1100), kCMTimeZero}))
      << "sound from before the pause, delivered late, keeps its place";
  EXPECT_EQ(timeline.place(ms(3000), ms(10)), std::nullopt);

  EXPECT_EQ(timeline.endAt(ms(6000)), ms(2100)) << "a stop ends the file at its instant";
  timeline.pause(ms(7000));
  EXPECT_EQ(timeline.endAt(ms(9000)), ms(3100)) << "a stop while paused, at the pause";
}

TEST(PauseTimeline, WithoutAPauseInstantTheLastDrivingSampleEndsTheStretch) {
  Vistrel::PauseTimeline timeline;
  EXPECT_EQ(timeline.placeDriving(ms(2000), ms(40), true), kCMTimeZero)
      << "nothing before it to measure from";
  EXPECT_EQ(timeline.placeDriving(ms(2040), ms(40), false), kCMTimeZero);
  EXPECT_EQ(timeline.end(), ms(2080));
  // A resume that no pause preceded cuts from the end of the last frame.
  EXPECT_EQ(timeline.placeDriving(ms(3000), ms(40), true), ms(920));
  EXPECT_EQ(timeline.place(ms(2500), ms(10)), std::nullopt);
  // A pause whose instant is unknown pauses at the end of the last frame.
  timeline.pause(kCMTimeInvalid);
  EXPECT_EQ(timeline.place(ms(3030), ms(20)),
            (Vistrel::PauseTimeline::Placement{ms(3030), ms(3040), ms(920)}));
  EXPECT_EQ(Vistrel::movedBack(ms(2000), ms(-5)), ms(2000)) << "a negative offset moves nothing";
}

class TimelineTest : public EngineTest {
protected:
  void screenFrame(std::int64_t milliseconds) {
    ASSERT_TRUE(stream->deliverAndWait(SCStreamOutputType::screen, frame(ms(milliseconds))));
  }
  void systemAudio(std::int64_t milliseconds) {
    ASSERT_TRUE(stream->deliverAndWait(SCStreamOutputType::audio, audioChunk(ms(milliseconds))));
  }
  // Resumes, then delivers the frame that completes the resume.
  void resumeWithFrame(std::int64_t milliseconds) {
    auto resumed = resumeAsync();
    EXPECT_EQ(resumed.wait_for(20ms), std::future_status::timeout) << "resume waits for a frame";
    screenFrame(milliseconds);
    ASSERT_EQ(resumed.wait_for(5s), std::future_status::ready);
    resumed.get();
  }

  std::shared_ptr<SimulatedStream> stream;
};

TEST_F(TimelineTest, PausesAreCutOutOfTheVideoTimelineExactly) {
  stream = startVideo(Target::screen, RecordingOptions(fields("/tmp/a.mp4", "1")), ms(10000));
  for (std::int64_t t = 10033; t <= 12000; t += 33) {
    screenFrame(t);
  }
  screenFrame(12000);
  recorder.pause();
  for (std::int64_t t = 12033; t < 20000; t += 500) {
    screenFrame(t);
  }
  resumeWithFrame(20000);
  screenFrame(20033);
  screenFrame(23000);
  recorder.pause();
  screenFrame(25000);
  resumeWithFrame(30000);
  screenFrame(30033);
  recorder.stop();

  const std::vector<CMTime> video = appendedTimes(MediaType::video);
  ASSERT_GE(video.size(), 6U);
  const std::vector<CMTime> tail(video.end() - 6, video.end());
  EXPECT_EQ(tail, (std::vector<CMTime>{ms(12000), ms(12000), ms(12033), ms(15000), ms(15000),
                                       ms(15033)}));
  for (const CMTime& time : video) {
    EXPECT_LE(CMTimeCompare(time, ms(15033)), 0) << "nothing captured while paused is written";
  }
  EXPECT_TRUE(writer()->misuses().empty());
}

TEST_F(TimelineTest, AudioStaysInSyncWithVideoAcrossTwoPauses) {
  auto options = fields("/tmp/a.mp4", "1");
  options.recordSystemAudio = true;
  stream = startVideo(Target::screen, RecordingOptions(options), ms(10000));
  // Captured together: a frame every 100 ms, 10 ms audio chunks.
  const auto capture = [&](std::int64_t from, std::int64_t to) {
    for (std::int64_t t = from; t < to; t += 10) {
      if (t % 100 == 0) {
        screenFrame(t);
      }
      systemAudio(t);
    }
  };
  capture(10000, 12000);
  screenFrame(12000);
  recorder.pause();
  capture(12010, 15000); // dropped
  auto resumed = resumeAsync();
  systemAudio(15000); // before the gap is known: not written with the old offset
  screenFrame(15050);
  resumed.get();
  capture(15060, 16000); // offset 3050
  screenFrame(16000);
  recorder.pause();
  capture(16010, 20000);
  resumed = resumeAsync();
  screenFrame(20000);
  resumed.get();
  capture(20010, 21000); // offset 3050 + 4000
  recorder.stop();

  const std::vector<CMTime> audio = appendedTimes(MediaType::audio);
  std::vector<CMTime> expected;
  for (std::int64_t t = 10000; t < 12000; t += 10) {
    expected.push_back(ms(t));
  }
  for (std::int64_t t = 15060; t < 16000; t += 10) {
    expected.push_back(ms(t - 3050));
  }
  for (std::int64_t t = 20010; t < 21000; t += 10) {
    expected.push_back(ms(t - 7050));
  }
  ASSERT_EQ(audio.size(), expected.size());
  for (std::size_t i = 0; i < audio.size(); ++i) {
    EXPECT_EQ(CMTimeCompare(audio[i], expected[i]), 0) << i;
  }
  // The video frame captured at 20.500 s sits where audio captured then sits.
  const std::vector<CMTime> video = appendedTimes(MediaType::video);
  EXPECT_NE(std::find_if(video.begin(), video.end(),
                         [](CMTime time) { return CMTimeCompare(time, ms(20500 - 7050)) == 0; }),
            video.end());
  EXPECT_TRUE(writer()->misuses().empty());
}

TEST_F(TimelineTest, AudioOnlyResumesWhereTheLastBufferEnded) {
  auto options = fields("/tmp/a.m4a", std::nullopt);
  options.recordSystemAudio = true;
  options.microphoneDeviceID = stereoMicrophone; // from the stream on 15.0
  auto started = startAsync(Target::audioOnly, RecordingOptions(options));
  stream = platform.waitForStream();
  ASSERT_TRUE(stream && stream->waitUntilStarted());
  deliverUntilStarted(started, [&] { systemAudio(1000); });
  for (std::int64_t t = 1000; t < 1100; t += 10) {
    systemAudio(t);
    stream->deliverAndWait(SCStreamOutputType::microphone, audioChunk(ms(t)));
  }
  recorder.pause();
  systemAudio(2000);
  auto resumed = resumeAsync();
  stream->deliverAndWait(SCStreamOutputType::microphone, audioChunk(ms(5000)));
  resumed.get();
  systemAudio(4990); // captured before the resumed stretch began: dropped
  systemAudio(5000);
  systemAudio(5010);
  recorder.stop();

  const auto system = appendedTimes(MediaType::audio, 0);
  const auto microphone = appendedTimes(MediaType::audio, 1);
  ASSERT_FALSE(microphone.empty());
  EXPECT_EQ(CMTimeCompare(microphone.back(), ms(1100)), 0) << "starts where 1.090 + 0.010 ended";
  ASSERT_GE(system.size(), 2U);
  EXPECT_EQ(CMTimeCompare(system[system.size() - 2], ms(1100)), 0);
  EXPECT_EQ(CMTimeCompare(system.back(), ms(1110)), 0);
  EXPECT_EQ(writer()->input(MediaType::video), nullptr);
}

TEST_F(TimelineTest, ResumeWithoutPauseShortensByOneFrameInterval) {
  stream = startVideo(Target::screen, RecordingOptions(fields("/tmp/a.mp4", "1")), ms(1000));
  screenFrame(1033);
  resumeWithFrame(1066);
  screenFrame(1099);
  recorder.stop();
  EXPECT_EQ(appendedTimes(MediaType::video),
            (std::vector<CMTime>{ms(1000), ms(1033), ms(1033), ms(1066)}));
}

TEST_F(TimelineTest, FirstFrameAfterAResumeIsWrittenEvenWhenUnchanged) {
  stream = startVideo(Target::screen, RecordingOptions(fields("/tmp/a.mp4", "1")), ms(1000));
  recorder.pause();
  auto resumed = resumeAsync();
  // The window did not change during the pause: the file must still show it
  // as it is now, from the resume on.
  stream->deliverAndWait(SCStreamOutputType::screen,
                         frame(ms(3000), Platform::SCFrameStatus::idle));
  resumed.get();
  stream->deliverAndWait(SCStreamOutputType::screen,
                         frame(ms(3050), Platform::SCFrameStatus::idle));
  for (const auto status : {Platform::SCFrameStatus::blank, Platform::SCFrameStatus::suspended}) {
    recorder.pause();
    resumed = resumeAsync();
    stream->deliverAndWait(SCStreamOutputType::screen, frame(ms(4000), status));
    resumed.get();
  }
  screenFrame(4100);
  recorder.stop();
  EXPECT_EQ(appendedTimes(MediaType::video), (std::vector<CMTime>{ms(1000), ms(1000), ms(1150)}))
      << "later idle frames, and blank or suspended ones, are not written";
}

// A tone in 25 ms buffers that never line up with the pauses: ten pauses and
// resumes lose no sample of the stretches recorded. Sound captured before a
// pause but delivered after it keeps its part up to the pause, and sound
// delivered before the frame that measures a resume keeps its part from it.
TEST_F(TimelineTest, TenPausesLoseNoSoundAtTheirBoundaries) {
  auto options = fields("/tmp/a.mp4", "1");
  options.recordSystemAudio = true;
  stream = startVideo(Target::screen, RecordingOptions(options), ms(10000));
  const auto tone = [&](std::int64_t start) {
    ASSERT_TRUE(stream->deliverAndWait(
        SCStreamOutputType::audio,
        makeAudioSample({.presentationTime = ms(start), .frameCount = 1200})));
  };
  std::int64_t expectedFrames = 0;
  std::int64_t lastStretch = 0;
  for (int stretch = 0; stretch <= 10; ++stretch) {
    const std::int64_t begin = 10000 + stretch * 4000; // each pause lasts 3 s
    const std::int64_t pause = begin + 1000;
    std::int64_t sound = begin;
    if (stretch > 0) {
      sound = begin - 15;
      auto resumed = resumeAsync();
      tone(sound); // straddles the resume, before the frame that measures it
      screenFrame(begin);
      ASSERT_EQ(resumed.wait_for(5s), std::future_status::ready);
      resumed.get();
      sound += 25;
    }
    for (std::int64_t frame = begin + 40; frame <= pause; frame += 40) {
      for (; sound + 25 <= frame; sound += 25) {
        tone(sound);
      }
      screenFrame(frame);
    }
    if (stretch == 10) {
      for (; sound < pause; sound += 25) {
        tone(sound); // the last buffer, which holds the stop's instant
      }
      lastStretch = sound - begin;
      expectedFrames += lastStretch * 48;
      break;
    }
    expectedFrames += (pause - begin) * 48;
    recorder.pause();
    tone(sound); // captured before the pause, delivered after it
    tone(sound + 25);
  }
  recorder.stop();

  const auto input = writer()->input(MediaType::audio, 0);
  ASSERT_TRUE(input);
  const CMTime end = *writer()->sessionEndTime();
  EXPECT_EQ(CMTimeCompare(end, ms(10000 + 10 * 1000 + lastStretch)), 0)
      << "ten stretches of one second, then the last to the stop: " << CMTimeGetSeconds(end);
  std::int64_t frames = 0;
  std::optional<CMTime> next;
  for (const AppendRecord& record : writer()->appends(*input)) {
    if (next) {
      EXPECT_EQ(CMTimeCompare(record.presentationTime, *next), 0)
          << "sound continues where it left off, at " << CMTimeGetSeconds(*next);
    }
    next = CMTimeAdd(record.presentationTime, record.duration);
    const CMTime kept =
        CMTimeSubtract(CMTimeCompare(*next, end) > 0 ? end : *next, record.presentationTime);
    frames += CMTimeConvertScale(kept, 48000).value;
  }
  EXPECT_EQ(frames, expectedFrames);
}

// A still window gives few frames: the file still ends at the stop, with the
// sound up to it.
TEST_F(TimelineTest, TheLastSoundBeforeAStopIsInTheFile) {
  auto options = fields("/tmp/a.mp4", "1");
  options.recordSystemAudio = true;
  stream = startVideo(Target::screen, RecordingOptions(options), ms(10000));
  for (std::int64_t t = 10000; t < 12000; t += 10) {
    systemAudio(t);
  }
  recorder.stop();

  ASSERT_TRUE(writer()->sessionEndTime());
  EXPECT_EQ(CMTimeCompare(*writer()->sessionEndTime(), ms(12000)), 0)
      << "the stop's instant, not the last frame";
  const std::vector<CMTime> sound = appendedTimes(MediaType::audio);
  ASSERT_FALSE(sound.empty());
  EXPECT_EQ(sound.back(), ms(11990));
  EXPECT_EQ(std::count_if(sound.begin(), sound.end(),
                          [](CMTime time) { return CMTimeCompare(time, ms(11900)) >= 0; }),
            10)
      << "the last 100 ms";
}

} // namespace
