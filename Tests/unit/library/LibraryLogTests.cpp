#include "Platform/FFmpeg/LibraryLog.h"
#include "Vistrel/Log.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

namespace {

using Vistrel::LogLevel;

class LibraryLogTest : public testing::Test {
protected:
  void SetUp() override {
    Platform::FFmpeg::routeLibraryLog();
    Vistrel::setLogSink([this](LogLevel level, std::string_view message) {
      received.emplace_back(level, std::string(message));
    });
  }
  void TearDown() override {
    Vistrel::setLogSink({});
    Vistrel::setLogLevel(LogLevel::warning);
  }
  std::vector<std::pair<LogLevel, std::string>> received;
};

TEST_F(LibraryLogTest, PiecesOfOneLineArriveAsOneMessage) {
  av_log(nullptr, AV_LOG_WARNING, "non-monotonic DTS %d", 12);
  EXPECT_TRUE(received.empty());
  av_log(nullptr, AV_LOG_WARNING, ", repaired\n");
  av_log(nullptr, AV_LOG_ERROR, "write failed\n");
  EXPECT_EQ(received, (std::vector<std::pair<LogLevel, std::string>>{
                          {LogLevel::warning, "FFmpeg: non-monotonic DTS 12, repaired"},
                          {LogLevel::error, "FFmpeg: write failed"}}));
}

TEST_F(LibraryLogTest, FollowsTheLibraryLevel) {
  av_log(nullptr, AV_LOG_INFO, "stream mapping\n");
  EXPECT_TRUE(received.empty());
  Vistrel::setLogLevel(LogLevel::debug);
  av_log(nullptr, AV_LOG_VERBOSE, "encoder opened\n");
  av_log(nullptr, AV_LOG_TRACE, "every packet\n");
  EXPECT_EQ(received, (std::vector<std::pair<LogLevel, std::string>>{
                          {LogLevel::debug, "FFmpeg: encoder opened"}}));
}

TEST(LibraryLogLevels, MapOntoTheLogLevels) {
  using Platform::FFmpeg::logLevelOfLibraryLevel;
  EXPECT_EQ(logLevelOfLibraryLevel(AV_LOG_PANIC), Platform::LogLevel::error);
  EXPECT_EQ(logLevelOfLibraryLevel(AV_LOG_FATAL), Platform::LogLevel::error);
  EXPECT_EQ(logLevelOfLibraryLevel(AV_LOG_ERROR), Platform::LogLevel::error);
  EXPECT_EQ(logLevelOfLibraryLevel(AV_LOG_WARNING), Platform::LogLevel::warning);
  EXPECT_EQ(logLevelOfLibraryLevel(AV_LOG_INFO), Platform::LogLevel::info);
  EXPECT_EQ(logLevelOfLibraryLevel(AV_LOG_VERBOSE), Platform::LogLevel::debug);
  EXPECT_EQ(logLevelOfLibraryLevel(AV_LOG_DEBUG), Platform::LogLevel::debug);
  EXPECT_EQ(logLevelOfLibraryLevel(AV_LOG_TRACE), std::nullopt);
}

} // namespace
