// pkg, info and extract over several files: a section or a folder each, one exit status.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/sis9_writer.hpp"
#include "support/sis_old_writer.hpp"
#include "support/test_env.hpp"

namespace tarvik {
namespace {

using test::RunCli;

TEST(CliSeveralFiles, PkgAndInfoGiveASectionPerFile) {
  test::TempDir dir;
  const std::string a = dir.Write("a.sis", test::sis9w::Build({}));
  const std::string b = dir.Write("b.sis", test::BuildOldSis({}));
  for (const char* command : {"pkg", "info"}) {
    SCOPED_TRACE(command);
    const test::CliResult one = RunCli(std::string(command) + " '" + b + "'", dir);
    const test::CliResult both = RunCli(std::string(command) + " '" + a + "' '" + b + "'", dir);
    EXPECT_EQ(both.status, 0);
    const std::size_t first = both.out.find("==> " + a + " <==\n");
    const std::size_t second = both.out.find("\n==> " + b + " <==\n");
    ASSERT_EQ(first, 0u);
    ASSERT_NE(second, std::string::npos);
    // Each section is what the file alone gives.
    EXPECT_EQ(both.out.substr(second + b.size() + 10), one.out);
  }
}

TEST(CliSeveralFiles, ExtractIntoAFolderPerFileWithTheWorstStatus) {
  test::TempDir dir;
  test::sis9w::Controller c;
  c.files = {test::sis9w::TextFile("!:\\data\\a.txt", "alpha")};
  const std::string a = dir.Write("one/pkg.sis", test::sis9w::Build(c));
  const std::string same = dir.Write("two/PKG.sis", test::sis9w::Build(c));  // the same name, another folder
  const std::string out = dir / "out";
  const test::CliResult ok = RunCli("extract -q '" + a + "' '" + same + "' '" + out + "'", dir);
  EXPECT_EQ(ok.status, 0) << ok.err;
  EXPECT_EQ(test::ReadFile(out + "/pkg.sis/bin/pkg/data/a.txt"), "alpha");
  EXPECT_EQ(test::ReadFile(out + "/PKG.sis (2)/bin/PKG/data/a.txt"), "alpha");

  // A missing file fails the run, and the others are still extracted.
  const std::string out2 = dir / "out2";
  const test::CliResult partly = RunCli("extract -q '" + (dir / "none.sis") + "' '" + a + "' '" + out2 + "'", dir);
  EXPECT_EQ(partly.status, 2);
  EXPECT_NE(partly.err.find("none.sis"), std::string::npos);
  EXPECT_EQ(test::ReadFile(out2 + "/pkg.sis/bin/pkg/data/a.txt"), "alpha");

  // One file keeps its old place: straight into DIR.
  const std::string out3 = dir / "out3";
  EXPECT_EQ(RunCli("extract -q '" + a + "' '" + out3 + "'", dir).status, 0);
  EXPECT_EQ(test::ReadFile(out3 + "/bin/pkg/data/a.txt"), "alpha");
}

}  // namespace
}  // namespace tarvik
