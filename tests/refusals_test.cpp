// Hostile numbers on the command line, end to end: every numeric field with the values at
// and beyond the limits of its conversion (2^31 and around it, 1e308 and beyond, inf, nan,
// hex). Each is either refused (one line, status 1, no file created or emptied) or runs to
// a defined end. The cases marked "fuzz" are regressions of faults found by tools/fuzz_cli.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "support.h"

namespace {

using occusim::testing::Outcome;
using occusim::testing::run_binary;
using occusim::testing::words;

struct Refusal {
  const char* line;  // QUIET keeps the argument echo off the standard output
  const char* err;
};

const Refusal kRefusals[] = {
    // T: saturated to the int range, |INT_MIN| read as INT_MAX.
    {"2147483648 100 0.5 0.5 SIMTYPE QUIET",
     "occusim2: T=2147483647 occasions exceeds the limit of 10000000\n"},
    {"-2147483648 100 0.5 0.5 SIMTYPE QUIET",
     "occusim2: T=2147483647 occasions exceeds the limit of 10000000\n"},
    {"99999999999999999999 1 0.5 SIMTYPE LAMBDA=1 QUIET",
     "occusim2: T=2147483647 occasions exceeds the limit of 10000000\n"},
    {"2147483647 100 0.5 0.5 QUIET", "\nT must be < 30\n"},
    {"-2147483648 100 0.5 0.5 MULTISTATE SIMTYPE QUIET",
     "occusim2: the MULTISTATE layout needs 6442450945 values for T=2147483647; the command "
     "line has 7\n"},
    {"-2147483648 100 0.5 0.5 NSTATES=1 SIMTYPE QUIET",
     "occusim2: a multistate tree of 2147483647 occasions exceeds the limit of 18\n"},
    // N: forms that convert to infinity or not-a-number, and counts just past 2^31 - 1.
    {"2 1e999 0.5 0.5 QUIET", "occusim2: the number of sites '1e999' is not finite\n"},
    {"2 0x1p1024 0.5 0.5 QUIET", "occusim2: the number of sites '0x1p1024' is not finite\n"},
    {"1 -nan 0.5 0.5 0.5 0.5 0.5 MULTISTATE QUIET",
     "occusim2: the number of sites '-nan' is not finite\n"},
    {"-2 2147483648 0.5 0.5 QUIET",
     "occusim2: a stochastic run of 2147483648 sites exceeds the limit of 2147483647\n"},
    {"-2 -2147483648 0.5 0.5 QUIET",
     "occusim2: a stochastic run of -2147483648 sites exceeds the limit of 2147483647\n"},
    // fuzz: 2SP takes the run from SIMTYPE, so the run is a stochastic tree all the same;
    // 1e308 sites overflowed the sum of its rounded counts.
    {"-1 2147483648 0.5 0.4 0.2 0.5 0.5 0.5 0.5 0.5 2SP SIMTYPE QUIET",
     "occusim2: a stochastic run of 2147483648 sites exceeds the limit of 2147483647\n"},
    {"1 2147483648 0.5 0.5 SIMTYPE QUIET",
     "occusim2: a site-by-site run of 2147483648 sites exceeds the limit of 2147483647\n"},
    {"1 -2147483648.5 0.5 0.5 SIMTYPE QUIET",
     "occusim2: a site-by-site run of -2147483648 sites exceeds the limit of 2147483647\n"},
    {"1 2147483648.1 0.5 LAMBDA=1 QUIET",
     "occusim2: the count model's 2147483648 sites exceed the limit of 2147483647\n"},
    {"-1 2147483648 0.5 0.5 0.5 0.5 0.5 MULTISTATE QUIET",
     "occusim2: the MULTISTATE model's 2147483648 sites exceed the limit of 2147483647 in "
     "stochastic mode\n"},
    {"1 2147483647.5 0.5 0.5 0.5 0.5 0.5 MULTISTATE SIMTYPE QUIET",
     "occusim2: the MULTISTATE model's 2147483648 sites exceed the limit of 2147483647\n"},
    {"-1 -2147483649 0.6 0 0.5 NSTATES=2 QUIET",
     "occusim2: the NSTATES model's -2147483649 sites exceed the limit of 2147483647 in "
     "stochastic mode\n"},
    // LAMBDA=: individuals beyond 2^31 - 1, or no number of them at all.
    {"1 1 0.5 LAMBDA=2147483648 QUIET",
     "occusim2: the count model's 2147483648 individuals exceed the limit of 2147483647\n"},
    {"1 1 0.5 LAMBDA=inf QUIET",
     "occusim2: the count model's number of individuals is not finite (n=1, lambda=inf)\n"},
    // 0 sites times an infinite lambda is a NaN, whose printed sign depends on the machine
    // ("-nan" on x86): the message names the operands instead.
    {"1 0 0.5 LAMBDA=inf QUIET",
     "occusim2: the count model's number of individuals is not finite (n=0, lambda=inf)\n"},
    // NOBS, METH, NSTATES and NCOVS: saturated values.
    {"1 2 0.5 0.5 SIMTYPE NOBS=2147483648 QUIET",
     "occusim2: 4294967294 rows (NOBS=2147483647 for 2 sites) exceed the limit of 2147483647\n"},
    {"1 2 0.5 0.5 SIMTYPE NOBS=-2147483649 QUIET",
     "occusim2: -4294967296 rows (NOBS=-2147483648 for 2 sites) exceed the limit of "
     "2147483647\n"},
    {"1 100 0.5 0.5 METH=2147483648 QUIET",
     "occusim2: the METH=2147483647 layout needs 2147483650 values for T=1; the command line "
     "has 6\n"},
    {"1 100 0.5 0.5 0.5 NSTATES=2147483648 QUIET",
     "occusim2: NSTATES=2147483647 is outside the limit of 1 to 10\n"},
    {"1 100 0.5 0.5 0.5 NSTATES=-2147483649 QUIET",
     "occusim2: NSTATES=-2147483648 is outside the limit of 1 to 10\n"},
    {"1 100 0.5 0.5 0.5 NSTATES=nan QUIET",
     "occusim2: NSTATES=0 is outside the limit of 1 to 10\n"},
    {"2 100 0.5 0.5 QUIET NCOVS=2147483648",
     "occusim2: NCOVS=2147483647 needs 2147483647 coefficients after it; the command line has "
     "0\n"},
    {"2 100 0.5 0.5 QUIET NCOVS=-2147483649",
     "occusim2: NCOVS=-2147483648 is negative; the limit is 0 or more\n"},
    // fuzz: with T = 0 no layout bounds METH; INT_MAX methods overflowed the int counter of
    // the method loop (UBSan) and printed 2^31 report rows.
    {"0 1 0.5 1 METH=2147483647 QUIET",
     "occusim2: METH=2147483647 exceeds the limit of 24 methods\n"},
    {"METH:2147483647 .5 1.263 0.3 QUIET",
     "occusim2: METH=2147483647 exceeds the limit of 24 methods\n"},
    {"0 1 0.5 0.4 0.2 2SP METH=25 QUIET", "occusim2: METH=25 exceeds the limit of 24 methods\n"},
    {"1 100 0.5 0.1 0.2 0.3 0.4 0.5 0.6 0.7 0.8 0.9 0.1 0.2 0.3 0.4 0.5 0.6 0.7 0.8 0.9 0.1 0.2 "
     "0.3 0.4 0.5 0.6 0.7 METH=25 QUIET",
     "occusim2: METH=25 exceeds the limit of 24 methods\n"},
};

TEST(HostileNumbers, RefusedBeforeAnyFile) {
  for (const Refusal& c : kRefusals) {
    SCOPED_TRACE(c.line);
    // A data file from an earlier run must survive the refusal unchanged.
    const Outcome r = run_binary(words(c.line), "printf keep > occusim.sdh");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.files.at("occusim.sdh"), "keep");
    EXPECT_FALSE(r.has("occusim.inp"));
    EXPECT_FALSE(r.has("occusim.tmp"));
  }
}

// Hostile numbers where the run is cheap: it ends with status 0 and its defined output.
TEST(HostileNumbers, RunToTheirEnd) {
  char huge_lambda[400];
  std::snprintf(huge_lambda, sizeof huge_lambda, "%f", 1e308);
  struct Run {
    const char* line;
    std::string out, sdh, inp;
  } runs[] = {
      // Zero occasions and 24 methods: nper = 0, one history of no positions holding the
      // unoccupied half (0.5) and the occupied half, which theta 0 leaves unavailable.
      {"0 1 0.5 1 METH=24 QUIET", "", "1\t0\n1.000000\n0\n0\n", " 1.000000;\n"},
      // n = 0.2 + 0.4999 truncated = 0 sites, so 0 * 1e308 = 0 individuals: no row.
      {"1 0.2 0.5 LAMBDA=1e308 SEED=1 QUIET",
       std::string("n=0 t=1 lam=") + huge_lambda + " p=0.500000 ix=1\n", "", ""},
      // LAMBDA=nan is not above 0, so the single-season tree runs (deterministic: 100 * 0.5
      // absent, half of the rest detected).
      {"1 100 0.5 0.5 LAMBDA=nan QUIET", "", "2\t1\n0\t75.000000\n1\t25.000000\n0\n0\n",
       "0 75.000000;\n1 25.000000;\n"},
      // A seed beyond the int range is cut to its nearest end, as the count model's line
      // shows; with p = 0 every count of the three sites is 0, whatever the draws.
      {"1 3 0 LAMBDA=1 SEED=99999999999999999999 QUIET",
       "n=3 t=1 lam=1.000000 p=0.000000 ix=2147483647\n", "0\t\n0\t\n0\t\n", ""},
      {"1 3 0 LAMBDA=1 SEED=-99999999999999999999 QUIET",
       "n=3 t=1 lam=1.000000 p=0.000000 ix=-2147483648\n", "0\t\n0\t\n0\t\n", ""},
  };
  for (const Run& c : runs) {
    SCOPED_TRACE(c.line);
    const Outcome r = run_binary(words(c.line));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.file("occusim.sdh"), c.sdh);
    EXPECT_EQ(r.file("occusim.inp"), c.inp);
    EXPECT_FALSE(r.has("occusim.tmp"));
  }
}

}  // namespace
