#include "resource_bundle_accessor.h"

#include "Simulated/SimulatedPlatform.h"

#include <gtest/gtest.h>

#include <set>
#include <thread>

namespace {

using tarsel_helper::searchResourceBundle;

TEST(ResourceBundleSearch, TheCopyNextToTheMainBundleWinsOverTheBuildDirectory) {
  std::vector<std::string> tried;
  const auto opensBoth = [&tried](const std::string& path) -> std::optional<Platform::Bundle> {
    tried.push_back(path);
    return Platform::Bundle{path, std::nullopt};
  };
  const auto found = searchResourceBundle("/app/r.bundle", "/build/r.bundle", opensBoth);
  ASSERT_TRUE(found.bundle);
  EXPECT_EQ(found.bundle->bundlePath, "/app/r.bundle");
  EXPECT_EQ(tried, std::vector<std::string>{"/app/r.bundle"});
}

TEST(ResourceBundleSearch, FallsBackToTheBuildDirectoryThenNamesBothCandidates) {
  const auto onlyBuild = [](const std::string& path) -> std::optional<Platform::Bundle> {
    if (path == "/build/r.bundle") {
      return Platform::Bundle{path, std::nullopt};
    }
    return std::nullopt;
  };
  EXPECT_EQ(searchResourceBundle("/app/r.bundle", "/build/r.bundle", onlyBuild).bundle->bundlePath,
            "/build/r.bundle");
  const auto none = searchResourceBundle("/app/r.bundle", "/build/r.bundle",
                                         [](const std::string&) { return std::nullopt; });
  EXPECT_FALSE(none.bundle);
  EXPECT_EQ(none.failureMessage,
            "could not load resource bundle: from /app/r.bundle or /build/r.bundle");
}

TEST(ResourceBundle, FirstReadsFromManyThreadsSearchOnceAndShareTheBundle) {
  Platform::Simulated::SimulatedPlatform platform;
  platform.setMainBundle(Platform::Bundle{"/opt/Tarsel.app", "com.example.tarsel"});
  platform.addBundle(
      Platform::Bundle{"/opt/Tarsel.app/tarsel-helper_tarsel-helper.bundle", std::nullopt});
  Platform::install(platform.services());

  std::vector<const Platform::Bundle*> seen(8);
  std::vector<std::thread> readers;
  for (auto& slot : seen) {
    readers.emplace_back([&slot] { slot = &tarsel_helper::ResourceBundle::module(); });
  }
  for (auto& reader : readers) {
    reader.join();
  }
  EXPECT_EQ(std::set<const Platform::Bundle*>(seen.begin(), seen.end()).size(), 1U);
  EXPECT_EQ(seen.front()->bundlePath, "/opt/Tarsel.app/tarsel-helper_tarsel-helper.bundle");
}

TEST(ResourceBundleDeathTest, NoBundleStopsTheProcessWithTheFatalMessage) {
  // A fresh process: the bundle of this one may already have been found.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        Platform::Simulated::SimulatedPlatform platform;
        platform.setMainBundle(Platform::Bundle{"/nowhere", std::nullopt});
        Platform::install(platform.services());
        tarsel_helper::ResourceBundle::module();
      },
      "tarsel_helper/resource_bundle_accessor:12: .*could not load resource bundle: from "
      "/nowhere/tarsel-helper_tarsel-helper.bundle or /.*/tarsel-helper_tarsel-helper.bundle");
}

} // namespace
