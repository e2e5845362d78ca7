// Multistate models: the history writer and file assembly they share, the breeding-state
// model (MULTISTATE) and the general model with any number of states (NSTATES=).
#pragma once

#include <vector>

namespace occusim {

// Tables indexed [state][occasion index] and [state][state][occasion index].
using Table = std::vector<std::vector<double>>;
using Table3 = std::vector<Table>;

// Writes one leaf: list line, optional console line, and rows into the temporary file
// (one row with the count in deterministic mode, the rounded count of rows otherwise).
void print_mscaphis(long long code, double count);
// Opens the list file and the temporary file for writing.
void ms_open_files();
// Builds the data file: header with nout rows, the temporary file copied whole, closing lines.
void ms_assemble_files();

// Checks a breeding-state or general multistate command line before anything is written;
// prints the refusal and returns 1 when the run cannot go on, else 0.
int check_multistate(int argc, char** argv);
int check_multistate2(int argc, char** argv);

// Breeding-state model: reads and echoes its layout, runs the tree or the site-by-site
// simulation, writes its files. Returns the exit status.
int do_multistate_sim(int argc, char** argv);
// State step (true state at occasion c from previous state r) and detection step (observed
// digit of true state s) of the breeding-state tree.
void mscap1(double x, int c, long long a, const Table& psi, const Table& R, const Table& p,
            const std::vector<double>& dlta, int r);
void mscap(double x, int c, long long a, const Table& psi, const Table& R, const Table& p,
           const std::vector<double>& dlta, int s);
// One random history per site (or one row carrying N with SDHF).
void simmscap(double N, const Table& psi, const Table& R, const Table& p,
              const std::vector<double>& dlta);

// General multistate model. Returns the exit status.
int do_multistate_sim2(int argc, char** argv);
void mscap2a(double x, int c, long long a, const Table3& psi, const Table3& p, int r);
void mscap2(double x, int c, long long a, const Table3& psi, const Table3& p, int s);

}  // namespace occusim
