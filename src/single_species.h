// Single-species simulators: the occupancy history tree (single season, multi-season,
// multi-method), the spatially correlated tree, and the site-by-site simulation with
// logistic site covariates.
#pragma once

namespace occusim {

// One node of the occupancy tree: splits the group of 'sites' sharing 'code' at position
// 'occasion' into detected, present-undetected and absent sites; 'prior' tells whether the
// group was present (available) at the previous position. Leaves add into nx.
void caphis(int code, double sites, int occasion, int prior);

// One node of the correlated tree: availability follows a two-state chain (gam[1] after an
// unavailable occasion, gam[2] after an available one); occasion 1 splits off the
// unoccupied sites into nx[0]. 'carry' times 'sites' is the occupied part after occasion 1.
void caphis_scorr(int code, double sites, int occasion, int carry, int prev);

// Occupancy probability of site 'site': psi without covariates, else the logistic of
// coef[0] + sum of coef[k] * cov[k-1][site].
double get_occ_with_covs(int site);

// Creates the covariate table with room for the whole part of 'sites' values per covariate,
// before any file is opened; returns 1 (refusal printed) when it cannot be allocated.
int reserve_covariates(double sites);

// Site-by-site simulation of 'sites' sites (the whole part is used): writes the header,
// NOBS rows and one list line per site, then the covariate block. Returns 0, or 1 when the
// covariate table cannot be allocated.
int caphis3(double sites);

}  // namespace occusim
