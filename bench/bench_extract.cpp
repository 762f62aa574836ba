// Extraction speed and memory: a synthetic 9.x package carrying about 200 MB of deflated
// data in a few hundred files is extracted into a folder on tmpfs, and the same streams are
// inflated with zlib alone into memory in the same run.
//
// Counters: zlib_s and extract_s (the fastest of the runs, in seconds; the two are measured
// back to back in every run, so both see the same load on a shared machine), ratio
// (extract_s / zlib_s, goal <= 1.25),
// package_MiB, largest_MiB, peak_MiB (peak resident memory of the process) and
// peak_goal_MiB (package + 2 x largest file + 64 MiB).
//
// TARVIK_BENCH_DIR chooses the output folder (default /dev/shm, else the temporary folder).

#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "bytes/inflate.hpp"
#include "extract/extract.hpp"
#include "support/fake_ui.hpp"

namespace {

namespace fs = std::filesystem;
using namespace tarvik;

constexpr std::size_t kFiles = 300;
constexpr std::size_t kDistinct = 12;
constexpr std::size_t kFileSize = 1280 * 1024;  // uncompressed size of each file

// File content that deflates about as well as program files and resources do (2-3:1):
// words, numbers and runs of noisy binary.
std::string MakeContent(std::uint32_t seed) {
  static const char* kWords[] = {"CAknAppUi", "Symbian", "resource", "private", "sys", "bin", "import",
                                 "TInt", "KErrNone", "User::Leave", "iContainer", "HandleCommandL",
                                 "RFs", "TFileName", "CEikonEnv", "descriptor", "\r\n", "  ", "0x", "::"};
  std::mt19937 rng(seed);
  std::string s;
  s.reserve(kFileSize);
  while (s.size() < kFileSize) {
    const std::uint32_t r = rng();
    if (r % 3 == 0) {
      for (int i = 0; i < 12; ++i) s += static_cast<char>(rng() & 0x3F);
    } else {
      s += kWords[r % (sizeof(kWords) / sizeof(kWords[0]))];
      s += static_cast<char>('a' + (r >> 8) % 26);
    }
  }
  s.resize(kFileSize);
  return s;
}

std::string Sha1Cell(const unsigned char* md, unsigned i) { return HexText(md[i], 2); }

struct Package {
  Bytes bytes;
  struct File {
    std::int64_t offset;
    std::size_t csize;
    std::size_t usize;
  };
  std::vector<File> files;
  std::vector<std::vector<std::string>> hashes;  // per distinct content
  std::size_t largest = 0;
};

Package MakePackage() {
  {
    Package p;
    std::vector<Bytes> streams;
    for (std::size_t k = 0; k < kDistinct; ++k) {
      const std::string content = MakeContent(static_cast<std::uint32_t>(k + 1));
      Bytes z;
      Compress(reinterpret_cast<const std::uint8_t*>(content.data()), content.size(), z);
      streams.push_back(std::move(z));
      unsigned char md[EVP_MAX_MD_SIZE];
      unsigned int len = 0;
      EVP_Digest(content.data(), content.size(), md, &len, EVP_sha1(), nullptr);
      std::vector<std::string> cells;
      for (unsigned i = 0; i < len; ++i) cells.push_back(Sha1Cell(md, i));
      p.hashes.push_back(std::move(cells));
    }
    std::size_t total = 64;
    for (std::size_t i = 0; i < kFiles; ++i) total += streams[i % kDistinct].size();
    p.bytes.reserve(total);
    p.bytes.assign(64, 0x7A);  // stands for the header and controller
    for (std::size_t i = 0; i < kFiles; ++i) {
      const Bytes& z = streams[i % kDistinct];
      p.files.push_back({static_cast<std::int64_t>(p.bytes.size()), z.size(), kFileSize});
      p.bytes.insert(p.bytes.end(), z.begin(), z.end());
    }
    p.largest = kFileSize;
    return p;
  }
}

std::string OutputRoot() {
  if (const char* d = std::getenv("TARVIK_BENCH_DIR")) return d;
  if (fs::is_directory("/dev/shm")) return "/dev/shm";
  return fs::temp_directory_path().string();
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
  Package pkg = MakePackage();
  test::FakeUi ui;
  App app(ui, Platform(OutputRoot() + "/tarvik-bench-data", OutputRoot()));
  // The package lives in the file buffer only, as after opening it.
  const std::size_t packageSize = pkg.bytes.size();
  app.buffer.data = std::move(pkg.bytes);
  const std::uint8_t* bytes = app.buffer.data.data();
  app.state.formatMarker = 1;
  for (std::size_t i = 0; i < pkg.files.size(); ++i) {
    const auto& f = pkg.files[i];
    Row& r = app.stores.ListView1.Add("1");
    r.Set(col9::FileDataId, std::to_string(i));
    r.Set(col9::Offset, HexText(static_cast<std::uint64_t>(f.offset)));
    r.Set(col9::Compression, "1");
    r.Set(col9::CompressByte, HexText(f.csize, 16));
    r.Set(col9::UncompressByte, HexText(f.usize, 16));
    r.Set(col9::ExtractPath, "bin\\bench\\sys\\data\\d" + std::to_string(i / 50) + "\\file" + std::to_string(i) + ".bin");
    const auto& cells = pkg.hashes[i % kDistinct];
    for (std::size_t k = 0; k < cells.size(); ++k) r.Set(col9::Hash1 + k, cells[k]);
    r.Set(col9::HashAlgorithm, "SHA-1 algorithm");
  }
  const std::string out = OutputRoot() + "/tarvik-bench-extract";

  double zlibBest = 1e300;
  double extractBest = 1e300;
  for (auto _ : state) {
    state.PauseTiming();
    fs::remove_all(out);
    fs::create_directories(out);
    state.ResumeTiming();

    const auto t0 = std::chrono::steady_clock::now();
    for (const auto& f : pkg.files) {
      Bytes inflated;
      Uncompress(bytes + f.offset, f.csize, f.usize, inflated);
      benchmark::DoNotOptimize(inflated.data());
    }
    const auto t1 = std::chrono::steady_clock::now();
    app.state.extractionFolder = out + "/";
    extract::ExtractTwo(app);
    const auto t2 = std::chrono::steady_clock::now();

    if (app.state.extractedCount != static_cast<std::int32_t>(pkg.files.size()) || !ui.messages.empty()) {
      state.SkipWithError("extraction did not write every file cleanly");
      break;
    }
    zlibBest = std::min(zlibBest, Seconds(t0, t1));
    extractBest = std::min(extractBest, Seconds(t1, t2));
    state.SetIterationTime(Seconds(t1, t2));
  }
  fs::remove_all(out);
  const double packageMiB = static_cast<double>(packageSize) / (1 << 20);
  const double largestMiB = static_cast<double>(pkg.largest) / (1 << 20);
  state.counters["zlib_s"] = zlibBest;
  state.counters["extract_s"] = extractBest;
  state.counters["ratio"] = extractBest / zlibBest;
  state.counters["package_MiB"] = packageMiB;
  state.counters["largest_MiB"] = largestMiB;
  state.counters["peak_MiB"] = PeakMiB();
  state.counters["peak_goal_MiB"] = packageMiB + 2 * largestMiB + 64;
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(pkg.files.size() * kFileSize));
}

BENCHMARK(BM_ExtractVsZlib)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

BENCHMARK_MAIN();
