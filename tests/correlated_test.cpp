// Correlated-availability runs (SSOCC): the layout, the tree's counts in both modes, the run
// report and the refusals, all through the real binary.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "support.h"

using occusim::testing::argument_echo;
using occusim::testing::format;
using occusim::testing::Outcome;
using occusim::testing::run_binary;
using occusim::testing::words;

namespace {

std::string history_text(int code, int T) {
  std::string text;
  for (int k = 1; k <= T; ++k) text += ((code >> (T - k)) & 1) ? '1' : '0';
  return text;
}

struct Files {
  std::string sdh;
  std::string inp;
};

// Both files as the single-species writer pass lays them out for a table of counts.
Files written_files(const std::vector<double>& counts, int T, bool deterministic) {
  std::string rows;
  Files files;
  long long distinct = 0;
  long long total = 0;
  for (size_t code = 0; code < counts.size(); ++code) {
    const double count = counts[code];
    if (count > 0) ++distinct;
    const long long whole = static_cast<long long>(std::floor(count + 0.5));
    total += whole;
    if (!(count > 0)) continue;
    const std::string text = history_text(static_cast<int>(code), T);
    files.inp += format("%s %f;\n", text.c_str(), count);
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

// Default-form run report of a correlated run: eps all zero, gam shows ssPsi1 (and ssPsi2).
std::string report(int T, double N, double psi, const std::vector<double>& p, double s1,
                   double s2) {
  std::string text = format("T=%d N=%f psi=%f\np  =", T, N, psi);
  for (int i = 0; i < T; ++i) text += format(" %f", p[i]);
  text += "\neps=";
  for (int i = 1; i < T; ++i) text += " 0.000000";
  text += "\ngam=";
  const double gam[3] = {psi, s1, s2};
  for (int i = 1; i < T; ++i) text += format(" %f", i < 3 ? gam[i] : 0.0);
  return text + "\n\n";
}

// Expected number of sites per history, by the forward recursion over the availability
// chain of an occupied site; the unoccupied sites all have the all-zero history.
std::vector<double> expected_counts(int T, double N, double psi, double s1, double s2,
                                    const std::vector<double>& p) {
  std::vector<double> counts(size_t{1} << T, 0.0);
  counts[0] += N * (1 - psi);
  for (int h = 0; h < (1 << T); ++h) {
    double was_unavailable = 1.0;  // probability of the history so far, ending unavailable
    double was_available = 0.0;
    for (int k = 0; k < T; ++k) {
      const bool seen = (h >> (T - 1 - k)) & 1;
      const double available = was_unavailable * s1 + was_available * s2;
      const double unavailable = was_unavailable * (1 - s1) + was_available * (1 - s2);
      was_available = available * (seen ? p[k] : 1 - p[k]);
      was_unavailable = seen ? 0.0 : unavailable;
    }
    counts[h] += N * psi * (was_available + was_unavailable);
  }
  return counts;
}

void expect_run(const Outcome& r, const std::vector<std::string>& args, const std::string& err,
                const Files& files) {
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, argument_echo(args));
  EXPECT_EQ(r.err, err);
  EXPECT_EQ(r.file("occusim.sdh"), files.sdh);
  EXPECT_EQ(r.file("occusim.inp"), files.inp);
  EXPECT_FALSE(r.has("occusim.tmp"));
}

struct DeterministicCase {
  const char* line;
  int T;
  double psi, s1, s2;
  std::vector<double> p;
  std::vector<double> counts;  // by hand
};

// Counts worked out by hand: occupancy, then availability and detection per occasion.
TEST(Correlated, DeterministicCountsAndFiles) {
  const DeterministicCase cases[] = {
      // 50 unoccupied; 20 available at 1 (10 seen); at 2 the chain gives 8 + 8 + 12 available.
      {"2 100 0.5 0.4 0.8 0.5 0.5 SSOCC", 2, 0.5, 0.4, 0.8, {0.5, 0.5}, {80, 10, 6, 4}},
      // 50 unoccupied, 30 unavailable, 10 available but missed, 10 seen.
      {"1 100 0.5 0.4 0.8 0.5 SSOCC", 1, 0.5, 0.4, 0.8, {0.5}, {90, 10}},
      // Never available: every site has the all-zero history.
      {"2 100 0.5 0 0.8 0.5 0.5 SSOCC", 2, 0.5, 0.0, 0.8, {0.5, 0.5}, {100, 0, 0, 0}},
      // The layout's last value is the option word itself, read as 0: nobody seen at 2.
      {"2 100 0.5 0.4 0.8 0.5 SSOCC", 2, 0.5, 0.4, 0.8, {0.5, 0.0}, {90, 0, 10, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    const auto args = words(c.line);
    expect_run(run_binary(args), args, report(c.T, 100, c.psi, c.p, c.s1, c.s2),
               written_files(c.counts, c.T, true));
    // The independent forward recursion agrees with the hand-worked counts.
    const auto forward = expected_counts(c.T, 100, c.psi, c.s1, c.s2, c.p);
    for (size_t h = 0; h < forward.size(); ++h) EXPECT_NEAR(forward[h], c.counts[h], 1e-9);
  }
}

TEST(Correlated, ThreeOccasionReportAndCounts) {
  const auto args = words("3 100 0.5 0.2 0.8 0.5 0.6 0.7 SSOCC=1");
  const Outcome r = run_binary(args);
  const std::string err =
      "T=3 N=100.000000 psi=0.500000\n"
      "p  = 0.500000 0.600000 0.700000\n"
      "eps= 0.000000 0.000000\n"
      "gam= 0.200000 0.800000\n"
      "\n";
  expect_run(r, args, err,
             written_files(expected_counts(3, 100, 0.5, 0.2, 0.8, {0.5, 0.6, 0.7}), 3, true));
}

// Always available: the correlated tree gives the single-season counts.
TEST(Correlated, AlwaysAvailableEqualsSingleSeason) {
  const auto args = words("3 100 0.5 1 1 0.3 0.4 0.5 SSOCC");
  const Outcome correlated = run_binary(args);
  const Outcome single = run_binary(words("3 100 0.5 0.3 0.4 0.5"));
  ASSERT_EQ(single.status, 0);
  EXPECT_EQ(correlated.file("occusim.sdh"), single.file("occusim.sdh"));
  EXPECT_EQ(correlated.file("occusim.inp"), single.file("occusim.inp"));
  // Single season by hand: psi * product of p or 1 - p, plus the unoccupied at 000.
  const double p[3] = {0.3, 0.4, 0.5};
  std::vector<double> counts(8, 0.0);
  counts[0] = 50;
  for (int h = 0; h < 8; ++h) {
    double share = 50;
    for (int k = 0; k < 3; ++k) share *= ((h >> (2 - k)) & 1) ? p[k] : 1 - p[k];
    counts[h] += share;
  }
  expect_run(correlated, args, report(3, 100, 0.5, {0.3, 0.4, 0.5}, 1, 1),
             written_files(counts, 3, true));
}

// Stochastic counts of the correlated tree with its own draws: groups stay below 300 sites,
// so every split is a run of trials, one draw per whole site.
class CorrelatedReference {
 public:
  CorrelatedReference(int T, double s1, double s2, std::vector<double> p, uint32_t seed)
      : T_(T), s1_(s1), s2_(s2), p_(std::move(p)), engine_(seed), counts_(size_t{1} << T, 0.0) {}

  int draw() { return static_cast<int>(engine_() >> 17); }

  std::vector<double> run(double N, double psi) {
    const double occupied = split(N, psi);
    counts_[0] += N - occupied;
    walk(0, occupied, 1, 0);
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

  void walk(int code, double occupied, int occasion, int prev) {
    const double available = split(occupied, prev != 0 ? s2_ : s1_);
    const double unavailable = occupied - available;
    const double seen = split(available, p_[occasion - 1]);
    const double missed = available - seen;
    const int bit = 1 << (T_ - occasion);
    if (occasion < T_) {
      walk(code | bit, seen, occasion + 1, 1);
      walk(code, missed, occasion + 1, 1);
      walk(code, unavailable, occasion + 1, 0);
    } else {
      counts_[code] += unavailable + missed;
      counts_[code | bit] += seen;
    }
  }

  int T_;
  double s1_, s2_;
  std::vector<double> p_;
  std::mt19937 engine_;
  std::vector<double> counts_;
};

TEST(Correlated, StochasticRunMatchesIndependentDraws) {
  struct Case {
    const char* line;
    uint32_t seed;
    bool quiet;
  };
  const Case cases[] = {
      {"-3 60 0.7 0.5 0.7 0.6 0.5 0.8 SSOCC SEED=4242", 4242, false},
      {"-3 60 0.7 0.5 0.7 0.6 0.5 0.8 SSOCC SEED=4242 QUIET", 4242, true},
      {"3 60 0.7 0.5 0.7 0.6 0.5 0.8 SSOCC STOCH seed=99", 99, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    const auto args = words(c.line);
    const uint32_t seed = c.seed;
    CorrelatedReference reference(3, 0.5, 0.7, {0.6, 0.5, 0.8}, seed);
    std::string err;
    if (!c.quiet) {
      const int r1 = reference.draw();
      const int r2 = reference.draw();
      const int r3 = reference.draw();
      err = format("seed=%u, rand#'s:%d %d %d\n", seed, r3, r2, r1) +
            report(3, 60, 0.7, {0.6, 0.5, 0.8}, 0.5, 0.7);
    }
    const std::vector<double> counts = reference.run(60, 0.7);
    double total = 0;
    for (double n : counts) total += n;
    EXPECT_EQ(total, 60);
    const Outcome r = run_binary(args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, c.quiet ? "" : argument_echo(args));
    EXPECT_EQ(r.err, err);
    const Files files = written_files(counts, 3, false);
    EXPECT_EQ(r.file("occusim.sdh"), files.sdh);
    EXPECT_EQ(r.file("occusim.inp"), files.inp);
  }
}

// Refusals come before any file is created: one line on the standard error stream.
TEST(Correlated, RefusedRunsCreateNoFiles) {
  std::string long_line = "25 100 0.5 0.4 0.8";
  for (int k = 0; k < 25; ++k) long_line += " 0.5";
  long_line += " SSOCC";
  struct Case {
    std::string line;
    std::vector<std::string> named;  // numbers the message must state
  };
  const Case cases[] = {
      // T = 3 needs arguments up to 8 (ssPsi1, ssPsi2 and three p after T, N, psi).
      {"3 100 0.5 0.4 0.8 0.5 SSOCC", {"8", "T=3"}},
      {"3 100 0.5 0.4 0.8 SSOCC", {"8", "T=3"}},
      {long_line, {"25", "24"}},
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

}  // namespace
