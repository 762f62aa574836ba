// Whole processes, as a shell script runs them: the start-up of tarvik-cli against the
// smallest C++ program that links zlib, and the work of `pkg` and `extract` beyond that
// start-up on every 9.x package of the corpus (when ../shared is there).
//
//   bench_process [RUNS]   runs each command RUNS times (default 200 for start-up, 5 per
//                          package), interleaved, and prints medians and ratios.

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "support/test_env.hpp"

extern char** environ;

namespace {

namespace fs = std::filesystem;

// Seconds one run of `argv` takes, its output sent to /dev/null.
double RunOnce(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  const auto t0 = std::chrono::steady_clock::now();
  pid_t pid = 0;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) return -1;
  int status = 0;
  waitpid(pid, &status, 0);
  const auto t1 = std::chrono::steady_clock::now();
  posix_spawn_file_actions_destroy(&actions);
  return std::chrono::duration<double>(t1 - t0).count();
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

// Medians of the commands, run in turn `runs` times.
std::vector<double> Interleaved(const std::vector<std::vector<std::string>>& commands, int runs) {
  std::vector<std::vector<double>> times(commands.size());
  for (int r = 0; r < runs; ++r)
    for (std::size_t c = 0; c < commands.size(); ++c) times[c].push_back(RunOnce(commands[c]));
  std::vector<double> medians;
  for (const auto& t : times) medians.push_back(Median(t));
  return medians;
}

// The corpus's 9.x packages (by the manifest), when the corpus is there.
std::vector<std::string> Sis9Packages() {
  std::vector<std::string> out;
  const auto shared = tarvik::test::SharedDir();
  if (!shared) return out;
  for (const auto& row : tarvik::test::CorpusManifest()) {
    const auto file = row.find("file");
    const auto gen = row.find("generation");
    if (file == row.end() || gen == row.end() || gen->second != "9.x") continue;
    out.push_back(*shared + "/corpus/" + file->second);
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
  const std::string cli = TARVIK_CLI_PATH;
  const std::string minimal = fs::path(argv[0]).parent_path() / "bench_minimal_zlib";
  const auto start = Interleaved({{minimal}, {cli, "--version"}}, runs);
  std::printf("start-up (median of %d): minimal zlib program %.2f ms, tarvik-cli --version %.2f ms, ratio %.2f\n",
              runs, start[0] * 1e3, start[1] * 1e3, start[1] / start[0]);

  const std::vector<std::string> packages = Sis9Packages();
  if (packages.empty()) {
    std::printf("no corpus (../shared): per-package figures skipped\n");
    return 0;
  }
  tarvik::test::TempDir dir;
  const int perPackage = argc > 1 ? std::max(1, std::atoi(argv[1]) / 40) : 5;
  double startup = 0, pkg = 0, extract = 0;
  for (const std::string& p : packages) {
    const std::string out = dir / "out";
    const auto m = Interleaved({{cli, "--version"}, {cli, "pkg", p}, {cli, "extract", "--quiet", "--force", p, out}},
                               perPackage);
    fs::remove_all(out);
    startup += m[0];
    pkg += m[1] - m[0];
    extract += m[2] - m[0];
  }
  std::printf("%zu packages (median of %d runs each): start-up %.1f ms in all; beyond it, pkg %.1f ms, extract %.1f ms\n",
              packages.size(), perPackage, startup * 1e3, pkg * 1e3, extract * 1e3);
  return 0;
}
