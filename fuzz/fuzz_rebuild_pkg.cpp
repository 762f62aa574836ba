// Property: every build-ready PKG file made from any input, after extracting it into the
// sandbox, names only files that the extraction wrote inside its folder, and no line of it
// is broken by package text (every line ends in CR LF, and every line that is not a comment
// holds whole strings).
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include "extract/budget.hpp"
#include "extract/extract.hpp"
#include "parse/parse.hpp"
#include "support.hpp"
#include "views/rebuild_script.hpp"

namespace {

[[noreturn]] void Fail(const char* what, const std::string& line) {
  std::fprintf(stderr, "PKG property broken: %s: %s\n", what, line.c_str());
  std::abort();
}

// The quoted strings of a line, in order; false when a quote is left open.
bool Strings(const std::string& line, std::vector<std::string>& out) {
  out.clear();
  for (std::size_t at = line.find('"'); at != std::string::npos; at = line.find('"', at + 1)) {
    const std::size_t end = line.find('"', at + 1);
    if (end == std::string::npos) return false;
    out.push_back(line.substr(at + 1, end - at - 1));
    at = end;
  }
  return true;
}

// A source name must be a path inside `folder` of no "..", and (`written`) a regular file
// there, not a link. A pre-installed package carries no file data: its sources are where the
// person is to put the files.
void CheckSource(const std::string& folder, const std::string& source, const std::string& line, bool written) {
  if (source.empty()) return;
  if (source.front() == '/' || source.find("..") != std::string::npos || source.find('\\') != std::string::npos)
    Fail("source name leaves the folder", line);
  if (!written) return;
  struct stat st {};
  if (lstat((folder + source).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) Fail("source name names no written file", line);
}

void CheckScript(const std::string& out, const tarvik::views::RebuildScript& s) {
  if (!s.refused.empty()) {
    if (!s.text.empty()) Fail("a refused PKG file has a text", s.path);
    return;
  }
  std::string folder = out;
  if (const std::size_t slash = s.path.find_last_of('\\'); slash != std::string::npos) {
    folder += s.path.substr(0, slash + 1);
    for (char& c : folder)
      if (c == '\\') c = '/';
  }
  const bool preinstalled = s.text.find(";A pre-installed package carries no file data") != std::string::npos;
  std::vector<std::string> strings;
  std::size_t start = 0;
  while (start < s.text.size()) {
    const std::size_t end = s.text.find("\r\n", start);
    if (end == std::string::npos) Fail("a line without CR LF", s.text.substr(start));
    const std::string line = s.text.substr(start, end - start);
    start = end + 2;
    if (line.find_first_of("\r\n") != std::string::npos) Fail("a line break inside a line", line);
    if (line.empty() || line[0] == ';') continue;
    if (!Strings(line, strings)) Fail("a string left open", line);
    const bool fileLine = line[0] == '"' || line[0] == '{' || line[0] == '=';
    if (!fileLine || strings.empty()) continue;
    if (line[0] == '{') {
      for (std::size_t i = 0; i + 1 < strings.size(); ++i) CheckSource(folder, strings[i], line, !preinstalled);
    } else {
      CheckSource(folder, strings[0], line, !preinstalled);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tarvik;
  fuzz::ResetScratch();
  const std::span<const std::uint8_t> bytes(data, size);
  const model::Package package = Parse(bytes, "input.sis");
  if (package.generation != model::Generation::Sis9 || !package.controllerRead) return 0;
  const views::PackageView view = views::Describe(package, {});
  const std::string out = fuzz::Scratch().out + "/";
  extract::Result result;
  if (!view.files.empty() && !package.stub &&
      !extract::PlanExtraction(bytes, package.generation, view.files, out).TooMuch()) {
    tarvik::extract::QuietReporter quiet;
    result = extract::ExtractAll(bytes, package.generation, view.files, out, quiet);
  }
  std::vector<bool> written(view.files.size(), false);
  for (const extract::WrittenFile& w : result.written)
    if (w.row < written.size()) written[w.row] = true;
  for (const views::RebuildScript& s : views::RebuildScripts(package, view, &written)) CheckScript(out, s);
  return 0;
}
