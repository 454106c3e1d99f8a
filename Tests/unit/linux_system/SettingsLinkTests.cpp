#include "Platform/Linux/System/SettingsLinks.h"
#include "Platform/SystemServices.h"

#include <gtest/gtest.h>

#include <set>

namespace {

using Platform::microphoneSettingsLink;
using Platform::screenRecordingSettingsLink;
using Platform::Linux::System::commandToOpen;
using Command = std::vector<std::string>;

auto installed(std::set<std::string> programs) {
  return [programs = std::move(programs)](const std::string& program) {
    return programs.count(program) > 0;
  };
}

TEST(SettingsLinks, PrivacyLinksOpenGnomeSettingsPages) {
  const auto gnome = installed({"gnome-control-center", "xdg-open"});
  EXPECT_EQ(commandToOpen(microphoneSettingsLink, "ubuntu:GNOME", gnome),
            (Command{"gnome-control-center", "sound"}));
  EXPECT_EQ(commandToOpen(screenRecordingSettingsLink, "GNOME", gnome),
            (Command{"gnome-control-center", "privacy"}));
}

TEST(SettingsLinks, KdePrefersItsOwnSettingsAndHasNoScreenCapturePage) {
  const auto both = installed({"gnome-control-center", "systemsettings5"});
  EXPECT_EQ(commandToOpen(microphoneSettingsLink, "KDE", both),
            (Command{"systemsettings5", "kcm_pulseaudio"}));
  // KDE has no screen-sharing page; GNOME's, when installed, is the one known.
  EXPECT_EQ(commandToOpen(screenRecordingSettingsLink, "KDE", both),
            (Command{"gnome-control-center", "privacy"}));
  EXPECT_EQ(commandToOpen(screenRecordingSettingsLink, "KDE", installed({"systemsettings"})),
            std::nullopt);
  // Elsewhere GNOME's settings come first.
  EXPECT_EQ(commandToOpen(microphoneSettingsLink, "XFCE", both),
            (Command{"gnome-control-center", "sound"}));
}

TEST(SettingsLinks, NothingInstalledOpensNothing) {
  EXPECT_EQ(commandToOpen(microphoneSettingsLink, "GNOME", installed({})), std::nullopt);
  EXPECT_EQ(commandToOpen("https://example.com", "GNOME", installed({})), std::nullopt);
}

TEST(SettingsLinks, WebAndFileUrlsGoToTheDesktopHandlerAsOneArgument) {
  const auto xdg = installed({"xdg-open"});
  EXPECT_EQ(commandToOpen("https://example.com/a b;rm -rf", "", xdg),
            (Command{"xdg-open", "https://example.com/a b;rm -rf"}));
  EXPECT_EQ(commandToOpen("HTTP://example.com", "", xdg),
            (Command{"xdg-open", "HTTP://example.com"}));
  EXPECT_EQ(commandToOpen("file:///tmp/x.mov", "", xdg),
            (Command{"xdg-open", "file:///tmp/x.mov"}));
}

TEST(SettingsLinks, OtherUrlsOpenNothing) {
  const auto everything = installed({"xdg-open", "gnome-control-center", "systemsettings"});
  for (const char* url : {"x-apple.systempreferences:com.apple.preference.security?Privacy_Camera",
                          "javascript:alert(1)", "-x", "", ":", "no scheme", "1http://x",
                          "x-apple.systempreferences"}) {
    EXPECT_EQ(commandToOpen(url, "GNOME", everything), std::nullopt) << url;
  }
}

} // namespace
