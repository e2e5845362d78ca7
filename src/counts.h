// N-mixture count simulation: individuals spread at random over the sites, then counted on
// every occasion with probability p each.
#pragma once

namespace occusim {

// Refuses (returns 1, message printed) a count run whose number of sites or of individuals
// does not fit a 32-bit count; 0 when the run can go on.
int check_royle(double N, double lambda);

// Writes one count row per site into the data file; returns 0, or 1 when the abundance
// table cannot be allocated.
int do_royle(double N, int T, double lambda, double p, long ix);

}  // namespace occusim
