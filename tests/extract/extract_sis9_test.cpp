// Extraction of 9.x packages from a hand-filled file table, with the SHA-1 check.

#include <filesystem>

#include "extract_fixture.hpp"

namespace tarvik::test {
namespace {

namespace fs = std::filesystem;

TEST_F(ExtractSis9Test, WritesStoredAndDeflatedFilesThatMatchTheirHashes) {
  const std::string exe(20000, '\x01');
  const std::string rsc = "resource bytes";
  AddDeflated("bin\\demo\\sys\\bin\\demo.exe", exe);
  AddStored("bin\\demo\\resource\\apps\\demo.rsc", rsc);
  AddDeflated("bin\\demo\\Embedded Components\\Child\\private\\data.txt", "child data");
  Load(pkg.bytes, 1);
  Extract();

  EXPECT_EQ(ReadFile(Written("bin\\demo\\sys\\bin\\demo.exe")), exe);
  EXPECT_EQ(ReadFile(Written("bin\\demo\\resource\\apps\\demo.rsc")), rsc);
  EXPECT_EQ(ReadFile(Written("bin\\demo\\Embedded Components\\Child\\private\\data.txt")), "child data");
  EXPECT_TRUE(ui.messages.empty());
  EXPECT_EQ(ui.resultText, ResultHead() + "demo.exe\r\ndemo.rsc\r\ndata.txt\r\n");
  EXPECT_EQ(app.state.extractedCount, 3);
  EXPECT_EQ(ui.beeps, 1);
}

TEST_F(ExtractSis9Test, HashMismatchKeepsTheFileAndMarksIt) {
  Row& bad = AddStored("bin\\d\\changed.txt", "actual content");
  SetHash(bad, Sha1Cells("what the package promised"));
  AddStored("bin\\d\\fine.txt", "fine");
  Load(pkg.bytes, 1);
  Extract();

  EXPECT_EQ(ReadFile(Written("bin\\d\\changed.txt")), "actual content");
  EXPECT_EQ(ui.resultText, ResultHead() + "changed.txt" + extract::kHashMismatchMark + "\r\nfine.txt\r\n");
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].text, std::string(extract::kHashMismatchHead) + "\r\n" + Written("bin\\d\\changed.txt"));
  EXPECT_EQ(ui.messages[0].style, msg::Exclamation);
}

TEST_F(ExtractSis9Test, DeflatedHashMismatchIsMarkedToo) {
  Row& r = AddDeflated("bin\\d\\z.txt", "inflated");
  SetHash(r, Sha1Cells("other"));
  Load(pkg.bytes, 1);
  Extract();
  EXPECT_EQ(ReadFile(Written("bin\\d\\z.txt")), "inflated");
  EXPECT_EQ(ui.resultText, ResultHead() + "z.txt" + extract::kHashMismatchMark + "\r\n");
}

TEST_F(ExtractSis9Test, RowsWithoutASha1HashAreNotChecked) {
  Row& a = AddStored("bin\\d\\nohash.txt", "a");
  for (std::size_t i = 0; i < 24; ++i) a.Set(col9::Hash1 + i, "");
  Row& b = AddStored("bin\\d\\otheralgo.txt", "b");
  SetHash(b, Sha1Cells("x"));
  b.Set(col9::HashAlgorithm, "");
  Load(pkg.bytes, 1);
  Extract();
  EXPECT_EQ(ui.resultText, ResultHead() + "nohash.txt\r\notheralgo.txt\r\n");
  EXPECT_TRUE(ui.messages.empty());
}

// Rows with a SHA-1 are inflated without the stream's Adler-32, the hash being the stronger
// check; zlib still decides whenever the hash does not match.
struct HashedStream {
  const char* name;
  std::size_t cut;        // bytes cut off the stream's end
  int flipFromEnd;        // a byte flipped this far from the end (0: none)
  bool hashOfOther;       // the row's hash is of other content
  bool written;
  bool marked;
  bool corruptMessage;
};

class ExtractSis9HashedStreamTest : public ExtractSis9Test, public ::testing::WithParamInterface<HashedStream> {};

TEST_P(ExtractSis9HashedStreamTest, WritesOnlyWhatIsSound) {
  const auto& c = GetParam();
  const std::string content = std::string(3000, 'k') + "end";
  Bytes z = Deflate(content);
  if (c.flipFromEnd) z[z.size() - static_cast<std::size_t>(c.flipFromEnd)] ^= 0xFF;
  z.resize(z.size() - c.cut);
  const auto at = pkg.Add(z);
  Row& r = AddRow("bin\\d\\s.txt", "1", static_cast<std::uint64_t>(at), z.size(), content.size());
  SetHash(r, Sha1Cells(c.hashOfOther ? "other" : content));
  Load(pkg.bytes, 1);
  Extract();

  EXPECT_EQ(Exists("bin\\d\\s.txt"), c.written);
  if (c.written) {
    EXPECT_EQ(ReadFile(Written("bin\\d\\s.txt")), content);
    EXPECT_EQ(ui.resultText, ResultHead() + "s.txt" + (c.marked ? extract::kHashMismatchMark : "") + "\r\n");
  }
  EXPECT_EQ(ui.HasMessage("Internal Error: Input file corrupted  "), c.corruptMessage);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ExtractSis9HashedStreamTest,
    ::testing::Values(HashedStream{"Sound", 0, 0, false, true, false, false},
                      HashedStream{"SoundOtherHash", 0, 0, true, true, true, false},
                      // The content is proven by its hash; only the Adler-32 is damaged.
                      HashedStream{"DamagedAdlerHashMatches", 0, 1, false, true, false, false},
                      HashedStream{"DamagedAdlerHashDiffers", 0, 1, true, false, false, true},
                      HashedStream{"NoTrailer", 4, 0, false, false, false, true},
                      HashedStream{"Truncated", 9, 0, false, false, false, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ExtractSis9Test, HashedRowWithABadStreamHeaderIsCorrupt) {
  Bytes z = Deflate("data");
  z[0] = 0x79;
  const auto at = pkg.Add(z);
  Row& r = AddRow("bin\\d\\h.txt", "1", static_cast<std::uint64_t>(at), z.size(), 4);
  SetHash(r, Sha1Cells("data"));
  Load(pkg.bytes, 1);
  Extract();
  EXPECT_FALSE(Exists("bin\\d\\h.txt"));
  EXPECT_EQ(ui.MessageTexts(), (std::vector<std::string>{"Internal Error: Input file corrupted  ",
                                                         "Error while extracting " + Written("bin\\d\\h.txt")}));
}

TEST(RowSha1Test, ReadsTwentyHashColumns) {
  Row r("1");
  const auto cells = Sha1Cells("abc");
  for (std::size_t i = 0; i < cells.size(); ++i) r.Set(col9::Hash1 + i, cells[i]);
  EXPECT_FALSE(extract::RowSha1(r)) << "no algorithm";
  r.Set(col9::HashAlgorithm, "SHA-1 algorithm");
  const auto d = extract::RowSha1(r);
  ASSERT_TRUE(d);
  EXPECT_EQ((*d)[0], 0xA9);  // SHA-1("abc") = A9993E36...
  EXPECT_EQ((*d)[19], 0x9D);
  r.Set(col9::Hash1 + 20, "00");
  EXPECT_FALSE(extract::RowSha1(r)) << "a longer digest is not SHA-1";
  r.Set(col9::Hash1 + 20, "");
  r.Set(col9::Hash1 + 3, "G0");
  EXPECT_FALSE(extract::RowSha1(r));
}

struct BadRow {
  const char* name;
  std::string compression;
  std::string offset;  // hexadecimal; "" for none
  std::uint64_t csize;
  std::uint64_t usize;
  const char* message;  // "Error while extracting " or "Error while cutting "
};

class ExtractSis9BadRowTest : public ExtractSis9Test, public ::testing::WithParamInterface<BadRow> {};

TEST_P(ExtractSis9BadRowTest, IsReportedAndTheOthersAreWritten) {
  const auto& c = GetParam();
  AddStored("bin\\d\\before.txt", "before");
  Row& bad = AddRow("bin\\d\\bad.bin", c.compression, 0, c.csize, c.usize);
  bad.Set(col9::Offset, c.offset);
  AddDeflated("bin\\d\\after.txt", "after");
  Load(pkg.bytes, 1);
  Extract();

  EXPECT_FALSE(Exists("bin\\d\\bad.bin"));
  EXPECT_EQ(ReadFile(Written("bin\\d\\after.txt")), "after");
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].text, c.message + Written("bin\\d\\bad.bin"));
  EXPECT_EQ(ui.messages[0].style, msg::Critical);
  EXPECT_EQ(ui.messages[0].title, "Tarvik");
  EXPECT_EQ(ui.resultText, ResultHead() + "before.txt\r\nafter.txt\r\n");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ExtractSis9BadRowTest,
    ::testing::Values(
        BadRow{"DeflatedSizeZero", "1", "10", 0, 5, "Error while extracting "},
        // Ranges that run past the end of the buffer are never read.
        BadRow{"StoredPastEnd", "0", "40", 0x1000, 0x1000, "Error while cutting "},
        BadRow{"StoredFarPastEnd", "0", "FFFFFFFFFFFFFFFF", 4, 4, "Error while cutting "},
        BadRow{"DeflatedPastEnd", "1", "40", 0x100000, 0x200000, "Error while extracting "},
        BadRow{"HugeSizes", "0", "10", 0xFFFFFFFFFFFFFFFFull, 0xFFFFFFFFFFFFFFFFull, "Error while cutting "},
        // A row that the data part gave no offset has nothing in this package.
        BadRow{"StoredNoOffset", "0", "", 4, 4, "Error while cutting "},
        BadRow{"DeflatedNoOffset", "1", "", 4, 4, "Error while extracting "}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ExtractSis9Test, StoredEmptyFileIsWrittenEmpty) {
  AddStored("bin\\d\\before.txt", "before");
  Row& empty = AddRow("bin\\d\\empty.txt", "0", 0, 0, 0);
  empty.Set(col9::Offset, "10");
  Load(pkg.bytes, 1);
  Extract();
  EXPECT_TRUE(ui.messages.empty());
  ASSERT_TRUE(Exists("bin\\d\\empty.txt"));
  EXPECT_EQ(ReadFile(Written("bin\\d\\empty.txt")), "");
  EXPECT_EQ(ui.resultText, ResultHead() + "before.txt\r\nempty.txt\r\n");
}

TEST_F(ExtractSis9Test, AnyCompressionButOneIsStored) {
  AddStored("bin\\d\\two.bin", "copied as is");
  app.stores.ListView1.Item(1).Set(col9::Compression, "2");
  Load(pkg.bytes, 1);
  Extract();
  EXPECT_EQ(ReadFile(Written("bin\\d\\two.bin")), "copied as is");
}

TEST_F(ExtractSis9Test, StubPackageIsNotExtracted) {
  AddStored("bin\\d\\x.txt", "x");
  Load(pkg.bytes, 1);
  app.state.stub = true;
  Extract();
  EXPECT_FALSE(Exists("bin\\d\\x.txt"));
  EXPECT_EQ(ui.resultShown, 0);
  EXPECT_EQ(app.state.extractionFolder, out + "/");
}

TEST_F(ExtractSis9Test, ReadsOnlyTheTableOfTheGenerationReadLast) {
  AddStored("bin\\d\\nine.txt", "9");
  Row& old = app.stores.ListView2.Add("bin\\o\\old.txt");
  old.Set(col2::Length, "1");
  Load(pkg.bytes, 1);
  Extract();
  EXPECT_TRUE(Exists("bin\\d\\nine.txt"));
  EXPECT_FALSE(Exists("bin\\o\\old.txt"));
}

TEST_F(ExtractSis9Test, NothingWrittenShowsNoDialog) {
  Row& bad = AddRow("bin\\d\\bad.bin", "0", 0, 4, 4);
  bad.Set(col9::Offset, "");  // no data in this package
  Load(pkg.bytes, 1);
  Extract();
  EXPECT_EQ(ui.resultShown, 0);
  EXPECT_EQ(ui.beeps, 0);
  EXPECT_EQ(ui.messages.size(), 1u);
  // The folders were still made, and the bin folder.
  EXPECT_TRUE(fs::is_directory(Written("bin\\d")));
}

TEST_F(ExtractSis9Test, LargeFileReportsProgressInsideTheFile) {
  std::string big(40u << 20, '\0');
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>((i * 2654435761u) >> 13);
  AddDeflated("bin\\d\\big.bin", big);
  Load(pkg.bytes, 1);
  Extract();
  EXPECT_EQ(ReadFile(Written("bin\\d\\big.bin")), big);
  ASSERT_GE(ui.progress.size(), 3u);
  for (std::size_t i = 1; i < ui.progress.size(); ++i) EXPECT_LE(ui.progress[i - 1].first, ui.progress[i].first);
  EXPECT_EQ(ui.progress.back().first, ui.progress.back().second);
}

}  // namespace
}  // namespace tarvik::test

namespace tarvik::test {
namespace {

TEST_F(ExtractTest, ByteRangeOperationsCountOnlyInflatedFilesWhileNotStopped) {
  PackageBytes pkg;
  const Bytes z = Deflate("inflated");
  const auto zAt = pkg.Add(z);
  const auto rawAt = pkg.Add("raw");
  Load(pkg.bytes, 1);
  app.state.extractionFolder = out + "/";
  const auto zLen = static_cast<std::int64_t>(z.size());

  app.state.stopExtraction = false;
  app.state.extractedCount = 0;
  EXPECT_EQ(extract::ExtractData(app, "a\\z.txt", zLen, 8, zAt), 1);
  EXPECT_EQ(extract::CutFile2(app, "a\\raw.txt", rawAt, 3), 1);
  EXPECT_EQ(app.state.extractedCount, 1);  // the caller counts a cut file

  app.state.stopExtraction = true;
  EXPECT_EQ(extract::ExtractData(app, "a\\z2.txt", zLen, 8, zAt), 1);
  EXPECT_EQ(app.state.extractedCount, 1);

  EXPECT_EQ(ReadFile(out + "/a/z2.txt"), "inflated");
  EXPECT_EQ(ReadFile(out + "/a/raw.txt"), "raw");
  // Nothing to do without a name or compressed bytes; a negative length is refused.
  EXPECT_EQ(extract::ExtractData(app, "", zLen, 8, zAt), 0);
  EXPECT_EQ(extract::ExtractData(app, "a\\n.txt", 0, 8, zAt), 0);
  EXPECT_EQ(extract::CutFile2(app, "a\\n.txt", rawAt, 0), 1);  // an empty file
  EXPECT_EQ(extract::CutFile2(app, "a\\n.txt", rawAt, -1), 0);
  EXPECT_EQ(extract::CutFile2(app, "a\\n.txt", -1, 3), 0);
  EXPECT_TRUE(ui.messages.empty());
}

}  // namespace
}  // namespace tarvik::test
