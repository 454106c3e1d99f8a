#include "Recording.h"
#include "support/MediaProbe.h"

#include <gtest/gtest.h>

namespace WriterTests {

using namespace TestSupport;
namespace {

using namespace Platform;

struct ContainerCase {
  const char* extension;
  AVFileType fileType;
  const char* videoCodec; // null for audio only
  bool lossless;
  AVCodecID expectedVideo;
  const char* expectedBrand;
};

std::string caseName(const testing::TestParamInfo<ContainerCase>& info) {
  std::string name = std::string(info.param.extension) + "_" +
                     (info.param.videoCodec ? info.param.videoCodec : "none") + "_" +
                     (info.param.lossless ? "alac" : "aac");
  std::replace(name.begin(), name.end(), ' ', '_');
  return name;
}

class ContainerAndCodec : public testing::TestWithParam<ContainerCase> {};

// A system-audio track (stereo float at 48 kHz), a microphone track (mono
// int16 at 44.1 kHz into a one-channel track) and, for movies, a video track:
// added in that order, one second of each, in a session that ends a second
// later. Tracks keep their order and names, all enabled, all lasting until
// the session's end.
TEST_P(ContainerAndCodec, WritesEveryTrackWithItsCodecAndLayout) {
  const ContainerCase& param = GetParam();
  ScratchDirectory directory;
  const std::string path = directory.file(std::string("out.") + param.extension);
  auto writer = writing().makeAssetWriter(path, param.fileType);
  auto systemAudio = addInput(*writer, MediaType::audio, audioSettings(param.lossless, 2));
  auto microphone = addInput(*writer, MediaType::audio, audioSettings(param.lossless, 1));
  AssetWriterInputRef video;
  if (param.videoCodec) {
    video = addInput(*writer, MediaType::video, videoSettings(param.videoCodec, 64, 48));
    ASSERT_TRUE(video);
  }
  ASSERT_TRUE(systemAudio && microphone);
  systemAudio->setTrackName("System audio");
  microphone->setTrackName("Microphone");
  ASSERT_TRUE(writer->startWriting());
  const CMTime start = seconds(1000);
  writer->startSessionAtSourceTime(start);
  for (int i = 0; i < 50; ++i) {
    EXPECT_TRUE(appendWhenReady(*systemAudio, audioBuffer({}, 960, seconds(1000 + i * 0.02))));
  }
  const AudioShape microphoneShape{44100, 1, AudioSampleFormat::int16, 0.5};
  for (int i = 0; i < 100; ++i) {
    EXPECT_TRUE(
        appendWhenReady(*microphone, audioBuffer(microphoneShape, 441, seconds(1000 + i * 0.01))));
  }
  for (int i = 0; video && i < 24; ++i) {
    EXPECT_TRUE(appendWhenReady(*video, bgraFrame(64, 48, i, seconds(1000 + i / 24.0))));
  }
  writer->endSessionAtSourceTime(seconds(1002));
  for (const auto& input : writer->inputs()) {
    input->markAsFinished();
  }
  writer->finishWriting();
  ASSERT_EQ(writer->status(), AVAssetWriterStatus::completed)
      << (writer->error() ? writer->error()->localizedDescription() : "");

  const FileInfo file = probeFile(path);
  for (const TrackInfo& track : file.tracks) {
    EXPECT_TRUE(track.isDefault);
    // FFmpeg leaves an undetermined language out of its report.
    EXPECT_TRUE(track.language.empty() || track.language == "und") << track.language;
    EXPECT_NEAR(track.duration, 2.0, param.lossless ? 0.001 : 0.03) << track.type;
  }
  EXPECT_EQ(file.majorBrand, param.expectedBrand);
  ASSERT_EQ(file.tracks.size(), param.videoCodec ? 3U : 2U);
  const AVCodecID audioCodec = param.lossless ? AV_CODEC_ID_ALAC : AV_CODEC_ID_AAC;
  for (int i = 0; i < 2; ++i) {
    const TrackInfo& audio = file.tracks[static_cast<std::size_t>(i)];
    EXPECT_EQ(audio.type, AVMEDIA_TYPE_AUDIO);
    EXPECT_EQ(audio.codec, audioCodec);
    EXPECT_EQ(audio.sampleRate, 48000);
    EXPECT_EQ(audio.channelCount, i == 0 ? 2 : 1);
    EXPECT_EQ(audio.name, i == 0 ? "System audio" : "Microphone");
    const DecodedTrack decoded = decodeTrack(path, i);
    EXPECT_EQ(decoded.errors, 0);
    // Two seconds, the second silent: AAC's priming takes the place of the
    // input's first samples, and its last frame is padded.
    EXPECT_NEAR(static_cast<double>(decoded.firstChannel.size()), 96000,
                param.lossless ? 16 : 1024);
  }
  if (param.videoCodec) {
    const TrackInfo& track = file.tracks[2];
    EXPECT_EQ(track.type, AVMEDIA_TYPE_VIDEO);
    EXPECT_EQ(track.codec, param.expectedVideo);
    EXPECT_EQ(track.width, 64);
    EXPECT_EQ(track.height, 48);
    // The still last picture again, a frame before the end.
    EXPECT_EQ(track.times.size(), 25U);
    EXPECT_NEAR(track.times.front(), 0.0, 1e-4);
    const DecodedTrack decoded = decodeTrack(path, 2);
    EXPECT_EQ(decoded.frames, 25);
    EXPECT_EQ(decoded.errors, 0);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Writer, ContainerAndCodec,
    testing::Values(
        ContainerCase{"m4a", AVFileType::appleM4A, nullptr, false, AV_CODEC_ID_NONE, "M4A "},
        ContainerCase{"m4a", AVFileType::appleM4A, nullptr, true, AV_CODEC_ID_NONE, "M4A "},
        ContainerCase{"mp4", AVFileType::mpeg4, AVVideoCodecTypeH264, false, AV_CODEC_ID_H264,
                      "iso5"},
        ContainerCase{"mp4", AVFileType::mpeg4, AVVideoCodecTypeHEVC, true, AV_CODEC_ID_HEVC,
                      "iso5"},
        ContainerCase{"m4v", AVFileType::appleM4V, AVVideoCodecTypeH264, true, AV_CODEC_ID_H264,
                      "M4V "},
        ContainerCase{"mov", AVFileType::quickTimeMovie, AVVideoCodecTypeH264, true,
                      AV_CODEC_ID_H264, "qt  "},
        ContainerCase{"mov", AVFileType::quickTimeMovie, AVVideoCodecTypeAppleProRes422, false,
                      AV_CODEC_ID_PRORES, "qt  "},
        ContainerCase{"mov", AVFileType::quickTimeMovie, AVVideoCodecTypeAppleProRes4444, true,
                      AV_CODEC_ID_PRORES, "qt  "}),
    caseName);

// The settings a recording of a 2940 x 1912 display builds: the assistant's
// preset, then the frame's own size.
TEST(WriterVideo, FrameSizeOverridesThePresetSize) {
  auto assistant = writing().makeOutputSettingsAssistant(AVOutputSettingsPreset3840x2160);
  ASSERT_TRUE(assistant);
  assistant->setSourceVideoFormat(
      writing().makeVideoFormatDescription(kCMVideoCodecType_H264, 2940, 1912));
  auto settings = assistant->videoSettings();
  ASSERT_TRUE(settings);
  const auto* compression = settings->at(AVVideoCompressionPropertiesKey).dictionary();
  ASSERT_NE(compression, nullptr);
  EXPECT_TRUE(compression->contains(AVVideoAverageBitRateKey));
  settings->insert_or_assign(AVVideoWidthKey, 2940);
  settings->insert_or_assign(AVVideoHeightKey, 1912);

  ScratchDirectory directory;
  const std::string path = directory.file("large.mp4");
  auto writer = writing().makeAssetWriter(path, AVFileType::mpeg4);
  auto video = addInput(*writer, MediaType::video, *settings);
  ASSERT_TRUE(video);
  ASSERT_TRUE(writer->startWriting());
  writer->startSessionAtSourceTime(seconds(5));
  for (int i = 0; i < 3; ++i) {
    EXPECT_TRUE(appendWhenReady(*video, bgraFrame(2940, 1912, i, seconds(5 + i * 0.1))));
  }
  writer->finishWriting();
  ASSERT_EQ(writer->status(), AVAssetWriterStatus::completed);
  const FileInfo file = probeFile(path);
  ASSERT_EQ(file.tracks.size(), 1U);
  EXPECT_EQ(file.tracks[0].width, 2940);
  EXPECT_EQ(file.tracks[0].height, 1912);
  EXPECT_EQ(file.tracks[0].profile, FF_PROFILE_H264_HIGH);
  EXPECT_EQ(decodeTrack(path, 0).frames, 3);
}

struct ColourCase {
  const char* codec;
  bool tenBitFrames;
  AVPixelFormat expectedFormat;
  AVColorPrimaries expectedPrimaries;
  std::uint32_t expectedTag;
};

class ColourTags : public testing::TestWithParam<ColourCase> {};

TEST_P(ColourTags, TrackCarriesTheDepthAndTagsOfItsSettings) {
  const ColourCase& param = GetParam();
  ScratchDirectory directory;
  const std::string path = directory.file("colour.mov");
  auto writer = writing().makeAssetWriter(path, AVFileType::quickTimeMovie);
  auto video = addInput(*writer, MediaType::video, videoSettings(param.codec, 96, 64));
  ASSERT_TRUE(video);
  ASSERT_TRUE(writer->startWriting());
  writer->startSessionAtSourceTime(seconds(1));
  for (int i = 0; i < 6; ++i) {
    const CMTime time = seconds(1 + i * 0.04);
    EXPECT_TRUE(appendWhenReady(*video, param.tenBitFrames ? l10rFrame(96, 64, i, time)
                                                           : bgraFrame(96, 64, i, time)));
  }
  writer->finishWriting();
  ASSERT_EQ(writer->status(), AVAssetWriterStatus::completed);
  const FileInfo file = probeFile(path);
  ASSERT_EQ(file.tracks.size(), 1U);
  const TrackInfo& track = file.tracks[0];
  EXPECT_EQ(track.format, param.expectedFormat);
  EXPECT_EQ(track.primaries, param.expectedPrimaries);
  EXPECT_EQ(track.transfer, AVCOL_TRC_BT709);
  EXPECT_EQ(track.matrix, AVCOL_SPC_BT709);
  EXPECT_EQ(track.tag, param.expectedTag);
  EXPECT_EQ(decodeTrack(path, 0).frames, 6);
}

INSTANTIATE_TEST_SUITE_P(Writer, ColourTags,
                         testing::Values(ColourCase{AVVideoCodecTypeH264, false, AV_PIX_FMT_YUV420P,
                                                    AVCOL_PRI_BT709, fourCC("avc1")},
                                         ColourCase{AVVideoCodecTypeH264, true, AV_PIX_FMT_YUV420P,
                                                    AVCOL_PRI_BT709, fourCC("avc1")},
                                         ColourCase{AVVideoCodecTypeHEVC, true,
                                                    AV_PIX_FMT_YUV420P10LE, AVCOL_PRI_SMPTE432,
                                                    fourCC("hvc1")}));

TEST(WriterInputs, WriterTakesOnlyInputsItsFileCanHold) {
  ScratchDirectory directory;
  auto audioOnly = writing().makeAssetWriter(directory.file("a.m4a"), AVFileType::appleM4A);
  EXPECT_FALSE(audioOnly->canAddInput(writing().makeAssetWriterInput(
      MediaType::video, videoSettings(AVVideoCodecTypeH264, 64, 48))));

  auto mp4 = writing().makeAssetWriter(directory.file("v.mp4"), AVFileType::mpeg4);
  EXPECT_FALSE(mp4->canAddInput(writing().makeAssetWriterInput(
      MediaType::video, videoSettings(AVVideoCodecTypeAppleProRes422, 64, 48))));
  EXPECT_FALSE(mp4->canAddInput(
      writing().makeAssetWriterInput(MediaType::video, OutputSettings{{AVVideoWidthKey, 64}})));
  EXPECT_FALSE(mp4->canAddInput(writing().makeAssetWriterInput(
      MediaType::audio, OutputSettings{{AVFormatIDKey, 1234},
                                       {AVSampleRateKey, 48000},
                                       {AVNumberOfChannelsKey, 2}})));

  auto shared = writing().makeAssetWriterInput(MediaType::audio, audioSettings(false, 2));
  ASSERT_TRUE(mp4->canAddInput(shared));
  mp4->addInput(shared);
  auto m4v = writing().makeAssetWriter(directory.file("v.m4v"), AVFileType::appleM4V);
  EXPECT_FALSE(m4v->canAddInput(shared)) << "an input belongs to one writer";
  EXPECT_FALSE(mp4->canAddInput(shared)) << "an input is added once";

  ASSERT_TRUE(mp4->startWriting());
  EXPECT_FALSE(
      mp4->canAddInput(writing().makeAssetWriterInput(MediaType::audio, audioSettings(false, 2))));
  EXPECT_EQ(mp4->inputs().size(), 1U);
}

} // namespace
} // namespace WriterTests
