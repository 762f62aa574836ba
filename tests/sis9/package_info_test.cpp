// Package information: header list lines and PKG header lines of one controller.

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

#include "sis9_fixture.hpp"

namespace tarvik::test {
namespace {

w::Controller Base() {
  w::Controller c;
  c.uid = 0xE1234567;
  c.names = {"Pack"};
  c.vendors = {"Vend"};
  c.vendorUnique = "Unique";
  c.year = 2007;
  c.month0 = 0;
  c.day = 1;
  c.hour = 23;
  c.minute = 59;
  c.second = 7;
  return c;
}

TEST(Info, PlainPackageGivesItsLinesInOrder) {
  w::Controller c = Base();
  c.languages = {1, 2};
  const Viewed v(c);
  const auto& h = v.view.header;
  const std::vector<std::string> tail(h.begin() + 9, h.end());
  EXPECT_EQ(tail, (std::vector<std::string>{"SIS UID: E1234567", "SIS Version: 1, 0, 0", "SIS Date: 1-1-2007",
                                            "SIS Time: 23:59:7", "SIS Type: ,TYPE=SA", "SIS Install Flag: , IU",
                                            "Language: British English", "Language: French"}));
  const auto lines = v.Lines();
  ASSERT_GE(lines.size(), 8u);
  EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 8),
            (std::vector<std::string>{";<---Main SIS File PKG--->", "", ";Date 1-1-2007", ";Time 23:59:7", "&EN, FR",
                                      "#{\"Pack\"}, (0xE1234567),1, 0, 0, IU,TYPE=SA", ":\"Unique\"",
                                      "%{\"Vend\"}"}));
  EXPECT_TRUE(v.package.problems.empty());
}

// A language the two-letter table does not know is written as its number (a builder takes
// it) and listed by number; 6 is Swedish.
TEST(Info, LanguagesWithoutACodeAreNumbers) {
  w::Controller c = Base();
  c.languages = {1, 6, 260};
  c.names = {"A", "B", "C"};
  c.vendors = {"V", "V", "V"};
  const Viewed v(c);
  const auto& h = v.view.header;
  EXPECT_EQ(std::vector<std::string>(h.end() - 3, h.end()),
            (std::vector<std::string>{"Language: British English", "Language: Swedish", "Language: Language 260"}));
  const auto lines = v.Lines();
  EXPECT_NE(std::find(lines.begin(), lines.end(), "&EN, SW, 260"), lines.end()) << v.view.script;
}

// Package information whose members cannot be read where they belong: only what was read is
// shown, never values taken from the wrong place.
TEST(Info, DamagedMembersAreLeftOut) {
  Bytes b = w::Build(Base(), {.deflateController = false, .stub = true});
  // The members of the package information, from byte 16: UID, vendor, names, vendors,
  // version, creation time. Names, version and creation time get a type they cannot have.
  std::size_t at = 16;
  for (int member = 0; member < 6; ++member) {
    const std::size_t length = b[at + 4] | b[at + 5] << 8;
    if (member == 2 || member == 4 || member == 5) b[at] = 0x2F;
    at += 8 + (length + 3) / 4 * 4;
  }
  const Viewed v(b);
  const auto& h = v.view.header;
  for (const char* line : {"SIS Version:", "SIS Date:", "SIS Time:", "SIS Type:"})
    EXPECT_TRUE(std::none_of(h.begin(), h.end(), [&](const std::string& s) { return s.rfind(line, 0) == 0; })) << line;
  EXPECT_NE(std::find(h.begin(), h.end(), "SIS UID: E1234567"), h.end());
  const auto lines = v.Lines();
  EXPECT_NE(std::find(lines.begin(), lines.end(), "#{}, (0xE1234567)"), lines.end()) << v.view.script;
  EXPECT_EQ(v.view.script.find(";Date"), std::string::npos);
  EXPECT_NE(std::find(lines.begin(), lines.end(), "%{\"Vend\"}"), lines.end()) << v.view.script;
}

TEST(Info, SeveralNamesAndVendorsAfterPaddedStrings) {
  w::Controller c = Base();
  c.vendorUnique = "abc";  // 6 bytes, then 2 of padding
  c.names = {"A", "Bee"};
  c.vendors = {"V1", "V22"};
  c.version = {3, 14, 159};
  c.languages = {1, 3};
  const Viewed v(c);
  const auto lines = v.Lines();
  ASSERT_GE(lines.size(), 8u);
  EXPECT_EQ(lines[4], "&EN, GE");
  EXPECT_EQ(lines[5], "#{\"A\",\"Bee\"}, (0xE1234567),3, 14, 159, IU,TYPE=SA");
  EXPECT_EQ(lines[6], ":\"abc\"");
  EXPECT_EQ(lines[7], "%{\"V1\",\"V22\"}");
}

struct FlagCase {
  std::optional<std::uint8_t> flags;
  std::uint8_t type;
  const char* options;
  const char* typeText;
};

class InfoFlags : public ::testing::TestWithParam<FlagCase> {};

TEST_P(InfoFlags, FlagBitsAndInstallTypeReachTheHeaderLine) {
  w::Controller c = Base();
  c.flags = GetParam().flags;
  c.type = GetParam().type;
  const Viewed v(c);
  const auto& h = v.view.header;
  EXPECT_NE(std::find(h.begin(), h.end(), std::string("SIS Install Flag: ") + GetParam().options), h.end());
  EXPECT_NE(std::find(h.begin(), h.end(), std::string("SIS Type: ") + GetParam().typeText), h.end());
  EXPECT_EQ(v.Lines().at(5), std::string("#{\"Pack\"}, (0xE1234567),1, 0, 0") + GetParam().options + GetParam().typeText);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, InfoFlags,
    ::testing::Values(FlagCase{0, 0, ", IU", ",TYPE=SA"}, FlagCase{1, 1, ", IU, SH", ",TYPE=SP"},
                      FlagCase{3, 2, ", IU, SH, NR", ",TYPE=PU"}, FlagCase{4, 3, ", IU, RU", ",TYPE=PA"},
                      FlagCase{8, 4, ", IU, H", ",TYPE=PP"}, FlagCase{0x0F, 9, ", IU, SH, NR, RU, H", ",TYPE=SA"},
                      FlagCase{0x02, 0, ", IU, NR", ",TYPE=SA"},
                      // Early packages end their SISInfo after the type byte.
                      FlagCase{std::nullopt, 1, ", IU", ",TYPE=SP"}));

TEST(Info, OptionsLineFollowsTheProperties) {
  w::Controller c = Base();
  c.options = {{"One", "Un"}, {"Two", "Deux"}};
  c.properties = {{1, 5}, {2, 0}, {7, -2}};
  c.files = {TextFile("!:\\data\\a.txt", "a")};
  const Viewed v(c);
  EXPECT_EQ(v.Body(), (std::vector<std::string>{"+(1=5, 2=0, 7=-2)", "!({\"One\",\"Un\"},{\"Two\",\"Deux\"})",
                                                  "\"\\bin\\pkg\\data\\a.txt\"-\"!:\\data\\a.txt\", FF", "  "}));
}

TEST(Info, NoOptionsNoPropertiesNoLines) {
  w::Controller c = Base();
  const Viewed v(c);
  EXPECT_EQ(v.Body(), (std::vector<std::string>{"  "}));
}

TEST(Info, EveryTargetDeviceAndDependencyGetsItsLine) {
  w::Controller c = Base();
  c.targets = {{0x101F7961, {0, 0, 0}, {}, {"S60", "S60 FR"}},
               {0x1028315F, {5, 0, -1}, w::Version{5, 9, -1}, {"S60 5th"}},
               {0x20022E6D, {0, 0, 0}, {}, {}}};
  c.dependencies = {{0xE0F00002, {1, 0, 0}, w::Version{2, 5, 0}, {"Child"}},
                    {0x10202BE9, {-1, -1, -1}, {}, {"Qt"}}};
  const Viewed v(c);
  EXPECT_EQ(v.Body(), (std::vector<std::string>{
                            "[0x101F7961], 0, 0, 0, {\"S60\", \"S60 FR\"}",
                            "[0x1028315F], 5, 0, *~5, 9, *, {\"S60 5th\"}",
                            "[0x20022E6D], 0, 0, 0, {}",
                            "(0xE0F00002), 1, 0, 0~2, 5, 0, {\"Child\"}",
                            "(0x10202BE9), *, *, *, {\"Qt\"}",
                            "  "}));
}

TEST(Info, DependencyWithoutTargetDeviceIsWritten) {
  w::Controller c = Base();
  c.dependencies = {{0xE0F00004, {1, 0, 0}, {}, {"FileOps"}}};
  const Viewed v(c);
  EXPECT_EQ(v.Body(), (std::vector<std::string>{"(0xE0F00004), 1, 0, 0, {\"FileOps\"}", "  "}));
}

struct LogoCase {
  const char* mime;
  const char* target;
  const char* source;  // after assembly, with an empty default source folder
};

class InfoLogo : public ::testing::TestWithParam<LogoCase> {};

TEST_P(InfoLogo, LogoLineAndFileRow) {
  w::Controller c = Base();
  w::File logo = TextFile(GetParam().target, "PNGDATA");
  logo.op = 3;
  logo.options = 0x800A;
  logo.mime = GetParam().mime;
  c.logo = logo;
  c.files = {TextFile("!:\\data\\a.txt", "a")};
  const Viewed v(c);
  // The logo line comes right after the vendor names (no prerequisites, properties, options).
  const auto lines = v.Lines();
  const auto vendors = std::find(lines.begin(), lines.end(), "%{\"Vend\"}");
  ASSERT_NE(vendors, lines.end());
  ASSERT_NE(vendors + 1, lines.end());
  EXPECT_EQ(vendors[1], std::string("=\"") + GetParam().source + "\", \"" + GetParam().mime + "\",\"" +
                            GetParam().target + "\"");
  ASSERT_EQ(v.view.files.size(), 2u);
  const views::FileRow& r = v.view.files[0];
  ASSERT_NE(r.entry, nullptr);
  EXPECT_EQ(r.entry->mime, GetParam().mime);
  EXPECT_EQ("\\" + r.extractPath, GetParam().source);
  EXPECT_EQ(v.Data(r), "PNGDATA");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, InfoLogo,
    ::testing::Values(LogoCase{"image/png", "!:\\resource\\apps\\logo.png", "\\bin\\pkg\\resource\\apps\\logo.png"},
                      LogoCase{"image/png", "", "\\bin\\pkg\\LogoFileIndex10.png"},
                      LogoCase{"image/vnd.wap.wbmp", "", "\\bin\\pkg\\LogoFileIndex10.wbmp"},
                      LogoCase{"image/jpeg", "", "\\bin\\pkg\\LogoFileIndex10.jpeg"},
                      LogoCase{"image/x-epoc-mbm", "", "\\bin\\pkg\\LogoFileIndex10.mbm"},
                      LogoCase{"application/other", "", "\\bin\\pkg\\LogoFileIndex10.bmp"}));

TEST(Info, EmbeddedPackageHasItsOwnHeaderLine) {
  w::Controller child = Base();
  child.uid = 0xE0000002;
  child.names = {"Child"};
  child.flags = 1;
  w::Controller c = Base();
  c.embedded = {child};
  const Viewed v(c);
  const auto rows = v.Lines();
  EXPECT_NE(std::find(rows.begin(), rows.end(), "#{\"Child\"}, (0xE0000002),1, 0, 0, SH,TYPE=SA"), rows.end());
  EXPECT_NE(std::find(rows.begin(), rows.end(), "#{\"Pack\"}, (0xE1234567),1, 0, 0, IU,TYPE=SA"), rows.end());
}

}  // namespace
}  // namespace tarvik::test
