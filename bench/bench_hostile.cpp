// Worst-case open time over hostile inputs, against the open of the well-formed input of
// the same size: the controllers of the real packages in ../shared/corpus, each opened as a
// bare controller, then with each of a sample of its length fields set to 0, to the
// buffer size, to 0x7FFFFFFF and to the 63-bit form's maximum. Goal: at most 10 times.
//   bench_hostile [PACKAGES]    (default: the 12 largest controllers)

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "window/commands.hpp"
#include "support/fake_ui.hpp"
#include "support/mutate.hpp"
#include "support/test_env.hpp"

namespace fs = std::filesystem;
using namespace tarvik;

namespace {

// Fastest of three opens of the file, in microseconds.
double OpenMicros(window::Commands& app, test::FakeUi& ui, const std::string& path) {
  double best = 1e300;
  for (int k = 0; k < 3; ++k) {
    ui.messages.clear();
    const auto t0 = std::chrono::steady_clock::now();
    test::OpenThroughMenu(app, ui, path);
    const auto t1 = std::chrono::steady_clock::now();
    best = std::min(best, std::chrono::duration<double, std::micro>(t1 - t0).count());
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  const auto shared = test::SharedDir();
  if (!shared) {
    std::printf("no ../shared/corpus: nothing to measure\n");
    return 0;
  }
  const std::size_t wanted = argc > 1 ? static_cast<std::size_t>(std::atoi(argv[1])) : 12;
  std::vector<std::string> packages;
  for (const auto& e : fs::recursive_directory_iterator(*shared + "/corpus")) {
    const std::string ext = ToLower(e.path().extension().string());
    if (e.is_regular_file() && (ext == ".sis" || ext == ".sisx")) packages.push_back(e.path().string());
  }
  std::sort(packages.begin(), packages.end());
  test::FakeUi ui;
  test::TempDir dir;
  window::Commands app(ui, test::TestPlatform(dir));
  app.Form_Load();
  // The largest controllers: small ones open in less time than the file system takes.
  std::vector<std::pair<Bytes, std::string>> controllers;
  for (const auto& p : packages)
    if (auto c = test::Controller(test::ReadBytes(p))) controllers.emplace_back(std::move(*c), p);
  std::sort(controllers.begin(), controllers.end(),
            [](const auto& a, const auto& b) { return a.first.size() > b.first.size(); });
  if (controllers.size() > wanted) controllers.resize(wanted);
  double worst = 0;
  std::string worstWhat;
  std::size_t cases = 0, used = 0;
  for (auto& [bytes, name] : controllers) {
    const Bytes* controller = &bytes;
    const std::string packagePath = name;
    ++used;
    const std::string path = dir.Write("stub.sis", *controller);
    const double base = OpenMicros(app, ui, path);
    const ByteView b(*controller);
    std::vector<Pos> lengths;
    test::CollectLengths(b, 0, b.Size(), 0, lengths);
    const std::size_t step = std::max<std::size_t>(1, lengths.size() / 60);
    for (std::size_t k = 0; k < lengths.size(); k += step) {
      for (int form = 0; form < 4; ++form) {
        Bytes m = *controller;
        const std::uint32_t values[] = {0, static_cast<std::uint32_t>(m.size()), 0x7FFFFFFF, 0xFFFFFFFF};
        test::Put32(m, lengths[k], values[form]);
        if (form == 3) test::Put32(m, lengths[k] + 4, 0xFFFFFFFF);
        const double t = OpenMicros(app, ui, dir.Write("stub.sis", m));
        ++cases;
        // Opens below a millisecond are dominated by the file system: compare against at
        // least that much.
        const double ratio = t / std::max(base, 1000.0);
        if (ratio > worst) {
          worst = ratio;
          worstWhat = fs::path(packagePath).filename().string() + " length field at " + std::to_string(lengths[k]);
        }
      }
    }
    std::printf("%-40s %8zu bytes  well-formed open %8.0f us\n", fs::path(packagePath).filename().c_str(),
                controller->size(), base);
  }
  std::printf("\n%zu hostile opens over %zu controllers\n", cases, used);
  std::printf("worst hostile open / well-formed open of the same size: %.2f (goal: at most 10) -- %s\n", worst,
              worstWhat.c_str());
  return 0;
}
