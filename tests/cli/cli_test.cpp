// Runs the tarvik-cli program as a user would.
#include <gtest/gtest.h>
#include <algorithm>
#include <string>

#include "support/sis9_writer.hpp"
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

// A package read without a script is a failure, and the message says why.
TEST(Cli, PkgWithoutAScriptFails) {
  test::TempDir dir;
  const Bytes whole = test::sis9w::Build(test::sis9w::Controller{});
  Bytes corrupt = whole;
  ASSERT_GT(corrupt.size(), 90u);
  std::fill(corrupt.begin() + 70, corrupt.begin() + 90, std::uint8_t{0xFF});  // inside the controller's zlib stream
  Bytes cut = whole;
  cut.resize(40);
  struct Case {
    const char* name;
    Bytes bytes;
    const char* why;
  };
  for (const Case& c : {Case{"corrupt.sis", corrupt, ": its controller could not be inflated ("},
                        Case{"cut.sis", cut, ": could not read controller at "}}) {
    SCOPED_TRACE(c.name);
    const std::string file = dir.Write(c.name, c.bytes);
    const test::CliResult r = RunCli("pkg '" + file + "'", dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("tarvik-cli: no PKG script for " + file + c.why), std::string::npos) << r.err;
  }
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

// Only the command named is made with its options; every command still lists and takes them.
TEST(Cli, EachCommandKeepsItsOptions) {
  test::TempDir dir;
  const test::CliResult help = RunCli("--help", dir);
  const std::pair<const char*, const char*> kCases[] = {
      {"pkg", "--source-dir"}, {"info", "--json"},   {"extract", "--certs"}, {"save", "--force"},
      {"catalog", "--db"},     {"build", "--search"}, {"sign", "--passphrase"}, {"unsign", "OUT"},
      {"keys", "--subject"}};
  for (const auto& [command, option] : kCases) {
    SCOPED_TRACE(command);
    EXPECT_NE(help.out.find(std::string("\n  ") + command + " "), std::string::npos);
    const test::CliResult own = RunCli(std::string(command) + " --help", dir);
    EXPECT_EQ(own.status, 0);
    EXPECT_NE(own.out.find(option), std::string::npos) << own.out;
  }
  // Options come before or after the command's own arguments; a second command is no command.
  EXPECT_EQ(RunCli("--help pkg", dir).status, 0);
  EXPECT_NE(RunCli("pkg info x.sis --frob", dir).status, 0);
}

}  // namespace
}  // namespace tarvik
