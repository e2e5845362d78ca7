// The binomial split on each of its paths, one split per iteration from a seeded stream.
#include <benchmark/benchmark.h>

#include "draws.h"
#include "settings.h"

namespace {

struct SplitPath {
  const char* name;
  int determ;
  double n, p;
};

const SplitPath kPaths[] = {
    {"deterministic", 1, 1000, 0.3},      {"p_exactly_1", 0, 1000, 1.0},
    {"p_exactly_0", 0, 1000, 0.0},        {"negative_p", 0, 1000, -0.5},
    {"trials_n300", 0, 300, 0.5},         {"trials_n20", 0, 20, 0.5},
    {"normal_n1e6", 0, 1e6, 0.5},         {"waiting_p0.01_n1e4", 0, 1e4, 0.01},
    {"waiting_p0.99_n1e4", 0, 1e4, 0.99},
};

void BM_Split(benchmark::State& state) {
  const SplitPath& path = kPaths[state.range(0)];
  occusim::reset_settings();
  occusim::determ = path.determ;
  occusim::seed_stream(1);
  for (auto _ : state) benchmark::DoNotOptimize(occusim::binoml(path.n, path.p));
  state.SetLabel(path.name);
  state.counters["draws/split"] =
      static_cast<double>(occusim::draws_made()) / static_cast<double>(state.iterations());
  occusim::reset_settings();
}
BENCHMARK(BM_Split)->DenseRange(0, sizeof kPaths / sizeof kPaths[0] - 1);

}  // namespace
