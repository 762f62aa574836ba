// Header, languages, component names, requisites and capabilities of pre-9.x packages,
// and the head of the PKG script they give.

#include "sis_old/sis_old.hpp"

#include <gtest/gtest.h>

#include "old_fixture.hpp"

namespace tarvik::test {
namespace {

using HeadTest = OldPackageTest;

TEST_F(HeadTest, MinimalPackageGivesHeadAndOneFileLine) {
  OldPackage pkg;
  pkg.uid1 = 0x10F0ABCD;
  pkg.major = 2;
  pkg.minor = 31;
  pkg.variant = 4000000000u;
  pkg.records = {OldFile("C:\\x\\a.txt", "!:\\system\\apps\\a\\a.txt")};
  EXPECT_EQ(Open(pkg),
            ";<--------Pre Symbian 9.x SIS File-------->\r\n"
            "\r\n"
            "&EN\r\n"
            "#{\"Test\"}, (0x10F0ABCD), 2, 31, 4000000000, IUNICODE, TYPE=SISAPP\r\n"
            "\"C:\\x\\a.txt\"-\"!:\\system\\apps\\a\\a.txt\", FILE\r\n");
  EXPECT_TRUE(ui.messages.empty());
  EXPECT_EQ(app.state.dataMark, 1);
  EXPECT_EQ(app.state.formatMarker, 0);
}

TEST_F(HeadTest, OptionAndTypeWords) {
  struct Case {
    std::uint16_t options;
    std::uint16_t type;
    const char* tail;
  };
  const Case cases[] = {
      {0x0001, 0, ", IUNICODE, TYPE=SISAPP"},
      {0x0011, 1, ", SHUTDOWNAPPS, TYPE=SISSYSTEM"},
      {0x0019, 2, ", SHUTDOWNAPPS, NOCOMPRESS, TYPE=SISOPTION"},
      {0x0009, 3, ", NOCOMPRESS, TYPE=SISCONFIG"},
      {0x0000, 4, ", , TYPE=SISPATCH"},
      {0x0002, 5, ", , "},
      {0x0003, 0, ", , TYPE=SISAPP"},
  };
  for (const Case& c : cases) {
    OldPackage pkg;
    pkg.options = c.options;
    pkg.type = c.type;
    const auto lines = Lines(pkg);
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[3], std::string("#{\"Test\"}, (0x10F00001), 1, 0, 0") + c.tail) << c.options;
  }
}

TEST_F(HeadTest, LanguagesAndNamesAreListedInReverseFileOrder) {
  OldPackage pkg;
  pkg.languages = {1, 2, 3};
  pkg.names = {"Name EN", "Name FR", "Name GE"};
  const auto lines = Lines(pkg);
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(lines[2], "&GE, FR, EN");
  EXPECT_EQ(lines[3], "#{\"Name GE\", \"Name FR\", \"Name EN\"}, (0x10F00001), 1, 0, 0, IUNICODE, TYPE=SISAPP");
}

TEST_F(HeadTest, NoLanguagesGiveBareLanguageAndComponentLines) {
  OldPackage pkg;
  pkg.languages = {};
  pkg.names = {};
  const auto lines = Lines(pkg);
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(lines[2], "&");
  EXPECT_EQ(lines[3], "#{0x10F00001), 1, 0, 0, IUNICODE, TYPE=SISAPP");
}

TEST_F(HeadTest, LanguageZeroAndUnknownNumbers) {
  OldPackage pkg;
  pkg.languages = {0, 150};
  pkg.names = {"a", "b"};
  const auto lines = Lines(pkg);
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[2], "&, Test");
}

TEST_F(HeadTest, MoreThan200LanguagesEndInTheInternalError) {
  OldPackage pkg;
  pkg.languageCount = 201;
  EXPECT_EQ(Open(pkg), "");
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].text, kInternalErrorText);
  EXPECT_EQ(ui.messages[0].style, msg::Critical);
  EXPECT_EQ(ui.messages[0].title, "Tarvik");
}

TEST_F(HeadTest, UnknownReleaseMarkWarnsAndGoesOn) {
  OldPackage pkg;
  pkg.uid2 = 0x12345678;
  pkg.records = {OldFile("C:\\a.txt", "!:\\a.txt")};
  const std::string text = Open(pkg);
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].text, "Unknown SIS file version!");
  EXPECT_EQ(ui.messages[0].style, msg::Exclamation);
  EXPECT_EQ(ui.messages[0].title, "Tarvik");
  EXPECT_NE(text.find("\"C:\\a.txt\"-\"!:\\a.txt\", FILE\r\n"), std::string::npos);
}

TEST_F(HeadTest, OnlyUid3DecidesTheGeneration) {
  OldPackage other;
  other.uid3 = 0x10000420;
  Open(other);
  EXPECT_EQ(ui.text.find("Pre Symbian"), std::string::npos);
  EXPECT_TRUE(app.stores.ListView3.Empty());

  // The bytes 10 00 04 19 in file order are not the UID.
  Bytes bytes = BuildOldSis(OldPackage{});
  bytes[8] = 0x10;
  bytes[9] = 0x00;
  bytes[10] = 0x04;
  bytes[11] = 0x19;
  EXPECT_EQ(OpenBytes(bytes).find("Pre Symbian"), std::string::npos);

  OldPackage odd;
  odd.uid1 = 0x10201A7A;  // the 9.x mark in UID 1 does not matter here
  odd.uid2 = 0x1000006D;
  odd.installerVersion = 100;
  EXPECT_EQ(Open(odd).rfind(";<--------Pre Symbian 9.x SIS File-------->", 0), 0u);
}

TEST_F(HeadTest, EmptyFileGivesNothingAndNoMessage) {
  EXPECT_EQ(OpenBytes(Bytes{}), "");
  EXPECT_TRUE(ui.messages.empty());
}

TEST_F(HeadTest, TruncatedHeaderDecodesAsShortValues) {
  Bytes bytes = BuildOldSis(OldPackage{});
  bytes.resize(12);
  const std::string text = OpenBytes(bytes);
  EXPECT_TRUE(ui.HasMessage("Unknown SIS file version!") || ui.messages.empty());
  EXPECT_FALSE(InternalError());
  EXPECT_NE(text.find("&\r\n#{0x10F00001), 0, 0, 0, , \r\n"), std::string::npos) << text;
}

TEST_F(HeadTest, RequisitesAreListedLastFirstWithReversedNames) {
  OldPackage pkg;
  pkg.languages = {1, 2};
  pkg.names = {"N1", "N2"};
  pkg.requisites = {{0x10000001, 1, 2, 3, {"A en", "A fr"}}, {0x1000000B, 4, 5, 4294967295u, {"B en", "B fr"}}};
  const auto lines = Lines(pkg);
  ASSERT_GE(lines.size(), 6u);
  EXPECT_EQ(lines[4], "(0x1000000B), 4, 5, 4294967295, {\"B fr\", \"B en\"}");
  EXPECT_EQ(lines[5], "(0x10000001), 1, 2, 3, {\"A fr\", \"A en\"}");
}

TEST_F(HeadTest, CapabilitiesArePairsOfKeyAndSignedValue) {
  OldPackage pkg;
  pkg.capabilities = {{1, 4}, {0, 1}, {7, 0xFFFFFFFF}, {2147483647u, 0x80000000}};
  const auto lines = Lines(pkg);
  ASSERT_GE(lines.size(), 5u);
  EXPECT_EQ(lines[4], "+(1=4, 0=1, 7=-1, 2147483647=-2147483648)");

  OldPackage none;
  const auto noLines = Lines(none);
  for (const std::string& l : noLines) EXPECT_NE(l.rfind("+(", 0), 0u) << l;
}

TEST_F(HeadTest, CapabilityKeyThatDoesNotFitEndsInTheInternalError) {
  OldPackage pkg;
  pkg.capabilities = {{0x80000000u, 1}};
  EXPECT_EQ(Open(pkg), "");
  EXPECT_TRUE(InternalError());
}

TEST_F(HeadTest, NamesAreSingleByteWithoutUnicodeOption) {
  OldPackage pkg;
  pkg.options = 0x0000;
  pkg.names = {"Caf\xC3\xA9 \xE2\x82\xAC"};  // é and the euro sign, both in Windows-1252
  const Bytes bytes = BuildOldSis(pkg);
  const auto lines = SplitCrLf(OpenBytes(bytes));
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(lines[3], "#{\"Caf\xC3\xA9 \xE2\x82\xAC\"}, (0x10F00001), 1, 0, 0, , TYPE=SISAPP");
}

TEST_F(HeadTest, NameLengthThatDoesNotFitEndsInTheInternalError) {
  OldPackage pkg;
  Bytes bytes = BuildOldSis(pkg);
  // The component-name record holds the length first.
  const std::size_t names = bytes[64] | bytes[65] << 8 | bytes[66] << 16 | static_cast<std::size_t>(bytes[67]) << 24;
  bytes[names + 3] = 0x80;
  EXPECT_EQ(OpenBytes(bytes), "");
  EXPECT_TRUE(InternalError());
}

TEST(GetText2Test, WideAndNarrowDecoding) {
  FileBuffer buf;
  buf.data = {'A', 0, 'B', 0, 0xE9, 0, 0x41, 0x30, 'z'};
  EXPECT_EQ(sis_old::GetText2(buf, 0, 4, true), "AB");
  EXPECT_EQ(sis_old::GetText2(buf, 4, 4, true), "\xC3\xA9\xE3\x81\x81");  // é, U+3041
  // An odd length takes the byte after the range as the last high byte.
  EXPECT_EQ(sis_old::GetText2(buf, 0, 3, true), "AB");
  EXPECT_EQ(sis_old::GetText2(buf, 4, 1, false), "\xC3\xA9");
  // Past the end: only the bytes inside.
  EXPECT_EQ(sis_old::GetText2(buf, 8, 10, false), "z");
  EXPECT_EQ(sis_old::GetText2(buf, 100, 10, true), "");
  EXPECT_EQ(sis_old::GetText2(buf, 0, 0, true), "");
}

}  // namespace
}  // namespace tarvik::test

namespace tarvik::test {
namespace {

TEST(CompressionRule, Release6LayoutIsDeflatedUnlessNoCompress) {
  struct Case {
    std::uint32_t uid2;
    std::uint32_t installerVersion;
    std::uint16_t options;
    bool release6;
    bool deflated;
  };
  const Case cases[] = {
      {0x10003A12, 200, 0x0001, true, true},   {0x10003A12, 200, 0x0003, true, true},
      {0x10003A12, 200, 0x0009, true, false},  {0x10003A12, 200, 0x0019, true, false},
      {0x10003A12, 100, 0x0001, true, true},   {0x1000006D, 100, 0x0000, false, false},
      {0x1000006D, 100, 0x0002, false, false}, {0x1000006D, 200, 0x0001, true, true},
      {0x12345678, 150, 0x0001, false, false},
  };
  for (const Case& c : cases) {
    OldPackage pkg;
    pkg.uid2 = c.uid2;
    pkg.installerVersion = c.installerVersion;
    pkg.options = c.options;
    FileBuffer buf;
    buf.data = BuildOldSis(pkg);
    EXPECT_EQ(sis_old::Release6Layout(buf), c.release6) << c.uid2 << " " << c.installerVersion;
    EXPECT_EQ(sis_old::FilesAreDeflated(buf), c.deflated) << c.uid2 << " " << c.options;
  }
}

// Every single-byte corruption of a package with every kind of record ends cleanly: either
// a script or the one internal-error message, never a crash.
TEST_F(HeadTest, CorruptedBytesNeverCrash) {
  OldPackage pkg;
  pkg.languages = {1, 2};
  pkg.names = {"a", "b"};
  pkg.requisites = {{0x10000001, 1, 0, 0, {"r1", "r2"}}};
  pkg.capabilities = {{1, 2}};
  pkg.records = {OldEndIf(), OldLangFile("C:\\l.txt", "!:\\l.txt", {"x", "y"}), OldElse(),
                 OldFile("C:\\f.txt", "!:\\f.txt", "z", 3, 0x200), OldOptions({{"o1", "o2"}}),
                 OldIf(oldx::And(oldx::Not(oldx::Exists("e")), oldx::Eq(oldx::Var(0x1000), oldx::Num(1))))};
  const Bytes good = BuildOldSis(pkg);
  // The file on disk keeps its length, so the reader works on the corrupted buffer as given.
  const std::string path = dir.Write("c.sis", good);
  app.state.currentFile = path;
  for (std::size_t i = 12; i < good.size(); ++i) {
    for (std::uint8_t v : {std::uint8_t{0xFF}, std::uint8_t{0x80}, std::uint8_t{0x07}}) {
      Bytes bad = good;
      bad[i] = v;
      ui.messages.clear();
      app.buffer.data = bad;
      const std::string text = sis_old::OpenSISFile2(app);
      for (const auto& m : ui.messages) {
        EXPECT_TRUE(m.text == kInternalErrorText || m.text == "Unknown SIS file version!") << i;
      }
      if (!InternalError()) {
        EXPECT_FALSE(text.empty()) << i;
      }
    }
  }
}

}  // namespace
}  // namespace tarvik::test
