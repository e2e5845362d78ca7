// Definitions and start values of the shared run settings and tables.
#include "settings.h"

#include <climits>
#include <cstdlib>

#include "draws.h"

namespace occusim {

int nper = 0;
int determ = 0;
double psi = 0.0;
int QUIET = 0;
int TWOSP = 0;
int LIST = 0;
int P0MISS = 0;
int METH = 0;
int SSOCC = 0;
int NOBS = 1;
int NSTATES = 3;
int MS2 = 0;
int MULTISTATE = 0;
int MULTISEASON = 0;
int SIMTYPE = 1;
int new_sdh_opt = 0;
int ncovs = 0;
std::vector<double> coef;
std::vector<std::vector<double>> cov;
std::vector<double> pa;
std::vector<double> eps;
std::vector<double> gam;
std::vector<double> nx;
std::vector<double> nx2;
int NUMOCC = 0;
long long nout = 0;
FILE* fp = nullptr;
FILE* fp2 = nullptr;
int output_failed = 0;

int to_int(const char* word) {
  const long long value = std::strtoll(word, nullptr, 10);
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

double to_real(const char* word) {
  return std::strtod(word, nullptr);
}

int occasions(const char* word) {
  const int T = to_int(word);
  if (T == INT_MIN) return INT_MAX;
  return T < 0 ? -T : T;
}

void reset_settings() {
  nper = 0;
  determ = 0;
  psi = 0.0;
  QUIET = 0;
  TWOSP = 0;
  LIST = 0;
  P0MISS = 0;
  METH = 0;
  SSOCC = 0;
  NOBS = 1;
  NSTATES = 3;
  MS2 = 0;
  MULTISTATE = 0;
  MULTISEASON = 0;
  SIMTYPE = 1;
  new_sdh_opt = 0;
  ncovs = 0;
  std::vector<double>().swap(coef);
  std::vector<std::vector<double>>().swap(cov);
  std::vector<double>().swap(pa);
  std::vector<double>().swap(eps);
  std::vector<double>().swap(gam);
  std::vector<double>().swap(nx);
  std::vector<double>().swap(nx2);
  NUMOCC = 0;
  nout = 0;
  if (fp != nullptr) std::fclose(fp);
  if (fp2 != nullptr) std::fclose(fp2);
  fp = nullptr;
  fp2 = nullptr;
  output_failed = 0;
  reset_stream();
}

}  // namespace occusim
