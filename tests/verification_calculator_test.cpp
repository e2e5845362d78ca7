// The independent calculator and the statistics the verification suite rests on: hand-worked
// examples of every model, total probability 1, and known chi-square quantiles.
#include <gtest/gtest.h>

#include <cmath>
#include <numeric>

#include "history_probabilities.h"

namespace v = occusim::verify;

namespace {

double total(const v::Row& probabilities) {
  return std::accumulate(probabilities.begin(), probabilities.end(), 0.0);
}

double total(const std::vector<v::Leaf>& leaves) {
  double sum = 0.0;
  for (const auto& leaf : leaves) sum += leaf.probability;
  return sum;
}

v::General three_state_model(int T) {
  v::General m = v::general_model(3, T);
  m.psi[0][1][0] = 0.3;
  m.psi[0][2][0] = 0.25;
  for (int t = 1; t < T; ++t) {
    for (int r = 0; r < 3; ++r) {
      m.psi[r][1][t] = 0.2 + 0.1 * r;
      m.psi[r][2][t] = 0.35 - 0.05 * r + 0.02 * t;
    }
  }
  for (int t = 0; t < T; ++t) {
    for (int s = 0; s < 3; ++s) {
      m.p[1][s][t] = 0.1 + 0.15 * s;
      m.p[2][s][t] = 0.05 + 0.2 * s - 0.01 * t;
    }
  }
  return m;
}

}  // namespace

// Worked by hand from each model's definition (N = 100 sites).
TEST(Calculator, HandWorkedExamples) {
  const v::Row single = v::occupancy_probabilities({0.5, {0.4, 0.6}, {0, 0}, {0, 0}});
  EXPECT_NEAR(100 * single[0], 62, 1e-12);  // 50 absent + 50 * 0.6 * 0.4
  EXPECT_NEAR(100 * single[1], 18, 1e-12);
  EXPECT_NEAR(100 * single[2], 8, 1e-12);
  EXPECT_NEAR(100 * single[3], 12, 1e-12);

  const v::Row seasons = v::occupancy_probabilities({0.5, {1, 1}, {0, 0.2}, {0, 0.1}});
  EXPECT_NEAR(100 * seasons[0], 45, 1e-12);  // 50 absent, 45 stay absent
  EXPECT_NEAR(100 * seasons[1], 5, 1e-12);   // 5 colonised
  EXPECT_NEAR(100 * seasons[2], 10, 1e-12);  // 10 go extinct
  EXPECT_NEAR(100 * seasons[3], 40, 1e-12);

  const v::Row methods = v::multimethod_probabilities({0.5, {0.6}, {{0.5, 0.5}}});
  EXPECT_NEAR(100 * methods[0], 77.5, 1e-12);  // 50 + 20 unavailable + 7.5
  for (int code = 1; code < 4; ++code) EXPECT_NEAR(100 * methods[code], 7.5, 1e-12);

  const v::Row chain = v::correlated_probabilities({0.5, 0.4, 0.8, {0.5, 0.5}});
  EXPECT_NEAR(100 * chain[0], 80, 1e-12);
  EXPECT_NEAR(100 * chain[1], 10, 1e-12);
  EXPECT_NEAR(100 * chain[2], 6, 1e-12);
  EXPECT_NEAR(100 * chain[3], 4, 1e-12);

  const v::Row two =
      v::two_species_probabilities({0.5, 0.4, 0.2, {0.6}, {0.5}, {0.8}, {0.9}, {0.3}});
  EXPECT_NEAR(100 * two[0], 59.8, 1e-12);
  EXPECT_NEAR(100 * two[1], 19.6, 1e-12);
  EXPECT_NEAR(100 * two[2], 6.2, 1e-12);
  EXPECT_NEAR(100 * two[3], 14.4, 1e-12);

  // Breeding, T = 1: 50 without adults, 30 non-breeders (12 missed, 18 seen), 20 breeders
  // (4 missed, 8 seen without young, 8 with young); leaves in path order.
  const auto breeding =
      v::breeding_leaves(v::breeding_single_season(0.5, 0.4, {0.5}, {0.6}, {0.8}));
  std::vector<std::pair<std::string, double>> positive;
  for (const auto& leaf : breeding) {
    if (leaf.probability > 0) positive.emplace_back(leaf.text, 100 * leaf.probability);
  }
  const std::vector<std::pair<std::string, double>> expected = {{"0", 50}, {"0", 12}, {"1", 18},
                                                                {"0", 4},  {"1", 8},  {"2", 8}};
  ASSERT_EQ(positive.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(positive[i].first, expected[i].first) << i;
    EXPECT_NEAR(positive[i].second, expected[i].second, 1e-12) << i;
  }

  // General, S = 2, T = 1: state 1 (60, half of it seen), then state 0 (never seen).
  v::General general = v::general_model(2, 1);
  general.psi[0][1][0] = 0.6;
  general.p[1][1][0] = 0.5;
  const auto leaves = v::general_leaves(general);
  ASSERT_EQ(leaves.size(), 4u);
  EXPECT_EQ(leaves[0].text, "1");
  EXPECT_NEAR(100 * leaves[0].probability, 30, 1e-12);
  EXPECT_EQ(leaves[1].text, "0");
  EXPECT_NEAR(100 * leaves[1].probability, 30, 1e-12);
  EXPECT_EQ(leaves[2].text, "1");
  EXPECT_EQ(leaves[2].probability, 0.0);
  EXPECT_NEAR(100 * leaves[3].probability, 40, 1e-12);
}

// Breeding site by site: a digit 1 is adults seen without young or young seen without adults.
TEST(Calculator, BreedingSiteDigitCountsTwoDetections) {
  const auto site =
      v::breeding_site_probabilities(v::breeding_single_season(1.0, 1.0, {0.5}, {0.6}, {0.8}));
  EXPECT_NEAR(site.at("0"), 0.2 * 0.5, 1e-15);
  EXPECT_NEAR(site.at("1"), 0.8 * 0.5 + 0.2 * 0.5, 1e-15);
  EXPECT_NEAR(site.at("2"), 0.8 * 0.5, 1e-15);
}

TEST(Calculator, EveryModelSumsToOne) {
  EXPECT_NEAR(total(v::occupancy_probabilities(
                  {0.37, {0.2, 0.9, 0.45, 0.6}, {0, 0.3, 0.15, 0.5}, {0, 0.25, 0.4, 0.1}})),
              1.0, 1e-14);
  EXPECT_NEAR(
      total(v::multimethod_probabilities({0.7, {0.8, 0.3}, {{0.2, 0.5, 0.9}, {0.6, 0.4, 0.35}}})),
      1.0, 1e-14);
  EXPECT_NEAR(total(v::correlated_probabilities({0.6, 0.35, 0.8, {0.3, 0.7, 0.5, 0.45}})), 1.0,
              1e-14);
  EXPECT_NEAR(total(v::two_species_probabilities({0.6,
                                                  0.35,
                                                  0.55,
                                                  {0.3, 0.6, 0.45},
                                                  {0.25, 0.5, 0.7},
                                                  {0.8, 0.4, 0.55},
                                                  {0.65, 0.2, 0.9},
                                                  {0.15, 0.35, 0.05}})),
              1.0, 1e-14);
  v::Breeding b = v::breeding_single_season(0.7, 0.45, {0.3, 0.6}, {0.4, 0.55}, {0.65, 0.35});
  b.psi[0][1] = 0.3;
  b.R[1][1] = 0.5;
  EXPECT_NEAR(total(v::breeding_leaves(b)), 1.0, 1e-14);
  double site = 0.0;
  for (const auto& [text, p] : v::breeding_site_probabilities(b)) site += p;
  EXPECT_NEAR(site, 1.0, 1e-14);
  EXPECT_NEAR(total(v::general_leaves(three_state_model(3))), 1.0, 1e-14);
}

TEST(Calculator, ChiSquareQuantiles) {
  struct Case {
    double statistic, dof, p;
  };
  // Upper 5 % and 0.1 % points of the chi-square distribution, from published tables.
  const Case cases[] = {
      {3.841459, 1, 0.05},    {7.814728, 3, 0.05},   {18.307038, 10, 0.05}, {124.342113, 100, 0.05},
      {29.588298, 10, 0.001}, {10.827566, 1, 0.001}, {0.0, 4, 1.0}};
  for (const Case& c : cases) {
    EXPECT_NEAR(v::chi_square_p_value(c.statistic, c.dof), c.p, 1e-6 + 1e-5 * c.p)
        << c.statistic << " with " << c.dof;
  }
  EXPECT_NEAR(v::gamma_q(1.0, 30.0), std::exp(-30.0), 1e-25);  // deep tail, Q(1, x) = e^-x
}

TEST(Calculator, PearsonPoolsSmallCells) {
  // Two cells below 5 pool into one (expected 6); the impossible cell is reported apart.
  const std::vector<v::Cell> cells = {
      {"a", 50, 50}, {"b", 40, 44}, {"c", 2, 2}, {"d", 8, 4}, {"e", 1, 0}};
  const v::Fit fit = v::pearson(cells);
  EXPECT_EQ(fit.cells, 3);
  EXPECT_EQ(fit.dof, 2);
  EXPECT_NEAR(fit.statistic, 0.0 + 16.0 / 44 + 16.0 / 6, 1e-12);
  EXPECT_EQ(v::impossible_cells(cells).size(), 1u);
}

// The covariance of the history counts: as a multinomial when every split is one multinomial
// draw, and by hand for the program's independent splits.
TEST(Calculator, HistoryCovarianceUnderBothKindsOfSplit) {
  const v::Moments multinomial = v::general_history_moments(three_state_model(2), false);
  for (size_t i = 0; i < multinomial.texts.size(); ++i) {
    for (size_t j = 0; j < multinomial.texts.size(); ++j) {
      const double pi = multinomial.mean[i];
      const double pj = multinomial.mean[j];
      EXPECT_NEAR(multinomial.covariance[i][j], (i == j ? pi : 0.0) - pi * pj, 1e-14)
          << multinomial.texts[i] << " " << multinomial.texts[j];
    }
  }
  // Two states: the independent splits are single binomial splits, hence multinomial too.
  v::General two = v::general_model(2, 3);
  two.psi[0][1][0] = 0.4;
  for (int t = 1; t < 3; ++t) {
    two.psi[0][1][t] = 0.3;
    two.psi[1][1][t] = 0.7;
  }
  for (int t = 0; t < 3; ++t) two.p[1][1][t] = 0.5 + 0.1 * t;
  const v::Moments binomial = v::general_history_moments(two, true);
  for (size_t i = 0; i < binomial.texts.size(); ++i) {
    const double pi = binomial.mean[i];
    EXPECT_NEAR(binomial.covariance[i][i], pi * (1 - pi), 1e-14) << binomial.texts[i];
  }
  // Three states, T = 1, every state recorded as itself: the counts of 1 and 2 are
  // independent binomials and history 0 takes the rest.
  v::General echo = v::general_model(3, 1);
  echo.psi[0][1][0] = 0.3;
  echo.psi[0][2][0] = 0.45;
  echo.p[1][1][0] = 1.0;
  echo.p[2][2][0] = 1.0;
  const v::Moments independent = v::general_history_moments(echo, true);
  ASSERT_EQ(independent.texts, (std::vector<std::string>{"0", "1", "2"}));
  const double v1 = 0.3 * 0.7;
  const double v2 = 0.45 * 0.55;
  EXPECT_NEAR(independent.covariance[1][1], v1, 1e-15);
  EXPECT_NEAR(independent.covariance[2][2], v2, 1e-15);
  EXPECT_NEAR(independent.covariance[1][2], 0.0, 1e-15);
  EXPECT_NEAR(independent.covariance[0][0], v1 + v2, 1e-15);
  EXPECT_NEAR(independent.covariance[0][1], -v1, 1e-15);
}
