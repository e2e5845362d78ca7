// N-mixture counts. Draws come straight from the stream: m placement draws, then one
// counting draw per individual, occasion and site, in site order.
#include "counts.h"

#include <cmath>
#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "draws.h"
#include "output.h"
#include "settings.h"

namespace occusim {

namespace {

// Number of sites: halves go down (10.5 gives 10, 10.6 gives 11).
double site_count(double N) {
  return std::trunc(N + 0.4999);
}

}  // namespace

int check_royle(double N, double lambda) {
  const double n = site_count(N);
  if (!(std::fabs(n) <= kMaxCount)) {
    return refuse("the count model's %.0f sites exceed the limit of 2147483647", n);
  }
  const double m = std::trunc(n * lambda);
  // An infinite lambda gives no number at all (0 sites times it is a NaN, whose printed sign
  // differs between machines): say so rather than print it.
  if (!std::isfinite(m)) {
    return refuse("the count model's number of individuals is not finite (n=%.0f, lambda=%g)", n,
                  lambda);
  }
  if (!(std::fabs(m) <= kMaxCount)) {
    return refuse("the count model's %.0f individuals exceed the limit of 2147483647", m);
  }
  return 0;
}

int do_royle(double N, int T, double lambda, double p, long ix) {
  const int n = static_cast<int>(site_count(N));
  std::printf("n=%d t=%d lam=%f p=%f ix=%ld\n", n, T, lambda, p, ix);
  std::vector<int> abundance;
  try {
    // Counter n is the spare one, for a placement draw of exactly 32767.
    abundance.assign(n > 0 ? static_cast<size_t>(n) + 1 : 1, 0);
  } catch (const std::bad_alloc&) {
    return refuse("cannot allocate the abundance table for %d sites", n);
  }
  const int m = static_cast<int>(std::trunc(static_cast<double>(n) * lambda));
  for (int i = 0; i < m; ++i) {
    const double u = rand15() / 32767.0;
    const int k = static_cast<int>(n * u);
    ++abundance[k];
  }
  std::string row;
  char number[16];
  for (int i = 0; i < n; ++i) {
    row.clear();
    for (int t = 1; t <= T; ++t) {
      int c = 0;
      for (int j = 0; j < abundance[i]; ++j) {
        if (p > rand15() / 32767.0) ++c;
      }
      const int length = std::snprintf(number, sizeof number, "%d\t", c);
      row.append(number, static_cast<size_t>(length));
    }
    row += '\n';
    write_repeated(fp2, row, 1);
  }
  return 0;
}

}  // namespace occusim
