// The record list of pre-9.x packages: file records of both kinds and every type, option
// records, the records and entries read, the file table that extraction reads, the body
// lines, and where the walk ends.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "old_fixture.hpp"

namespace tarvik::test {
namespace {

using model::Problem;

TEST(OldRecords, FileLinesByTypeAndDetails) {
  struct Case {
    std::uint32_t type;
    std::uint32_t details;
    const char* line;
  };
  const Case cases[] = {
      {0, 0, R"("C:\s.txt"-"!:\d\f.txt", FILE)"},
      {1, 0, R"("C:\s.txt"-"",FILETEXT, TEXTCONTINUE)"},
      {1, 1, R"("C:\s.txt"-"",FILETEXT, TEXTSKIP)"},
      {1, 2, R"("C:\s.txt"-"",FILETEXT, TEXTABORT)"},
      {1, 3, R"("C:\s.txt"-"",FILETEXT, TEXTEXIT)"},
      {1, 9, R"("C:\s.txt"-"",FILETEXT)"},
      {3, 0x000, R"("C:\s.txt"-"!:\d\f.txt", FILERUN, RUNINSTALL)"},
      {3, 0x001, R"("C:\s.txt"-"!:\d\f.txt", FILERUN, RUNREMOVE)"},
      {3, 0x002, R"("C:\s.txt"-"!:\d\f.txt", FILERUN, RUNBOTH)"},
      {3, 0x100, R"("C:\s.txt"-"!:\d\f.txt", FILERUN, RUNINSTALL, RUNSENDEND)"},
      {3, 0x200, R"("C:\s.txt"-"!:\d\f.txt", FILERUN, RUNINSTALL, RUNWAITEND)"},
      {3, 0x201, R"("C:\s.txt"-"!:\d\f.txt", FILERUN, RUNREMOVE,RUNWAITEND)"},
      {3, 0x202, R"("C:\s.txt"-"!:\d\f.txt", FILERUN, RUNBOTH, RUNWAITEND)"},
      {3, 0x300, R"("C:\s.txt"-"!:\d\f.txt", FILERUN)"},
      {4, 0, R"(""-"!:\d\f.txt", FILENULL)"},
      {2, 0x10F00002, R"(@"C:\s.txt",(0x10F00002))"},
      {5, 0, R"("C:\s.txt"-"!:\d\f.txt", FILEMIME)"},
      {5, 0x100, R"("C:\s.txt"-"!:\d\f.txt", FILEMIME, RUNSENDEND)"},
      {5, 0x200, R"("C:\s.txt"-"!:\d\f.txt", FILEMIME, RUNWAITEND)"},
  };
  for (const Case& c : cases) {
    OldPackage pkg;
    pkg.records = {OldFile("C:\\s.txt", "!:\\d\\f.txt", "data", c.type, c.details)};
    const OldRead r = ReadOld(pkg);
    EXPECT_EQ(r.Body(), std::vector<std::string>{c.line}) << c.type << " " << c.details;
    EXPECT_TRUE(r.package.problems.empty()) << c.type << " " << c.details;
  }
}

TEST(OldRecords, UnknownFileTypeWritesNoLineButKeepsTheFile) {
  OldPackage pkg;
  pkg.records = {OldFile("C:\\s.txt", "!:\\d\\f.txt", "data", 7), OldFile("C:\\t.txt", "!:\\t.txt")};
  const OldRead r = ReadOld(pkg);
  EXPECT_EQ(r.Body(), std::vector<std::string>{R"("C:\t.txt"-"!:\t.txt", FILE)"});
  EXPECT_EQ(r.view.files.size(), 2u);
}

TEST(OldRecords, MimeTypeIsWrittenAndKept) {
  OldPackage pkg;
  OldRecord mime = OldFile("C:\\doc.txt", "!:\\doc.txt", "hello", 5, 0x200);
  mime.mime = "text/plain";
  pkg.records = {mime, OldFile("C:\\b.txt", "!:\\b.txt")};
  const OldRead r = ReadOld(pkg);
  EXPECT_EQ(r.Body(), (std::vector<std::string>{R"("C:\b.txt"-"!:\b.txt", FILE)",
                                                R"("C:\doc.txt"-"!:\doc.txt", FILEMIME, "text/plain", RUNWAITEND)"}));
  EXPECT_EQ(r.package.records[0].mime, "text/plain");
  EXPECT_EQ(r.package.records[1].mime, "");
}

TEST(OldRecords, FileTableOfSingleFileRecords) {
  OldPackage pkg;
  OldLayout layout;
  pkg.records = {OldFile("C:\\src\\x.app", "!:\\system\\apps\\x\\x.app", std::string(300, 'a')),
                 OldFile("C:\\src\\e.sis", "", "child", 2, 0x10F00002)};
  const OldRead r = ReadOld(BuildOldSis(pkg, layout), "My Pkg.v1.sis");
  const auto& files = r.view.files;
  ASSERT_EQ(files.size(), 2u);
  EXPECT_EQ(files[0].extractPath, "bin\\My Pkg\\system\\apps\\x\\x.app");
  EXPECT_EQ(files[0].uncompressedSize, 300u);
  EXPECT_EQ(files[0].compressedSize, layout.storedLengths[0][0]);
  EXPECT_EQ(files[0].offset, static_cast<std::int64_t>(layout.dataOffsets[0][0]));
  // An empty destination: the source without its first three characters.
  EXPECT_EQ(files[1].extractPath, "bin\\My Pkg\\src\\e.sis");

  ASSERT_EQ(r.package.records.size(), 2u);
  const model::Record& embedded = r.package.records[1];
  EXPECT_EQ(embedded.fileType, 2u);
  EXPECT_EQ(embedded.details, 0x10F00002u);
  EXPECT_EQ(embedded.source, "C:\\src\\e.sis");
  EXPECT_EQ(embedded.target, "");
}

TEST(OldRecords, LanguageFilesGetNumberedNamesAcrossRecords) {
  OldPackage pkg;
  pkg.languages = {1, 2};  // English then French, in file order
  pkg.names = {"EN", "FR"};
  pkg.records = {OldLangFile("C:\\work\\res.rsc", "!:\\r\\res.rsc", {"english", "french!"}),
                 OldLangFile("C:\\work\\noext", "!:\\r\\noext", {"e2", "f2"})};
  const OldRead r = ReadOld(pkg);
  EXPECT_EQ(r.Body(), (std::vector<std::string>{
                          R"~({"French Source file(4)" "noext"}-"!:\r\noext", FILE)~",
                          R"({"French Source file(2).rsc" "res.rsc"}-"!:\r\res.rsc", FILE)",
                      }));
  const auto& files = r.view.files;
  ASSERT_EQ(files.size(), 4u);
  EXPECT_EQ(files[0].extractPath, "bin\\pkg\\res.rsc");
  EXPECT_EQ(files[0].uncompressedSize, 7u);
  EXPECT_EQ(files[1].extractPath, "bin\\pkg\\French Source file(2).rsc");
  EXPECT_EQ(files[1].uncompressedSize, 7u);
  // The unpacked size of every entry, per record.
  std::vector<std::vector<std::uint64_t>> sizes;
  for (const model::Record& rec : r.package.records) {
    sizes.emplace_back();
    for (const model::FileEntry& e : rec.entries) sizes.back().push_back(e.uncompressedSize);
  }
  EXPECT_EQ(sizes, (std::vector<std::vector<std::uint64_t>>{{7, 7}, {2, 2}}));
}

// Variants of one target (an If/Else pair, or names that differ in case only, non-ASCII
// letters too) would be extracted to one path: in script order the first keeps its name, later
// ones get " (2)", in the table, the language blocks of the script and the extraction alike.
TEST(OldRecords, VariantsOfOneTargetGetDistinctNames) {
  OldPackage pkg;
  pkg.languages = {1};
  pkg.names = {"P"};
  // File order is the reverse of the script's: If, a\v.dll, Else, b\v.dll, EndIf.
  pkg.records = {OldEndIf(),
                 OldFile("C:\\b\\v.dll", "!:\\sys\\v.dll", "else"),
                 OldElse(),
                 OldFile("C:\\a\\v.dll", "!:\\sys\\v.dll", "if"),
                 OldIf(oldx::Eq(oldx::Var(0x1000), oldx::Num(1))),
                 OldFile("C:\\V.DLL", "!:\\SYS\\V.DLL", "upper"),
                 OldFile("C:\\\xC3\xA9t\xC3\xA9.txt", "!:\\\xC3\xA9t\xC3\xA9.txt", "lower"),
                 OldFile("C:\\\xC3\x89t\xC3\xA9.txt", "!:\\\xC3\x89t\xC3\xA9.txt", "upper"),
                 OldLangFile("C:\\w\\res.rsc", "!:\\r\\res.rsc", {"second"}),
                 OldLangFile("C:\\w\\res.rsc", "!:\\r\\res.rsc", {"first"})};
  const OldRead r = ReadOld(pkg);
  std::vector<std::string> paths;
  for (const views::FileRow& row : r.view.files) paths.push_back(row.extractPath);
  EXPECT_EQ(paths, (std::vector<std::string>{"bin\\pkg\\sys\\v (3).dll", "bin\\pkg\\sys\\v (2).dll",
                                             "bin\\pkg\\SYS\\V.DLL", "bin\\pkg\\\xC3\xA9t\xC3\xA9 (2).txt",
                                             "bin\\pkg\\\xC3\x89t\xC3\xA9.txt", "bin\\pkg\\res (2).rsc",
                                             "bin\\pkg\\res.rsc"}));
  const auto body = r.Body();
  EXPECT_EQ(body.front(), R"({"res.rsc"}-"!:\r\res.rsc", FILE)");
  EXPECT_EQ(body[1], R"({"res (2).rsc"}-"!:\r\res.rsc", FILE)");

  // Extraction writes every variant.
  TempDir dir;
  const std::string file = dir.Write("pkg.sis", BuildOldSis(pkg));
  const CliResult x = RunCli("extract --quiet '" + file + "' '" + (dir / "out") + "'", dir);
  EXPECT_EQ(x.status, 0) << x.err;
  for (const std::string& path : paths) {
    std::string native = path;
    std::replace(native.begin(), native.end(), '\\', '/');
    EXPECT_TRUE(std::filesystem::exists(dir / ("out/" + native))) << path;
  }
}

TEST(OldRecords, LanguageBlocksForEmbeddedNullAndMimeRecords) {
  OldPackage pkg;
  pkg.languages = {1, 2};
  pkg.names = {"EN", "FR"};
  OldRecord embedded = OldLangFile("C:\\c.sis", "", {"a", "b"}, 2);
  embedded.details = 0x10F00009;
  OldRecord mime = OldLangFile("C:\\m.txt", "!:\\m.txt", {"a", "b"}, 5);
  mime.mime = "text/plain";
  pkg.records = {embedded, OldLangFile("", "!:\\n.dat", {"", ""}, 4), mime};
  EXPECT_EQ(ReadOld(pkg).Body(), (std::vector<std::string>{
                                     R"({"French Source file(6).txt" "m.txt"}-"!:\m.txt", FILEMIME, "text/plain")",
                                     R"(""-"!:\n.dat", FILENULL)",
                                     R"({@"French Source file(2).sis" @"c.sis"},(0x10F00009))",
                                 }));
}

TEST(OldRecords, OptionRecordListsOptionsAndLanguagesInReverse) {
  OldPackage pkg;
  pkg.languages = {2, 1};
  pkg.names = {"FR", "EN"};
  pkg.records = {OldOptions({{"B fr", "B en"}, {"A fr", "A en"}}), OldFile("C:\\a", "!:\\a")};
  EXPECT_EQ(ReadOld(pkg).Body(),
            (std::vector<std::string>{R"("C:\a"-"!:\a", FILE)", R"(!({"A en", "A fr"},{"B en", "B fr"}))"}));
}

TEST(OldRecords, OldLayoutRecordsAreShortAndStored) {
  OldPackage pkg;
  pkg.uid2 = 0x1000006D;
  pkg.installerVersion = 100;
  pkg.options = 0x0002;
  pkg.languages = {1, 2};
  pkg.names = {"Caf\xC3\xA9", "Fr"};
  OldLayout layout;
  pkg.records = {OldFile("C:\\\xC3\xA9t\xC3\xA9.txt", "!:\\system\\apps\\a\\\xC3\xA9.txt", "plain data"),
                 OldLangFile("C:\\l.txt", "!:\\l.txt", {"en", "fr!"}), OldEndIf(),
                 OldFile("C:\\b.txt", "!:\\b.txt", "bb", 3, 0x200)};
  const Bytes bytes = BuildOldSis(pkg, layout);
  EXPECT_EQ(layout.recordOffsets[1] - layout.recordOffsets[0], 36u);  // 28 + 8
  EXPECT_EQ(layout.recordOffsets[2] - layout.recordOffsets[1], 44u);  // 28 + 16
  const OldRead r = ReadOld(bytes);
  EXPECT_TRUE(r.package.problems.empty());
  const auto lines = r.Lines();
  ASSERT_EQ(lines.size(), 8u);
  EXPECT_EQ(lines[3], "#{\"Fr\", \"Caf\xC3\xA9\"}, (0x10F00001), 1, 0, 0, DISTRIBUTABLE, TYPE=SISAPP");
  EXPECT_EQ(lines[4], R"("C:\b.txt"-"!:\b.txt", FILERUN, RUNINSTALL, RUNWAITEND)");
  EXPECT_EQ(lines[5], "EndIf");
  EXPECT_EQ(lines[6], R"({"French Source file(2).txt" "l.txt"}-"!:\l.txt", FILE)");
  EXPECT_EQ(lines[7], "\"C:\\\xC3\xA9t\xC3\xA9.txt\"-\"!:\\system\\apps\\a\\\xC3\xA9.txt\", FILE");
  const auto& files = r.view.files;
  ASSERT_EQ(files.size(), 4u);
  EXPECT_EQ(files[0].uncompressedSize, 10u);
  EXPECT_EQ(files[0].compressedSize, 10u);
  EXPECT_EQ(files[0].offset, static_cast<std::int64_t>(layout.dataOffsets[0][0]));
  EXPECT_EQ(files[2].uncompressedSize, 3u);
  EXPECT_EQ(files[3].extractPath, "bin\\pkg\\b.txt");
}

TEST(OldRecords, Release6MarkWithInstallerVersion100KeepsTheLongLayout) {
  OldPackage pkg;
  pkg.installerVersion = 100;
  pkg.records = {OldFile("C:\\a.txt", "!:\\a.txt", "aaaa"), OldFile("C:\\b.txt", "!:\\b.txt", "bbbbbb")};
  const OldRead r = ReadOld(pkg);
  EXPECT_EQ(r.Body(), (std::vector<std::string>{R"("C:\b.txt"-"!:\b.txt", FILE)", R"("C:\a.txt"-"!:\a.txt", FILE)"}));
  ASSERT_EQ(r.view.files.size(), 2u);
  EXPECT_EQ(r.view.files[1].uncompressedSize, 6u);
}

TEST(OldRecords, UnknownReleaseMarkWithInstallerVersion200ReadsMime) {
  OldPackage pkg;
  pkg.uid2 = 0x10001234;
  OldRecord mime = OldFile("C:\\doc.txt", "!:\\doc.txt", "hello", 5);
  mime.mime = "text/html";
  pkg.records = {mime};
  EXPECT_EQ(ReadOld(pkg).Body(), std::vector<std::string>{R"("C:\doc.txt"-"!:\doc.txt", FILEMIME, "text/html")"});
}

TEST(OldRecords, WalkReadsExactlyTheCountedRecordsInFileOrder) {
  OldPackage pkg;
  pkg.records = {OldEndIf(), OldFile("C:\\1", "!:\\1"), OldElse(), OldFile("C:\\2", "!:\\2"),
                 OldIf(oldx::Eq(oldx::Var(0x1000), oldx::Num(1)))};
  EXPECT_EQ(ReadOld(pkg).Body(), (std::vector<std::string>{"If Language = 0x00000001", R"("C:\2"-"!:\2", FILE)",
                                                           "Else", R"("C:\1"-"!:\1", FILE)", "EndIf"}));

  // A count short of the list stops early; a count beyond it reads nothing after the list.
  pkg.recordCount = 2;
  EXPECT_EQ(ReadOld(pkg).Body(), (std::vector<std::string>{R"("C:\1"-"!:\1", FILE)", "EndIf"}));
  pkg.recordCount = 40;
  const OldRead r = ReadOld(pkg);
  EXPECT_EQ(r.Body().size(), 5u);
  EXPECT_EQ(r.FileRecords().size(), 2u);
  EXPECT_FALSE(r.Has(Problem::Kind::Unreadable));
}

// A record the walk cannot get past ends it quietly: what came before stays.
TEST(OldRecords, WalkEndsAtARecordItCannotRead) {
  OldRecord hugeExpression;
  hugeExpression.raw = Bytes{3, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0x7F};
  OldRecord unknownKind;
  unknownKind.raw = Bytes{9, 0, 0, 0, 0, 0, 0, 0};
  OldPackage twoFiles;
  twoFiles.records = {OldFile("C:\\1", "!:\\1"), OldFile("C:\\2", "!:\\2")};
  OldLayout layout;
  Bytes truncated = BuildOldSis(twoFiles, layout);
  truncated.resize(layout.recordOffsets[1] + 20);
  auto between = [](OldRecord middle) {
    OldPackage p;
    p.records = {OldFile("C:\\1", "!:\\1"), std::move(middle), OldFile("C:\\2", "!:\\2")};
    return BuildOldSis(p);
  };

  struct Case {
    const char* name;
    Bytes bytes;
    const char* line;
  };
  const Case cases[] = {
      {"expression size beyond the file", between(hugeExpression), R"("C:\1"-"!:\1", FILE)"},
      {"record of unknown kind", between(unknownKind), R"("C:\1"-"!:\1", FILE)"},
      // The names lie after the records, beyond the cut.
      {"record list cut inside the second record", truncated, R"(""-"", FILE)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const OldRead r = ReadOld(c.bytes);
    EXPECT_EQ(r.Body(), std::vector<std::string>{c.line});
    EXPECT_EQ(r.FileRecords().size(), 1u);
    EXPECT_FALSE(r.Has(Problem::Kind::Unreadable));
  }
}

TEST_F(OldAppTest, DataMarkIsTheHeaderRecordCountAndReopeningReplacesThePackage) {
  OldPackage pkg;
  pkg.records = {OldEndIf(), OldFile("C:\\a", "!:\\a"), OldElse(), OldFile("C:\\b", "!:\\b"),
                 OldIf(oldx::Eq(oldx::Var(0x1000), oldx::Num(1)))};
  Open(pkg);
  EXPECT_EQ(test::FileCountOf(app), 5);
  EXPECT_EQ(test::ViewOf(app).files.size(), 2u);

  pkg.records = {OldFile("C:\\a", "!:\\a")};
  Open(pkg);
  EXPECT_EQ(test::FileCountOf(app), 1);
  ASSERT_TRUE(test::PackageOf(app));
  EXPECT_EQ(test::PackageOf(app)->records.size(), 1u);
  EXPECT_EQ(test::ViewOf(app).files.size(), 1u);
  EXPECT_EQ(SplitCrLf(ui.text).size(), 5u);
}

}  // namespace
}  // namespace tarvik::test
