// tarvik-cli extract: writes the files and prints the list of what it wrote.

#include <gtest/gtest.h>

#include <filesystem>

#include "support/sis_old_writer.hpp"
#include "support/test_env.hpp"

namespace tarvik::test {
namespace {

TEST(CliExtract, WritesAndListsTheFiles) {
  TempDir dir;
  OldPackage p;
  p.records = {OldFile("c:\\src\\a.txt", "!:\\system\\apps\\demo\\a.txt", "first file"),
               OldFile("c:\\src\\b.dat", "!:\\system\\apps\\demo\\b.dat", std::string(5000, 'b'))};
  const std::string pkg = dir.Write("demo.sis", BuildOldSis(p));
  const std::string out = dir / "out";
  std::filesystem::create_directories(out);
  const CliResult r = RunCli("extract --quiet '" + pkg + "' '" + out + "'", dir);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_NE(r.out.find("a.txt\nb.dat\n"), std::string::npos) << r.out;
  EXPECT_EQ(ReadFile(out + "/bin/demo/system/apps/demo/a.txt"), "first file");
  EXPECT_EQ(ReadFile(out + "/bin/demo/system/apps/demo/b.dat"), std::string(5000, 'b'));
}

TEST(CliExtract, MakesAMissingDestinationFolder) {
  TempDir dir;
  OldPackage p;
  p.records = {OldFile("c:\\src\\a.txt", "!:\\a.txt", "only")};
  const std::string pkg = dir.Write("one.sis", BuildOldSis(p));
  const CliResult r = RunCli("extract --quiet '" + pkg + "' '" + (dir / "new/deeper") + "'", dir);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadFile(dir / "new/deeper/bin/one/a.txt"), "only");
}

}  // namespace
}  // namespace tarvik::test
