// Two-species co-occurrence: the four occupancy groups and the four-way detection tree.
#pragma once

namespace occusim {

// One node of the two-species tree: splits the group at 'occasion' into the four detection
// outcomes (digits 1 A only, 2 B only, 3 both, 0 neither). Each offset is the first pa slot
// of a probability block (A; B where A detected; B where A not detected), negative for 0.
void caphis2(int code, double sites, int occasion, int offset_a, int offset_b_after_a,
             int offset_b_without_a);

// The driver's two-species branch: splits N into A only, B only, both and neither, prints
// the groups, then walks the tree for the three groups in which something is detected.
void two_species_branch(double N, double psiA, double psiB1, double psiB2);

}  // namespace occusim
