#include "Platform/Linux/Wayland/RestoreTokens.h"

#include "support/VirtualDesktop.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include <sys/stat.h>

namespace {

using Platform::Linux::Wayland::RestoreTokens;

// Points XDG_STATE_HOME and HOME somewhere of the test's own, and back.
class StateHome {
public:
  StateHome(const std::optional<std::string>& state, const std::optional<std::string>& home)
      : state_(saved("XDG_STATE_HOME")), home_(saved("HOME")) {
    set("XDG_STATE_HOME", state);
    set("HOME", home);
  }
  ~StateHome() {
    set("XDG_STATE_HOME", state_);
    set("HOME", home_);
  }

private:
  static std::optional<std::string> saved(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::optional<std::string>(value) : std::nullopt;
  }
  static void set(const char* name, const std::optional<std::string>& value) {
    if (value) {
      setenv(name, value->c_str(), 1);
    } else {
      unsetenv(name);
    }
  }
  std::optional<std::string> state_;
  std::optional<std::string> home_;
};

TEST(RestoreTokens, TheNewestTokenIsKeptPrivatelyAndDeletingItForgetsThePick) {
  TestSupport::TemporaryDirectory directory;
  const StateHome home(directory.path() + "/state/deeper", std::nullopt);
  const RestoreTokens picker("picker");
  EXPECT_EQ(picker.path(),
            directory.path() + "/state/deeper/tarsel-helper/screencast-picker.token");
  EXPECT_EQ(picker.load(), std::nullopt) << "nothing picked yet";

  picker.store("4f1e2a7c-0000-4000-8000-1234567890ab");
  EXPECT_EQ(picker.load(), "4f1e2a7c-0000-4000-8000-1234567890ab");
  struct stat kept {};
  ASSERT_EQ(::stat(picker.path().c_str(), &kept), 0);
  EXPECT_EQ(kept.st_mode & 0777, 0600U);
  ASSERT_EQ(::stat((directory.path() + "/state/deeper/tarsel-helper").c_str(), &kept), 0);
  EXPECT_EQ(kept.st_mode & 0777, 0700U);

  picker.store("second");
  EXPECT_EQ(picker.load(), "second") << "each start's token replaces the last";
  EXPECT_EQ(RestoreTokens("display").load(), std::nullopt) << "each kind of pick has its own";
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(directory.path() +
                                                              "/state/deeper/tarsel-helper"),
                          {}),
            1)
      << "no temporary file stays behind";

  picker.store(std::nullopt);
  EXPECT_FALSE(std::filesystem::exists(picker.path())) << "a portal that gave none forgets it";
  picker.store("third");
  std::filesystem::remove(picker.path());
  EXPECT_EQ(picker.load(), std::nullopt) << "deleting the file forgets the pick";
}

TEST(RestoreTokens, WhatIsNotATokenIsNeitherKeptNorSent) {
  TestSupport::TemporaryDirectory directory;
  const StateHome home(std::string("relative/state"), directory.path());
  const RestoreTokens picker("picker");
  EXPECT_EQ(picker.path(), directory.path() + "/.local/state/tarsel-helper/screencast-picker.token")
      << "a relative XDG_STATE_HOME is ignored, as the base directory rules say";

  for (const std::string& bad : {std::string(), std::string("two words"), std::string(2000, 'x'),
                                 std::string("new\nline")}) {
    picker.store(bad);
    EXPECT_EQ(picker.load(), std::nullopt) << bad.size();
  }
  std::filesystem::create_directories(directory.path() + "/.local/state/tarsel-helper");
  std::ofstream(picker.path()) << "\x01\x02 binary\n";
  EXPECT_EQ(picker.load(), std::nullopt) << "a damaged file is no token";

  const StateHome nowhere(std::nullopt, std::nullopt);
  const RestoreTokens homeless("picker");
  EXPECT_EQ(homeless.path(), "");
  homeless.store("kept-nowhere");
  EXPECT_EQ(homeless.load(), std::nullopt);
}

} // namespace
