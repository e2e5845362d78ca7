// Site-by-site runs (SIMTYPE): rows, list lines and covariate block end to end against an
// independent simulation with the test's own std::mt19937; the order of draws of caphis3
// pinned with scripted integers.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "draws.h"
#include "settings.h"
#include "single_species.h"
#include "support.h"

using occusim::testing::argument_echo;
using occusim::testing::format;
using occusim::testing::Outcome;
using occusim::testing::run_binary;
using occusim::testing::words;

namespace {

// What a site-by-site run reads: tables of T + 1 slots, gam[0] psi, coef[0] the intercept.
struct Model {
  int T = 0;
  double N = 0;
  int nobs = 1;
  bool ssocc = false;
  double psi = 0;
  std::vector<double> pa, eps, gam;
  std::vector<double> coef = {1.0};

  static Model make(int T, double N, double psi, std::vector<double> p) {
    Model m;
    m.T = T;
    m.N = N;
    m.psi = psi;
    m.pa = std::move(p);
    m.pa.resize(T + 1, 0.0);
    m.eps.assign(T + 1, 0.0);
    m.gam.assign(T + 1, 0.0);
    m.gam[0] = psi;
    return m;
  }
};

struct Files {
  std::string sdh;
  std::string inp;
};

// The simulation, written from the model's description: covariates first, then per site the
// occupancy draw and per occasion the availability (SSOCC), detection and change draws.
Files simulate(const Model& m, const std::function<double()>& unif) {
  const int sites = static_cast<int>(m.N);
  const int ncovs = static_cast<int>(m.coef.size()) - 1;
  Files f;
  f.sdh = format("%d\t%d\n", sites * m.nobs, m.T);
  std::vector<std::vector<double>> cov(ncovs, std::vector<double>(sites));
  for (auto& row : cov) {
    for (auto& value : row) {
      value = -6.0;
      for (int i = 0; i < 12; ++i) value = unif() + value;
    }
  }
  for (int j = 0; j < sites; ++j) {
    double q = m.gam[0];
    if (ncovs >= 1) {
      double x = m.coef[0];
      for (int k = 1; k <= ncovs; ++k) x = x + m.coef[k] * cov[k - 1][j];
      q = 1.0 / (1.0 + std::exp(-x));
    }
    int occupied = unif() <= q ? 1 : 0;
    int previous = 0;
    std::string text;
    for (int k = 1; k <= m.T; ++k) {
      int available = 1;
      if (m.ssocc) {
        available = unif() <= m.gam[1 + previous] ? 1 : 0;
        previous = available;
      }
      char c = '0';
      if (unif() < m.pa[k - 1]) c = static_cast<char>('0' + occupied * available);
      text += c;
      const double change = (occupied == 0 && !m.ssocc) ? m.gam[k] : m.eps[k];
      if (unif() < change) occupied = 1 - occupied;
    }
    f.inp += text + format(" %d;\n", m.nobs);
    std::string row;
    for (char c : text) row += std::string(1, c) + "\t";
    for (int i = 0; i < m.nobs; ++i) f.sdh += row + "\n";
  }
  f.sdh += format("%d\n", ncovs);
  for (int k = 1; k <= ncovs; ++k) {
    f.sdh += format("cov%d\n", k);
    for (double value : cov[k - 1]) f.sdh += format("%f\n", value);
  }
  f.sdh += "0\n";
  return f;
}

Files simulate(const Model& m, std::mt19937& engine) {
  return simulate(m, [&engine] { return static_cast<int>(engine() >> 17) / 32767.0; });
}

std::string report(const Model& m) {
  std::string text = format("T=%d N=%f psi=%f\np  =", m.T, m.N, m.psi);
  for (int i = 0; i < m.T; ++i) text += format(" %f", m.pa[i]);
  text += "\neps=";
  for (int i = 1; i < m.T; ++i) text += format(" %f", m.eps[i]);
  text += "\ngam=";
  for (int i = 1; i < m.T; ++i) text += format(" %f", m.gam[i]);
  return text + "\n\n";
}

std::string coefficient_echo(const Model& m) {
  std::string text;
  if (m.coef.size() < 2) return text;
  for (size_t i = 0; i < m.coef.size(); ++i) text += format("coef(%zu)=%f\n", i, m.coef[i]);
  return text;
}

std::string numbers(int count, double value) {
  std::string text;
  for (int i = 0; i < count; ++i) text += format(" %g", value);
  return text;
}

struct Case {
  std::string line;
  Model model;
};

std::vector<Case> deterministic_cases() {
  std::vector<Case> cases;
  {
    Model m = Model::make(2, 5, 0.5, {0.5, 0.5});
    m.nobs = 3;
    cases.push_back({"2 5 0.5 0.5 0.5 NOBS=3 SIMTYPE", m});
  }
  {
    Model m = Model::make(3, 4, 0.5, {0.6, 0.7, 0.8});
    m.coef = {1.0, 0.5, -1.0};
    cases.push_back({"3 4 0.5 0.6 0.7 0.8 SIMTYPE NCOVS=2 0.5 -1", m});
  }
  {
    Model m = Model::make(3, 6, 0.6, {0.7, 0.8, 0.9});
    m.eps[1] = 0.3, m.eps[2] = 0.4, m.gam[1] = 0.2, m.gam[2] = 0.5;
    cases.push_back({"3 6 0.6 0.7 0.8 0.9 0.3 0.4 0.2 0.5 SIMTYPE=2", m});
  }
  {
    Model m = Model::make(3, 6, 0.6, {0.7, 0.8, 0.9});
    m.ssocc = true;
    m.gam[1] = 0.4, m.gam[2] = 0.8;
    cases.push_back({"3 6 0.6 0.4 0.8 0.7 0.8 0.9 SSOCC SIMTYPE", m});
  }
  {
    // Thirty occasions pass the check on T when SIMTYPE is given.
    Model m = Model::make(30, 3, 0.5, std::vector<double>(30, 0.5));
    cases.push_back({"30 3 0.5" + numbers(30, 0.5) + " SIMTYPE", m});
  }
  {
    // Beyond 40 detection and 32 change slots, multi-season.
    Model m = Model::make(41, 2, 0.5, std::vector<double>(41, 0.75));
    for (int k = 1; k <= 40; ++k) m.eps[k] = 0.25, m.gam[k] = 0.5;
    cases.push_back({"41 2 0.5" + numbers(41, 0.75) + numbers(40, 0.25) + numbers(40, 0.5) +
                         " SIMTYPE NCOVS=1 0.5",
                     m});
    cases.back().model.coef = {1.0, 0.5};
  }
  return cases;
}

// Deterministic mode draws from the unseeded stream: the same bytes at every run, equal to
// the simulation with a default-constructed engine.
TEST(SiteBySite, DeterministicRunsRepeatTheUnseededStream) {
  for (const auto& c : deterministic_cases()) {
    SCOPED_TRACE(c.line);
    const auto args = words(c.line);
    std::mt19937 engine;
    const Files expected = simulate(c.model, engine);
    const Outcome first = run_binary(args);
    const Outcome second = run_binary(args);
    EXPECT_EQ(first.status, 0);
    EXPECT_EQ(first.out, argument_echo(args) + coefficient_echo(c.model));
    EXPECT_EQ(first.err, report(c.model));
    EXPECT_EQ(first.file("occusim.sdh"), expected.sdh);
    EXPECT_EQ(first.file("occusim.inp"), expected.inp);
    EXPECT_FALSE(first.has("occusim.tmp"));
    EXPECT_EQ(second.file("occusim.sdh"), first.file("occusim.sdh"));
    EXPECT_EQ(second.file("occusim.inp"), first.file("occusim.inp"));
  }
}

TEST(SiteBySite, StochasticRunsFollowTheSeed) {
  struct Seeded {
    const char* line;
    uint32_t seed;
    bool quiet;
    std::vector<double> coef;
  };
  const Seeded cases[] = {
      {"-2 5 0.5 0.5 0.5 SIMTYPE SEED=77", 77, false, {1.0}},
      {"-2 5 0.5 0.5 0.5 SIMTYPE SEED=77 QUIET", 77, true, {1.0}},
      {"2 5 0.5 0.5 0.5 SIMTYPE STOCH NCOVS=1 -0.5 seed=123", 123, false, {1.0, -0.5}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    Model m = Model::make(2, 5, 0.5, {0.5, 0.5});
    m.coef = c.coef;
    std::mt19937 engine(c.seed);
    std::string err;
    if (!c.quiet) {
      const int r1 = static_cast<int>(engine() >> 17);
      const int r2 = static_cast<int>(engine() >> 17);
      const int r3 = static_cast<int>(engine() >> 17);
      err = format("seed=%u, rand#'s:%d %d %d\n", c.seed, r3, r2, r1) + report(m);
    }
    const Files expected = simulate(m, engine);
    const auto args = words(c.line);
    const Outcome r = run_binary(args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, c.quiet ? "" : argument_echo(args) + coefficient_echo(m));
    EXPECT_EQ(r.err, err);
    EXPECT_EQ(r.file("occusim.sdh"), expected.sdh);
    EXPECT_EQ(r.file("occusim.inp"), expected.inp);
  }
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> result;
  for (size_t at = 0; at < text.size();) {
    const size_t end = text.find('\n', at);
    result.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  return result;
}

// Line counts and forms by hand, whatever the draws.
TEST(SiteBySite, FileStructure) {
  // Five sites, three identical rows each, one list line each ending " 3;".
  const Outcome r = run_binary(words("2 5 0.5 0.5 0.5 NOBS=3 SIMTYPE QUIET"));
  const auto data = lines(r.file("occusim.sdh"));
  const auto list = lines(r.file("occusim.inp"));
  ASSERT_EQ(data.size(), 1 + 15 + 2u);
  ASSERT_EQ(list.size(), 5u);
  EXPECT_EQ(data[0], "15\t2");
  for (int site = 0; site < 5; ++site) {
    const std::string& row = data[1 + 3 * site];
    ASSERT_EQ(row.size(), 4u);
    EXPECT_TRUE((row[0] == '0' || row[0] == '1') && (row[2] == '0' || row[2] == '1')) << row;
    EXPECT_EQ(row[1], '\t');
    EXPECT_EQ(row[3], '\t');
    EXPECT_EQ(data[2 + 3 * site], row);
    EXPECT_EQ(data[3 + 3 * site], row);
    EXPECT_EQ(list[site], (std::string{row[0], row[2]} + " 3;"));
  }
  EXPECT_EQ(data[16], "0");  // no covariates: the two lines "0", "0"
  EXPECT_EQ(data[17], "0");

  // Two covariates over four sites: the count, then each name line and its four values.
  const Outcome covs = run_binary(words("3 4 0.5 0.6 0.7 0.8 SIMTYPE NCOVS=2 0.5 -1 QUIET"));
  const auto block = lines(covs.file("occusim.sdh"));
  ASSERT_EQ(block.size(), 1 + 4 + 1 + 2 * 5 + 1u);
  EXPECT_EQ(block[5], "2");
  EXPECT_EQ(block[6], "cov1");
  EXPECT_EQ(block[11], "cov2");
  for (int i : {7, 8, 9, 10, 12, 13, 14, 15}) {
    const double value = std::strtod(block[i].c_str(), nullptr);
    EXPECT_EQ(block[i], format("%f", value));
    EXPECT_LE(std::fabs(value), 6.0);
  }
  EXPECT_EQ(block[16], "0");

  // No sites: the header counts 0, the covariate block names its covariates with no values.
  const auto none_args = words("2 0 0.5 0.5 0.5 SIMTYPE NCOVS=2 1 1");
  const Outcome none = run_binary(none_args);
  EXPECT_EQ(none.status, 0);
  EXPECT_EQ(none.out,
            argument_echo(none_args) + "coef(0)=1.000000\ncoef(1)=1.000000\ncoef(2)=1.000000\n");
  EXPECT_EQ(none.err,
            "T=2 N=0.000000 psi=0.500000\np  = 0.500000 0.500000\neps= 0.000000\ngam= "
            "0.000000\n\n");
  EXPECT_EQ(none.file("occusim.sdh"), "0\t2\n2\ncov1\ncov2\n0\n");
  EXPECT_EQ(none.file("occusim.inp"), "");
}

// 5.7 sites are five sites throughout: header, rows, list lines and covariate values, drawn
// exactly as a run of 5 sites draws them.
TEST(SiteBySite, FractionalSitesCountTheWholePart) {
  const Outcome fractional = run_binary(words("2 5.7 0.5 0.5 0.5 NOBS=2 SIMTYPE NCOVS=1 1 QUIET"));
  const Outcome whole = run_binary(words("2 5 0.5 0.5 0.5 NOBS=2 SIMTYPE NCOVS=1 1 QUIET"));
  EXPECT_EQ(fractional.status, 0);
  EXPECT_EQ(fractional.file("occusim.sdh"), whole.file("occusim.sdh"));
  EXPECT_EQ(fractional.file("occusim.inp"), whole.file("occusim.inp"));
  Model m = Model::make(2, 5.7, 0.5, {0.5, 0.5});
  m.nobs = 2;
  m.coef = {1.0, 1.0};
  std::mt19937 engine;
  const Files expected = simulate(m, engine);
  EXPECT_EQ(fractional.file("occusim.sdh"), expected.sdh);
  EXPECT_EQ(fractional.file("occusim.inp"), expected.inp);
  EXPECT_EQ(expected.sdh.rfind("10\t2\n", 0), 0u);
}

TEST(SiteBySite, MethodsWithSimtypeAreRefused) {
  const auto args = words("2 10 0.5 0.5 0.5 0.5 0.5 0.6 0.6 METH=2 SIMTYPE");
  const Outcome r = run_binary(args);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, argument_echo(args));
  ASSERT_EQ(r.err.rfind("occusim2: ", 0), 0u) << r.err;
  EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
  EXPECT_NE(r.err.find("METH"), std::string::npos);
  EXPECT_NE(r.err.find("SIMTYPE"), std::string::npos);
  EXPECT_FALSE(r.has("occusim.sdh"));
  EXPECT_FALSE(r.has("occusim.inp"));
}

// One covariate with coefficient 0: occupancy 1/(1 + e^-1) = 0.731059 whatever psi; with
// p = 1 a site is seen unless its detection draw is exactly 1 (1 in 32768), so the expected
// share of "1" is 0.731036. Over 20000 sites the standard error is 0.00314; the tolerance is
// four of them.
TEST(SiteBySite, CoefficientZeroGivesLogisticOfTheIntercept) {
  const Outcome r = run_binary(words("-1 20000 0.1 1 SIMTYPE NCOVS=1 0 SEED=2024 QUIET"));
  ASSERT_EQ(r.status, 0);
  const auto list = lines(r.file("occusim.inp"));
  ASSERT_EQ(list.size(), 20000u);
  long seen = 0;
  for (const auto& line : list) seen += line == "1 1;" ? 1 : 0;
  const double sites = 20000;
  const double expected = 1.0 / (1.0 + std::exp(-1.0)) * 32767.0 / 32768.0;
  const double se = std::sqrt(expected * (1 - expected) / 20000);
  EXPECT_NEAR(static_cast<double>(seen) / sites, expected, 4 * se);
}

// caphis3 itself with scripted integers: 0 passes every test, 32767 (u = 1) fails every
// chance below 1, 8192 is u = 0.25, 14745 is u = 0.45, 16384 is u = 0.500015. A draw made
// beyond the script throws; one skipped leaves draws_made() short.
constexpr int kPass = 0;
constexpr int kFail = 32767;
constexpr int kQuarter = 8192;
constexpr int kNearHalf = 14745;
constexpr int kHalf = 16384;

struct Scripted {
  const char* name;
  Model model;
  std::vector<int> script;
  std::string sdh;
  std::string inp;
};

std::vector<int> repeat(int value, int times) {
  return std::vector<int>(times, value);
}

std::vector<int> concat(std::initializer_list<std::vector<int>> parts) {
  std::vector<int> all;
  for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

std::vector<Scripted> scripted_cases() {
  std::vector<Scripted> cases;
  {
    // Per site: occupancy, then detection and change per occasion, for an unoccupied site
    // too; 2.7 sites are two.
    Model m = Model::make(2, 2.7, 0.5, {0.5, 0.5});
    cases.push_back({"unoccupied sites draw every detection and change",
                     m,
                     {kFail, kPass, kPass, kPass, kPass, kPass, kPass, kPass, kFail, kPass},
                     "2\t2\n0\t0\t\n1\t0\t\n0\n0\n",
                     "00 1;\n10 1;\n"});
  }
  {
    // Extinction eps[1] = 0.1 for the occupied site, colonization gam[1] = 0.5 for the
    // unoccupied one; u = 0.25 keeps the first and colonizes the second.
    Model m = Model::make(2, 2, 0.5, {1, 1});
    m.eps[1] = 0.1, m.gam[1] = 0.5;
    m.nobs = 2;
    cases.push_back({"multi-season change draws after each detection",
                     m,
                     {kPass, kPass, kQuarter, kPass, kPass, kFail, kPass, kQuarter, kPass, kPass},
                     "4\t2\n1\t1\t\n1\t1\t\n0\t1\t\n0\t1\t\n0\n0\n",
                     "11 2;\n01 2;\n"});
  }
  {
    // ssPsi1 0.3, ssPsi2 0.6, u = 0.45 is available only after an available occasion. The
    // unoccupied site reads extinction 0 as its change, so it never becomes occupied.
    Model m = Model::make(3, 3, 0.5, {1, 1, 1});
    m.ssocc = true;
    m.gam[1] = 0.3, m.gam[2] = 0.6;
    cases.push_back(
        {"SSOCC availability before detection and change", m,
         concat({{kPass},
                 {kPass, kPass, kPass, kNearHalf, kPass, kPass, kNearHalf, kPass, kPass},
                 {kFail},
                 {kPass, kPass, kPass, kNearHalf, kPass, kPass, kNearHalf, kPass, kPass},
                 {kPass},
                 {kNearHalf, kPass, kPass, kNearHalf, kPass, kPass, kPass, kPass, kPass}}),
         "3\t3\n1\t1\t1\t\n0\t0\t0\t\n0\t0\t1\t\n0\n0\n", "111 1;\n000 1;\n001 1;\n"});
  }
  {
    // Covariate 1 for both sites, then covariate 2: values -6, 6/32767, 6, -6. Site 1 has
    // x = 1 - 6 + 6 = 1 (occupied at u = 0.500015), site 2 x = -4.9998 (not occupied).
    Model m = Model::make(1, 2, 0.5, {1});
    m.coef = {1.0, 1.0, 1.0};
    cases.push_back({"covariates drawn first, covariate by covariate", m,
                     concat({repeat(kPass, 12),
                             repeat(kHalf, 12),
                             repeat(kFail, 12),
                             repeat(kPass, 12),
                             {kHalf, kPass, kPass, kHalf, kPass, kPass}}),
                     "2\t1\n1\t\n0\t\n2\ncov1\n-6.000000\n0.000183\ncov2\n6.000000\n-6.000000\n0\n",
                     "1 1;\n0 1;\n"});
  }
  {
    // Occupancy 0 still occupies on a draw of exactly 0; detection 1 fails on a draw of 1.
    Model m = Model::make(1, 2, 0.0, {1});
    cases.push_back({"boundary draws",
                     m,
                     {kPass, kPass, kPass, kPass, kFail, kPass},
                     "2\t1\n1\t\n0\t\n0\n0\n",
                     "1 1;\n0 1;\n"});
  }
  return cases;
}

class SiteDraws : public ::testing::Test {
 protected:
  void TearDown() override { occusim::reset_settings(); }

  static std::string contents(FILE* stream) {
    std::fflush(stream);
    std::rewind(stream);
    std::string text;
    char buffer[4096];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, stream)) > 0) text.append(buffer, got);
    return text;
  }
};

TEST_F(SiteDraws, ScriptedStreamPinsTheOrder) {
  for (const auto& c : scripted_cases()) {
    SCOPED_TRACE(c.name);
    occusim::reset_settings();
    occusim::determ = 1;
    occusim::nper = c.model.T;
    occusim::NOBS = c.model.nobs;
    occusim::SSOCC = c.model.ssocc ? 1 : 0;
    occusim::SIMTYPE = 2;
    occusim::pa = c.model.pa;
    occusim::eps = c.model.eps;
    occusim::gam = c.model.gam;
    occusim::coef = c.model.coef;
    occusim::ncovs = static_cast<int>(c.model.coef.size()) - 1;
    occusim::fp = std::tmpfile();
    occusim::fp2 = std::tmpfile();
    ASSERT_NE(occusim::fp, nullptr);
    ASSERT_NE(occusim::fp2, nullptr);
    occusim::script_stream(c.script);
    int status = -1;
    EXPECT_NO_THROW(status = occusim::caphis3(c.model.N));
    EXPECT_EQ(status, 0);
    EXPECT_EQ(occusim::draws_made(), static_cast<long long>(c.script.size()));
    EXPECT_EQ(contents(occusim::fp2), c.sdh);
    EXPECT_EQ(contents(occusim::fp), c.inp);
    // The independent simulation reads the same script to the same files.
    size_t next = 0;
    const Files again = simulate(c.model, [&] {
      if (next >= c.script.size()) throw std::out_of_range("script exhausted");
      return c.script[next++] / 32767.0;
    });
    EXPECT_EQ(next, c.script.size());
    EXPECT_EQ(again.sdh, c.sdh);
    EXPECT_EQ(again.inp, c.inp);
  }
}

}  // namespace
