#include "EngineFixture.h"

#include "Vistrel/PauseTimeline.h"

namespace {

using namespace EngineTesting;
using Vistrel::RecordingOptions;
using Vistrel::Target;

// Worked numbers, in milliseconds of capture time.
TEST(PauseTimeline, EachResumeCutsTheGapSinceTheLastDrivingSample) {
  Vistrel::PauseTimeline timeline;
  // Frames of 40 ms from 1000 to 1080: the timeline ends at 1120.
  for (const CMTimeValue start : {1000, 1040, 1080}) {
    EXPECT_EQ(timeline.placeDriving(ms(start), ms(40), false), kCMTimeZero);
  }
  EXPECT_EQ(timeline.end(), ms(1120));
  EXPECT_EQ(timeline.placeFollowing(ms(1110)), kCMTimeZero);

  // Paused; the first frame after the resume comes at 5000: 3880 ms are cut.
  EXPECT_EQ(timeline.placeDriving(ms(5000), ms(40), true), ms(3880));
  EXPECT_EQ(timeline.end(), ms(1160)) << "5000 - 3880 + 40";
  EXPECT_EQ(timeline.placeFollowing(ms(4990)), std::nullopt) << "sound of the pause";
  EXPECT_EQ(timeline.placeFollowing(ms(5010)), ms(3880));
  EXPECT_EQ(timeline.placeDriving(ms(4960), ms(40), false), std::nullopt)
      << "a frame captured during the pause, delivered late";
  EXPECT_EQ(timeline.placeDriving(ms(5040), ms(40), false), ms(3880));
  EXPECT_EQ(timeline.end(), ms(1200));

  // A second pause: resumed at 9000, the offset grows by 9000 - 3880 - 1200.
  EXPECT_EQ(timeline.placeDriving(ms(9000), ms(0), true), ms(7800));
  EXPECT_EQ(timeline.end(), ms(1200)) << "a sample without duration adds none";
  EXPECT_EQ(timeline.offset(), ms(7800));
}

TEST(PauseTimeline, AResumeBeforeAnyDrivingSampleMovesNothing) {
  Vistrel::PauseTimeline timeline;
  EXPECT_EQ(timeline.placeDriving(ms(2000), ms(40), true), kCMTimeZero);
  EXPECT_EQ(timeline.end(), std::nullopt) << "nothing to measure a later pause from";
  EXPECT_EQ(timeline.placeFollowing(ms(1990)), std::nullopt);
  EXPECT_EQ(timeline.placeDriving(ms(2040), ms(40), false), kCMTimeZero);
  EXPECT_EQ(timeline.end(), ms(2080));
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

} // namespace
