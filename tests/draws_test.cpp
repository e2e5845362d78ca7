// The random stream, the uniform and normal draws, and the binomial split on each of its seven
// paths, driven by scripted draws so that every result and every number of draws is exact.
#include "draws.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <stdexcept>
#include <vector>

#include "settings.h"

namespace {

using occusim::binoml;
using occusim::draws_made;
using occusim::rand15;
using occusim::rand_norm;
using occusim::script_stream;
using occusim::unif;

class Draws : public ::testing::Test {
 protected:
  void SetUp() override { occusim::reset_settings(); }
  void TearDown() override { occusim::reset_stream(); }
};

TEST_F(Draws, StreamIsTheTopFifteenBitsOfMt19937) {
  // Unseeded: the engine's default state.
  std::mt19937 unseeded;
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(rand15(), static_cast<int>(unseeded() >> 17)) << i;
  EXPECT_EQ(draws_made(), 1000);
  // Seeds, including one that only its 32-bit cast gives a meaning.
  for (long seed : {1L, 12345L, 2147483647L, -1L}) {
    SCOPED_TRACE(seed);
    occusim::reset_stream();
    occusim::seed_stream(seed);
    std::mt19937 engine(static_cast<uint32_t>(seed));
    for (int i = 0; i < 1000; ++i) {
      const int r = rand15();
      ASSERT_EQ(r, static_cast<int>(engine() >> 17)) << i;
      ASSERT_GE(r, 0);
      ASSERT_LE(r, 32767);
    }
  }
  // seed 5489 is the engine's default: seeding with it gives the unseeded stream again.
  occusim::reset_stream();
  occusim::seed_stream(5489);
  EXPECT_EQ(rand15(), static_cast<int>(std::mt19937()() >> 17));
}

TEST_F(Draws, UnifDividesBy32767AndRandNormSumsTwelve) {
  script_stream({0, 32767, 16384, 1});
  EXPECT_EQ(unif(), 0.0);
  EXPECT_EQ(unif(), 1.0);
  EXPECT_EQ(unif(), 16384 / 32767.0);
  EXPECT_EQ(unif(), 1 / 32767.0);
  EXPECT_EQ(draws_made(), 4);

  const std::vector<int> twelve = {5, 32767, 17, 4000, 0, 29000, 12345, 3, 32766, 8191, 777, 20000};
  double sum = -6.0;
  for (int r : twelve) sum = r / 32767.0 + sum;
  script_stream(twelve);
  EXPECT_EQ(rand_norm(), sum);
  EXPECT_EQ(draws_made(), 4 + 12);
  script_stream(std::vector<int>(12, 0));
  EXPECT_EQ(rand_norm(), -6.0);
  script_stream(std::vector<int>(12, 32767));
  EXPECT_EQ(rand_norm(), 6.0);
  EXPECT_EQ(draws_made(), 4 + 36);
  EXPECT_THROW(rand15(), std::out_of_range);  // the script is spent
}

struct SplitCase {
  const char* path;
  int determ;
  double n, p;
  std::vector<int> script;  // exactly the draws the split must take
  double expected;
};

std::vector<int> repeat(int value, int times) {
  return std::vector<int>(static_cast<size_t>(times), value);
}

// floor(n p + z sqrt((1 - p) n p) + 0.5) with z from twelve equal draws r.
double normal_split(double n, double p, int r) {
  double z = -6.0;
  for (int i = 0; i < 12; ++i) z = r / 32767.0 + z;
  return std::floor(n * p + z * std::sqrt((1 - p) * n * p) + 0.5);
}

TEST_F(Draws, BinomialSplitOnEveryPath) {
  // One draw of 1/32767 gives ln = -10.3972: four of them stay above -49, a fifth does not.
  const int tiny = 1;
  // 16383/32767 is just below 0.5, 16384/32767 just above it.
  const SplitCase cases[] = {
      {"deterministic", 1, 10, 0.25, {}, 2.5},
      {"deterministic fraction", 1, 2.7, 0.5, {}, 1.35},
      {"deterministic negative p", 1, 10, -0.5, {}, -5.0},
      {"deterministic large n", 1, 1000, 0.01, {}, 10.0},
      {"p exactly 1 keeps the fraction", 0, 2.7, 1.0, {}, 2.7},
      {"p exactly 1, large n", 0, 1000.5, 1.0, {}, 1000.5},
      {"p exactly 0", 0, 2.7, 0.0, {}, 0.0},
      {"p exactly 0, large n", 0, 5000, 0.0, {}, 0.0},
      {"negative p", 0, 5, -0.25, {}, 0.0},
      {"negative p, large n", 0, 500, -0.25, {}, 0.0},
      {"trials: u <= p succeeds", 0, 2.7, 0.5, {16383, 16384}, 1.0},
      {"trials: fraction lost", 0, 3.999, 0.5, {0, 0, 0}, 3.0},
      {"trials: n below 1 draws nothing", 0, 0.6, 0.5, {}, 0.0},
      {"trials: negative n draws nothing", 0, -4, 0.5, {}, 0.0},
      {"trials: u equal to p succeeds", 0, 2, 100 / 32767.0, {100, 101}, 1.0},
      {"trials: draw 0 succeeds for any p", 0, 3, 1e-9, {0, 1, 0}, 2.0},
      {"trials: draw 32767 fails below p 1", 0, 2, 0.99999, {32767, 32766}, 1.0},
      {"trials: p above 1 succeeds always", 0, 3.5, 1.5, {32767, 32767, 32767}, 3.0},
      {"trials: 300 is still trials", 0, 300, 0.5, repeat(16383, 300), 300.0},
      {"normal: 300.5 leaves the trials", 0, 300.5, 0.5, repeat(16384, 12),
       normal_split(300.5, 0.5, 16384)},
      {"normal: z = 6", 0, 1000, 0.5, repeat(32767, 12), 595.0},
      {"normal: z = -6", 0, 1000, 0.5, repeat(0, 12), 405.0},
      {"normal: lower bound, below 0", 0, 400, 0.05, repeat(0, 12), -6.0},
      {"normal: upper bound, above n", 0, 400, 0.95, repeat(32767, 12), 406.0},
      {"normal: mixed draws",
       0,
       1000,
       0.3,
       {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 32767},
       std::floor(300 +
                  (-6.0 + (1 + 2 + 3 + 4 + 5 + 6 + 7 + 8 + 9 + 10 + 11 + 32767) / 32767.0) *
                      std::sqrt(0.7 * 300) +
                  0.5)},
      {"waiting: p just below 0.05", 0, 1000, 0.049, repeat(tiny, 5), 5.0},
      {"waiting: p just above 0.95", 0, 1000, 0.951, repeat(tiny, 5), 995.0},
      {"waiting: never 0", 0, 500, 0.01, {tiny}, 1.0},
      {"waiting: a draw of 1 adds nothing, a draw of 0 ends",
       0,
       1000,
       0.01,
       {32767, 32767, 0},
       3.0},
      {"waiting: mirrored, ended by 0", 0, 1000, 0.99, {32767, 0}, 998.0},
      {"waiting: p above 1 draws nothing", 0, 400.5, 1.5, {}, 400.5},
  };
  for (const SplitCase& c : cases) {
    SCOPED_TRACE(c.path);
    occusim::reset_stream();
    occusim::determ = c.determ;
    script_stream(c.script);
    double result = 0;
    ASSERT_NO_THROW(result = binoml(c.n, c.p)) << "asked for more draws than scripted";
    EXPECT_DOUBLE_EQ(result, c.expected);
    EXPECT_EQ(draws_made(), static_cast<long long>(c.script.size()));
  }
}

TEST_F(Draws, WaitingTimeCountsTheTermThatCrossesTheLimit) {
  // Limit -n q = -3.01; terms ln(r / 32767) drawn in order, the crossing term counted.
  const std::vector<int> script = {20000, 15000, 30000, 9000, 26000, 1000, 32767};
  double sum = 0;
  size_t taken = 0;
  while (sum >= -301 * 0.01) sum += std::log(script[taken++] / 32767.0);
  ASSERT_LT(taken, script.size());
  occusim::determ = 0;
  script_stream(script);
  EXPECT_EQ(binoml(301, 0.01), static_cast<double>(taken));
  EXPECT_EQ(draws_made(), static_cast<long long>(taken));
}

}  // namespace
