// Two-species runs (2SP): the layout, the four occupancy groups and their console lines, the
// base-4 histories and the two-species writer pass, end to end; the walk order of caphis2 and
// of the branch with a scripted stream.
#include "two_species.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "draws.h"
#include "settings.h"
#include "support.h"

using occusim::testing::argument_echo;
using occusim::testing::format;
using occusim::testing::Outcome;
using occusim::testing::run_binary;
using occusim::testing::words;

namespace {

// The worked example: T = 1, N = 100, psiA 0.5, psiB1 0.4, psiB2 0.2, pA 0.6, pB 0.5,
// rA 0.8, rB1 0.9, rB2 0.3.
const char kExample[] = "1 100 0.5 0.4 0.2 0.6 0.5 0.8 0.9 0.3 2SP";
const char kExampleGroups[] =
    "psiA,psiB,psiB2:0.500000 0.400000 0.200000\n"
    "nAonly,nBonly,nAB,neither:30.000000 10.000000 20.000000 40.000000\n"
    "---------------\n"
    "---------------\n";
const char kExampleReport[] =
    "T=1 N=100.000000 psi=0.500000\n"
    "pA  = 0.600000\n"
    "pB  = 0.500000\n"
    "rA  = 0.800000\n"
    "rB1 = 0.900000\n"
    "rB2 = 0.300000\n"
    "\n";
// Neither 40 + A only missed 12 + B only missed 5 + both missed 2.8; A seen: 18 + 1.6;
// B seen: 5 + 1.2; both seen: 14.4.
const char kExampleData[] = "4\t1\n0\t59.800000\n1\t19.600000\n2\t6.200000\n3\t14.400000\n0\n0\n";
const char kExampleList[] = "0 59.800000\n1 19.600000\n2 6.200000\n3 14.400000\n";

struct Parameters {
  int T;
  double N, psiA, psiB1, psiB2;
  std::vector<double> pa;  // pA, pB, rA, rB1, rB2, T values each
  double at(int block, int occasion) const { return pa[block * T + occasion - 1]; }
};

struct Groups {
  double a_only, b_only, both, neither;
};

struct Files {
  std::string sdh;
  std::string inp;
};

std::string base4_text(long long code, int T) {
  std::string text;
  for (int k = 1; k <= T; ++k) text += static_cast<char>('0' + ((code >> (2 * (T - k))) & 3));
  return text;
}

std::string group_lines(const Parameters& q, const Groups& g) {
  return format("psiA,psiB,psiB2:%f %f %f\n", q.psiA, q.psiB1, q.psiB2) +
         format("nAonly,nBonly,nAB,neither:%f %f %f %f\n", g.a_only, g.b_only, g.both, g.neither) +
         "---------------\n---------------\n";
}

std::string two_species_report(const Parameters& q) {
  std::string text = format("T=%d N=%f psi=%f\n", q.T, q.N, q.psiA);
  const char* labels[5] = {"pA  =", "pB  =", "rA  =", "rB1 =", "rB2 ="};
  for (int b = 0; b < 5; ++b) {
    text += labels[b];
    for (int k = 1; k <= q.T; ++k) text += format(" %f", q.at(b, k));
    text += "\n";
  }
  return text + "\n";
}

// Both files as the two-species writer pass lays them out: no semicolon, rows in code order,
// in stochastic mode each code's rounded count of rows.
Files written_files(const std::vector<double>& counts, int T, bool deterministic) {
  Files files;
  std::string rows;
  long long distinct = 0;
  long long total = 0;
  for (size_t code = 0; code < counts.size(); ++code) {
    const double count = counts[code];
    const long long whole = static_cast<long long>(std::floor(count + 0.5));
    total += whole;
    if (!(count > 0)) continue;
    ++distinct;
    const std::string text = base4_text(static_cast<long long>(code), T);
    files.inp += format("%s %f\n", text.c_str(), count);
    std::string row;
    for (char c : text) row += std::string(1, c) + "\t";
    if (deterministic) {
      rows += row + format("%f", count) + "\n";
    } else {
      for (long long i = 0; i < whole; ++i) rows += row + "\n";
    }
  }
  files.sdh = format("%lld\t%d\n", deterministic ? distinct : total, T) + rows + "0\n0\n";
  return files;
}

// Expected counts: each group's history probability is a product over the occasions of the
// chance of that occasion's digit.
std::vector<double> expected_counts(const Parameters& q, Groups& g) {
  const double a = q.N * q.psiA;
  g.both = a * q.psiB1;
  g.a_only = a - g.both;
  g.b_only = (q.N - a) * q.psiB2;
  g.neither = q.N - a - g.b_only;
  std::vector<double> counts(size_t{1} << (2 * q.T), 0.0);
  counts[0] += g.neither;
  for (size_t code = 0; code < counts.size(); ++code) {
    double a_only = g.a_only, b_only = g.b_only, both = g.both;
    for (int k = 1; k <= q.T; ++k) {
      const int digit = (code >> (2 * (q.T - k))) & 3;
      const double pA = q.at(0, k), pB = q.at(1, k), rA = q.at(2, k);
      const double rB1 = q.at(3, k), rB2 = q.at(4, k);
      a_only *= digit == 0 ? 1 - pA : digit == 1 ? pA : 0.0;
      b_only *= digit == 0 ? 1 - pB : digit == 2 ? pB : 0.0;
      const double chance[4] = {(1 - rA) * (1 - rB2), rA * (1 - rB1), (1 - rA) * rB2, rA * rB1};
      both *= chance[digit];
    }
    counts[code] += a_only + b_only + both;
  }
  return counts;
}

std::string join(const Parameters& q, const std::string& options) {
  std::string line = format("%d %g %g %g %g", q.T, q.N, q.psiA, q.psiB1, q.psiB2);
  for (double v : q.pa) line += format(" %g", v);
  return line + " " + options;
}

void expect_files(const Outcome& r, const std::string& sdh, const std::string& inp) {
  EXPECT_EQ(r.file("occusim.sdh"), sdh);
  EXPECT_EQ(r.file("occusim.inp"), inp);
  EXPECT_FALSE(r.has("occusim.tmp"));
}

TEST(TwoSpecies, WorkedExample) {
  const auto args = words(kExample);
  const Outcome r = run_binary(args);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, argument_echo(args) + kExampleGroups);
  EXPECT_EQ(r.err, kExampleReport);
  expect_files(r, kExampleData, kExampleList);
}

// Options that do not change the two-species data: the group lines stay (QUIET silences
// only the echo and the report), SIMTYPE and SSOCC give way to 2SP, P0MISS writes no ".",
// LIST echoes nothing.
TEST(TwoSpecies, OptionsThatLeaveTheDataAlone) {
  struct Case {
    const char* options;
    bool quiet;
  };
  const Case cases[] = {{"QUIET", true},       {"quiet", true},          {"SIMTYPE", false},
                        {"SSOCC", false},      {"SIMTYPE SSOCC", false}, {"LIST", false},
                        {"P0MISS LIST", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.options);
    const auto args = words(std::string(kExample) + " " + c.options);
    const Outcome r = run_binary(args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, (c.quiet ? std::string() : argument_echo(args)) + kExampleGroups);
    EXPECT_EQ(r.err, c.quiet ? "" : kExampleReport);
    expect_files(r, kExampleData, kExampleList);
  }
}

// A detection probability of 0 with P0MISS: still digits, never ".".
TEST(TwoSpecies, ZeroDetectionWithP0missWritesDigits) {
  const Parameters q{1, 100, 0.5, 0.4, 0.2, {0, 0.5, 0.8, 0.9, 0.3}};
  Groups g{};
  const auto counts = expected_counts(q, g);
  EXPECT_NEAR(counts[0], 77.8, 1e-9);  // the 30 A-only sites are never seen
  const auto args = words(join(q, "2SP P0MISS"));
  const Outcome r = run_binary(args);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, argument_echo(args) + group_lines(q, g));
  EXPECT_EQ(r.err, two_species_report(q));
  const Files files = written_files(counts, 1, true);
  expect_files(r, files.sdh, files.inp);
}

// Occasion 1 in the two high bits: A alone seen first, then both, is history 13 (code 7).
TEST(TwoSpecies, CodeLayoutOfTwoOccasions) {
  // Everywhere both species; A always seen; B seen with A only at occasion 2.
  const std::string line = "2 10 1 1 0 0 0 0 0 1 1 0 1 0 0 2SP";
  const Outcome deterministic = run_binary(words(line));
  EXPECT_EQ(deterministic.status, 0);
  expect_files(deterministic, "1\t2\n1\t3\t10.000000\n0\n0\n", "13 10.000000\n");

  // Stochastic: probabilities 0 and 1 draw nothing, so only the seed line draws.
  const Outcome stochastic = run_binary(words(line + " STOCH SEED=31"));
  std::mt19937 engine(31);
  const int r1 = static_cast<int>(engine() >> 17);
  const int r2 = static_cast<int>(engine() >> 17);
  const int r3 = static_cast<int>(engine() >> 17);
  EXPECT_EQ(stochastic.err.rfind(format("seed=31, rand#'s:%d %d %d\n", r3, r2, r1), 0), 0u);
  std::string rows;
  for (int i = 0; i < 10; ++i) rows += "1\t3\t\n";
  expect_files(stochastic, "10\t2\n" + rows + "0\n0\n", "13 10.000000\n");
}

// Deterministic runs over the whole code range, with values that are exact in binary so the
// written counts are exact.
TEST(TwoSpecies, DeterministicRunsMatchTheProductOfChances) {
  const Parameters cases[] = {
      {2, 256, 0.5, 0.75, 0.25, {0.5, 0.25, 0.75, 0.5, 0.25, 0.75, 0.5, 0.75, 0.25, 0.5}},
      // psiA = 0: the first and the third walk add only zeros.
      {2, 64, 0, 0.5, 0.5, {0.5, 0.5, 0.25, 0.75, 0.5, 0.5, 0.5, 0.5, 0.5, 0.5}},
      // pB = 0 at every occasion: all B-only sites stay at code 0.
      {3, 128, 0.5, 0.5, 0.5, {0.5, 0.5, 0.5, 0, 0, 0, 0.5, 0.5, 0.5, 0.5, 0.5, 0.5, 1, 1, 1}},
  };
  for (const auto& q : cases) {
    const auto args = words(join(q, "2SP"));
    SCOPED_TRACE(join(q, "2SP"));
    Groups g{};
    const auto counts = expected_counts(q, g);
    const Outcome r = run_binary(args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, argument_echo(args) + group_lines(q, g));
    EXPECT_EQ(r.err, two_species_report(q));
    const Files files = written_files(counts, q.T, true);
    expect_files(r, files.sdh, files.inp);
  }
}

// Nine occasions need 4^9 cells, beyond 65536: the run is served, not refused.
TEST(TwoSpecies, NineOccasionsAreServed) {
  Parameters q{9, 100, 1, 0, 0.5, std::vector<double>(45, 0.5)};
  for (int k = 0; k < 9; ++k) q.pa[k] = 1;  // A only everywhere, always seen
  const Outcome r = run_binary(words(join(q, "2SP QUIET")));
  EXPECT_EQ(r.status, 0);
  expect_files(r, "1\t9\n1\t1\t1\t1\t1\t1\t1\t1\t1\t100.000000\n0\n0\n", "111111111 100.000000\n");
}

// An option word that stands inside the layout is read as a number: "2SP" gives rB2 = 2,
// so the both-species walk takes 8 of its 4 sites missed by A as B seen (-4 left unseen).
TEST(TwoSpecies, OptionWordInsideTheLayoutReadsAsNumber) {
  const auto args = words("1 100 0.5 0.4 0.2 0.6 0.5 0.8 0.9 2SP");
  const Parameters q{1, 100, 0.5, 0.4, 0.2, {0.6, 0.5, 0.8, 0.9, 2}};
  Groups g{};
  const auto counts = expected_counts(q, g);
  EXPECT_NEAR(counts[0], 53, 1e-9);
  EXPECT_NEAR(counts[2], 13, 1e-9);
  const Outcome r = run_binary(args);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, argument_echo(args) + kExampleGroups);
  EXPECT_EQ(r.err, two_species_report(q));
  const Files files = written_files(counts, 1, true);
  expect_files(r, files.sdh, files.inp);
}

// METH takes the report's multi-method form; its detection block, read last, fills the
// first M*T slots of pa from arguments 4 on, so pA and pB become 0.4 and 0.2 here.
TEST(TwoSpecies, MethodsPrintTheMultiMethodReport) {
  const auto args = words(std::string(kExample) + " METH=2");
  const Outcome r = run_binary(args);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err,
            "T=1 N=100.000000 psi=0.500000\n"
            "p=\n"
            " 0.400000\n"
            " 0.200000\n"
            "theta= 0.600000\n"
            "\n");
  const Parameters q{1, 100, 0.5, 0.4, 0.2, {0.4, 0.2, 0.8, 0.9, 0.3}};
  Groups g{};
  const Files files = written_files(expected_counts(q, g), 1, true);
  EXPECT_EQ(r.out, argument_echo(args) + kExampleGroups);
  expect_files(r, files.sdh, files.inp);
}

// Stochastic splits with the test's own draws: groups below 300 sites, so each split is one
// trial per whole site; a fractional N leaves half a site in the neither group.
class Reference {
 public:
  Reference(const Parameters& q, uint32_t seed)
      : q_(q), engine_(seed), counts_(size_t{1} << (2 * q.T), 0.0) {}

  int draw() { return static_cast<int>(engine_() >> 17); }

  std::vector<double> run(Groups& g) {
    const double a = split(q_.N, q_.psiA);
    const double not_a = q_.N - a;
    g.both = split(a, q_.psiB1);
    g.a_only = a - g.both;
    g.b_only = split(not_a, q_.psiB2);
    g.neither = not_a - g.b_only;
    counts_[0] = g.neither;
    walk(0, g.a_only, 1, 0, -1, -1);
    walk(0, g.b_only, 1, -1, -1, q_.T);
    walk(0, g.both, 1, 2 * q_.T, 3 * q_.T, 4 * q_.T);
    return counts_;
  }

 private:
  double split(double n, double p) {
    if (p == 1.0 || p == 0.0) return n * p;
    if (p <= 0.0) return 0.0;
    EXPECT_LE(n, 300.0);
    double passed = 0;
    for (int i = 1; i <= n; ++i) {
      if (draw() / 32767.0 <= p) passed += 1;
    }
    return passed;
  }

  double chance(int offset, int occasion) const {
    return offset < 0 ? 0.0 : q_.pa[offset + occasion - 1];
  }

  void walk(long long code, double sites, int occasion, int oa, int oba, int obn) {
    const double seen_a = split(sites, chance(oa, occasion));
    const double missed_a = sites - seen_a;
    const double both = split(seen_a, chance(oba, occasion));
    const double b_only = split(missed_a, chance(obn, occasion));
    const double parts[4] = {missed_a - b_only, seen_a - both, b_only, both};
    const int shift = 2 * (q_.T - occasion);
    if (occasion < q_.T) {
      for (int digit : {1, 2, 3, 0}) {
        walk(code | (static_cast<long long>(digit) << shift), parts[digit], occasion + 1, oa, oba,
             obn);
      }
    } else {
      for (int digit = 0; digit < 4; ++digit) counts_[code | digit] += parts[digit];
    }
  }

  Parameters q_;
  std::mt19937 engine_;
  std::vector<double> counts_;
};

TEST(TwoSpecies, StochasticRunsMatchIndependentDraws) {
  struct Case {
    Parameters q;
    const char* options;
    uint32_t seed;
    bool quiet;
  };
  const std::vector<double> pa2 = {0.6, 0.4, 0.5, 0.7, 0.8, 0.6, 0.9, 0.5, 0.3, 0.2};
  const Case cases[] = {
      {{2, 40, 0.5, 0.6, 0.3, pa2}, "2SP STOCH SEED=2718", 2718, false},
      {{2, 40, 0.5, 0.6, 0.3, pa2}, "2SP STOCH SEED=2718 QUIET", 2718, true},
      {{2, 20.5, 0.4, 0.5, 0.5, pa2}, "2SP STOCH SEED=5", 5, false},
  };
  for (const auto& c : cases) {
    const std::string line = join(c.q, c.options);
    SCOPED_TRACE(line);
    Reference reference(c.q, c.seed);
    std::string err;
    if (!c.quiet) {
      const int r1 = reference.draw();
      const int r2 = reference.draw();
      const int r3 = reference.draw();
      err = format("seed=%u, rand#'s:%d %d %d\n", c.seed, r3, r2, r1) + two_species_report(c.q);
    }
    Groups g{};
    const auto counts = reference.run(g);
    const auto args = words(line);
    const Outcome r = run_binary(args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, (c.quiet ? std::string() : argument_echo(args)) + group_lines(c.q, g));
    EXPECT_EQ(r.err, err);
    const Files files = written_files(counts, c.q.T, false);
    expect_files(r, files.sdh, files.inp);
  }
}

TEST(TwoSpecies, RefusedRunsCreateNoFiles) {
  std::string thirteen = "13 100 0.5 0.4 0.2";
  for (int k = 0; k < 65; ++k) thirteen += " 0.5";
  thirteen += " 2SP";
  struct Case {
    std::string line;
    std::vector<std::string> named;
  };
  const Case cases[] = {
      {thirteen, {"13", "12"}},
      // T = 2 needs 5 + 5*2 = 15 arguments after the program name, T = 1 needs 10.
      {"2 100 0.5 0.4 0.2 0.6 0.5 0.8 0.9 0.3 2SP", {"15", "T=2"}},
      {"1 100 0.5 0.4 0.2 0.6 0.5 0.8 2SP", {"10", "T=1"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    const auto args = words(c.line);
    const Outcome r = run_binary(args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, argument_echo(args));
    ASSERT_EQ(r.err.rfind("occusim2: ", 0), 0u) << r.err;
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
    for (const auto& number : c.named) EXPECT_NE(r.err.find(number), std::string::npos) << r.err;
    EXPECT_FALSE(r.has("occusim.sdh"));
    EXPECT_FALSE(r.has("occusim.inp"));
  }
}

// Unit tests of the walk with scripted integers: 0 passes every chance, 32767 (u = 1) fails
// every chance below 1. A scripted stream that runs out throws, so a draw made too many
// fails, and draws_made() catches one made too few.
class TwoSpeciesWalk : public ::testing::Test {
 protected:
  void SetUp() override {
    occusim::reset_settings();
    occusim::determ = 0;
  }
  void TearDown() override { occusim::reset_settings(); }

  void prepare(int T, std::vector<double> pa) {
    occusim::nper = T;
    occusim::pa = std::move(pa);
    occusim::nx.assign(size_t{1} << (2 * T), 0.0);
  }
};

constexpr int kPass = 0;
constexpr int kFail = 32767;

TEST_F(TwoSpeciesWalk, SplitsDrawAThenBAfterAThenBWithoutA) {
  prepare(1, {0.5, 0.5, 0.5, 0.5, 0.5});
  // A: three of four seen; B after A: none of the three; B without A: the one missed.
  const std::vector<int> script = {kPass, kPass, kPass, kFail, kFail, kFail, kFail, kPass};
  occusim::script_stream(script);
  EXPECT_NO_THROW(occusim::caphis2(0, 4, 1, 2, 3, 4));
  EXPECT_EQ(occusim::draws_made(), static_cast<long long>(script.size()));
  EXPECT_EQ(occusim::nx, (std::vector<double>{0, 3, 1, 0}));
}

TEST_F(TwoSpeciesWalk, SubTreesRunInTheOrderOneTwoThreeZero) {
  prepare(2, std::vector<double>(10, 0.5));
  // Occasion 1: four sites, one in each outcome. Occasion 2: each one-site group draws A,
  // then B (after A or without A); the sub-trees in the order 1, 2, 3, 0 get the outcomes
  // 0, 1, 2, 3 of their second occasion.
  const std::vector<int> script = {
      kPass, kPass, kFail, kFail,  // A seen at two sites
      kPass, kFail,                // B seen at one of them
      kPass, kFail,                // B seen at one of the two without A
      kFail, kFail,                // sub-tree 1: neither seen   -> 10
      kPass, kFail,                // sub-tree 2: A alone        -> 21
      kFail, kPass,                // sub-tree 3: B alone        -> 32
      kPass, kPass,                // sub-tree 0: both           -> 03
  };
  occusim::script_stream(script);
  EXPECT_NO_THROW(occusim::caphis2(0, 4, 1, 4, 6, 8));
  EXPECT_EQ(occusim::draws_made(), static_cast<long long>(script.size()));
  std::vector<double> expected(16, 0.0);
  expected[0b0100] = expected[0b1001] = expected[0b1110] = expected[0b0011] = 1;
  EXPECT_EQ(occusim::nx, expected);
}

TEST_F(TwoSpeciesWalk, NegativeOffsetsMeanNoChanceAndNoDraw) {
  prepare(1, {0.5, 0.5, 0.5, 0.5, 0.5});
  occusim::script_stream({kPass, kFail, kPass});  // A only: three draws for A, none for B
  EXPECT_NO_THROW(occusim::caphis2(0, 3, 1, 0, -1, -1));
  EXPECT_EQ(occusim::draws_made(), 3);
  EXPECT_EQ(occusim::nx, (std::vector<double>{1, 2, 0, 0}));
  occusim::nx.assign(4, 0.0);
  occusim::script_stream({kPass, kFail, kPass});  // B only: A and B-after-A never drawn
  EXPECT_NO_THROW(occusim::caphis2(0, 3, 1, -1, -1, 1));
  EXPECT_EQ(occusim::draws_made(), 6);
  EXPECT_EQ(occusim::nx, (std::vector<double>{1, 0, 2, 0}));
}

TEST_F(TwoSpeciesWalk, BranchSplitsGroupsThenWalksAOnlyBOnlyBoth) {
  prepare(1, {0.5, 0.5, 0.5, 0.5, 0.5});
  const std::vector<int> script = {
      kPass, kPass, kFail,  // A at two of three sites
      kPass, kFail,         // B with A at one: both 1, A only 1
      kPass,                // B without A at the third: B only 1, neither 0
      kPass,                // A-only walk: A seen          -> 1
      kFail,                // B-only walk: B missed        -> 0
      kFail, kPass,         // both walk: A missed, B seen  -> 2
  };
  occusim::script_stream(script);
  EXPECT_NO_THROW(occusim::two_species_branch(3, 0.5, 0.5, 0.5));
  EXPECT_EQ(occusim::draws_made(), static_cast<long long>(script.size()));
  EXPECT_EQ(occusim::nx, (std::vector<double>{1, 1, 1, 0}));
}

}  // namespace
