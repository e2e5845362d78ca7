// The run driver: reads the command line, fills the run settings and tables, checks the run,
// hands it to exactly one model and returns the exit status.
#pragma once

namespace occusim {

// One whole run of the program over 'argv' (as main receives it); returns the exit status.
// Call reset_settings() first to run again in the same process.
int run(int argc, char** argv);

// The usage text, printed on the standard error stream.
void print_usage();
// The run report of the parameters, on the standard error stream; 'N' the number of sites.
void print_run_report(double N);

}  // namespace occusim
