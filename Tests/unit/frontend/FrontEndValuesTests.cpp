#include "file_url.h"
#include "permissions.h"
#include "recorder.h"

#include "Platform/SystemServices.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

TEST(TCCStatus, RawValuesAreExactAndCaseNamesArePrinted) {
  EXPECT_EQ(TCC::fromRawValue("Authorized"), TCCStatus::authorized);
  EXPECT_EQ(TCC::fromRawValue("Not determined"), TCCStatus::notDetermined);
  EXPECT_EQ(TCC::fromRawValue("authorized"), std::nullopt);
  EXPECT_EQ(TCC::fromRawValue("notDetermined"), std::nullopt);
  EXPECT_EQ(TCC::fromRawValue(""), std::nullopt);
  for (const auto status : {TCCStatus::authorized, TCCStatus::denied, TCCStatus::restricted,
                            TCCStatus::notDetermined}) {
    EXPECT_EQ(TCC::fromRawValue(TCC::rawValue(status)), status);
  }
  EXPECT_EQ(TCC::caseName(TCCStatus::notDetermined), "notDetermined");
  EXPECT_EQ(TCC::rawValue(TCCStatus::notDetermined), "Not determined");
}

TEST(Permissions, SettingsLinksFormURLsAndOddTextDoesNot) {
  EXPECT_TRUE(Permissions::formsURL(Platform::microphoneSettingsLink));
  EXPECT_TRUE(Permissions::formsURL(Platform::screenRecordingSettingsLink));
  EXPECT_FALSE(Permissions::formsURL(""));
  EXPECT_FALSE(Permissions::formsURL("no scheme"));
  EXPECT_FALSE(Permissions::formsURL(":empty-scheme"));
  EXPECT_FALSE(Permissions::formsURL("1http:x"));
  EXPECT_FALSE(Permissions::formsURL("x-apple:with blank"));
}

TEST(FileURL, AbsolutePathsArePercentEncodedAsFileURLs) {
  EXPECT_EQ(App::fileURLText("/tmp/out.mp4"), "file:///tmp/out.mp4");
  EXPECT_EQ(App::fileURLText("/tmp/weekly sync.mp4"), "file:///tmp/weekly%20sync.mp4");
  EXPECT_EQ(App::fileURLText("/tmp/a#b?c%d.mov"), "file:///tmp/a%23b%3Fc%25d.mov");
  EXPECT_EQ(App::fileURLText("/tmp/Café.mp4"), "file:///tmp/Caf%C3%A9.mp4");
  EXPECT_EQ(App::fileURLText("/tmp/dir/"), "file:///tmp/dir/");
}

TEST(FileURL, RelativePathsAreTakenFromTheWorkingDirectory) {
  const std::string base = std::filesystem::current_path().string();
  EXPECT_EQ(App::fileURLText("out.mp4"), App::fileURLText(base + "/out.mp4"));
}

TEST(DisplayTitle, ApplicationAndTitleAroundABarEachEmptyWhenAbsent) {
  EXPECT_EQ(App::displayTitle("Meet", "Standup"), "Meet | Standup");
  EXPECT_EQ(App::displayTitle("Meet", std::nullopt), "Meet | ");
  EXPECT_EQ(App::displayTitle(std::nullopt, "Standup"), " | Standup");
  EXPECT_EQ(App::displayTitle(std::nullopt, std::nullopt), " | ");
}

} // namespace
