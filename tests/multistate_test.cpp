// End-to-end cases of the multistate models: the breeding-state model (MULTISTATE) and the
// general model (NSTATES=). Expected files are built here from the model definitions: exact
// enumerations over all leaves in deterministic mode, and an own std::mt19937 stream replayed
// in the documented order of draws for stochastic and site-by-site runs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "support.h"

namespace {

using occusim::testing::argument_echo;
using occusim::testing::format;
using occusim::testing::Outcome;
using occusim::testing::run_binary;
using occusim::testing::words;

using Row = std::vector<double>;
using Table = std::vector<Row>;
using Table3 = std::vector<Table>;

std::vector<std::string> join(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// The program's random stream: 15-bit integers from a std::mt19937, default state unless seeded.
struct Stream {
  std::mt19937 engine;
  int draw() { return static_cast<int>(engine() >> 17); }
  double unif() { return draw() / 32767.0; }
  // Binomial split in stochastic mode; the cases here keep every count at 300 or below.
  double binoml(double n, double p) {
    if (p == 1.0 || p == 0.0) return n * p;
    if (p <= 0.0) return 0.0;
    EXPECT_LE(n, 300.0) << "the test stream only models the trial path";
    double k = 0.0;
    for (int i = 1; i <= n; ++i) {
      if (unif() <= p) k += 1.0;
    }
    return k;
  }
};

// The stream as the driver leaves it in stochastic mode, and its seed line (empty when quiet).
Stream seeded(long seed, bool quiet, std::string& seed_line) {
  Stream s;
  s.engine.seed(static_cast<uint32_t>(seed));
  seed_line.clear();
  if (!quiet) {
    const int r1 = s.draw();
    const int r2 = s.draw();
    const int r3 = s.draw();
    seed_line = format("seed=%ld, rand#'s:%d %d %d\n", seed, r3, r2, r1);
  }
  return s;
}

// One call of the multistate writer: the observed history and its count.
struct Leaf {
  std::string history;
  double count;
};

struct Files {
  std::string inp, tmp, sdh;
};

std::string header(long long rows, int occasions) {
  return format("%lld\t%d\n", rows, occasions);
}

// The three files of a tree run from its leaves, in call order.
Files render(const std::vector<Leaf>& leaves, int T, bool deterministic) {
  Files f;
  long long rows = 0;
  for (const Leaf& leaf : leaves) {
    if (!(leaf.count > 0)) continue;
    f.inp += leaf.history + format(" %f;\n", leaf.count);
    std::string row;
    for (size_t i = 0; i < leaf.history.size(); ++i) {
      if (i > 0) row += '\t';
      row += leaf.history[i];
    }
    if (deterministic) row += format("\t%f", leaf.count);
    row += '\n';
    const long long n = deterministic ? 1 : static_cast<long long>(std::floor(leaf.count + 0.5));
    for (long long i = 0; i < n; ++i) f.tmp += row;
    rows += n;
  }
  f.sdh = header(rows, T) + f.tmp + "0\n0\n";
  return f;
}

// The LIST echo of the same leaves.
std::string list_echo(const std::vector<Leaf>& leaves) {
  std::string out;
  for (const Leaf& leaf : leaves) {
    if (leaf.count > 0) out += leaf.history + format(" %f\n", leaf.count);
  }
  return out;
}

void expect_files(const Outcome& r, const Files& f) {
  EXPECT_EQ(r.file("occusim.inp"), f.inp);
  EXPECT_EQ(r.file("occusim.tmp"), f.tmp);
  EXPECT_EQ(r.file("occusim.sdh"), f.sdh);
}

std::vector<std::string> numbers(int count, const char* value) {
  return std::vector<std::string>(static_cast<size_t>(count), value);
}

// ---------------------------------------------------------------------------------------------
// Breeding-state model

constexpr const char* kBreedingEnd = "end of program(occusim2.exe)\n";

// Tables of the breeding model read from its positional layout (words after the program name).
struct Breeding {
  int T = 0;
  double N = 0;
  Table psi, R, p;  // [true state][occasion index]
  Row dlta;
};

Breeding read_breeding(const std::vector<std::string>& a, bool multiseason) {
  Breeding m;
  m.T = std::abs(std::atoi(a[0].c_str()));
  const size_t T = static_cast<size_t>(m.T);
  m.psi.assign(3, Row(T, 0.0));
  m.R = m.p = m.psi;
  m.dlta.assign(T, 0.0);
  size_t k = 1;
  auto next = [&]() { return std::atof(a.at(k++).c_str()); };
  m.N = next();
  m.psi[0][0] = next();
  m.R[0][0] = next();
  for (size_t t = 1; t < T; ++t) {
    m.psi[1][t] = m.psi[2][t] = 1.0;
    m.R[2][t] = 1.0;
  }
  if (multiseason) {
    for (auto* table : {&m.psi, &m.R}) {
      for (int s = 0; s < 3; ++s) {
        for (size_t t = 1; t < T; ++t) (*table)[s][t] = next();
      }
    }
  }
  for (size_t t = 0; t < T; ++t) m.dlta[t] = next();
  for (size_t t = 0; t < T; ++t) m.p[1][t] = next();
  for (size_t t = 0; t < T; ++t) m.p[2][t] = next();
  return m;
}

std::string breeding_echo(const Breeding& m, int simtype) {
  std::string out = format("NUMOCC,N=%d,%f\n", m.T, m.N);
  out += format("psi0: %4.2f", m.psi[0][0]) + format(" R0  : %4.2f\n", m.R[0][0]);
  auto values = [&](const Row& row, int from) {
    std::string text;
    for (int t = from; t < m.T; ++t) text += format(" %4.2f", row[t]);
    return text;
  };
  for (int s = 0; s < 3; ++s) out += format("Cpsi%d  :", s) + values(m.psi[s], 1) + "\n";
  out += "R0    :" + values(m.R[0], 1) + "\nR1    :" + values(m.R[1], 1);
  out += "\nR2    :" + values(m.R[2], 1);
  out += "\ndlta  :" + values(m.dlta, 0) + "\np1    :" + values(m.p[1], 0);
  out += "\np2    :" + values(m.p[2], 0) + format("\nSIMTYPE=%d\n", simtype);
  return out;
}

// Deterministic leaves as products of probabilities over every sequence of (true state,
// observed digit) per occasion, in lexicographic order; exact for dyadic parameters.
std::vector<Leaf> breeding_leaves(const Breeding& m) {
  const int T = m.T;
  std::vector<int> index(2 * static_cast<size_t>(T), 0);
  std::vector<Leaf> leaves;
  while (true) {
    double count = m.N;
    std::string history;
    int previous = 0;
    for (int t = 0; t < T; ++t) {
      const int s = index[2 * t];
      const int d = index[2 * t + 1];
      const double present = m.psi[previous][t];
      const double breed = m.R[previous][t];
      const double move = s == 0 ? 1 - present : s == 1 ? present * (1 - breed) : present * breed;
      double seen = 0.0;
      if (s == 0) seen = d == 0 ? 1.0 : 0.0;
      if (s == 1) seen = d == 0 ? 1 - m.p[1][t] : d == 1 ? m.p[1][t] : 0.0;
      if (s == 2) {
        seen = d == 0   ? 1 - m.p[2][t]
               : d == 1 ? m.p[2][t] * (1 - m.dlta[t])
                        : m.p[2][t] * m.dlta[t];
      }
      count = count * move * seen;
      history += static_cast<char>('0' + d);
      previous = s;
    }
    leaves.push_back({history, count});
    int pos = 2 * T - 1;
    while (pos >= 0 && index[pos] == 2) index[pos--] = 0;
    if (pos < 0) break;
    ++index[pos];
  }
  return leaves;
}

// Stochastic tree replayed with the stream: state step, then detection step, per occasion.
struct BreedingTree {
  const Breeding& m;
  Stream& stream;
  std::vector<Leaf> leaves;

  void state(double x, int c, const std::string& h, int r) {
    if (c > m.T) return;
    const double present = stream.binoml(x, m.psi[r][c - 1]);
    const double breeders = stream.binoml(present, m.R[r][c - 1]);
    detect(x - present, c, h, 0);
    detect(present - breeders, c, h, 1);
    detect(breeders, c, h, 2);
  }
  void detect(double x, int c, const std::string& h, int s) {
    const double detected = stream.binoml(x, m.p[s][c - 1]);
    const double young = s == 1 ? 0.0 : stream.binoml(detected, m.dlta[c - 1]);
    const double parts[3] = {x - detected, detected - young, young};
    for (int d = 0; d < 3; ++d) {
      const std::string next = h + static_cast<char>('0' + d);
      if (c == m.T) {
        leaves.push_back({next, parts[d]});
      } else {
        state(parts[d], c + 1, next, s);
      }
    }
  }
};

// Site-by-site rows: per site and occasion, the state, breeding, detection and young draws.
std::string breeding_sites(const Breeding& m, Stream& stream, bool sdhf, long long& rows) {
  rows = sdhf ? 1 : static_cast<long long>(m.N + 0.5);
  std::string out;
  for (long long site = 0; site < rows; ++site) {
    int r = 0;
    for (int t = 0; t < m.T; ++t) {
      int s = stream.unif() < m.psi[r][t] ? 1 : 0;
      if (s == 1 && stream.unif() < m.R[r][t]) s = 2;
      int digit = stream.unif() < m.p[s][t] ? 1 : 0;
      if (s == 2 && stream.unif() < m.dlta[t]) ++digit;
      out += format("%d\t", digit);
      r = s;
    }
    if (sdhf) out += format("%f", m.N);
    out += '\n';
  }
  return out;
}

const std::vector<std::string> kBreedingExample = words("1 100 0.5 0.4 0.5 0.6 0.8 MULTISTATE");

const char* const kBreedingExampleEcho =
    "NUMOCC,N=1,100.000000\n"
    "psi0: 0.50 R0  : 0.40\n"
    "Cpsi0  :\n"
    "Cpsi1  :\n"
    "Cpsi2  :\n"
    "R0    :\n"
    "R1    :\n"
    "R2    :\n"
    "dlta  : 0.50\n"
    "p1    : 0.60\n"
    "p2    : 0.80\n"
    "SIMTYPE=1\n";

const Files kBreedingExampleFiles = {
    "0 50.000000;\n0 12.000000;\n1 18.000000;\n0 4.000000;\n1 8.000000;\n2 8.000000;\n",
    "0\t50.000000\n0\t12.000000\n1\t18.000000\n0\t4.000000\n1\t8.000000\n2\t8.000000\n",
    "6\t1\n0\t50.000000\n0\t12.000000\n1\t18.000000\n0\t4.000000\n1\t8.000000\n2\t8.000000\n"
    "0\n0\n"};

TEST(Breeding, DeterministicExampleT1) {
  const Outcome r = run_binary(kBreedingExample);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, argument_echo(kBreedingExample) + kBreedingExampleEcho + kBreedingEnd);
  EXPECT_EQ(r.err, "");
  expect_files(r, kBreedingExampleFiles);
}

// The model's console lines do not depend on QUIET; LIST adds the history echo.
TEST(Breeding, ConsoleLinesWithQuietAndList) {
  const std::string listed =
      "0 50.000000\n0 12.000000\n1 18.000000\n0 4.000000\n1 8.000000\n2 8.000000\n";
  struct Case {
    const char* options;
    bool quiet;
    std::string between;
  } cases[] = {{"QUIET", true, ""},
               {"quiet", true, ""},
               {"LIST", false, listed},
               {"LIST QUIET", true, listed}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options);
    const auto args = join(kBreedingExample, words(c.options));
    const Outcome r = run_binary(args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, (c.quiet ? "" : argument_echo(args)) + kBreedingExampleEcho + c.between +
                         kBreedingEnd);
    EXPECT_EQ(r.err, "");
    expect_files(r, kBreedingExampleFiles);
  }
}

// Deterministic trees over several occasions, single season and MULTISEASON; dyadic values
// keep every expected count exact.
TEST(Breeding, DeterministicTreesMatchEnumeration) {
  struct Case {
    const char* line;
    bool multiseason, quiet;
    const char* echo;
  } cases[] = {
      {"2 64 0.75 0.5 0.5 0.25 0.5 0.75 0.25 0.5 MULTISTATE", false, false,
       "NUMOCC,N=2,64.000000\npsi0: 0.75 R0  : 0.50\nCpsi0  : 0.00\nCpsi1  : 1.00\n"
       "Cpsi2  : 1.00\nR0    : 0.00\nR1    : 0.00\nR2    : 1.00\ndlta  : 0.50 0.25\n"
       "p1    : 0.50 0.75\np2    : 0.25 0.50\nSIMTYPE=1\n"},
      {"3 64 0.5 0.25 0.25 0.5 0.75 1 0.5 0.25 0.5 0.75 0.25 0 1 0.5 0.5 0.75 0.25 0.25 0.5 "
       "0.75 0.75 1 0.5 MULTISTATE MULTISEASON QUIET",
       true, true,
       "NUMOCC,N=3,64.000000\npsi0: 0.50 R0  : 0.25\nCpsi0  : 0.25 0.50\nCpsi1  : 0.75 1.00\n"
       "Cpsi2  : 0.50 0.25\nR0    : 0.50 0.75\nR1    : 0.25 0.00\nR2    : 1.00 0.50\n"
       "dlta  : 0.50 0.75 0.25\np1    : 0.25 0.50 0.75\np2    : 0.75 1.00 0.50\nSIMTYPE=1\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    const auto args = words(c.line);
    const Breeding m = read_breeding(args, c.multiseason);
    const Outcome r = run_binary(args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, (c.quiet ? "" : argument_echo(args)) + c.echo + kBreedingEnd);
    EXPECT_EQ(r.err, "");
    expect_files(r, render(breeding_leaves(m), m.T, true));
  }
}

// With psi0 = 0 every site stays absent: one all-zero history, here over 18 occasions (the
// longest tree), so the history text keeps all its leading zeros.
TEST(Breeding, AbsentEverywhereGivesOneZeroHistory) {
  auto args = join(words("18 100 0 0.4"), numbers(54, "0.5"));
  args.push_back("MULTISTATE");
  args.push_back("QUIET");
  const Outcome r = run_binary(args);
  EXPECT_EQ(r.status, 0);
  const std::string zeros(18, '0');
  std::string row;
  for (int t = 0; t < 18; ++t) row += "0\t";
  row += "100.000000\n";
  EXPECT_EQ(r.file("occusim.inp"), zeros + " 100.000000;\n");
  EXPECT_EQ(r.file("occusim.tmp"), row);
  EXPECT_EQ(r.file("occusim.sdh"), "1\t18\n" + row + "0\n0\n");
}

// A negative first argument: |T| occasions in stochastic mode, drawn after the seed line (the
// quiet run also lists its histories).
TEST(Breeding, NegativeOccasionsRunStochasticTree) {
  for (bool quiet : {false, true}) {
    SCOPED_TRACE(quiet ? "QUIET" : "echo");
    auto args = words("-2 30 0.5 0.4 0.5 0.5 0.6 0.7 0.8 0.9 MULTISTATE SEED=2024");
    if (quiet) args = join(args, words("QUIET LIST"));
    const Breeding m = read_breeding(args, false);
    std::string seed_line;
    Stream stream = seeded(2024, quiet, seed_line);
    BreedingTree tree{m, stream, {}};
    tree.state(m.N, 1, "", 0);
    const Outcome r = run_binary(args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, seed_line);
    EXPECT_EQ(r.out, (quiet ? "" : argument_echo(args)) + breeding_echo(m, 1) +
                         (quiet ? list_echo(tree.leaves) : "") + kBreedingEnd);
    expect_files(r, render(tree.leaves, 2, false));
  }
}

// Stochastic counts below 0.5 get a list line and the LIST echo, but no row.
TEST(Breeding, StochasticFractionalCountWritesNoRow) {
  const auto args = words("-1 0.3 0.5 0.4 0.5 0.6 0.8 MULTISTATE LIST QUIET");
  const Outcome r = run_binary(args);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, breeding_echo(read_breeding(args, false), 1) + "0 0.300000\n" + kBreedingEnd);
  EXPECT_EQ(r.file("occusim.inp"), "0 0.300000;\n");
  EXPECT_EQ(r.file("occusim.tmp"), "");
  EXPECT_EQ(r.file("occusim.sdh"), "0\t1\n0\n0\n");
}

// SIMTYPE: one random history per site, drawn even in deterministic mode (unseeded stream);
// SDHF simulates one site whose row carries N.
TEST(Breeding, SiteBySiteRows) {
  std::vector<std::string> long_run = {"300", "2", "0.5", "0.5"};
  for (int i = 0; i < 900; ++i) long_run.push_back(i % 3 == 0 ? "0.25" : "0.75");
  long_run.push_back("MULTISTATE");
  long_run.push_back("SIMTYPE=2");
  long_run.push_back("QUIET");
  struct Case {
    std::vector<std::string> args;
    bool multiseason, sdhf, quiet;
    long seed;  // stochastic runs only
  } cases[] = {
      {words("3 4.5 0.7 0.5 0.5 0.6 0.7 0.6 0.7 0.8 0.9 0.8 0.7 MULTISTATE SIMTYPE"), false, false,
       false, 0},
      {words("3 4.5 0.7 0.5 0.5 0.6 0.7 0.6 0.7 0.8 0.9 0.8 0.7 MULTISTATE SIMTYPE SDHF QUIET"),
       false, true, true, 0},
      {words("-2 6.4 0.6 0.5 0.3 0.7 0.9 0.4 0.2 0.6 0.5 0.6 0.5 0.6 0.8 0.9 MULTISTATE "
             "MULTISEASON SIMTYPE SEED=77"),
       true, false, false, 77},
      {long_run, false, false, true, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.args[1]);
    const Breeding m = read_breeding(c.args, c.multiseason);
    std::string seed_line;
    Stream stream = c.seed != 0 ? seeded(c.seed, c.quiet, seed_line) : Stream{};
    long long rows = 0;
    const std::string tmp = breeding_sites(m, stream, c.sdhf, rows);
    const Outcome r = run_binary(c.args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, seed_line);
    EXPECT_EQ(r.out, (c.quiet ? "" : argument_echo(c.args)) + breeding_echo(m, 2) + kBreedingEnd);
    expect_files(r, {"", tmp, header(rows, m.T) + tmp + "0\n0\n"});
  }
}

// An option word that stands where the layout expects a value converts like a number (0).
TEST(Breeding, OptionWordInsideLayoutReadsAsZero) {
  const auto args = words("2 64 0.75 0.5 0.5 0.25 0.5 0.75 0.25 MULTISTATE");
  Breeding m = read_breeding(args, false);
  EXPECT_EQ(m.p[2][1], 0.0);
  const Outcome r = run_binary(args);
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("p2    : 0.25 0.00\n"), std::string::npos) << r.out;
  expect_files(r, render(breeding_leaves(m), 2, true));
}

// ---------------------------------------------------------------------------------------------
// General model

constexpr const char* kGeneralEnd = "end of program\n";

struct General {
  int T = 0, S = 0;
  double N = 0;
  Table3 psi, p;  // psi[r][s][t], p[o][s][t]
};

General read_general(const std::vector<std::string>& a, int S) {
  General m;
  m.S = S;
  m.T = std::abs(std::atoi(a[0].c_str()));
  const size_t T = static_cast<size_t>(m.T);
  m.psi.assign(S, Table(S, Row(T, 0.0)));
  m.p = m.psi;
  size_t k = 1;
  auto next = [&]() { return std::atof(a.at(k++).c_str()); };
  m.N = next();
  if (T > 0) m.psi[0][0][0] = 1.0;
  for (int s = 1; s < S; ++s) {
    m.psi[0][s][0] = next();
    m.psi[0][0][0] -= m.psi[0][s][0];
  }
  for (int r = 0; r < S; ++r) {
    for (size_t t = 1; t < T; ++t) m.psi[r][0][t] = 1.0;
    for (int s = 1; s < S; ++s) {
      for (size_t t = 1; t < T; ++t) {
        m.psi[r][s][t] = next();
        m.psi[r][0][t] -= m.psi[r][s][t];
      }
    }
  }
  for (int o = 1; o < S; ++o) {
    for (int s = 0; s < S; ++s) {
      for (size_t t = 0; t < T; ++t) m.p[o][s][t] = next();
    }
  }
  for (int s = 0; s < S; ++s) {
    for (size_t t = 0; t < T; ++t) {
      double sum = 0.0;
      for (int o = 1; o < S; ++o) sum += m.p[o][s][t];
      m.p[0][s][t] = 1.0 - sum;
    }
  }
  return m;
}

std::string general_echo(const General& m) {
  std::string out = format("NUMOCC,N=%d,%f\npsi0:", m.T, m.N);
  for (int s = 1; s < m.S; ++s) out += format(" %4.2f", m.psi[0][s][0]);
  out += "\n\n";
  for (int t = 0; t < m.T; ++t) {
    out += format("psi(%d),p(%d)\n", t, t);
    for (int r = 0; r < m.S; ++r) {
      for (int s = 0; s < m.S; ++s) out += format(" %4.2f", m.psi[r][s][t]);
      out += "   ";
      for (int s = 0; s < m.S; ++s) out += format(" %4.2f", m.p[r][s][t]);
      out += "\n";
    }
  }
  return out + "\nSIMTYPE=1\n";
}

// Deterministic leaves as products over every sequence of (true state, observed state) per
// occasion, each running 1, ..., S-1 and then 0.
std::vector<Leaf> general_leaves(const General& m) {
  const int T = m.T, S = m.S;
  std::vector<int> index(2 * static_cast<size_t>(T), 0);
  auto state_of = [S](int i) { return i + 1 < S ? i + 1 : 0; };
  std::vector<Leaf> leaves;
  while (true) {
    double count = m.N;
    std::string history;
    int previous = 0;
    for (int t = 0; t < T; ++t) {
      const int s = state_of(index[2 * t]);
      const int o = state_of(index[2 * t + 1]);
      count = count * m.psi[previous][s][t] * m.p[o][s][t];
      history += static_cast<char>('0' + o);
      previous = s;
    }
    leaves.push_back({history, count});
    int pos = 2 * T - 1;
    while (pos >= 0 && index[pos] == S - 1) index[pos--] = 0;
    if (pos < 0) break;
    ++index[pos];
  }
  return leaves;
}

// Stochastic tree: independent splits of the whole count, state 0 taking the rest; a rest
// that is not positive ends its branch.
struct GeneralTree {
  const General& m;
  Stream& stream;
  std::vector<Leaf> leaves;
  int negative_rests = 0;

  void state(double x, int c, const std::string& h, int r) {
    if (!(x > 0) || c > m.T) return;
    double sum = 0.0;
    for (int s = 1; s < m.S; ++s) {
      const double f = stream.binoml(x, m.psi[r][s][c]);
      sum += f;
      detect(f, c + 1, h, s);
    }
    if (x - sum < 0) ++negative_rests;
    detect(x - sum, c + 1, h, 0);
  }
  void detect(double x, int c, const std::string& h, int s) {
    if (!(x > 0)) return;
    double sum = 0.0;
    auto go = [&](int o, double f) {
      const std::string next = h + static_cast<char>('0' + o);
      if (c == m.T) {
        leaves.push_back({next, f});
      } else {
        state(f, c, next, s);
      }
    };
    for (int o = 1; o < m.S; ++o) {
      const double f = stream.binoml(x, m.p[o][s][c - 1]);
      sum += f;
      go(o, f);
    }
    if (x - sum < 0) ++negative_rests;
    go(0, x - sum);
  }
};

const char* const kGeneralExampleEcho =
    "NUMOCC,N=1,100.000000\n"
    "psi0: 0.60\n"
    "\n"
    "psi(0),p(0)\n"
    " 0.40 0.60    1.00 0.50\n"
    " 0.00 0.00    0.00 0.50\n"
    "\n"
    "SIMTYPE=1\n";

// S = 2, T = 1: states 1 then 0, observed 1 then 0; NSTATES= wins over MULTISTATE.
TEST(General, ExampleTwoStatesOneOccasion) {
  const Files expected = {"1 30.000000;\n0 30.000000;\n0 40.000000;\n",
                          "1\t30.000000\n0\t30.000000\n0\t40.000000\n",
                          "3\t1\n1\t30.000000\n0\t30.000000\n0\t40.000000\n0\n0\n"};
  for (const char* options : {"NSTATES=2", "NSTATES=2 MULTISTATE QUIET", "MULTISTATE NSTATES=2"}) {
    SCOPED_TRACE(options);
    const auto args = join(words("1 100 0.6 0 0.5"), words(options));
    const bool quiet = std::strstr(options, "QUIET") != nullptr;
    const Outcome r = run_binary(args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, (quiet ? "" : argument_echo(args)) + kGeneralExampleEcho + kGeneralEnd);
    EXPECT_EQ(r.err, "");
    expect_files(r, expected);
  }
}

// Runs whose whole count lands on one history, or on none.
TEST(General, SingleHistoryAndEmptyRuns) {
  struct Case {
    const char* line;
    int states;  // 0: the breeding model
    Files files;
  } cases[] = {
      {"3 100 0.5 0.5 NSTATES=1 QUIET",
       1,
       {"000 100.000000;\n", "0\t0\t0\t100.000000\n", "1\t3\n0\t0\t0\t100.000000\n0\n0\n"}},
      {"2 100 0 0 0.5 0 0 0.5 0.5 NSTATES=2 QUIET",
       2,
       {"00 100.000000;\n", "0\t0\t100.000000\n", "1\t2\n0\t0\t100.000000\n0\n0\n"}},
      {"1 0 0.5 0.5 0.5 NSTATES=2 QUIET", 2, {"", "", "0\t1\n0\n0\n"}},
      {"1 -5 0.5 0.5 0.5 NSTATES=2 QUIET", 2, {"", "", "0\t1\n0\n0\n"}},
      {"2 0 0.5 0.4 0.5 0.5 0.6 0.6 0.8 0.8 MULTISTATE QUIET", 0, {"", "", "0\t2\n0\n0\n"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    const auto args = words(c.line);
    const Outcome r = run_binary(args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, c.states == 0 ? breeding_echo(read_breeding(args, false), 1) + kBreedingEnd
                                   : general_echo(read_general(args, c.states)) + kGeneralEnd);
    expect_files(r, c.files);
  }
}

// Three states over two occasions: the echo shows every cell of both matrices (complements
// included), and the leaves follow the depth-first order 1, 2, 0.
TEST(General, ThreeStatesTwoOccasions) {
  // T N | psi0(1) psi0(2) | psi[r][s][1] for r = 0..2, s = 1..2 | p[o][s][t], o = 1..2.
  const auto args = words(
      "2 64 0.25 0.5 0.5 0.25 0.25 0.75 0 0.5 0 0.25 0.25 0.75 0.25 0 0 0.25 0.5 0.25 0.25 0.5 "
      "NSTATES=3 QUIET");
  const General m = read_general(args, 3);
  const char* echo =
      "NUMOCC,N=2,64.000000\n"
      "psi0: 0.25 0.50\n"
      "\n"
      "psi(0),p(0)\n"
      " 0.25 0.25 0.50    1.00 0.25 0.50\n"
      " 0.00 0.00 0.00    0.00 0.25 0.25\n"
      " 0.00 0.00 0.00    0.00 0.50 0.25\n"
      "psi(1),p(1)\n"
      " 0.25 0.50 0.25    0.50 0.00 0.50\n"
      " 0.00 0.25 0.75    0.25 0.75 0.00\n"
      " 0.50 0.00 0.50    0.25 0.25 0.50\n"
      "\n"
      "SIMTYPE=1\n";
  const Outcome r = run_binary(args);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, std::string(echo) + kGeneralEnd);
  EXPECT_EQ(general_echo(m), echo);  // the test's own reading of the layout agrees
  expect_files(r, render(general_leaves(m), 2, true));
}

// Eighteen occasions with a first digit of 1 (a 64-bit code) and a count whose "%f" text makes
// the row longer than 255 characters: the row arrives whole.
TEST(General, LongHistoryAndLongRowCopiedWhole) {
  // psi0(1) = 0; psi[r][1][t] = 0; p[1][0][0] = 1, every other observation value 0.
  auto args = words("18 1e250 0");
  for (int i = 0; i < 2 * 17; ++i) args.push_back("0");
  for (int s = 0; s < 2; ++s) {
    for (int t = 0; t < 18; ++t) args.push_back(s == 0 && t == 0 ? "1" : "0");
  }
  args.push_back("NSTATES=2");
  args.push_back("QUIET");
  const std::string history = "1" + std::string(17, '0');
  const std::string count = format("%f", 1e250);
  std::string row = "1";
  for (int t = 1; t < 18; ++t) row += "\t0";
  row += "\t" + count + "\n";
  ASSERT_GT(row.size(), 255u);
  const Outcome r = run_binary(args);
  EXPECT_EQ(r.status, 0);
  expect_files(r, {history + " " + count + ";\n", row, "1\t18\n" + row + "0\n0\n"});
}

// Stochastic splits are independent draws on the whole count; when they add up to more than
// the count, the rest for state 0 (or observed state 0) is negative and its branch is silent.
TEST(General, StochasticIndependentSplits) {
  const auto base = words(
      "-2 20 0.7 0.6 0.5 0.6 0.3 0.4 0.2 0.2 0.6 0.7 0.3 0.4 0.1 0.2 0.6 0.5 0.6 0.5 0.3 0.2 "
      "NSTATES=3 SEED=31");
  for (bool quiet : {false, true}) {
    SCOPED_TRACE(quiet ? "QUIET" : "echo");
    auto args = base;
    if (quiet) args.push_back("QUIET");
    const General m = read_general(args, 3);
    std::string seed_line;
    Stream stream = seeded(31, quiet, seed_line);
    GeneralTree tree{m, stream, {}};
    tree.state(m.N, 0, "", 0);
    EXPECT_GT(tree.negative_rests, 0) << "the case should exercise a negative rest";
    const Outcome r = run_binary(args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, seed_line);
    EXPECT_EQ(r.out, (quiet ? "" : argument_echo(args)) + general_echo(m) + kGeneralEnd);
    expect_files(r, render(tree.leaves, 2, false));
  }
}

// ---------------------------------------------------------------------------------------------
// Refusals and files that cannot be opened

// True when 'text' holds 'n' as a number of its own (not part of a longer digit run).
bool has_number(const std::string& text, long long n) {
  const std::string digits = std::to_string(n);
  for (size_t at = text.find(digits); at != std::string::npos; at = text.find(digits, at + 1)) {
    const bool left = at == 0 || !std::isdigit(static_cast<unsigned char>(text[at - 1]));
    const size_t end = at + digits.size();
    const bool right = end == text.size() || !std::isdigit(static_cast<unsigned char>(text[end]));
    if (left && right) return true;
  }
  return false;
}

TEST(MultistateRefusal, LimitsAndShortLayouts) {
  auto tree19 = join(words("19 100 0.5 0.4"), numbers(57, "0.5"));
  tree19.push_back("MULTISTATE");
  struct Case {
    std::vector<std::string> args;
    std::vector<long long> named;  // numbers the message must name
  } cases[] = {
      {tree19, {19, 18}},
      {words("1 100 0.5 0.5 0.5 NSTATES=0"), {0, 10}},
      {words("1 100 0.5 0.5 0.5 NSTATES=11"), {11, 10}},
      {words("2 100 0.5 0.4 0.5 0.5 0.6 MULTISTATE"), {10}},
      {words("2 100 0.5 0.4 0 1 1 0 0 1 0.5 0.5 MULTISTATE MULTISEASON"), {16}},
      {join(words("2 100"), join(numbers(17, "0.25"), words("NSTATES=3"))), {22}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.back());
    const auto quiet = join(c.args, {"QUIET"});
    for (const auto* args : {&c.args, &quiet}) {
      const Outcome r = run_binary(*args);
      EXPECT_EQ(r.status, 1);
      EXPECT_EQ(r.out, args == &quiet ? "" : argument_echo(*args));
      EXPECT_EQ(r.err.rfind("occusim2: ", 0), 0u) << r.err;
      EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
      EXPECT_EQ(r.err.back(), '\n');
      for (long long n : c.named) EXPECT_TRUE(has_number(r.err, n)) << n << " in " << r.err;
      EXPECT_FALSE(r.has("occusim.sdh"));
      EXPECT_FALSE(r.has("occusim.inp"));
      EXPECT_FALSE(r.has("occusim.tmp"));
    }
  }
}

// A directory in the way of one file: its perror-form line, the other files as usual (the
// data file then holds the rows that could be written), and exit status 1 at the end.
TEST(MultistateRefusal, FileThatCannotBeOpened) {
  const std::string reason = std::strerror(EISDIR);
  const Files& ok = kBreedingExampleFiles;
  struct Case {
    const char* name;
    std::optional<std::string> inp, tmp, sdh;
  } cases[] = {
      {"occusim.inp", std::nullopt, ok.tmp, ok.sdh},
      {"occusim.tmp", ok.inp, std::nullopt, "0\t1\n0\n0\n"},
      {"occusim.sdh", ok.inp, ok.tmp, std::nullopt},
  };
  const auto args = join(kBreedingExample, {"QUIET"});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Outcome r = run_binary(args, std::string("mkdir ") + c.name);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, std::string(c.name) + ": " + reason + "\n");
    EXPECT_EQ(r.out, std::string(kBreedingExampleEcho) + kBreedingEnd);
    EXPECT_EQ(r.files.at("occusim.inp"), c.inp);
    EXPECT_EQ(r.files.at("occusim.tmp"), c.tmp);
    EXPECT_EQ(r.files.at("occusim.sdh"), c.sdh);
  }
}

}  // namespace
