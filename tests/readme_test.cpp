// The README's worked examples are real runs: each marked example block is run again in a
// fresh directory and must match, byte for byte, the status, both console streams and every
// file the README shows. The marking convention, in README.md itself:
//
//   <!-- example: NAME -->        opens an example
//   ```sh                          the command block: one line "$ occusim2 ARGS..."
//   $ occusim2 2 100 0.5 0.4 0.6
//   ```
//   <!-- stdout -->                the next fenced block is the standard output
//   <!-- stderr -->                ... the standard error
//   <!-- file: occusim.sdh -->     ... the file's content (an empty block: an empty file)
//   <!-- status: 0 -->             the exit status
//   <!-- end example -->
//
// A stream that an example does not show must be empty, and a file that it does not show
// must not exist. The content of a block is its lines, each followed by a line end.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support.h"

namespace {

using occusim::testing::Outcome;
using occusim::testing::read_file;
using occusim::testing::run_binary;
using occusim::testing::words;

const char* const kFiles[] = {"occusim.inp", "occusim.tmp", "occusim.sdh"};

struct Example {
  std::string name;
  int line = 0;  // README line of the opening marker
  bool has_command = false;
  std::vector<std::string> args;
  bool has_status = false;
  int status = 0;
  std::map<std::string, std::string> streams;  // "stdout", "stderr"
  std::map<std::string, std::string> files;    // file name -> content
};

struct Parsed {
  std::vector<Example> examples;
  std::vector<std::string> errors;
};

std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> lines;
  std::string::size_type start = 0;
  while (start < text.size()) {
    const auto end = text.find('\n', start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

bool starts_with(const std::string& s, const std::string& prefix) {
  return s.compare(0, prefix.size(), prefix) == 0;
}

// Reads the fenced block that starts at lines[i] (which must be a fence); leaves i on the
// closing fence. Returns false when the block is missing or unclosed.
bool read_block(const std::vector<std::string>& lines, size_t& i, std::string& content) {
  if (i >= lines.size() || !starts_with(lines[i], "```")) return false;
  content.clear();
  for (++i; i < lines.size(); ++i) {
    if (lines[i] == "```") return true;
    content += lines[i];
    content += '\n';
  }
  return false;
}

Parsed parse_examples(const std::string& text) {
  Parsed parsed;
  const auto lines = split_lines(text);
  Example current;
  bool open = false;
  std::set<std::string> names;
  auto error = [&](size_t i, const std::string& message) {
    parsed.errors.push_back("README line " + std::to_string(i + 1) + ": " + message);
  };
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    if (starts_with(line, "<!-- example: ") && line.size() > 18 &&
        line.compare(line.size() - 4, 4, " -->") == 0) {
      if (open) error(i, "example '" + current.name + "' is not closed");
      current = Example();
      current.name = line.substr(14, line.size() - 18);
      current.line = static_cast<int>(i + 1);
      open = true;
      if (!names.insert(current.name).second) error(i, "duplicate example '" + current.name + "'");
      continue;
    }
    if (!open) continue;
    if (line == "```sh" && !current.has_command) {
      std::string block;
      if (!read_block(lines, i, block)) {
        error(i, "unclosed command block");
        continue;
      }
      const auto command = split_lines(block);
      if (command.size() != 1 ||
          (command[0] != "$ occusim2" && !starts_with(command[0], "$ occusim2 "))) {
        error(i, "the command block must hold one line '$ occusim2 ARGS...'");
        continue;
      }
      current.args = words(command[0].substr(10));
      current.has_command = true;
    } else if (line == "<!-- stdout -->" || line == "<!-- stderr -->" ||
               starts_with(line, "<!-- file: ")) {
      std::string key;
      std::map<std::string, std::string>* target = &current.streams;
      if (starts_with(line, "<!-- file: ")) {
        key = line.substr(11, line.size() >= 15 ? line.size() - 15 : 0);
        target = &current.files;
        if (std::find(std::begin(kFiles), std::end(kFiles), key) == std::end(kFiles)) {
          error(i, "unknown file '" + key + "'");
        }
      } else {
        key = line.substr(5, 6);
      }
      ++i;
      std::string block;
      if (!read_block(lines, i, block)) {
        error(i, "the marker '" + line + "' must be followed by a closed fenced block");
        continue;
      }
      if (!target->emplace(key, block).second) error(i, "'" + key + "' is shown twice");
    } else if (starts_with(line, "<!-- status: ")) {
      current.status = std::atoi(line.c_str() + 13);
      current.has_status = true;
    } else if (line == "<!-- end example -->") {
      if (!current.has_command) error(i, "example '" + current.name + "' has no command block");
      if (!current.has_status) error(i, "example '" + current.name + "' has no status marker");
      parsed.examples.push_back(current);
      open = false;
    } else if (starts_with(line, "<!-- ")) {
      error(i, "unknown marker '" + line + "' inside example '" + current.name + "'");
    }
  }
  if (open) parsed.errors.push_back("example '" + current.name + "' is not closed");
  return parsed;
}

const Parsed& readme() {
  static const Parsed parsed = parse_examples(read_file(OCCUSIM2_SOURCE_DIR "/README.md"));
  return parsed;
}

std::string first_difference(const std::string& expected, const std::string& actual) {
  const auto e = split_lines(expected);
  const auto a = split_lines(actual);
  for (size_t i = 0; i < std::max(e.size(), a.size()); ++i) {
    const std::string ei = i < e.size() ? e[i] : "<none>";
    const std::string ai = i < a.size() ? a[i] : "<none>";
    if (ei != ai) {
      return "line " + std::to_string(i + 1) + ": README has '" + ei + "', the run gives '" + ai +
             "'";
    }
  }
  return "the line ends differ";
}

// Every way in which a fresh run differs from what the example shows.
std::vector<std::string> differences(const Example& example, const Outcome& run) {
  std::vector<std::string> found;
  if (run.status != example.status) {
    found.push_back("status: README has " + std::to_string(example.status) + ", the run gives " +
                    std::to_string(run.status));
  }
  const std::pair<const char*, const std::string*> streams[] = {{"stdout", &run.out},
                                                                {"stderr", &run.err}};
  for (const auto& [key, actual] : streams) {
    const auto shown = example.streams.find(key);
    const std::string expected = shown == example.streams.end() ? "" : shown->second;
    if (expected != *actual)
      found.push_back(std::string(key) + ": " + first_difference(expected, *actual));
  }
  for (const char* name : kFiles) {
    const auto shown = example.files.find(name);
    const auto& produced = run.files.at(name);
    if (shown == example.files.end()) {
      if (produced.has_value()) found.push_back(std::string(name) + ": written but not shown");
    } else if (!produced.has_value()) {
      found.push_back(std::string(name) + ": shown but not written");
    } else if (shown->second != *produced) {
      found.push_back(std::string(name) + ": " + first_difference(shown->second, *produced));
    }
  }
  return found;
}

// The fresh run in the README's own form, for updating an example that changed on purpose.
std::string as_readme_block(const Example& example, const Outcome& run) {
  std::ostringstream text;
  auto block = [&](const std::string& marker, const std::string& content) {
    text << marker << "\n```text\n" << content << "```\n";
  };
  if (!run.out.empty()) block("<!-- stdout -->", run.out);
  if (!run.err.empty()) block("<!-- stderr -->", run.err);
  for (const char* name : kFiles) {
    const auto& produced = run.files.at(name);
    if (produced.has_value()) block(std::string("<!-- file: ") + name + " -->", *produced);
  }
  text << "<!-- status: " << run.status << " -->\n";
  (void)example;
  return text.str();
}

bool draws_from_clock(const Example& example) {
  const auto& a = example.args;
  const bool stochastic = (!a.empty() && starts_with(a[0], "-")) ||
                          std::any_of(a.begin(), a.end(), [](const std::string& w) {
                            return w.find("STOCH") != std::string::npos;
                          });
  const bool counts = std::any_of(a.begin(), a.end(), [](const std::string& w) {
    return w.find("LAMBDA=") != std::string::npos;
  });
  const bool seeded = std::any_of(a.begin(), a.end(), [](const std::string& w) {
    return w.find("SEED") != std::string::npos || w.find("seed") != std::string::npos;
  });
  return (stochastic || counts) && !seeded;
}

// Test names and failure messages show the example's name, not its bytes.
void PrintTo(const Example& example, std::ostream* os) {
  *os << "example '" << example.name << "' (README line " << example.line << ")";
}

class ReadmeExample : public ::testing::TestWithParam<Example> {};

TEST_P(ReadmeExample, MatchesAFreshRun) {
  const Example& example = GetParam();
  ASSERT_FALSE(draws_from_clock(example))
      << "example '" << example.name << "' (README line " << example.line
      << ") prints a clock seed, which changes at every run: give it SEED=n";
  const Outcome run = run_binary(example.args);
  const auto found = differences(example, run);
  std::string report;
  for (const auto& d : found) report += "  " + d + "\n";
  EXPECT_TRUE(found.empty()) << "example '" << example.name << "' (README line " << example.line
                             << ") has drifted from the program:\n"
                             << report << "A fresh run gives:\n"
                             << as_readme_block(example, run);
}

std::string example_name(const ::testing::TestParamInfo<Example>& info) {
  std::string name = info.param.name;
  for (char& c : name) {
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  }
  return name;
}

INSTANTIATE_TEST_SUITE_P(Readme, ReadmeExample, ::testing::ValuesIn(readme().examples),
                         example_name);

TEST(Readme, ExamplesAreWellFormed) {
  std::string report;
  for (const auto& e : readme().errors) report += e + "\n";
  EXPECT_TRUE(readme().errors.empty()) << report;
}

// One worked example for every model, and for the console texts users meet first.
TEST(Readme, ShowsEveryModel) {
  const std::vector<std::string> required = {"typical",          "single-season", "stochastic",
                                             "stochastic-quiet", "multi-method",  "correlated",
                                             "site-by-site",     "two-species",   "breeding",
                                             "multistate",       "counts",        "usage"};
  std::set<std::string> present;
  for (const auto& e : readme().examples) present.insert(e.name);
  for (const auto& name : required)
    EXPECT_TRUE(present.count(name)) << "no example '" << name << "'";
}

// The first run of the README is the typical run of the set-up command.
TEST(Readme, TypicalExampleIsTheSetUpCommand) {
  const std::string text = read_file(OCCUSIM2_SOURCE_DIR "/README.md");
  const std::string command = "occusim2 3 100 0.5 0.3 0.4 0.5 0.1 0.2 0.05 0.1";
  EXPECT_NE(text.find("./build/release/" + command + "\n"), std::string::npos);
  for (const auto& e : readme().examples) {
    if (e.name == "typical") {
      std::string line = "occusim2";
      for (const auto& a : e.args) line += " " + a;
      EXPECT_EQ(line, command);
    }
  }
}

// The convention itself: exact bytes (tabs, empty blocks, a last empty line), and a
// comparison that catches every kind of drift.
TEST(ReadmeConvention, ParsesBlocksExactly) {
  const std::string text =
      "text\n<!-- example: demo -->\n```sh\n$ occusim2 2 100\t0.5\n```\n"
      "<!-- stdout -->\n```text\nA\tB\n\n```\n"
      "<!-- file: occusim.inp -->\n```text\n```\n"
      "<!-- status: 1 -->\n<!-- end example -->\n";
  const Parsed parsed = parse_examples(text);
  ASSERT_TRUE(parsed.errors.empty());
  ASSERT_EQ(parsed.examples.size(), 1u);
  const Example& e = parsed.examples[0];
  EXPECT_EQ(e.name, "demo");
  EXPECT_EQ(e.args, (std::vector<std::string>{"2", "100", "0.5"}));
  EXPECT_EQ(e.streams.at("stdout"), "A\tB\n\n");
  EXPECT_EQ(e.streams.count("stderr"), 0u);
  EXPECT_EQ(e.files.at("occusim.inp"), "");
  EXPECT_EQ(e.status, 1);
}

TEST(ReadmeConvention, ReportsMalformedExamples) {
  const std::string cases[] = {
      "<!-- example: a -->\n<!-- status: 0 -->\n<!-- end example -->\n",        // no command
      "<!-- example: a -->\n```sh\n$ occusim2 1\n```\n<!-- end example -->\n",  // no status
      "<!-- example: a -->\n```sh\n$ ls\n```\n<!-- status: 0 -->\n<!-- end example -->\n",
      "<!-- example: a -->\n```sh\n$ occusim2 1\n```\n<!-- stdout -->\ntext\n",  // no block
      "<!-- example: a -->\n```sh\n$ occusim2 1\n```\n<!-- status: 0 -->\n",     // not closed
      "<!-- example: a -->\n```sh\n$ occusim2 1\n```\n<!-- file: x.txt -->\n```\n```\n"
      "<!-- status: 0 -->\n<!-- end example -->\n",
  };
  for (const auto& text : cases) EXPECT_FALSE(parse_examples(text).errors.empty()) << text;
}

TEST(ReadmeConvention, EveryKindOfDriftIsFound) {
  const Example* typical = nullptr;
  for (const auto& e : readme().examples) {
    if (e.name == "typical") typical = &e;
  }
  ASSERT_NE(typical, nullptr);
  const Outcome run = run_binary(typical->args);
  ASSERT_TRUE(differences(*typical, run).empty());
  Example changed = *typical;
  changed.status = 1;
  EXPECT_EQ(differences(changed, run).size(), 1u);
  changed = *typical;
  changed.streams["stderr"].back() = 'x';
  EXPECT_EQ(differences(changed, run).size(), 1u);
  changed = *typical;
  changed.streams.erase("stdout");
  EXPECT_EQ(differences(changed, run).size(), 1u);
  changed = *typical;
  changed.files["occusim.sdh"] += "0\n";
  EXPECT_EQ(differences(changed, run).size(), 1u);
  changed = *typical;
  changed.files.erase("occusim.inp");
  EXPECT_EQ(differences(changed, run).size(), 1u);
  changed = *typical;
  changed.files["occusim.tmp"] = "";
  EXPECT_EQ(differences(changed, run).size(), 1u);
}

}  // namespace
