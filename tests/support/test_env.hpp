#pragma once
// Temporary folders, an App wired to them, and access to the shared corpus.

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bytes/file_buffer.hpp"
#include "shell/app.hpp"
#include "support/fake_ui.hpp"

namespace tarvik::test {

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& Path() const { return path_; }
  // Path of a name inside the folder.
  std::string operator/(std::string_view name) const;
  // Writes a file inside the folder (creating parent folders) and returns its path.
  std::string Write(std::string_view name, std::string_view bytes) const;
  std::string Write(std::string_view name, const Bytes& bytes) const;

 private:
  std::string path_;
};

// A Platform whose data and temporary folders live inside `dir`.
Platform TestPlatform(const TempDir& dir);

// Reads a whole file (empty when missing).
std::string ReadFile(const std::string& path);
Bytes ReadBytes(const std::string& path);

// The shared folder beside the project, when it is there.
std::optional<std::string> SharedDir();

// The rows of the corpus manifest (corpus/MANIFEST.tsv), each a map from column name to
// cell; empty when the shared folder is absent.
using ManifestRow = std::map<std::string, std::string>;
std::vector<ManifestRow> CorpusManifest();

// Runs tarvik-cli with `args` (already quoted for the shell), with data and temporary
// folders inside `dir`; stdout and stderr are captured.
struct CliResult {
  int status = -1;
  std::string out;
  std::string err;
};
CliResult RunCli(const std::string& args, const TempDir& dir);

// Opens `path` through the Open command of `app` (answering the dialog with it).
void OpenThroughMenu(App& app, FakeUi& ui, const std::string& path);

}  // namespace tarvik::test

// Skips the current test when ../shared is absent (a fresh clone has no corpus).
#define TARVIK_REQUIRE_SHARED()                                    \
  do {                                                             \
    if (!::tarvik::test::SharedDir()) GTEST_SKIP() << "no ../shared"; \
  } while (0)
