// Multistate writer and file assembly; breeding-state and general multistate models.
// History codes are decimal, one digit per occasion, occasion 1 most significant.
#include "multistate.h"

#include <cmath>
#include <cstdio>
#include <string>

#include "draws.h"
#include "output.h"
#include "settings.h"

namespace occusim {

namespace {

// Longest tree run: a code of 18 decimal digits still fits a 64-bit integer.
constexpr int kMaxTreeOccasions = 18;

// 10^e for 0 <= e <= 18; a digit weight past the last occasion is 0.
long long digit_weight(int e) {
  long long w = 1;
  if (e < 0) return 0;
  for (int i = 0; i < e; ++i) w *= 10;
  return w;
}

// Walks the model's positional values from argument 1; the layout was checked beforehand.
struct Cursor {
  char** argv;
  int next;
  double real() { return to_real(argv[next++]); }
};

int check_sites(double N, const char* model) {
  if (determ == 0 && std::fabs(N) > kMaxCount) {
    return refuse("the %s model's %.0f sites exceed the limit of 2147483647 in stochastic mode",
                  model, N);
  }
  return 0;
}

}  // namespace

void print_mscaphis(long long code, double count) {
  char digits[32];
  std::snprintf(digits, sizeof digits, "%0*lld", NUMOCC, code);
  const std::string all(digits);
  const std::string text = all.substr(all.size() - static_cast<size_t>(NUMOCC));
  long long n = rounded(count);
  if (LIST != 0 && count > 0) std::printf("%s %f\n", text.c_str(), count);
  if (!(count > 0)) return;
  put(fp, "%s %f;\n", text.c_str(), count);
  if (determ != 0) n = 1;
  std::string row;
  for (size_t i = 0; i < text.size(); ++i) {
    if (i > 0) row += '\t';
    row += text[i];
  }
  if (determ != 0) {
    char number[400];
    std::snprintf(number, sizeof number, "\t%f", count);
    row += number;
  }
  row += '\n';
  write_repeated(fp2, row, n);
  // Only rows that reached the temporary file count toward the header.
  if (n > 0 && fp2 != nullptr) nout += n;
}

void ms_open_files() {
  fp = open_output("occusim.inp");
  fp2 = open_output("occusim.tmp");
}

void ms_assemble_files() {
  // A temporary file that could not be written holds no rows of this run: it is not read back.
  // Nor is one whose writes failed: read back, a link to /dev/full would yield zeros forever.
  const bool tmp_opened = fp2 != nullptr;
  close_output(fp, "occusim.inp");
  const bool tmp_written = close_output(fp2, "occusim.tmp") && tmp_opened;
  FILE* tmp = tmp_written ? open_output("occusim.tmp", "r") : nullptr;
  fp2 = open_output("occusim.sdh");
  // The header counts the rows this file receives: none when the temporary file is not read.
  header_line(fp2, tmp != nullptr ? nout : 0, NUMOCC);
  if (tmp != nullptr) {
    char buffer[1 << 16];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, tmp)) > 0) {
      if (fp2 != nullptr) std::fwrite(buffer, 1, got, fp2);
    }
    if (std::ferror(tmp) != 0) {
      std::perror("occusim.tmp");
      output_failed = 1;
    }
  }
  closing_lines(fp2);
  close_output(fp2, "occusim.sdh");
  if (tmp != nullptr) std::fclose(tmp);
}

int check_multistate(int argc, char** argv) {
  const long long T = occasions(argv[1]);
  if (SIMTYPE != 2 && T > kMaxTreeOccasions) {
    return refuse("a multistate tree of %lld occasions exceeds the limit of %d", T,
                  kMaxTreeOccasions);
  }
  const long long needed = 4 + 3 * T + (MULTISEASON != 0 && T > 1 ? 6 * (T - 1) : 0);
  if (argc - 1 < needed) {
    return refuse("the MULTISTATE layout needs %lld values for T=%lld; the command line has %d",
                  needed, T, argc - 1);
  }
  const double N = to_real(argv[2]);
  if (SIMTYPE == 2) {
    if (new_sdh_opt == 0 && std::fabs(std::trunc(N + 0.5)) > kMaxCount) {
      return refuse("the MULTISTATE model's %.0f sites exceed the limit of 2147483647", N);
    }
    return 0;
  }
  return check_sites(N, "MULTISTATE");
}

int check_multistate2(int argc, char** argv) {
  const long long S = NSTATES;
  if (S < 1 || S > 10) return refuse("NSTATES=%lld is outside the limit of 1 to 10", S);
  const long long T = occasions(argv[1]);
  if (T > kMaxTreeOccasions) {
    return refuse("a multistate tree of %lld occasions exceeds the limit of %d", T,
                  kMaxTreeOccasions);
  }
  const long long needed = 2 + (S - 1) + S * (S - 1) * (T > 1 ? T - 1 : 0) + (S - 1) * S * T;
  if (argc - 1 < needed) {
    return refuse("the NSTATES=%lld layout needs %lld values for T=%lld; the command line has %d",
                  S, needed, T, argc - 1);
  }
  return check_sites(to_real(argv[2]), "NSTATES");
}

int do_multistate_sim(int argc, char** argv) {
  (void)argc;
  NUMOCC = occasions(argv[1]);
  const int T = NUMOCC;
  const size_t cols = T > 0 ? static_cast<size_t>(T) : 1;
  Table psi(static_cast<size_t>(NSTATES), std::vector<double>(cols, 0.0));
  Table R = psi;
  Table p = psi;
  std::vector<double> dlta(cols, 0.0);
  Cursor cursor{argv, 2};
  const double N = cursor.real();
  std::printf("NUMOCC,N=%d,%f\n", NUMOCC, N);
  psi[0][0] = cursor.real();
  std::printf("psi0: %4.2f", psi[0][0]);
  R[0][0] = cursor.real();
  std::printf(" R0  : %4.2f\n", R[0][0]);
  for (int s = 0; s < 3; ++s) {
    std::printf("Cpsi%d  :", s);
    for (int t = 1; t < T; ++t) {
      if (s > 0) psi[s][t] = 1.0;
      if (MULTISEASON != 0) psi[s][t] = cursor.real();
      std::printf(" %4.2f", psi[s][t]);
    }
    std::printf("\n");
  }
  const char* r_labels[3] = {"R0    :", "\nR1    :", "\nR2    :"};
  for (int s = 0; s < 3; ++s) {
    std::printf("%s", r_labels[s]);
    for (int t = 1; t < T; ++t) {
      if (s == 2) R[2][t] = 1.0;
      if (MULTISEASON != 0) R[s][t] = cursor.real();
      std::printf(" %4.2f", R[s][t]);
    }
  }
  std::printf("\ndlta  :");
  for (int t = 0; t < T; ++t) {
    dlta[t] = cursor.real();
    std::printf(" %4.2f", dlta[t]);
  }
  std::printf("\np1    :");
  for (int t = 0; t < T; ++t) {
    p[1][t] = cursor.real();
    std::printf(" %4.2f", p[1][t]);
  }
  std::printf("\np2    :");
  for (int t = 0; t < T; ++t) {
    p[2][t] = cursor.real();
    std::printf(" %4.2f", p[2][t]);
  }
  std::printf("\nSIMTYPE=%d\n", SIMTYPE);
  ms_open_files();
  if (SIMTYPE == 2) {
    simmscap(N, psi, R, p, dlta);
  } else {
    mscap1(N, 1, 0, psi, R, p, dlta, 0);
  }
  ms_assemble_files();
  std::printf("end of program(occusim2.exe)\n");
  return output_failed != 0 ? 1 : 0;
}

void mscap1(double x, int c, long long a, const Table& psi, const Table& R, const Table& p,
            const std::vector<double>& dlta, int r) {
  // A count of 0 has only counts of 0 below it: no draw, nothing written.
  if (c > NUMOCC || x == 0.0) return;
  const double present = binoml(x, psi[r][c - 1]);
  const double absent = x - present;
  const double breeders = binoml(present, R[r][c - 1]);
  const double nonbreeders = present - breeders;
  mscap(absent, c, a, psi, R, p, dlta, 0);
  mscap(nonbreeders, c, a, psi, R, p, dlta, 1);
  mscap(breeders, c, a, psi, R, p, dlta, 2);
}

void mscap(double x, int c, long long a, const Table& psi, const Table& R, const Table& p,
           const std::vector<double>& dlta, int s) {
  if (x == 0.0) return;
  const long long w = digit_weight(NUMOCC - c);
  const double detected = binoml(x, p[s][c - 1]);
  const double missed = x - detected;
  const double young = s == 1 ? 0.0 : binoml(detected, dlta[c - 1]);
  const double adults_only = detected - young;
  if (c == NUMOCC) {
    print_mscaphis(a, missed);
    print_mscaphis(a + w, adults_only);
    print_mscaphis(a + 2 * w, young);
  } else {
    mscap1(missed, c + 1, a, psi, R, p, dlta, s);
    mscap1(adults_only, c + 1, a + w, psi, R, p, dlta, s);
    mscap1(young, c + 1, a + 2 * w, psi, R, p, dlta, s);
  }
}

void simmscap(double N, const Table& psi, const Table& R, const Table& p,
              const std::vector<double>& dlta) {
  long long n = new_sdh_opt > 0 ? 1 : static_cast<long long>(std::trunc(N + 0.5));
  const int T = NUMOCC;
  std::string row;
  char number[400];
  for (long long site = 0; site < n; ++site) {
    row.clear();
    int r = 0;
    for (int t = 0; t < T; ++t) {
      int s = unif() < psi[r][t] ? 1 : 0;
      if (s == 1 && unif() < R[r][t]) s = 2;
      int digit = unif() < p[s][t] ? 1 : 0;
      if (s == 2 && unif() < dlta[t]) digit += 1;
      row += static_cast<char>('0' + digit);
      row += '\t';
      r = s;
    }
    if (new_sdh_opt > 0) {
      std::snprintf(number, sizeof number, "%f", N);
      row += number;
    }
    row += '\n';
    write_repeated(fp2, row, 1);
    if (fp2 != nullptr) ++nout;
  }
}

int do_multistate_sim2(int argc, char** argv) {
  (void)argc;
  NUMOCC = occasions(argv[1]);
  const int T = NUMOCC;
  const int S = NSTATES;
  const size_t cols = T > 0 ? static_cast<size_t>(T) : 1;
  Table3 psi(static_cast<size_t>(S), Table(static_cast<size_t>(S), std::vector<double>(cols)));
  Table3 p = psi;
  Cursor cursor{argv, 2};
  const double N = cursor.real();
  std::printf("NUMOCC,N=%d,%f\n", NUMOCC, N);
  for (int t = 0; t < T; ++t) psi[0][0][t] = 1.0;
  std::printf("psi0:");
  for (int s = 1; s < S; ++s) {
    psi[0][s][0] = cursor.real();
    psi[0][0][0] -= psi[0][s][0];
    std::printf(" %4.2f", psi[0][s][0]);
    for (int t = 1; t < T; ++t) psi[s][0][t] = 1.0;
  }
  std::printf("\n");
  for (int r = 0; r < S; ++r) {
    for (int s = 1; s < S; ++s) {
      for (int t = 1; t < T; ++t) {
        psi[r][s][t] = cursor.real();
        psi[r][0][t] -= psi[r][s][t];
      }
    }
  }
  std::printf("\n");
  for (int o = 1; o < S; ++o) {
    for (int s = 0; s < S; ++s) {
      for (int t = 0; t < T; ++t) p[o][s][t] = cursor.real();
    }
  }
  for (int t = 0; t < T; ++t) {
    for (int s = 0; s < S; ++s) {
      double sum = 0.0;
      for (int o = 1; o < S; ++o) sum += p[o][s][t];
      p[0][s][t] = 1.0 - sum;
    }
  }
  for (int t = 0; t < T; ++t) {
    std::printf("psi(%d),p(%d)\n", t, t);
    for (int r = 0; r < S; ++r) {
      for (int s = 0; s < S; ++s) std::printf(" %4.2f", psi[r][s][t]);
      std::printf("   ");
      for (int s = 0; s < S; ++s) std::printf(" %4.2f", p[r][s][t]);
      std::printf("\n");
    }
  }
  std::printf("\nSIMTYPE=%d\n", SIMTYPE);
  ms_open_files();
  mscap2a(N, 0, 0, psi, p, 0);
  ms_assemble_files();
  std::printf("end of program\n");
  return output_failed != 0 ? 1 : 0;
}

void mscap2a(double x, int c, long long a, const Table3& psi, const Table3& p, int r) {
  if (!(x > 0) || c > NUMOCC) return;
  double sum = 0.0;
  for (int s = 1; s < NSTATES; ++s) {
    const double f = binoml(x, psi[r][s][c]);
    sum = sum + f;
    mscap2(f, c + 1, a, psi, p, s);
  }
  mscap2(x - sum, c + 1, a, psi, p, 0);
}

void mscap2(double x, int c, long long a, const Table3& psi, const Table3& p, int s) {
  if (!(x > 0)) return;
  const long long w = digit_weight(NUMOCC - c);
  double sum = 0.0;
  for (int o = 1; o < NSTATES; ++o) {
    const double f = binoml(x, p[o][s][c - 1]);
    sum = sum + f;
    if (c == NUMOCC) {
      print_mscaphis(a + o * w, f);
    } else {
      mscap2a(f, c, a + o * w, psi, p, s);
    }
  }
  if (c == NUMOCC) {
    print_mscaphis(a, x - sum);
  } else {
    mscap2a(x - sum, c, a, psi, p, s);
  }
}

}  // namespace occusim
