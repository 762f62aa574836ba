#include "cli/extract_extras.hpp"

#include <unistd.h>

#include <filesystem>
#include <iostream>

#include "extract/budget.hpp"
#include "extract/certificates.hpp"
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

int WriteCertificatesAlone(const App& app, const std::string& dir, bool force) {
  if (!app.state.package) return 0;
  const std::vector<extract::CertificateFile> files = extract::CertificateFiles(*app.state.package, app.bytes);
  if (files.empty()) return 0;
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  const std::string folder = dir.empty() || dir.back() == '/' ? dir : dir + "/";
  extract::Budget budget = extract::PlanExtraction(app.bytes, app.state.package->generation, {}, folder);
  budget.planned += extract::CertificateCost(files);
  if (budget.TooMuch() && !force) {
    std::cerr << ForStream(STDERR_FILENO, "tarvik-cli: " + budget.Question(folder)) << '\n'
              << "tarvik-cli: nothing extracted (--force extracts anyway)\n";
    return 1;
  }
  StderrReporter reporter;
  extract::Result result;
  extract::ListCertificates(folder, files, result, reporter);
  std::string list;
  for (char c : result.list)
    if (c != '\r') list += c;
  std::cout << ForStream(STDOUT_FILENO, list);
  return reporter.failed ? 1 : 0;
}

}  // namespace tarvik::cli
