// The occupancy tree: a deterministic run of 16 occasions visits all (3^16 - 1) / 2 nodes;
// a stochastic run of 22 occasions with 1000 sites follows only the groups that hold sites.
#include <benchmark/benchmark.h>

#include <cmath>
#include <string>

#include "bench_support.h"
#include "settings.h"
#include "single_species.h"

namespace {

void BM_TreeDeterministic(benchmark::State& state) {
  const int T = static_cast<int>(state.range(0));
  occusim::reset_settings();
  occusim::determ = 1;
  occusim::nper = T;
  occusim::pa.assign(static_cast<size_t>(T), 0.4);
  occusim::eps.assign(static_cast<size_t>(T) + 1, 0.1);
  occusim::gam.assign(static_cast<size_t>(T) + 1, 0.2);
  occusim::gam[0] = 0.6;
  for (auto _ : state) {
    occusim::nx.assign(static_cast<size_t>(1) << T, 0.0);
    occusim::caphis(0, 1000, 1, 0);
    benchmark::DoNotOptimize(occusim::nx.data());
  }
  state.counters["nodes/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * ((std::pow(3.0, T) - 1) / 2),
                         benchmark::Counter::kIsRate);
  occusim::reset_settings();
}
BENCHMARK(BM_TreeDeterministic)->Arg(12)->Arg(16)->Unit(benchmark::kMillisecond);

// Whole stochastic runs, files included: T = 22 with 1000 sites.
void BM_StochasticRunT22(benchmark::State& state) {
  occusim::bench::ScratchDir dir;
  std::string line = "-22 1000 0.6";
  for (int k = 0; k < 22; ++k) line += " 0.4";
  for (int k = 0; k < 21; ++k) line += " 0.1";
  for (int k = 0; k < 21; ++k) line += " 0.2";
  line += " SEED=1 QUIET";
  for (auto _ : state) {
    if (occusim::bench::run_line(line) != 0) state.SkipWithError("run failed");
  }
  occusim::reset_settings();
}
BENCHMARK(BM_StochasticRunT22)->Unit(benchmark::kMillisecond);

}  // namespace
