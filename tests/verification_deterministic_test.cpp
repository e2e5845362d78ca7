// Deterministic runs of the real binary against the independent calculator: for every model
// and a table of parameter sets (several T, values inside (0, 1) and at 0 and 1), every list
// line and every data row carries N times the probability of its history, within the six
// printed decimals; the histories come in the program's order, and none of probability 0.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "history_probabilities.h"
#include "support.h"

namespace v = occusim::verify;
using occusim::testing::Outcome;
using occusim::testing::run_binary;
using occusim::testing::words;

namespace {

struct Line {
  std::string text;
  double count;
};

// A printed "%f" value agrees with the exact one when they differ by at most half of the last
// printed digit, plus the floating-point error of the program's own products.
bool within_print(double printed, double exact) {
  return std::fabs(printed - exact) <= 5e-7 + 1e-10 * std::max(1.0, std::fabs(exact));
}

// The histories of a binary or base-4 model with a positive probability, ascending by code.
std::vector<Line> positive_codes(const v::Row& probabilities, double N, int positions, bool base4) {
  std::vector<Line> lines;
  for (long long code = 0; code < static_cast<long long>(probabilities.size()); ++code) {
    if (probabilities[code] > 0) {
      lines.push_back({base4 ? v::base4_text(code, positions) : v::binary_text(code, positions),
                       N * probabilities[code]});
    }
  }
  return lines;
}

std::vector<Line> positive_leaves(const std::vector<v::Leaf>& leaves, double N) {
  std::vector<Line> lines;
  for (const v::Leaf& leaf : leaves) {
    if (leaf.probability > 0) lines.push_back({leaf.text, N * leaf.probability});
  }
  return lines;
}

std::string six(double count) {
  char text[64];
  std::snprintf(text, sizeof text, "%.6f", count);
  return text;
}

// Compares one file's histories with the expected ones, position by position; stops at the
// first history out of place so that one fault gives one message.
template <typename Got>
void compare_histories(const char* file, const std::vector<Line>& expected, const Got& got) {
  const size_t n = std::max(expected.size(), got.size());
  for (size_t i = 0; i < n; ++i) {
    if (i >= got.size()) {
      ADD_FAILURE() << file << ": history " << expected[i].text << " (N x probability "
                    << six(expected[i].count) << ") is missing at line " << i + 1;
      return;
    }
    if (i >= expected.size() || got[i].text != expected[i].text) {
      const bool possible = std::any_of(expected.begin(), expected.end(),
                                        [&](const Line& e) { return e.text == got[i].text; });
      ADD_FAILURE() << file << ": line " << i + 1 << " holds history " << got[i].text
                    << " with count " << six(got[i].count)
                    << (possible ? ", out of order; expected "
                                 : ", whose probability is 0; expected ")
                    << (i < expected.size() ? "history " + expected[i].text
                                            : std::string("no further line"));
      return;
    }
    EXPECT_TRUE(within_print(got[i].count, expected[i].count))
        << file << ": history " << got[i].text << " has count " << six(got[i].count)
        << "; N x probability is " << six(expected[i].count) << " (" << expected[i].count << ")";
  }
}

// The list file (with or without semicolons) and the data file of a deterministic run: header
// with the number of histories and positions, one row per history with its frequency, the
// closing lines.
void expect_files(const Outcome& r, const std::vector<Line>& expected, int positions,
                  bool semicolon) {
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  const auto list = v::read_list(r.file("occusim.inp"), semicolon);
  std::vector<Line> listed;
  for (const auto& l : list) listed.push_back({l.text, l.count});
  compare_histories("occusim.inp", expected, listed);

  const v::DataFile data = v::read_data(r.file("occusim.sdh"));
  EXPECT_EQ(data.rows, static_cast<long long>(expected.size())) << "header row count";
  EXPECT_EQ(data.positions, positions) << "header positions";
  std::vector<Line> rows;
  for (const auto& fields : data.body) {
    Line row{"", -1.0};
    if (fields.size() != static_cast<size_t>(positions) + 1) {
      ADD_FAILURE() << "occusim.sdh: a row has " << fields.size() << " fields, not "
                    << positions + 1;
      return;
    }
    for (int k = 0; k < positions; ++k) row.text += fields[k];
    row.count = std::strtod(fields.back().c_str(), nullptr);
    rows.push_back(row);
  }
  compare_histories("occusim.sdh", expected, rows);
  EXPECT_EQ(data.tail, (std::vector<std::string>{"0", "0"})) << "closing lines";
}

Outcome run(const std::string& command) {
  return run_binary(words(command + " QUIET"));
}

}  // namespace

TEST(VerifyDeterministic, SingleAndMultiSeason) {
  struct Case {
    double N;
    v::Occupancy m;
  };
  const Case cases[] = {
      {100, {0.5, {0.4}, {0}, {0}}},
      {250.5, {0.62, {0.3, 0.45, 0.8}, {0, 0, 0}, {0, 0, 0}}},
      {1000, {1, {0, 0.5, 1, 0.25}, {0, 0, 0, 0}, {0, 0, 0, 0}}},
      {777, {0, {0.5, 0.6, 0.7, 0.8, 0.9}, {0, 0, 0, 0, 0}, {0, 0, 0, 0, 0}}},
      {360,
       {0.55,
        {0.2, 0.35, 0.5, 0.65, 0.8, 0.3, 0.45, 0.6},
        std::vector<double>(8, 0),
        std::vector<double>(8, 0)}},
      // multi-season
      {100, {0.5, {1, 1}, {0, 0.2}, {0, 0.1}}},
      {500, {0.4, {0.3, 0.5, 0.7}, {0, 0.1, 0.25}, {0, 0.05, 0.2}}},
      {321.25, {0.7, {0.9, 0.2, 0.6, 0.45}, {0, 0, 1, 0.3}, {0, 1, 0, 0.15}}},
      {1000,
       {0.35, {0.6, 0.25, 0.75, 0.5, 0.4}, {0, 0.3, 0.05, 0.5, 0.2}, {0, 0.45, 0.15, 0.1, 0.6}}},
  };
  for (const Case& c : cases) {
    const std::string command = v::occupancy_command(c.N, c.m);
    SCOPED_TRACE("single/multi-season occusim2 " + command);
    const int T = static_cast<int>(c.m.p.size());
    expect_files(run(command), positive_codes(v::occupancy_probabilities(c.m), c.N, T, false), T,
                 true);
  }
}

TEST(VerifyDeterministic, MultiMethod) {
  struct Case {
    double N;
    v::MultiMethod m;
  };
  const Case cases[] = {
      {100, {0.5, {0.6}, {{0.5, 0.5}}}},
      {400, {0.6, {0.8, 0.35}, {{0.2, 0.7, 0.45}, {0.5, 0.3, 0.9}}}},
      {1000, {0.9, {1, 0.5, 0}, {{1, 0.25}, {0, 0.75}, {0.5, 1}}}},
      {250, {0.75, {0.3, 0.65, 0.9}, {{0.15, 0.4, 0.6}, {0.55, 0.35, 0.2}, {0.8, 0.05, 0.5}}}},
      // One method has no theta block (the values after the detection block are not read):
      // the single-season model, every occasion available.
      {300, {0.55, {1, 1, 1}, {{0.3}, {0.6}, {0.45}}}},
  };
  for (const Case& c : cases) {
    const std::string command = v::multimethod_command(c.N, c.m);
    SCOPED_TRACE("multi-method occusim2 " + command);
    const int positions = static_cast<int>(c.m.theta.size() * c.m.p.front().size());
    expect_files(run(command),
                 positive_codes(v::multimethod_probabilities(c.m), c.N, positions, false),
                 positions, true);
  }
}

TEST(VerifyDeterministic, Correlated) {
  struct Case {
    double N;
    v::Correlated m;
  };
  const Case cases[] = {
      {100, {0.5, 0.4, 0.8, {0.5, 0.5}}},
      {100, {0.5, 0.4, 0.8, {0.5}}},
      {600, {0.7, 0.3, 0.85, {0.6, 0.4, 0.9, 0.5}}},
      {1000, {1, 1, 0, {0.5, 1, 0.7}}},  // available, then unavailable, then available
      {80, {0.8, 0, 1, {0.5, 0.5, 0.5}}},
      {512.5, {0.45, 0.65, 0.2, {0.35, 0.8, 0.55, 0.25, 0.6}}},
  };
  for (const Case& c : cases) {
    const std::string command = v::correlated_command(c.N, c.m);
    SCOPED_TRACE("correlated occusim2 " + command);
    const int T = static_cast<int>(c.m.p.size());
    expect_files(run(command), positive_codes(v::correlated_probabilities(c.m), c.N, T, false), T,
                 true);
  }
}

TEST(VerifyDeterministic, TwoSpecies) {
  struct Case {
    double N;
    v::TwoSpecies m;
  };
  const Case cases[] = {
      {100, {0.5, 0.4, 0.2, {0.6}, {0.5}, {0.8}, {0.9}, {0.3}}},
      {1000,
       {0.6,
        0.35,
        0.55,
        {0.3, 0.6, 0.45},
        {0.25, 0.5, 0.7},
        {0.8, 0.4, 0.55},
        {0.65, 0.2, 0.9},
        {0.15, 0.35, 0.05}}},
      {300, {1, 0.5, 0.3, {1, 0, 0.5}, {0.5, 0.5, 0.5}, {0, 1, 0.5}, {1, 0.3, 0}, {0.6, 0, 1}}},
      {250, {0, 0.4, 0.7, {0.5, 0.5}, {0.3, 0.9}, {0.5, 0.5}, {0.5, 0.5}, {0.5, 0.5}}},
      {640, {0.45, 1, 0, {0.2, 0.7}, {0.4, 0.6}, {0.35, 0.75}, {0.5, 0.85}, {0.1, 0.3}}},
  };
  for (const Case& c : cases) {
    const std::string command = v::two_species_command(c.N, c.m);
    SCOPED_TRACE("two-species occusim2 " + command);
    const int T = static_cast<int>(c.m.pA.size());
    const Outcome r = run(command);
    expect_files(r, positive_codes(v::two_species_probabilities(c.m), c.N, T, true), T, false);
    // The console reports the four occupancy groups.
    double a_only = 0, b_only = 0, both = 0, neither = 0;
    const size_t at = r.out.find("nAonly,nBonly,nAB,neither:");
    ASSERT_NE(at, std::string::npos) << r.out;
    ASSERT_EQ(std::sscanf(r.out.c_str() + at, "nAonly,nBonly,nAB,neither:%lf %lf %lf %lf", &a_only,
                          &b_only, &both, &neither),
              4);
    EXPECT_TRUE(within_print(a_only, c.N * c.m.psiA * (1 - c.m.psiB1))) << a_only;
    EXPECT_TRUE(within_print(b_only, c.N * (1 - c.m.psiA) * c.m.psiB2)) << b_only;
    EXPECT_TRUE(within_print(both, c.N * c.m.psiA * c.m.psiB1)) << both;
    EXPECT_TRUE(within_print(neither, c.N * (1 - c.m.psiA) * (1 - c.m.psiB2))) << neither;
  }
}

TEST(VerifyDeterministic, BreedingMultistate) {
  struct Case {
    double N;
    v::Breeding m;
    bool multiseason;
  };
  std::vector<Case> cases = {
      {100, v::breeding_single_season(0.5, 0.4, {0.5}, {0.6}, {0.8}), false},
      {500,
       v::breeding_single_season(0.7, 0.45, {0.3, 0.6, 0.5}, {0.4, 0.55, 0.8}, {0.65, 0.35, 0.9}),
       false},
      {200, v::breeding_single_season(0, 0.5, {0.5, 0.5}, {0.5, 0.5}, {0.5, 0.5}), false},
      {300, v::breeding_single_season(1, 0, {1, 0.5}, {1, 0.3}, {0, 0.6}), false},
  };
  // Multi-season: every transition given.
  v::Breeding seasons = v::breeding_single_season(0.55, 0.35, {0.4, 0.7}, {0.5, 0.3}, {0.6, 0.9});
  seasons.psi[0][1] = 0.3;
  seasons.psi[1][1] = 0.8;
  seasons.psi[2][1] = 0.6;
  seasons.R[0][1] = 0.2;
  seasons.R[1][1] = 0.5;
  seasons.R[2][1] = 0.7;
  cases.push_back({1000, seasons, true});
  v::Breeding edges =
      v::breeding_single_season(0.8, 0.5, {0.5, 1, 0.25}, {0.6, 0.4, 1}, {1, 0.5, 0.7});
  const double transitions[3][3][2] = {// psi[r][t], R[r][t] for t = 1, 2
                                       {{0.4, 1}, {0, 0.3}},
                                       {{1, 0.2}, {0.6, 0}},
                                       {{0, 0.9}, {1, 0.45}}};
  for (int r = 0; r < 3; ++r) {
    for (int t = 1; t < 3; ++t) {
      edges.psi[r][t] = transitions[r][0][t - 1];
      edges.R[r][t] = transitions[r][1][t - 1];
    }
  }
  cases.push_back({750, edges, true});
  for (const Case& c : cases) {
    const std::string command = v::breeding_command(c.N, c.m, c.multiseason);
    SCOPED_TRACE("breeding multistate occusim2 " + command);
    expect_files(run(command), positive_leaves(v::breeding_leaves(c.m), c.N), c.m.occasions(),
                 true);
  }
}

TEST(VerifyDeterministic, GeneralMultistate) {
  std::vector<std::pair<double, v::General>> cases;
  v::General example = v::general_model(2, 1);
  example.psi[0][1][0] = 0.6;
  example.p[1][1][0] = 0.5;
  cases.push_back({100, example});

  v::General two = v::general_model(2, 3);
  two.psi[0][1][0] = 0.4;
  for (int t = 1; t < 3; ++t) {
    two.psi[0][1][t] = 0.25 + 0.1 * t;
    two.psi[1][1][t] = 0.7 - 0.05 * t;
  }
  for (int t = 0; t < 3; ++t) {
    two.p[1][0][t] = 0.05 * t;
    two.p[1][1][t] = 0.45 + 0.15 * t;
  }
  cases.push_back({480, two});

  // Four states, two occasions, every cell in (0, 1).
  v::General four = v::general_model(4, 2);
  for (int s = 1; s < 4; ++s) four.psi[0][s][0] = 0.1 * s;
  for (int r = 0; r < 4; ++r) {
    for (int s = 1; s < 4; ++s) four.psi[r][s][1] = 0.05 + 0.04 * r + 0.07 * s;
  }
  for (int o = 1; o < 4; ++o) {
    for (int s = 0; s < 4; ++s) {
      for (int t = 0; t < 2; ++t) four.p[o][s][t] = 0.03 * o + 0.05 * s + 0.02 * t;
    }
  }
  cases.push_back({1000, four});

  // Three states, three occasions, with probabilities 0 and 1 and rows that leave state 0
  // (observed state 0) nothing: 0.5 + 0.5 and 1 + 0 sum to 1 exactly.
  v::General edges = v::general_model(3, 3);
  edges.psi[0][1][0] = 0.5;
  edges.psi[0][2][0] = 0.5;
  const double moves[3][2][2] = {// psi[r][s][t] for s = 1, 2 and t = 1, 2
                                 {{0.2, 1}, {0.3, 0}},
                                 {{1, 0.5}, {0, 0.25}},
                                 {{0, 0.5}, {0.5, 0.5}}};
  for (int r = 0; r < 3; ++r) {
    for (int s = 1; s < 3; ++s) {
      for (int t = 1; t < 3; ++t) edges.psi[r][s][t] = moves[r][s - 1][t - 1];
    }
  }
  for (int t = 0; t < 3; ++t) {
    edges.p[1][1][t] = t == 1 ? 1 : 0.5;
    edges.p[2][1][t] = t == 1 ? 0 : 0.25;
    edges.p[1][2][t] = 0.5;
    edges.p[2][2][t] = t == 2 ? 0.5 : 0.3;
  }
  cases.push_back({333, edges});

  for (const auto& [N, m] : cases) {
    const std::string command = v::general_command(N, m);
    SCOPED_TRACE("general multistate occusim2 " + command);
    expect_files(run(command), positive_leaves(v::general_leaves(m), N), m.T, true);
  }
}
