#include "Simulated/SimulatedPlatform.h"

#include <gtest/gtest.h>

namespace Platform::Simulated {
namespace {

class RecordingWriterTest : public ::testing::Test {
protected:
  RecordingWriterTest() {
    writer = writing().makeAssetWriter("/tmp/out.mov", AVFileType::quickTimeMovie);
    audio = writing().makeAssetWriterInput(MediaType::audio, {{AVNumberOfChannelsKey, 2}});
    video = writing().makeAssetWriterInput(MediaType::video, {{AVVideoCodecKey, "avc1"}});
  }

  MediaWritingService& writing() { return *platform.services().mediaWriting; }
  SimulatedAssetWriter& simulated() { return *platform.writers().at(0); }

  void startAt(CMTime time) {
    for (const auto& input : {audio, video}) {
      ASSERT_TRUE(writer->canAddInput(input));
      writer->addInput(input);
    }
    ASSERT_TRUE(writer->startWriting());
    writer->startSessionAtSourceTime(time);
  }

  SimulatedPlatform platform;
  AssetWriterRef writer;
  AssetWriterInputRef audio;
  AssetWriterInputRef video;
};

TEST_F(RecordingWriterTest, RecordsTheTimelineOfEveryInput) {
  startAt(CMTimeMake(10, 1));

  EXPECT_TRUE(video->appendSampleBuffer(
      makeVideoSample({.presentationTime = CMTimeMake(10, 1), .duration = CMTimeMake(1, 24)})));
  EXPECT_TRUE(audio->appendSampleBuffer(makeAudioSample({.presentationTime = CMTimeMake(10, 1)})));
  video->markAsFinished();
  audio->markAsFinished();
  writer->finishWriting();

  const auto appends = simulated().appends();
  ASSERT_EQ(appends.size(), 2U);
  EXPECT_EQ(appends[0].inputIndex, 1U);
  EXPECT_EQ(appends[0].mediaType, MediaType::video);
  EXPECT_EQ(appends[0].presentationTime, CMTimeMake(10, 1));
  EXPECT_EQ(appends[0].duration, CMTimeMake(1, 24));
  EXPECT_EQ(appends[1].mediaType, MediaType::audio);
  EXPECT_EQ(appends[1].duration, CMTimeMake(480, 48000));
  EXPECT_EQ(simulated().appends(*audio).size(), 1U);
  EXPECT_EQ(simulated().sessionStartTime(), CMTimeMake(10, 1));
  EXPECT_EQ(writer->status(), AVAssetWriterStatus::completed);
  EXPECT_TRUE(simulated().misuses().empty());
  EXPECT_TRUE(platform.callLog().isBefore("input.markAsFinished(video)", "writer.finishWriting"));
}

TEST_F(RecordingWriterTest, RefusesAppendsAsARealWriterDoesAndRecordsTheMisuse) {
  writer->addInput(video);
  EXPECT_FALSE(video->appendSampleBuffer(makeVideoSample({}))) << "before startWriting";
  ASSERT_TRUE(writer->startWriting());
  EXPECT_FALSE(video->appendSampleBuffer(makeVideoSample({}))) << "before the session start";
  writer->startSessionAtSourceTime(kCMTimeZero);

  platform.writers().at(0)->input(MediaType::video)->setReadyForMoreMediaData(false);
  EXPECT_FALSE(video->isReadyForMoreMediaData());
  EXPECT_FALSE(video->appendSampleBuffer(makeVideoSample({})));

  EXPECT_EQ(simulated().appends().size(), 0U);
  EXPECT_EQ(simulated().misuses().size(), 3U);
}

TEST_F(RecordingWriterTest, AFailureWhileWritingKeepsItsErrorAndRefusesLaterAppends) {
  startAt(kCMTimeZero);
  ASSERT_TRUE(video->appendSampleBuffer(makeVideoSample({})));

  simulated().failWriting(makeError(ErrorDomain::mediaWriting, -11800, "disk full"));

  EXPECT_FALSE(video->appendSampleBuffer(makeVideoSample({})));
  EXPECT_FALSE(video->isReadyForMoreMediaData());
  EXPECT_EQ(writer->status(), AVAssetWriterStatus::failed);
  EXPECT_EQ(writer->error()->localizedDescription(), "disk full");
  writer->finishWriting();
  EXPECT_EQ(writer->status(), AVAssetWriterStatus::failed) << "finishing does not mend it";
  EXPECT_TRUE(simulated().misuses().empty()) << "refusals of a failed writer are no misuse";
}

TEST_F(RecordingWriterTest, InjectedWriterFailures) {
  platform.refuseWriterInputAtCall(1);
  EXPECT_TRUE(writer->canAddInput(audio));
  EXPECT_FALSE(writer->canAddInput(video)) << "second call refused";
  EXPECT_TRUE(writer->canAddInput(video)) << "only that call";

  platform.refuseWriterInputs(MediaType::video, true);
  EXPECT_FALSE(writer->canAddInput(video));
  EXPECT_TRUE(writer->canAddInput(audio));

  platform.failStartWriting(makeError(ErrorDomain::mediaWriting, -11823, "cannot open"));
  EXPECT_FALSE(writer->startWriting());
  EXPECT_EQ(writer->status(), AVAssetWriterStatus::failed);
  EXPECT_EQ(writer->error()->localizedDescription(), "cannot open");

  platform.failAssetWriterCreation(makeError(ErrorDomain::mediaWriting, -11823, "exists"));
  EXPECT_THROW(writing().makeAssetWriter("/tmp/other.mov", AVFileType::quickTimeMovie), Error);
  EXPECT_EQ(platform.writers().size(), 1U);
}

TEST_F(RecordingWriterTest, FinishWritingCanFail) {
  platform.failFinishWriting(makeError(ErrorDomain::mediaWriting, -11800, "trailer"));
  startAt(kCMTimeZero);

  writer->finishWriting();

  EXPECT_EQ(writer->status(), AVAssetWriterStatus::failed);
  EXPECT_EQ(writer->error()->localizedDescription(), "trailer");
  EXPECT_EQ(simulated().finishWritingCount(), 1);
}

} // namespace
} // namespace Platform::Simulated
