#pragma once
// An application wired to temporary folders, opening packages made by the 9.x writer.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "shell/app.hpp"
#include "support/fake_ui.hpp"
#include "support/sis9_writer.hpp"
#include "support/test_env.hpp"
#include "sis9/model_diff.hpp"

namespace tarvik::test {

namespace w = sis9w;

struct Sis9Fixture : ::testing::Test {
  FakeUi ui;
  TempDir dir;
  App app{ui, TestPlatform(dir)};
  std::string path;

  void SetUp() override { app.Form_Load(); }

  // Opens the bytes through the Open command as a file named `name`; returns the script.
  std::string Open(const Bytes& bytes, const std::string& name = "pkg.sis") {
    path = dir.Write(name, bytes);
    const std::size_t before = ui.messages.size();
    OpenThroughMenu(app, ui, path);
    ExpectModelMatchesLegacy(app, ui, before, bytes, path);
    return ui.text;
  }
  std::string Open(const w::Controller& c, const w::PackageOptions& o = {}, const std::string& name = "pkg.sis") {
    return Open(w::Build(c, o), name);
  }

  // The script's lines (split at CR LF).
  std::vector<std::string> Lines() const {
    std::vector<std::string> out;
    const std::string& t = ui.text;
    std::size_t start = 0;
    for (std::size_t at; (at = t.find("\r\n", start)) != std::string::npos; start = at + 2)
      out.push_back(t.substr(start, at - start));
    out.push_back(t.substr(start));
    return out;
  }
  // The PKG line table's lines.
  std::vector<std::string> PkgRows() const {
    std::vector<std::string> out;
    for (const Row& r : app.stores.ListView7) out.push_back(r.Get(1));
    return out;
  }
  // PKG line table rows from the first one that starts with `from` (markers and header
  // rows left out by starting there).
  std::vector<std::string> BodyRows(const std::string& from = "%{") const {
    std::vector<std::string> all = PkgRows(), out;
    bool on = false;
    for (const std::string& s : all) {
      if (on) out.push_back(s);
      if (!on && s.rfind(from, 0) == 0) on = true;
    }
    return out;
  }
  std::vector<std::string> Header() const { return app.stores.List1.Lines(); }
  const RecordTable& FileTable() const { return app.stores.ListView1; }
};

inline w::File TextFile(const std::string& target, const std::string& content, bool deflate = false) {
  w::File f;
  f.target = target;
  f.data.assign(content.begin(), content.end());
  f.deflate = deflate;
  return f;
}

}  // namespace tarvik::test
