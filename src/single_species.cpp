// Occupancy tree, correlated tree and site-by-site simulation of one species.
#include "single_species.h"

#include <cmath>
#include <new>
#include <string>

#include "draws.h"
#include "output.h"
#include "settings.h"

namespace occusim {

namespace {

// Bit of history position 'occasion' in a code of nper positions (none past the last one,
// which only a run of zero positions reaches).
int position_bit(int occasion) {
  return occasion <= nper ? 1 << (nper - occasion) : 0;
}

}  // namespace

void caphis(int code, double sites, int occasion, int prior) {
  // In stochastic mode a group of exactly zero sites draws nothing and adds nothing, so its
  // subtree can be skipped without changing the output.
  if (determ == 0 && sites == 0.0) return;
  const int detected_code = code | position_bit(occasion);
  double present;
  if (METH >= 2) {
    if (occasion % METH == 1) {
      present = binoml(sites, eps[(occasion - 1) / METH]);
    } else {
      present = prior * sites;
    }
  } else if (prior == 0) {
    present = binoml(sites, gam[occasion - 1]);
  } else {
    present = binoml(sites, 1.0 - eps[occasion - 1]);
  }
  const double absent = sites - present;
  const double detected = binoml(present, pa[occasion - 1]);
  const double undetected = present - detected;
  if (occasion < nper) {
    caphis(detected_code, detected, occasion + 1, 1);
    caphis(code, undetected, occasion + 1, 1);
    caphis(code, absent, occasion + 1, 0);
  } else {
    nx[code] += absent + undetected;
    nx[detected_code] += detected;
  }
}

void caphis_scorr(int code, double sites, int occasion, int carry, int prev) {
  if (determ == 0 && sites == 0.0 && occasion > 1) return;
  const int detected_code = code | position_bit(occasion);
  double occupied;
  if (occasion == 1) {
    occupied = binoml(sites, gam[0]);
    nx[0] = sites - occupied;
  } else {
    occupied = carry * sites;
  }
  const double available = binoml(occupied, gam[1 + prev]);
  const double unavailable = occupied - available;
  const double detected = binoml(available, pa[occasion - 1]);
  const double undetected = available - detected;
  if (occasion < nper) {
    caphis_scorr(detected_code, detected, occasion + 1, 1, 1);
    caphis_scorr(code, undetected, occasion + 1, 1, 1);
    caphis_scorr(code, unavailable, occasion + 1, 1, 0);
  } else {
    nx[code] += unavailable + undetected;
    nx[detected_code] += detected;
  }
}

double get_occ_with_covs(int site) {
  if (ncovs < 1) return gam[0];
  double x = coef[0];
  for (int k = 1; k <= ncovs; ++k) x = x + coef[k] * cov[k - 1][site];
  return 1.0 / (1.0 + std::exp(-x));
}

int reserve_covariates(double sites) {
  const int n = static_cast<int>(sites);
  try {
    cov.assign(static_cast<size_t>(ncovs), std::vector<double>());
    for (auto& row : cov) row.reserve(n > 0 ? static_cast<size_t>(n) : 0);
  } catch (const std::bad_alloc&) {
    std::vector<std::vector<double>>().swap(cov);
    return refuse("cannot allocate the covariate table of %d covariates for %d sites", ncovs, n);
  }
  return 0;
}

int caphis3(double sites) {
  // Only the whole part of 'sites' is simulated: the header counts it, and so must the rows.
  const int n = static_cast<int>(sites);
  const int T = nper;
  header_line(fp2, static_cast<long long>(n) * NOBS, T);
  if (cov.size() != static_cast<size_t>(ncovs) && reserve_covariates(sites) != 0) return 1;
  for (auto& row : cov) {
    for (int j = 0; j < n; ++j) row.push_back(rand_norm());
  }
  std::string row(2 * static_cast<size_t>(T) + 1, '\t');
  row.back() = '\n';
  std::string text(static_cast<size_t>(T), '0');
  for (int j = 0; j < n; ++j) {
    int occupied = 1;
    int previous = 0;
    if (unif() > get_occ_with_covs(j)) occupied = 0;
    for (int k = 1; k <= T; ++k) {
      char history = '0';
      int available = 1;
      if (SSOCC != 0) {
        if (unif() > gam[1 + previous]) available = 0;
        previous = available;
      }
      if (unif() < pa[k - 1]) history = static_cast<char>('0' + occupied * available);
      const double change = (occupied == 0 && SSOCC == 0) ? gam[k] : eps[k];
      if (unif() < change) occupied = 1 - occupied;
      row[2 * static_cast<size_t>(k - 1)] = history;
      text[k - 1] = history;
    }
    put(fp, "%s %d;\n", text.c_str(), NOBS);
    write_repeated(fp2, row, NOBS);
  }
  put(fp2, "%d\n", ncovs);
  for (int k = 1; k <= ncovs; ++k) {
    put(fp2, "cov%d\n", k);
    for (int j = 0; j < n; ++j) put(fp2, "%f\n", cov[k - 1][j]);
    std::vector<double>().swap(cov[k - 1]);
  }
  std::vector<std::vector<double>>().swap(cov);
  put(fp2, "0\n");
  return 0;
}

}  // namespace occusim
