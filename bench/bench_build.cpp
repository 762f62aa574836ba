// Building a package from its PKG file: the build-ready PKG file of a 20,000-file package
// (64 bytes each, as extracted) built with the options as written, against the floor of
// the same work done by hand in the same run: reading every source file and deflating it.
//
// Counters: floor_s and build_s (the fastest of the runs, in seconds, measured back to back
// in every run so that both see the same load), ratio (build_s / floor_s, goal <= 1.5),
// files. TARVIK_BENCH_DIR chooses the working folder (default /dev/shm, else the temporary
// folder).

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "extract/extract.hpp"
#include "parse/parse.hpp"
#include "support/sis9_writer.hpp"
#include "views/rebuild_script.hpp"
#include "writer/pkg_build.hpp"

namespace {

namespace fs = std::filesystem;
using namespace tarvik;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kFiles = 20000;

class Quiet : public extract::Reporter {
 public:
  void Failed(const std::string&) override {}
  void Warning(const std::string&) override {}
};

std::string WorkDir() {
  const char* chosen = std::getenv("TARVIK_BENCH_DIR");
  const fs::path base = chosen ? fs::path(chosen) : fs::exists("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
  const fs::path dir = base / ("tarvik-bench-build-" + std::to_string(getpid()));
  fs::create_directories(dir);
  return dir.string();
}

// Extracts the package with its PKG files into `dir`; the main PKG file and the sources in
// the order it names them.
std::string Prepare(const std::string& dir, std::vector<std::string>& sources) {
  const Bytes pkg = test::sis9w::MakeManyFiles(kFiles, 64, true);
  const model::Package package = Parse(pkg, "many.sis");
  const views::PackageView view = views::Describe(package, {});
  Quiet quiet;
  extract::ExtractAll(pkg, package.generation, view.files, dir + "/", quiet);
  for (const views::FileRow& row : view.files) {
    std::string p = row.extractPath;
    std::replace(p.begin(), p.end(), '\\', '/');
    sources.push_back(dir + "/" + p);
  }
  const std::vector<views::RebuildScript> scripts = views::RebuildScripts(package, view);
  const std::string main = dir + "/" + scripts.back().path;
  std::ofstream(main, std::ios::binary) << views::EncodePkgFile(scripts.back().text);
  return main;
}

// Reads and deflates every source, as the build must: the floor of its work.
double Floor(const std::vector<std::string>& sources) {
  const auto start = Clock::now();
  std::vector<std::uint8_t> in(1 << 16), out(1 << 17);
  std::size_t total = 0;
  for (const std::string& s : sources) {
    const int fd = open(s.c_str(), O_RDONLY | O_CLOEXEC);
    const ssize_t n = read(fd, in.data(), in.size());
    close(fd);
    z_stream z{};
    deflateInit(&z, Z_DEFAULT_COMPRESSION);
    z.next_in = in.data();
    z.avail_in = static_cast<uInt>(std::max<ssize_t>(n, 0));
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    total += z.total_out;
    deflateEnd(&z);
  }
  benchmark::DoNotOptimize(total);
  return std::chrono::duration<double>(Clock::now() - start).count();
}

void BM_BuildManyFiles(benchmark::State& state) {
  const std::string dir = WorkDir();
  std::vector<std::string> sources;
  const std::string pkg = Prepare(dir, sources);
  writer::PkgBuildOptions options;
  options.mode = pkgscript::Mode::AsWritten;
  double best = 1e9, floor = 1e9;
  for (auto _ : state) {
    floor = std::min(floor, Floor(sources));
    const auto start = Clock::now();
    const writer::PkgBuildResult r = writer::BuildFromPkg(pkg, dir + "/rebuilt.sis", options);
    best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
    if (!r.ok()) state.SkipWithError(r.errors.front().c_str());
  }
  state.counters["files"] = static_cast<double>(kFiles);
  state.counters["floor_s"] = floor;
  state.counters["build_s"] = best;
  state.counters["ratio"] = best / floor;
  std::error_code ec;
  fs::remove_all(dir, ec);
}
BENCHMARK(BM_BuildManyFiles)->Iterations(5)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
