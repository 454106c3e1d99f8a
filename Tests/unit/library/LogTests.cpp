#include "Platform/Log.h"
#include "Vistrel/Log.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

using Vistrel::LogLevel;

// Collects what reaches the sink, and puts the defaults back afterwards.
class LogTest : public testing::Test {
protected:
  void SetUp() override {
    Vistrel::setLogSink([this](LogLevel level, std::string_view message) {
      std::lock_guard lock(mutex);
      received.emplace_back(level, std::string(message));
    });
  }
  void TearDown() override {
    Vistrel::setLogSink({});
    Vistrel::setLogLevel(LogLevel::warning);
  }

  std::vector<std::pair<LogLevel, std::string>> messages() {
    std::lock_guard lock(mutex);
    return received;
  }

  std::mutex mutex;
  std::vector<std::pair<LogLevel, std::string>> received;
};

TEST_F(LogTest, LevelFiltersBeforeTheSink) {
  // The default lets warnings and errors through.
  EXPECT_FALSE(Vistrel::isLogged(LogLevel::info));
  EXPECT_TRUE(Vistrel::isLogged(LogLevel::warning));
  Platform::log(Platform::LogLevel::debug, "d");
  Platform::log(Platform::LogLevel::info, "i");
  Platform::log(Platform::LogLevel::warning, "w");
  Platform::log(Platform::LogLevel::error, "e");
  EXPECT_EQ(messages(), (std::vector<std::pair<LogLevel, std::string>>{{LogLevel::warning, "w"},
                                                                       {LogLevel::error, "e"}}));

  Vistrel::setLogLevel(LogLevel::debug);
  Platform::log(Platform::LogLevel::debug, "d2");
  Vistrel::setLogLevel(LogLevel::error);
  Platform::log(Platform::LogLevel::warning, "w2");
  ASSERT_EQ(messages().size(), 3u);
  EXPECT_EQ(messages().back(), std::make_pair(LogLevel::debug, std::string("d2")));
}

TEST_F(LogTest, DefaultSinkWritesOneLineToStandardErrorOnly) {
  Vistrel::setLogSink({});
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  Platform::log(Platform::LogLevel::warning, "queue full, frame dropped");
  Platform::log(Platform::LogLevel::info, "not shown");
  const std::string err = testing::internal::GetCapturedStderr();
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(err, "Vistrel warning: queue full, frame dropped\n");
  EXPECT_EQ(out, "");
  EXPECT_TRUE(messages().empty());
}

TEST_F(LogTest, SinkMayLogAndReplaceItselfWithoutDeadlock) {
  std::vector<std::string> seen;
  Vistrel::setLogSink([&](LogLevel, std::string_view message) {
    seen.emplace_back(message);
    if (message == "first") {
      Vistrel::setLogSink([&](LogLevel, std::string_view inner) {
        seen.push_back("replaced: " + std::string(inner));
      });
      Platform::log(Platform::LogLevel::error, "from inside");
    }
  });
  Platform::log(Platform::LogLevel::error, "first");
  Platform::log(Platform::LogLevel::error, "second");
  EXPECT_EQ(seen, (std::vector<std::string>{"first", "replaced: from inside", "replaced: second"}));
}

TEST_F(LogTest, ConcurrentMessagesAllArriveWhole) {
  constexpr int threadCount = 4;
  constexpr int perThread = 200;
  std::vector<std::thread> threads;
  for (int t = 0; t < threadCount; ++t)
    threads.emplace_back([t] {
      for (int i = 0; i < perThread; ++i)
        Platform::log(Platform::LogLevel::warning,
                      "thread " + std::to_string(t) + " message " + std::to_string(i));
    });
  // Replacing the sink meanwhile must not lose or tear messages.
  std::atomic<int> replacedCount = 0;
  Vistrel::setLogSink([&](LogLevel level, std::string_view message) {
    ++replacedCount;
    std::lock_guard lock(mutex);
    received.emplace_back(level, std::string(message));
  });
  for (auto& thread : threads)
    thread.join();
  const auto all = messages();
  EXPECT_EQ(all.size(), static_cast<std::size_t>(threadCount * perThread));
  for (const auto& [level, text] : all)
    EXPECT_EQ(text.rfind("thread ", 0), 0u) << text;
}

TEST(LogLevelNames, AreTheLowerCaseCaseNames) {
  EXPECT_EQ(Vistrel::logLevelName(LogLevel::debug), "debug");
  EXPECT_EQ(Vistrel::logLevelName(LogLevel::info), "info");
  EXPECT_EQ(Vistrel::logLevelName(LogLevel::warning), "warning");
  EXPECT_EQ(Vistrel::logLevelName(LogLevel::error), "error");
}

} // namespace
