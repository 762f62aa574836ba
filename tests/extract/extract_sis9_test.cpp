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
  EXPECT_EQ(resultText, ResultHead() + "demo.exe\r\ndemo.rsc\r\ndata.txt\r\n");
  EXPECT_EQ(extracted, 3);
}

TEST_F(ExtractSis9Test, HashMismatchKeepsTheFileAndMarksIt) {
  views::FileRow& bad = AddStored("bin\\d\\changed.txt", "actual content");
  bad.sha1 = Sha1Of("what the package promised");
  AddStored("bin\\d\\fine.txt", "fine");
  Load(pkg.bytes, 1);
  Extract();

  EXPECT_EQ(ReadFile(Written("bin\\d\\changed.txt")), "actual content");
  EXPECT_EQ(resultText, ResultHead() + "changed.txt" + extract::kHashMismatchMark + "\r\nfine.txt\r\n");
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].text, std::string(extract::kHashMismatchHead) + "\r\n" + Written("bin\\d\\changed.txt"));
  EXPECT_EQ(ui.messages[0].severity, ops::Severity::Warning);
}

TEST_F(ExtractSis9Test, DeflatedHashMismatchIsMarkedToo) {
  views::FileRow& r = AddDeflated("bin\\d\\z.txt", "inflated");
  r.sha1 = Sha1Of("other");
  Load(pkg.bytes, 1);
  Extract();
  EXPECT_EQ(ReadFile(Written("bin\\d\\z.txt")), "inflated");
  EXPECT_EQ(resultText, ResultHead() + "z.txt" + extract::kHashMismatchMark + "\r\n");
}

TEST_F(ExtractSis9Test, RowsWithoutASha1HashAreNotChecked) {
  views::FileRow& a = AddStored("bin\\d\\nohash.txt", "a");
  a.sha1.reset();
  views::FileRow& b = AddStored("bin\\d\\otheralgo.txt", "b");
  b.sha1 = Sha1Of("x");
  b.sha1.reset();  // another algorithm: the view gives no SHA-1
  Load(pkg.bytes, 1);
  Extract();
  EXPECT_EQ(resultText, ResultHead() + "nohash.txt\r\notheralgo.txt\r\n");
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
  views::FileRow& r = AddRow("bin\\d\\s.txt", true, at, z.size(), content.size());
  r.sha1 = Sha1Of(c.hashOfOther ? "other" : content);
  Load(pkg.bytes, 1);
  Extract();

  EXPECT_EQ(Exists("bin\\d\\s.txt"), c.written);
  if (c.written) {
    EXPECT_EQ(ReadFile(Written("bin\\d\\s.txt")), content);
    EXPECT_EQ(resultText, ResultHead() + "s.txt" + (c.marked ? extract::kHashMismatchMark : "") + "\r\n");
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
  views::FileRow& r = AddRow("bin\\d\\h.txt", true, at, z.size(), 4);
  r.sha1 = Sha1Of("data");
  Load(pkg.bytes, 1);
  Extract();
  EXPECT_FALSE(Exists("bin\\d\\h.txt"));
  EXPECT_EQ(ui.MessageTexts(), (std::vector<std::string>{"Internal Error: Input file corrupted  ",
                                                         "Error while extracting " + Written("bin\\d\\h.txt")}));
}

struct BadRow {
  const char* name;
  bool deflated;
  std::optional<std::int64_t> offset;  // none: the package holds no data for the row
  std::uint64_t csize;
  std::uint64_t usize;
  const char* message;  // "Error while extracting " or "Error while cutting "
};

class ExtractSis9BadRowTest : public ExtractSis9Test, public ::testing::WithParamInterface<BadRow> {};

TEST_P(ExtractSis9BadRowTest, IsReportedAndTheOthersAreWritten) {
  const auto& c = GetParam();
  AddStored("bin\\d\\before.txt", "before");
  views::FileRow& bad = AddRow("bin\\d\\bad.bin", c.deflated, c.offset.value_or(0), c.csize, c.usize);
  bad.hasData = c.offset.has_value();
  AddDeflated("bin\\d\\after.txt", "after");
  Load(pkg.bytes, 1);
  Extract();

  EXPECT_FALSE(Exists("bin\\d\\bad.bin"));
  EXPECT_EQ(ReadFile(Written("bin\\d\\after.txt")), "after");
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].text, c.message + Written("bin\\d\\bad.bin"));
  EXPECT_EQ(ui.messages[0].severity, ops::Severity::Error);
  EXPECT_EQ(ui.messages[0].title, "Tarvik");
  EXPECT_EQ(resultText, ResultHead() + "before.txt\r\nafter.txt\r\n");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ExtractSis9BadRowTest,
    ::testing::Values(
        BadRow{"DeflatedSizeZero", true, 0x10, 0, 5, "Error while extracting "},
        // Ranges that run past the end of the buffer are never read.
        BadRow{"StoredPastEnd", false, 0x40, 0x1000, 0x1000, "Error while cutting "},
        BadRow{"StoredFarPastEnd", false, INT64_MAX, 4, 4, "Error while cutting "},
        BadRow{"NegativeOffset", false, -4, 4, 4, "Error while cutting "},
        BadRow{"DeflatedPastEnd", true, 0x40, 0x100000, 0x200000, "Error while extracting "},
        BadRow{"HugeSizes", false, 0x10, 0xFFFFFFFFFFFFFFFFull, 0xFFFFFFFFFFFFFFFFull, "Error while cutting "},
        // A row that the data part gave no offset has nothing in this package.
        BadRow{"StoredNoOffset", false, std::nullopt, 4, 4, "Error while cutting "},
        BadRow{"DeflatedNoOffset", true, std::nullopt, 4, 4, "Error while extracting "}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ExtractSis9Test, StoredEmptyFileIsWrittenEmpty) {
  AddStored("bin\\d\\before.txt", "before");
  AddRow("bin\\d\\empty.txt", false, 0x10, 0, 0);
  Load(pkg.bytes, 1);
  Extract();
  EXPECT_TRUE(ui.messages.empty());
  ASSERT_TRUE(Exists("bin\\d\\empty.txt"));
  EXPECT_EQ(ReadFile(Written("bin\\d\\empty.txt")), "");
  EXPECT_EQ(resultText, ResultHead() + "before.txt\r\nempty.txt\r\n");
}

TEST_F(ExtractSis9Test, StubPackageIsNotExtracted) {
  AddStored("bin\\d\\x.txt", "x");
  Load(pkg.bytes, 1);
  stub = true;
  Extract();
  EXPECT_FALSE(Exists("bin\\d\\x.txt"));
  EXPECT_EQ(resultShown, 0);
  EXPECT_EQ(folder, out + "/");
}

TEST_F(ExtractSis9Test, NothingWrittenShowsNoDialog) {
  views::FileRow& bad = AddRow("bin\\d\\bad.bin", false, 0, 4, 4);
  bad.hasData = false;  // no data in this package
  Load(pkg.bytes, 1);
  Extract();
  EXPECT_EQ(resultShown, 0);
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
  ASSERT_GE(progress.size(), 3u);
  for (std::size_t i = 1; i < progress.size(); ++i) EXPECT_LE(progress[i - 1].first, progress[i].first);
  EXPECT_EQ(progress.back().first, progress.back().second);
}

}  // namespace
}  // namespace tarvik::test

namespace tarvik::test {
namespace {

}  // namespace
}  // namespace tarvik::test
