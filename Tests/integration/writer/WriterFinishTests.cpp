#include "Recording.h"
#include "support/MediaProbe.h"
#include "support/Subprocess.h"

#include "Platform/FFmpeg/HybridFinish.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

// A clean stop turns the fragmented recording into a plain movie in place;
// what other programs make of the result, and of every state on the way.

namespace {

using namespace TestSupport;
using namespace WriterTests;
using namespace Platform;
using namespace std::chrono_literals;

std::vector<std::uint8_t> contents(const std::string& path) {
  std::ifstream input(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(input), {}};
}

void store(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

// The types of the boxes that fill `bytes` from `offset` to `end`.
std::vector<std::string> boxTypes(const std::vector<std::uint8_t>& bytes, std::size_t offset,
                                  std::size_t end) {
  std::vector<std::string> types;
  while (offset + 8 <= end) {
    std::uint64_t size = 0;
    for (int i = 0; i < 4; ++i) {
      size = size << 8 | bytes[offset + static_cast<std::size_t>(i)];
    }
    types.emplace_back(reinterpret_cast<const char*>(&bytes[offset + 4]), 4);
    if (size == 1) {
      size = 0;
      for (int i = 8; i < 16; ++i) {
        size = size << 8 | bytes[offset + static_cast<std::size_t>(i)];
      }
    }
    if (size < 8) {
      break;
    }
    if (types.back() == "moov") {
      // What a demuxer finds inside the movie header.
      for (const auto& inside : boxTypes(bytes, offset + 8, offset + size)) {
        types.push_back("moov/" + inside);
      }
    }
    offset += size;
  }
  return types;
}

std::vector<std::string> boxTypes(const std::string& path) {
  const auto bytes = contents(path);
  return boxTypes(bytes, 0, bytes.size());
}

std::string tool(const std::string& command, const std::string& path) {
  return run({"/bin/sh", "-c", command + " \"$0\" 2>&1", path}, {}, 60s).output;
}

// `seconds` of sound and of 24 fps pictures through the real writer, as fast
// as it takes them; returns the number of pictures.
int record(const std::string& path, AVFileType fileType, int seconds, bool withVideo) {
  auto writer = writing().makeAssetWriter(path, fileType);
  auto sound = addInput(*writer, MediaType::audio, audioSettings(true, 2));
  AssetWriterInputRef video;
  if (withVideo) {
    video = addInput(*writer, MediaType::video, videoSettings(AVVideoCodecTypeH264, 64, 48));
  }
  EXPECT_TRUE(writer->startWriting());
  writer->startSessionAtSourceTime(WriterTests::seconds(100));
  int pictures = 0;
  for (int tick = 0; tick < seconds * 24; ++tick) {
    const double time = 100 + tick / 24.0;
    EXPECT_TRUE(appendWhenReady(*sound, audioBuffer({}, 2000, WriterTests::seconds(time))));
    if (video && appendWhenReady(*video, bgraFrame(64, 48, tick, WriterTests::seconds(time)))) {
      ++pictures;
    }
  }
  writer->endSessionAtSourceTime(WriterTests::seconds(100 + seconds));
  writer->finishWriting();
  EXPECT_EQ(writer->status(), AVAssetWriterStatus::completed);
  return pictures;
}

// A fragmented movie from the ffmpeg command line: the finish reads files it
// did not write itself too.
std::string fragmentedMovie(const ScratchDirectory& directory) {
  const std::string path = directory.file("fragmented.mp4");
  const RunResult made = run({"/usr/bin/ffmpeg",
                              "-nostdin",
                              "-v",
                              "error",
                              "-f",
                              "lavfi",
                              "-i",
                              "testsrc=duration=3:size=64x48:rate=24",
                              "-f",
                              "lavfi",
                              "-i",
                              "sine=duration=3",
                              "-c:v",
                              "libx264",
                              "-g",
                              "24",
                              "-c:a",
                              "alac",
                              "-movflags",
                              "empty_moov+frag_keyframe+default_base_moof",
                              path},
                             {}, 60s);
  EXPECT_EQ(made.status, 0) << made.output;
  return path;
}

TEST(WriterFinish, CleanStopLeavesAPlainMovieEveryToolReads) {
  struct Case {
    const char* name;
    AVFileType fileType;
    bool withVideo;
  };
  for (const Case& format : {Case{"movie.mp4", AVFileType::mpeg4, true},
                             Case{"movie.mov", AVFileType::quickTimeMovie, true},
                             Case{"sound.m4a", AVFileType::appleM4A, false}}) {
    ScratchDirectory directory;
    const std::string path = directory.file(format.name);
    const int pictures = record(path, format.fileType, 3, format.withVideo);

    std::vector<std::string> expected{"ftyp", "mdat", "moov", "moov/mvhd", "moov/trak"};
    if (format.withVideo) {
      expected.emplace_back("moov/trak");
    }
    auto found = boxTypes(path);
    found.erase(std::remove(found.begin(), found.end(), "moov/udta"), found.end());
    EXPECT_EQ(found, expected) << format.name << ": no fragments, no fragment index";

    EXPECT_EQ(decodingErrors(path), "") << format.name;
    const std::string frames =
        tool("ffprobe -v error -select_streams v -show_entries stream=nb_frames -of csv=p=0", path);
    if (format.withVideo) {
      EXPECT_EQ(frames, std::to_string(pictures) + "\n") << format.name << ": sample tables";
    }
    EXPECT_NE(tool("gst-discoverer-1.0", path).find("Duration: 0:00:03.0"), std::string::npos)
        << format.name;
    EXPECT_NE(tool("mediainfo", path).find("Duration                                 : 3 s"),
              std::string::npos)
        << format.name;
  }
}

TEST(WriterFinish, OneMinuteSeeksToItsMiddle) {
  ScratchDirectory directory;
  const std::string path = directory.file("minute.mp4");
  const int pictures = record(path, AVFileType::mpeg4, 60, true);
  EXPECT_EQ(pictures, 60 * 24);
  // The first picture read after seeking to 30 s: the key frame before it.
  const std::string seeked =
      tool("ffprobe -v error -read_intervals 30%+#1 -select_streams v -show_entries "
           "packet=pts_time -of csv=p=0",
           path);
  ASSERT_FALSE(seeked.empty());
  const double time = std::stod(seeked);
  EXPECT_GE(time, 29.0);
  EXPECT_LE(time, 30.05);
  const RunResult middle = run({"/usr/bin/gst-launch-1.0", "-q", "filesrc", "location=" + path, "!",
                                "qtdemux", "!", "fakesink"},
                               {}, 60s);
  EXPECT_EQ(middle.status, 0) << middle.output;
}

// Each step of the finish leaves a movie that plays in full: the fragmented
// one with an index box that readers skip, then the plain one.
TEST(WriterFinish, EveryStepLeavesAMovieThatPlays) {
  ScratchDirectory directory;
  const std::string path = fragmentedMovie(directory);
  const std::string before = tool("ffprobe -v error -count_packets -show_entries "
                                  "stream=nb_read_packets -of csv=p=0",
                                  path);

  FFmpeg::FragmentedMovieFile file(path);
  file.appendCompleteIndex();
  const std::string between = directory.file("between.mp4");
  std::filesystem::copy_file(path, between);
  const auto typesBetween = boxTypes(between);
  EXPECT_EQ(typesBetween.back(), "free") << "the index, still hidden";
  EXPECT_GT(std::count(typesBetween.begin(), typesBetween.end(), "moof"), 0);
  EXPECT_EQ(decodingErrors(between), "");

  file.revealPlainMovie();
  EXPECT_EQ(decodingErrors(path), "");
  const auto types = boxTypes(path);
  EXPECT_EQ(std::count(types.begin(), types.end(), "moof"), 0);
  EXPECT_EQ(std::count(types.begin(), types.end(), "moov/mvex"), 0);
  const std::string after = tool("ffprobe -v error -count_packets -show_entries "
                                 "stream=nb_read_packets -of csv=p=0",
                                 path);
  EXPECT_EQ(after, before) << "every packet of every track is still there";
}

// A torn or damaged file is refused with an error and left as it was; it
// never crashes the finish or makes it read outside what it read.
TEST(WriterFinish, TornOrDamagedFilesAreRefusedAndLeftAlone) {
  ScratchDirectory directory;
  const std::vector<std::uint8_t> whole = contents(fragmentedMovie(directory));
  ASSERT_GT(whole.size(), 1000U);
  const std::string path = directory.file("damaged.mp4");
  int refused = 0;
  for (std::size_t step = 0; step < whole.size(); step += whole.size() / 97 + 1) {
    std::vector<std::uint8_t> torn(whole.begin(), whole.begin() + static_cast<long>(step));
    std::vector<std::uint8_t> damaged = whole;
    damaged[step] ^= 0xA5;
    for (const auto* bytes : {&torn, &damaged}) {
      store(path, *bytes);
      if (FFmpeg::finishFragmentedMovie(path)) {
        ++refused;
        EXPECT_EQ(contents(path), *bytes) << "at byte " << step;
      }
    }
  }
  EXPECT_GT(refused, 50);
}

} // namespace
