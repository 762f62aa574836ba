// Speed and memory of opening 9.x packages.
//
//   bench_sis9                      times, for packages of 1,000, 10,000 and 20,000 small
//                                   files: the whole open through the menu, reading the file
//                                   and parsing it with its script and file table (from
//                                   memory), the same with its script alone, the parse alone,
//                                   and merely reading the file and inflating its controller;
//                                   prints the ratios at the end
//   bench_sis9 --peak-memory [MB]   builds a package of about MB megabytes of file data
//                                   (200 by default), opens it in a fresh process and prints
//                                   that process's peak memory against the file's size
//   bench_sis9 --million            the same for a small package that declares one million
//                                   file descriptions
//   bench_sis9 --loop MODE N        runs one step N times on the 10,000-file package and prints
//                                   its CPU time per run (MODE: inflate, parse, script,
//                                   describe), for profilers

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <map>
#include <string>

#include "bytes/inflate.hpp"
#include "parse/parse.hpp"
#include "window/commands.hpp"
#include "views/views.hpp"
#include "support/fake_ui.hpp"
#include "support/sis9_writer.hpp"
#include "support/test_env.hpp"

namespace tarvik {
namespace {

namespace w = test::sis9w;

test::TempDir& Dir() {
  static test::TempDir dir;
  return dir;
}

// The package of `files` files, written once per size.
const std::string& PackagePath(std::size_t files) {
  static std::map<std::size_t, std::string> paths;
  auto it = paths.find(files);
  if (it == paths.end())
    it = paths.emplace(files, Dir().Write("many" + std::to_string(files) + ".sis", w::MakeManyFiles(files, 64, true)))
             .first;
  return it->second;
}

// Reads the file at `path` and parses it from memory.
model::Package ReadAndParse(const std::string& path) {
  Bytes bytes;
  fsys::ReadWholeFile(path, bytes);
  return Parse(bytes, path);
}

// Reads the file at `path` and inflates its controller into `out`, nothing more: the floor.
int ReadAndInflate(const std::string& path, Bytes& out) {
  Bytes bytes;
  fsys::ReadWholeFile(path, bytes);
  const ByteView b(bytes);
  // SISContents at 16; controller checksum, data checksum, then the SISCompressed field at
  // 48: type, 31-bit length, algorithm, declared size, then the stream.
  const auto length = static_cast<std::size_t>(ReadLE(b, 52, 4));
  const auto declared = ReadLE(b, 60, 8);
  return Uncompress(b.Ptr(68), length - 12, declared, out);
}

void BM_OpenPackage(benchmark::State& state) {
  const auto files = static_cast<std::size_t>(state.range(0));
  const std::string& path = PackagePath(files);
  test::FakeUi ui;
  window::Commands app(ui, test::TestPlatform(Dir()));
  app.Form_Load();
  for (auto _ : state) {
    ui.openAnswers.push_back(path);
    app.mnOpen_Click();
    benchmark::DoNotOptimize(ui.text.data());
    if (test::ViewOf(app).files.size() != files) state.SkipWithError("wrong number of file rows");
  }
  state.counters["per_file"] =
      benchmark::Counter(static_cast<double>(files), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// Read the file, parse it from memory, and make its script and file table.
void BM_ParseAndDescribe(benchmark::State& state) {
  const auto files = static_cast<std::size_t>(state.range(0));
  const std::string& path = PackagePath(files);
  for (auto _ : state) {
    const model::Package package = ReadAndParse(path);
    const views::PackageView view = views::Describe(package, {});
    benchmark::DoNotOptimize(view.script.data());
    if (view.files.size() != files) state.SkipWithError("wrong number of file rows");
  }
}

// Read the file, parse it from memory and write its PKG text: what opening a package for its
// script costs.
void BM_ParseAndScript(benchmark::State& state) {
  const auto files = static_cast<std::size_t>(state.range(0));
  const std::string& path = PackagePath(files);
  for (auto _ : state) {
    const model::Package package = ReadAndParse(path);
    const std::string script = views::Script(package, {});
    benchmark::DoNotOptimize(script.data());
  }
}

// Read the file and parse it, nothing more.
void BM_ParseOnly(benchmark::State& state) {
  const auto files = static_cast<std::size_t>(state.range(0));
  const std::string& path = PackagePath(files);
  for (auto _ : state) {
    const model::Package package = ReadAndParse(path);
    benchmark::DoNotOptimize(&package);
  }
}

// The floor: load the file and inflate its controller, nothing more.
void BM_ReadAndInflate(benchmark::State& state) {
  const std::string& path = PackagePath(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    Bytes out;
    if (ReadAndInflate(path, out) != zstatus::Ok) state.SkipWithError("controller did not inflate");
    benchmark::DoNotOptimize(out.data());
  }
}

BENCHMARK(BM_OpenPackage)->Arg(1000)->Arg(10000)->Arg(20000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseAndDescribe)->Arg(1000)->Arg(10000)->Arg(20000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseAndScript)->Arg(1000)->Arg(10000)->Arg(20000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseOnly)->Arg(10000)->Arg(20000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadAndInflate)->Arg(1000)->Arg(10000)->Arg(20000)->Unit(benchmark::kMillisecond);

// Keeps the real times of the runs so that the ratios come from this very run.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs)
      if (r.run_type == Run::RT_Iteration) {
        times[r.benchmark_name()] = r.GetAdjustedRealTime();
        cpu[r.benchmark_name()] = r.GetAdjustedCPUTime();
      }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> times, cpu;
};

// The peak resident memory of this process (since its program was started), in KiB.
long PeakKiB() {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  return -1;
}

// Opens `path` in a fresh process, which reports its own peak memory.
long ChildPeakKiB(const char* self, const std::string& path) {
  const std::string command = std::string(self) + " --open-once " + path;
  FILE* child = popen(command.c_str(), "r");
  long peak = -1;
  if (child) {
    if (std::fscanf(child, "%ld", &peak) != 1) peak = -1;
    pclose(child);
  }
  return peak;
}

// A package of one million file descriptions without data: the controller alone.
int MillionDescriptions(const char* self) {
  constexpr std::size_t kFiles = 1000000;
  std::string path;
  {
    w::Controller c;
    c.uid = 0xE0BE0003;
    c.names = {"Million"};
    c.files.reserve(kFiles);
    for (std::size_t i = 0; i < kFiles; ++i) {
      w::File f;
      f.target = "!:\\d\\f" + std::to_string(i);
      f.op = 8;  // a null entry: described, carries nothing
      f.fileIndex = 0;
      c.files.push_back(std::move(f));
    }
    path = Dir().Write("million.sis", w::Build(c));
  }
  const double fileMiB = static_cast<double>(*fsys::FileLength(path)) / (1024.0 * 1024.0);
  const long peak = ChildPeakKiB(self, path);
  std::printf("package: %.1f MiB (%zu file descriptions)\npeak memory of the open: %.1f MiB (goal: at most 300 MiB)\n",
              fileMiB, kFiles, peak / 1024.0);
  return peak >= 0 && peak / 1024.0 <= 300 ? 0 : 1;
}

int PeakMemory(const char* self, std::size_t megabytes) {
  const std::size_t fileSize = 100 * 1024;
  const std::size_t files = megabytes * 1024 * 1024 / fileSize;
  std::string path;
  {
    w::Controller c;
    c.uid = 0xE0BE0002;
    c.names = {"Big"};
    for (std::size_t i = 0; i < files; ++i) {
      w::File f;
      f.target = "!:\\data\\big\\file" + std::to_string(i) + ".bin";
      f.data.assign(fileSize, static_cast<std::uint8_t>(i));
      c.files.push_back(std::move(f));
    }
    path = Dir().Write("big.sis", w::Build(c));
  }
  const auto size = *fsys::FileLength(path);
  // A fresh process opens it and reports its own peak, which nothing of this one inflates.
  const long peak = ChildPeakKiB(self, path);
  const double fileMiB = static_cast<double>(size) / (1024.0 * 1024.0);
  std::printf("package: %.1f MiB (%zu files)\npeak memory of the open: %.1f MiB\nfile size + 32 MiB: %.1f MiB\n",
              fileMiB, files, peak / 1024.0, fileMiB + 32);
  return peak >= 0 && peak / 1024.0 <= fileMiB + 32 ? 0 : 1;
}

int OpenOnce(const char* path) {
  test::FakeUi ui;
  test::TempDir dir;
  window::Commands app(ui, test::TestPlatform(dir));
  app.Form_Load();
  ui.openAnswers.push_back(path);
  app.mnOpen_Click();
  std::printf("%ld\n", PeakKiB());
  return test::PackageOf(app) ? 0 : 1;
}

// Runs one of the measured steps `n` times, for counting cycles and instructions with perf.
int Loop(const char* mode, int n) {
  const std::string& path = PackagePath(10000);
  std::size_t sink = 0;
  timespec t0{}, t1{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t0);
  for (int i = 0; i < n; ++i) {
    if (std::strcmp(mode, "inflate") == 0) {
      Bytes out;
      ReadAndInflate(path, out);
      sink += out.size();
      continue;
    }
    const model::Package package = ReadAndParse(path);
    if (std::strcmp(mode, "script") == 0) sink += views::Script(package, {}).size();
    if (std::strcmp(mode, "describe") == 0) sink += views::Describe(package, {}).script.size();
  }
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t1);
  std::printf("%s %.3f ms\n", mode, ((t1.tv_sec - t0.tv_sec) * 1e3 + (t1.tv_nsec - t0.tv_nsec) / 1e6) / n);
  return sink == 0;
}

}  // namespace
}  // namespace tarvik

int main(int argc, char** argv) {
  if (argc >= 3 && std::strcmp(argv[1], "--open-once") == 0) return tarvik::OpenOnce(argv[2]);
  if (argc >= 2 && std::strcmp(argv[1], "--million") == 0) return tarvik::MillionDescriptions(argv[0]);
  if (argc >= 2 && std::strcmp(argv[1], "--peak-memory") == 0)
    return tarvik::PeakMemory(argv[0], argc >= 3 ? std::stoul(argv[2]) : 200);

  if (argc >= 4 && std::strcmp(argv[1], "--loop") == 0) return tarvik::Loop(argv[2], std::atoi(argv[3]));
  benchmark::Initialize(&argc, argv);
  tarvik::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  auto t = [](const std::map<std::string, double>& m, const std::string& name) {
    auto it = m.find(name);
    return it == m.end() ? 0.0 : it->second;
  };
  for (const auto* m : {&reporter.times, &reporter.cpu}) {
    const char* kind = m == &reporter.times ? "real" : "CPU";
    const double open10 = t(*m, "BM_OpenPackage/10000"), open20 = t(*m, "BM_OpenPackage/20000");
    const double parse10 = t(*m, "BM_ParseAndDescribe/10000"), parse20 = t(*m, "BM_ParseAndDescribe/20000");
    const double script10 = t(*m, "BM_ParseAndScript/10000"), script20 = t(*m, "BM_ParseAndScript/20000");
    const double floor10 = t(*m, "BM_ReadAndInflate/10000");
    if (open10 <= 0 || open20 <= 0 || parse10 <= 0 || parse20 <= 0 || script10 <= 0 || script20 <= 0 || floor10 <= 0)
      continue;
    std::printf("\n%s time: per file (20,000) %.2f us through the menu, %.2f us parse and describe, %.2f us parse and script\n",
                kind, open20 * 1000.0 / 20000.0, parse20 * 1000.0 / 20000.0, script20 * 1000.0 / 20000.0);
    std::printf("%s time: 20,000 files / 10,000 files (goal: at most 2.1): %.2f parse and script, %.2f parse and describe, "
                "%.2f through the menu\n",
                kind, script20 / script10, parse20 / parse10, open20 / open10);
    std::printf("%s time: / read and inflate (10,000): %.2f parse and script (goal: at most 3), %.2f parse and describe, "
                "%.2f through the menu\n",
                kind, script10 / floor10, parse10 / floor10, open10 / floor10);
  }
  benchmark::Shutdown();
  return 0;
}
