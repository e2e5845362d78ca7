// The one random stream of the program, its uniform and normal draws, and the binomial
// split that turns a (possibly fractional) number of sites into those passing a chance event.
#pragma once

#include <cstdint>
#include <vector>

namespace occusim {

// Next integer of the stream, 0 to 32767: the top 15 bits of a std::mt19937 output.
int rand15();
// Seeds the stream (stochastic mode only): engine.seed(static_cast<uint32_t>(seed)).
void seed_stream(long seed);
// Back to the engine's default (unseeded) state; forgets any scripted values.
void reset_stream();
// Number of integers drawn since the last reset.
long long draws_made();
// Test seam: the next draws return these integers, in order, before the engine resumes.
// A scripted run that asks for more values than given fails loudly (std::out_of_range).
void script_stream(std::vector<int> values);

// The next integer divided by 32767.0: a double in [0, 1], both ends included.
double unif();
// -6 plus twelve uniforms: approximately standard normal, within [-6, 6].
double rand_norm();
// Number of the n sites that pass an event of probability p: n*p in deterministic mode,
// a random count in stochastic mode (trials up to 300 sites, then a normal approximation
// for 0.05 <= p <= 0.95 or a waiting-time count in the tails).
double binoml(double n, double p);

}  // namespace occusim
