// File descriptions: PKG file lines by operation and the columns of the 9.x file table.

#include <gtest/gtest.h>
#include <openssl/sha.h>

#include <algorithm>

#include "bytes/inflate.hpp"
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

class FileLines : public Sis9Fixture, public ::testing::WithParamInterface<LineCase> {};

TEST_P(FileLines, OperationAndOptionsGiveTheLine) {
  const LineCase& p = GetParam();
  w::Controller c;
  w::File f = TextFile(p.target, "data");
  f.op = p.op;
  f.options = p.options;
  f.mime = p.mime;
  c.files = {f};
  Open(c);
  const auto lines = Lines();
  const auto vendors = std::find(lines.begin(), lines.end(), "%{\"Vendor\"}");
  ASSERT_NE(vendors, lines.end());
  EXPECT_EQ(vendors[1], p.line);
  // Run and text lines carry their own line break: an empty line follows them.
  const bool ownBreak = p.op == 2 || p.op == 4;
  EXPECT_EQ(vendors[2], ownBreak ? "" : "  ");
  EXPECT_EQ(FileTable().Count(), p.row ? 1u : 0u);
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

// The bytes of a file row as extraction takes them from the package.
std::string RowData(const FileBuffer& b, const Row& r) {
  const Pos offset = static_cast<Pos>(HexToDouble(r.Get(col9::Offset)));
  const auto compressed = static_cast<std::size_t>(HexToDouble(r.Get(col9::CompressByte)));
  const auto uncompressed = static_cast<std::size_t>(HexToDouble(r.Get(col9::UncompressByte)));
  if (!b.HasRange(offset, static_cast<Pos>(compressed))) return "<outside>";
  if (r.Get(col9::Compression) == "1") {
    Bytes out;
    if (Uncompress(b.Ptr(offset), compressed, uncompressed, out) != 0) return "<corrupt>";
    return std::string(out.begin(), out.end());
  }
  return std::string(reinterpret_cast<const char*>(b.Ptr(offset)), compressed);
}

using FileTableTest = Sis9Fixture;

TEST_F(FileTableTest, RowColumns) {
  w::Controller c;
  w::File exe = TextFile("!:\\sys\\bin\\app.exe", std::string(300, 'x'), true);
  exe.caps = 0x000110A0;  // bits 5, 7, 12, 16
  w::File plain = TextFile("c:\\data\\plain.txt", "plain");
  plain.hashAlgorithm = 2;
  c.files = {exe, plain};
  Open(c);
  ASSERT_EQ(FileTable().Count(), 2u);
  const Row& r = FileTable().Item(1);
  EXPECT_EQ(r.Text(), "1");
  EXPECT_EQ(r.Get(col9::FileDataId), "0");
  EXPECT_EQ(r.Get(col9::Source), "\\bin\\pkg\\sys\\bin\\app.exe");
  EXPECT_EQ(r.Get(col9::Target), "!:\\sys\\bin\\app.exe");
  EXPECT_EQ(r.Get(col9::Compression), "1");
  EXPECT_EQ(r.Get(col9::UncompressByte), "000000000000012C");
  EXPECT_EQ(r.Get(col9::CompressByte).size(), 16u);
  EXPECT_EQ(r.Get(col9::ExtractPath), "bin\\pkg\\sys\\bin\\app.exe");
  EXPECT_EQ(RowData(app.buffer, r), std::string(300, 'x'));
  unsigned char digest[SHA_DIGEST_LENGTH];
  const std::string data(300, 'x');
  SHA1(reinterpret_cast<const unsigned char*>(data.data()), data.size(), digest);
  for (std::size_t i = 0; i < 24; ++i)
    EXPECT_EQ(r.Get(col9::Hash1 + i), i < 20 ? HexText(digest[i], 2) : "") << i;
  for (std::size_t k = 1; k <= 20; ++k) {
    const bool set = k == 13 || k == 12 || k == 8 || k == 10;
    EXPECT_EQ(r.Get(col9::Cap1 + k - 1), set ? "1" : "") << "cap" << k;
  }
  EXPECT_EQ(r.Get(col9::HashAlgorithm), "SHA-1 algorithm");
  // The byte column is where the install block holding the description starts.
  const Pos block = static_cast<Pos>(std::stoll(r.Get(col9::Byte)));
  EXPECT_GT(block, 0);

  const Row& p = FileTable().Item(2);
  EXPECT_EQ(p.Get(col9::Compression), "0");
  EXPECT_EQ(p.Get(col9::ExtractPath), "bin\\pkg\\data\\plain.txt");
  EXPECT_EQ(RowData(app.buffer, p), "plain");
  EXPECT_EQ(p.Get(col9::HashAlgorithm), "SHA-1 algorithm") << "carried from the previous file";
  for (std::size_t k = 1; k <= 20; ++k) EXPECT_EQ(p.Get(col9::Cap1 + k - 1), "");
  EXPECT_EQ(app.state.dataMark, 2);
}

TEST_F(FileTableTest, TargetWithoutDriveIsKeptWhole) {
  w::Controller c;
  c.files = {TextFile("data\\odd.txt", "odd"), TextFile("", "empty target")};
  Open(c);
  EXPECT_EQ(FileTable().Item(1).Get(col9::ExtractPath), "bin\\pkg\\data\\odd.txt");
  EXPECT_EQ(FileTable().Item(2).Get(col9::ExtractPath), "bin\\pkg\\");
}

TEST_F(FileTableTest, SourceFolderSettingIsUsed) {
  app.state.defaultSourceFolder = "C:\\work";
  w::Controller c;
  c.files = {TextFile("!:\\data\\a.txt", "a")};
  Open(c);
  EXPECT_NE(ui.text.find("\"C:\\work\\bin\\pkg\\data\\a.txt\"-\"!:\\data\\a.txt\", FF"), std::string::npos);
  EXPECT_EQ(FileTable().Item(1).Get(col9::Source), "C:\\work\\bin\\pkg\\data\\a.txt");
}

TEST_F(FileTableTest, FolderNameIsTheFileNameUpToItsLastDot) {
  w::Controller c;
  c.files = {TextFile("!:\\sys\\bin\\voip.exe", "v")};
  Open(c, {}, "voip_v1.0_unsigned.sis");
  EXPECT_EQ(FileTable().Item(1).Get(col9::ExtractPath), "bin\\voip_v1.0_unsigned\\sys\\bin\\voip.exe");
  EXPECT_NE(ui.text.find("\"\\bin\\voip_v1.0_unsigned\\sys\\bin\\voip.exe\"-"), std::string::npos);
}

}  // namespace
}  // namespace tarvik::test
