#include "cli/collection_commands.hpp"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <set>

#include "catalog/catalog.hpp"
#include "parse/parse.hpp"
#include "platform/platform.hpp"
#include "platform/terminal.hpp"
#include "views/file_digest.hpp"
#include "views/json.hpp"
#include "views/views.hpp"

namespace tarvik::cli {

int PrintFacts(const std::vector<std::string>& files, const std::string& sourceDir) {
  int status = 0;
  views::ScriptSettings settings;
  settings.sourceFolder = sourceDir;
  for (const std::string& file : files) {
    FileBytes bytes;
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file, ec) || !fsys::ReadWholeFile(file, bytes)) {
      std::cerr << ForStream(STDERR_FILENO, "tarvik-cli: cannot read " + file) << '\n';
      status = 2;
      continue;
    }
    const model::Package pkg = Parse(bytes, file);
    const views::PackageView view = views::Describe(pkg, settings);
    std::cout << views::FactsDocumentLine(pkg, bytes, view, file, views::FileSha1Hex(bytes)) << '\n';
  }
  std::cout << std::flush;
  return status;
}

int RunCatalog(const std::vector<std::string>& folders, const std::string& database, unsigned jobs, bool quiet) {
  catalog::Options options;
  options.folders = folders;
  options.database = database;
  options.jobs = jobs;
  const bool drawProgress = !quiet && isatty(STDERR_FILENO);
  bool drawn = false;
  if (drawProgress)
    options.progress = [&drawn](const catalog::Progress& p) {
      const double rate = p.seconds > 0 ? static_cast<double>(p.filesDone) / p.seconds : 0;
      char line[160];
      std::snprintf(line, sizeof line, "\r%llu files, %llu packages, %.0f files/s, %.1f MiB read   ",
                    static_cast<unsigned long long>(p.filesDone), static_cast<unsigned long long>(p.packagesFound),
                    rate, static_cast<double>(p.bytesRead) / (1024.0 * 1024.0));
      std::cerr << line << std::flush;
      drawn = true;
    };
  const catalog::Result r = catalog::Run(options);
  if (drawn) std::cerr << '\n';
  for (const std::string& e : r.errors) std::cerr << ForStream(STDERR_FILENO, "tarvik-cli: " + e) << '\n';
  if (!r.ok) return 2;
  std::cout << r.filesSeen << " files, " << r.packages << " packages: " << r.written << " read ("
            << r.unreadable << " unreadable), " << r.unchanged << " files unchanged, " << r.removed
            << " removed";
  if (r.archives > 0)
    std::cout << "; " << r.archives << " archives read (" << r.archiveProblems << " problems in them)";
  std::cout << '\n';
  return r.errors.empty() ? 0 : 1;
}

std::vector<std::string> ExtractFolders(const std::vector<std::string>& files, const std::string& dir) {
  std::vector<std::string> out;
  std::set<std::string> used;
  auto lower = [](std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
  };
  for (const std::string& file : files) {
    const std::string name = std::filesystem::path(file).filename().string();
    std::string folder = name.empty() ? std::string("package") : name;
    for (int n = 2; !used.insert(lower(folder)).second; ++n) folder = name + " (" + std::to_string(n) + ")";
    out.push_back((std::filesystem::path(dir) / folder).string());
  }
  return out;
}

}  // namespace tarvik::cli
