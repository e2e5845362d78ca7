// The occupancy history tree: the worked examples, deterministic counts against the model's own
// probabilities, and stochastic runs against a plain recursion that visits every node and makes
// its own draws from its own std::mt19937 (or the same scripted values).
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <numeric>
#include <random>
#include <vector>

#include "draws.h"
#include "settings.h"
#include "single_species.h"

namespace {

struct Model {
  int T = 1;
  int M = 0;  // METH: methods per occasion (0 or 1: season models)
  double N = 100, psi = 0.5;
  std::vector<double> p;    // by history position
  std::vector<double> eps;  // slot k: extinction after occasion k; theta of occasion j+1 in j
  std::vector<double> gam;  // slot k: colonization after occasion k
  int positions() const { return M >= 2 ? T * M : T; }
};

class OccupancyTree : public ::testing::Test {
 protected:
  void SetUp() override { occusim::reset_settings(); }
  void TearDown() override { occusim::reset_settings(); }

  // The driver's set-up and first call; returns nx.
  static std::vector<double> run(const Model& m, bool deterministic) {
    occusim::determ = deterministic ? 1 : 0;
    occusim::METH = m.M;
    occusim::nper = m.positions();
    occusim::pa = m.p;
    occusim::eps = m.eps;
    occusim::gam = m.gam;
    occusim::eps.resize(static_cast<size_t>(m.T) + 1, 0.0);
    occusim::gam.resize(static_cast<size_t>(m.T) + 1, 0.0);
    occusim::gam[0] = m.psi;
    occusim::nx.assign(static_cast<size_t>(1) << m.positions(), 0.0);
    double sites = m.N;
    if (m.M >= 2) {
      const double occupied = occusim::binoml(m.N, m.psi);
      occusim::nx[0] = m.N - occupied;
      sites = occupied;
    }
    occusim::caphis(0, sites, 1, 0);
    return occusim::nx;
  }
};

TEST_F(OccupancyTree, WorkedExamples) {
  struct Case {
    const char* name;
    Model model;
    std::vector<double> nx;
  };
  const Case cases[] = {
      {"single season", {2, 0, 100, 0.5, {0.4, 0.6}, {0, 0, 0}, {0, 0, 0}}, {62, 18, 8, 12}},
      {"multi-season", {2, 0, 100, 0.5, {1, 1}, {0, 0.2, 0}, {0, 0.1, 0}}, {45, 5, 10, 40}},
      {"one occasion", {1, 0, 100, 0.5, {0.4}, {0, 0}, {0, 0}}, {80, 20}},
      // 50 unoccupied sites from the driver's split, 7.5 each for the three detected histories.
      {"multi-method", {1, 2, 100, 0.5, {0.5, 0.5}, {0.6, 0}, {0, 0}}, {77.5, 7.5, 7.5, 7.5}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    occusim::reset_settings();
    occusim::script_stream({});  // deterministic mode draws nothing: a draw would throw
    const std::vector<double> nx = run(c.model, true);
    ASSERT_EQ(nx.size(), c.nx.size());
    for (size_t code = 0; code < nx.size(); ++code) EXPECT_NEAR(nx[code], c.nx[code], 1e-9) << code;
    EXPECT_EQ(occusim::draws_made(), 0);
  }
}

// P(history) of the season models by the forward recursion over the presence state.
std::vector<double> forward_frequencies(const Model& m) {
  const int T = m.T;
  std::vector<double> nx(static_cast<size_t>(1) << T);
  for (size_t h = 0; h < nx.size(); ++h) {
    double absent = 1 - m.psi, present = m.psi;  // joint with the history so far
    for (int k = 1; k <= T; ++k) {
      if (k > 1) {
        const double a = absent, s = present;
        present = s * (1 - m.eps[k - 1]) + a * m.gam[k - 1];
        absent = s * m.eps[k - 1] + a * (1 - m.gam[k - 1]);
      }
      const bool seen = (h >> (T - k)) & 1;
      present *= seen ? m.p[k - 1] : 1 - m.p[k - 1];
      if (seen) absent = 0;
    }
    nx[h] = m.N * (absent + present);
  }
  return nx;
}

TEST_F(OccupancyTree, DeterministicCountsAreExpectedFrequenciesAndAddUpToN) {
  const Model models[] = {
      {5,
       0,
       137.3,
       0.63,
       {0.3, 0.55, 0.2, 0.9, 0.41},
       {0, 0.1, 0.35, 0.05, 0.2},
       {0, 0.2, 0.07, 0.5, 0.15}},
      {4, 0, 10, 0.5, {0.4, 0.6, 0.2, 0.8}, {0, 0, 0, 0}, {0, 0, 0, 0}},  // closed population
      {3, 0, 2.7, 1.0, {1, 0, 0.5}, {0, 1, 0}, {0, 0, 1}},                // certain events
  };
  for (const Model& m : models) {
    SCOPED_TRACE(m.N);
    occusim::reset_settings();
    const std::vector<double> nx = run(m, true);
    const std::vector<double> expected = forward_frequencies(m);
    for (size_t code = 0; code < nx.size(); ++code) {
      EXPECT_NEAR(nx[code], expected[code], 1e-12 * m.N) << code;
    }
    EXPECT_NEAR(std::accumulate(nx.begin(), nx.end(), 0.0), m.N, 1e-12 * m.N);
  }
}

TEST_F(OccupancyTree, DeterministicMultiMethodIsAvailabilityTimesDetection) {
  // T = 3 occasions, M = 2 methods: positions (occasion - 1) * 2 + method.
  Model m{3, 2, 80, 0.7, {0.5, 0.2, 0.6, 0.3, 0.9, 0.4}, {0.8, 0.5, 0.3, 0}, {0, 0, 0, 0}};
  const std::vector<double> nx = run(m, true);
  ASSERT_EQ(nx.size(), 64u);
  for (int h = 0; h < 64; ++h) {
    double occupied = m.psi;
    for (int j = 0; j < 3; ++j) {
      const bool b1 = (h >> (5 - 2 * j)) & 1, b2 = (h >> (4 - 2 * j)) & 1;
      const double p1 = m.p[2 * j], p2 = m.p[2 * j + 1];
      const double available = m.eps[j] * (b1 ? p1 : 1 - p1) * (b2 ? p2 : 1 - p2);
      occupied *= available + (!b1 && !b2 ? 1 - m.eps[j] : 0.0);
    }
    const double expected = m.N * (occupied + (h == 0 ? 1 - m.psi : 0.0));
    EXPECT_NEAR(nx[h], expected, 1e-12 * m.N) << h;
  }
}

// The tree as written: every node makes both splits and three calls, zero groups included.
struct Reference {
  std::function<int()> next;
  Model m;
  std::vector<double> nx;
  long long draws = 0;

  double unif() {
    ++draws;
    return next() / 32767.0;
  }
  double binoml(double n, double p) {
    if (p == 1.0 || p == 0.0) return n * p;
    if (p <= 0.0) return 0.0;
    if (n <= 300) {
      double successes = 0;
      for (int i = 1; i <= n; ++i) successes += unif() <= p ? 1 : 0;
      return successes;
    }
    if (p >= 0.05 && p <= 0.95) {
      double z = -6.0;
      for (int i = 0; i < 12; ++i) z = unif() + z;
      return std::floor(n * p + z * std::sqrt((1 - p) * n * p) + 0.5);
    }
    const double q = p > 0.9 ? 1 - p : p;
    double sum = 0, count = 0;
    while (sum >= -n * q) {
      sum += std::log(unif());
      count += 1;
    }
    return p > 0.9 ? n - count : count;
  }
  void node(int code, double sites, int k, int prior) {
    const int P = m.positions();
    const int detected_code = code | (1 << (P - k));
    double present;
    if (m.M >= 2) {
      present = k % m.M == 1 ? binoml(sites, m.eps[(k - 1) / m.M]) : prior * sites;
    } else {
      present = prior == 0 ? binoml(sites, k == 1 ? m.psi : m.gam[k - 1])
                           : binoml(sites, 1 - m.eps[k - 1]);
    }
    const double detected = binoml(present, m.p[k - 1]);
    if (k < P) {
      node(detected_code, detected, k + 1, 1);
      node(code, present - detected, k + 1, 1);
      node(code, sites - present, k + 1, 0);
    } else {
      nx[code] += (sites - present) + (present - detected);
      nx[detected_code] += detected;
    }
  }
  void run() {
    nx.assign(static_cast<size_t>(1) << m.positions(), 0.0);
    double sites = m.N;
    if (m.M >= 2) {
      sites = binoml(m.N, m.psi);
      nx[0] = m.N - sites;
    }
    node(0, sites, 1, 0);
  }
};

TEST_F(OccupancyTree, StochasticRunsDrawLikeTheFullTree) {
  const Model models[] = {
      {4, 0, 50, 0.6, {0.3, 0.5, 0.7, 0.4}, {0, 0.2, 0.1, 0.3}, {0, 0.1, 0.25, 0.05}},
      // More than 300 sites: normal approximations and waiting-time counts in both tails.
      {3, 0, 5000, 0.5, {0.02, 0.5, 0.97}, {0, 0.01, 0.6}, {0, 0.99, 0.03}},
      {6,
       0,
       7.5,
       0.8,
       {0.5, 0.5, 0.5, 0.5, 0.5, 0.5},
       {0, 0.2, 0.2, 0.2, 0.2, 0.2},
       {0, 0.3, 0.3, 0.3, 0.3, 0.3}},
      {1, 0, 20, 0.4, {0.7}, {0, 0}, {0, 0}},
      {10,
       0,
       1000,
       0.3,
       {0.2, 0.3, 0.4, 0.5, 0.6, 0.7, 0.8, 0.9, 0.1, 0.2},
       {0, 0.1, 0.1, 0.1, 0.1, 0.1, 0.1, 0.1, 0.1, 0.1},
       {0, 0.2, 0.2, 0.2, 0.2, 0.2, 0.2, 0.2, 0.2, 0.2}},
      {2, 3, 400, 0.7, {0.5, 0.2, 0.6, 0.3, 0.9, 0.04}, {0.8, 0.5, 0}, {0, 0, 0}},
  };
  for (const Model& m : models) {
    for (uint32_t seed : {1u, 2u, 3u, 77u, 4242u}) {
      SCOPED_TRACE(::testing::Message() << "T=" << m.T << " M=" << m.M << " seed " << seed);
      occusim::reset_settings();
      occusim::seed_stream(seed);
      const std::vector<double> nx = run(m, false);
      std::mt19937 engine(seed);
      Reference ref{[&engine] { return static_cast<int>(engine() >> 17); }, m, {}, 0};
      ref.run();
      EXPECT_EQ(nx, ref.nx);
      EXPECT_EQ(occusim::draws_made(), ref.draws);
    }
  }
}

TEST_F(OccupancyTree, StochasticNegativeGroupsAreCarriedThrough) {
  // Every draw 0: psi's split of 400 sites at p = 0.05 is the normal approximation with
  // z = -6, floor(20 - 6 sqrt(19) + 0.5) = -6 present sites, so 406 absent ones. The -6 draw no
  // trials and end as 00; the 406 colonize with floor(81.2 - 6 sqrt(64.96) + 0.5) = 33, all
  // detected (a draw of 0 always succeeds): 33 at 01 and 373 + (-6) = 367 at 00.
  const Model m{2, 0, 400, 0.05, {0.5, 0.5}, {0, 0.3}, {0, 0.2}};
  occusim::script_stream(std::vector<int>(1000, 0));
  const std::vector<double> nx = run(m, false);
  EXPECT_EQ(nx, (std::vector<double>{367, 33, 0, 0}));
  EXPECT_EQ(occusim::draws_made(), 12 + 12 + 33);
  Reference ref{[] { return 0; }, m, {}, 0};
  ref.run();
  EXPECT_EQ(nx, ref.nx);
  EXPECT_EQ(ref.draws, occusim::draws_made());
}

}  // namespace
