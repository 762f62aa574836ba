// Destinations that would leave the extraction folder are refused; the rest still extract.

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "extract/safe_path.hpp"
#include "extract_fixture.hpp"

namespace tarvik::test {
namespace {

namespace fs = std::filesystem;

struct PathCase {
  const char* path;
  std::vector<std::string> parts;  // empty: refused
};

class SafeComponentsTest : public ::testing::TestWithParam<PathCase> {};

TEST_P(SafeComponentsTest, SplitsOrRefuses) {
  const auto& c = GetParam();
  const auto got = extract::SafeComponents(c.path);
  if (c.parts.empty()) {
    EXPECT_FALSE(got) << c.path;
  } else {
    ASSERT_TRUE(got) << c.path;
    EXPECT_EQ(*got, c.parts);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SafeComponentsTest,
    ::testing::Values(PathCase{"bin\\pkg\\sys\\bin\\a.exe", {"bin", "pkg", "sys", "bin", "a.exe"}},
                      PathCase{"bin\\pkg\\\\sys\\a.txt", {"bin", "pkg", "sys", "a.txt"}},
                      PathCase{"bin/pkg/a.txt", {"bin", "pkg", "a.txt"}},
                      PathCase{"bin\\p\\!:x\\..a\\a..", {"bin", "p", "!:x", "..a", "a.."}},
                      PathCase{"bin\\Embedded Components\\N (2)\\f", {"bin", "Embedded Components", "N (2)", "f"}},
                      PathCase{"", {}}, PathCase{"..\\evil.txt", {}}, PathCase{"bin\\..\\..\\evil.txt", {}},
                      PathCase{"bin\\.\\x.txt", {}}, PathCase{"bin\\p\\..", {}}, PathCase{"\\etc\\passwd", {}},
                      PathCase{"/etc/passwd", {}}, PathCase{"C:\\x.txt", {}}, PathCase{"c:x.txt", {}},
                      PathCase{"bin\\p\\a\x01.txt", {}}, PathCase{"bin\\p\\a\nb", {}}, PathCase{"bin\\p\\a\x7F", {}},
                      PathCase{"bin\\p\\", {}}, PathCase{"bin\\p/", {}}, PathCase{"\\\\", {}}),
    [](const auto& info) { return "Case" + std::to_string(info.index); });

// Unsafe names in a 9.x table: each refused and reported, nothing written outside.
class UnsafeDestinationTest : public ExtractSis9Test, public ::testing::WithParamInterface<const char*> {};

TEST_P(UnsafeDestinationTest, IsRefusedAndReported) {
  AddStored(GetParam(), "evil");
  AddStored("bin\\d\\good.txt", "good");
  Load(pkg.bytes, 1);
  // The extraction folder lies two levels down so that ".." escapes stay inside the test.
  const std::string deep = out + "/a/b";
  fs::create_directories(deep);
  Extract(deep);

  EXPECT_EQ(ReadFile(deep + "/bin/d/good.txt"), "good");
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].text.rfind("Error while cutting ", 0), 0u);
  EXPECT_EQ(ui.messages[0].severity, ops::Severity::Error);
  // Nowhere in the test's folder is there a file holding "evil".
  for (const auto& e : fs::recursive_directory_iterator(dir.Path())) {
    if (e.is_regular_file()) {
      EXPECT_NE(ReadFile(e.path().string()), "evil") << e.path();
    }
  }
  EXPECT_EQ(resultText, std::string(extract::kResultHead) + deep + "/bin\r\n\r\ngood.txt\r\n");
}

INSTANTIATE_TEST_SUITE_P(Names, UnsafeDestinationTest,
                         ::testing::Values("..\\escape.txt", "bin\\..\\..\\..\\escape.txt", "..\\..\\b\\x.txt",
                                           "bin\\.\\dot.txt", "\\abs.txt", "/abs.txt", "C:\\drive.txt",
                                           "c:drive.txt", "bin\\ctl\x01.txt", "bin\\d\\", "bin\\d\\trailing\\"),
                         [](const auto& info) { return "Case" + std::to_string(info.index); });

TEST_F(ExtractSis9Test, FolderThroughASymbolicLinkIsRefused) {
  const std::string outside = dir / "outside";
  fs::create_directories(outside);
  fs::create_directories(out + "/bin");
  fs::create_directory_symlink(outside, out + "/bin/link");
  AddStored("bin\\link\\sub\\x.txt", "evil");
  Load(pkg.bytes, 1);
  Extract();
  EXPECT_TRUE(fs::is_empty(outside));
  EXPECT_EQ(ui.MessageTexts(), std::vector<std::string>{"Error while cutting " + Written("bin\\link\\sub\\x.txt") +
                                                      ": the path leads through a symbolic link"});
}

TEST_F(ExtractSis9Test, FileThatIsASymbolicLinkIsLeftAlone) {
  const std::string target = dir.Write("outside.txt", "keep me");
  fs::create_directories(out + "/bin/d");
  fs::create_symlink(target, out + "/bin/d/x.txt");
  AddStored("bin\\d\\x.txt", "evil");
  Load(pkg.bytes, 1);
  ui.existingDefault = {ops::ExistingChoice::Overwrite, true};  // replacing is allowed
  Extract();
  EXPECT_EQ(ReadFile(target), "keep me");
  EXPECT_TRUE(fs::is_symlink(out + "/bin/d/x.txt"));
  EXPECT_EQ(ui.messages.size(), 1u);
}

TEST_F(ExtractSis9Test, HardLinkedFileIsReplacedNotWrittenThrough) {
  const std::string target = dir.Write("outside.txt", "keep me");
  fs::create_directories(out + "/bin/d");
  fs::create_hard_link(target, out + "/bin/d/x.txt");
  AddStored("bin\\d\\x.txt", "new!");
  Load(pkg.bytes, 1);
  ui.existingDefault = {ops::ExistingChoice::Overwrite, true};  // replacing is allowed
  Extract();
  EXPECT_EQ(ReadFile(target), "keep me");
  EXPECT_EQ(ReadFile(out + "/bin/d/x.txt"), "new!");
}

TEST_F(ExtractTest, BinAsASymbolicLinkRefusesEverything) {
  const std::string outside = dir / "outside";
  fs::create_directories(outside);
  fs::create_directory_symlink(outside, out + "/bin");
  PackageBytes pkg;
  const auto at = pkg.Add("evil");
  views::FileRow r;
  r.extractPath = "bin\\P\\x.txt";
  r.uncompressedSize = r.compressedSize = 4;
  r.offset = at;
  r.hasData = true;
  Rows().push_back(r);
  Load(pkg.bytes, 0);  // no pre-9.x header: stored copies
  Extract();
  EXPECT_TRUE(fs::is_empty(outside));
  EXPECT_EQ(ui.MessageTexts(), std::vector<std::string>{"Error while extracting " + Written("bin\\P\\x.txt") +
                                                      ": the path leads through a symbolic link"});
}

TEST(OutputFileTest, AbortLeavesNothingAndCommitReplaces) {
  TempDir dir;
  const auto base = extract::FolderHandle::Open(dir.Path());
  ASSERT_TRUE(base.Valid());
  {
    extract::OutputFile f;
    ASSERT_TRUE(f.Open(base, "a\\b\\c.txt"));
    ASSERT_TRUE(f.Write(reinterpret_cast<const std::uint8_t*>("xyz"), 3));
    f.Abort();
  }
  EXPECT_TRUE(fs::is_empty(dir / "a/b"));
  {
    extract::OutputFile f;
    ASSERT_TRUE(f.Open(base, "a\\b\\c.txt"));
    ASSERT_TRUE(f.Write(reinterpret_cast<const std::uint8_t*>("xyz"), 3));
  }  // dropped without Commit
  EXPECT_TRUE(fs::is_empty(dir / "a/b"));
  extract::OutputFile f;
  ASSERT_TRUE(f.Open(base, "a\\b\\c.txt"));
  ASSERT_TRUE(f.Write(reinterpret_cast<const std::uint8_t*>("xyz"), 3));
  ASSERT_TRUE(f.Commit());
  EXPECT_EQ(ReadFile(dir / "a/b/c.txt"), "xyz");
  EXPECT_FALSE(f.Open(base, "a\\b"));  // a folder stands there
}

// The names standing in `folder`.
std::vector<std::string> Names(const std::string& folder) {
  std::vector<std::string> out;
  for (const auto& e : fs::directory_iterator(folder)) out.push_back(e.path().filename().string());
  std::sort(out.begin(), out.end());
  return out;
}

// Whether the file system of `folder` can make unnamed files.
bool HasUnnamedFiles(const std::string& folder) {
  const int fd = open(folder.c_str(), O_RDWR | O_TMPFILE | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  close(fd);
  return true;
}

// A file appears under its name only when complete, whichever way it is written: a small
// one as an unnamed file (nothing at all shows while it is written), a large one, or any
// once unnamed files are off, under a part name. A file written twice keeps the second
// content, and a dropped file leaves nothing.
TEST(OutputFileTest, AppearsOnlyWhenCompleteAndLeavesNothingWhenDropped) {
  struct Case {
    const char* name;
    std::size_t size;
    bool unnamedOff;
    bool expectUnnamed;
  };
  const Case cases[] = {{"small", 100, false, true},
                        {"empty", 0, false, true},
                        {"small, unnamed off", 100, true, false},
                        {"large", extract::OutputFile::kUnnamedLimit + 1, false, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const bool unnamedHere = HasUnnamedFiles(dir.Path());
    extract::Destination destination(dir.Path());
    if (c.unnamedOff) destination.NoUnnamedFiles();
    ASSERT_TRUE(destination.MakeFolders("bin\\d\\x.bin"));
    const std::string folder = dir / "bin/d";
    for (const char fill : {'1', '2'}) {
      const std::string bytes(c.size, fill);
      extract::OutputFile f;
      ASSERT_TRUE(f.Open(destination, "bin\\d\\x.bin", bytes.size()));
      ASSERT_TRUE(f.Write(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
      EXPECT_EQ(f.Unnamed(), c.expectUnnamed && unnamedHere);
      const std::vector<std::string> during = Names(folder);
      if (f.Unnamed()) {
        // Nothing new shows: the name holds the earlier content, or is absent.
        EXPECT_EQ(during, fill == '1' ? std::vector<std::string>{} : std::vector<std::string>{"x.bin"});
      } else {
        ASSERT_EQ(during.size(), fill == '1' ? 1u : 2u);
        EXPECT_EQ(during[0].rfind(".tarvik-", 0), 0u) << during[0];
      }
      if (fill == '2') {
        EXPECT_EQ(ReadFile(folder + "/x.bin"), std::string(c.size, '1'));
      }
      ASSERT_TRUE(f.Commit());
      EXPECT_EQ(Names(folder), std::vector<std::string>{"x.bin"});
      EXPECT_EQ(ReadFile(folder + "/x.bin"), bytes);
    }
    {
      extract::OutputFile dropped;
      ASSERT_TRUE(dropped.Open(destination, "bin\\d\\y.bin", c.size));
      ASSERT_TRUE(dropped.Write(reinterpret_cast<const std::uint8_t*>("abc"), 3));
    }
    EXPECT_EQ(Names(folder), std::vector<std::string>{"x.bin"});
  }
}

// More folders than the destination keeps open, visited back and forth: every file lands
// in its own folder, and a folder met again is not taken for someone else's.
TEST(DestinationTest, ManyFoldersVisitedAgainGetTheirFiles) {
  TempDir dir;
  extract::Destination destination(dir.Path());
  constexpr int kFolders = 300;
  for (const char* file : {"a.txt", "b.txt"}) {
    for (int i = 0; i < kFolders; ++i) {
      const std::string relative = "bin\\p\\" + std::to_string(i % 7) + "\\" + std::to_string(i) + "\\" + file;
      const std::string text = std::to_string(i) + file;
      extract::OutputFile f;
      ASSERT_TRUE(destination.MakeFolders(relative));
      ASSERT_TRUE(f.Open(destination, relative, text.size())) << relative;
      ASSERT_TRUE(f.Write(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
      ASSERT_TRUE(f.Commit());
    }
  }
  for (int i = 0; i < kFolders; ++i) {
    const std::string folder = dir / ("bin/p/" + std::to_string(i % 7) + "/" + std::to_string(i));
    EXPECT_EQ(Names(folder), (std::vector<std::string>{"a.txt", "b.txt"})) << folder;
    EXPECT_EQ(ReadFile(folder + "/b.txt"), std::to_string(i) + "b.txt");
  }
}

}  // namespace
}  // namespace tarvik::test
