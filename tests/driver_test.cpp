// End-to-end cases of the run driver: usage text, option scan and first option index, layouts,
// run report, stochastic mode and seed line, refusals and failed opens. Every case runs the
// real binary in a fresh directory and compares the exact bytes of both files, both console
// streams and the exit status. Expected frequencies come from the models' own probabilities
// (an enumeration of the latent presence states), not from the tree.
#include <gtest/gtest.h>

#include <cctype>
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
using occusim::testing::run_inprocess;
using occusim::testing::words;

namespace {

// Frequencies of the single- and multi-season model: N times the probability of each history,
// summed over every sequence of latent presence states. eps[k] and gam[k] (k = 1 .. T-1) are the
// changes between occasion k and k+1; slot 0 is unused.
std::vector<double> season_frequencies(double N, double psi, const std::vector<double>& p,
                                       const std::vector<double>& eps,
                                       const std::vector<double>& gam) {
  const int T = static_cast<int>(p.size());
  const int codes = 1 << T;
  std::vector<double> nx(codes, 0.0);
  auto bit = [T](int code, int occasion) { return (code >> (T - occasion)) & 1; };
  for (int z = 0; z < codes; ++z) {
    double pz = bit(z, 1) ? psi : 1 - psi;
    for (int k = 1; k < T; ++k) {
      const bool before = bit(z, k);
      const bool after = bit(z, k + 1);
      pz *= before ? (after ? 1 - eps[k] : eps[k]) : (after ? gam[k] : 1 - gam[k]);
    }
    for (int h = 0; h < codes; ++h) {
      double ph = pz;
      for (int k = 1; k <= T; ++k) {
        if (bit(z, k)) {
          ph *= bit(h, k) ? p[k - 1] : 1 - p[k - 1];
        } else if (bit(h, k)) {
          ph = 0;
        }
      }
      nx[h] += N * ph;
    }
  }
  return nx;
}

struct Files {
  std::string inp;
  std::string sdh;
  std::string echo;  // the LIST echo on the standard error stream
};

// Both files as the single-species writer pass lays them out, from a table of counts. 'dots'
// marks with '.' the positions that P0MISS writes as missing.
Files writer_files(const std::vector<double>& nx, int positions, bool stochastic,
                   const std::string& dots = std::string()) {
  Files f;
  long long rows = 0;
  for (double count : nx) {
    if (stochastic) {
      rows += static_cast<long long>(std::floor(count + 0.5));
    } else if (count > 0) {
      ++rows;
    }
  }
  f.sdh = format("%lld\t%d\n", rows, positions);
  for (size_t code = 0; code < nx.size(); ++code) {
    if (!(nx[code] > 0)) continue;
    std::string text;
    for (int k = 1; k <= positions; ++k) {
      const bool missing = !dots.empty() && dots[k - 1] == '.';
      text += missing ? '.' : (((code >> (positions - k)) & 1) ? '1' : '0');
    }
    f.inp += format("%s %lf;\n", text.c_str(), nx[code]);
    f.echo += format(">%s %lf;\n", text.c_str(), nx[code]);
    std::string row;
    for (char c : text) row += std::string(1, c) + "\t";
    if (stochastic) {
      for (long long i = 0; i < static_cast<long long>(std::floor(nx[code] + 0.5)); ++i) {
        f.sdh += row + "\n";
      }
    } else {
      f.sdh += row + format("%f", nx[code]) + "\n";
    }
  }
  f.sdh += "0\n0\n";
  return f;
}

// Run report, default form.
std::string default_report(double N, double psi, const std::vector<double>& p,
                           const std::vector<double>& eps, const std::vector<double>& gam) {
  const int T = static_cast<int>(p.size());
  std::string text = format("T=%d N=%lf psi=%lf\np  =", T, N, psi);
  for (double v : p) text += format(" %lf", v);
  text += "\neps=";
  for (int k = 1; k < T; ++k) text += format(" %lf", eps[k]);
  text += "\ngam=";
  for (int k = 1; k < T; ++k) text += format(" %lf", gam[k]);
  return text + "\n\n";
}

// True when 'token' stands in 'line' as a word of its own (not as part of a longer number).
bool has_word(const std::string& line, const std::string& token) {
  for (size_t at = line.find(token); at != std::string::npos; at = line.find(token, at + 1)) {
    const bool open = at == 0 || !std::isalnum(static_cast<unsigned char>(line[at - 1]));
    const size_t end = at + token.size();
    const bool close = end == line.size() || !std::isalnum(static_cast<unsigned char>(line[end]));
    if (open && close) return true;
  }
  return false;
}

}  // namespace

TEST(Driver, TypicalRunOfTheOverview) {
  const auto args = words("3 100 0.5 0.3 0.4 0.5 0.1 0.2 0.05 0.1");
  const Outcome r = run_binary(args);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "ARG[1]:3\nARG[2]:100\nARG[3]:0.5\nARG[4]:0.3\nARG[5]:0.4\nARG[6]:0.5\nARG[7]:0.1\n"
            "ARG[8]:0.2\nARG[9]:0.05\nARG[10]:0.1\n");
  EXPECT_EQ(r.err,
            "T=3 N=100.000000 psi=0.500000\n"
            "p  = 0.300000 0.400000 0.500000\n"
            "eps= 0.100000 0.200000\n"
            "gam= 0.050000 0.100000\n"
            "\n");
  // 100 x P(history): for instance 111 = 100 * 0.5*0.3 * 0.9*0.4 * 0.8*0.5 = 2.16, and
  // 000 = 100 * (0.5*0.7*(0.9*0.6*(0.8*0.5+0.2) + 0.1*(0.1*0.5+0.9)) + 0.5*(0.05*0.6*(0.8*0.5
  // + 0.2) + 0.95*(0.1*0.5+0.9))) = 60.69.
  EXPECT_EQ(r.file("occusim.inp"),
            "000 60.690000;\n001 10.710000;\n010 8.160000;\n011 5.440000;\n"
            "100 6.285000;\n101 3.315000;\n110 3.240000;\n111 2.160000;\n");
  EXPECT_EQ(r.file("occusim.sdh"),
            "8\t3\n"
            "0\t0\t0\t60.690000\n0\t0\t1\t10.710000\n0\t1\t0\t8.160000\n0\t1\t1\t5.440000\n"
            "1\t0\t0\t6.285000\n1\t0\t1\t3.315000\n1\t1\t0\t3.240000\n1\t1\t1\t2.160000\n"
            "0\n0\n");
  EXPECT_FALSE(r.has("occusim.tmp"));
}

TEST(Driver, UsageTextForFewerThanFourArguments) {
  const std::string usage =
      "usage occusim2 T N psi p p p... eps eps eps... gam gam gam ...[opts]      or\n"
      "      occusim2 T N psiA psiB1 psiB2 pA pB rA rB1 rB2 2SP                  or\n"
      "      occusim2 T N psi p p p... theta theta theta... METH=M [opts] or\n"
      "      occusim2 T N psi ssPsi1 ssPsi2 p1 p2 SSOCC=1 [opts] or\n"
      "      occusim2 T N psi0... psi1... psi2... R... p1... p2... dlta... MULTISTATE\n"
      "      occusim2 T N psi(0),psi(1),...p(1),p(2),... NSTATES=x MULTISTATE\n"
      "      occusim2 T N p LAMBDA=x\n"
      "  where T=number of sampling occasions,\n"
      "        N=total number of surveyed sites,\n"
      "        psi=probability species is present at a site,\n"
      "        p=detection probability\n"
      "        eps=extinction rate from sample i to i+1,\n"
      "        gam=prop of extinct sites which colonize between sample i and i+1,\n"
      "    opts: STOCHASTIC, NOMARK, LIST, HIST QUIET NOBS=n SIMTYPE=j\n\n"
      "psi0= prob adults of species are present|not present in i-1\n"
      "psi1= prob adults of species are present|adults present in i-1\n"
      "psi2= prob adults of species are present|breeders present in i-1\n"
      "R   = prob breeders of species are present|adults present\n"
      "p1  = prob of detecting non-breeding adults\n"
      "p2  = prob of detecting breeding adults\n"
      "dlta= prob of detecting young with breeding adults\n\n"
      "psiAB= prob of both species present                           N \n"
      "psiA= prob species A present, regardless of species B        / \\psiA   \n"
      "psiB= prob species B present, regardless of species A       x   A      \n"
      "psiB1=prob species B present | species A present           / \\ / \\psiB1\n"
      "psiB2=prob species B present | species A not present       0 B A  AB   \n"
      "           psiB=psiB2*(1-psiA)+psiAB\n"
      "pA=prob detect A | only A present\n"
      "pB=prob detect B | only B present\n"
      "rA=prob detect A, regardless of B\n"
      "rB1=prob detect B | detected A    \n"
      "rB2=prob detect B | not detected A                          AB \n"
      "rAB=prob detect B | both species present                   / \\rA\n"
      "rAb=prob detect A, not B|both species present             0   A      \n"
      "raB=prob detect B, not A|both species present            / \\ / \\rB1\n"
      "rab=prob detect neither |both species present           0  2 1   3   \n"
      "\nSIMTYPE=2: simulate by site\n\n"
      "psi(0)= vector of psi for just before occasion 1\n"
      "psi(1)= matrix of psi for just before occasion 2\n"
      "p(1)= matrix of p at  occasion 1\n"
      "psi(i,r,s)= [in state r @ i] [in state s @ i-1]\n"
      "p(i,r,s)= [cap in r @ i] [true state=s]\n";
  // Even words that would be options do not count: the argument count alone decides.
  for (const char* line : {"", "3", "3 100 0.5", "-3 QUIET LIST"}) {
    SCOPED_TRACE(line);
    const Outcome r = run_binary(words(line), "printf keep > occusim.sdh");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, usage);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.file("occusim.sdh"), "keep");
    EXPECT_FALSE(r.has("occusim.inp"));
  }
}

// Deterministic single- and multi-season runs: which arguments the layout reads depends on the
// first option index, which only words holding a keyword of the option scan lower.
struct SeasonCase {
  const char* line;
  double psi;
  std::vector<double> p, eps, gam;  // eps and gam: slot k between occasion k and k + 1
  bool quiet;
  bool list;
  std::string dots;  // positions that P0MISS writes as '.'
};

TEST(Driver, OptionScanAndFirstOptionIndex) {
  const SeasonCase cases[] = {
      // Four arguments start a run; T = 1 shows the bare eps= and gam= labels.
      {"1 100 0.5 0.4", 0.5, {0.4}, {0}, {0}, false, false, ""},
      // LIST in the middle: index 9, so the gam values behind it are not read.
      {"3 100 0.5 0.3 0.3 0.3 0.1 0.1 LIST 0.2 0.2",
       0.5,
       {0.3, 0.3, 0.3},
       {0, 0.1, 0.1},
       {0, 0, 0},
       false,
       true,
       ""},
      // NOMARK is no option: it converts to 0 and the index stays at 9.
      {"3 100 0.5 0.3 0.3 0.3 NOMARK 0.1 LIST 0.2 0.2",
       0.5,
       {0.3, 0.3, 0.3},
       {0, 0, 0.1},
       {0, 0, 0},
       false,
       true,
       ""},
      // "quietly" silences the run but is no option: gam[1] is still read behind it.
      {"2 100 0.5 0.4 0.6 quietly 0.3", 0.5, {0.4, 0.6}, {0, 0}, {0, 0.3}, true, false, ""},
      // "QUIET" silences the run and is an option: nothing behind it is read.
      {"2 100 0.5 0.4 0.6 QUIET 0.3", 0.5, {0.4, 0.6}, {0, 0}, {0, 0}, true, false, ""},
      // xMETH=3 counts as an option and converts "H=3", giving METH = 0: a plain season run.
      {"2 100 0.5 0.4 0.6 xMETH=3 0.2 0.1", 0.5, {0.4, 0.6}, {0, 0}, {0, 0}, false, false, ""},
      // The word METH alone is shorter than its skip and reads 0.
      {"2 100 0.5 0.4 0.6 0.2 0.1 METH", 0.5, {0.4, 0.6}, {0, 0.2}, {0, 0.1}, false, false, ""},
      {"2 100 0.5 0.4 0.6 0.2 HIST 0.1", 0.5, {0.4, 0.6}, {0, 0.2}, {0, 0}, false, false, ""},
      // LAMBDA=0 runs no count model but counts as an option.
      {"2 100 0.5 0.4 0.6 0.2 LAMBDA=0 0.1", 0.5, {0.4, 0.6}, {0, 0.2}, {0, 0}, false, false, ""},
      // P0MISS with p = 0 at occasion 2 of 3: the histories 0.0, 0.1, 1.0, 1.1.
      {"3 100 0.5 0.3 0 0.5 P0MISS LIST",
       0.5,
       {0.3, 0, 0.5},
       {0, 0, 0},
       {0, 0, 0},
       false,
       true,
       "0.0"},
      {"3 100 0.25 0.5 0.75 0.5 0.25 0.5 0.125 0.75",
       0.25,
       {0.5, 0.75, 0.5},
       {0, 0.25, 0.5},
       {0, 0.125, 0.75},
       false,
       false,
       ""},
  };
  for (const SeasonCase& c : cases) {
    SCOPED_TRACE(c.line);
    const auto args = words(c.line);
    const Outcome r = run_binary(args);
    const int T = static_cast<int>(c.p.size());
    const Files f =
        writer_files(season_frequencies(100, c.psi, c.p, c.eps, c.gam), T, false, c.dots);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, c.quiet ? "" : argument_echo(args));
    EXPECT_EQ(r.err, (c.quiet ? "" : default_report(100, c.psi, c.p, c.eps, c.gam)) +
                         (c.list ? f.echo : ""));
    EXPECT_EQ(r.file("occusim.inp"), f.inp);
    EXPECT_EQ(r.file("occusim.sdh"), f.sdh);
  }
}

TEST(Driver, SingleSeasonExampleAndCoefficientEcho) {
  // NCOVS=2 0.5 -1: three coefficient lines after the argument echo; a tree run ignores them.
  const auto args = words("2 100 0.5 0.4 0.6 NCOVS=2 0.5 -1");
  const Outcome r = run_binary(args);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, argument_echo(args) + "coef(0)=1.000000\ncoef(1)=0.500000\ncoef(2)=-1.000000\n");
  EXPECT_EQ(r.err,
            "T=2 N=100.000000 psi=0.500000\np  = 0.400000 0.600000\neps= 0.000000\n"
            "gam= 0.000000\n\n");
  EXPECT_EQ(r.file("occusim.inp"), "00 62.000000;\n01 18.000000;\n10 8.000000;\n11 12.000000;\n");
  EXPECT_EQ(r.file("occusim.sdh"),
            "4\t2\n0\t0\t62.000000\n0\t1\t18.000000\n1\t0\t8.000000\n1\t1\t12.000000\n0\n0\n");
}

// Multi-method runs: detection block method by method from argument 4, theta block behind it.
TEST(Driver, MultiMethodRuns) {
  struct Case {
    const char* line;
    std::string report;
    std::string inp;
    std::string sdh;
  };
  const Case cases[] = {
      {"1 100 0.5 0.5 0.5 0.6 METH=2",
       "T=1 N=100.000000 psi=0.500000\np=\n 0.500000\n 0.500000\ntheta= 0.600000\n\n",
       "00 77.500000;\n01 7.500000;\n10 7.500000;\n11 7.500000;\n",
       "4\t2\n0\t0\t77.500000\n0\t1\t7.500000\n1\t0\t7.500000\n1\t1\t7.500000\n0\n0\n"},
      // Theta stands at the first option index: it is not read, no site is ever available.
      {"1 100 0.5 0.5 0.5 METH=2 0.6",
       "T=1 N=100.000000 psi=0.500000\np=\n 0.500000\n 0.500000\ntheta= 0.000000\n\n",
       "00 100.000000;\n", "1\t2\n0\t0\t100.000000\n0\n0\n"},
      // METH=1: the multi-method report form (theta row of zeros) on a single-season run.
      {"2 100 0.5 0.4 0.6 METH=1",
       "T=2 N=100.000000 psi=0.500000\np=\n 0.400000 0.600000\ntheta= 0.000000 0.000000\n\n",
       "00 62.000000;\n01 18.000000;\n10 8.000000;\n11 12.000000;\n",
       "4\t2\n0\t0\t62.000000\n0\t1\t18.000000\n1\t0\t8.000000\n1\t1\t12.000000\n0\n0\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    const auto args = words(c.line);
    const Outcome r = run_binary(args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, argument_echo(args));
    EXPECT_EQ(r.err, c.report);
    EXPECT_EQ(r.file("occusim.inp"), c.inp);
    EXPECT_EQ(r.file("occusim.sdh"), c.sdh);
  }
}

TEST(Driver, ThreeMethodsTwoOccasionsWriteSixPositions) {
  // Method 1 at occasions 1, 2; method 2; method 3; then theta 1, 2. Dyadic values keep every
  // frequency exact.
  const double p[3][2] = {{0.5, 0.25}, {0.75, 0.5}, {0.25, 0.5}};  // p[method][occasion]
  const double theta[2] = {0.5, 0.75};
  const double N = 100, psi = 0.5;
  const auto args = words("2 100 0.5 0.5 0.25 0.75 0.5 0.25 0.5 0.5 0.75 METH=3");
  const Outcome r = run_binary(args);
  // Position k = (occasion - 1) * 3 + method: history bit 6 - k.
  std::vector<double> nx(64, 0.0);
  for (int h = 0; h < 64; ++h) {
    double occupied = psi;
    for (int j = 0; j < 2; ++j) {
      double seen = theta[j];
      bool none = true;
      for (int m = 0; m < 3; ++m) {
        const bool bit = (h >> (5 - (j * 3 + m))) & 1;
        none = none && !bit;
        seen *= bit ? p[m][j] : 1 - p[m][j];
      }
      occupied *= seen + (none ? 1 - theta[j] : 0.0);
    }
    nx[h] = N * (occupied + (h == 0 ? 1 - psi : 0.0));
  }
  const Files f = writer_files(nx, 6, false);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err,
            "T=2 N=100.000000 psi=0.500000\np=\n 0.500000 0.250000\n 0.750000 0.500000\n"
            " 0.250000 0.500000\ntheta= 0.500000 0.750000\n\n");
  EXPECT_EQ(f.sdh.substr(0, 5), "64\t6\n");
  EXPECT_EQ(r.file("occusim.inp"), f.inp);
  EXPECT_EQ(r.file("occusim.sdh"), f.sdh);
}

// The one random stream as the test sees it: std::mt19937, draws of its top 15 bits.
struct Stream {
  std::mt19937 engine;
  explicit Stream(uint32_t seed) : engine(seed) {}
  int draw() { return static_cast<int>(engine() >> 17); }
  // Number of successes of the whole trials of a group of n sites (n <= 300).
  double trials(double n, double p) {
    double successes = 0;
    for (int i = 1; i <= n; ++i) successes += draw() / 32767.0 <= p ? 1 : 0;
    return successes;
  }
};

// A stochastic T = 2 run of up to 300 sites with no extinction or colonization: the persistence
// and colonization splits (p exactly 1 and 0) draw nothing, so the draws are psi's trials, then
// occasion 1's for the present sites, then occasion 2's for the detected, then the undetected.
std::vector<double> two_occasions(Stream& s, double N, double psi, double p1, double p2) {
  std::vector<double> nx(4, 0.0);
  const double present = s.trials(N, psi);
  const double d1 = s.trials(present, p1);
  const double d11 = s.trials(d1, p2);
  const double d01 = s.trials(present - d1, p2);
  nx[3] = d11;
  nx[2] = d1 - d11;
  nx[1] = d01;
  nx[0] = present - d1 - d01 + (N - present);
  return nx;
}

TEST(Driver, StochasticModeAndSeedLine) {
  struct Case {
    const char* line;
    uint32_t seed;
    bool quiet;
  };
  const Case cases[] = {
      {"-2 40 0.6 0.5 0.7 SEED=11", 11, false},
      {"2 40 0.6 0.5 0.7 STOCH SEED=11", 11, false},
      {"-2 40 0.6 0.5 0.7 SEED=11 QUIET", 11, true},
      {"2 40 0.6 0.5 0.7 STOCHASTIC seed=11 quiet", 11, true},
      // The last of several seed arguments wins; a bare SEED reads 0.
      {"-2 40 0.6 0.5 0.7 SEED=5 seed=11", 11, false},
      {"-2 40 0.6 0.5 0.7 SEED", 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    const auto args = words(c.line);
    const Outcome r = run_binary(args);
    Stream s(c.seed);
    std::string seed_line;
    if (!c.quiet) {
      const int r1 = s.draw(), r2 = s.draw(), r3 = s.draw();
      seed_line = format("seed=%u, rand#'s:%d %d %d\n", c.seed, r3, r2, r1);
    }
    const Files f = writer_files(two_occasions(s, 40, 0.6, 0.5, 0.7), 2, true);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, c.quiet ? "" : argument_echo(args));
    EXPECT_EQ(r.err,
              c.quiet ? "" : seed_line + default_report(40, 0.6, {0.5, 0.7}, {0, 0}, {0, 0}));
    EXPECT_EQ(r.file("occusim.inp"), f.inp);
    EXPECT_EQ(r.file("occusim.sdh"), f.sdh);
  }
  // The three draws of the seed line shift the data: at this seed they really differ.
  Stream loud(11), quiet(11);
  for (int i = 0; i < 3; ++i) loud.draw();
  EXPECT_NE(two_occasions(loud, 40, 0.6, 0.5, 0.7), two_occasions(quiet, 40, 0.6, 0.5, 0.7));
}

TEST(Driver, StochasticMultiMethodSplitsOccupiedSitesFirst) {
  const auto args = words("-1 30 0.5 0.4 0.8 0.6 METH=2 SEED=21 QUIET");
  const Outcome r = run_binary(args);
  // The driver's split of occupied sites, then availability at the first method, detection by
  // method 1, then method 2 for the detected and for the undetected available sites.
  Stream s(21);
  const double occupied = s.trials(30, 0.5);
  const double available = s.trials(occupied, 0.6);
  const double d1 = s.trials(available, 0.4);
  const double d11 = s.trials(d1, 0.8);
  const double d01 = s.trials(available - d1, 0.8);
  const std::vector<double> nx = {30 - occupied + (occupied - available) + (available - d1 - d01),
                                  d01, d1 - d11, d11};
  const Files f = writer_files(nx, 2, true);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.file("occusim.inp"), f.inp);
  EXPECT_EQ(r.file("occusim.sdh"), f.sdh);
}

TEST(Driver, CheckOfT) {
  struct Case {
    const char* line;
    std::string extra_out;
  };
  const Case cases[] = {
      {"30 100 0.5 0.5", ""},
      {"-30 100 0.5 0.5", ""},
      {"31 100 0.5 STOCH", ""},
      // The coefficient echo comes before the check.
      {"30 100 0.5 NCOVS=1 2", "coef(0)=1.000000\ncoef(1)=2.000000\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    const auto args = words(c.line);
    const Outcome r = run_binary(args, "printf keep > occusim.sdh");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, argument_echo(args) + c.extra_out);
    EXPECT_EQ(r.err, "\nT must be < 30\n");
    EXPECT_EQ(r.file("occusim.sdh"), "keep");
    EXPECT_FALSE(r.has("occusim.inp"));
  }
}

TEST(Driver, SimtypePassesTheCheckOfT) {
  // Site by site with no detection values given: every p is 0, so every history is all zeros
  // whatever the draws; 10 sites, one row and one list line each, then the covariate block.
  const Outcome r = run_binary(words("30 10 0.5 SIMTYPE=1 QUIET"));
  std::string zeros(30, '0');
  std::string row;
  for (int k = 0; k < 30; ++k) row += "0\t";
  std::string inp, sdh = "10\t30\n";
  for (int i = 0; i < 10; ++i) {
    inp += zeros + " 1;\n";
    sdh += row + "\n";
  }
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.file("occusim.inp"), inp);
  EXPECT_EQ(r.file("occusim.sdh"), sdh + "0\n0\n");
}

TEST(Driver, LongestTreeHistoryRuns) {
  // 24 positions are the table's limit. One stochastic site with no detection values: its
  // history is all zeros whatever psi's draw gives.
  const Outcome r = run_binary(words("-24 1 0.5 SEED=1 QUIET"));
  std::string zeros(24, '0');
  std::string row;
  for (int k = 0; k < 24; ++k) row += "0\t";
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.file("occusim.inp"), zeros + " 1.000000;\n");
  EXPECT_EQ(r.file("occusim.sdh"), "1\t24\n" + row + "\n0\n0\n");
}

// Refusals: one line "occusim2: ..." naming the value (and the limit or the number needed),
// status 1, and no output file created or emptied. The argument echo has already been printed.
TEST(Driver, Refusals) {
  std::string five_by_five = "5 100 0.5";
  for (int i = 0; i < 30; ++i) five_by_five += " 0.5";
  five_by_five += " METH=5";
  struct Case {
    std::string line;
    std::vector<std::string> named;  // words the message must contain
  };
  const Case cases[] = {
      {"25 100 0.5 0.5", {"25", "24"}},
      {"29 100 0.5 0.5", {"29", "24"}},
      {"-27 100 0.5 0.5 SEED=3", {"27", "24"}},
      {five_by_five, {"25", "24"}},
      // The detection block of METH=2 with T=2 needs 3 + 4 values.
      {"2 100 0.5 0.4 METH=2", {"METH=2", "7"}},
      {"2 100 0.5 0.4 0.6 NCOVS=-1", {"NCOVS=-1"}},
      {"2 100 0.5 0.4 0.6 NCOVS=3 1 2", {"NCOVS=3", "3"}},
      {"2 inf 0.5 0.4 0.6", {"inf"}},
      {"-2 -inf 0.5 0.4 0.6", {"-inf"}},
      {"-2 nan 0.5 0.4 0.6", {"nan"}},
      {"-2 3e9 0.5 0.4 0.6", {"3000000000", "2147483647"}},
      {"-2 -3e9 0.5 0.4 0.6", {"2147483647"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    const auto args = words(c.line);
    const Outcome r = run_binary(args, "printf keep > occusim.sdh");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, argument_echo(args));
    ASSERT_FALSE(r.err.empty());
    EXPECT_EQ(r.err.rfind("occusim2: ", 0), 0u) << r.err;
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
    for (const std::string& w : c.named) EXPECT_TRUE(has_word(r.err, w)) << w << " in " << r.err;
    EXPECT_EQ(r.file("occusim.sdh"), "keep");
    EXPECT_FALSE(r.has("occusim.inp"));
  }
}

TEST(Driver, DeterministicRunTakesManySites) {
  // The limit on counts is for stochastic runs only: 3e9 expected sites are fractions here.
  const Outcome r = run_binary(words("1 3e9 0.5 0.5 QUIET"));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.file("occusim.inp"), "0 2250000000.000000;\n1 750000000.000000;\n");
}

TEST(Driver, OutputFileThatCannotBeOpened) {
  const auto args = words("2 100 0.5 0.4 0.6");
  const std::string report =
      "T=2 N=100.000000 psi=0.500000\np  = 0.400000 0.600000\neps= 0.000000\ngam= 0.000000\n\n";
  const std::string inp = "00 62.000000;\n01 18.000000;\n10 8.000000;\n11 12.000000;\n";
  const std::string sdh =
      "4\t2\n0\t0\t62.000000\n0\t1\t18.000000\n1\t0\t8.000000\n1\t1\t12.000000\n0\n0\n";
  {
    const Outcome r = run_binary(args, "mkdir occusim.inp");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, argument_echo(args));
    EXPECT_EQ(r.err, "occusim.inp: Is a directory\n" + report);
    EXPECT_FALSE(r.has("occusim.inp"));
    EXPECT_EQ(r.file("occusim.sdh"), sdh);
  }
  {
    const Outcome r = run_binary(args, "mkdir occusim.sdh");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "occusim.sdh: Is a directory\n" + report);
    EXPECT_EQ(r.file("occusim.inp"), inp);
    EXPECT_FALSE(r.has("occusim.sdh"));
  }
  {
    const Outcome r = run_binary(args, "mkdir occusim.inp occusim.sdh");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "occusim.inp: Is a directory\noccusim.sdh: Is a directory\n" + report);
  }
}

TEST(Driver, InProcessRunsRepeatAfterReset) {
  const auto first = words("-3 50 0.5 0.3 0.4 0.5 0.2 0.1 0.3 0.2 SEED=9 QUIET");
  const auto other = words("2 100 0.5 0 0.6 0.7 METH=2 P0MISS STOCH QUIET");
  const Outcome a = run_inprocess(first);
  const Outcome b = run_inprocess(other);
  const Outcome again = run_inprocess(first);
  const Outcome binary = run_binary(first);
  EXPECT_EQ(a.status, 0);
  EXPECT_EQ(b.status, 0);
  EXPECT_EQ(again.status, 0);
  EXPECT_EQ(a.file("occusim.sdh").substr(0, 5), "50\t3\n");
  EXPECT_EQ(again.files, a.files);
  EXPECT_EQ(binary.files, a.files);
  EXPECT_NE(b.files, a.files);
}
