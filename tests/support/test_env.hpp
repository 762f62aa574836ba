#pragma once
// Temporary folders, an App wired to them, and access to the shared corpus.

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bytes/file_buffer.hpp"
#include "window/commands.hpp"
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

// What the window's commands hold open (empty or nothing when nothing is open).
const views::PackageView& ViewOf(const window::Commands& app);
std::shared_ptr<const model::Package> PackageOf(const window::Commands& app);
int FileCountOf(const window::Commands& app);
std::string TextOf(const window::Commands& app);
model::Generation KindOf(const window::Commands& app);
bool IsStubOf(const window::Commands& app);
Bytes BytesOf(const window::Commands& app);
std::string CarriedOf(const window::Commands& app);

// Extracts every file of what `app` has open into `folder` as the window does (the folder
// dialog answered with it), telling the report's messages to `ui`; `text` is the list of
// what was written.
struct Extraction {
  ops::ExtractJob job;
  ops::ExtractReport report;
  std::string text;
};
Extraction ExtractThroughMenu(window::Commands& app, FakeUi& ui, const std::string& folder,
                              bool rebuildScripts = false);

// Opens `path` through the Open command of `app` (answering the dialog with it).
void OpenThroughMenu(window::Commands& app, FakeUi& ui, const std::string& path);

}  // namespace tarvik::test

// Skips the current test when ../shared is absent (a fresh clone has no corpus).
#define TARVIK_REQUIRE_SHARED()                                    \
  do {                                                             \
    if (!::tarvik::test::SharedDir()) GTEST_SKIP() << "no ../shared"; \
  } while (0)
