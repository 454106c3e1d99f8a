#include "Recording.h"
#include "support/MediaProbe.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <fstream>
#include <sstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace WriterTests {

using namespace TestSupport;
namespace {

using namespace Platform;

std::string contentsOf(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

bool exists(const std::string& path) {
  struct stat status {};
  return ::lstat(path.c_str(), &status) == 0;
}

std::string creationError(const std::string& path) {
  try {
    writing().makeAssetWriter(path, AVFileType::mpeg4);
  } catch (const Error& error) {
    return error.localizedDescription();
  }
  return "no error";
}

TEST(WriterDestination, ExistingFileOrSymlinkIsRefusedAndLeftAlone) {
  ScratchDirectory directory;
  const std::string existing = directory.file("taken.mp4");
  std::ofstream(existing) << "precious";
  EXPECT_EQ(creationError(existing), "The file \u201C" + existing + "\u201D already exists.");
  EXPECT_EQ(contentsOf(existing), "precious");

  const std::string target = directory.file("target.txt");
  std::ofstream(target) << "also precious";
  const std::string link = directory.file("link.mp4");
  ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
  EXPECT_EQ(creationError(link), "The file \u201C" + link + "\u201D already exists.");
  EXPECT_EQ(contentsOf(target), "also precious");

  const std::string dangling = directory.file("dangling.mp4");
  ASSERT_EQ(::symlink(directory.file("nowhere.mp4").c_str(), dangling.c_str()), 0);
  EXPECT_EQ(creationError(dangling), "The file \u201C" + dangling + "\u201D already exists.");
  EXPECT_FALSE(exists(directory.file("nowhere.mp4")));

  EXPECT_NE(creationError(directory.file("missing/dir.mp4")).find("Could not create"),
            std::string::npos);
}

// The file is made when writing starts: a start that waits on the user, and
// a process killed meanwhile, leave nothing behind.
TEST(WriterDestination, TheFileIsMadeOnlyWhenWritingStartsAndNeverOverAnother) {
  ScratchDirectory directory;
  const std::string path = directory.file("unused.mov");
  {
    auto writer = writing().makeAssetWriter(path, AVFileType::quickTimeMovie);
    EXPECT_FALSE(exists(path)) << "nothing is made before writing starts";
    writer->finishWriting();
    EXPECT_EQ(writer->status(), AVAssetWriterStatus::cancelled);
    EXPECT_FALSE(writer->startWriting()) << "a finished writer never starts";
  }
  EXPECT_FALSE(exists(path));

  const std::string raced = directory.file("raced.m4a");
  auto writer = writing().makeAssetWriter(raced, AVFileType::appleM4A);
  ASSERT_TRUE(addInput(*writer, MediaType::audio, audioSettings(false, 2)));
  std::ofstream(raced) << "appeared meanwhile";
  EXPECT_FALSE(writer->startWriting());
  EXPECT_EQ(writer->status(), AVAssetWriterStatus::failed);
  EXPECT_EQ(contentsOf(raced), "appeared meanwhile");
}

// The child records in real time, reporting each second of media written,
// until it is killed.
[[noreturn]] void recordUntilKilled(const std::string& path, int reportPipe) {
  auto writer = writing().makeAssetWriter(path, AVFileType::mpeg4);
  auto audio = addInput(*writer, MediaType::audio, audioSettings(false, 2));
  auto video = addInput(*writer, MediaType::video, videoSettings(AVVideoCodecTypeH264, 64, 48));
  writer->startWriting();
  writer->startSessionAtSourceTime(seconds(0));
  for (int tick = 0; tick < 24 * 30; ++tick) {
    video->appendSampleBuffer(bgraFrame(64, 48, tick, seconds(tick / 24.0)));
    audio->appendSampleBuffer(audioBuffer({}, 2000, seconds(tick / 24.0)));
    if (tick % 24 == 23) {
      const char second = 1;
      (void)::write(reportPipe, &second, 1);
    }
    ::usleep(1'000'000 / 24);
  }
  ::_exit(3);
}

TEST(WriterDurability, FileOfAKilledRecordingPlaysUpToItsLastSeconds) {
  ScratchDirectory directory;
  const std::string path = directory.file("killed.mp4");
  int reports[2];
  ASSERT_EQ(::pipe(reports), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(reports[0]);
    recordUntilKilled(path, reports[1]);
  }
  ::close(reports[1]);
  int secondsRecorded = 0;
  char report = 0;
  while (secondsRecorded < 4 && ::read(reports[0], &report, 1) == 1) {
    ++secondsRecorded;
  }
  ::kill(child, SIGKILL);
  int status = 0;
  ::waitpid(child, &status, 0);
  ::close(reports[0]);
  ASSERT_TRUE(WIFSIGNALED(status));
  ASSERT_EQ(secondsRecorded, 4);

  const FileInfo file = probeFile(path);
  ASSERT_EQ(file.tracks.size(), 2U);
  for (int i = 0; i < 2; ++i) {
    EXPECT_GE(file.tracks[static_cast<std::size_t>(i)].end, 4.0 - 2.0) << "track " << i;
    EXPECT_EQ(decodeTrack(path, i).errors, 0);
  }
  EXPECT_GE(decodeTrack(path, 1).frames, 2 * 24);
}

// Runs `body` in a child process and returns its exit status; the body
// reports a failed check as a distinct exit code.
int inChild(const std::function<int()>& body) {
  const pid_t child = ::fork();
  if (child == 0) {
    ::_exit(body());
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
}

// A full disk, stood in for by a file size limit: the writer fails with a
// clear error, refuses appends and still finishes.
TEST(WriterFailure, WriteErrorFailsTheWriterAndFinishStillCompletes) {
  ScratchDirectory directory;
  const std::string path = directory.file("full.mov");
  const int result = inChild([&] {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{200'000, 200'000};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    auto writer = writing().makeAssetWriter(path, AVFileType::quickTimeMovie);
    auto video = addInput(*writer, MediaType::video,
                          videoSettings(AVVideoCodecTypeAppleProRes422, 256, 128));
    writer->startWriting();
    writer->startSessionAtSourceTime(seconds(0));
    for (int i = 0; i < 24 * 20 && writer->status() == AVAssetWriterStatus::writing; ++i) {
      appendWhenReady(*video, bgraFrame(256, 128, i, seconds(i / 24.0)), writer.get());
    }
    if (writer->status() != AVAssetWriterStatus::failed) {
      return 1;
    }
    if (video->isReadyForMoreMediaData() ||
        video->appendSampleBuffer(bgraFrame(256, 128, 0, seconds(100)))) {
      return 2;
    }
    writer->finishWriting();
    if (writer->status() != AVAssetWriterStatus::failed || !writer->error()) {
      return 3;
    }
    const std::string text = writer->error()->localizedDescription();
    if (text.find(path) == std::string::npos || text.find("File too large") == std::string::npos) {
      return 4;
    }
    // The code is what a program reads the cause from.
    const auto* system = dynamic_cast<const SystemError*>(writer->error().get());
    return system != nullptr && system->code() == EFBIG ? 0 : 5;
  });
  EXPECT_EQ(result, 0);
}

TEST(WriterFailure, RemovedFileFailsTheWriter) {
  ScratchDirectory directory;
  const std::string path = directory.file("removed.mp4");
  auto writer = writing().makeAssetWriter(path, AVFileType::mpeg4);
  auto video = addInput(*writer, MediaType::video, videoSettings(AVVideoCodecTypeH264, 64, 48));
  ASSERT_TRUE(writer->startWriting());
  writer->startSessionAtSourceTime(seconds(0));
  ASSERT_EQ(::unlink(path.c_str()), 0);
  for (int i = 0; i < 24 * 5 && writer->status() == AVAssetWriterStatus::writing; ++i) {
    appendWhenReady(*video, bgraFrame(64, 48, i, seconds(i / 24.0)), writer.get());
  }
  writer->finishWriting();
  ASSERT_EQ(writer->status(), AVAssetWriterStatus::failed);
  EXPECT_EQ(writer->error()->localizedDescription(),
            "The file \u201C" + path + "\u201D was removed while it was being written.");
}

// Appends made faster than the encoder can go are refused once the queue is
// full; they never block, and what was accepted is all written.
TEST(WriterInputs, FullQueueRefusesAppendsWithoutBlocking) {
  ScratchDirectory directory;
  const std::string path = directory.file("busy.mp4");
  auto writer = writing().makeAssetWriter(path, AVFileType::mpeg4);
  auto video = addInput(*writer, MediaType::video, videoSettings(AVVideoCodecTypeH264, 1280, 720));
  ASSERT_TRUE(writer->startWriting());
  writer->startSessionAtSourceTime(seconds(0));
  const auto frame = bgraFrame(1280, 720, 0, seconds(0));
  int accepted = 0;
  int refused = 0;
  bool sawNotReady = false;
  for (int i = 0; i < 60; ++i) {
    sawNotReady = sawNotReady || !video->isReadyForMoreMediaData();
    const auto retimed =
        frame->withNewTiming({{kCMTimeInvalid, seconds(i / 30.0), kCMTimeInvalid}});
    (video->appendSampleBuffer(retimed) ? accepted : refused)++;
  }
  EXPECT_GT(refused, 0);
  EXPECT_TRUE(sawNotReady);
  writer->finishWriting();
  ASSERT_EQ(writer->status(), AVAssetWriterStatus::completed);
  EXPECT_EQ(decodeTrack(path, 0).frames, accepted);
}

TEST(WriterLifecycle, FinishCompletesOnceAndRefusesLaterAppends) {
  ScratchDirectory directory;
  const std::string path = directory.file("once.m4a");
  auto writer = writing().makeAssetWriter(path, AVFileType::appleM4A);
  auto audio = addInput(*writer, MediaType::audio, audioSettings(false, 2));
  ASSERT_TRUE(writer->startWriting());
  EXPECT_FALSE(writer->startWriting());
  writer->startSessionAtSourceTime(seconds(0));
  EXPECT_TRUE(appendWhenReady(*audio, audioBuffer({}, 4800, seconds(0))));
  std::thread other([&] { writer->finishWriting(); });
  writer->finishWriting();
  other.join();
  EXPECT_EQ(writer->status(), AVAssetWriterStatus::completed);
  const auto size = contentsOf(path).size();
  writer->finishWriting();
  EXPECT_FALSE(audio->appendSampleBuffer(audioBuffer({}, 4800, seconds(1))));
  EXPECT_EQ(contentsOf(path).size(), size);
}

} // namespace
} // namespace WriterTests
