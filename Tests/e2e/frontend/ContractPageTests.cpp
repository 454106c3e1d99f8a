#include "Platform/Error.h"
#include "Platform/PickerAnswers.h"
#include "support/Subprocess.h"
#include "support/VirtualDesktop.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>
#include <thread>

// The outcomes of "start" that the parent's page documents, read from the
// page itself and provoked one by one in the helper on the simulated
// platform with the real writer: the page cannot drift from the helper.

namespace {

using namespace std::chrono_literals;
using json = nlohmann::json;
using TestSupport::Subprocess;

// One documented line: a pattern, a signal the parent sends, or an empty line.
struct PageLine {
  enum class Type { text, signal, empty } type;
  std::string pattern; // for text: the line with its <placeholders>
};

struct PageRow {
  std::string outcome;
  std::vector<PageLine> output;
  std::vector<PageLine> error;
  int status = -1;
};

std::string trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(' ');
  const auto last = text.find_last_not_of(' ');
  return first == std::string::npos ? "" : text.substr(first, last - first + 1);
}

std::vector<std::string> split(const std::string& text, const std::string& separator) {
  std::vector<std::string> parts;
  std::size_t begin = 0;
  for (std::size_t at; (at = text.find(separator, begin)) != std::string::npos;
       begin = at + separator.size()) {
    parts.push_back(trimmed(text.substr(begin, at - begin)));
  }
  parts.push_back(trimmed(text.substr(begin)));
  return parts;
}

std::vector<PageLine> pageLines(const std::string& cell) {
  std::vector<PageLine> lines;
  if (cell.empty()) {
    return lines;
  }
  for (const std::string& item : split(cell, "<br>")) {
    if (item == "*empty line*") {
      lines.push_back({PageLine::Type::empty, ""});
    } else if (item.size() > 2 && item.front() == '*' && item.back() == '*') {
      lines.push_back({PageLine::Type::signal, item});
    } else if (item.size() > 2 && item.front() == '`' && item.back() == '`') {
      lines.push_back({PageLine::Type::text, item.substr(1, item.size() - 2)});
    } else {
      ADD_FAILURE() << "the page has a line that is neither quoted nor a step: " << item;
    }
  }
  return lines;
}

std::vector<PageRow> readPage() {
  std::ifstream page(TARSEL_CONTRACT_PAGE);
  std::vector<PageRow> rows;
  bool inTable = false;
  for (std::string line; std::getline(page, line);) {
    if (line.rfind("| Outcome |", 0) == 0) {
      inTable = true;
    } else if (inTable && line.rfind("|---", 0) != 0) {
      if (line.rfind("|", 0) != 0) {
        break;
      }
      const auto cells = split(line.substr(1, line.size() - 2), "|");
      EXPECT_EQ(cells.size(), 4U) << line;
      if (cells.size() == 4) {
        rows.push_back({cells[0], pageLines(cells[1]), pageLines(cells[2]), std::stoi(cells[3])});
      }
    }
  }
  return rows;
}

// A documented line as a pattern: its text exactly, each <placeholder>
// standing for any text.
bool matches(const std::string& pattern, const std::string& line) {
  static const std::regex placeholder("<[^>]+>");
  std::string expression;
  std::sregex_token_iterator part(pattern.begin(), pattern.end(), placeholder, {-1, 0});
  for (; part != std::sregex_token_iterator(); ++part) {
    const std::string piece = *part;
    if (std::regex_match(piece, placeholder)) {
      expression += ".*";
    } else {
      for (const char character : piece) {
        if (std::string("\\^$.|?*+()[]{}").find(character) != std::string::npos) {
          expression += '\\';
        }
        expression += character;
      }
    }
  }
  return std::regex_match(line, std::regex(expression));
}

// What an outcome needs: the scenario's failures, the arguments, the file.
struct Provocation {
  json failures = json::object();
  std::string window = "42";
  std::string microphone = "mic-1";
  std::string fileName = "meeting.mp4";
  std::function<void(const std::string& file)> prepare = [](const std::string&) {};
};

json screenCaptureError(std::int64_t code, const std::string& description) {
  return {{"domain", Platform::ErrorDomain::screenCapture},
          {"code", code},
          {"description", description}};
}

std::map<std::string, Provocation> provocations() {
  std::map<std::string, Provocation> all;
  all["stopped"] = {};
  all["cancelled"].failures = {
      {"streamStart", screenCaptureError(Platform::userDeclinedScreenCaptureCode,
                                         Platform::pickCancelledDescription)}};
  all["denied"].failures = {
      {"shareableContent",
       screenCaptureError(Platform::userDeclinedScreenCaptureCode, "declined")}};
  all["no such window"].window = "43";
  all["no such microphone"].microphone = "no-such-mic";
  all["file exists"].prepare = [](const std::string& file) { std::ofstream(file) << "kept"; };
  all["file not writable"].fileName = "missing-folder/meeting.mp4";
  all["wrong extension"].fileName = "meeting.mkv";
  all["could not start"].failures = {
      {"streamOutputs", {{"screen", {{"description", "The stream refused its output"}}}}}};
  all["failed while recording"].failures = {
      {"streamStopsAfter",
       {{"seconds", 0.5},
        {"error", screenCaptureError(Platform::captureSourceGoneCode, "The window was closed")}}}};
  return all;
}

std::string fileText(const std::string& path) {
  std::ifstream file(path);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) {
    lines.push_back(line);
  }
  return lines;
}

class ContractPage : public ::testing::Test {
protected:
  // Runs the outcome's provocation and checks the helper against the row;
  // `earlier` are the rows above it, none of whose lines may match.
  void check(const PageRow& row, const Provocation& provocation,
             const std::vector<PageRow>& earlier) {
    SCOPED_TRACE(row.outcome);
    const std::string folder = directory.path() + "/" + std::to_string(++runs);
    std::filesystem::create_directory(folder);
    const std::string scenarioPath = folder + "/scenario.json";
    std::ofstream(scenarioPath) << json{
        {"capabilities", {{"streamCapturesMicrophone", false}}},
        {"displays", {{{"id", 1}, {"width", 1280}, {"height", 720}}}},
        {"windows",
         {{{"id", 42}, {"title", "Standup"}, {"frame", {0, 0, 320, 180}}, {"onScreen", true}}}},
        {"audioDevices", {{{"id", "mic-1"}, {"name", "Desk Microphone"}, {"channels", 1}}}},
        {"writer", "ffmpeg"},
        {"failures", provocation.failures}};
    const std::string file = folder + "/" + provocation.fileName;
    provocation.prepare(file);
    const bool existed = std::filesystem::exists(file);
    const std::string errorPath = folder + "/stderr";
    Subprocess helper(
        {TARSEL_HELPER_SIMULATED, "start", provocation.window, provocation.microphone, file},
        {{"TARSEL_SIMULATION", scenarioPath}}, errorPath);

    EXPECT_EQ(helper.readLine(10s), "File path: file://" + file);
    std::vector<std::string> output;
    for (const PageLine& expected : row.output) {
      if (expected.type == PageLine::Type::signal) {
        awaitErrorLines(errorPath, row.error.size());
        helper.signal(SIGINT);
        continue;
      }
      output.push_back(helper.readLine(10s).value_or("<no line>"));
      if (expected.type == PageLine::Type::empty) {
        EXPECT_EQ(output.back(), "");
      } else {
        EXPECT_TRUE(matches(expected.pattern, output.back()))
            << output.back() << "\ndoes not match\n"
            << expected.pattern;
      }
    }
    EXPECT_EQ(helper.readAll(10s), "") << "no line beyond the page's";
    EXPECT_EQ(helper.wait(10s), row.status);

    std::vector<std::string> contractErrors;
    for (const std::string& line : linesOf(fileText(errorPath))) {
      if (line.rfind("Vistrel error:", 0) == 0) {
        contractErrors.push_back(line);
      }
    }
    ASSERT_EQ(contractErrors.size(), row.error.size()) << fileText(errorPath);
    for (std::size_t index = 0; index < row.error.size(); ++index) {
      EXPECT_TRUE(matches(row.error[index].pattern, contractErrors[index]))
          << contractErrors[index];
    }

    for (const PageRow& above : earlier) {
      for (const PageLine& line : above.output) {
        for (const std::string& printed : output) {
          EXPECT_FALSE(line.type == PageLine::Type::text &&
                       printed.rfind("Vistrel Error:", 0) == 0 && matches(line.pattern, printed))
              << printed << " is already the outcome " << above.outcome;
        }
      }
    }
    if (row.status != 0) {
      EXPECT_EQ(std::filesystem::exists(file), existed || !row.error.empty())
          << "a failed start leaves no file";
    }
  }

  static void awaitErrorLines(const std::string& path, std::size_t count) {
    if (count == 0) {
      std::this_thread::sleep_for(1s);
      return;
    }
    for (int poll = 0; poll < 100; ++poll) {
      if (fileText(path).find("Vistrel error:") != std::string::npos) {
        return;
      }
      std::this_thread::sleep_for(100ms);
    }
  }

  TestSupport::TemporaryDirectory directory;
  int runs = 0;
};

TEST_F(ContractPage, EveryDocumentedOutcomeIsWhatTheHelperDoes) {
  const std::vector<PageRow> rows = readPage();
  auto known = provocations();
  ASSERT_EQ(rows.size(), known.size()) << "every outcome the test provokes has its row";
  std::vector<PageRow> earlier;
  for (const PageRow& row : rows) {
    const auto provocation = known.find(row.outcome);
    ASSERT_NE(provocation, known.end()) << "no way to provoke the outcome " << row.outcome;
    check(row, provocation->second, earlier);
    earlier.push_back(row);
  }
}

TEST_F(ContractPage, PlaceholdersStandForAnyTextAndNothingElseVaries) {
  EXPECT_TRUE(matches("Target with id <window id> not found.", "Target with id 43 not found."));
  EXPECT_TRUE(matches("Got <extension>.", "Got ."));
  EXPECT_FALSE(matches("Target with id <window id> not found.", "Target with id 43 not found"));
  EXPECT_FALSE(matches("a.b", "axb")) << "the page's dots are dots";
}

} // namespace
