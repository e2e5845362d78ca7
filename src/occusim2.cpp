// Run driver: command line, option scan, parameter layouts, checks, seeding, file opening,
// run report and dispatch to one model.
#include "occusim2.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>

#include "counts.h"
#include "draws.h"
#include "multistate.h"
#include "output.h"
#include "settings.h"
#include "single_species.h"
#include "two_species.h"

namespace occusim {

namespace {

// Longest binary history that nx holds (2^24 cells), and longest two-species history (4^12).
constexpr long long kMaxPositions = 24;
constexpr long long kMaxTwoSpeciesOccasions = 12;
// Longest site-by-site or count run: its tables hold T + 1 slots.
constexpr long long kMaxOccasions = 10000000;

const char* const kUsage[] = {
    "usage occusim2 T N psi p p p... eps eps eps... gam gam gam ...[opts]      or\n",
    "      occusim2 T N psiA psiB1 psiB2 pA pB rA rB1 rB2 2SP                  or\n",
    "      occusim2 T N psi p p p... theta theta theta... METH=M [opts] or\n",
    "      occusim2 T N psi ssPsi1 ssPsi2 p1 p2 SSOCC=1 [opts] or\n",
    "      occusim2 T N psi0... psi1... psi2... R... p1... p2... dlta... MULTISTATE\n",
    "      occusim2 T N psi(0),psi(1),...p(1),p(2),... NSTATES=x MULTISTATE\n",
    "      occusim2 T N p LAMBDA=x\n",
    "  where T=number of sampling occasions,\n",
    "        N=total number of surveyed sites,\n",
    "        psi=probability species is present at a site,\n",
    "        p=detection probability\n",
    "        eps=extinction rate from sample i to i+1,\n",
    "        gam=prop of extinct sites which colonize between sample i and i+1,\n",
    "    opts: STOCHASTIC, NOMARK, LIST, HIST QUIET NOBS=n SIMTYPE=j\n\n",
    "psi0= prob adults of species are present|not present in i-1\n",
    "psi1= prob adults of species are present|adults present in i-1\n",
    "psi2= prob adults of species are present|breeders present in i-1\n",
    "R   = prob breeders of species are present|adults present\n",
    "p1  = prob of detecting non-breeding adults\n",
    "p2  = prob of detecting breeding adults\n",
    "dlta= prob of detecting young with breeding adults\n\n",
    "psiAB= prob of both species present                           N \n",
    "psiA= prob species A present, regardless of species B        / \\psiA   \n",
    "psiB= prob species B present, regardless of species A       x   A      \n",
    "psiB1=prob species B present | species A present           / \\ / \\psiB1\n",
    "psiB2=prob species B present | species A not present       0 B A  AB   \n",
    "           psiB=psiB2*(1-psiA)+psiAB\n",
    "pA=prob detect A | only A present\n",
    "pB=prob detect B | only B present\n",
    "rA=prob detect A, regardless of B\n",
    "rB1=prob detect B | detected A    \n",
    "rB2=prob detect B | not detected A                          AB \n",
    "rAB=prob detect B | both species present                   / \\rA\n",
    "rAb=prob detect A, not B|both species present             0   A      \n",
    "raB=prob detect B, not A|both species present            / \\ / \\rB1\n",
    "rab=prob detect neither |both species present           0  2 1   3   \n",
    "\nSIMTYPE=2: simulate by site\n\n",
    "psi(0)= vector of psi for just before occasion 1\n",
    "psi(1)= matrix of psi for just before occasion 2\n",
    "p(1)= matrix of p at  occasion 1\n",
    "psi(i,r,s)= [in state r @ i] [in state s @ i-1]\n",
    "p(i,r,s)= [cap in r @ i] [true state=s]\n",
};

// The values the driver alone holds, besides the shared settings.
struct DriverValues {
  int T = 0;
  double N = 0.0;
  double lambda = -1.0;
  long seed = 0;
  int first_option = 0;
  int coefficient_start = 0;
};

// Text of a keyword's value: what follows its first 'skip' characters, or "" for a word
// shorter than that.
const char* value_after(const char* word, size_t skip) {
  return std::strlen(word) < skip ? "" : word + skip;
}

// The option scan: every argument is tested against every keyword, as a substring.
void scan_options(int argc, char** argv, DriverValues& v) {
  v.first_option = argc;
  for (int k = 1; k < argc; ++k) {
    const char* word = argv[k];
    if (QUIET == 0) std::printf("ARG[%d]:%s\n", k, word);
    bool option = false;
    auto has = [&](const char* keyword) {
      const bool found = std::strstr(word, keyword) != nullptr;
      option = option || found;
      return found;
    };
    if (has("2SP")) TWOSP = 1;
    if (has("STOCH")) determ = 0;
    if (has("QUIET")) QUIET = 1;
    if (has("LIST")) LIST = 1;
    has("HIST");
    if (has("P0MISS")) P0MISS = 1;
    if (has("METH")) METH = to_int(value_after(word, 5));
    if (has("SSOCC")) SSOCC = 1;
    if (has("NOBS")) NOBS = to_int(value_after(word, 5));
    if (has("NSTATES")) {
      NSTATES = to_int(value_after(word, 8));
      MS2 = 1;
    }
    if (has("MULTISTATE")) MULTISTATE = 1;
    if (has("MULTISEASON")) MULTISEASON = 1;
    if (has("SIMTYPE")) SIMTYPE = 2;
    if (has("SDHF")) new_sdh_opt = 1;
    has("K=");
    if (has("LAMBDA=")) v.lambda = to_real(value_after(word, 7));
    if (has("SEED")) v.seed = to_int(value_after(word, 5));
    if (has("seed")) v.seed = to_int(value_after(word, 5));
    if (has("NCOVS")) {
      ncovs = to_int(value_after(word, 6));
      v.coefficient_start = k + 1;
    }
    if (option && k < v.first_option) v.first_option = k;
  }
}

// The covariate coefficients, refused when the command line cannot hold them.
int read_coefficients(int argc, char** argv, const DriverValues& v) {
  if (ncovs < 0) return refuse("NCOVS=%d is negative; the limit is 0 or more", ncovs);
  const long long last = static_cast<long long>(v.coefficient_start) + ncovs - 1;
  if (ncovs > 0 && last > argc - 1) {
    return refuse("NCOVS=%d needs %d coefficients after it; the command line has %d", ncovs, ncovs,
                  argc - v.coefficient_start);
  }
  coef.assign(static_cast<size_t>(ncovs) + 1, 0.0);
  coef[0] = 1.0;
  for (int i = 1; i <= ncovs; ++i) coef[i] = to_real(argv[v.coefficient_start + i - 1]);
  if (QUIET == 0 && ncovs >= 1) {
    for (int i = 0; i <= ncovs; ++i) std::printf("coef(%d)=%f\n", i, coef[i]);
  }
  return 0;
}

int refuse_layout(const char* layout, long long needed, int argc, int T) {
  return refuse("the %s layout needs %lld values for T=%d; the command line has %d", layout, needed,
                T, argc - 1);
}

int refuse_sites(double count, const char* what) {
  return refuse("%s of %.0f sites exceeds the limit of 2147483647", what, count);
}

// Checks made once, before any file is created or emptied: the tables must hold the run,
// the unguarded layouts must lie within the command line, and every count that becomes an
// integer must fit one. Returns 1 (message printed) to refuse the run.
int check_run(int argc, char** argv, const DriverValues& v) {
  const int T = v.T;
  if (!std::isfinite(v.N)) return refuse("the number of sites '%s' is not finite", argv[2]);
  if (MS2 != 0) return check_multistate2(argc, argv);
  if (MULTISTATE != 0) return check_multistate(argc, argv);
  if (T > kMaxOccasions) {
    return refuse("T=%d occasions exceeds the limit of %lld", T, kMaxOccasions);
  }
  if (TWOSP != 0 && argc < 5LL * T + 6) return refuse_layout("2SP", 5LL * T + 5, argc, T);
  if (SSOCC != 0 && argc < T + 6LL) return refuse_layout("SSOCC", T + 5LL, argc, T);
  if (v.lambda > 0) return check_royle(v.N, v.lambda);
  const long long methods_by_occasions = static_cast<long long>(METH) * T;
  if (METH >= 1 && argc < 4 + methods_by_occasions) {
    return refuse("the METH=%d layout needs %lld values for T=%d; the command line has %d", METH,
                  3 + methods_by_occasions, T, argc - 1);
  }
  // Each method gives every occasion a history position, so no run holds more than 24 of
  // them; with T = 0 no layout bounds METH, and INT_MAX methods would loop past int.
  if (METH > kMaxPositions) {
    return refuse("METH=%d exceeds the limit of %lld methods", METH, kMaxPositions);
  }
  // 2SP takes precedence over SIMTYPE: with both, the run is still a tree.
  const bool stochastic_tree = determ == 0 && (SIMTYPE != 2 || TWOSP != 0);
  if (TWOSP != 0) {
    if (T > kMaxTwoSpeciesOccasions) {
      return refuse("a two-species history of %d occasions exceeds the limit of %lld", T,
                    kMaxTwoSpeciesOccasions);
    }
  } else if (SIMTYPE == 2) {
    if (METH >= 2)
      return refuse("METH=%d cannot be combined with SIMTYPE; the limit is METH=1", METH);
    const double sites = std::trunc(v.N);
    if (std::fabs(sites) > kMaxCount) return refuse_sites(sites, "a site-by-site run");
    if (std::fabs(sites * NOBS) > kMaxCount) {
      return refuse("%.0f rows (NOBS=%d for %.0f sites) exceed the limit of 2147483647",
                    sites * NOBS, NOBS, sites);
    }
    return 0;
  } else {
    const long long positions = METH >= 2 ? methods_by_occasions : T;
    if (positions > kMaxPositions) {
      return refuse("a history of %lld positions exceeds the limit of %lld", positions,
                    kMaxPositions);
    }
  }
  if (stochastic_tree && std::fabs(v.N) > kMaxCount) {
    return refuse_sites(v.N, "a stochastic run");
  }
  return 0;
}

// Tables sized for the run that was checked, every new slot 0. Returns 1
// (refusal printed) when the covariate table cannot be allocated.
int size_tables(const DriverValues& v) {
  const long long T = v.T;
  if (MS2 != 0 || MULTISTATE != 0) return 0;
  long long detection = T;
  if (TWOSP != 0) detection = 5 * T;
  if (METH >= 1 && !(v.lambda > 0)) detection = std::max(detection, METH * T);
  pa.resize(static_cast<size_t>(detection) + 1, 0.0);
  eps.assign(static_cast<size_t>(std::max(T + 1, 3LL)), 0.0);
  gam.assign(static_cast<size_t>(std::max(T + 1, 3LL)), 0.0);
  if (v.lambda > 0) return 0;
  if (SIMTYPE == 2 && TWOSP == 0) return ncovs > 0 ? reserve_covariates(v.N) : 0;
  long long bits = METH >= 2 ? METH * T : T;
  if (TWOSP != 0) bits = 2 * T;
  nx.assign(static_cast<size_t>(std::max(1LL << bits, 4LL)), 0.0);
  if (TWOSP != 0) nx2.assign(nx.size(), 0.0);
  return 0;
}

int close_files(int status) {
  close_output(fp, "occusim.inp");
  const bool data_closed = close_output(fp2, "occusim.sdh");
  if (status != 0) return status;
  return data_closed && output_failed == 0 ? 0 : 1;
}

int run_steps(int argc, char** argv) {
  DriverValues v;
  v.seed = static_cast<long>(std::min<long long>(std::time(nullptr), INT_MAX));
  if (argc < 5) {
    print_usage();
    return 1;
  }
  determ = to_int(argv[1]) < 0 ? 0 : 1;
  v.T = occasions(argv[1]);
  const int T = v.T;
  nper = T;
  v.N = to_real(argv[2]);
  psi = to_real(argv[3]);
  const int generic = std::max(0, std::min(T, argc - 4));
  pa.assign(static_cast<size_t>(generic), 0.0);
  for (int i = 0; i < generic; ++i) pa[i] = to_real(argv[4 + i]);
  for (int k = 1; k < argc; ++k) {
    if (std::strstr(argv[k], "quiet") != nullptr || std::strstr(argv[k], "QUIET") != nullptr) {
      QUIET = 1;
    }
  }
  scan_options(argc, argv, v);
  if (read_coefficients(argc, argv, v) != 0) return 1;
  if (SIMTYPE <= 1 && T >= 30) {
    std::fprintf(stderr, "\nT must be < 30\n");
    return 1;
  }
  if (check_run(argc, argv, v) != 0) return 1;
  if (size_tables(v) != 0) return 1;
  if (determ == 0) {
    seed_stream(v.seed);
    if (QUIET == 0) {
      const int r1 = rand15();
      const int r2 = rand15();
      const int r3 = rand15();
      std::fprintf(stderr, "seed=%ld, rand#'s:%d %d %d\n", v.seed, r3, r2, r1);
    }
  }
  if (MS2 != 0) return do_multistate_sim2(argc, argv);
  if (MULTISTATE != 0) return do_multistate_sim(argc, argv);
  double psiA = 0.0;
  double psiB1 = 0.0;
  double psiB2 = 0.0;
  if (TWOSP == 1) {
    psiA = psi;
    psiB1 = to_real(argv[4]);
    psiB2 = to_real(argv[5]);
    for (int i = 0; i < 5 * T; ++i) pa[i] = to_real(argv[6 + i]);
  }
  if (SSOCC == 1) {
    gam[1] = to_real(argv[4]);
    gam[2] = to_real(argv[5]);
    for (int i = 0; i < T; ++i) pa[i] = to_real(argv[6 + i]);
  }
  const long long block = static_cast<long long>(METH) * T;
  if (METH >= 2) {
    for (int j = 1; j <= T; ++j) {
      const long long index = 3 + block + j;
      if (index < v.first_option) eps[j - 1] = to_real(argv[index]);
    }
  }
  if (TWOSP == 0 && METH == 0 && SSOCC == 0) {
    for (long long i = 0; i + 2 <= T; ++i) {
      if (T + 4 + i < v.first_option) eps[i + 1] = to_real(argv[T + 4 + i]);
      if (2LL * T + 3 + i < v.first_option) gam[i + 1] = to_real(argv[2 * T + 3 + i]);
    }
  }
  fp = open_output("occusim.inp");
  fp2 = open_output("occusim.sdh");
  if (v.lambda > 0) return close_files(do_royle(v.N, T, v.lambda, psi, v.seed));
  if (METH >= 1) {
    for (int m = 1; m <= METH; ++m) {
      for (int j = 1; j <= T; ++j) {
        pa[static_cast<size_t>(j - 1) * METH + (m - 1)] =
            to_real(argv[3 + static_cast<long long>(m - 1) * T + j]);
      }
    }
  }
  gam[0] = psi;
  if (QUIET == 0) print_run_report(v.N);
  if (TWOSP != 0) {
    two_species_branch(v.N, psiA, psiB1, psiB2);
    two_species_pass();
    return close_files(0);
  }
  double sites = v.N;
  if (METH >= 2) {
    nper = T * METH;
    const double occupied = binoml(v.N, psi);
    nx[0] = v.N - occupied;
    sites = occupied;
  }
  if (SIMTYPE == 2) return close_files(caphis3(sites));
  if (SSOCC != 0) {
    caphis_scorr(0, sites, 1, 0, 0);
  } else {
    caphis(0, sites, 1, 0);
  }
  single_species_pass();
  return close_files(0);
}

}  // namespace

void print_usage() {
  for (const char* line : kUsage) std::fputs(line, stderr);
}

void print_run_report(double N) {
  const int T = nper;
  std::fprintf(stderr, "T=%d N=%lf psi=%lf\n", T, N, psi);
  if (METH != 0) {
    std::fprintf(stderr, "p=\n");
    for (int m = 1; m <= METH; ++m) {
      for (int j = 1; j <= T; ++j) {
        std::fprintf(stderr, " %lf", pa[static_cast<size_t>(j - 1) * METH + (m - 1)]);
      }
      std::fprintf(stderr, "\n");
    }
    std::fprintf(stderr, "theta=");
    for (int j = 1; j <= T; ++j) std::fprintf(stderr, " %lf", eps[j - 1]);
    std::fprintf(stderr, "\n");
  } else if (TWOSP != 0) {
    const char* labels[5] = {"pA  =", "pB  =", "rA  =", "rB1 =", "rB2 ="};
    for (int b = 0; b < 5; ++b) {
      std::fprintf(stderr, "%s", labels[b]);
      for (int i = 0; i < T; ++i) std::fprintf(stderr, " %lf", pa[b * T + i]);
      std::fprintf(stderr, "\n");
    }
  } else {
    std::fprintf(stderr, "p  =");
    for (int i = 0; i < T; ++i) std::fprintf(stderr, " %lf", pa[i]);
    std::fprintf(stderr, "\neps=");
    for (int i = 1; i < T; ++i) std::fprintf(stderr, " %lf", eps[i]);
    std::fprintf(stderr, "\ngam=");
    for (int i = 1; i < T; ++i) std::fprintf(stderr, " %lf", gam[i]);
    std::fprintf(stderr, "\n");
  }
  std::fprintf(stderr, "\n");
}

int run(int argc, char** argv) {
  try {
    return run_steps(argc, argv);
  } catch (const std::bad_alloc&) {
    close_output(fp, "occusim.inp");
    close_output(fp2, "occusim.sdh");
    return refuse("out of memory: the run's tables cannot be allocated");
  }
}

}  // namespace occusim
