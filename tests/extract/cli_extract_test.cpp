// tarvik-cli extract: writes the files and prints the list of what it wrote.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "extract/extract.hpp"

#include "support/sis9_writer.hpp"
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

// A second extraction into the same folder: without a terminal nothing is touched unless
// --overwrite (or --force) says what to do with the files that stand there.
TEST(CliExtract, FilesThatStandThereAreKeptUnlessOverwriteSaysOtherwise) {
  TempDir dir;
  OldPackage p;
  p.records = {OldFile("c:\\src\\a.txt", "!:\\a.txt", "package A"), OldFile("c:\\src\\b.txt", "!:\\b.txt", "package B")};
  const std::string pkg = dir.Write("two.sis", BuildOldSis(p));
  const std::string out = dir / "out";
  const std::string a = out + "/bin/two/a.txt", b = out + "/bin/two/b.txt";
  ASSERT_EQ(RunCli("extract --quiet '" + pkg + "' '" + out + "'", dir).status, 0);
  struct Case {
    const char* flags;
    int status;
    const char *a, *a2;
  };
  for (const Case& c : {Case{"", 1, "edited", "(none)"}, Case{"--overwrite=skip", 0, "edited", "(none)"},
                        Case{"--overwrite=rename", 0, "edited", "package A"}, Case{"--overwrite=all", 0, "package A", "(none)"},
                        Case{"--force", 0, "package A", "(none)"}}) {
    SCOPED_TRACE(c.flags);
    std::filesystem::remove(out + "/bin/two/a (2).txt");
    std::ofstream(a, std::ios::binary) << "edited";
    const CliResult r = RunCli("extract --quiet " + std::string(c.flags) + " '" + pkg + "' '" + out + "' </dev/null", dir);
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_EQ(ReadFile(a), c.a);
    const std::string a2 = out + "/bin/two/a (2).txt";
    EXPECT_EQ(std::filesystem::exists(a2) ? ReadFile(a2) : "(none)", c.a2);
    if (c.status == 1) {
      EXPECT_NE(r.err.find("2 files stand in " + out + " already; nothing extracted"), std::string::npos) << r.err;
    }
  }
  EXPECT_EQ(ReadFile(b), "package B");
  EXPECT_NE(RunCli("extract --overwrite=sometimes '" + pkg + "' '" + out + "'", dir).status, 0);
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

// A pre-installed package describes files already on the device and carries none of their
// bytes: extraction says so once and writes nothing; the table shows no offset.
TEST(CliExtract, PreinstalledPackageSaysOnceThatItCarriesNoData) {
  TempDir dir;
  for (std::uint8_t type : {3, 4}) {
    SCOPED_TRACE(type);
    sis9w::Controller c;
    c.type = type;
    c.files = {sis9w::TextFile("!:\\data\\a.txt", "on the device"), sis9w::TextFile("!:\\data\\b.txt", "too", true)};
    const std::string pkg = dir.Write("pre.sis", sis9w::Build(c, {.noData = true}));
    const std::string out = dir / ("out" + std::to_string(type));
    const CliResult r = RunCli("extract --quiet '" + pkg + "' '" + out + "'", dir);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, std::string("Tarvik: ") + extract::kNoFileData + "\n");
    EXPECT_EQ(r.out, "");
    EXPECT_FALSE(std::filesystem::exists(out + "/bin/pre/data"));
    const CliResult info = RunCli("info '" + pkg + "'", dir);
    EXPECT_NE(info.out.find("bin\\pre\\data\\a.txt\t\t\t"), std::string::npos) << info.out;
  }
}

// A pre-9.x package cut short: the files whose data lies past the end are named in one
// message, the others are written and listed, and the status is a failure.
TEST(CliExtract, CutPackageReportsTheMissingFilesAndFails) {
  TempDir dir;
  OldPackage p;
  for (int i = 0; i < 4; ++i)
    p.records.push_back(OldFile("c:\\src\\f" + std::to_string(i) + ".txt", "!:\\f" + std::to_string(i) + ".txt",
                                std::string(200, static_cast<char>('a' + i))));
  OldLayout layout;
  Bytes bytes = BuildOldSis(p, layout);
  // Cut inside the data of the file stored last in the file.
  std::size_t last = 0, lastRecord = 0;
  for (std::size_t r = 0; r < layout.dataOffsets.size(); ++r)
    if (!layout.dataOffsets[r].empty() && layout.dataOffsets[r][0] > last) {
      last = layout.dataOffsets[r][0];
      lastRecord = r;
    }
  bytes.resize(last + 1);
  const std::string pkg = dir.Write("cut.sis", bytes);
  const std::string out = dir / "out";
  const CliResult r = RunCli("extract --quiet '" + pkg + "' '" + out + "'", dir);
  EXPECT_EQ(r.status, 1);
  const std::string missing = "f" + std::to_string(lastRecord) + ".txt";
  EXPECT_NE(r.err.find(std::string("Tarvik: ") + extract::kPastEndHead), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("/bin/cut/" + missing), std::string::npos) << r.err;
  EXPECT_FALSE(std::filesystem::exists(out + "/bin/cut/" + missing));
  for (int i = 0; i < 4; ++i) {
    const std::string name = "f" + std::to_string(i) + ".txt";
    if (name == missing) continue;
    EXPECT_TRUE(std::filesystem::exists(out + "/bin/cut/" + name)) << name;
    EXPECT_NE(r.out.find(name + "\n"), std::string::npos) << r.out;
  }
}

// A 9.x package cut inside its data section: the files whose data lies before the cut are
// written and listed, one message names the others (the one cut through and those whose
// entries were never reached), and the status is a failure.
TEST(CliExtract, CutNineXPackageWritesTheFilesBeforeTheCut) {
  TempDir dir;
  sis9w::Controller c;
  for (int i = 0; i < 5; ++i)
    c.files.push_back(sis9w::TextFile("!:\\data\\f" + std::to_string(i) + ".txt", std::string(300, static_cast<char>('a' + i))));
  Bytes bytes = sis9w::Build(c);
  const std::string third(300, 'c');
  const auto at = std::search(bytes.begin(), bytes.end(), third.begin(), third.end());
  ASSERT_NE(at, bytes.end());
  bytes.resize(static_cast<std::size_t>(at - bytes.begin()) + 100);  // inside f2's data
  const std::string pkg = dir.Write("cut.sis", bytes);
  const std::string out = dir / "out";
  const CliResult r = RunCli("extract --quiet '" + pkg + "' '" + out + "'", dir);
  EXPECT_EQ(r.status, 1);
  const std::string head = std::string("Tarvik: ") + extract::kPastEndHead;
  ASSERT_NE(r.err.find(head), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find(head, r.err.find(head) + 1), std::string::npos) << r.err;  // one message
  for (int i = 0; i < 5; ++i) {
    const std::string name = "f" + std::to_string(i) + ".txt";
    SCOPED_TRACE(name);
    if (i < 2) {
      EXPECT_EQ(ReadFile(out + "/bin/cut/data/" + name), std::string(300, static_cast<char>('a' + i)));
      EXPECT_NE(r.out.find(name + "\n"), std::string::npos) << r.out;
    } else {
      EXPECT_FALSE(std::filesystem::exists(out + "/bin/cut/data/" + name));
      EXPECT_NE(r.err.find("/bin/cut/data/" + name), std::string::npos) << r.err;
    }
  }
  EXPECT_EQ(r.err.find("Error while cutting"), std::string::npos) << r.err;
}

// A destination that cannot be made is said once, with the system's reason, and not as a
// failure of every file.
TEST(CliExtract, AFolderThatCannotBeMadeIsSaidOnceWithItsReason) {
  TempDir dir;
  sis9w::Controller c;
  for (int i = 0; i < 3; ++i) c.files.push_back(sis9w::TextFile("!:\\data\\f" + std::to_string(i) + ".txt", "x"));
  const std::string pkg = dir.Write("p.sis", sis9w::Build(c));
  const std::string blocker = dir.Write("blocker", std::string("a file"));
  const CliResult r = RunCli("extract --quiet '" + pkg + "' '" + blocker + "/out'", dir);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find(std::string(extract::kCannotUseFolder) + blocker + "/out/: Not a directory\n"), std::string::npos)
      << r.err;
  EXPECT_EQ(r.err.find("Input/output error"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("f1.txt"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace tarvik::test
