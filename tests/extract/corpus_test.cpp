// Real packages: every corpus package that carries files extracts completely; files whose
// source is known come out byte for byte, 9.x files match the hashes their package gives.

#include <filesystem>
#include <algorithm>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>

#include "extract_fixture.hpp"
#include "script_files.hpp"

namespace tarvik::test {
namespace {

namespace fs = std::filesystem;

struct CorpusEntry {
  std::string file;        // relative to corpus/
  std::string generation;  // "9.x", "9.x-stub", "pre-9.x"
  std::string note;
  std::string problems;
};

std::vector<CorpusEntry> Manifest(const std::string& /*shared*/) {
  std::vector<CorpusEntry> out;
  for (auto& row : CorpusManifest()) out.push_back({row["file"], row["generation"], row["note"], row["problems"]});
  return out;
}

// Opens a corpus package and extracts it into a fresh folder.
struct Extracted {
  FakeUi ui;
  TempDir dir;
  window::Commands app{ui, TestPlatform(dir)};
  std::string out = dir / "out";

  explicit Extracted(const std::string& path) {
    app.Form_Load();
    fs::create_directories(out);
    // The extraction folder is the Working Directory: the script's sources point into it.
    ui.folderAnswers.push_back(out);
    app.mnWD_Click();
    OpenThroughMenu(app, ui, path);
    opened = ui.messages.size();
    if (!app.mnFile_Click().extract) return;
    extraction = ExtractThroughMenu(app, ui, out);
  }
  // Messages of the extraction alone.
  std::vector<std::string> ExtractMessages() const {
    std::vector<std::string> m;
    for (std::size_t i = opened; i < ui.messages.size(); ++i) m.push_back(ui.messages[i].text);
    return m;
  }
  std::string Path(const std::string& packagePath) const { return out + "/" + ToNative(packagePath); }
  std::size_t opened = 0;
  Extraction extraction;
};

// Every package file of the corpus, the manifest's facts beside it where it has them.
std::vector<CorpusEntry> Packages(const std::string& shared) {
  std::map<std::string, CorpusEntry> known;
  for (auto& e : Manifest(shared)) known[e.file] = e;
  std::vector<CorpusEntry> out;
  const fs::path root = fs::path(shared) / "corpus";
  for (const auto& f : fs::recursive_directory_iterator(root)) {
    if (!f.is_regular_file()) continue;
    const std::string ext = ToLower(f.path().extension().string());
    if (ext != ".sis" && ext != ".sisx") continue;
    const std::string rel = fs::relative(f.path(), root).string();
    auto it = known.find(rel);
    out.push_back(it != known.end() ? it->second : CorpusEntry{rel, "", "", ""});
  }
  std::sort(out.begin(), out.end(), [](const auto& a, const auto& b) { return a.file < b.file; });
  return out;
}

TEST(CorpusExtractTest, PreNinePackagesExtractEveryFile) {
  TARVIK_REQUIRE_SHARED();
  const std::string shared = *SharedDir();
  const std::string sources = shared + "/corpus/made/old";
  int packages = 0, compared = 0;
  for (const auto& e : Packages(shared)) {
    SCOPED_TRACE(e.file);
    Extracted x(shared + "/corpus/" + e.file);
    if (test::KindOf(x.app) != model::Generation::Pre9) continue;
    const auto& table = test::ViewOf(x.app).files;
    ASSERT_FALSE(table.empty());
    ++packages;
    EXPECT_TRUE(x.ExtractMessages().empty()) << ::testing::PrintToString(x.ExtractMessages());
    EXPECT_EQ(x.extraction.text.empty(), false);
    for (const views::FileRow& row : table) {
      const std::string path = x.Path(row.extractPath);
      if (row.compressedSize == 0) {
        EXPECT_FALSE(fs::exists(path)) << path;
        continue;
      }
      ASSERT_TRUE(fs::is_regular_file(path)) << path;
      EXPECT_EQ(fs::file_size(path), row.deflated ? row.uncompressedSize : row.compressedSize) << path;
      // Files made for the corpus from known sources: byte for byte.
      const std::string name = fs::path(ToNative(row.extractPath)).filename().string();
      for (const std::string& candidate : {sources + "/files/" + name, sources + "/" + name}) {
        if (e.file.rfind("made/old/", 0) == 0 && fs::is_regular_file(candidate)) {
          EXPECT_EQ(ReadFile(path), ReadFile(candidate)) << path;
          ++compared;
        }
      }
    }
  }
  EXPECT_GE(packages, 10);
  EXPECT_GT(compared, 10);
  std::cout << packages << " pre-9.x packages extracted, " << compared << " files compared with their sources\n";
}

bool Malformed(const CorpusEntry& e) {
  return !e.problems.empty() || e.note.find("malformed") != std::string::npos;
}

TEST(CorpusExtractTest, NineXPackagesExtractMatchingTheirHashes) {
  TARVIK_REQUIRE_SHARED();
  const std::string shared = *SharedDir();
  int packages = 0, embedded = 0;
  std::size_t files = 0, sources = 0;
  for (const auto& e : Packages(shared)) {
    SCOPED_TRACE(e.file);
    Extracted x(shared + "/corpus/" + e.file);
    if (test::KindOf(x.app) != model::Generation::Sis9 || test::IsStubOf(x.app) || Malformed(e)) continue;
    const auto& table = test::ViewOf(x.app).files;
    if (table.empty()) continue;
    ++packages;
    EXPECT_EQ(x.extraction.text.find(extract::kHashMismatchMark), std::string::npos) << x.extraction.text;
    std::vector<std::string> expectedMessages;
    // Variants of one file (per language, say) share a target and so an extraction path:
    // the last one written is on disk.
    std::map<std::string, const views::FileRow*> last;
    for (const views::FileRow& row : table) last[row.extractPath] = &row;
    // A pre-installed package carries no file data (its files are on the device): said
    // once, nothing written.
    const model::Package& pkg = *test::PackageOf(x.app);
    if (pkg.installType == 3 || pkg.installType == 4) expectedMessages.push_back(extract::kNoFileData);
    for (const views::FileRow& row : table) {
      const std::string path = x.Path(row.extractPath);
      if (!row.hasData) {
        EXPECT_FALSE(fs::exists(path)) << path;
        continue;
      }
      ASSERT_TRUE(fs::is_regular_file(path)) << path;
      if (last[row.extractPath] != &row) continue;
      EXPECT_EQ(fs::file_size(path), row.uncompressedSize) << path;
      EXPECT_TRUE(row.sha1 || !row.entry || row.entry->hash.empty()) << path;
      ++files;
      if (row.extractPath.find("\\Embedded Components\\") != std::string::npos) ++embedded;
    }
    EXPECT_EQ(x.ExtractMessages(), expectedMessages);

    // The script and the extracted files belong together.
    const auto missing = MissingSources(x.ui.text);
    sources += missing.checked;
    if (expectedMessages.empty()) {
      EXPECT_TRUE(missing.names.empty()) << ::testing::PrintToString(missing.names);
    }
  }
  EXPECT_GE(packages, 40);
  EXPECT_GT(embedded, 0);
  std::cout << packages << " 9.x packages extracted: " << files << " files (" << embedded
            << " of embedded packages), " << sources << " script sources checked\n";
}

}  // namespace
}  // namespace tarvik::test
