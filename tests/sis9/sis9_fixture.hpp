#pragma once
// Packages made by the 9.x writer, read from memory: the model and its view on their own,
// or opened by an application wired to temporary folders when the messages and scratch
// files matter.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bytes/inflate.hpp"
#include "parse/parse.hpp"
#include "window/commands.hpp"
#include "support/fake_ui.hpp"
#include "support/sis9_writer.hpp"
#include "support/test_env.hpp"
#include "views/views.hpp"

namespace tarvik::test {

namespace w = sis9w;

// The script's lines (split at CR LF).
inline std::vector<std::string> ScriptLines(const std::string& t) {
  std::vector<std::string> out;
  std::size_t start = 0;
  for (std::size_t at; (at = t.find("\r\n", start)) != std::string::npos; start = at + 2)
    out.push_back(t.substr(start, at - start));
  out.push_back(t.substr(start));
  return out;
}

// The main section's lines after the vendor names, up to and including its closing "  "
// line.
inline std::vector<std::string> BodyLines(const std::string& script) {
  std::vector<std::string> out;
  bool on = false;
  for (const std::string& s : ScriptLines(script)) {
    if (on) {
      out.push_back(s);
      if (s == "  ") break;
    }
    if (!on && s.rfind("%{", 0) == 0) on = true;
  }
  return out;
}

// The bytes a file row stands for, as extraction takes them from the package; "<none>"
// when the package carries none, "<outside>" or "<corrupt>" when they cannot be had.
inline std::string RowData(const Bytes& bytes, const views::FileRow& r) {
  if (!r.hasData) return "<none>";
  if (r.offset < 0 || static_cast<std::uint64_t>(r.offset) > bytes.size() ||
      r.compressedSize > bytes.size() - static_cast<std::uint64_t>(r.offset))
    return "<outside>";
  const std::uint8_t* at = bytes.data() + r.offset;
  if (r.deflated) {
    Bytes out;
    if (Uncompress(at, static_cast<std::size_t>(r.compressedSize), r.uncompressedSize, out) != zstatus::Ok)
      return "<corrupt>";
    return std::string(out.begin(), out.end());
  }
  return std::string(at, at + r.compressedSize);
}

// A package read from bytes and its view. The view's rows point into the package, so a
// Viewed stays where it was made.
struct Viewed {
  explicit Viewed(Bytes data, const std::string& name = "pkg.sis", const std::string& sourceFolder = "")
      : bytes(std::move(data)), package(Parse(bytes, name)), view(views::Describe(package, {sourceFolder})) {}
  explicit Viewed(const w::Controller& c, const w::PackageOptions& o = {}, const std::string& name = "pkg.sis")
      : Viewed(w::Build(c, o), name) {}
  Viewed(const Viewed&) = delete;
  Viewed& operator=(const Viewed&) = delete;

  std::vector<std::string> Lines() const { return ScriptLines(view.script); }
  std::vector<std::string> Body() const { return BodyLines(view.script); }
  std::string Data(const views::FileRow& r) const { return RowData(bytes, r); }

  Bytes bytes;
  model::Package package;
  views::PackageView view;
};

// An application opening packages from memory, for what it shows and writes.
struct Sis9Fixture : ::testing::Test {
  FakeUi ui;
  TempDir dir;
  window::Commands app{ui, TestPlatform(dir)};

  void SetUp() override { app.Form_Load(); }

  // Opens the bytes as a file named `name`; returns the script.
  std::string Open(const Bytes& bytes, const std::string& name = "pkg.sis") {
    app.OpenBytes(dir / name, bytes);
    return ui.text;
  }
  std::string Open(const w::Controller& c, const w::PackageOptions& o = {}, const std::string& name = "pkg.sis") {
    return Open(w::Build(c, o), name);
  }

  std::vector<std::string> Lines() const { return ScriptLines(ui.text); }
  std::vector<std::string> Body() const { return BodyLines(ui.text); }
  const std::vector<std::string>& Header() const { return test::ViewOf(app).header; }
  const std::vector<views::FileRow>& Files() const { return test::ViewOf(app).files; }
};

using sis9w::TextFile;

}  // namespace tarvik::test
