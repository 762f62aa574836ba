#include "cli/extract_extras.hpp"

#include <unistd.h>

#include <filesystem>
#include <iostream>

#include "extract/rebuild_files.hpp"
#include "platform/terminal.hpp"

namespace tarvik::cli {

namespace {

// Failures go to standard error, as the extraction's messages do.
class StderrReporter : public extract::Reporter {
 public:
  void Failed(const std::string& text) override {
    std::cerr << ForStream(STDERR_FILENO, "tarvik-cli: " + text) << '\n';
    failed = true;
  }
  void Warning(const std::string& text) override { std::cerr << ForStream(STDERR_FILENO, "tarvik-cli: " + text) << '\n'; }
  bool failed = false;
};

}  // namespace

bool PkgFilesWithoutFiles(const App& app) {
  const model::Package* p = app.state.package.get();
  return p && p->generation == model::Generation::Sis9 && p->controllerRead && !p->stub && app.state.view.files.empty();
}

int WritePkgFilesWithoutFiles(const App& app, const std::string& dir, bool force) {
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  const std::string folder = dir.empty() || dir.back() == '/' ? dir : dir + "/";
  StderrReporter reporter;
  const auto replace = [force](const std::string&) { return force; };
  const std::vector<std::string> written =
      extract::WriteRebuildFiles(folder, *app.state.package, app.state.view, nullptr, replace, reporter);
  if (!written.empty()) {
    std::cout << ForStream(STDOUT_FILENO, extract::kRebuildHead + folder) << '\n';
    for (const std::string& path : written) std::cout << ForStream(STDOUT_FILENO, path) << '\n';
  }
  return reporter.failed || written.empty() ? 1 : 0;
}

}  // namespace tarvik::cli
