// Writing the files of a stochastic run: the single-species writer pass over a table of 10^7
// (and 2 * 10^7) sites, the whole run that produces it, and, as the floor both are measured
// against, a plain fwrite of the same number of bytes through the same kind of stream.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "bench_support.h"
#include "draws.h"
#include "output.h"
#include "settings.h"
#include "single_species.h"

namespace {

constexpr int kOccasions = 10;

// The histories of a stochastic run of 'sites' sites over kOccasions occasions, left in nx.
void simulate(double sites) {
  occusim::reset_settings();
  occusim::determ = 0;
  occusim::nper = kOccasions;
  occusim::pa.assign(kOccasions, 0.4);
  occusim::eps.assign(kOccasions + 1, 0.1);
  occusim::gam.assign(kOccasions + 1, 0.2);
  occusim::gam[0] = 0.6;
  occusim::nx.assign(1 << kOccasions, 0.0);
  occusim::seed_stream(1);
  occusim::caphis(0, sites, 1, 0);
}

std::string command_line(long long sites) {
  std::string line = "-";
  line += std::to_string(kOccasions);
  line += " ";
  line += std::to_string(sites);
  line += " 0.6";
  for (int k = 0; k < kOccasions; ++k) line += " 0.4";
  for (int k = 0; k < kOccasions - 1; ++k) line += " 0.1";
  for (int k = 0; k < kOccasions - 1; ++k) line += " 0.2";
  return line + " SEED=1 QUIET";
}

// Bytes of both files of the last iteration, which are then removed for the next one.
long long take_written_bytes() {
  const auto bytes =
      std::filesystem::file_size("occusim.sdh") + std::filesystem::file_size("occusim.inp");
  std::filesystem::remove("occusim.sdh");
  std::filesystem::remove("occusim.inp");
  return static_cast<long long>(bytes);
}

void BM_WriterPass(benchmark::State& state) {
  occusim::bench::ScratchDir dir;
  simulate(static_cast<double>(state.range(0)));
  long long bytes = 0;
  for (auto _ : state) {
    occusim::fp = occusim::open_output("occusim.inp");
    occusim::fp2 = occusim::open_output("occusim.sdh");
    occusim::single_species_pass();
    occusim::close_output(occusim::fp, "occusim.inp");
    occusim::close_output(occusim::fp2, "occusim.sdh");
    state.PauseTiming();
    bytes += take_written_bytes();
    state.ResumeTiming();
  }
  state.SetBytesProcessed(bytes);
  occusim::reset_settings();
}
BENCHMARK(BM_WriterPass)
    ->Arg(10000000)
    ->Arg(20000000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

// The whole run: command line, tree, writer pass and closing of both files.
void BM_StochasticRun(benchmark::State& state) {
  occusim::bench::ScratchDir dir;
  const std::string line = command_line(state.range(0));
  long long bytes = 0;
  for (auto _ : state) {
    if (occusim::bench::run_line(line) != 0) state.SkipWithError("run failed");
    state.PauseTiming();
    bytes += take_written_bytes();
    state.ResumeTiming();
  }
  state.SetBytesProcessed(bytes);
  occusim::reset_settings();
}
BENCHMARK(BM_StochasticRun)
    ->Arg(10000000)
    ->Arg(20000000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

// The floor: as many bytes as the data file of the same run (2T + 1 bytes a row), written in
// 64 KiB blocks with fwrite to a stdio stream and closed.
void BM_RawWrite(benchmark::State& state) {
  occusim::bench::ScratchDir dir;
  const long long total = state.range(0) * (2 * kOccasions + 1);
  const std::vector<char> block(1 << 16, '0');
  for (auto _ : state) {
    FILE* out = std::fopen("raw.bin", "w");
    for (long long left = total; left > 0;) {
      const size_t n =
          left < static_cast<long long>(block.size()) ? static_cast<size_t>(left) : block.size();
      std::fwrite(block.data(), 1, n, out);
      left -= static_cast<long long>(n);
    }
    std::fclose(out);
    state.PauseTiming();
    std::filesystem::remove("raw.bin");
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<long long>(state.iterations()) * total);
}
BENCHMARK(BM_RawWrite)
    ->Arg(10000000)
    ->Arg(20000000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

}  // namespace
