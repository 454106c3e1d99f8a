#include "Recording.h"
#include "support/MediaProbe.h"

#include <gtest/gtest.h>

#include <cmath>

namespace WriterTests {

using namespace TestSupport;
namespace {

using namespace Platform;

constexpr double videoTick = 1.0 / 90000;

// Every packet but the last holds one full encoder frame and starts where the
// previous one ended.
void expectBackToBack(const TrackInfo& track) {
  ASSERT_GE(track.packetTimes.size(), 3U);
  const std::int64_t frame = track.packetTimes[1] - track.packetTimes[0];
  EXPECT_EQ(frame, 4096) << "Apple Lossless frames";
  for (std::size_t i = 1; i < track.packetTimes.size(); ++i) {
    ASSERT_EQ(track.packetTimes[i] - track.packetTimes[i - 1], frame) << "packet " << i;
  }
}

// Frames come at uneven times (idle frames are skipped upstream); the file
// keeps every time exactly and drops what would break the track's timing.
TEST(WriterTiming, VideoKeepsUnevenTimesAndDropsWhatWouldBreakThem) {
  ScratchDirectory directory;
  const std::string path = directory.file("uneven.mp4");
  auto writer = writing().makeAssetWriter(path, AVFileType::mpeg4);
  auto video = addInput(*writer, MediaType::video, videoSettings(AVVideoCodecTypeH264, 64, 48));
  ASSERT_TRUE(writer->startWriting());
  const double start = 77.123456789;
  writer->startSessionAtSourceTime(seconds(start));
  const double offsets[] = {-0.2, 0.0, 0.05, 0.3, 0.3 /* repeated */, 0.31, 0.25 /* backward */,
                            1.2,  2.0};
  int index = 0;
  for (double offset : offsets) {
    EXPECT_TRUE(appendWhenReady(*video, bgraFrame(64, 48, index++, seconds(start + offset))));
  }
  video->markAsFinished();
  writer->finishWriting();
  ASSERT_EQ(writer->status(), AVAssetWriterStatus::completed);

  const TrackInfo track = probeFile(path).tracks.at(0);
  const std::vector<double> expected = {0.0, 0.05, 0.3, 0.31, 1.2, 2.0};
  ASSERT_EQ(track.times.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_NEAR(track.times[i], expected[i], videoTick) << "frame " << i;
  }
  EXPECT_EQ(decodeTrack(path, 0).frames, 6);
}

// Video that starts after the session start keeps its place beside audio
// that starts at it: its first picture shows from the start; and its last
// picture, standing still until the audio ends, shows until the end: shown
// once more as a closing frame that lasts until then.
TEST(WriterTiming, LateVideoKeepsItsPlaceAndLastsAsLongAsTheAudio) {
  ScratchDirectory directory;
  const std::string path = directory.file("late.mov");
  auto writer = writing().makeAssetWriter(path, AVFileType::quickTimeMovie);
  auto audio = addInput(*writer, MediaType::audio, audioSettings(true, 2));
  auto video = addInput(*writer, MediaType::video, videoSettings(AVVideoCodecTypeH264, 64, 48));
  ASSERT_TRUE(writer->startWriting());
  writer->startSessionAtSourceTime(seconds(20));
  EXPECT_TRUE(appendWhenReady(*audio, audioBuffer({}, 48000, seconds(20))));
  EXPECT_TRUE(appendWhenReady(*video, bgraFrame(64, 48, 0, seconds(20.25))));
  EXPECT_TRUE(appendWhenReady(*video, bgraFrame(64, 48, 1, seconds(20.5))));
  writer->finishWriting();
  ASSERT_EQ(writer->status(), AVAssetWriterStatus::completed);
  const TrackInfo track = probeFile(path).tracks.at(1);
  ASSERT_EQ(track.times.size(), 3U);
  EXPECT_NEAR(track.times[0], 0.0, videoTick);
  EXPECT_NEAR(track.times[1], 0.5, videoTick);
  EXPECT_NEAR(track.times[2], 1.0 - 1.0 / 30, videoTick)
      << "the last picture again, a frame before the end";
  EXPECT_NEAR(track.duration, 1.0, videoTick) << "lasting until the audio ends";
  EXPECT_EQ(decodeTrack(path, 1).errors, 0);
}

// Frames two seconds apart still get a key frame each time a second passed.
TEST(WriterTiming, KeyFrameAtLeastEverySecond) {
  ScratchDirectory directory;
  const std::string path = directory.file("keys.mov");
  auto writer = writing().makeAssetWriter(path, AVFileType::quickTimeMovie);
  OutputSettings settings = videoSettings(AVVideoCodecTypeH264, 64, 48);
  settings.emplace(AVVideoCompressionPropertiesKey,
                   OutputSettings{{AVVideoMaxKeyFrameIntervalKey, 1000}});
  auto video = addInput(*writer, MediaType::video, settings);
  ASSERT_TRUE(writer->startWriting());
  writer->startSessionAtSourceTime(seconds(0));
  for (int i = 0; i < 24 * 4; ++i) {
    EXPECT_TRUE(appendWhenReady(*video, bgraFrame(64, 48, i, seconds(i / 24.0))));
  }
  writer->finishWriting();
  ASSERT_EQ(writer->status(), AVAssetWriterStatus::completed);
  EXPECT_GE(probeFile(path).tracks.at(0).keyFrames, 4);
}

// Resampled, remixed input that is continuous gives a track whose packets
// follow each other sample for sample, with the input's length.
TEST(WriterTiming, ContinuousAudioStaysContinuousThroughTheResampler) {
  ScratchDirectory directory;
  const std::string path = directory.file("continuous.m4a");
  auto writer = writing().makeAssetWriter(path, AVFileType::appleM4A);
  auto audio = addInput(*writer, MediaType::audio, audioSettings(true, 2));
  ASSERT_TRUE(writer->startWriting());
  writer->startSessionAtSourceTime(seconds(10));
  const AudioShape shape{44100, 1, AudioSampleFormat::int16, 0.5};
  // 441 frames are 10 ms; the stamps carry a little capture jitter.
  for (int i = 0; i < 300; ++i) {
    const double jitter = (i % 3 - 1) * 0.002;
    EXPECT_TRUE(appendWhenReady(*audio, audioBuffer(shape, 441, seconds(10 + i * 0.01 + jitter))));
  }
  writer->finishWriting();
  ASSERT_EQ(writer->status(), AVAssetWriterStatus::completed);

  const TrackInfo track = probeFile(path).tracks.at(0);
  ASSERT_FALSE(track.packetTimes.empty());
  EXPECT_EQ(track.packetTimes.front(), 0);
  expectBackToBack(track);
  const DecodedTrack decoded = decodeTrack(path, 0);
  // Three seconds at 48 kHz, give or take the resampler's edge.
  EXPECT_NEAR(static_cast<double>(decoded.firstChannel.size()), 3 * 48000.0, 64);
}

std::size_t firstSoundAt(const std::vector<float>& samples, std::size_t from) {
  for (std::size_t i = from; i < samples.size(); ++i) {
    if (std::fabs(samples[i]) > 0.05F) {
      return i;
    }
  }
  return samples.size();
}

std::size_t firstSilenceAt(const std::vector<float>& samples, std::size_t from) {
  std::size_t quietRun = 0;
  for (std::size_t i = from; i < samples.size(); ++i) {
    quietRun = std::fabs(samples[i]) < 1e-4F ? quietRun + 1 : 0;
    if (quietRun == 240) {
      return i + 1 - quietRun;
    }
  }
  return samples.size();
}

// Audio that starts late and pauses keeps its place on the timeline: the
// track starts at the session start and the sound lands where it was stamped.
TEST(WriterTiming, AudioFollowsPresentationTimesAcrossGaps) {
  ScratchDirectory directory;
  const std::string path = directory.file("gaps.mov");
  auto writer = writing().makeAssetWriter(path, AVFileType::quickTimeMovie);
  auto audio = addInput(*writer, MediaType::audio, audioSettings(true, 1));
  ASSERT_TRUE(writer->startWriting());
  writer->startSessionAtSourceTime(seconds(3));
  const AudioShape shape{48000, 2, AudioSampleFormat::float32, 0.5};
  // Sound before the session start is cut off; from 0.5 s to 1.5 s, then
  // from 2.5 s to 3.0 s.
  EXPECT_TRUE(appendWhenReady(*audio, audioBuffer(shape, 4800, seconds(2.9))));
  for (int i = 0; i < 50; ++i) {
    EXPECT_TRUE(appendWhenReady(*audio, audioBuffer(shape, 960, seconds(3.5 + i * 0.02))));
  }
  for (int i = 0; i < 25; ++i) {
    EXPECT_TRUE(appendWhenReady(*audio, audioBuffer(shape, 960, seconds(5.5 + i * 0.02))));
  }
  writer->finishWriting();
  ASSERT_EQ(writer->status(), AVAssetWriterStatus::completed);

  const TrackInfo track = probeFile(path).tracks.at(0);
  EXPECT_EQ(track.packetTimes.front(), 0);
  expectBackToBack(track);
  const std::vector<float> samples = decodeTrack(path, 0).firstChannel;
  const std::size_t tolerance = 48; // one millisecond
  const std::size_t firstSound = firstSoundAt(samples, 0);
  EXPECT_NEAR(static_cast<double>(firstSound), 0.5 * 48000, tolerance + 8);
  const std::size_t pause = firstSilenceAt(samples, firstSound);
  EXPECT_NEAR(static_cast<double>(pause), 1.5 * 48000, tolerance);
  EXPECT_NEAR(static_cast<double>(firstSoundAt(samples, pause)), 2.5 * 48000, tolerance + 8);
  EXPECT_NEAR(static_cast<double>(samples.size()), 3.0 * 48000, tolerance);
}

// The AAC encoder's priming does not delay the sound against the timeline.
TEST(WriterTiming, CompressedAudioKeepsItsPlace) {
  ScratchDirectory directory;
  const std::string path = directory.file("aac.mp4");
  auto writer = writing().makeAssetWriter(path, AVFileType::mpeg4);
  auto audio = addInput(*writer, MediaType::audio, audioSettings(false, 2));
  ASSERT_TRUE(writer->startWriting());
  writer->startSessionAtSourceTime(seconds(0));
  const AudioShape shape{48000, 2, AudioSampleFormat::float32, 0.5};
  for (int i = 0; i < 50; ++i) {
    EXPECT_TRUE(appendWhenReady(*audio, audioBuffer(shape, 960, seconds(0.5 + i * 0.02))));
  }
  writer->finishWriting();
  ASSERT_EQ(writer->status(), AVAssetWriterStatus::completed);
  const std::vector<float> samples = decodeTrack(path, 0).firstChannel;
  // Within 5 ms: the transform smears an onset a little; priming is 21 ms.
  EXPECT_NEAR(static_cast<double>(firstSoundAt(samples, 0)), 0.5 * 48000, 240);
}

// A sample clock 300 ppm fast or slow against the stamps' clock: the track
// is stretched to meet the stamps, with nothing cut and no silence put in,
// so a mark stamped a minute in plays at its time.
TEST(WriterTiming, AudioFromADriftingSampleClockMeetsItsStampsWithoutABreak) {
  for (const double drift : {300e-6, -300e-6}) {
    SCOPED_TRACE(drift > 0 ? "stamps run slow" : "stamps run fast");
    ScratchDirectory directory;
    const std::string path = directory.file("drift.m4a");
    auto writer = writing().makeAssetWriter(path, AVFileType::appleM4A);
    auto audio = addInput(*writer, MediaType::audio, audioSettings(true, 1));
    ASSERT_TRUE(writer->startWriting());
    writer->startSessionAtSourceTime(seconds(0));
    // A quiet tone throughout; every 5 s one loud buffer marks the time.
    const AudioShape quiet{48000, 1, AudioSampleFormat::float32, 0.02};
    const AudioShape loud{48000, 1, AudioSampleFormat::float32, 0.5};
    const double stampedLength = 0.02 * (1 + drift); // of 960 frames
    const int buffers = 3000;
    for (int i = 0; i < buffers; ++i) {
      ASSERT_TRUE(appendWhenReady(
          *audio, audioBuffer(i % 250 == 125 ? loud : quiet, 960, seconds(i * stampedLength))));
    }
    writer->finishWriting();
    ASSERT_EQ(writer->status(), AVAssetWriterStatus::completed);

    const std::vector<float> samples = decodeTrack(path, 0).firstChannel;
    EXPECT_EQ(firstSilenceAt(samples, 0), samples.size()) << "silence was put in";
    const double withinMs = 1.5 * 48;
    std::size_t from = 0;
    for (int mark = 125; mark < buffers; mark += 250) {
      const std::size_t onset = firstSoundAt(samples, from);
      EXPECT_NEAR(static_cast<double>(onset), mark * stampedLength * 48000, withinMs)
          << "mark at buffer " << mark;
      from = onset + 960;
    }
    EXPECT_NEAR(static_cast<double>(samples.size()), buffers * stampedLength * 48000, withinMs);
  }
}

// A buffer that repeats audio already written is trimmed, not written twice.
TEST(WriterTiming, OverlappingAudioIsTrimmed) {
  ScratchDirectory directory;
  const std::string path = directory.file("overlap.m4a");
  auto writer = writing().makeAssetWriter(path, AVFileType::appleM4A);
  auto audio = addInput(*writer, MediaType::audio, audioSettings(true, 2));
  ASSERT_TRUE(writer->startWriting());
  writer->startSessionAtSourceTime(seconds(0));
  const AudioShape shape{48000, 2, AudioSampleFormat::float32, 0.5};
  EXPECT_TRUE(appendWhenReady(*audio, audioBuffer(shape, 48000, seconds(0))));
  EXPECT_TRUE(appendWhenReady(*audio, audioBuffer(shape, 48000, seconds(0.5))));
  EXPECT_TRUE(appendWhenReady(*audio, audioBuffer(shape, 4800, seconds(0.2))));
  writer->finishWriting();
  ASSERT_EQ(writer->status(), AVAssetWriterStatus::completed);
  EXPECT_NEAR(static_cast<double>(decodeTrack(path, 0).firstChannel.size()), 1.5 * 48000, 48);
}

} // namespace
} // namespace WriterTests
