// Run settings and tables shared by every part of occusim2.
// The driver (occusim2.cpp) writes them before a model runs; the models only read them,
// except where a comment below names a model that writes.
#pragma once

#include <cstdio>
#include <vector>

namespace occusim {

// Number of history positions: T, or T*M in a multi-method run (set by the driver at dispatch).
extern int nper;
// 1 in deterministic mode, 0 in stochastic mode ("STOCH" or a negative T); read by binoml.
extern int determ;
// Detection probability (single species), or p of the count model; argument 3.
extern double psi;
// Silences the argument and coefficient echoes, the seed line and the run report.
extern int QUIET;
// "2SP": two-species model.
extern int TWOSP;
// "LIST": echo every written history on the console.
extern int LIST;
// "P0MISS": write "." for positions whose detection probability is 0 or less.
extern int P0MISS;
// "METH=M": number of methods of the multi-method model.
extern int METH;
// "SSOCC": spatially correlated availability (tree, or site by site).
extern int SSOCC;
// "NOBS=n": identical data-file rows per site in site-by-site runs.
extern int NOBS;
// "NSTATES=x": number of states of the general multistate model (3 by default).
extern int NSTATES;
// Set by "NSTATES": the general multistate model takes the run.
extern int MS2;
// "MULTISTATE": the breeding-state model takes the run.
extern int MULTISTATE;
// "MULTISEASON": the breeding-state layout carries transition values.
extern int MULTISEASON;
// 1, or 2 for "SIMTYPE": simulate site by site.
extern int SIMTYPE;
// "SDHF": the breeding site-by-site run writes one row carrying N as its frequency.
extern int new_sdh_opt;
// "NCOVS=k": number of logistic site covariates of a site-by-site run.
extern int ncovs;
// Covariate coefficients: slot 0 the intercept 1.0, slots 1..ncovs from the command line.
extern std::vector<double> coef;
// Covariate values, one row per covariate and one value per site; filled and released by caphis3.
extern std::vector<std::vector<double>> cov;

// Detection probabilities by history position (five blocks of T values for two species).
extern std::vector<double> pa;
// Extinction after occasion k in slot k; theta of occasion j+1 in slot j (multi-method).
extern std::vector<double> eps;
// Slot 0 psi; colonization after occasion k in slot k; ssPsi1, ssPsi2 in slots 1, 2 (SSOCC).
extern std::vector<double> gam;
// History-count table indexed by history code; filled by the tree models, read by the writers.
extern std::vector<double> nx;
// Rounded two-species counts; filled by the two-species writer pass.
extern std::vector<double> nx2;

// Occasions of a multistate run; set by the multistate models.
extern int NUMOCC;
// Rows written so far by a multistate model; becomes the data file's row count.
extern long long nout;

// List file (occusim.inp); in multistate runs also the temporary file while it is read back.
extern FILE* fp;
// Data file (occusim.sdh); in multistate runs the temporary file while rows are written.
extern FILE* fp2;
// Set when an output file could not be opened or written: the run then exits with status 1.
extern int output_failed;

// Command-line conversions: the longest numeric prefix, 0 for text with no number, as the
// standard atoi and atof give them; integers saturate at the int range instead of wrapping.
int to_int(const char* word);
double to_real(const char* word);
// Number of occasions of a T word: its magnitude (a negative T selects stochastic mode).
int occasions(const char* word);

// Returns every setting and table to its start value and closes any open output stream,
// so that one process can run the program several times with the same results.
void reset_settings();

}  // namespace occusim
