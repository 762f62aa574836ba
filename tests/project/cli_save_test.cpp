// tarvik-cli save: Save As by the name's ending, the overwrite question answered by --force.

#include <gtest/gtest.h>

#include <fstream>

#include "support/test_env.hpp"

namespace tarvik::test {
namespace {

const std::string kScript = "&EN\r\n#{\"Demo\"},(0x10000001),1,0,0\r\n\"a.txt\"-\"!:\\a.txt\"";

TEST(CliSave, TextAndSessionByTheEnding) {
  TempDir dir;
  const std::string in = dir.Write("in.pkg", kScript);
  EXPECT_EQ(RunCli("save '" + in + "' '" + (dir / "out.txt") + "'", dir).status, 0);
  EXPECT_EQ(ReadFile(dir / "out.txt"), kScript + "\r\n");

  EXPECT_EQ(RunCli("save '" + in + "' '" + (dir / "out.qsd") + "'", dir).status, 0);
  EXPECT_EQ(ReadFile(dir / "out.qsd").substr(0, 3), "QSD");
  // The session opens again to the same script.
  const CliResult back = RunCli("pkg '" + (dir / "out.qsd") + "'", dir);
  EXPECT_EQ(back.status, 0);
  EXPECT_EQ(back.out, kScript);
}

TEST(CliSave, ExistingFileNeedsForce) {
  TempDir dir;
  const std::string in = dir.Write("in.pkg", kScript);
  const std::string out = dir.Write("out.pkg", "old");
  const CliResult kept = RunCli("save '" + in + "' '" + out + "'", dir);
  EXPECT_EQ(ReadFile(out), "old");
  EXPECT_NE(kept.err.find(out + " already exists."), std::string::npos) << kept.err;
  EXPECT_EQ(RunCli("save --force '" + in + "' '" + out + "'", dir).status, 0);
  EXPECT_EQ(ReadFile(out), kScript + "\r\n");
}

TEST(CliSave, FailedWriteFails) {
  TempDir dir;
  const std::string in = dir.Write("in.pkg", kScript);
  const CliResult r = RunCli("save '" + in + "' '" + (dir / "no/such/folder/out.pkg") + "'", dir);
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.err.find("Error while saving"), std::string::npos) << r.err;
}

TEST(CliSave, UnsavableSessionCharacterFails) {
  TempDir dir;
  const std::string in = dir.Write("in.pkg", std::string("\xEF\xBB\xBF") + "name \xC4\x81");  // UTF-8, U+0101
  const CliResult r = RunCli("save '" + in + "' '" + (dir / "out.qsd") + "'", dir);
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.err.find("(U+0101)"), std::string::npos) << r.err;
  EXPECT_FALSE(std::ifstream(dir / "out.qsd").good());
}

}  // namespace
}  // namespace tarvik::test
