// File descriptions: PKG file lines by operation and the columns of the 9.x file table.

#include <gtest/gtest.h>
#include <openssl/sha.h>

#include <algorithm>

#include "sis9_fixture.hpp"

namespace tarvik::test {
namespace {

struct LineCase {
  const char* name;
  std::uint32_t op;
  std::uint32_t options;
  const char* target;
  const char* mime;
  const char* line;  // in the script; "" when the description writes none
  bool row;          // gets a file-table row
};

class FileLines : public ::testing::TestWithParam<LineCase> {};

TEST_P(FileLines, OperationAndOptionsGiveTheLine) {
  const LineCase& p = GetParam();
  w::Controller c;
  w::File f = TextFile(p.target, "data");
  f.op = p.op;
  f.options = p.options;
  f.mime = p.mime;
  c.files = {f};
  const Viewed v(c);
  const auto lines = v.Lines();
  const auto vendors = std::find(lines.begin(), lines.end(), "%{\"Vendor\"}");
  ASSERT_NE(vendors, lines.end());
  EXPECT_EQ(vendors[1], p.line);
  // Run and text lines carry their own line break: an empty line follows them.
  const bool ownBreak = p.op == 2 || p.op == 4;
  EXPECT_EQ(vendors[2], ownBreak ? "" : "  ");
  EXPECT_EQ(v.view.files.size(), p.row ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FileLines,
    ::testing::Values(
        LineCase{"Install", 1, 0, "!:\\data\\a.txt", "", "\"\\bin\\pkg\\data\\a.txt\"-\"!:\\data\\a.txt\", FF", true},
        LineCase{"InstallVerify", 1, 0x8000, "!:\\data\\a.txt", "", "\"\\bin\\pkg\\data\\a.txt\"-\"!:\\data\\a.txt\", FF", true},
        LineCase{"LanguageBlockFile", 0, 0, "!:\\data\\l.txt", "", "\"\\bin\\pkg\\data\\l.txt\"-\"!:\\data\\l.txt\", FF", true},
        LineCase{"RunInstall", 2, 0x8002, "!:\\sys\\bin\\r.exe", "", "\"\\bin\\pkg\\sys\\bin\\r.exe\"-\"!:\\sys\\bin\\r.exe\", FR, RI", true},
        LineCase{"RunRemoveWait", 2, 0x14, "!:\\sys\\bin\\r.exe", "", "\"\\bin\\pkg\\sys\\bin\\r.exe\"-\"!:\\sys\\bin\\r.exe\", FR, RR, RW", true},
        LineCase{"RunBothWait", 2, 0x8016, "!:\\sys\\bin\\r.exe", "", "\"\\bin\\pkg\\sys\\bin\\r.exe\"-\"!:\\sys\\bin\\r.exe\", FR, RB, RW", true},
        LineCase{"RunSend", 2, 0x22, "!:\\sys\\bin\\r.exe", "", "\"\\bin\\pkg\\sys\\bin\\r.exe\"-\"!:\\sys\\bin\\r.exe\", FR, RI, RS", true},
        LineCase{"RunWait", 2, 0x8012, "!:\\sys\\bin\\r.exe", "", "\"\\bin\\pkg\\sys\\bin\\r.exe\"-\"!:\\sys\\bin\\r.exe\", FR, RI, RW", true},
        LineCase{"MimeWait", 2, 0x1A, "!:\\d.txt", "text/plain", "\"\\bin\\pkg\\d.txt\"-\"!:\\d.txt\", FM, \"text/plain\", RW", true},
        LineCase{"MimeSend", 2, 0x2A, "!:\\d.txt", "text/plain", "\"\\bin\\pkg\\d.txt\"-\"!:\\d.txt\", FM, \"text/plain\", RS", true},
        // Combinations without a fixed text are built from the option bits.
        LineCase{"RunRemove", 2, 0x8004, "!:\\sys\\bin\\r.exe", "", "\"\\bin\\pkg\\sys\\bin\\r.exe\"-\"!:\\sys\\bin\\r.exe\", FR, RR", true},
        LineCase{"MimePlain", 2, 0x000A, "!:\\d.txt", "text/plain", "\"\\bin\\pkg\\d.txt\"-\"!:\\d.txt\", FM, \"text/plain\", RI", true},
        LineCase{"RunOnlyWait", 2, 0x0010, "!:\\g.gif", "", "\"\\bin\\pkg\\g.gif\"-\"!:\\g.gif\", FR, RW", true},
        LineCase{"TextContinue", 4, 0, "", "", "\"\\bin\\pkg\\TextFileIndex10.txt\"-\"\", FT, TC", true},
        LineCase{"TextSkip", 4, 0x400, "", "", "\"\\bin\\pkg\\TextFileIndex10.txt\"-\"\", FT, TS", true},
        LineCase{"TextAbort", 4, 0x800, "", "", "\"\\bin\\pkg\\TextFileIndex10.txt\"-\"\", FT, TA", true},
        LineCase{"TextExit", 4, 0x1000, "", "", "\"\\bin\\pkg\\TextFileIndex10.txt\"-\"\", FT, TE", true},
        LineCase{"TextOther", 4, 0x200, "", "", "\"\\bin\\pkg\\TextFileIndex10.txt\"-\"\", FT", true},
        LineCase{"TextWithTarget", 4, 0x400, "c:\\t.txt", "", "\"\\bin\\pkg\\t.txt\"-\"\", FT, TS", true},
        LineCase{"Null", 8, 0, "!:\\data\\gone.dat", "", "\"\"-\"!:\\data\\gone.dat\", FN", false}),
    [](const auto& info) { return std::string(info.param.name); });

// Early builders stored a FN line (a file the application creates) as operation 5 of zero
// length: it is written FN and offers nothing to extract. With data, operation 5 installs.
TEST(FileTable, OperationFiveOfZeroLengthIsANullFile) {
  w::Controller c;
  w::File made = TextFile("!:\\data\\made.dat", "");
  made.op = 5;
  w::File carried = TextFile("!:\\data\\kept.dat", "kept");
  carried.op = 5;
  c.files = {made, carried};
  const Viewed v(c);
  const auto lines = v.Lines();
  EXPECT_NE(std::find(lines.begin(), lines.end(), "\"\"-\"!:\\data\\made.dat\", FN"), lines.end()) << v.view.script;
  EXPECT_NE(std::find(lines.begin(), lines.end(), "\"\\bin\\pkg\\data\\kept.dat\"-\"!:\\data\\kept.dat\", FF"),
            lines.end())
      << v.view.script;
  ASSERT_EQ(v.view.files.size(), 1u);
  EXPECT_EQ(v.view.files[0].target, "!:\\data\\kept.dat");
}

TEST(FileTable, RowColumns) {
  w::Controller c;
  w::File exe = TextFile("!:\\sys\\bin\\app.exe", std::string(300, 'x'), true);
  exe.caps = 0x000110A0;  // bits 5, 7, 12, 16
  w::File plain = TextFile("c:\\data\\plain.txt", "plain");
  plain.hashAlgorithm = 2;
  c.files = {exe, plain};
  const Viewed v(c);
  ASSERT_EQ(v.view.files.size(), 2u);
  const views::FileRow& r = v.view.files[0];
  EXPECT_NE(v.view.script.find("\"\\bin\\pkg\\sys\\bin\\app.exe\"-\"!:\\sys\\bin\\app.exe\""), std::string::npos);
  EXPECT_EQ(r.target, "!:\\sys\\bin\\app.exe");
  EXPECT_TRUE(r.deflated);
  EXPECT_EQ(r.uncompressedSize, 300u);
  EXPECT_GT(r.compressedSize, 0u);
  EXPECT_LT(r.compressedSize, 300u);
  EXPECT_EQ(r.extractPath, "bin\\pkg\\sys\\bin\\app.exe");
  EXPECT_EQ(v.Data(r), std::string(300, 'x'));
  views::Sha1Digest digest{};
  const std::string data(300, 'x');
  SHA1(reinterpret_cast<const unsigned char*>(data.data()), data.size(), digest.data());
  EXPECT_EQ(r.sha1, digest);
  ASSERT_NE(r.entry, nullptr);
  EXPECT_EQ(r.entry->capabilities, std::optional<std::uint32_t>(0x000110A0));
  EXPECT_EQ(r.entry->hashAlgorithm, 1u);

  const views::FileRow& p = v.view.files[1];
  EXPECT_EQ(v.Data(p), "plain");
  EXPECT_FALSE(p.deflated);
  EXPECT_EQ(p.extractPath, "bin\\pkg\\data\\plain.txt");
  EXPECT_EQ(v.Data(p), "plain");
  // Its own entry names another algorithm: no SHA-1, whatever the file before it had.
  ASSERT_NE(p.entry, nullptr);
  EXPECT_EQ(p.entry->hashAlgorithm, 2u);
  EXPECT_FALSE(p.sha1);
  EXPECT_FALSE(p.entry->capabilities);
}

TEST(FileTable, Sha1OnlyForAlgorithmOneWithTwentyBytes) {
  struct Case {
    const char* name;
    std::uint32_t algorithm;
    std::size_t hashBytes;  // 0: the digest of the data
    bool sha1;
  };
  for (const Case& k : {Case{"sha-1", 1, 0, true}, Case{"other algorithm", 2, 0, false},
                        Case{"short digest", 1, 16, false}, Case{"long digest", 1, 32, false}}) {
    SCOPED_TRACE(k.name);
    w::Controller c;
    w::File f = TextFile("!:\\a.txt", "a");
    f.hashAlgorithm = k.algorithm;
    if (k.hashBytes) f.hash = Bytes(k.hashBytes, 0x5A);
    c.files = {f};
    const Viewed v(c);
    ASSERT_EQ(v.view.files.size(), 1u);
    EXPECT_EQ(v.view.files[0].sha1.has_value(), k.sha1);
  }
}

TEST(FileTable, TargetWithoutDriveIsKeptWhole) {
  w::Controller c;
  c.files = {TextFile("data\\odd.txt", "odd"), TextFile("", "empty target")};
  const Viewed v(c);
  ASSERT_EQ(v.view.files.size(), 2u);
  EXPECT_EQ(v.view.files[0].extractPath, "bin\\pkg\\data\\odd.txt");
  EXPECT_EQ(v.view.files[1].extractPath, "bin\\pkg\\");
}

using FileTableApp = Sis9Fixture;

TEST_F(FileTableApp, SourceFolderSettingIsUsed) {
  app.SetSourceFolder("C:\\work");
  w::Controller c;
  c.files = {TextFile("!:\\data\\a.txt", "a")};
  Open(c);
  EXPECT_NE(ui.text.find("\"C:\\work\\bin\\pkg\\data\\a.txt\"-\"!:\\data\\a.txt\", FF"), std::string::npos);
  ASSERT_EQ(Files().size(), 1u);
}

TEST(FileTable, FolderNameIsTheFileNameUpToItsLastDot) {
  w::Controller c;
  c.files = {TextFile("!:\\sys\\bin\\voip.exe", "v")};
  const Viewed v(c, {}, "voip_v1.0_unsigned.sis");
  ASSERT_EQ(v.view.files.size(), 1u);
  EXPECT_EQ(v.view.files[0].extractPath, "bin\\voip_v1.0_unsigned\\sys\\bin\\voip.exe");
  EXPECT_NE(v.view.script.find("\"\\bin\\voip_v1.0_unsigned\\sys\\bin\\voip.exe\"-"), std::string::npos);
}

}  // namespace
}  // namespace tarvik::test
