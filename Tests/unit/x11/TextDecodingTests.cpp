#include "Platform/Linux/X11/TextDecoding.h"

#include <gtest/gtest.h>

namespace Platform::Linux::X11 {
namespace {

const std::string replacement = "\xEF\xBF\xBD";

TEST(TextDecoding, Latin1BytesBecomeTheirCodePoints) {
  EXPECT_EQ(latin1ToUtf8("Caf\xE9 \xA9 \xFF"), "Caf\xC3\xA9 \xC2\xA9 \xC3\xBF");
  EXPECT_EQ(latin1ToUtf8("plain"), "plain");
}

TEST(TextDecoding, ValidUtf8PassesUnchanged) {
  const std::string text = "a \xC3\xA9 \xE2\x9C\x93 \xF0\x9F\x8E\xA5";
  EXPECT_EQ(repairUtf8(text), text);
}

struct BrokenUtf8 {
  const char* name;
  std::string input;
  std::string expected;
};

class Utf8Repair : public testing::TestWithParam<BrokenUtf8> {};

TEST_P(Utf8Repair, ReplacesEachInvalidSequenceOnce) {
  EXPECT_EQ(repairUtf8(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, Utf8Repair,
    testing::Values(BrokenUtf8{"strayContinuation", "a\x80z", "a" + replacement + "z"},
                    BrokenUtf8{"truncatedAtEnd", "ab\xE2\x9C", "ab" + replacement},
                    BrokenUtf8{"leadWithoutContinuation", "\xC3z", replacement + "z"},
                    BrokenUtf8{"overlongSlash", "\xC0\xAF", replacement},
                    BrokenUtf8{"surrogate", "\xED\xA0\x80", replacement},
                    BrokenUtf8{"beyondUnicode", "\xF4\x90\x80\x80", replacement},
                    BrokenUtf8{"invalidLeadByte", "\xFFok", replacement + "ok"},
                    BrokenUtf8{"latin1Mistaken", "Caf\xE9", "Caf" + replacement}),
    [](const auto& info) { return info.param.name; });

TEST(TextDecoding, TextEndsAtTheFirstNul) {
  EXPECT_EQ(decodeText({TextEncoding::utf8, std::string("Title\0junk", 10)}), "Title");
  EXPECT_EQ(decodeText({TextEncoding::latin1, std::string("T\xE9\0", 3)}), "T\xC3\xA9");
}

TEST(TextDecoding, CompoundTextDropsEscapesAndReadsTheRestAsLatin1) {
  EXPECT_EQ(decodeText({TextEncoding::compound, "a\x1B-Ab\xE9"}), "ab\xC3\xA9");
}

TEST(TextDecoding, UnknownEncodingIsUnreadable) {
  EXPECT_EQ(decodeText({TextEncoding::other, "bytes"}), std::nullopt);
}

TEST(TitleDecoding, PrefersNetWmNameAndFallsBackToWmName) {
  const TextProperty netWmName{TextEncoding::utf8, "Caf\xC3\xA9"};
  const TextProperty wmName{TextEncoding::latin1, "Old \xE9"};
  const TextProperty unreadable{TextEncoding::other, "?"};

  EXPECT_EQ(decodeTitle(netWmName, wmName), "Caf\xC3\xA9");
  EXPECT_EQ(decodeTitle(std::nullopt, wmName), "Old \xC3\xA9");
  EXPECT_EQ(decodeTitle(unreadable, wmName), "Old \xC3\xA9");
  EXPECT_EQ(decodeTitle(std::nullopt, std::nullopt), std::nullopt);
  EXPECT_EQ(decodeTitle(TextProperty{TextEncoding::utf8, ""}, wmName), "");
}

} // namespace
} // namespace Platform::Linux::X11
