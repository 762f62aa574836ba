// Extraction speed and memory: a synthetic 9.x package carrying about 200 MB of deflated
// data in a few hundred files is opened through the menu and extracted into a folder on
// tmpfs; in the same run the same streams are inflated with zlib alone into memory.
//
// Counters: zlib_s and extract_s (the fastest of the runs, in seconds; the two are measured
// back to back in every run, so both see the same load on a shared machine), ratio
// (extract_s / zlib_s, goal <= 1.25), package_MiB, largest_MiB, peak_MiB (peak resident
// memory of the process, which only opens and extracts: the package is made by a child
// process) and peak_goal_MiB (package + 2 x largest file + 64 MiB).
//
// TARVIK_BENCH_DIR chooses the working folder (default /dev/shm, else the temporary folder).

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "bytes/inflate.hpp"
#include "extract/extract.hpp"
#include "window/commands.hpp"
#include "support/fake_ui.hpp"
#include "support/sis9_writer.hpp"
#include "support/test_env.hpp"

namespace {

namespace fs = std::filesystem;
using namespace tarvik;

constexpr std::size_t kFiles = 300;
constexpr std::size_t kFileSize = 1280 * 1024;  // uncompressed size of each file

// File content that deflates about as well as program files and resources do (about 2:1):
// words, numbers and runs of noisy binary.
Bytes MakeContent(std::uint32_t seed) {
  static const char* kWords[] = {"CAknAppUi", "Symbian", "resource", "private", "sys", "bin", "import",
                                 "TInt", "KErrNone", "User::Leave", "iContainer", "HandleCommandL",
                                 "RFs", "TFileName", "CEikonEnv", "descriptor", "\r\n", "  ", "0x", "::"};
  std::mt19937 rng(seed);
  Bytes s;
  s.reserve(kFileSize + 64);
  while (s.size() < kFileSize) {
    const std::uint32_t r = rng();
    if (r % 3 == 0) {
      for (int i = 0; i < 12; ++i) s.push_back(static_cast<std::uint8_t>(rng() & 0x3F));
    } else {
      for (const char* w = kWords[r % (sizeof(kWords) / sizeof(kWords[0]))]; *w; ++w)
        s.push_back(static_cast<std::uint8_t>(*w));
      s.push_back(static_cast<std::uint8_t>('a' + (r >> 8) % 26));
    }
  }
  s.resize(kFileSize);
  return s;
}

std::string WorkRoot() {
  if (const char* d = std::getenv("TARVIK_BENCH_DIR")) return d;
  if (fs::is_directory("/dev/shm")) return "/dev/shm";
  return fs::temp_directory_path().string();
}

// Writes the package in a child process, so that making it leaves no trace in this
// process's peak memory.
bool MakePackageFile(const std::string& path) {
  const pid_t child = fork();
  if (child < 0) return false;
  if (child == 0) {
    test::sis9w::Controller main;
    main.uid = 0xE0BE0002;
    main.names = {"Extraction Bench"};
    for (std::size_t i = 0; i < kFiles; ++i) {
      test::sis9w::File f;
      f.target = "!:\\data\\bench\\d" + std::to_string(i / 50) + "\\file" + std::to_string(i) + ".bin";
      f.data = MakeContent(static_cast<std::uint32_t>(i + 1));
      f.deflate = true;
      main.files.push_back(std::move(f));
    }
    const Bytes pkg = test::sis9w::Build(main);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(pkg.data()), static_cast<std::streamsize>(pkg.size()));
    _exit(out ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

double PeakMiB() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_maxrss) / 1024.0;  // kilobytes on Linux
}

double Seconds(std::chrono::steady_clock::time_point a, std::chrono::steady_clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

void BM_ExtractVsZlib(benchmark::State& state) {
  const std::string root = WorkRoot() + "/tarvik-bench-" + std::to_string(getpid());
  fs::create_directories(root);
  const std::string package = root + "/bench.sisx";
  if (!MakePackageFile(package)) {
    state.SkipWithError("could not make the package");
    return;
  }
  test::FakeUi ui;
  window::Commands app(ui, Platform(root + "/data", root));
  app.Form_Load();
  ui.openAnswers.push_back(package);
  app.mnOpen_Click();
  if (!app.mnFile_Click().extract || test::ViewOf(app).files.size() != kFiles) {
    state.SkipWithError("the package did not open with its files");
    return;
  }
  struct Stream {
    std::int64_t offset;
    std::size_t csize;
    std::size_t usize;
  };
  std::vector<Stream> streams;
  std::size_t largest = 0;
  for (const views::FileRow& r : test::ViewOf(app).files) {
    const auto usize = static_cast<std::size_t>(r.uncompressedSize);
    streams.push_back({r.offset, static_cast<std::size_t>(r.compressedSize), usize});
    largest = std::max(largest, usize);
  }
  const std::string out = root + "/out";

  double zlibBest = 1e300;
  double extractBest = 1e300;
  for (auto _ : state) {
    state.PauseTiming();
    fs::remove_all(out);
    fs::create_directories(out);
    state.ResumeTiming();

    const auto t0 = std::chrono::steady_clock::now();
    for (const auto& s : streams) {
      Bytes inflated;
      Uncompress(test::BytesOf(app).data() + s.offset, s.csize, s.usize, inflated);
      benchmark::DoNotOptimize(inflated.data());
    }
    const auto t1 = std::chrono::steady_clock::now();
    const test::Extraction x = test::ExtractThroughMenu(app, ui, out);
    const auto t2 = std::chrono::steady_clock::now();

    if (x.report.result.extracted != static_cast<std::int32_t>(kFiles) || !ui.messages.empty() ||
        x.text.find(extract::kHashMismatchMark) != std::string::npos) {
      state.SkipWithError("extraction did not write every file cleanly");
      break;
    }
    zlibBest = std::min(zlibBest, Seconds(t0, t1));
    extractBest = std::min(extractBest, Seconds(t1, t2));
    state.SetIterationTime(Seconds(t1, t2));
  }
  const double packageMiB = static_cast<double>(test::BytesOf(app).size()) / (1 << 20);
  const double largestMiB = static_cast<double>(largest) / (1 << 20);
  state.counters["zlib_s"] = zlibBest;
  state.counters["extract_s"] = extractBest;
  state.counters["ratio"] = extractBest / zlibBest;
  state.counters["package_MiB"] = packageMiB;
  state.counters["largest_MiB"] = largestMiB;
  state.counters["peak_MiB"] = PeakMiB();
  state.counters["peak_goal_MiB"] = packageMiB + 2 * largestMiB + 64;
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(kFiles * kFileSize));
  fs::remove_all(root);
}

BENCHMARK(BM_ExtractVsZlib)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

// Many small files: the 20,000-file synthetic package extracted through the menu, against
// writing the same bytes to the same paths with plain open/write/close (folders made once
// beforehand), measured back to back. Counter: ratio (extract / plain writes, goal <= 1.5).
void BM_ExtractManySmallFiles(benchmark::State& state) {
  constexpr std::size_t kMany = 20000;
  const std::string root = WorkRoot() + "/tarvik-bench-many-" + std::to_string(getpid());
  fs::create_directories(root);
  const std::string package = root + "/many.sis";
  {
    const Bytes pkg = test::sis9w::MakeManyFiles(kMany, 64, true);
    std::ofstream(package, std::ios::binary).write(reinterpret_cast<const char*>(pkg.data()),
                                                   static_cast<std::streamsize>(pkg.size()));
  }
  test::FakeUi ui;
  window::Commands app(ui, Platform(root + "/data", root));
  app.Form_Load();
  ui.openAnswers.push_back(package);
  app.mnOpen_Click();
  const auto& rows = test::ViewOf(app).files;
  if (rows.size() != kMany) {
    state.SkipWithError("the package did not open with its files");
    return;
  }
  // The bytes each file holds, inflated beforehand for the plain writes.
  std::vector<Bytes> contents;
  contents.reserve(rows.size());
  for (const views::FileRow& r : rows) {
    Bytes b;
    Uncompress(test::BytesOf(app).data() + r.offset, r.compressedSize, r.uncompressedSize, b);
    contents.push_back(std::move(b));
  }
  const std::string out = root + "/out";
  const std::string plain = root + "/plain";
  double plainBest = 1e300, extractBest = 1e300;
  for (auto _ : state) {
    state.PauseTiming();
    fs::remove_all(out);
    fs::remove_all(plain);
    fs::create_directories(out);
    std::vector<std::string> paths;
    for (const views::FileRow& r : rows) {
      std::string p = plain + "/" + r.extractPath;
      std::replace(p.begin(), p.end(), '\\', '/');
      fs::create_directories(fs::path(p).parent_path());
      paths.push_back(std::move(p));
    }
    state.ResumeTiming();
    const auto t0 = std::chrono::steady_clock::now();
    for (std::size_t i = 0; i < paths.size(); ++i) {
      const int fd = open(paths[i].c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
      if (fd < 0 || write(fd, contents[i].data(), contents[i].size()) < 0) state.SkipWithError("plain write failed");
      if (fd >= 0) close(fd);
    }
    const auto t1 = std::chrono::steady_clock::now();
    const test::Extraction x = test::ExtractThroughMenu(app, ui, out);
    const auto t2 = std::chrono::steady_clock::now();
    if (x.report.result.extracted != static_cast<std::int32_t>(kMany)) {
      state.SkipWithError("extraction did not write every file");
      break;
    }
    plainBest = std::min(plainBest, Seconds(t0, t1));
    extractBest = std::min(extractBest, Seconds(t1, t2));
    state.SetIterationTime(Seconds(t1, t2));
  }
  state.counters["plain_s"] = plainBest;
  state.counters["extract_s"] = extractBest;
  state.counters["ratio"] = extractBest / plainBest;
  fs::remove_all(root);
}

BENCHMARK(BM_ExtractManySmallFiles)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
