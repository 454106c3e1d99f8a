#include "Platform/Linux/System/DetachedProcess.h"

#include "support/VirtualDesktop.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace {

namespace fs = std::filesystem;
using Platform::Linux::System::findProgram;
using Platform::Linux::System::startDetached;
using TestSupport::TemporaryDirectory;

void makeProgram(const fs::path& path, bool executable) {
  std::ofstream(path) << "#!/bin/sh\n";
  fs::permissions(path, executable ? fs::perms::owner_all : fs::perms::owner_read);
}

// The contents of `path` once a line has been written to it, or "" after a
// generous wait.
std::string waitForContents(const fs::path& path) {
  for (int attempt = 0; attempt < 500; ++attempt) {
    std::ifstream file(path);
    std::stringstream contents;
    contents << file.rdbuf();
    if (contents.str().find('\n') != std::string::npos) {
      return contents.str();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return {};
}

TEST(DetachedProcess, FindsExecutablesOnlyInAbsolutePathEntries) {
  const TemporaryDirectory root;
  const fs::path first = fs::path(root.path()) / "first";
  const fs::path second = fs::path(root.path()) / "second";
  fs::create_directories(first);
  fs::create_directories(second);
  makeProgram(first / "opener", false); // not executable: skipped
  makeProgram(second / "opener", true);
  fs::create_directories(first / "folder");

  const std::string searchPath = "relative::" + first.string() + ":" + second.string();
  EXPECT_EQ(findProgram("opener", searchPath), (second / "opener").string());
  EXPECT_EQ(findProgram("folder", searchPath), std::nullopt);
  EXPECT_EQ(findProgram("missing", searchPath), std::nullopt);
  EXPECT_EQ(findProgram("../second/opener", first.string()), std::nullopt);
  EXPECT_EQ(findProgram("", searchPath), std::nullopt);
}

TEST(DetachedProcess, StartsWithoutAShellInItsOwnSessionAndWithoutOurOutput) {
  const TemporaryDirectory root;
  const fs::path report = fs::path(root.path()) / "report";
  // One argument holding shell syntax reaches the program verbatim.
  ASSERT_TRUE(startDetached(
      {"/bin/sh", "-c",
       "echo \"$(readlink /proc/$$/fd/1) $(ps -o sid= -p $$ | tr -d ' ') $$ $1\" > \"$0\"",
       report.string(), "a b;c"}));
  const std::string contents = waitForContents(report);
  ASSERT_FALSE(contents.empty());

  std::istringstream fields(contents);
  std::string output;
  std::string session;
  std::string pid;
  fields >> output >> session >> pid;
  EXPECT_EQ(output, "/dev/null");
  EXPECT_EQ(session, pid); // it leads a session of its own
  EXPECT_NE(contents.find("a b;c"), std::string::npos);
}

TEST(DetachedProcess, RefusesWhatCannotBeStarted) {
  EXPECT_FALSE(startDetached({}));
  EXPECT_FALSE(startDetached({"sh", "-c", "true"})); // not an absolute path
  EXPECT_FALSE(startDetached({"/nonexistent/program"}));
}

} // namespace
