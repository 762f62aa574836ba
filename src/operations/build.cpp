#include "operations/build.hpp"

#include <unistd.h>

#include <atomic>

#include "writer/pkg_build.hpp"

namespace tarvik::ops {

namespace {

constexpr const char* kScriptName = "Script";

// The line number of a message "Script:LINE:COLUMN: ...", when it has one.
std::optional<int> LineOf(const std::string& message) {
  const std::string head = std::string(kScriptName) + ":";
  if (message.rfind(head, 0) != 0) return std::nullopt;
  int line = 0;
  std::size_t at = head.size();
  for (; at < message.size() && message[at] >= '0' && message[at] <= '9' && line < 10000000; ++at)
    line = line * 10 + (message[at] - '0');
  if (at == head.size() || at >= message.size() || message[at] != ':') return std::nullopt;
  return line;
}

}  // namespace

BuildReport BuildFromText(const BuildRequest& request, const Platform& platform) {
  BuildReport report;
  std::string why;
  const std::optional<std::string> scratch = platform.ScratchDir(&why);
  if (!scratch) {
    report.errors.push_back("Cannot use a private temporary folder: " + why);
    return report;
  }
  static std::atomic<int> runs{0};
  const std::string pkgPath =
      *scratch + "build-" + std::to_string(::getpid()) + "-" + std::to_string(++runs) + ".pkg";
  // UTF-8 with its byte-order mark: the text may hold any character.
  if (!fsys::WriteFileAtomic(pkgPath, "\xEF\xBB\xBF" + request.text)) {
    report.errors.push_back("Cannot write the script to " + pkgPath);
    return report;
  }
  writer::PkgBuildOptions options;
  if (!request.sourceFolder.empty()) options.searchDirs.push_back(request.sourceFolder);
  const writer::PkgBuildResult result = writer::BuildFromPkg(pkgPath, request.outPath, options);
  fsys::DeleteFile(pkgPath);
  report.built = result.built;
  for (std::string e : result.errors) {
    // The copy's name means nothing to the person: the text is "Script".
    for (std::size_t at; (at = e.find(pkgPath)) != std::string::npos;) e.replace(at, pkgPath.size(), kScriptName);
    if (!report.firstErrorLine) report.firstErrorLine = LineOf(e);
    report.errors.push_back(std::move(e));
  }
  return report;
}

}  // namespace tarvik::ops
