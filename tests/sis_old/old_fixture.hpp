#pragma once
// An application opened on packages made by the pre-9.x writer.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "shell/app.hpp"
#include "support/fake_ui.hpp"
#include "support/sis_old_writer.hpp"
#include "support/test_env.hpp"

namespace tarvik::test {

inline const char* const kInternalErrorText =
    "Internal Error: No file buffer to open, please shut down Tarvik and start again";

inline std::vector<std::string> SplitCrLf(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (;;) {
    std::size_t p = text.find("\r\n", start);
    if (p == std::string::npos) {
      if (start < text.size()) lines.push_back(text.substr(start));
      return lines;
    }
    lines.push_back(text.substr(start, p - start));
    start = p + 2;
  }
}

class OldPackageTest : public ::testing::Test {
 protected:
  void SetUp() override { app.Form_Load(); }

  // Writes the package and opens it through the Open command; returns the text area.
  std::string Open(const OldPackage& pkg, const std::string& name = "pkg.sis") {
    return OpenBytes(BuildOldSis(pkg), name);
  }
  std::string OpenBytes(const Bytes& bytes, const std::string& name = "pkg.sis") {
    const std::string path = dir.Write(name, bytes);
    OpenThroughMenu(app, ui, path);
    return ui.text;
  }
  // The body lines: everything after the head's component, requisite and capability lines.
  std::vector<std::string> Lines(const OldPackage& pkg) { return SplitCrLf(Open(pkg)); }
  // The body in script order, as the body list gives it last row first.
  std::vector<std::string> Body() const {
    std::vector<std::string> out;
    const auto& rows = app.stores.ListView3.Rows();
    for (auto it = rows.rbegin(); it != rows.rend(); ++it) out.push_back(it->Text());
    return out;
  }
  bool InternalError() const { return ui.HasMessage(kInternalErrorText); }

  FakeUi ui;
  TempDir dir;
  App app{ui, TestPlatform(dir)};
};

}  // namespace tarvik::test
