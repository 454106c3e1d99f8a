#include "Platform/Linux/System/InfoPlist.h"

#include <gtest/gtest.h>

namespace {

using Platform::Linux::System::bundleIdentifierFromPlist;

constexpr const char* header = R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
)";

std::string plist(const std::string& dictionary) {
  return std::string(header) + "<plist version=\"1.0\">\n<dict>\n" + dictionary +
         "</dict>\n</plist>\n";
}

TEST(InfoPlist, ReadsTheIdentifierAmongOtherKeysOfEveryKind) {
  const auto document = plist(R"(
  <key>CFBundleName</key><string>Meeting Recorder</string>
  <!-- a comment with <key>CFBundleIdentifier</key><string>wrong</string> -->
  <key>LSUIElement</key><true/>
  <key>CFBundleDocumentTypes</key>
  <array>
    <dict>
      <key>CFBundleIdentifier</key><string>nested.is.not.ours</string>
      <key>Empty</key><dict/>
    </dict>
  </array>
  <key>Version</key><integer>3</integer>
  <key>CFBundleIdentifier</key>
  <string>com.example.meeting-recorder</string>
)");
  EXPECT_EQ(bundleIdentifierFromPlist(document), "com.example.meeting-recorder");
}

TEST(InfoPlist, DecodesEntitiesAndCharacterData) {
  EXPECT_EQ(bundleIdentifierFromPlist(plist(
                "<key>CFBundleIdentifier</key><string>a&amp;b&#x2e;c&#46;&lt;d&gt;</string>")),
            "a&b.c.<d>");
  EXPECT_EQ(bundleIdentifierFromPlist(
                plist("<key>CFBundleIdentifier</key><string><![CDATA[x<y]]>.z</string>")),
            "x<y.z");
  EXPECT_EQ(
      bundleIdentifierFromPlist(plist("<key>CFBundleIdentifier</key><string>caf&#xE9;</string>")),
      "caf\xC3\xA9");
}

TEST(InfoPlist, AbsentWithoutAUsableIdentifier) {
  // No such key; an empty string; a value that is not a string.
  EXPECT_EQ(bundleIdentifierFromPlist(plist("<key>CFBundleName</key><string>x</string>")),
            std::nullopt);
  EXPECT_EQ(bundleIdentifierFromPlist(plist("<key>CFBundleIdentifier</key><string></string>")),
            std::nullopt);
  EXPECT_EQ(bundleIdentifierFromPlist(plist("<key>CFBundleIdentifier</key><integer>4</integer>")),
            std::nullopt);
  EXPECT_EQ(bundleIdentifierFromPlist(plist("<key>CFBundleIdentifier</key><string/>")),
            std::nullopt);
}

TEST(InfoPlist, MalformedDocumentsGiveNothingAndNeverReadPastTheEnd) {
  const std::string good = plist("<key>Other</key><array><string>1</string></array>"
                                 "<key>CFBundleIdentifier</key><string>com.example.app</string>");
  ASSERT_EQ(bundleIdentifierFromPlist(good), "com.example.app");
  // Every truncation of a valid document is handled, most giving nothing.
  for (std::size_t length = 0; length < good.size(); ++length) {
    const auto result = bundleIdentifierFromPlist(std::string_view(good).substr(0, length));
    if (result) {
      EXPECT_EQ(*result, "com.example.app") << "truncated at " << length;
    }
  }
  EXPECT_EQ(bundleIdentifierFromPlist("bplist00\x01\x02binary"), std::nullopt);
  EXPECT_EQ(bundleIdentifierFromPlist(""), std::nullopt);
  EXPECT_EQ(bundleIdentifierFromPlist("<plist><array><string>x</string></array></plist>"),
            std::nullopt);
  // Mismatched closing tags, unknown entities, a bad code point.
  EXPECT_EQ(bundleIdentifierFromPlist(
                plist("<key>A</key><array></dict><key>CFBundleIdentifier</key><string>x</string>")),
            std::nullopt);
  EXPECT_EQ(
      bundleIdentifierFromPlist(plist("<key>CFBundleIdentifier</key><string>&bogus;</string>")),
      std::nullopt);
  EXPECT_EQ(bundleIdentifierFromPlist(
                plist("<key>CFBundleIdentifier</key><string>&#xFFFFFFFFFF;</string>")),
            std::nullopt);
  EXPECT_EQ(bundleIdentifierFromPlist(plist("<key>CFBundleIdentifier</key><string>a</key>")),
            std::nullopt);
}

} // namespace
