// Resource use of the crafted inputs of the hostile table, each run through tarvik-cli as a
// person would (open, then extract without confirming), against the goals for an input of N
// bytes: peak memory at most 64 MiB + 2 N (+ the largest file written), bytes written at
// most 1032 N unless confirmed, time at most 10 times that of a well-formed package of the
// same size.
//   bench_bombs

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "sis9/limits.hpp"
#include "support/sis9_writer.hpp"
#include "support/test_env.hpp"

namespace fs = std::filesystem;
namespace w = tarvik::test::sis9w;
using tarvik::Bytes;

namespace {

struct Run {
  double seconds = 0;
  double peakMiB = 0;
  std::uint64_t written = 0;
};

std::uint64_t BytesUnder(const std::string& folder) {
  std::uint64_t n = 0;
  std::error_code ec;
  for (const auto& e : fs::recursive_directory_iterator(folder, ec))
    if (e.is_regular_file(ec)) n += e.file_size(ec);
  return n;
}

// tarvik-cli extract FILE OUT, with its own data and temporary folders; the best of three.
Run Extract(const tarvik::test::TempDir& dir, const std::string& file) {
  Run best;
  best.seconds = 1e300;
  for (int k = 0; k < 3; ++k) {
    const std::string out = dir / "out", tmp = dir / "tmp", data = dir / "data";
    for (const auto& f : {out, tmp, data}) fs::remove_all(f);
    std::fflush(stdout);  // the child must not write what this process has not yet
    const auto t0 = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
      setenv("XDG_DATA_HOME", data.c_str(), 1);
      setenv("TMPDIR", tmp.c_str(), 1);
      freopen("/dev/null", "w", stdout);
      freopen("/dev/null", "w", stderr);
      execl(TARVIK_CLI_PATH, TARVIK_CLI_PATH, "extract", "-q", file.c_str(), out.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    int status = 0;
    rusage use{};
    wait4(pid, &status, 0, &use);
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    best.seconds = std::min(best.seconds, s);
    best.peakMiB = use.ru_maxrss / 1024.0;
    best.written = BytesUnder(out) + BytesUnder(tmp) + BytesUnder(data);
  }
  return best;
}

// A well-formed package of about `size` bytes: one stored file.
Bytes WellFormed(std::size_t size) {
  w::Controller c;
  std::string content(size > 600 ? size - 600 : 1, 'w');
  for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>('a' + (i * 7919) % 26);
  c.files = {w::TextFile("!:\\d\\data.bin", content)};
  return w::Build(c);
}

}  // namespace

int main() {
  tarvik::test::TempDir dir;
  w::Controller plain;
  plain.files = {w::TextFile("!:\\data\\a.txt", "alpha\n"), w::TextFile("!:\\data\\b.txt", "beta\n", true)};
  const Bytes honest = w::Build(plain);
  struct Case {
    std::string name;
    Bytes bytes;
  };
  std::vector<Case> cases;
  {
    w::ControllerStream claim;
    claim.declaredSize = ((std::uint64_t{honest[52]} | std::uint64_t{honest[53]} << 8) - 12) * 1000;
    cases.push_back({"controller declaring 1000x its stream", w::Build(plain, claim)});
  }
  {
    w::ControllerStream zeros;
    // The largest controller of zeros a package can have: the ceiling grows with the package.
    for (std::size_t z = std::size_t{1} << 20;; z += std::size_t{1} << 20) {
      zeros.zeros = z;
      Bytes b = w::Build(plain, zeros);
      if (z + 4096 > tarvik::sis9::ControllerCeiling(b.size())) break;
      if (z % (std::size_t{8} << 20) == 0 || z + (std::size_t{2} << 20) > tarvik::sis9::ControllerCeiling(b.size()))
        cases.push_back({"controller of " + std::to_string(z >> 20) + " MiB of zeros (under the ceiling)", b});
    }
    zeros.zeros = std::size_t{1200} << 20;
    cases.push_back({"controller of 1.2 GB of zeros", w::Build(plain, zeros)});
  }
  {
    w::Controller shared;
    for (int k = 0; k < 100; ++k) {
      w::File f = w::TextFile("!:\\d\\copy" + std::to_string(k), std::string(std::size_t{4} << 20, '\0'), true);
      f.fileIndex = 0;
      shared.files.push_back(f);
    }
    cases.push_back({"100 descriptions of one 4 MiB file", w::Build(shared)});
  }
  bool met = true;
  std::printf("%-44s %10s %10s %8s %12s %8s %8s\n", "input", "N bytes", "peak MiB", "goal", "written", "goal",
              "time x");
  for (const Case& c : cases) {
    const std::string path = dir.Write("case.sis", c.bytes);
    const Run r = Extract(dir, path);
    const std::string ref = dir.Write("ref.sis", WellFormed(c.bytes.size()));
    const Run base = Extract(dir, ref);
    const double n = static_cast<double>(c.bytes.size());
    const double memGoal = 64 + 2 * n / (1024.0 * 1024.0);
    const double ratio = r.seconds / std::max(base.seconds, 1e-3);
    std::printf("%-44s %10zu %10.1f %8.1f %12llu %8.0f %8.2f\n", c.name.c_str(), c.bytes.size(), r.peakMiB, memGoal,
                static_cast<unsigned long long>(r.written), 1032 * n, ratio);
    if (r.peakMiB > memGoal || static_cast<double>(r.written) > 1032 * n || ratio > 10) met = false;
  }
  std::printf("%s\n", met ? "every goal met" : "a goal was NOT met");
  return met ? 0 : 1;
}
