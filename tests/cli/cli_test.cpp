// Runs the tarvik-cli program as a user would.
#include <gtest/gtest.h>
#include <string>

#include "support/test_env.hpp"

namespace tarvik {
namespace {

using test::RunCli;

TEST(Cli, PkgPrintsTheScriptByteForByte) {
  test::TempDir dir;
  const std::string ascii = "&EN\r\n#{\"Demo\"},(0x10000001),1,0,0\r\n\r\n\"a.txt\"-\"!:\\a.txt\"\r\n";
  const test::CliResult r = RunCli("pkg '" + dir.Write("x.pkg", ascii) + "'", dir);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, ascii);
  EXPECT_EQ(r.err, "");
  // A Windows-1252 script comes out as UTF-8.
  const test::CliResult w = RunCli("pkg '" + dir.Write("w.pkg", "caf\xE9\r\n") + "'", dir);
  EXPECT_EQ(w.out, "caf\xC3\xA9\r\n");
}

TEST(Cli, UsageErrorsAndMissingFiles) {
  test::TempDir dir;
  EXPECT_NE(RunCli("", dir).status, 0);
  EXPECT_NE(RunCli("frobnicate x", dir).status, 0);
  const test::CliResult missing = RunCli("pkg '" + (dir / "nope.sis") + "'", dir);
  EXPECT_NE(missing.status, 0);
  EXPECT_NE(missing.err.find("cannot read"), std::string::npos);
  const test::CliResult version = RunCli("--version", dir);
  EXPECT_EQ(version.status, 0);
  EXPECT_NE(version.out.find("tarvik-cli "), std::string::npos);
  const test::CliResult help = RunCli("--help", dir);
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("extract"), std::string::npos);
}

}  // namespace
}  // namespace tarvik
