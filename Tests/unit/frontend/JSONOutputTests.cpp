#include "json_output.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace {

using App::prettyPrintedJSONArray;

TEST(JSONOutput, ObjectsArePrettyPrintedWithSpacedColonsAndTwoBlankIndents) {
  EXPECT_EQ(prettyPrintedJSONArray(
                {{{"id", "42"}, {"title", "Meet | Standup"}}, {{"id", "7"}, {"title", " | "}}}),
            "[\n"
            "  {\n"
            "    \"id\" : \"42\",\n"
            "    \"title\" : \"Meet | Standup\"\n"
            "  },\n"
            "  {\n"
            "    \"id\" : \"7\",\n"
            "    \"title\" : \" | \"\n"
            "  }\n"
            "]");
}

TEST(JSONOutput, AnEmptyListIsAnEmptyArray) {
  EXPECT_EQ(nlohmann::json::parse(prettyPrintedJSONArray({})), nlohmann::json::array());
}

TEST(JSONOutput, TextFromOtherProgramsAlwaysGivesValidJSON) {
  const std::string invalidUTF8 = "bad \xC3\x28 and \xFF end";
  const std::vector<std::string> titles = {
      "He said \"hi\"", "C:\\path\\to", "tab\tnew\nline\x01\x1F",
      "Café ✓ 会议",    invalidUTF8,    std::string("nul\0inside", 10)};
  std::vector<App::JSONObject> objects;
  for (const auto& title : titles) {
    objects.push_back({{"id", "1"}, {"title", title}});
  }
  const auto parsed = nlohmann::json::parse(prettyPrintedJSONArray(objects));
  ASSERT_EQ(parsed.size(), titles.size());
  for (std::size_t i = 0; i + 1 < titles.size(); ++i) {
    if (titles[i] != invalidUTF8) {
      EXPECT_EQ(parsed[i]["title"], titles[i]);
    }
  }
  EXPECT_EQ(parsed[4]["title"], "bad \xEF\xBF\xBD( and \xEF\xBF\xBD end")
      << "repaired, not dropped";
  EXPECT_EQ(parsed[5]["title"], titles[5]);
}

} // namespace
