#include "Platform/Linux/System/Bundles.h"

#include "support/VirtualDesktop.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;
using Platform::Linux::System::bundleAtPath;
using Platform::Linux::System::bundleOfExecutable;
using TestSupport::TemporaryDirectory;

void writePlist(const fs::path& path, const std::string& identifier) {
  fs::create_directories(path.parent_path());
  std::ofstream(path) << "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict>"
                         "<key>CFBundleIdentifier</key><string>"
                      << identifier << "</string></dict></plist>";
}

TEST(Bundles, ExecutableInsideAnApplicationBundleTakesItsIdentifier) {
  const TemporaryDirectory root;
  const fs::path app = fs::path(root.path()) / "Meeting Recorder.app";
  writePlist(app / "Contents" / "Info.plist", "com.example.recorder");
  const fs::path helpers = app / "Contents" / "Resources" / "bin";
  fs::create_directories(helpers);

  const auto bundle = bundleOfExecutable(helpers / "tarsel-helper");
  EXPECT_EQ(bundle.bundlePath, helpers.string());
  EXPECT_EQ(bundle.bundleIdentifier, "com.example.recorder");
}

TEST(Bundles, NearestApplicationWithAnInfoPlistWins) {
  const TemporaryDirectory root;
  const fs::path outer = fs::path(root.path()) / "Outer.app";
  writePlist(outer / "Contents" / "Info.plist", "com.example.outer");
  // An inner ".app" without Info.plist is only a folder name.
  const fs::path inner = outer / "Contents" / "Helpers" / "Inner.app" / "Contents" / "MacOS";
  fs::create_directories(inner);
  EXPECT_EQ(bundleOfExecutable(inner / "tool").bundleIdentifier, "com.example.outer");

  writePlist(outer / "Contents" / "Helpers" / "Inner.app" / "Contents" / "Info.plist",
             "com.example.inner");
  EXPECT_EQ(bundleOfExecutable(inner / "tool").bundleIdentifier, "com.example.inner");
}

TEST(Bundles, PlainInstallHasNoIdentifier) {
  const TemporaryDirectory root;
  const fs::path bin = fs::path(root.path()) / "usr" / "bin";
  fs::create_directories(bin);
  // An Info.plist next to a plain executable does not make it a bundle.
  writePlist(bin / "Info.plist", "com.example.stray");
  const auto bundle = bundleOfExecutable(bin / "tarsel-helper");
  EXPECT_EQ(bundle.bundlePath, bin.string());
  EXPECT_EQ(bundle.bundleIdentifier, std::nullopt);
}

TEST(Bundles, BundleAtPathNeedsAnExistingDirectory) {
  const TemporaryDirectory root;
  const fs::path resources = fs::path(root.path()) / "tarsel-helper_tarsel-helper.bundle";
  EXPECT_EQ(bundleAtPath(resources), std::nullopt);
  EXPECT_EQ(bundleAtPath(""), std::nullopt);

  fs::create_directories(resources);
  auto bundle = bundleAtPath(resources);
  ASSERT_TRUE(bundle);
  EXPECT_EQ(bundle->bundlePath, resources.string());
  EXPECT_EQ(bundle->bundleIdentifier, std::nullopt);

  writePlist(resources / "Info.plist", "com.example.resources");
  EXPECT_EQ(bundleAtPath(resources)->bundleIdentifier, "com.example.resources");
  writePlist(resources / "Contents" / "Info.plist", "com.example.contents");
  EXPECT_EQ(bundleAtPath(resources)->bundleIdentifier, "com.example.contents");

  const fs::path file = fs::path(root.path()) / "file";
  std::ofstream(file) << "not a directory";
  EXPECT_EQ(bundleAtPath(file), std::nullopt);
}

} // namespace
