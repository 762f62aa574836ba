#pragma once
// Pre-9.x packages made by the writer: read from memory into the model and its view, or
// opened by an App when what the window shows is the point.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "parse/parse.hpp"
#include "window/commands.hpp"
#include "support/fake_ui.hpp"
#include "support/sis_old_writer.hpp"
#include "support/test_env.hpp"
#include "views/views.hpp"

namespace tarvik::test {

inline const char* const kInternalErrorText =
    "Internal Error: No file buffer to open, please shut down Tarvik and start again";

inline std::vector<std::string> SplitCrLf(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t at; (at = text.find("\r\n", start)) != std::string::npos; start = at + 2)
    lines.push_back(text.substr(start, at - start));
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

// A package read from its bytes, and the view made of it with no Working Directory.
struct OldRead {
  model::Package package;
  views::PackageView view;

  std::vector<std::string> Lines() const { return SplitCrLf(view.script); }
  // The script after its head (banner, blank line, languages, component, then the
  // requisite and capability lines): the lines of the records, in script order.
  std::vector<std::string> Body() const {
    std::vector<std::string> lines = Lines();
    auto it = lines.begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(4, lines.size()));
    while (it != lines.end() && (it->rfind("(", 0) == 0 || it->rfind("+(", 0) == 0)) ++it;
    return {it, lines.end()};
  }
  bool Has(model::Problem::Kind kind) const {
    return std::any_of(package.problems.begin(), package.problems.end(),
                       [kind](const model::Problem& p) { return p.kind == kind; });
  }
  // The records that carry files (File and LanguageFiles), in file order.
  std::vector<const model::Record*> FileRecords() const {
    std::vector<const model::Record*> out;
    for (const model::Record& r : package.records)
      if (r.kind == model::Record::Kind::File || r.kind == model::Record::Kind::LanguageFiles) out.push_back(&r);
    return out;
  }
};

inline OldRead ReadOld(const Bytes& bytes, const std::string& name = "pkg.sis") {
  OldRead r;
  r.package = Parse(bytes, name);
  r.view = views::Describe(r.package, {});
  return r;
}
inline OldRead ReadOld(const OldPackage& pkg, const std::string& name = "pkg.sis") {
  return ReadOld(BuildOldSis(pkg), name);
}

// An App that opens packages from memory, for what the window shows: messages, the text
// area, dataMark and formatMarker.
class OldAppTest : public ::testing::Test {
 protected:
  void SetUp() override { app.Form_Load(); }

  // Opens the bytes as the file `name` and returns the text area.
  std::string Open(const Bytes& bytes, const std::string& name = "pkg.sis") {
    ui.messages.clear();
    app.OpenBytes(dir / name, bytes);
    return ui.text;
  }
  std::string Open(const OldPackage& pkg) { return Open(BuildOldSis(pkg)); }
  bool InternalError() const { return ui.HasMessage(kInternalErrorText); }

  FakeUi ui;
  TempDir dir;
  window::Commands app{ui, TestPlatform(dir)};
};

}  // namespace tarvik::test
