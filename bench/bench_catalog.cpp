// Catalogue and JSON speed.
//
// BM_CatalogCollection: a collection of 10,000 writer-made packages (9.x packages of 1 to
// 12 files, stored and deflated, in one to three languages, some with target devices and
// made-up signature chains; pre-9.x packages; stubs) is catalogued into a fresh database
// with 1 and with 2 reader threads; in the same run the floor: the same files read whole,
// their SHA-1 and SHA-256 taken and their controllers inflated. Counters (fastest of the
// runs, seconds): read_inflate_s (the floor) and
// catalog_1core_s (one reader, the process held on one CPU for both), ratio_1core
// (catalog_1core_s / read_inflate_s, goal <= 1.5), catalog_1job_s and catalog_2jobs_s
// (free to use every CPU; the walk and the writer are threads of their own),
// speedup_2jobs (catalog_1job_s / catalog_2jobs_s, goal >= 1.6 on 2 idle cores), collection_MiB, largest_KiB, peak_MiB (peak
// resident memory of this process: the collection is made by a child process),
// peak_goal_MiB (64 MiB + 2 x the largest package), and peak_half_MiB / peak_whole_MiB: the
// peak resident memory of a child process that catalogues half the collection, and one that
// catalogues all of it (the same when memory does not grow with the collection).
//
// BM_JsonManyFiles: the 10,000-file synthetic package opened with the Open command, read,
// parsed and described alone, and read, parsed and described followed by its JSON document
// as text (the whole of info --json). Counters: open_command_s, read_parse_describe_s,
// json_s, ratio_to_open_command (json_s / open_command_s, goal <= 2) and ratio_to_parse
// (json_s / read_parse_describe_s).
//
// TARVIK_BENCH_DIR chooses the working folder (default /dev/shm, else the temporary folder).

#include <benchmark/benchmark.h>
#include <sched.h>
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

#include <openssl/evp.h>

#include "bytes/inflate.hpp"
#include "catalog/catalog.hpp"
#include "parse/parse.hpp"
#include "platform/platform.hpp"
#include "window/commands.hpp"
#include "sis9/parser.hpp"
#include "support/fake_ui.hpp"
#include "support/sis9_writer.hpp"
#include "support/sis_old_writer.hpp"
#include "support/test_env.hpp"
#include "views/json.hpp"
#include "views/views.hpp"

namespace {

namespace fs = std::filesystem;
using namespace tarvik;

constexpr int kPackages = 10000;

std::string WorkRoot() {
  if (const char* d = std::getenv("TARVIK_BENCH_DIR")) return d;
  if (fs::is_directory("/dev/shm")) return "/dev/shm";
  return fs::temp_directory_path().string();
}

double PeakMiB() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_maxrss) / 1024.0;
}

double Seconds(std::chrono::steady_clock::time_point a, std::chrono::steady_clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

// Keeps every thread of the process on the first allowed CPU, or gives the process back
// the CPUs it had.
class OneCore {
 public:
  OneCore() {
    sched_getaffinity(0, sizeof all_, &all_);
    cpu_set_t one;
    CPU_ZERO(&one);
    for (int c = 0; c < CPU_SETSIZE; ++c)
      if (CPU_ISSET(c, &all_)) {
        CPU_SET(c, &one);
        break;
      }
    sched_setaffinity(0, sizeof one, &one);
  }
  ~OneCore() { sched_setaffinity(0, sizeof all_, &all_); }

 private:
  cpu_set_t all_;
};

Bytes Content(std::mt19937& rng, std::size_t size) {
  Bytes b(size);
  // Half text-like, half noise: deflates about 2:1.
  for (std::size_t i = 0; i < size; ++i) b[i] = static_cast<std::uint8_t>(i % 2 ? 'a' + rng() % 8 : rng());
  return b;
}

Bytes MakeOne(int i, std::mt19937& rng) {
  const int kind = i % 10;
  if (kind == 8) {  // pre-9.x
    test::OldPackage p;
    p.uid1 = 0x10F00000u + static_cast<std::uint32_t>(i);
    p.names = {"Old " + std::to_string(i)};
    const int files = 1 + static_cast<int>(rng() % 6);
    for (int f = 0; f < files; ++f) {
      const Bytes data = Content(rng, 64 + rng() % 2048);
      p.records.push_back(test::OldFile("C:\\src\\f" + std::to_string(f) + ".dat",
                                        "!:\\system\\apps\\old" + std::to_string(i) + "\\f" + std::to_string(f) + ".dat",
                                        std::string(data.begin(), data.end())));
    }
    return test::BuildOldSis(p);
  }
  test::sis9w::Controller c;
  c.uid = 0xE0000000u + static_cast<std::uint32_t>(i % 4000);  // several versions of one UID
  c.version = {1, i / 4000, i % 100};
  c.names = {"App " + std::to_string(i)};
  c.vendors = {"Vendor " + std::to_string(i % 50)};
  if (i % 3 == 0) {
    c.languages = {1, 2, 3};
    c.names = {"App", "Appli", "Anwendung"};
    c.vendors = {"V", "V", "V"};
  }
  if (i % 4 == 0) c.targets = {{0x1028315F, {5, 0, 0}, std::nullopt, {"S60 5th"}}};
  if (i % 5 == 0) c.signatureChains = 1;
  const int files = 1 + static_cast<int>(rng() % 12);
  for (int f = 0; f < files; ++f) {
    test::sis9w::File file;
    file.target = "!:\\private\\e" + std::to_string(i) + "\\file" + std::to_string(f) + ".dat";
    file.data = Content(rng, 32 + rng() % (i % 100 == 0 ? 100000 : 3000));
    file.deflate = f % 2 == 0;
    c.files.push_back(std::move(file));
  }
  return test::sis9w::Build(c, {.deflateController = true, .stub = kind == 9});
}

// Writes the collection in a child process, so that making it leaves no trace in this
// process's peak memory.
bool MakeCollection(const std::string& folder) {
  const pid_t child = fork();
  if (child < 0) return false;
  if (child == 0) {
    std::mt19937 rng(42);
    for (int i = 0; i < kPackages; ++i) {
      const fs::path dir = fs::path(folder) / ("d" + std::to_string(i % 100));
      fs::create_directories(dir);
      static const char* const kNames[] = {".sis", ".SIS", ".sisx", ".bin"};
      const Bytes pkg = MakeOne(i, rng);
      std::ofstream out(dir / ("p" + std::to_string(i) + kNames[i % 4]), std::ios::binary);
      out.write(reinterpret_cast<const char*>(pkg.data()), static_cast<std::streamsize>(pkg.size()));
      if (!out) _exit(1);
    }
    _exit(0);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The peak resident memory of a child process that catalogues `folders` into a new
// database with 2 readers.
double ChildPeakMiB(const std::vector<std::string>& folders, const std::string& db) {
  const pid_t child = fork();
  if (child < 0) return -1;
  if (child == 0) {
    catalog::Options options;
    options.folders = folders;
    options.database = db;
    options.jobs = 2;
    _exit(catalog::Run(options).ok ? 0 : 1);
  }
  int status = 0;
  rusage u{};
  if (wait4(child, &status, 0, &u) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
  return static_cast<double>(u.ru_maxrss) / 1024.0;
}

void BM_CatalogCollection(benchmark::State& state) {
  const std::string root = WorkRoot() + "/tarvik-bench-catalog-" + std::to_string(getpid());
  const std::string collection = root + "/collection";
  fs::create_directories(collection);
  if (!MakeCollection(collection)) {
    state.SkipWithError("could not make the collection");
    return;
  }
  // The files and their frames, found beforehand: the baseline reads each file and
  // inflates its controller, nothing more.
  struct Entry {
    std::string path;
    std::optional<model::Frame> frame;
  };
  std::vector<Entry> entries;
  std::uint64_t total = 0, largest = 0;
  for (const auto& e : fs::recursive_directory_iterator(collection)) {
    if (!e.is_regular_file()) continue;
    Bytes bytes;
    fsys::ReadWholeFile(e.path().string(), bytes);
    total += bytes.size();
    largest = std::max<std::uint64_t>(largest, bytes.size());
    entries.push_back({e.path().string(), Parse(bytes, e.path().string()).frame});
  }
  auto catalogue = [&](unsigned jobs) -> double {
    const std::string db = root + "/c" + std::to_string(jobs) + ".sqlite";
    for (const char* suffix : {"", "-wal", "-shm"}) fs::remove(db + suffix);
    catalog::Options options;
    options.folders = {collection};
    options.database = db;
    options.jobs = jobs;
    const auto a = std::chrono::steady_clock::now();
    const catalog::Result r = catalog::Run(options);
    const auto b = std::chrono::steady_clock::now();
    return r.ok && r.packages == static_cast<std::uint64_t>(kPackages) ? Seconds(a, b) : -1;
  };
  double baseBest = 1e300, coreBest = 1e300, oneBest = 1e300, twoBest = 1e300;
  for (auto _ : state) {
    double base = 0, core = 0;
    {
      // The baseline and the catalogue with one reader on one core: every thread of the
      // catalogue (walk, reader, writer) shares it.
      OneCore pinned;
      const auto t0 = std::chrono::steady_clock::now();
      for (const Entry& e : entries) {
        Bytes bytes, controller;
        fsys::ReadWholeFile(e.path, bytes);
        std::uint8_t sha1[EVP_MAX_MD_SIZE], sha256[EVP_MAX_MD_SIZE];
        EVP_Digest(bytes.data(), bytes.size(), sha1, nullptr, EVP_sha1(), nullptr);
        EVP_Digest(bytes.data(), bytes.size(), sha256, nullptr, EVP_sha256(), nullptr);
        benchmark::DoNotOptimize(sha1);
        benchmark::DoNotOptimize(sha256);
        if (e.frame)
          sis9::ReadControllerBytes(bytes, *e.frame, [&controller](const std::uint8_t* d, std::size_t n) {
            controller.insert(controller.end(), d, d + n);
            return true;
          });
        benchmark::DoNotOptimize(controller.data());
      }
      base = Seconds(t0, std::chrono::steady_clock::now());
      core = catalogue(1);
    }
    const double one = catalogue(1);
    const double two = catalogue(2);
    if (core < 0 || one < 0 || two < 0) {
      state.SkipWithError("the catalogue did not hold every package");
      fs::remove_all(root);
      return;
    }
    baseBest = std::min(baseBest, base);
    coreBest = std::min(coreBest, core);
    oneBest = std::min(oneBest, one);
    twoBest = std::min(twoBest, two);
    state.SetIterationTime(core);
  }
  state.counters["read_inflate_s"] = baseBest;
  state.counters["catalog_1core_s"] = coreBest;
  state.counters["catalog_1job_s"] = oneBest;
  state.counters["catalog_2jobs_s"] = twoBest;
  state.counters["ratio_1core"] = coreBest / baseBest;
  state.counters["speedup_2jobs"] = oneBest / twoBest;
  state.counters["collection_MiB"] = static_cast<double>(total) / (1 << 20);
  state.counters["largest_KiB"] = static_cast<double>(largest) / 1024;
  state.counters["peak_MiB"] = PeakMiB();
  state.counters["peak_goal_MiB"] = 64 + 2 * static_cast<double>(largest) / (1 << 20);
  std::vector<std::string> half;
  for (int i = 0; i < 50; ++i) half.push_back(collection + "/d" + std::to_string(i));
  state.counters["peak_half_MiB"] = ChildPeakMiB(half, root + "/half.sqlite");
  state.counters["peak_whole_MiB"] = ChildPeakMiB({collection}, root + "/whole.sqlite");
  fs::remove_all(root);
}

BENCHMARK(BM_CatalogCollection)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_JsonManyFiles(benchmark::State& state) {
  const std::string root = WorkRoot() + "/tarvik-bench-json-" + std::to_string(getpid());
  fs::create_directories(root);
  const std::string path = root + "/many.sis";
  {
    const Bytes pkg = test::sis9w::MakeManyFiles(10000, 64, true);
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(pkg.data()),
                                                static_cast<std::streamsize>(pkg.size()));
  }
  test::FakeUi ui;
  window::Commands app(ui, Platform(root + "/data", root));
  app.Form_Load();
  double openBest = 1e300, appBest = 1e300, jsonBest = 1e300;
  for (auto _ : state) {
    const auto t0 = std::chrono::steady_clock::now();
    {
      Bytes bytes;
      fsys::ReadWholeFile(path, bytes);
      const model::Package pkg = Parse(bytes, path);
      const views::PackageView view = views::Describe(pkg, {});
      benchmark::DoNotOptimize(view.files.data());
    }
    const auto t1 = std::chrono::steady_clock::now();
    ui.openAnswers.push_back(path);
    app.mnOpen_Click();
    const auto t2 = std::chrono::steady_clock::now();
    {
      Bytes bytes;
      fsys::ReadWholeFile(path, bytes);
      const model::Package pkg = Parse(bytes, path);
      const views::PackageView view = views::Describe(pkg, {});
      const std::string text = views::FactsDocumentLine(pkg, bytes, view, path);
      benchmark::DoNotOptimize(text.data());
    }
    const auto t3 = std::chrono::steady_clock::now();
    if (test::ViewOf(app).files.size() != 10000) {
      state.SkipWithError("the package did not open with its files");
      break;
    }
    openBest = std::min(openBest, Seconds(t0, t1));
    appBest = std::min(appBest, Seconds(t1, t2));
    jsonBest = std::min(jsonBest, Seconds(t2, t3));
    state.SetIterationTime(Seconds(t2, t3));
  }
  state.counters["read_parse_describe_s"] = openBest;
  state.counters["open_command_s"] = appBest;
  state.counters["json_s"] = jsonBest;
  state.counters["ratio_to_open_command"] = jsonBest / appBest;
  state.counters["ratio_to_parse"] = jsonBest / openBest;
  fs::remove_all(root);
}

BENCHMARK(BM_JsonManyFiles)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);

}  // namespace

BENCHMARK_MAIN();
