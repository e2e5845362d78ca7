// Random stream and binomial split. The stream is one std::mt19937 whose outputs are cut to
// 15 bits, so a seed gives the same data on every platform.
#include "draws.h"

#include <cmath>
#include <random>
#include <stdexcept>

#include "settings.h"

namespace occusim {

namespace {

std::mt19937 engine;
long long drawn = 0;
std::vector<int> scripted;
size_t scripted_next = 0;
bool scripting = false;

}  // namespace

int rand15() {
  ++drawn;
  if (scripting) {
    if (scripted_next >= scripted.size()) throw std::out_of_range("scripted stream exhausted");
    return scripted[scripted_next++];
  }
  return static_cast<int>(engine() >> 17);
}

void seed_stream(long seed) {
  engine.seed(static_cast<uint32_t>(seed));
}

void reset_stream() {
  engine = std::mt19937();
  drawn = 0;
  scripted.clear();
  scripted_next = 0;
  scripting = false;
}

long long draws_made() {
  return drawn;
}

void script_stream(std::vector<int> values) {
  scripted = std::move(values);
  scripted_next = 0;
  scripting = true;
}

double unif() {
  return rand15() / 32767.0;
}

double rand_norm() {
  double sum = -6.0;
  for (int i = 0; i < 12; ++i) sum = unif() + sum;
  return sum;
}

double binoml(double n, double p) {
  if (determ != 0 || p == 1.0 || p == 0.0) return n * p;
  if (p <= 0.0) return 0.0;
  if (n <= 300.0) {
    double successes = 0.0;
    for (int i = 1; i <= n; ++i) {
      if (unif() <= p) successes += 1.0;
    }
    return successes;
  }
  if (p >= 0.05 && p <= 0.95) {
    const double z = rand_norm();
    return std::floor(n * p + z * std::sqrt((1.0 - p) * n * p) + 0.5);
  }
  // Waiting-time count: the number of exponential gaps (sums of ln u) that fit into n*q.
  const double q = p > 0.9 ? 1.0 - p : p;
  const double limit = -n * q;
  double sum = 0.0;
  double count = 0.0;
  while (sum >= limit) {
    sum += std::log(unif());
    count += 1.0;
  }
  return p > 0.9 ? n - count : count;
}

}  // namespace occusim
