// Speed and memory of opening 9.x packages.
//
//   bench_sis9                      times the whole open of packages of 1,000, 10,000 and
//                                   20,000 small files, and merely reading the file and
//                                   inflating its controller; prints the ratios at the end
//   bench_sis9 --peak-memory [MB]   builds a package of about MB megabytes of file data
//                                   (200 by default), opens it in a fresh process and prints
//                                   that process's peak memory against the file's size

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <string>

#include "bytes/field_reader.hpp"
#include "bytes/inflate.hpp"
#include "parse/parse.hpp"
#include "shell/app.hpp"
#include "support/fake_ui.hpp"
#include "support/sis9_writer.hpp"
#include "support/test_env.hpp"
#include "views/views.hpp"

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

void BM_OpenPackage(benchmark::State& state) {
  const auto files = static_cast<std::size_t>(state.range(0));
  const std::string& path = PackagePath(files);
  test::FakeUi ui;
  App app(ui, test::TestPlatform(Dir()));
  app.Form_Load();
  for (auto _ : state) {
    ui.openAnswers.push_back(path);
    app.mnOpen_Click();
    benchmark::DoNotOptimize(ui.text.data());
    if (app.stores.ListView1.Count() != files) state.SkipWithError("wrong number of file rows");
  }
  state.counters["per_file"] =
      benchmark::Counter(static_cast<double>(files), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// The floor: load the file and inflate its controller, nothing more.
void BM_ReadAndInflate(benchmark::State& state) {
  const std::string& path = PackagePath(static_cast<std::size_t>(state.range(0)));
  FileBuffer buffer;
  for (auto _ : state) {
    OpenBinary(buffer, path);
    // SISContents at 16; controller checksum, data checksum, then the SISCompressed.
    const Field comp = ReadField(buffer, 48, buffer.Size());
    const auto declared = ReadLE(buffer, comp.index + 4, 8);
    Bytes out;
    const int status = Uncompress(buffer.Ptr(comp.index + 12), static_cast<std::size_t>(comp.length - 12), declared, out);
    if (status != zstatus::Ok) state.SkipWithError("controller did not inflate");
    benchmark::DoNotOptimize(out.data());
  }
}

// Reading the file, parsing it into the model and making its view (script, header, files).
void BM_ParseAndDescribe(benchmark::State& state) {
  const auto files = static_cast<std::size_t>(state.range(0));
  const std::string& path = PackagePath(files);
  FileBuffer buffer;
  for (auto _ : state) {
    OpenBinary(buffer, path);
    const model::Package pkg = sis9::ParsePackage(buffer.data, path);
    const views::PackageView view = views::DescribeSis9(pkg, {});
    benchmark::DoNotOptimize(view.script.data());
    if (view.files.size() != files) state.SkipWithError("wrong number of file rows");
  }
}

BENCHMARK(BM_ParseAndDescribe)->Arg(1000)->Arg(10000)->Arg(20000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenPackage)->Arg(1000)->Arg(10000)->Arg(20000)->Unit(benchmark::kMillisecond);
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
  const std::string command = std::string(self) + " --open-once " + path;
  FILE* child = popen(command.c_str(), "r");
  long peak = -1;
  if (child) {
    if (std::fscanf(child, "%ld", &peak) != 1) peak = -1;
    pclose(child);
  }
  const double fileMiB = static_cast<double>(size) / (1024.0 * 1024.0);
  std::printf("package: %.1f MiB (%zu files)\npeak memory of the open: %.1f MiB\nfile size + 64 MiB: %.1f MiB\n",
              fileMiB, files, peak / 1024.0, fileMiB + 64);
  return peak >= 0 && peak / 1024.0 <= fileMiB + 64 ? 0 : 1;
}

int OpenOnce(const char* path) {
  test::FakeUi ui;
  test::TempDir dir;
  App app(ui, test::TestPlatform(dir));
  app.Form_Load();
  ui.openAnswers.push_back(path);
  app.mnOpen_Click();
  std::printf("%ld\n", PeakKiB());
  return app.stores.ListView1.Count() > 0 ? 0 : 1;
}

}  // namespace
}  // namespace tarvik

int main(int argc, char** argv) {
  if (argc >= 3 && std::strcmp(argv[1], "--open-once") == 0) return tarvik::OpenOnce(argv[2]);
  if (argc >= 2 && std::strcmp(argv[1], "--peak-memory") == 0)
    return tarvik::PeakMemory(argv[0], argc >= 3 ? std::stoul(argv[2]) : 200);

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
    const double floor20 = t(*m, "BM_ReadAndInflate/20000");
    if (open10 <= 0 || open20 <= 0 || floor20 <= 0) continue;
    std::printf("\n%s time: per file (20,000) %.2f us\n", kind, open20 * 1000.0 / 20000.0);
    std::printf("%s time: open 20,000 files / open 10,000 files: %.2f (goal: at most 2.2)\n", kind, open20 / open10);
    std::printf("%s time: whole open / read and inflate (20,000): %.2f (goal: at most 3)\n", kind, open20 / floor20);
    const double parse10 = t(*m, "BM_ParseAndDescribe/10000"), floor10 = t(*m, "BM_ReadAndInflate/10000");
    if (parse10 > 0 && floor10 > 0)
      std::printf("%s time: parse and describe / read and inflate (10,000): %.2f (goal: under 3)\n", kind,
                  parse10 / floor10);
  }
  benchmark::Shutdown();
  return 0;
}
