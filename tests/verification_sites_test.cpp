// Stochastic site-by-site runs against the independent calculator, at fixed seeds: SIMTYPE
// runs (single season, multi-season, SSOCC, one logistic covariate with a known coefficient),
// the breeding model's SIMTYPE runs against the site-by-site model's own probabilities, and
// the count model (abundances multinomial over the sites, counts binomial given abundance).
//
// The site-by-site models compare a uniform draw on a grid of 32768 values with each
// probability, so each probability is realised within 1/32768 of its value: far below what
// these sample sizes can see.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <sstream>

#include "history_probabilities.h"

namespace v = occusim::verify;
using Counts = std::map<std::string, double>;

namespace {

constexpr double kLevel = 1e-3;
constexpr double kFaultLevel = 1e-9;

std::string seeded(const std::string& command, int seed) {
  return command + " STOCH QUIET SEED=" + std::to_string(seed);
}

std::map<std::string, double> by_code(const v::Row& probabilities, int positions) {
  std::map<std::string, double> model;
  for (long long code = 0; code < static_cast<long long>(probabilities.size()); ++code) {
    model[v::binary_text(code, positions)] = probabilities[code];
  }
  return model;
}

v::Fit expect_fit(const std::string& label, const std::vector<v::Cell>& cells) {
  const auto impossible = v::impossible_cells(cells);
  EXPECT_TRUE(impossible.empty()) << label
                                  << ": history of probability 0 observed: " << impossible.front();
  const v::Fit fit = v::pearson(cells);
  v::report(label, fit.describe());
  EXPECT_GT(fit.p_value, kLevel) << label << ": " << fit.describe();
  return fit;
}

void expect_rejected(const std::string& label, const v::Fit& fit) {
  v::report(label, fit.describe());
  EXPECT_LT(fit.p_value, kFaultLevel) << label << " is not rejected: " << fit.describe();
}

// The history of every site, from the list file of a SIMTYPE run ("text NOBS;" per site).
std::vector<std::string> site_histories(const occusim::testing::Outcome& r) {
  std::vector<std::string> texts;
  for (const auto& line : v::read_list(r.file("occusim.inp"), true)) texts.push_back(line.text);
  return texts;
}

Counts tally(const std::vector<std::string>& texts) {
  Counts counts;
  for (const auto& text : texts) counts[text] += 1;
  return counts;
}

double binomial(int n, int k, double p) {
  return std::exp(std::lgamma(n + 1.0) - std::lgamma(k + 1.0) - std::lgamma(n - k + 1.0) +
                  k * std::log(p) + (n - k) * std::log(1 - p));
}

// The count rows of a count run's data file: one count and a tab per occasion.
std::vector<std::vector<int>> count_rows(const occusim::testing::Outcome& r) {
  std::vector<std::vector<int>> rows;
  std::istringstream content(r.file("occusim.sdh"));
  std::string line;
  while (std::getline(content, line)) {
    std::vector<int> row;
    std::istringstream fields(line);
    std::string field;
    while (std::getline(fields, field, '\t')) row.push_back(std::atoi(field.c_str()));
    rows.push_back(row);
  }
  return rows;
}

}  // namespace

TEST(VerifySiteBySite, OccupancyModels) {
  constexpr double N = 40000;
  struct Case {
    std::string name;
    std::string command;
    std::map<std::string, double> model;
  };
  const v::Occupancy single{0.6, {0.3, 0.55, 0.75}, {0, 0, 0}, {0, 0, 0}};
  const v::Occupancy seasons{
      0.45, {0.5, 0.35, 0.65, 0.4}, {0, 0.2, 0.35, 0.1}, {0, 0.15, 0.3, 0.25}};
  const v::Correlated chain{0.7, 0.35, 0.8, {0.6, 0.45, 0.75, 0.5}};
  v::Occupancy swapped = seasons;
  std::swap(swapped.eps, swapped.gam);
  v::Correlated chain_swapped = chain;
  std::swap(chain_swapped.ss1, chain_swapped.ss2);
  const Case cases[] = {
      {"SIMTYPE single season", v::occupancy_command(N, single) + " SIMTYPE",
       by_code(v::occupancy_probabilities(single), 3)},
      {"SIMTYPE multi-season", v::occupancy_command(N, seasons) + " SIMTYPE",
       by_code(v::occupancy_probabilities(seasons), 4)},
      {"SIMTYPE SSOCC", v::correlated_command(N, chain) + " SIMTYPE",
       by_code(v::correlated_probabilities(chain), 4)},
  };
  const std::map<std::string, std::map<std::string, double>> faults = {
      {"SIMTYPE multi-season", by_code(v::occupancy_probabilities(swapped), 4)},
      {"SIMTYPE SSOCC", by_code(v::correlated_probabilities(chain_swapped), 4)}};
  int seed = 101;
  for (const Case& c : cases) {
    const std::string command = seeded(c.command, seed++);
    const auto r = v::run_muted(command);
    ASSERT_EQ(r.status, 0) << command;
    const Counts counts = tally(site_histories(r));
    const std::string label =
        c.name + ", " + std::to_string(static_cast<int>(N)) + " sites: occusim2 " + command;
    expect_fit(label, v::cells_of(c.model, counts, N));
    if (faults.count(c.name)) {
      expect_rejected(
          label + " against the fault '" +
              (c.name == "SIMTYPE SSOCC" ? "ssPsi1 and ssPsi2 swapped" : "eps and gam swapped") +
              "'",
          v::pearson(v::cells_of(faults.at(c.name), counts, N)));
    }
  }
}

// One covariate x with coefficient b: a site is occupied with 1 / (1 + exp(-(1 + b x))). The
// covariate values come from the data file, and the histories are tallied within four bands
// of x, so the test sees which occupancy went with which value.
TEST(VerifySiteBySite, LogisticCovariate) {
  constexpr double N = 40000;
  constexpr double b = -1.5;
  const v::Row p = {0.4, 0.6, 0.5};
  // psi 0.2 on the command line plays no part once a covariate is given.
  const std::string command =
      seeded("3 40000 0.2 " + v::join(p) + " SIMTYPE NCOVS=1 " + v::join({b}), 7);
  const auto r = v::run_muted(command);
  ASSERT_EQ(r.status, 0) << command;
  const std::vector<std::string> histories = site_histories(r);
  const v::DataFile data = v::read_data(r.file("occusim.sdh"));
  ASSERT_EQ(histories.size(), static_cast<size_t>(N));
  ASSERT_EQ(data.tail.size(), static_cast<size_t>(N) + 3) << "covariate block";
  ASSERT_EQ(data.tail[0], "1");
  ASSERT_EQ(data.tail[1], "cov1");
  ASSERT_EQ(data.tail.back(), "0");

  // Detection part of each history at an occupied site, then the sites' own mixtures.
  const v::Row detected = v::occupancy_probabilities({1.0, p, {0, 0, 0}, {0, 0, 0}});
  const double cuts[] = {-0.6745, 0.0, 0.6745};
  auto band = [&](double x) {
    return static_cast<int>(std::upper_bound(cuts, cuts + 3, x) - cuts);
  };
  auto fit_with = [&](double coefficient, bool use_covariate) {
    std::vector<std::vector<v::Cell>> bands(4, std::vector<v::Cell>(8));
    for (int k = 0; k < 4; ++k) {
      for (int code = 0; code < 8; ++code) {
        bands[k][code].name = "band " + std::to_string(k + 1) + " " + v::binary_text(code, 3);
      }
    }
    for (size_t i = 0; i < histories.size(); ++i) {
      const double x = std::strtod(data.tail[2 + i].c_str(), nullptr);
      const double psi = use_covariate ? 1.0 / (1.0 + std::exp(-(1.0 + coefficient * x))) : 0.2;
      auto& cells = bands[band(x)];
      for (int code = 0; code < 8; ++code) {
        cells[code].expected += psi * detected[code] + (code == 0 ? 1.0 - psi : 0.0);
        if (histories[i] == v::binary_text(code, 3)) cells[code].observed += 1;
      }
    }
    std::vector<v::Fit> fits;
    for (const auto& cells : bands) fits.push_back(v::pearson(cells));
    return v::combine(fits);
  };
  const std::string label =
      "SIMTYPE with one covariate, b = -1.5, 40000 sites: occusim2 " + command;
  const v::Fit fit = fit_with(b, true);
  v::report(label, fit.describe());
  EXPECT_GT(fit.p_value, kLevel) << label << ": " << fit.describe();
  expect_rejected(label + " against the fault 'coefficient with the wrong sign'",
                  fit_with(-b, true));
  expect_rejected(label + " against the fault 'psi of the command line instead of the covariate'",
                  fit_with(b, false));

  // The covariate itself: twelve uniforms less 6, mean 0 and variance 1 (+ 2/32767).
  double sum = 0;
  double squares = 0;
  for (size_t i = 0; i < histories.size(); ++i) {
    const double x = std::strtod(data.tail[2 + i].c_str(), nullptr);
    sum += x;
    squares += x * x;
  }
  const double mean = sum / N;
  const double variance = squares / N - mean * mean;
  v::report("covariate values of " + label,
            "mean " + std::to_string(mean) + ", variance " + std::to_string(variance));
  EXPECT_NEAR(mean, 0.0, 4 / std::sqrt(N));
  EXPECT_NEAR(variance, 1.0, 4 * std::sqrt(2 / N));
}

// Breeding model site by site: the digit counts two independent detections (adults with
// p[s][t]; young, at breeding sites, with dlta[t]), as the model is written, unlike its tree,
// which looks for young among detected adults only. The rows are tested against the
// site-by-site probabilities, and reject the tree's.
TEST(VerifySiteBySite, BreedingMultistate) {
  constexpr double N = 30000;
  v::Breeding single =
      v::breeding_single_season(0.65, 0.45, {0.5, 0.35, 0.6}, {0.4, 0.55, 0.3}, {0.7, 0.5, 0.8});
  v::Breeding seasons = v::breeding_single_season(0.55, 0.35, {0.4, 0.7}, {0.5, 0.3}, {0.6, 0.9});
  seasons.psi[0][1] = 0.3;
  seasons.psi[1][1] = 0.8;
  seasons.psi[2][1] = 0.6;
  seasons.R[0][1] = 0.2;
  seasons.R[1][1] = 0.5;
  seasons.R[2][1] = 0.7;
  const std::pair<v::Breeding, bool> cases[] = {{single, false}, {seasons, true}};
  int seed = 31;
  for (const auto& [m, multiseason] : cases) {
    const std::string command = seeded(v::breeding_command(N, m, multiseason) + " SIMTYPE", seed++);
    const auto r = v::run_muted(command);
    ASSERT_EQ(r.status, 0) << command;
    EXPECT_EQ(r.file("occusim.inp"), "");
    const v::DataFile data = v::read_data(r.file("occusim.sdh"));
    ASSERT_EQ(data.rows, static_cast<long long>(N));
    Counts counts;
    for (const auto& fields : data.body) {
      // T digits, each followed by a tab.
      ASSERT_EQ(fields.size(), static_cast<size_t>(m.occasions()) + 1);
      std::string text;
      for (int t = 0; t < m.occasions(); ++t) text += fields[t];
      counts[text] += 1;
    }
    const std::string label = std::string("breeding multistate SIMTYPE") +
                              (multiseason ? " MULTISEASON" : "") + ", 30000 sites: occusim2 " +
                              command;
    expect_fit(label, v::cells_of(v::breeding_site_probabilities(m), counts, N));
    expect_rejected(label + " against the tree's digit (young among detected adults)",
                    v::pearson(v::cells_of(v::merge_leaves(v::breeding_leaves(m)), counts, N)));
  }
}

// Count model: two runs with one seed, p = 1 and p = 0.4. The m placement draws come first
// and do not depend on p, so both runs place the individuals alike: the first run's counts
// are the abundances (largest count over three occasions: a count misses an individual only
// on a draw of exactly 32767), the second run's counts are thinned from them.
TEST(VerifyCounts, AbundancesAndCounts) {
  constexpr int n = 500;
  constexpr int m = 4000;  // n x lambda, lambda = 8
  constexpr int T = 3;
  const std::string full = seeded("3 500 1 LAMBDA=8", 21);
  const std::string thinned = seeded("3 500 0.4 LAMBDA=8", 21);
  const std::vector<std::vector<int>> abundance_rows = count_rows(v::run_muted(full));
  const std::vector<std::vector<int>> rows = count_rows(v::run_muted(thinned));
  ASSERT_EQ(abundance_rows.size(), static_cast<size_t>(n));
  ASSERT_EQ(rows.size(), static_cast<size_t>(n));

  std::vector<int> abundance(n);
  int placed = 0;
  for (int i = 0; i < n; ++i) {
    ASSERT_EQ(abundance_rows[i].size(), static_cast<size_t>(T));
    abundance[i] = *std::max_element(abundance_rows[i].begin(), abundance_rows[i].end());
    placed += abundance[i];
  }
  // Abundances: multinomial over the n sites, the individuals of the spare counter aside.
  EXPECT_LE(placed, m);
  EXPECT_GE(placed, m - 5);
  std::vector<v::Cell> sites;
  for (int i = 0; i < n; ++i) {
    sites.push_back({"site " + std::to_string(i + 1), static_cast<double>(abundance[i]),
                     static_cast<double>(placed) / n});
  }
  expect_fit("count model, abundances of " + std::to_string(placed) + " of " + std::to_string(m) +
                 " individuals over 500 sites: occusim2 " + full,
             sites);

  // Counts given abundance: binomial(abundance, p) on every occasion; the site-occasions of
  // one abundance form one multinomial sample over the counts 0 .. abundance.
  std::map<int, std::vector<double>> observed;  // abundance -> number of each count
  for (int i = 0; i < n; ++i) {
    ASSERT_EQ(rows[i].size(), static_cast<size_t>(T));
    auto& tally = observed[abundance[i]];
    tally.resize(static_cast<size_t>(abundance[i]) + 1, 0.0);
    for (int count : rows[i]) {
      ASSERT_LE(count, abundance[i]) << "site " << i + 1 << " counted more than its abundance";
      tally[count] += 1;
    }
  }
  auto fit_with = [&](double p) {
    std::vector<v::Fit> fits;
    for (const auto& [a, tally] : observed) {
      double samples = 0;
      for (double t : tally) samples += t;
      std::vector<v::Cell> cells;
      for (int c = 0; c <= a; ++c) {
        cells.push_back({"abundance " + std::to_string(a) + " count " + std::to_string(c), tally[c],
                         samples * binomial(a, c, p)});
      }
      fits.push_back(v::pearson(cells));
    }
    return v::combine(fits);
  };
  const std::string label = "count model, counts given abundance, p = 0.4: occusim2 " + thinned;
  const v::Fit fit = fit_with(0.4);
  v::report(label, fit.describe());
  EXPECT_GT(fit.p_value, kLevel) << label << ": " << fit.describe();
  expect_rejected(label + " against the fault 'p = 0.45'", fit_with(0.45));
}
