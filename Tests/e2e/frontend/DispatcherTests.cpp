#include "support/Subprocess.h"
#include "support/VirtualDesktop.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace {

using TestSupport::run;
using TestSupport::RunResult;

RunResult helper(std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), TARSEL_HELPER);
  // No desktop at all: the dispatcher must answer without one.
  return run(arguments, {{"DISPLAY", ""}, {"PULSE_SERVER", "unix:/nonexistent"}});
}

TEST(Dispatcher, WithoutCommandWordPrintsTheUsageLine) {
  const RunResult result = helper({});
  EXPECT_EQ(result.output, "Usage: cli_tool <screens | start screenId>\n");
  EXPECT_EQ(result.status, 0);
}

TEST(Dispatcher, WordsThatAreNotCommandsAreRefused) {
  for (const std::string word : {"screens", "Meetings", "", "start ", "bundle-ID"}) {
    const RunResult result = helper({word});
    EXPECT_EQ(result.output, "Unknown command: " + word + "\n") << "word: '" << word << "'";
    EXPECT_EQ(result.status, 1) << "word: '" << word << "'";
  }
}

TEST(Dispatcher, StartWithTooFewArgumentsRecordsNothing) {
  TestSupport::TemporaryDirectory directory;
  const std::string file = directory.path() + "/out.mp4";
  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{"start"}, {"start", "1"}, {"start", "1", file}}) {
    const RunResult result = helper(arguments);
    EXPECT_EQ(result.output, "Missing screenId or file path for start\n");
    EXPECT_EQ(result.status, 1);
  }
  EXPECT_FALSE(std::filesystem::exists(file));
}

TEST(Dispatcher, ExtraArgumentsAreIgnored) {
  const RunResult plain = helper({"bundle-id"});
  const RunResult extra = helper({"bundle-id", "surplus", "more"});
  EXPECT_EQ(plain.status, 0);
  EXPECT_EQ(extra.output, plain.output);
  EXPECT_EQ(extra.status, plain.status);
}

TEST(Dispatcher, BundleIdentifierComesFromTheEnclosingApplicationBundle) {
  EXPECT_EQ(helper({"bundle-id"}).output, "No bundle ID found\n");

  TestSupport::TemporaryDirectory directory;
  const auto contents = std::filesystem::path(directory.path()) / "Meeting Recorder.app/Contents";
  std::filesystem::create_directories(contents / "MacOS");
  std::ofstream(contents / "Info.plist")
      << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
         "  <key>CFBundleIdentifier</key>\n  <string>com.example.meetings</string>\n"
         "</dict>\n</plist>\n";
  // The launcher and the programs it runs go together.
  const auto executable = contents / "MacOS/tarsel-helper";
  std::filesystem::copy_file(TARSEL_HELPER, executable);
  for (const char* program : {"tarsel-helper-main", "tarsel-helper-query"}) {
    std::filesystem::copy_file(std::filesystem::path(TARSEL_HELPER).parent_path() / program,
                               contents / "MacOS" / program);
  }

  const RunResult result = run({executable.string(), "bundle-id"});
  EXPECT_EQ(result.output, "Bundle ID: com.example.meetings\n");
  EXPECT_EQ(result.status, 0);
}

TEST(Dispatcher, ListingWithoutReachableDisplayFailsCleanly) {
  const RunResult result = helper({"meetings"});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.output.rfind("Unknown Error: ", 0), 0U) << result.output;
  EXPECT_GT(result.output.size(), std::string("Unknown Error: \n").size()) << "a reason follows";
}

} // namespace
