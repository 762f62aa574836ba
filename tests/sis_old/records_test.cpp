// The record walk of pre-9.x packages: file records of both kinds and every type, option
// records, the record table, the file table that extraction reads, and the body lines.

#include <gtest/gtest.h>

#include <cstdio>

#include "old_fixture.hpp"

namespace tarvik::test {
namespace {

using RecordTest = OldPackageTest;

TEST_F(RecordTest, FileLinesByTypeAndDetails) {
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
    Open(pkg);
    EXPECT_EQ(Body(), std::vector<std::string>{c.line}) << c.type << " " << c.details;
    EXPECT_TRUE(ui.messages.empty());
  }
}

TEST_F(RecordTest, UnknownFileTypeWritesNoLineButKeepsTheFile) {
  OldPackage pkg;
  pkg.records = {OldFile("C:\\s.txt", "!:\\d\\f.txt", "data", 7), OldFile("C:\\t.txt", "!:\\t.txt")};
  Open(pkg);
  EXPECT_EQ(Body(), std::vector<std::string>{R"("C:\t.txt"-"!:\t.txt", FILE)"});
  EXPECT_EQ(app.stores.ListView2.Count(), 2u);
}

TEST_F(RecordTest, MimeTypeIsWrittenAndKept) {
  OldPackage pkg;
  OldRecord mime = OldFile("C:\\doc.txt", "!:\\doc.txt", "hello", 5, 0x200);
  mime.mime = "text/plain";
  pkg.records = {mime, OldFile("C:\\b.txt", "!:\\b.txt")};
  Open(pkg);
  EXPECT_EQ(Body(), (std::vector<std::string>{R"("C:\b.txt"-"!:\b.txt", FILE)",
                                              R"("C:\doc.txt"-"!:\doc.txt", FILEMIME, "text/plain", RUNWAITEND)"}));
  EXPECT_EQ(app.stores.ListView4.Item(1).Get(5), "text/plain");
}

TEST_F(RecordTest, RecordTableAndFileTableOfAKindZeroRecord) {
  OldPackage pkg;
  OldLayout layout;
  pkg.records = {OldFile("C:\\src\\x.app", "!:\\system\\apps\\x\\x.app", std::string(300, 'a')),
                 OldFile("C:\\src\\e.sis", "", "child", 2, 0x10F00002)};
  const Bytes bytes = BuildOldSis(pkg, layout);
  OpenBytes(bytes, "My Pkg.v1.sis");
  const RecordTable& files = app.stores.ListView2;
  ASSERT_EQ(files.Count(), 2u);
  const Row& first = files.Item(1);
  EXPECT_EQ(first.Text(), "bin\\My Pkg\\system\\apps\\x\\x.app");
  EXPECT_EQ(first.Get(col2::Uncompress), "300");
  EXPECT_EQ(first.Get(col2::Compress), std::to_string(layout.storedLengths[0][0]));
  EXPECT_EQ(first.Get(col2::Offset), std::to_string(layout.dataOffsets[0][0]));
  EXPECT_EQ(first.Get(col2::Length), std::to_string(layout.storedLengths[0][0]));
  EXPECT_EQ(first.Get(col2::Index), "1");
  // An empty destination: the source without its first three characters.
  EXPECT_EQ(files.Item(2).Text(), "bin\\My Pkg\\src\\e.sis");
  EXPECT_EQ(files.Item(2).Get(col2::Index), "2");

  const RecordTable& recs = app.stores.ListView4;
  ASSERT_EQ(recs.Count(), 2u);
  const Row& r1 = recs.Item(1);
  EXPECT_EQ(r1.Text(), "C:\\src\\x.app");
  EXPECT_EQ(r1.Get(1), "!:\\system\\apps\\x\\x.app");
  EXPECT_EQ(r1.Get(2), "FILE");
  EXPECT_EQ(r1.Get(3), "");
  EXPECT_EQ(r1.Get(4), "300 / " + std::to_string(layout.storedLengths[0][0]));
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%08zX", layout.dataOffsets[0][0]);
  EXPECT_EQ(r1.Get(8), hex);
  EXPECT_EQ(recs.Item(2).Get(2), "EMBEDDED SIS");
  EXPECT_EQ(recs.Item(2).Get(6), "0x10F00002");
}

TEST_F(RecordTest, LanguageFilesGetNumberedNamesAcrossRecords) {
  OldPackage pkg;
  pkg.languages = {1, 2};  // English then French, in file order
  pkg.names = {"EN", "FR"};
  pkg.records = {OldLangFile("C:\\work\\res.rsc", "!:\\r\\res.rsc", {"english", "french!"}),
                 OldLangFile("C:\\work\\noext", "!:\\r\\noext", {"e2", "f2"})};
  Open(pkg);
  EXPECT_EQ(Body(), (std::vector<std::string>{
                        R"~({"French Source file(4)" "noext"}-"!:\r\noext", FILE)~",
                        R"({"French Source file(2).rsc" "res.rsc"}-"!:\r\res.rsc", FILE)",
                    }));
  const RecordTable& files = app.stores.ListView2;
  ASSERT_EQ(files.Count(), 4u);
  EXPECT_EQ(files.Item(1).Text(), "bin\\pkg\\res.rsc");
  EXPECT_EQ(files.Item(1).Get(col2::Uncompress), "7");
  EXPECT_EQ(files.Item(2).Text(), "bin\\pkg\\French Source file(2).rsc");
  EXPECT_EQ(files.Item(2).Get(col2::Uncompress), "7");
  EXPECT_EQ(files.Item(2).Get(col2::Index), "1");
  EXPECT_EQ(files.Item(4).Get(col2::Index), "2");
  EXPECT_EQ(app.stores.ListView4.Item(1).Get(7), "7/7");
  EXPECT_EQ(app.stores.ListView4.Item(2).Get(7), "2/2");
}

TEST_F(RecordTest, LanguageBlocksForEmbeddedNullAndMimeRecords) {
  OldPackage pkg;
  pkg.languages = {1, 2};
  pkg.names = {"EN", "FR"};
  OldRecord embedded = OldLangFile("C:\\c.sis", "", {"a", "b"}, 2);
  embedded.details = 0x10F00009;
  OldRecord mime = OldLangFile("C:\\m.txt", "!:\\m.txt", {"a", "b"}, 5);
  mime.mime = "text/plain";
  pkg.records = {embedded, OldLangFile("", "!:\\n.dat", {"", ""}, 4), mime};
  Open(pkg);
  EXPECT_EQ(Body(), (std::vector<std::string>{
                        R"({"French Source file(6).txt" "m.txt"}-"!:\m.txt", FILEMIME, "text/plain")",
                        R"(""-"!:\n.dat", FILENULL)",
                        R"({@"French Source file(2).sis" @"c.sis"},(0x10F00009))",
                    }));
}

TEST_F(RecordTest, OptionRecordListsOptionsAndLanguagesInReverse) {
  OldPackage pkg;
  pkg.languages = {2, 1};
  pkg.names = {"FR", "EN"};
  pkg.records = {OldOptions({{"B fr", "B en"}, {"A fr", "A en"}}), OldFile("C:\\a", "!:\\a")};
  Open(pkg);
  EXPECT_EQ(Body(), (std::vector<std::string>{R"("C:\a"-"!:\a", FILE)", R"(!({"A en", "A fr"},{"B en", "B fr"}))"}));
}

TEST_F(RecordTest, OptionRecordBeyond180OptionsEndsInTheInternalError) {
  OldPackage pkg;
  std::vector<std::vector<std::string>> options(181, std::vector<std::string>{"o"});
  pkg.records = {OldOptions(options)};
  EXPECT_EQ(Open(pkg), "");
  EXPECT_TRUE(InternalError());
}

TEST_F(RecordTest, OldLayoutRecordsAreShortAndStored) {
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
  const auto lines = SplitCrLf(OpenBytes(bytes));
  EXPECT_TRUE(ui.messages.empty());
  ASSERT_EQ(lines.size(), 8u);
  EXPECT_EQ(lines[3], "#{\"Fr\", \"Caf\xC3\xA9\"}, (0x10F00001), 1, 0, 0, , TYPE=SISAPP");
  EXPECT_EQ(lines[4], R"("C:\b.txt"-"!:\b.txt", FILERUN, RUNINSTALL, RUNWAITEND)");
  EXPECT_EQ(lines[5], "EndIf");
  EXPECT_EQ(lines[6], R"({"French Source file(2).txt" "l.txt"}-"!:\l.txt", FILE)");
  EXPECT_EQ(lines[7], "\"C:\\\xC3\xA9t\xC3\xA9.txt\"-\"!:\\system\\apps\\a\\\xC3\xA9.txt\", FILE");
  const RecordTable& files = app.stores.ListView2;
  ASSERT_EQ(files.Count(), 4u);
  EXPECT_EQ(files.Item(1).Get(col2::Uncompress), "10");
  EXPECT_EQ(files.Item(1).Get(col2::Compress), "10");
  EXPECT_EQ(files.Item(1).Get(col2::Offset), std::to_string(layout.dataOffsets[0][0]));
  EXPECT_EQ(files.Item(3).Get(col2::Uncompress), "3");
  EXPECT_EQ(files.Item(4).Text(), "bin\\pkg\\b.txt");
}

TEST_F(RecordTest, Release6MarkWithInstallerVersion100KeepsTheLongLayout) {
  OldPackage pkg;
  pkg.installerVersion = 100;
  pkg.records = {OldFile("C:\\a.txt", "!:\\a.txt", "aaaa"), OldFile("C:\\b.txt", "!:\\b.txt", "bbbbbb")};
  Open(pkg);
  EXPECT_EQ(Body(), (std::vector<std::string>{R"("C:\b.txt"-"!:\b.txt", FILE)", R"("C:\a.txt"-"!:\a.txt", FILE)"}));
  EXPECT_EQ(app.stores.ListView2.Item(2).Get(col2::Uncompress), "6");
}

TEST_F(RecordTest, UnknownReleaseMarkWithInstallerVersion200ReadsMime) {
  OldPackage pkg;
  pkg.uid2 = 0x10001234;
  OldRecord mime = OldFile("C:\\doc.txt", "!:\\doc.txt", "hello", 5);
  mime.mime = "text/html";
  pkg.records = {mime};
  Open(pkg);
  EXPECT_EQ(Body(), std::vector<std::string>{R"("C:\doc.txt"-"!:\doc.txt", FILEMIME, "text/html")"});
}

TEST_F(RecordTest, WalkHandlesExactlyTheCountedRecordsInFileOrder) {
  OldPackage pkg;
  pkg.records = {OldEndIf(), OldFile("C:\\1", "!:\\1"), OldElse(), OldFile("C:\\2", "!:\\2"),
                 OldIf(oldx::Eq(oldx::Var(0x1000), oldx::Num(1)))};
  Open(pkg);
  EXPECT_EQ(Body(), (std::vector<std::string>{"If Language = 0x00000001", R"("C:\2"-"!:\2", FILE)", "Else",
                                              R"("C:\1"-"!:\1", FILE)", "EndIf"}));
  EXPECT_EQ(app.state.dataMark, 5);

  // A count short of the list stops early; a count beyond it reads nothing after the list.
  pkg.recordCount = 2;
  Open(pkg);
  EXPECT_EQ(Body(), (std::vector<std::string>{R"("C:\1"-"!:\1", FILE)", "EndIf"}));
  pkg.recordCount = 40;
  Open(pkg);
  EXPECT_EQ(Body().size(), 5u);
  EXPECT_EQ(app.stores.ListView4.Count(), 2u);
  EXPECT_FALSE(InternalError());
}

TEST_F(RecordTest, WalkStopsAtARecordOfUnknownKind) {
  OldPackage pkg;
  OldRecord junk;
  junk.raw = Bytes{9, 0, 0, 0, 0, 0, 0, 0};
  pkg.records = {OldFile("C:\\1", "!:\\1"), junk, OldFile("C:\\2", "!:\\2")};
  Open(pkg);
  EXPECT_EQ(Body(), std::vector<std::string>{R"("C:\1"-"!:\1", FILE)"});
  EXPECT_FALSE(InternalError());
}

TEST_F(RecordTest, TruncatedRecordListEndsTheWalkCleanly) {
  OldPackage pkg;
  OldLayout layout;
  pkg.records = {OldFile("C:\\1", "!:\\1"), OldFile("C:\\2", "!:\\2")};
  Bytes bytes = BuildOldSis(pkg, layout);
  bytes.resize(layout.recordOffsets[1] + 20);
  OpenBytes(bytes);
  EXPECT_EQ(app.stores.ListView4.Count(), 1u);
  EXPECT_FALSE(InternalError());
}

TEST_F(RecordTest, ExtractionFolderAndBaseNameMakeThePath) {
  OldPackage pkg;
  pkg.records = {OldFile("C:\\a.txt", "c:\\x.txt")};
  OpenBytes(BuildOldSis(pkg), " spaced .sis");
  EXPECT_EQ(app.stores.ListView2.Item(1).Text(), "bin\\spaced\\x.txt");
}

TEST_F(RecordTest, ReopeningReplacesTheTables) {
  OldPackage pkg;
  pkg.records = {OldFile("C:\\a", "!:\\a"), OldFile("C:\\b", "!:\\b")};
  Open(pkg);
  pkg.records.pop_back();
  Open(pkg);
  EXPECT_EQ(app.stores.ListView2.Count(), 1u);
  EXPECT_EQ(app.stores.ListView3.Count(), 1u);
  EXPECT_EQ(app.stores.ListView4.Count(), 1u);
}

}  // namespace
}  // namespace tarvik::test
