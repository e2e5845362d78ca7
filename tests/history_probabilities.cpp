// History probabilities from each model's definition, goodness-of-fit statistics, command
// lines and readers of the output files.
#include "history_probabilities.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace occusim::verify {

namespace {

int occasions_of(const Row& p) {
  return static_cast<int>(p.size());
}

bool bit(long long code, int positions, int position) {
  return ((code >> (positions - 1 - position)) & 1) != 0;
}

// Probability of each outcome of a detection at a present site: y = 1 with q.
double detection(bool detected, double q) {
  return detected ? q : 1.0 - q;
}

// Calls 'visit' with every path of 'length' choices, each choice taken from 'choices' in
// order, the first choice varying slowest (lexicographic order).
template <typename Visit>
void each_path(int length, const std::vector<int>& choices, Visit visit) {
  std::vector<size_t> index(static_cast<size_t>(length), 0);
  std::vector<int> path(static_cast<size_t>(length));
  while (true) {
    for (int i = 0; i < length; ++i) path[i] = choices[index[i]];
    visit(path);
    int i = length - 1;
    while (i >= 0 && ++index[i] == choices.size()) index[i--] = 0;
    if (i < 0) return;
  }
}

// Breeding model: probability of true state s at occasion t + 1 after state r.
double breeding_state(const Breeding& m, int r, int s, int t) {
  const double present = m.psi[r][t];
  const double breeding = m.R[r][t];
  if (s == 0) return 1.0 - present;
  if (s == 1) return present * (1.0 - breeding);
  return present * breeding;
}

// Breeding tree: observed digit o of true state s at occasion t + 1.
double breeding_tree_digit(const Breeding& m, int s, int o, int t) {
  const double seen = m.p[s][t];
  const double young = s == 1 ? 0.0 : m.dlta[t];
  if (o == 0) return 1.0 - seen;
  if (o == 1) return seen * (1.0 - young);
  return seen * young;
}

// Breeding site by site: adults seen with p[s][t] and, in state 2, young seen with dlta[t],
// the digit being the number of the two detections.
double breeding_site_digit(const Breeding& m, int s, int o, int t) {
  const double a = m.p[s][t];
  const double y = s == 2 ? m.dlta[t] : 0.0;
  if (o == 0) return (1.0 - a) * (1.0 - y);
  if (o == 1) return a * (1.0 - y) + (1.0 - a) * y;
  return a * y;
}

// General model: split probabilities of the node at depth d of 'path' (s1, o1, s2, ...),
// indexed by state (or observed state) 0 .. S - 1, state 0 taking the complement.
Row general_split(const General& m, const std::vector<int>& path, int d) {
  Row q(static_cast<size_t>(m.S), 0.0);
  const int t = d / 2;
  double rest = 1.0;
  for (int v = 1; v < m.S; ++v) {
    if (d % 2 == 0) {
      const int r = t == 0 ? 0 : path[d - 2];
      q[v] = m.psi[r][v][t];
    } else {
      q[v] = m.p[v][path[d - 1]][t];
    }
    rest -= q[v];
  }
  q[0] = rest;
  return q;
}

// Conditional covariance, per unit of the group, of the counts sent to categories u and v.
double split_covariance(const Row& q, int u, int v, bool independent) {
  if (!independent) return u == v ? q[u] * (1.0 - q[u]) : -q[u] * q[v];
  auto var = [&](int w) { return q[w] * (1.0 - q[w]); };
  if (u != 0 && v != 0) return u == v ? var(u) : 0.0;
  if (u == 0 && v == 0) {
    double sum = 0.0;
    for (size_t w = 1; w < q.size(); ++w) sum += var(static_cast<int>(w));
    return sum;
  }
  return -var(u == 0 ? v : u);
}

std::string format_value(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.15g", value);
  return text;
}

double gamma_p_series(double a, double x) {
  double term = 1.0 / a;
  double sum = term;
  double ap = a;
  for (int n = 0; n < 100000; ++n) {
    ap += 1.0;
    term *= x / ap;
    sum += term;
    if (std::fabs(term) < std::fabs(sum) * 1e-16) break;
  }
  return sum * std::exp(-x + a * std::log(x) - std::lgamma(a));
}

// Continued fraction for Q(a, x), evaluated with the modified Lentz method.
double gamma_q_fraction(double a, double x) {
  const double tiny = 1e-300;
  double b = x + 1.0 - a;
  double c = 1.0 / tiny;
  double d = 1.0 / b;
  double h = d;
  for (int i = 1; i < 100000; ++i) {
    const double an = -i * (i - a);
    b += 2.0;
    d = an * d + b;
    if (std::fabs(d) < tiny) d = tiny;
    c = b + an / c;
    if (std::fabs(c) < tiny) c = tiny;
    d = 1.0 / d;
    const double delta = d * c;
    h *= delta;
    if (std::fabs(delta - 1.0) < 1e-16) break;
  }
  return std::exp(-x + a * std::log(x) - std::lgamma(a)) * h;
}

std::string cell_text(const std::string& name, double observed, double expected) {
  std::ostringstream text;
  text << name << " (observed " << observed << ", expected " << expected << ")";
  return text.str();
}

std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (true) {
    const size_t end = text.find(separator, start);
    if (end == std::string::npos) {
      parts.push_back(text.substr(start));
      return parts;
    }
    parts.push_back(text.substr(start, end - start));
    start = end + 1;
  }
}

// Lines of a file that ends with a line end; the text after the last one (normally empty) is
// not a line.
std::vector<std::string> lines_of(const std::string& content) {
  std::vector<std::string> lines = split(content, '\n');
  if (!lines.empty() && lines.back().empty()) lines.pop_back();
  return lines;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Models

Row occupancy_probabilities(const Occupancy& m) {
  const int T = occasions_of(m.p);
  Row result(size_t{1} << T, 0.0);
  for (long long code = 0; code < static_cast<long long>(result.size()); ++code) {
    // Forward pass: absent and present carry P(history so far, presence state now).
    double absent = 1.0 - m.psi;
    double present = m.psi;
    for (int k = 0; k < T; ++k) {
      if (k > 0) {
        const double colonised = absent * m.gam[k] + present * (1.0 - m.eps[k]);
        absent = absent * (1.0 - m.gam[k]) + present * m.eps[k];
        present = colonised;
      }
      const bool y = bit(code, T, k);
      if (y) absent = 0.0;
      present *= detection(y, m.p[k]);
    }
    result[code] = absent + present;
  }
  return result;
}

Row multimethod_probabilities(const MultiMethod& m) {
  const int T = occasions_of(m.theta);
  const int M = static_cast<int>(m.p.front().size());
  const int positions = T * M;
  Row result(size_t{1} << positions, 0.0);
  for (long long code = 0; code < static_cast<long long>(result.size()); ++code) {
    double occupied = m.psi;
    for (int j = 0; j < T; ++j) {
      bool any = false;
      double detected = 1.0;
      for (int k = 0; k < M; ++k) {
        const bool y = bit(code, positions, j * M + k);
        any = any || y;
        detected *= detection(y, m.p[j][k]);
      }
      occupied *= m.theta[j] * detected + (any ? 0.0 : 1.0 - m.theta[j]);
    }
    result[code] = occupied + (code == 0 ? 1.0 - m.psi : 0.0);
  }
  return result;
}

Row correlated_probabilities(const Correlated& m) {
  const int T = occasions_of(m.p);
  Row result(size_t{1} << T, 0.0);
  for (long long code = 0; code < static_cast<long long>(result.size()); ++code) {
    // Forward pass over availability at an occupied site.
    double unavailable = 1.0 - m.ss1;
    double available = m.ss1;
    for (int k = 0; k < T; ++k) {
      if (k > 0) {
        const double next = unavailable * m.ss1 + available * m.ss2;
        unavailable = unavailable * (1.0 - m.ss1) + available * (1.0 - m.ss2);
        available = next;
      }
      const bool y = bit(code, T, k);
      if (y) unavailable = 0.0;
      available *= detection(y, m.p[k]);
    }
    result[code] = m.psi * (unavailable + available) + (code == 0 ? 1.0 - m.psi : 0.0);
  }
  return result;
}

Row two_species_probabilities(const TwoSpecies& m) {
  const int T = occasions_of(m.pA);
  Row result(size_t{1} << (2 * T), 0.0);
  const double a_only = m.psiA * (1.0 - m.psiB1);
  const double b_only = (1.0 - m.psiA) * m.psiB2;
  const double both = m.psiA * m.psiB1;
  const double neither = (1.0 - m.psiA) * (1.0 - m.psiB2);
  for (long long code = 0; code < static_cast<long long>(result.size()); ++code) {
    double pa = a_only;
    double pb = b_only;
    double pab = both;
    for (int k = 0; k < T; ++k) {
      const int digit = static_cast<int>((code >> (2 * (T - 1 - k))) & 3);
      const bool a = (digit & 1) != 0;
      const bool b = (digit & 2) != 0;
      pa *= b ? 0.0 : detection(a, m.pA[k]);
      pb *= a ? 0.0 : detection(b, m.pB[k]);
      pab *= detection(a, m.rA[k]) * detection(b, a ? m.rB1[k] : m.rB2[k]);
    }
    result[code] = pa + pb + pab + (code == 0 ? neither : 0.0);
  }
  return result;
}

Breeding breeding_single_season(double psi0, double R0, const Row& dlta, const Row& p1,
                                const Row& p2) {
  const size_t T = dlta.size();
  Breeding m;
  m.psi.assign(3, Row(T, 0.0));
  m.R.assign(3, Row(T, 0.0));
  m.p.assign(3, Row(T, 0.0));
  m.dlta = dlta;
  m.psi[0][0] = psi0;
  m.R[0][0] = R0;
  for (size_t t = 1; t < T; ++t) {
    m.psi[1][t] = 1.0;
    m.psi[2][t] = 1.0;
    m.R[2][t] = 1.0;
  }
  m.p[1] = p1;
  m.p[2] = p2;
  return m;
}

std::vector<Leaf> breeding_leaves(const Breeding& m) {
  const int T = m.occasions();
  std::vector<Leaf> leaves;
  each_path(2 * T, {0, 1, 2}, [&](const std::vector<int>& path) {
    Leaf leaf{path, std::string(static_cast<size_t>(T), '0'), 1.0};
    int previous = 0;
    for (int t = 0; t < T; ++t) {
      const int s = path[2 * t];
      const int o = path[2 * t + 1];
      leaf.probability *= breeding_state(m, previous, s, t) * breeding_tree_digit(m, s, o, t);
      leaf.text[t] = static_cast<char>('0' + o);
      previous = s;
    }
    leaves.push_back(leaf);
  });
  return leaves;
}

std::map<std::string, double> breeding_site_probabilities(const Breeding& m) {
  const int T = m.occasions();
  std::map<std::string, double> result;
  each_path(T, {0, 1, 2}, [&](const std::vector<int>& digits) {
    Row alpha = {1.0, 0.0, 0.0};  // state 0 before occasion 1
    std::string text;
    for (int t = 0; t < T; ++t) {
      Row next(3, 0.0);
      for (int s = 0; s < 3; ++s) {
        for (int r = 0; r < 3; ++r) next[s] += alpha[r] * breeding_state(m, r, s, t);
        next[s] *= breeding_site_digit(m, s, digits[t], t);
      }
      alpha = next;
      text += static_cast<char>('0' + digits[t]);
    }
    result[text] = alpha[0] + alpha[1] + alpha[2];
  });
  return result;
}

General general_model(int S, int T) {
  General m;
  m.S = S;
  m.T = T;
  const Matrix zero(static_cast<size_t>(S), Row(static_cast<size_t>(T), 0.0));
  m.psi.assign(static_cast<size_t>(S), zero);
  m.p.assign(static_cast<size_t>(S), zero);
  return m;
}

std::vector<Leaf> general_leaves(const General& m) {
  std::vector<int> order;
  for (int v = 1; v < m.S; ++v) order.push_back(v);
  order.push_back(0);
  std::vector<Leaf> leaves;
  each_path(2 * m.T, order, [&](const std::vector<int>& path) {
    Leaf leaf{path, std::string(static_cast<size_t>(m.T), '0'), 1.0};
    for (int d = 0; d < 2 * m.T; ++d) leaf.probability *= general_split(m, path, d)[path[d]];
    for (int t = 0; t < m.T; ++t) leaf.text[t] = static_cast<char>('0' + path[2 * t + 1]);
    leaves.push_back(leaf);
  });
  return leaves;
}

Moments general_history_moments(const General& m, bool independent) {
  const std::vector<Leaf> all = general_leaves(m);
  const int depth = 2 * m.T;
  // Possible leaves, with the probability of every prefix of their path and the split of
  // every node along it.
  struct Walk {
    const Leaf* leaf;
    Row prefix;
    std::vector<Row> splits;
    size_t history;
  };
  std::map<std::string, size_t> index;
  for (const Leaf& leaf : all) index.emplace(leaf.text, 0);
  Moments moments;
  for (auto& [text, i] : index) {
    i = moments.texts.size();
    moments.texts.push_back(text);
  }
  const size_t H = moments.texts.size();
  moments.mean.assign(H, 0.0);
  moments.covariance.assign(H, Row(H, 0.0));
  std::vector<Walk> walks;
  for (const Leaf& leaf : all) {
    if (!(leaf.probability > 0)) continue;
    Walk w{&leaf, Row(static_cast<size_t>(depth) + 1, 1.0), {}, index.at(leaf.text)};
    for (int d = 0; d < depth; ++d) {
      w.splits.push_back(general_split(m, leaf.path, d));
      w.prefix[d + 1] = w.prefix[d] * w.splits[d][leaf.path[d]];
    }
    moments.mean[w.history] += leaf.probability;
    walks.push_back(std::move(w));
  }
  // Law of total covariance over the tree: every common ancestor of two leaves adds its
  // expected count times the covariance of the two children that lead to them, carried down
  // to the leaves by the conditional probabilities below those children.
  for (const Walk& a : walks) {
    for (const Walk& b : walks) {
      double sum = 0.0;
      for (int d = 0; d < depth; ++d) {
        if (d > 0 && a.leaf->path[d - 1] != b.leaf->path[d - 1]) break;
        const int u = a.leaf->path[d];
        const int v = b.leaf->path[d];
        sum += a.prefix[d] * split_covariance(a.splits[d], u, v, independent) *
               (a.leaf->probability / a.prefix[d + 1]) * (b.leaf->probability / b.prefix[d + 1]);
      }
      moments.covariance[a.history][b.history] += sum;
    }
  }
  return moments;
}

std::map<std::string, double> merge_leaves(const std::vector<Leaf>& leaves) {
  std::map<std::string, double> merged;
  for (const Leaf& leaf : leaves) merged[leaf.text] += leaf.probability;
  return merged;
}

std::string binary_text(long long code, int positions) {
  std::string text;
  for (int k = 0; k < positions; ++k) text += bit(code, positions, k) ? '1' : '0';
  return text;
}

std::string base4_text(long long code, int occasions) {
  std::string text;
  for (int k = occasions - 1; k >= 0; --k) {
    text += static_cast<char>('0' + ((code >> (2 * k)) & 3));
  }
  return text;
}

// ---------------------------------------------------------------------------------------------
// Statistics

double gamma_q(double a, double x) {
  if (!(x > 0)) return 1.0;
  if (x < a + 1.0) return 1.0 - gamma_p_series(a, x);
  return gamma_q_fraction(a, x);
}

double chi_square_p_value(double statistic, double dof) {
  return gamma_q(dof / 2.0, statistic / 2.0);
}

std::string Fit::describe() const {
  std::ostringstream text;
  text << "chi2=" << statistic << " dof=" << dof << " p=" << p_value << " cells=" << cells
       << "; largest contribution: " << worst;
  return text.str();
}

std::vector<std::string> impossible_cells(const std::vector<Cell>& cells) {
  std::vector<std::string> names;
  for (const Cell& c : cells) {
    if (!(c.expected > 0) && c.observed != 0) names.push_back(cell_text(c.name, c.observed, 0));
  }
  return names;
}

Fit pearson(const std::vector<Cell>& cells, int constraints, double min_expected) {
  std::vector<Cell> live;
  for (const Cell& c : cells) {
    if (c.expected > 0) live.push_back(c);
  }
  std::stable_sort(live.begin(), live.end(),
                   [](const Cell& a, const Cell& b) { return a.expected < b.expected; });
  std::vector<Cell> groups;
  Cell pool;
  int pooled = 0;
  auto add_to = [](Cell& into, const Cell& c, int& members) {
    if (members < 6) {
      if (!into.name.empty()) into.name += '+';
      into.name += c.name;
    } else if (members == 6) {
      into.name += "+...";
    }
    ++members;
    into.observed += c.observed;
    into.expected += c.expected;
  };
  size_t i = 0;
  for (; i < live.size() && live[i].expected < min_expected; ++i) {
    add_to(pool, live[i], pooled);
    if (pool.expected >= min_expected) {
      groups.push_back(pool);
      pool = Cell();
      pooled = 0;
    }
  }
  for (; i < live.size(); ++i) groups.push_back(live[i]);
  if (pooled > 0) {
    if (groups.empty()) {
      groups.push_back(pool);
    } else {
      auto smallest = std::min_element(groups.begin(), groups.end(),
                                       [](auto& a, auto& b) { return a.expected < b.expected; });
      int members = 1;
      add_to(*smallest, pool, members);
    }
  }
  Fit fit;
  double worst = -1.0;
  for (const Cell& c : groups) {
    const double contribution = (c.observed - c.expected) * (c.observed - c.expected) / c.expected;
    fit.statistic += contribution;
    if (contribution > worst) {
      worst = contribution;
      fit.worst = cell_text(c.name, c.observed, c.expected);
    }
  }
  fit.cells = static_cast<int>(groups.size());
  fit.dof = fit.cells - constraints;
  fit.p_value = fit.dof > 0 ? chi_square_p_value(fit.statistic, fit.dof) : 1.0;
  return fit;
}

Fit combine(const std::vector<Fit>& fits) {
  Fit total;
  double worst = -1.0;
  for (const Fit& f : fits) {
    total.statistic += f.statistic;
    total.dof += f.dof;
    total.cells += f.cells;
    if (f.dof > 0 && f.statistic / f.dof > worst) {
      worst = f.statistic / f.dof;
      total.worst = f.worst;
    }
  }
  total.p_value = total.dof > 0 ? chi_square_p_value(total.statistic, total.dof) : 1.0;
  return total;
}

Fit mahalanobis(const std::vector<Cell>& cells, const Matrix& covariance) {
  std::vector<size_t> keep;
  for (size_t i = 0; i < cells.size(); ++i) {
    if (covariance[i][i] > 0) keep.push_back(i);
  }
  Fit fit;
  fit.cells = static_cast<int>(keep.size());
  double worst = -1.0;
  for (size_t i : keep) {
    const double z = (cells[i].observed - cells[i].expected) / std::sqrt(covariance[i][i]);
    if (std::fabs(z) > worst) {
      worst = std::fabs(z);
      fit.worst =
          cell_text(cells[i].name, cells[i].observed, cells[i].expected) + " z=" + format_value(z);
    }
  }
  if (keep.size() < 2) return fit;
  keep.pop_back();  // the total is fixed: the last cell follows from the others
  const size_t k = keep.size();
  // Cholesky factor L of the covariance of the kept cells, then L L^T x = y.
  Matrix L(k, Row(k, 0.0));
  for (size_t i = 0; i < k; ++i) {
    for (size_t j = 0; j <= i; ++j) {
      double sum = covariance[keep[i]][keep[j]];
      for (size_t m = 0; m < j; ++m) sum -= L[i][m] * L[j][m];
      if (i == j) {
        L[i][i] = std::sqrt(std::max(sum, 1e-300));
      } else {
        L[i][j] = sum / L[j][j];
      }
    }
  }
  Row z(k);
  for (size_t i = 0; i < k; ++i) {
    double sum = cells[keep[i]].observed - cells[keep[i]].expected;
    for (size_t m = 0; m < i; ++m) sum -= L[i][m] * z[m];
    z[i] = sum / L[i][i];
  }
  for (double v : z) fit.statistic += v * v;
  fit.dof = static_cast<int>(k);
  fit.p_value = chi_square_p_value(fit.statistic, fit.dof);
  return fit;
}

// ---------------------------------------------------------------------------------------------
// Command lines

namespace {

// Appends a blank and the value (or the word) to a command line.
void add(std::string& text, double value) {
  if (!text.empty()) text += ' ';
  text += format_value(value);
}

void add(std::string& text, const std::string& word) {
  if (!text.empty()) text += ' ';
  text += word;
}

void add(std::string& text, const Row& values) {
  for (double value : values) add(text, value);
}

}  // namespace

std::string join(const Row& values) {
  std::string text;
  add(text, values);
  return text;
}

std::string occupancy_command(double N, const Occupancy& m) {
  const int T = occasions_of(m.p);
  std::string text = std::to_string(T);
  add(text, N);
  add(text, m.psi);
  add(text, m.p);
  for (int k = 1; k < T; ++k) add(text, m.eps[k]);
  for (int k = 1; k < T; ++k) add(text, m.gam[k]);
  return text;
}

std::string multimethod_command(double N, const MultiMethod& m) {
  const int T = occasions_of(m.theta);
  const int M = static_cast<int>(m.p.front().size());
  std::string text = std::to_string(T);
  add(text, N);
  add(text, m.psi);
  for (int k = 0; k < M; ++k) {
    for (int j = 0; j < T; ++j) add(text, m.p[j][k]);
  }
  add(text, m.theta);
  add(text, "METH=" + std::to_string(M));
  return text;
}

std::string correlated_command(double N, const Correlated& m) {
  std::string text = std::to_string(occasions_of(m.p));
  for (double value : {N, m.psi, m.ss1, m.ss2}) add(text, value);
  add(text, m.p);
  add(text, std::string("SSOCC"));
  return text;
}

std::string two_species_command(double N, const TwoSpecies& m) {
  std::string text = std::to_string(occasions_of(m.pA));
  for (double value : {N, m.psiA, m.psiB1, m.psiB2}) add(text, value);
  for (const Row* block : {&m.pA, &m.pB, &m.rA, &m.rB1, &m.rB2}) add(text, *block);
  add(text, std::string("2SP"));
  return text;
}

std::string breeding_command(double N, const Breeding& m, bool multiseason) {
  const int T = m.occasions();
  std::string text = std::to_string(T);
  for (double value : {N, m.psi[0][0], m.R[0][0]}) add(text, value);
  if (multiseason) {
    for (const Matrix* table : {&m.psi, &m.R}) {
      for (int s = 0; s < 3; ++s) {
        for (int t = 1; t < T; ++t) add(text, (*table)[s][t]);
      }
    }
  }
  for (const Row* row : {&m.dlta, &m.p[1], &m.p[2]}) add(text, *row);
  add(text, std::string("MULTISTATE"));
  if (multiseason) add(text, std::string("MULTISEASON"));
  return text;
}

std::string general_command(double N, const General& m) {
  std::string text = std::to_string(m.T);
  add(text, N);
  for (int s = 1; s < m.S; ++s) add(text, m.psi[0][s][0]);
  for (int r = 0; r < m.S; ++r) {
    for (int s = 1; s < m.S; ++s) {
      for (int t = 1; t < m.T; ++t) add(text, m.psi[r][s][t]);
    }
  }
  for (int o = 1; o < m.S; ++o) {
    for (int s = 0; s < m.S; ++s) {
      for (int t = 0; t < m.T; ++t) add(text, m.p[o][s][t]);
    }
  }
  add(text, "NSTATES=" + std::to_string(m.S));
  return text;
}

// ---------------------------------------------------------------------------------------------
// Reading the program's files

std::vector<ListLine> read_list(const std::string& content, bool semicolon) {
  std::vector<ListLine> result;
  for (const std::string& line : lines_of(content)) {
    const size_t blank = line.rfind(' ');
    std::string number = blank == std::string::npos ? std::string() : line.substr(blank + 1);
    if (semicolon) {
      if (number.empty() || number.back() != ';') {
        ADD_FAILURE() << "list line without its semicolon: '" << line << "'";
        continue;
      }
      number.pop_back();
    }
    char* end = nullptr;
    const double count = std::strtod(number.c_str(), &end);
    if (blank == std::string::npos || number.empty() || *end != '\0') {
      ADD_FAILURE() << "malformed list line: '" << line << "'";
      continue;
    }
    result.push_back({line.substr(0, blank), count});
  }
  return result;
}

DataFile read_data(const std::string& content) {
  DataFile data;
  const std::vector<std::string> lines = lines_of(content);
  if (lines.empty()) {
    ADD_FAILURE() << "empty data file";
    return data;
  }
  const std::vector<std::string> header = split(lines[0], '\t');
  if (header.size() != 2) {
    ADD_FAILURE() << "malformed header line: '" << lines[0] << "'";
    return data;
  }
  data.rows = std::atoll(header[0].c_str());
  data.positions = std::atoi(header[1].c_str());
  if (data.rows < 0 || static_cast<size_t>(data.rows) + 1 > lines.size()) {
    ADD_FAILURE() << "the header counts " << data.rows << " rows; the file has " << lines.size() - 1
                  << " lines after it";
    return data;
  }
  for (long long i = 1; i <= data.rows; ++i) data.body.push_back(split(lines[i], '\t'));
  data.tail.assign(lines.begin() + 1 + data.rows, lines.end());
  return data;
}

occusim::testing::Outcome run_muted(const std::string& command_line) {
  std::fflush(stdout);
  const int saved = dup(STDOUT_FILENO);
  const int null = open("/dev/null", O_WRONLY);
  if (saved >= 0 && null >= 0) dup2(null, STDOUT_FILENO);
  if (null >= 0) close(null);
  occusim::testing::Outcome outcome =
      occusim::testing::run_inprocess(occusim::testing::words(command_line));
  std::fflush(stdout);
  if (saved >= 0) {
    dup2(saved, STDOUT_FILENO);
    close(saved);
  }
  return outcome;
}

void report(const std::string& label, const std::string& text) {
  std::printf("[figure] %s: %s\n", label.c_str(), text.c_str());
  std::fflush(stdout);
}

std::vector<Cell> cells_of(const std::map<std::string, double>& model,
                           const std::map<std::string, double>& counts, double N) {
  std::vector<Cell> cells;
  for (const auto& [text, p] : model) {
    const auto found = counts.find(text);
    cells.push_back({text, found == counts.end() ? 0.0 : found->second, N * p});
  }
  for (const auto& [text, count] : counts) {
    if (!model.count(text)) cells.push_back({text, count, 0.0});
  }
  return cells;
}

}  // namespace occusim::verify
