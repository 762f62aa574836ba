// Extraction of pre-9.x packages from a hand-filled file table.

#include <filesystem>

#include "extract_fixture.hpp"
#include "support/sis_old_writer.hpp"

namespace tarvik::test {
namespace {

namespace fs = std::filesystem;

// A pre-9.x header: UID 2, installer version and options at their offsets; 100 bytes.
Bytes OldHeader(std::uint32_t uid2, std::uint32_t version, std::uint16_t options) {
  Bytes h(100, 0);
  auto put32 = [&h](std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) h[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
  };
  put32(0, 0x10F00001);
  put32(4, uid2);
  put32(8, 0x10000419);
  put32(32, version);
  h[36] = static_cast<std::uint8_t>(options);
  h[37] = static_cast<std::uint8_t>(options >> 8);
  return h;
}

constexpr std::uint32_t kUidR6 = 0x10003A12;
constexpr std::uint32_t kUidR5 = 0x1000006D;

class ExtractOldTest : public ExtractTest {
 protected:
  PackageBytes pkg;

  // Rows whose bytes are deflated (a package without NOCOMPRESS) unless a test says otherwise.
  bool deflate = true;

  void AddRow(const std::string& name, std::int64_t uncompress, std::int64_t compress, std::int64_t offset,
              std::int64_t length) {
    // The compressed size and the length of a pre-9.x row are one number.
    EXPECT_EQ(compress, length);
    views::FileRow r;
    r.extractPath = name;
    r.uncompressedSize = static_cast<std::uint64_t>(uncompress);
    r.compressedSize = static_cast<std::uint64_t>(length);
    r.offset = offset;
    r.hasData = true;
    r.deflated = deflate;
    Rows().push_back(r);
  }
  // A deflated file row.
  void AddDeflated(const std::string& name, std::string_view content) {
    const Bytes z = Deflate(content);
    const auto at = pkg.Add(z);
    const bool was = deflate;
    deflate = true;
    AddRow(name, static_cast<std::int64_t>(content.size()), static_cast<std::int64_t>(z.size()), at,
           static_cast<std::int64_t>(z.size()));
    deflate = was;
  }
  void AddStored(const std::string& name, std::string_view content) {
    const auto at = pkg.Add(content);
    const auto n = static_cast<std::int64_t>(content.size());
    const bool was = deflate;
    deflate = false;
    AddRow(name, n, n, at, n);
    deflate = was;
  }
};

TEST_F(ExtractOldTest, InflatesEveryFileAndListsBareNames) {
  pkg.Add(OldHeader(kUidR6, 200, 0x0001));
  const std::string a(5000, 'a');
  const std::string b = "second file\r\n";
  AddDeflated("bin\\Demo\\system\\apps\\demo\\demo.app", a);
  AddDeflated("bin\\Demo\\readme.txt", b);
  Load(pkg.bytes, 0);
  Extract();

  EXPECT_EQ(ReadFile(Written("bin\\Demo\\system\\apps\\demo\\demo.app")), a);
  EXPECT_EQ(ReadFile(Written("bin\\Demo\\readme.txt")), b);
  EXPECT_TRUE(ui.messages.empty());
  EXPECT_EQ(resultShown, 1);
  EXPECT_EQ(resultText, ResultHead() + "demo.app\r\nreadme.txt\r\n");
  EXPECT_EQ(extracted, 2);
  EXPECT_EQ(folder, out + "/");
  ASSERT_FALSE(progress.empty());
  EXPECT_EQ(progress.back().first, progress.back().second);
}

// The package's header decides whether its files are deflated: real packages of each kind,
// opened and extracted as a person would.
TEST_F(ExtractOldTest, TheHeaderDecidesWhetherFilesAreDeflated) {
  struct Case {
    const char* name;
    std::uint32_t uid2;
    std::uint32_t installer;
    std::uint16_t options;
  };
  for (const Case& c : {Case{"release 6", 0x10003A12, 200, 0x0001}, Case{"NOCOMPRESS", 0x10003A12, 200, 0x0009},
                        Case{"unicode and distributable", 0x10003A12, 200, 0x0003},
                        Case{"release 5", kUidR5, 100, 0x0000}}) {
    SCOPED_TRACE(c.name);
    OldPackage p;
    p.uid2 = c.uid2;
    p.installerVersion = c.installer;
    p.options = c.options;
    p.records = {OldFile("c:\\src\\x.txt", "!:\\x.txt", "payload payload payload")};
    OpenThroughMenu(app, ui, dir.Write(std::string(c.name) + ".sis", BuildOldSis(p)));
    ASSERT_EQ(test::FileCountOf(app), 1);
    ui.messages.clear();
    const std::string into = dir / c.name;
    std::filesystem::create_directories(into);
    Extract(into);
    EXPECT_TRUE(ui.messages.empty()) << ui.messages.front().text;
    EXPECT_EQ(ReadFile(into + "/bin/" + c.name + "/x.txt"), "payload payload payload");
  }
}

TEST_F(ExtractOldTest, EmptyRowsAreSkippedSilently) {
  // A compressed row of size 0 and a stored row of length 0 write nothing and say nothing.
  pkg.Add(OldHeader(kUidR6, 200, 0x0001));
  AddRow("bin\\P\\empty.txt", 0, 0, 100, 0);
  AddDeflated("bin\\P\\full.txt", "content");
  Load(pkg.bytes, 0);
  Extract();
  EXPECT_FALSE(Exists("bin\\P\\empty.txt"));
  EXPECT_EQ(resultText, ResultHead() + "full.txt\r\n");
  EXPECT_TRUE(ui.messages.empty());
}

TEST_F(ExtractOldTest, StoredRowOfLengthZeroIsSkipped) {
  pkg.Add(OldHeader(kUidR6, 200, 0x0008));
  deflate = false;
  AddRow("bin\\P\\null.txt", 0, 0, 100, 0);
  Load(pkg.bytes, 0);
  Extract();
  EXPECT_FALSE(Exists("bin\\P\\null.txt"));
  EXPECT_TRUE(ui.messages.empty());
  EXPECT_EQ(resultShown, 0);
}

// A package cut short: the files whose data lies past its end are named in one message
// (critical: the extraction is incomplete), the others are written and listed.
TEST_F(ExtractOldTest, RowsBeyondThePackageAreReportedOnceAndTheOthersWritten) {
  pkg.Add(OldHeader(kUidR6, 200, 0x0001));
  AddDeflated("bin\\P\\first.txt", "first");
  AddRow("bin\\P\\beyond.txt", 10, 10, 1 << 20, 10);
  AddRow("bin\\P\\beyond2.txt", 10, 10, 1 << 21, 10);
  AddDeflated("bin\\P\\third.txt", "third");
  Load(pkg.bytes, 0);
  Extract();
  EXPECT_EQ(ReadFile(Written("bin\\P\\first.txt")), "first");
  EXPECT_EQ(ReadFile(Written("bin\\P\\third.txt")), "third");
  EXPECT_FALSE(Exists("bin\\P\\beyond.txt"));
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].severity, ops::Severity::Error);
  EXPECT_EQ(ui.messages[0].text, std::string(extract::kPastEndHead) + "\r\n" + Written("bin\\P\\beyond.txt") +
                                      "\r\n" + Written("bin\\P\\beyond2.txt"));
  EXPECT_EQ(resultShown, 1);
  EXPECT_NE(resultText.find("first.txt\r\nthird.txt\r\n"), std::string::npos) << resultText;
}

TEST_F(ExtractOldTest, HugeNumbersInTheTableStopWithoutOverflow) {
  pkg.Add(OldHeader(kUidR6, 200, 0x0001));
  AddRow("bin\\P\\x.txt", 10, 0, 0, 0);
  Rows()[0].offset = INT64_MAX;
  Rows()[0].compressedSize = UINT64_MAX;
  Load(pkg.bytes, 0);
  Extract();
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].severity, ops::Severity::Error);
  EXPECT_EQ(resultShown, 0);
}

struct ZlibFailure {
  const char* name;
  Bytes data;
  std::int64_t declared;
  const char* message;
};

class ExtractOldZlibTest : public ExtractOldTest, public ::testing::WithParamInterface<ZlibFailure> {};

TEST_P(ExtractOldZlibTest, ReportsAndGoesOn) {
  const auto& c = GetParam();
  pkg.Add(OldHeader(kUidR6, 200, 0x0001));
  const auto at = pkg.Add(c.data);
  AddRow("bin\\P\\bad.bin", c.declared, static_cast<std::int64_t>(c.data.size()), at,
         static_cast<std::int64_t>(c.data.size()));
  AddDeflated("bin\\P\\good.txt", "good");
  Load(pkg.bytes, 0);
  Extract();
  EXPECT_FALSE(Exists("bin\\P\\bad.bin"));
  // No temporary file is left behind either.
  EXPECT_EQ(std::distance(fs::directory_iterator(Written("bin\\P")), fs::directory_iterator()), 1);
  ASSERT_EQ(ui.messages.size(), 2u);
  EXPECT_EQ(ui.messages[0].text, c.message);
  EXPECT_EQ(ui.messages[0].severity, ops::Severity::Warning);
  EXPECT_EQ(ui.messages[0].title, "Tarvik");
  EXPECT_EQ(ui.messages[1].text, "Error while extracting " + Written("bin\\P\\bad.bin"));
  EXPECT_EQ(ui.messages[1].severity, ops::Severity::Error);
  EXPECT_EQ(resultText, ResultHead() + "good.txt\r\n");
  EXPECT_EQ(extracted, 1);
}

Bytes Truncated(std::string_view s) {
  Bytes z = Deflate(s);
  z.resize(z.size() / 2);
  return z;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ExtractOldZlibTest,
    ::testing::Values(ZlibFailure{"corrupt", ToBytes("this is not a zlib stream at all"), 100,
                                  "Internal Error: Input file corrupted  "},
                      ZlibFailure{"truncated", Truncated(std::string(4000, 'q') + "tail"), 4004,
                                  "Internal Error: Input file corrupted  "},
                      // A stream that inflates to more than the table says.
                      ZlibFailure{"overlong", Deflate(std::string(3000, 'z')), 2999, "Internal Error: Buffer to small"},
                      // A declared size that deflate cannot reach is refused before allocating.
                      ZlibFailure{"impossible", Deflate("tiny"), std::int64_t{1} << 40,
                                  "Internal Error: Input file corrupted  "}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ExtractOldTest, ShortStreamWritesExactlyWhatZlibProduced) {
  // The table announces more than the stream holds: the file is not padded.
  pkg.Add(OldHeader(kUidR6, 200, 0x0001));
  const Bytes z = Deflate("short");
  const auto at = pkg.Add(z);
  AddRow("bin\\P\\short.txt", 4096, static_cast<std::int64_t>(z.size()), at, static_cast<std::int64_t>(z.size()));
  Load(pkg.bytes, 0);
  Extract();
  EXPECT_EQ(ReadFile(Written("bin\\P\\short.txt")), "short");
}

TEST_F(ExtractOldTest, ReplacesAnExistingFile) {
  pkg.Add(OldHeader(kUidR6, 200, 0x0001));
  AddDeflated("bin\\P\\f.txt", "new");
  Load(pkg.bytes, 0);
  dir.Write("out/bin/P/f.txt", std::string(100, 'o'));
  ui.existingDefault = {ops::ExistingChoice::Overwrite, true};  // the person lets it be replaced
  Extract();
  EXPECT_EQ(ReadFile(Written("bin\\P\\f.txt")), "new");
}

TEST_F(ExtractOldTest, AnEmptyFolderDoesNothing) {
  pkg.Add(OldHeader(kUidR6, 200, 0x0001));
  AddDeflated("bin\\P\\f.txt", "x");
  Load(pkg.bytes, 0);
  Extract("");
  EXPECT_EQ(folder, "");
  EXPECT_FALSE(fs::exists(out + "/bin"));
}

TEST_F(ExtractOldTest, FolderPathIsCutAtNulAndGetsOneSeparator) {
  pkg.Add(OldHeader(kUidR6, 200, 0x0001));
  AddDeflated("bin\\P\\f.txt", "x");
  Load(pkg.bytes, 0);
  Extract(out + std::string(1, '\0') + "garbage");
  EXPECT_EQ(folder, out + "/");
  Extract(out + "/");
  EXPECT_EQ(folder, out + "/");
  EXPECT_EQ(ReadFile(Written("bin\\P\\f.txt")), "x");
}

}  // namespace
}  // namespace tarvik::test
