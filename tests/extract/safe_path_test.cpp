// Destinations that would leave the extraction folder are refused; the rest still extract.

#include <unistd.h>

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
  EXPECT_EQ(ui.messages[0].style, msg::Critical);
  // Nowhere in the test's folder is there a file holding "evil".
  for (const auto& e : fs::recursive_directory_iterator(dir.Path())) {
    if (e.is_regular_file()) {
      EXPECT_NE(ReadFile(e.path().string()), "evil") << e.path();
    }
  }
  EXPECT_EQ(ui.resultText, std::string(extract::kResultHead) + deep + "/bin\r\n\r\ngood.txt\r\n");
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

}  // namespace
}  // namespace tarvik::test
