// Reading synthetic pre-9.x packages (parse and describe, from memory) of 10,000 and 20,000 file records: time per record,
// and the ratio of the two sizes measured in the same run (linear reading gives about 2).

#include <benchmark/benchmark.h>

#include <ctime>
#include <map>
#include <memory>
#include <string>

#include "parse/parse.hpp"
#include "support/sis_old_writer.hpp"
#include "views/views.hpp"

namespace tarvik {
namespace {

struct Opened {
  Bytes bytes;
};

Opened& Package(int records) {
  static std::map<int, std::unique_ptr<Opened>> cache;
  auto& slot = cache[records];
  if (!slot) {
    slot = std::make_unique<Opened>();
    test::OldPackage pkg;
    pkg.languages = {1, 2};
    pkg.names = {"Bench EN", "Bench FR"};
    pkg.options = 0x0009;  // Unicode names, stored data
    for (int i = 0; i < records; ++i) {
      const std::string n = std::to_string(i);
      pkg.records.push_back(test::OldFile("C:\\build\\file" + n + ".txt", "!:\\system\\apps\\bench\\file" + n + ".txt",
                                          "data " + n));
    }
    slot->bytes = test::BuildOldSis(pkg);
  }
  return *slot;
}

// CPU time of this thread, in seconds: steadier than wall time on a shared machine.
double CpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// Parses the package and makes its script and file table; returns the number of records.
std::size_t OpenOnce(Opened& o) {
  const model::Package package = Parse(o.bytes, "bench.sis");
  const views::PackageView view = views::Describe(package, {});
  benchmark::DoNotOptimize(view.script.data());
  return package.records.size();
}

void BM_OpenPre9(benchmark::State& state) {
  Opened& o = Package(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    if (OpenOnce(o) != static_cast<std::size_t>(state.range(0))) state.SkipWithError("wrong record count");
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
  state.counters["per_record"] =
      benchmark::Counter(static_cast<double>(state.range(0)), benchmark::Counter::kIsIterationInvariantRate |
                                                                  benchmark::Counter::kInvert);
}
BENCHMARK(BM_OpenPre9)->Arg(10000)->Arg(20000)->Unit(benchmark::kMillisecond);

// Both sizes in each iteration; the counter is the 20,000 / 10,000 ratio of CPU time.
void BM_OpenPre9Ratio(benchmark::State& state) {
  Opened& small = Package(10000);
  Opened& large = Package(20000);
  double tSmall = 0, tLarge = 0;
  for (auto _ : state) {
    const double t0 = CpuSeconds();
    OpenOnce(small);
    const double t1 = CpuSeconds();
    OpenOnce(large);
    const double t2 = CpuSeconds();
    tSmall += t1 - t0;
    tLarge += t2 - t1;
  }
  state.counters["ratio_20k_10k"] = tSmall > 0 ? tLarge / tSmall : 0;
  state.counters["us_per_record_10k"] = tSmall * 1e6 / (10000.0 * static_cast<double>(state.iterations()));
  state.counters["us_per_record_20k"] = tLarge * 1e6 / (20000.0 * static_cast<double>(state.iterations()));
}
BENCHMARK(BM_OpenPre9Ratio)->Unit(benchmark::kMillisecond)->Iterations(10);

}  // namespace
}  // namespace tarvik

BENCHMARK_MAIN();
