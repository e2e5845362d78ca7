// The binomial split's three stochastic paths against the binomial mean and variance, with
// the approximation each path makes, at fixed seeds. The path a call takes is recognised by
// the number of draws it makes.
//
// - Trials (n <= 300): floor(n) Bernoulli trials u <= p, u on the grid r / 32767: exactly
//   binomial with p* = (number of grid values <= p) / 32768, within 1/32768 of p.
// - Normal approximation (n > 300, 0.05 <= p <= 0.95): floor(np + z sqrt(np(1-p)) + 0.5), z the
//   sum of twelve uniforms less 6 (variance 1 + 2/32767 on the grid): mean np, variance
//   np(1-p)(1 + 2/32767) + 1/12, the last term from the rounding.
// - Waiting-time count (n > 300, p < 0.05 or p > 0.95): with q the smaller tail, c counts the
//   terms -ln u until their sum passes nq, the one that passes included. Were the terms
//   exponential, c - 1 would be Poisson with mean nq: c would have mean nq + 1 and variance
//   nq, against the binomial's nq and nq(1 - q). On the grid the terms have a mean slightly
//   below 1 (so the Poisson mean is nq / E[-ln u]), and a draw of exactly 0 (1 in 32768)
//   ends the count at once: c = min(1 + K, G), K Poisson, G the first zero draw. For
//   nq = 80 that costs 0.1 of the mean and adds 5 to the variance. For p > 0.95 the result is
//   n - c: its mean is np - 1 (and a little more).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "draws.h"
#include "history_probabilities.h"
#include "settings.h"

namespace {

enum class Path { kTrials, kNormal, kWaiting };

const char* name(Path path) {
  switch (path) {
    case Path::kTrials:
      return "trials";
    case Path::kNormal:
      return "normal approximation";
    case Path::kWaiting:
      return "waiting-time count";
  }
  return "";
}

struct Case {
  double n;
  double p;
  Path path;
  int samples;
};

// Fraction of the 32768 uniform values r / 32767 that are not above p.
double grid_probability(double p) {
  int passing = 0;
  for (int r = 0; r <= 32767; ++r) passing += r / 32767.0 <= p ? 1 : 0;
  return passing / 32768.0;
}

// Mean and variance of c = min(1 + K, G): K Poisson with mean L / E[-ln u], u on the grid
// r / 32767 with r >= 1; G geometric with the chance 1/32768 of a zero draw.
std::pair<double, double> waiting_moments(double L) {
  double gap = 0;
  for (int r = 1; r <= 32767; ++r) gap += -std::log(r / 32767.0) / 32767;
  const double lambda = L / gap;
  const double survive = 1 - 1 / 32768.0;
  double pmf = std::exp(-lambda);  // P(K = j - 1)
  double at_least = 1;             // P(K >= j - 1)
  double mean = 0;
  double second = 0;
  for (int j = 1; j < lambda * 4 + 200; ++j) {
    const double beyond = at_least * std::pow(survive, j - 1);  // P(c >= j)
    mean += beyond;
    second += (2.0 * j - 1) * beyond;
    at_least -= pmf;
    pmf *= lambda / j;
  }
  return {mean, second - mean * mean};
}

// Mean and variance the path gives, as stated above.
std::pair<double, double> stated(const Case& c) {
  switch (c.path) {
    case Path::kTrials: {
      const double trials = std::floor(c.n);
      const double q = grid_probability(c.p);
      return {trials * q, trials * q * (1 - q)};
    }
    case Path::kNormal:
      return {c.n * c.p, c.n * c.p * (1 - c.p) * (1 + 2.0 / 32767) + 1.0 / 12};
    case Path::kWaiting: {
      const double q = c.p > 0.9 ? 1 - c.p : c.p;
      const auto [mean, variance] = waiting_moments(c.n * q);
      return {c.p > 0.9 ? c.n - mean : mean, variance};
    }
  }
  return {0, 0};
}

}  // namespace

TEST(VerifyBinomialSplit, MeanAndVarianceOfEveryPath) {
  const Case cases[] = {
      {250, 0.3, Path::kTrials, 10000},     {250, 0.02, Path::kTrials, 10000},
      {250, 0.97, Path::kTrials, 10000},    {300, 0.5, Path::kTrials, 10000},
      {301, 0.5, Path::kNormal, 40000},     {1000, 0.3, Path::kNormal, 40000},
      {1000, 0.05, Path::kNormal, 40000},   {1000, 0.95, Path::kNormal, 40000},
      {1000, 0.049, Path::kWaiting, 40000}, {1000, 0.951, Path::kWaiting, 40000},
      {5000, 0.01, Path::kWaiting, 40000},  {2000, 0.99, Path::kWaiting, 40000},
      {2000, 0.04, Path::kWaiting, 40000},
  };
  long seed = 1000;
  for (const Case& c : cases) {
    char label_text[96];
    std::snprintf(label_text, sizeof label_text, "binoml n=%g p=%g (%s)", c.n, c.p, name(c.path));
    const std::string label = label_text;
    SCOPED_TRACE(label);
    occusim::reset_settings();
    occusim::determ = 0;
    occusim::seed_stream(seed++);
    std::vector<double> values;
    for (int i = 0; i < c.samples; ++i) {
      const long long before = occusim::draws_made();
      const double x = occusim::binoml(c.n, c.p);
      const long long draws = occusim::draws_made() - before;
      const double waiting = c.p > 0.9 ? c.n - x : x;
      const long long expected_draws = c.path == Path::kTrials   ? static_cast<long long>(c.n)
                                       : c.path == Path::kNormal ? 12
                                                                 : std::llround(waiting);
      if (draws != expected_draws) {
        ADD_FAILURE() << "sample " << i << " made " << draws << " draws, not " << expected_draws
                      << ": the split took another path";
        break;
      }
      values.push_back(x);
    }
    const double K = static_cast<double>(values.size());
    double mean = 0;
    for (double x : values) mean += x / K;
    double m2 = 0;
    double m4 = 0;
    for (double x : values) {
      m2 += (x - mean) * (x - mean) / K;
      m4 += std::pow(x - mean, 4) / K;
    }
    const double variance = m2 * K / (K - 1);
    const auto [mean_stated, variance_stated] = stated(c);
    const double mean_error = 4 * std::sqrt(variance / K);
    const double variance_error = 4 * std::sqrt(std::max(m4 - m2 * m2, 0.0) / K);
    occusim::verify::report(
        label,
        "mean " + std::to_string(mean) + " (binomial " + std::to_string(c.n * c.p) + ", stated " +
            std::to_string(mean_stated) + "), variance " + std::to_string(variance) +
            " (binomial " + std::to_string(c.n * c.p * (1 - c.p)) + ", stated " +
            std::to_string(variance_stated) + "), " + std::to_string(values.size()) + " samples");
    EXPECT_NEAR(mean, mean_stated, mean_error);
    EXPECT_NEAR(variance, variance_stated, variance_error);
  }
  occusim::reset_settings();
}
