// N-mixture count runs (LAMBDA=): the console line, the count rows and their order of draws,
// checked against an own std::mt19937 stream and, in unit tests, a scripted stream.
#include "counts.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "draws.h"
#include "settings.h"
#include "support.h"

namespace {

using occusim::testing::Outcome;
using occusim::testing::run_binary;
using occusim::testing::words;

std::string arg_echo(const std::vector<std::string>& args) {
  std::string out;
  for (size_t k = 0; k < args.size(); ++k) {
    out += "ARG[" + std::to_string(k + 1) + "]:" + args[k] + "\n";
  }
  return out;
}

std::string console_line(int n, int T, double lambda, double p, long ix) {
  char line[256];
  std::snprintf(line, sizeof line, "n=%d t=%d lam=%f p=%f ix=%ld\n", n, T, lambda, p, ix);
  return line;
}

// The count model replayed on its own stream: m placement draws, then per site, per occasion,
// per individual one counting draw.
struct Simulated {
  int n = 0;
  std::vector<int> abundance;  // n site counters and the spare one
  std::string rows;
};

Simulated simulate(std::mt19937& engine, double N, int T, double lambda, double p) {
  auto draw = [&engine]() { return static_cast<int>(engine() >> 17); };
  Simulated s;
  s.n = static_cast<int>(N + 0.4999);
  s.abundance.assign(s.n > 0 ? s.n + 1 : 1, 0);
  const int m = static_cast<int>(s.n * lambda);
  for (int i = 0; i < m; ++i) ++s.abundance[static_cast<int>(s.n * (draw() / 32767.0))];
  for (int i = 0; i < s.n; ++i) {
    for (int t = 1; t <= T; ++t) {
      int c = 0;
      for (int j = 0; j < s.abundance[i]; ++j) c += p > draw() / 32767.0 ? 1 : 0;
      s.rows += std::to_string(c) + "\t";
    }
    s.rows += "\n";
  }
  return s;
}

std::vector<std::vector<int>> parse_rows(const std::string& text) {
  std::vector<std::vector<int>> rows;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    std::vector<int> row;
    std::istringstream fields(line);
    int value;
    while (fields >> value) row.push_back(value);
    rows.push_back(row);
  }
  return rows;
}

// Deterministic count runs: the stream is never seeded, and ix is only printed.
TEST(Counts, DeterministicRunsUseTheUnseededStream) {
  struct Case {
    const char* line;
    int T;
    double N, p, lambda;
    bool quiet;
  } cases[] = {
      {"2 10.5 0.5 LAMBDA=2 SEED=5 QUIET", 2, 10.5, 0.5, 2, true},  // halves go down: n = 10
      {"2 10.6 0.5 LAMBDA=2 SEED=5", 2, 10.6, 0.5, 2, false},       // n = 11
      {"3 5 0 LAMBDA=2 SEED=5 QUIET", 3, 5, 0, 2, true},            // p = 0
      {"4 6 1 LAMBDA=3 SEED=5 QUIET", 4, 6, 1, 3, true},            // p = 1
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    const auto args = words(c.line);
    std::mt19937 engine;
    const Simulated s = simulate(engine, c.N, c.T, c.lambda, c.p);
    const Outcome r = run_binary(args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, (c.quiet ? "" : arg_echo(args)) + console_line(s.n, c.T, c.lambda, c.p, 5));
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.file("occusim.sdh"), s.rows);
    EXPECT_EQ(r.file("occusim.inp"), "");
    EXPECT_FALSE(r.has("occusim.tmp"));
  }
}

// Runs whose rows do not depend on any draw.
TEST(Counts, RowsThatNeedNoDraw) {
  struct Case {
    const char* line;
    const char* out;
    const char* sdh;
  } cases[] = {
      {"3 4 0.5 LAMBDA=0.2 SEED=9 QUIET", "n=4 t=3 lam=0.200000 p=0.500000 ix=9\n",  // m = 0
       "0\t0\t0\t\n0\t0\t0\t\n0\t0\t0\t\n0\t0\t0\t\n"},
      {"0 3 0.5 LAMBDA=2 SEED=9 QUIET", "n=3 t=0 lam=2.000000 p=0.500000 ix=9\n", "\n\n\n"},
      {"2 0.5 0.5 LAMBDA=2 SEED=9 QUIET", "n=0 t=2 lam=2.000000 p=0.500000 ix=9\n", ""},
      {"2 -4 0.5 LAMBDA=2 SEED=9 QUIET", "n=-3 t=2 lam=2.000000 p=0.500000 ix=9\n", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    const Outcome r = run_binary(words(c.line));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.file("occusim.sdh"), c.sdh);
    EXPECT_EQ(r.file("occusim.inp"), "");
  }
}

// Stochastic runs draw after the seed line (three draws unless QUIET); every count stays
// within its site's abundance, and the abundances account for every individual.
TEST(Counts, SeededStochasticRuns) {
  for (const char* line :
       {"-3 10 0.6 LAMBDA=2.55 SEED=12345", "3 10 0.6 LAMBDA=2.55 STOCH SEED=12345 QUIET"}) {
    SCOPED_TRACE(line);
    const auto args = words(line);
    const bool quiet = args.back() == "QUIET";
    std::mt19937 engine(12345u);
    std::string seed_line;
    if (!quiet) {
      const int r1 = static_cast<int>(engine() >> 17);
      const int r2 = static_cast<int>(engine() >> 17);
      const int r3 = static_cast<int>(engine() >> 17);
      seed_line = "seed=12345, rand#'s:" + std::to_string(r3) + " " + std::to_string(r2) + " " +
                  std::to_string(r1) + "\n";
    }
    const Simulated s = simulate(engine, 10, 3, 2.55, 0.6);
    const Outcome r = run_binary(args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, seed_line);
    EXPECT_EQ(r.out, (quiet ? "" : arg_echo(args)) + console_line(10, 3, 2.55, 0.6, 12345));
    EXPECT_EQ(r.file("occusim.sdh"), s.rows);
    EXPECT_EQ(r.file("occusim.inp"), "");

    int individuals = 0;
    for (int a : s.abundance) individuals += a;
    EXPECT_EQ(individuals, 25);
    const auto rows = parse_rows(r.file("occusim.sdh"));
    ASSERT_EQ(rows.size(), 10u);
    for (size_t i = 0; i < rows.size(); ++i) {
      ASSERT_EQ(rows[i].size(), 3u);
      for (int count : rows[i]) {
        EXPECT_GE(count, 0);
        EXPECT_LE(count, s.abundance[i]) << "site " << i;
      }
    }
  }
}

// LAMBDA=0 or below runs no count model: the occupancy tree takes the run and the driver
// reports its parameters.
TEST(Counts, NonPositiveLambdaRunsTheTree) {
  const std::string inp = "0 80.000000;\n1 20.000000;\n";
  const std::string sdh = "2\t1\n0\t80.000000\n1\t20.000000\n0\n0\n";
  for (const char* option : {"LAMBDA=0", "LAMBDA=-2"}) {
    SCOPED_TRACE(option);
    auto args = words("1 100 0.5 0.4");
    args.push_back(option);
    const Outcome r = run_binary(args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, arg_echo(args));
    EXPECT_EQ(r.err, "T=1 N=100.000000 psi=0.500000\np  = 0.400000\neps=\ngam=\n\n");
    EXPECT_EQ(r.file("occusim.inp"), inp);
    EXPECT_EQ(r.file("occusim.sdh"), sdh);
  }
}

// Sites or individuals beyond 2^31 - 1 are refused before any file exists.
TEST(Counts, RefusesCountsBeyondInt) {
  for (const char* line : {"1 2147483647.6 0.5 LAMBDA=1", "1 2 0.5 LAMBDA=1073741824",
                           "1 100000 0.5 LAMBDA=1e6", "1 1e300 0.5 LAMBDA=1"}) {
    SCOPED_TRACE(line);
    auto args = words(line);
    args.push_back("QUIET");
    const Outcome r = run_binary(args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.rfind("occusim2: ", 0), 0u) << r.err;
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
    EXPECT_NE(r.err.find("2147483647"), std::string::npos) << r.err;
    EXPECT_FALSE(r.has("occusim.sdh"));
    EXPECT_FALSE(r.has("occusim.inp"));
  }
}

// The order of draws, pinned with scripted integers: the m placement draws (32767 goes to the
// spare counter), then site by site, occasion by occasion, individual by individual; a count
// needs p strictly above draw / 32767.
TEST(CountsUnit, OrderOfDraws) {
  struct Case {
    const char* name;
    double N;
    int T;
    double lambda, p;
    std::vector<int> script;
    const char* rows;
  } cases[] = {
      // abundances 1, 0, 2 (21845 / 32767 * 3 is just above 2) and one spare individual
      {"order",
       3,
       2,
       1.5,
       0.5,
       {21845, 0, 32767, 21845, 16383, 0, 16384, 32767, 0, 16383},
       "1\t1\t\n0\t0\t\n0\t2\t\n"},
      {"p = 1 misses only 32767", 1, 1, 3, 1.0, {0, 5, 32767, 32767, 100}, "1\t\n"},
      {"p = 0 still draws", 1, 3, 2, 0.0, {0, 0, 0, 0, 0, 0, 0, 0}, "0\t0\t0\t\n"},
      {"T = 0 draws placements only", 2, 0, 1, 0.5, {0, 32767}, "\n\n"},
      {"m = 0 draws nothing", 4, 2, 0.2, 0.5, {}, "0\t0\t\n0\t0\t\n0\t0\t\n0\t0\t\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    occusim::reset_settings();
    occusim::fp2 = std::tmpfile();
    ASSERT_NE(occusim::fp2, nullptr);
    occusim::script_stream(c.script);
    int status = -1;
    EXPECT_NO_THROW(status = occusim::do_royle(c.N, c.T, c.lambda, c.p, 7));
    EXPECT_EQ(status, 0);
    EXPECT_EQ(occusim::draws_made(), static_cast<long long>(c.script.size()));
    std::fflush(occusim::fp2);
    std::rewind(occusim::fp2);
    std::string written;
    for (int ch; (ch = std::fgetc(occusim::fp2)) != EOF;) written += static_cast<char>(ch);
    EXPECT_EQ(written, c.rows);
    std::fclose(occusim::fp2);
    occusim::fp2 = nullptr;
  }
  occusim::reset_settings();
}

// The count checks on their own: the limit is the largest 32-bit count.
TEST(CountsUnit, CheckRoyleLimits) {
  EXPECT_EQ(occusim::check_royle(2147483647.0, 1.0), 0);
  EXPECT_EQ(occusim::check_royle(2147483647.6, 1.0), 1);  // n = 2147483648
  EXPECT_EQ(occusim::check_royle(2.0, 1073741823.5), 0);  // m = 2147483647
  EXPECT_EQ(occusim::check_royle(2.0, 1073741824.0), 1);  // m = 2147483648
  EXPECT_EQ(occusim::check_royle(100000.0, 1e6), 1);
}

}  // namespace
