// Header, languages, component names, requisites and capabilities of pre-9.x packages and
// the head of the PKG script they give; what the window shows for packages that cannot be
// read; the text decoder.

#include <gtest/gtest.h>

#include "old_fixture.hpp"
#include "sis_old/old_text.hpp"

namespace tarvik::test {
namespace {

using model::Problem;
using HeadTest = OldAppTest;

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
  EXPECT_EQ(test::FileCountOf(app), 1);
  EXPECT_EQ(test::KindOf(app), model::Generation::Pre9);
}

TEST(OldHead, OptionAndTypeWords) {
  struct Case {
    std::uint16_t options;
    std::uint16_t type;
    const char* tail;
  };
  const Case cases[] = {
      {0x0001, 0, ", IUNICODE, TYPE=SISAPP"},
      {0x0011, 1, ", IUNICODE, SHUTDOWNAPPS, TYPE=SISSYSTEM"},
      {0x0019, 2, ", IUNICODE, SHUTDOWNAPPS, NOCOMPRESS, TYPE=SISOPTION"},
      {0x0009, 3, ", IUNICODE, NOCOMPRESS, TYPE=SISCONFIG"},
      {0x0000, 4, ", TYPE=SISPATCH"},  // no empty item where there is no option word
      {0x0002, 5, ", DISTRIBUTABLE"},
      {0x0003, 0, ", IUNICODE, DISTRIBUTABLE, TYPE=SISAPP"},
      {0x0004, 0, ", TYPE=SISAPP"},  // compare to major version: no word
  };
  for (const Case& c : cases) {
    OldPackage pkg;
    pkg.options = c.options;
    pkg.type = c.type;
    const auto lines = ReadOld(pkg).Lines();
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[3], std::string("#{\"Test\"}, (0x10F00001), 1, 0, 0") + c.tail) << c.options;
  }
}

TEST(OldHead, LanguageAndComponentLines) {
  struct Case {
    const char* name;
    std::vector<std::uint16_t> languages;
    std::vector<std::string> names;
    std::uint16_t options;
    const char* languageLine;   // nullptr: not checked
    const char* componentLine;  // nullptr: not checked
  };
  const Case cases[] = {
      {"reverse file order", {1, 2, 3}, {"Name EN", "Name FR", "Name GE"}, 0x0001, "&GE, FR, EN",
       "#{\"Name GE\", \"Name FR\", \"Name EN\"}, (0x10F00001), 1, 0, 0, IUNICODE, TYPE=SISAPP"},
      {"no languages", {}, {}, 0x0001, "&", "#{0x10F00001), 1, 0, 0, IUNICODE, TYPE=SISAPP"},
      {"language 0 and a number without a code", {0, 150}, {"a", "b"}, 0x0001, "&150, Test", nullptr},
      // é and the euro sign, both in Windows-1252.
      {"single-byte names", {1}, {"Caf\xC3\xA9 \xE2\x82\xAC"}, 0x0000, nullptr,
       "#{\"Caf\xC3\xA9 \xE2\x82\xAC\"}, (0x10F00001), 1, 0, 0, TYPE=SISAPP"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    OldPackage pkg;
    pkg.languages = c.languages;
    pkg.names = c.names;
    pkg.options = c.options;
    const auto lines = ReadOld(pkg).Lines();
    ASSERT_GE(lines.size(), 4u);
    if (c.languageLine) {
      EXPECT_EQ(lines[2], c.languageLine);
    }
    if (c.componentLine) {
      EXPECT_EQ(lines[3], c.componentLine);
    }
  }
}

TEST(OldHead, RequisitesLastFirstThenCapabilityPairs) {
  OldPackage pkg;
  pkg.languages = {1, 2};
  pkg.names = {"N1", "N2"};
  pkg.requisites = {{0x10000001, 1, 2, 3, {"A en", "A fr"}}, {0x1000000B, 4, 5, 4294967295u, {"B en", "B fr"}}};
  pkg.capabilities = {{1, 4}, {0, 1}, {7, 0xFFFFFFFF}, {2147483647u, 0x80000000}};
  const auto lines = ReadOld(pkg).Lines();
  ASSERT_GE(lines.size(), 7u);
  EXPECT_EQ(lines[4], "(0x1000000B), 4, 5, 4294967295, {\"B fr\", \"B en\"}");
  EXPECT_EQ(lines[5], "(0x10000001), 1, 2, 3, {\"A fr\", \"A en\"}");
  EXPECT_EQ(lines[6], "+(1=4, 0=1, 7=-1, 2147483647=-2147483648)");

  for (const std::string& l : ReadOld(OldPackage{}).Lines()) EXPECT_NE(l.rfind("+(", 0), 0u) << l;
}

TEST_F(HeadTest, UnknownReleaseMarkWarnsAndGoesOn) {
  OldPackage pkg;
  pkg.uid2 = 0x12345678;
  pkg.records = {OldFile("C:\\a.txt", "!:\\a.txt")};
  const std::string text = Open(pkg);
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].text, "Unknown SIS file version!");
  EXPECT_EQ(ui.messages[0].severity, ops::Severity::Warning);
  EXPECT_EQ(ui.messages[0].title, "Tarvik");
  EXPECT_NE(text.find("\"C:\\a.txt\"-\"!:\\a.txt\", FILE\r\n"), std::string::npos);
}

TEST(OldHead, OnlyUid3DecidesTheGeneration) {
  const std::string banner = ";<--------Pre Symbian 9.x SIS File-------->";
  OldPackage other;
  other.uid3 = 0x10000420;
  // The bytes 10 00 04 19 in file order are not the UID.
  Bytes swapped = BuildOldSis(OldPackage{});
  swapped[8] = 0x10;
  swapped[9] = 0x00;
  swapped[10] = 0x04;
  swapped[11] = 0x19;
  for (const Bytes& bytes : {BuildOldSis(other), swapped}) {
    const OldRead r = ReadOld(bytes);
    EXPECT_NE(r.package.generation, model::Generation::Pre9);
    EXPECT_EQ(r.view.script.find("Pre Symbian"), std::string::npos);
  }

  OldPackage odd;
  odd.uid1 = 0x10201A7A;  // the 9.x mark in UID 1 does not matter here
  odd.uid2 = 0x1000006D;
  odd.installerVersion = 100;
  const OldRead r = ReadOld(odd);
  EXPECT_EQ(r.package.generation, model::Generation::Pre9);
  EXPECT_EQ(r.view.script.rfind(banner, 0), 0u);
}

TEST_F(HeadTest, EmptyFileGivesNothingAndNoMessage) {
  EXPECT_EQ(Open(Bytes{}), "");
  EXPECT_TRUE(ui.messages.empty());
  EXPECT_EQ(test::FileCountOf(app), 0);
}

TEST(OldHead, HeaderCutAfterUid3DecodesAsShortValues) {
  Bytes bytes = BuildOldSis(OldPackage{});
  bytes.resize(12);
  const OldRead r = ReadOld(bytes);
  EXPECT_FALSE(r.Has(Problem::Kind::Unreadable));
  EXPECT_NE(r.view.script.find("&\r\n#{0x10F00001), 0, 0, 0\r\n"), std::string::npos) << r.view.script;
}

TEST(OldHead, DeflatedUnlessNoCompressInTheRelease6Layout) {
  // Beyond the cases of the parser test: other option bits beside NOCOMPRESS, and the
  // release-5 mark with each installer version.
  struct Case {
    std::uint32_t uid2;
    std::uint32_t installerVersion;
    std::uint16_t options;
    bool release6;
    bool deflated;
  };
  const Case cases[] = {
      {0x10003A12, 200, 0x0003, true, true},
      {0x10003A12, 200, 0x0019, true, false},
      {0x1000006D, 100, 0x0000, false, false},
      {0x1000006D, 200, 0x0001, true, true},
  };
  for (const Case& c : cases) {
    OldPackage pkg;
    pkg.uid2 = c.uid2;
    pkg.installerVersion = c.installerVersion;
    pkg.options = c.options;
    pkg.records = {OldFile("C:\\a", "!:\\a")};
    const OldRead r = ReadOld(pkg);
    ASSERT_TRUE(r.package.oldHeader);
    EXPECT_EQ(r.package.oldHeader->release6Layout, c.release6) << c.uid2 << " " << c.installerVersion;
    EXPECT_EQ(r.package.oldHeader->deflated, c.deflated) << c.uid2 << " " << c.options;
    ASSERT_EQ(r.view.files.size(), 1u);
    EXPECT_EQ(r.view.files[0].deflated, c.deflated);
  }
}

// Counts and values beyond what the reader can hold: the one internal-error message, no
// text, no file rows and dataMark 0, whatever had been read before.
TEST_F(HeadTest, UnreadablePackagesShowOnlyTheInternalError) {
  using namespace oldx;
  auto withFile = [](std::vector<OldRecord> records) {
    OldPackage p;
    p.records = {OldFile("C:\\a", "!:\\a")};
    p.records.insert(p.records.end(), records.begin(), records.end());
    return p;
  };
  OldPackage languages = withFile({});
  languages.languageCount = 201;
  OldPackage capability = withFile({});
  capability.capabilities = {{0x80000000u, 1}};
  OldExpr chain = Exists("a");
  for (int i = 0; i < 110; ++i) chain = And(chain, Exists("b"));  // 221 tokens
  // The component-name record holds the length first; its top byte makes it too long.
  Bytes nameLength = BuildOldSis(withFile({}));
  const std::size_t names = nameLength[64] | nameLength[65] << 8 | nameLength[66] << 16 |
                            static_cast<std::size_t>(nameLength[67]) << 24;
  nameLength[names + 3] = 0x80;
  // A long chain of NOT nodes before a leaf: far too deep for a recursive reading, and far
  // beyond the token limit for the folding.
  Bytes expr;
  for (int i = 0; i < 100000; ++i) expr.insert(expr.end(), {11, 0, 0, 0});
  expr.insert(expr.end(), {13, 0, 0, 0, 0, 0x10, 0, 0, 0, 0, 0, 0});
  OldRecord deep;
  deep.raw = Bytes{3, 0, 0, 0};
  for (int i = 0; i < 4; ++i) deep.raw->push_back(static_cast<std::uint8_t>(expr.size() >> (8 * i)));
  deep.raw->insert(deep.raw->end(), expr.begin(), expr.end());

  struct Case {
    const char* name;
    Bytes bytes;
  };
  const Case cases[] = {
      {"201 languages", BuildOldSis(languages)},
      {"capability key of 2^31", BuildOldSis(capability)},
      {"component name length", nameLength},
      {"181 options", BuildOldSis(withFile({OldOptions(std::vector<std::vector<std::string>>(181, {"o"}))}))},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Open(c.bytes), "");
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text, kInternalErrorText);
    EXPECT_EQ(ui.messages[0].severity, ops::Severity::Error);
    EXPECT_EQ(ui.messages[0].title, "Tarvik");
    EXPECT_TRUE(test::ViewOf(app).files.empty());
    EXPECT_EQ(test::FileCountOf(app), 0);
  }

  // A long chain of one operator is an ordinary condition; only real nesting has a bound, and
  // hitting it leaves that condition out with a message naming why, not the package.
  std::string chained = "If Exists(\"a\")";
  for (int i = 0; i < 110; ++i) chained += " AND Exists(\"b\")";
  EXPECT_NE(Open(BuildOldSis(withFile({OldIf(chain)}))).find("\r\n" + chained + "\r\n"), std::string::npos)
      << ui.text;
  EXPECT_TRUE(ui.messages.empty());
  const std::string text = Open(BuildOldSis(withFile({deep})));
  EXPECT_NE(text.find("\r\nIf \r\n\"C:\\a\"-\"!:\\a\", FILE\r\n"), std::string::npos) << text;
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_NE(ui.messages[0].text.find("condition nested too deep"), std::string::npos) << ui.messages[0].text;
  EXPECT_EQ(test::ViewOf(app).files.size(), 1u);
  // A damaged tree (2000 AND words and nothing to join) is folded from its nodes only up to a
  // bound; beyond it the condition is left out the same way.
  OldRecord ands;
  ands.raw = Bytes{3, 0, 0, 0, 0x40, 0x1F, 0, 0};  // If, 8000 bytes of expression
  for (int i = 0; i < 2000; ++i) ands.raw->insert(ands.raw->end(), {6, 0, 0, 0});
  EXPECT_NE(Open(BuildOldSis(withFile({ands}))).find("\r\nIf \r\n"), std::string::npos) << ui.text;
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_NE(ui.messages[0].text.find("damaged condition too long"), std::string::npos) << ui.messages[0].text;
}

// Every single-byte corruption of a package with every kind of record ends cleanly: either
// a script or the internal-error message (and then no file rows), never a crash.
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
  for (std::size_t i = 12; i < good.size(); ++i) {
    for (std::uint8_t v : {std::uint8_t{0xFF}, std::uint8_t{0x80}, std::uint8_t{0x07}}) {
      Bytes bad = good;
      bad[i] = v;
      const std::string text = Open(bad, "c.sis");
      for (const auto& m : ui.messages) {
        EXPECT_TRUE(m.text == kInternalErrorText || m.text == "Unknown SIS file version!") << i;
      }
      if (InternalError()) {
        EXPECT_TRUE(test::ViewOf(app).files.empty()) << i;
        EXPECT_EQ(test::FileCountOf(app), 0) << i;
      } else {
        EXPECT_FALSE(text.empty()) << i;
      }
    }
  }
}

TEST(DecodeText, WideAndNarrow) {
  const Bytes bytes = {'A', 0, 'B', 0, 0xE9, 0, 0x41, 0x30, 'z'};
  EXPECT_EQ(sis_old::DecodeText(bytes, 0, 4, true), "AB");
  EXPECT_EQ(sis_old::DecodeText(bytes, 4, 4, true), "\xC3\xA9\xE3\x81\x81");  // é, U+3041
  // An odd length takes the byte after the range as the last high byte.
  EXPECT_EQ(sis_old::DecodeText(bytes, 0, 3, true), "AB");
  EXPECT_EQ(sis_old::DecodeText(bytes, 4, 1, false), "\xC3\xA9");
  // Past the end: only the bytes inside.
  EXPECT_EQ(sis_old::DecodeText(bytes, 8, 10, false), "z");
  EXPECT_EQ(sis_old::DecodeText(bytes, 100, 10, true), "");
  EXPECT_EQ(sis_old::DecodeText(bytes, 0, 0, true), "");
}

}  // namespace
}  // namespace tarvik::test
