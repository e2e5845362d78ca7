// Two-species history tree over base-4 history codes (two bits per occasion).
#include "two_species.h"

#include <cstdio>

#include "draws.h"
#include "settings.h"

namespace occusim {

namespace {

double block_value(int offset, int occasion) {
  return offset >= 0 ? pa[offset + occasion - 1] : 0.0;
}

}  // namespace

void caphis2(int code, double sites, int occasion, int offset_a, int offset_b_after_a,
             int offset_b_without_a) {
  // A zero group draws nothing and adds nothing in stochastic mode.
  if (determ == 0 && sites == 0.0) return;
  const double p_a = block_value(offset_a, occasion);
  const double p_b_after_a = block_value(offset_b_after_a, occasion);
  const double p_b_without_a = block_value(offset_b_without_a, occasion);
  const double detected_a = binoml(sites, p_a);
  const double undetected_a = sites - detected_a;
  const double both = binoml(detected_a, p_b_after_a);
  const double a_only = detected_a - both;
  const double b_only = binoml(undetected_a, p_b_without_a);
  const double none = undetected_a - b_only;
  if (occasion < nper) {
    const int s = 2 * (nper - occasion);
    caphis2(code | (1 << s), a_only, occasion + 1, offset_a, offset_b_after_a, offset_b_without_a);
    caphis2(code | (2 << s), b_only, occasion + 1, offset_a, offset_b_after_a, offset_b_without_a);
    caphis2(code | (3 << s), both, occasion + 1, offset_a, offset_b_after_a, offset_b_without_a);
    caphis2(code, none, occasion + 1, offset_a, offset_b_after_a, offset_b_without_a);
  } else {
    nx[code] += none;
    nx[code | 1] += a_only;
    nx[code | 2] += b_only;
    nx[code | 3] += both;
  }
}

void two_species_branch(double N, double psiA, double psiB1, double psiB2) {
  const int T = nper;
  const double a = binoml(N, psiA);
  const double not_a = N - a;
  const double both = binoml(a, psiB1);
  const double a_only = a - both;
  const double b_only = binoml(not_a, psiB2);
  const double neither = not_a - b_only;
  nx[0] = neither;
  std::printf("psiA,psiB,psiB2:%f %f %f\n", psiA, psiB1, psiB2);
  std::printf("nAonly,nBonly,nAB,neither:%f %f %f %f\n", a_only, b_only, both, neither);
  caphis2(0, a_only, 1, 0, -1, -1);
  std::printf("---------------\n");
  caphis2(0, b_only, 1, -1, -1, T);
  std::printf("---------------\n");
  caphis2(0, both, 1, 2 * T, 3 * T, 4 * T);
}

}  // namespace occusim
