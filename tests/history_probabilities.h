// An independent calculator of detection-history probabilities for every model of occusim2,
// written from each model's definition: forward passes over the hidden states (presence,
// availability) for the binary and two-species models, and per-leaf products along the path of
// true and observed states for the multistate models. Nothing here splits groups of sites the
// way the program's trees do, so a fault in a tree cannot hide in the same fault here.
//
// Also: the chi-square and Mahalanobis goodness-of-fit statistics with their p-values, the
// command lines of each model's layout, and readers of the program's output files.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "support.h"

namespace occusim::verify {

using Row = std::vector<double>;
using Matrix = std::vector<Row>;

// ---------------------------------------------------------------------------------------------
// Models. Occasions are numbered from 1 in the comments and from 0 in the vectors.

// Single- and multi-season occupancy. Present at occasion 1 with psi; between occasions k and
// k + 1 an absent site is colonised with gam[k] and a present one goes extinct with eps[k]
// (slots 1 to T - 1; slot 0 unused); a present site is detected at occasion k with p[k - 1].
struct Occupancy {
  double psi = 0;
  Row p;
  Row eps;
  Row gam;
};
// Probability of every binary history, indexed by code (occasion 1 the most significant bit).
Row occupancy_probabilities(const Occupancy& m);

// Multi-method occupancy: occupied with psi; at each occasion j an occupied site is available
// with theta[j], and an available site is detected by method m with p[j][m], independently.
struct MultiMethod {
  double psi = 0;
  Row theta;
  Matrix p;  // p[occasion][method]
};
// Indexed by code over T*M positions, the methods of occasion 1 first.
Row multimethod_probabilities(const MultiMethod& m);

// Spatially correlated occupancy: occupied with psi; availability is a two-state chain,
// available with ss1 at occasion 1 and after an unavailable occasion, with ss2 after an
// available one; an available site is detected with p[k - 1].
struct Correlated {
  double psi = 0;
  double ss1 = 0;
  double ss2 = 0;
  Row p;
};
Row correlated_probabilities(const Correlated& m);

// Two species: A present with psiA; B present with psiB1 where A is, psiB2 where A is not.
// Alone, A is detected with pA and B with pB; together, A with rA and B with rB1 when A is
// detected on that occasion, rB2 when it is not.
struct TwoSpecies {
  double psiA = 0;
  double psiB1 = 0;
  double psiB2 = 0;
  Row pA, pB, rA, rB1, rB2;
};
// Indexed by the base-4 code: digit 1 A only, 2 B only, 3 both, occasion 1 most significant.
Row two_species_probabilities(const TwoSpecies& m);

// A leaf of a multistate model: one combination of true and observed states over all
// occasions (path = s1, o1, s2, o2, ...), its observed history and its probability.
struct Leaf {
  std::vector<int> path;
  std::string text;
  double probability = 0;
};

// Breeding-state model: true states 0 (no adults), 1 (adults), 2 (breeders); observed digits
// 0 (nothing), 1 (adults, no young), 2 (young). Tables [state][occasion]: psi[r][t] adults
// present at occasion t + 1 after state r, R[r][t] those adults breeding, p[s][t] adults of
// state s detected (p[0] is 0), dlta[t] young detected.
struct Breeding {
  Matrix psi, R, p;
  Row dlta;
  int occasions() const { return static_cast<int>(dlta.size()); }
};
// The single-season tables: states never change after occasion 1.
Breeding breeding_single_season(double psi0, double R0, const Row& dlta, const Row& p1,
                                const Row& p2);
// Tree model: young are looked for among the detected adults. Leaves in the program's order
// (lexicographic in s1, o1, s2, o2, ..., each 0, 1, 2).
std::vector<Leaf> breeding_leaves(const Breeding& m);
// Site-by-site model: the digit counts two independent detections, adults with p[s][t] and,
// at breeding sites, young with dlta[t]. Probability of every observed history text.
std::map<std::string, double> breeding_site_probabilities(const Breeding& m);

// General multistate model with S states. psi[r][s][t]: true state s at occasion t + 1 after
// state r (t = 0: only r = 0); p[o][s][t]: state s recorded as o at occasion t + 1. Only the
// cells with s >= 1 (transitions) and o >= 1 (observations) are read; state 0 and observed
// state 0 take the complements.
struct General {
  int S = 0;
  int T = 0;
  std::vector<Matrix> psi;  // [r][s][t]
  std::vector<Matrix> p;    // [o][s][t]
};
General general_model(int S, int T);  // all cells 0
// Leaves in the program's order: true states 1, ..., S - 1, then 0 at each occasion, and
// within each observed states 1, ..., S - 1, then 0.
std::vector<Leaf> general_leaves(const General& m);

// Mean and covariance, per site, of the counts of each observed history of the general model
// when every split of a group is made as the program makes it in stochastic mode: each state
// s >= 1 (observed state o >= 1) receives an independent binomial draw from the whole group
// and state 0 the rest (independent = true), or as one multinomial split (independent =
// false). Histories in the order of 'texts'.
struct Moments {
  std::vector<std::string> texts;
  Row mean;
  Matrix covariance;
};
Moments general_history_moments(const General& m, bool independent);

// Sum of leaf probabilities by observed history.
std::map<std::string, double> merge_leaves(const std::vector<Leaf>& leaves);

// History texts of codes.
std::string binary_text(long long code, int positions);
std::string base4_text(long long code, int occasions);

// ---------------------------------------------------------------------------------------------
// Statistics.

// Regularized upper incomplete gamma function Q(a, x).
double gamma_q(double a, double x);
// Upper tail of the chi-square distribution with 'dof' degrees of freedom.
double chi_square_p_value(double statistic, double dof);

struct Cell {
  std::string name;
  double observed = 0;
  double expected = 0;
};

struct Fit {
  double statistic = 0;
  int dof = 0;
  double p_value = 1;
  int cells = 0;      // cells after pooling
  std::string worst;  // the cell that contributes most, with its counts
  std::string describe() const;
};

// One cell per history of 'model' (observed count, N times its probability), then one of
// expectation 0 for every observed history the model does not know.
std::vector<Cell> cells_of(const std::map<std::string, double>& model,
                           const std::map<std::string, double>& counts, double N);

// Pearson's chi-square of a multinomial sample: cells whose expectation is below
// 'min_expected' are pooled (smallest first) until every pool reaches it; 'constraints' is
// subtracted from the number of cells for the degrees of freedom. Cells of expectation 0
// must hold no observation (see impossible_cells) and are left out.
Fit pearson(const std::vector<Cell>& cells, int constraints = 1, double min_expected = 5.0);
// Names of the cells that were observed although their expectation is 0.
std::vector<std::string> impossible_cells(const std::vector<Cell>& cells);
// Sum of several independent fits (for instance one multinomial per group).
Fit combine(const std::vector<Fit>& fits);

// Mahalanobis distance of the observed counts from their mean under the given covariance,
// with the last cell left out when the total is fixed; chi-square with cells - 1 degrees of
// freedom for approximately normal counts.
Fit mahalanobis(const std::vector<Cell>& cells, const Matrix& covariance);

// ---------------------------------------------------------------------------------------------
// Command lines, one value per word, in each model's layout (options not included).

std::string join(const Row& values);
std::string occupancy_command(double N, const Occupancy& m);
std::string multimethod_command(double N, const MultiMethod& m);  // ends with METH=M
std::string correlated_command(double N, const Correlated& m);    // ends with SSOCC
std::string two_species_command(double N, const TwoSpecies& m);   // ends with 2SP
// Breeding layout; 'multiseason' writes the transition tables and the option MULTISEASON.
std::string breeding_command(double N, const Breeding& m, bool multiseason);
std::string general_command(double N, const General& m);  // ends with NSTATES=S

// ---------------------------------------------------------------------------------------------
// Reading the program's files.

// One line of a list file: history text and count.
struct ListLine {
  std::string text;
  double count = 0;
};
// Lines of the form "text count;" (semicolon = true) or "text count"; a malformed line
// fails the current test.
std::vector<ListLine> read_list(const std::string& content, bool semicolon);

// The data file split into its header line, its rows (as many as the header counts, each
// split at the tabs) and the lines after them.
struct DataFile {
  long long rows = 0;
  int positions = 0;
  std::vector<std::vector<std::string>> body;
  std::vector<std::string> tail;
};
DataFile read_data(const std::string& content);

// Runs occusim::run in-process like run_inprocess, with the standard output sent to
// /dev/null (the two-species, multistate and count models print whatever QUIET says).
occusim::testing::Outcome run_muted(const std::string& command_line);

// Prints one measured figure on the standard output as "[figure] <label>: <text>".
void report(const std::string& label, const std::string& text);

}  // namespace occusim::verify
