// Files that would land on one extraction path (variants of one target in condition
// branches, names differing only in case, ...) get distinct names in the file table and in
// the script, so that the script names each extracted file.

#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <set>

#include "platform/platform.hpp"
#include "sis9_fixture.hpp"

namespace tarvik::test {
namespace {

w::If Branches(std::vector<std::vector<w::File>> branches) {
  w::If i;
  i.cond = w::Eq(w::Lang(), w::Num(1));
  i.files = branches.at(0);
  for (std::size_t b = 1; b < branches.size(); ++b) {
    w::ElseIf e;
    e.cond = b + 1 == branches.size() ? w::Else() : w::Eq(w::Lang(), w::Num(static_cast<std::int32_t>(b + 1)));
    e.files = branches[b];
    i.elseIfs.push_back(e);
  }
  return i;
}

w::File Run(const std::string& target) {
  w::File f = TextFile(target, "MZ");
  f.op = 2;
  f.options = 0x02;
  return f;
}

w::File Text(const std::string& target) {
  w::File f = TextFile(target, "shown");
  f.op = 4;
  f.options = 0x0400;
  return f;
}

struct VariantCase {
  const char* name;
  std::function<w::Controller()> make;
  std::vector<std::string> paths;  // the file table's extraction paths, in order
  std::vector<std::string> lines;  // the script's file lines (those that begin with " or =)
};

void PrintTo(const VariantCase& c, std::ostream* os) { *os << c.name; }

class Variants : public ::testing::TestWithParam<VariantCase> {};

TEST_P(Variants, EachFileGetsItsOwnName) {
  const VariantCase& p = GetParam();
  const Viewed v(p.make());
  EXPECT_TRUE(v.package.problems.empty());
  std::vector<std::string> paths;
  std::set<std::string> seen;
  for (const views::FileRow& r : v.view.files) {
    paths.push_back(r.extractPath);
    // The script's line (a file or the logo) names the file as its source.
    EXPECT_NE(v.view.script.find("\"\\" + r.extractPath + "\""), std::string::npos) << r.extractPath;
    EXPECT_TRUE(seen.insert(ToLower(r.extractPath)).second) << r.extractPath;
  }
  EXPECT_EQ(paths, p.paths);
  std::vector<std::string> fileLines;
  for (const std::string& l : v.Lines())
    if (!l.empty() && (l[0] == '"' || l[0] == '=')) fileLines.push_back(l.substr(0, l.find("  ")));
  EXPECT_EQ(fileLines, p.lines);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Variants,
    ::testing::Values(
        VariantCase{"IfElse",
                    [] {
                      w::Controller c;
                      c.ifs = {Branches({{TextFile("!:\\data\\hello.txt", "hello")},
                                         {TextFile("!:\\data\\hello.txt", "bonjour")}})};
                      return c;
                    },
                    {"bin\\pkg\\data\\hello.txt", "bin\\pkg\\data\\hello (2).txt"},
                    {"\"\\bin\\pkg\\data\\hello.txt\"-\"!:\\data\\hello.txt\", FF",
                     "\"\\bin\\pkg\\data\\hello (2).txt\"-\"!:\\data\\hello.txt\", FF"}},
        VariantCase{"ThreeBranchesNoExtensionDottedFolder",
                    [] {
                      w::Controller c;
                      c.ifs = {Branches({{TextFile("!:\\data.d\\help", "en")},
                                         {TextFile("!:\\data.d\\help", "fr")},
                                         {TextFile("!:\\data.d\\help", "de")}})};
                      return c;
                    },
                    {"bin\\pkg\\data.d\\help", "bin\\pkg\\data.d\\help (2)", "bin\\pkg\\data.d\\help (3)"},
                    {"\"\\bin\\pkg\\data.d\\help\"-\"!:\\data.d\\help\", FF",
                     "\"\\bin\\pkg\\data.d\\help (2)\"-\"!:\\data.d\\help\", FF",
                     "\"\\bin\\pkg\\data.d\\help (3)\"-\"!:\\data.d\\help\", FF"}},
        VariantCase{"CaseAndSeparatorsDoNotMakeADifferentFile",
                    [] {
                      w::Controller c;
                      c.files = {TextFile("!:\\Data\\Hello.TXT", "a"), TextFile("!:\\data//hello.txt", "b")};
                      return c;
                    },
                    {"bin\\pkg\\Data\\Hello.TXT", "bin\\pkg\\data//hello (2).txt"},
                    {"\"\\bin\\pkg\\Data\\Hello.TXT\"-\"!:\\Data\\Hello.TXT\", FF",
                     "\"\\bin\\pkg\\data//hello (2).txt\"-\"!:\\data//hello.txt\", FF"}},
        VariantCase{"NonAsciiCaseDoesNotMakeADifferentFile",
                    [] {
                      w::Controller c;
                      c.files = {TextFile("!:\\d\\\xC3\x89t\xC3\xA9.txt", "a"), TextFile("!:\\d\\\xC3\xA9t\xC3\xA9.txt", "b")};
                      return c;
                    },
                    {"bin\\pkg\\d\\\xC3\x89t\xC3\xA9.txt", "bin\\pkg\\d\\\xC3\xA9t\xC3\xA9 (2).txt"},
                    {"\"\\bin\\pkg\\d\\\xC3\x89t\xC3\xA9.txt\"-\"!:\\d\\\xC3\x89t\xC3\xA9.txt\", FF",
                     "\"\\bin\\pkg\\d\\\xC3\xA9t\xC3\xA9 (2).txt\"-\"!:\\d\\\xC3\xA9t\xC3\xA9.txt\", FF"}},
        VariantCase{"NumberAlreadyTakenIsSkipped",
                    [] {
                      w::Controller c;
                      c.files = {TextFile("!:\\d\\a.txt", "1"), TextFile("!:\\d\\a (2).txt", "2")};
                      c.ifs = {Branches({{TextFile("!:\\d\\a.txt", "3")}, {TextFile("!:\\d\\a.txt", "4")}})};
                      return c;
                    },
                    {"bin\\pkg\\d\\a.txt", "bin\\pkg\\d\\a (2).txt", "bin\\pkg\\d\\a (3).txt",
                     "bin\\pkg\\d\\a (4).txt"},
                    {"\"\\bin\\pkg\\d\\a.txt\"-\"!:\\d\\a.txt\", FF",
                     "\"\\bin\\pkg\\d\\a (2).txt\"-\"!:\\d\\a (2).txt\", FF",
                     "\"\\bin\\pkg\\d\\a (3).txt\"-\"!:\\d\\a.txt\", FF",
                     "\"\\bin\\pkg\\d\\a (4).txt\"-\"!:\\d\\a.txt\", FF"}},
        VariantCase{"RenamedFileMeetsAFileOfThatName",
                    [] {
                      w::Controller c;
                      c.files = {TextFile("!:\\d\\a.txt", "1"), TextFile("!:\\d\\a.txt", "2"),
                                 TextFile("!:\\d\\a (2).txt", "3")};
                      return c;
                    },
                    {"bin\\pkg\\d\\a.txt", "bin\\pkg\\d\\a (2).txt", "bin\\pkg\\d\\a (2) (2).txt"},
                    {"\"\\bin\\pkg\\d\\a.txt\"-\"!:\\d\\a.txt\", FF",
                     "\"\\bin\\pkg\\d\\a (2).txt\"-\"!:\\d\\a.txt\", FF",
                     "\"\\bin\\pkg\\d\\a (2) (2).txt\"-\"!:\\d\\a (2).txt\", FF"}},
        VariantCase{"LeadingDotIsNoExtension",
                    [] {
                      w::Controller c;
                      c.ifs = {Branches({{TextFile("!:\\d\\.cfg", "1")}, {TextFile("!:\\d\\.cfg", "2")}})};
                      return c;
                    },
                    {"bin\\pkg\\d\\.cfg", "bin\\pkg\\d\\.cfg (2)"},
                    {"\"\\bin\\pkg\\d\\.cfg\"-\"!:\\d\\.cfg\", FF", "\"\\bin\\pkg\\d\\.cfg (2)\"-\"!:\\d\\.cfg\", FF"}},
        VariantCase{"RunAndTextLines",
                    [] {
                      w::Controller c;
                      c.ifs = {Branches({{Run("!:\\sys\\bin\\r.exe"), Text("!:\\d\\note.txt")},
                                         {Run("!:\\sys\\bin\\r.exe"), Text("!:\\d\\note.txt")}})};
                      return c;
                    },
                    {"bin\\pkg\\sys\\bin\\r.exe", "bin\\pkg\\d\\note.txt", "bin\\pkg\\sys\\bin\\r (2).exe",
                     "bin\\pkg\\d\\note (2).txt"},
                    {"\"\\bin\\pkg\\sys\\bin\\r.exe\"-\"!:\\sys\\bin\\r.exe\", FR, RI",
                     "\"\\bin\\pkg\\d\\note.txt\"-\"\", FT, TS",
                     "\"\\bin\\pkg\\sys\\bin\\r (2).exe\"-\"!:\\sys\\bin\\r.exe\", FR, RI",
                     "\"\\bin\\pkg\\d\\note (2).txt\"-\"\", FT, TS"}},
        VariantCase{"EmbeddedPackagesAlreadyHaveTheirOwnFolders",
                    [] {
                      w::Controller child;
                      child.uid = 0xE0000002;
                      child.names = {"Child"};
                      child.files = {TextFile("!:\\d\\a.txt", "child")};
                      w::Controller c;
                      c.files = {TextFile("!:\\d\\a.txt", "main")};
                      c.embedded = {child, child};
                      return c;
                    },
                    {"bin\\pkg\\d\\a.txt", "bin\\pkg\\Embedded Components\\Child\\d\\a.txt",
                     "bin\\pkg\\Embedded Components\\Child (2)\\d\\a.txt"},
                    {"\"\\bin\\pkg\\d\\a.txt\"-\"!:\\d\\a.txt\", FF",
                     "\"\\bin\\pkg\\Embedded Components\\Child\\d\\a.txt\"-\"!:\\d\\a.txt\", FF",
                     "\"\\bin\\pkg\\Embedded Components\\Child (2)\\d\\a.txt\"-\"!:\\d\\a.txt\", FF"}},
        VariantCase{"EmbeddedLogoMeetsAMainPackageFile",
                    [] {
                      w::Controller child;
                      child.uid = 0xE0000002;
                      child.names = {"Child"};
                      w::File logo = TextFile("!:\\logo.png", "PNG");
                      logo.op = 3;
                      logo.options = 0x800A;
                      logo.mime = "image/png";
                      child.logo = logo;
                      w::Controller c;
                      c.files = {TextFile("!:\\Embedded Components\\Child\\logo.png", "main")};
                      c.embedded = {child};
                      return c;
                    },
                    {"bin\\pkg\\Embedded Components\\Child\\logo.png",
                     "bin\\pkg\\Embedded Components\\Child\\logo (2).png"},
                    {"\"\\bin\\pkg\\Embedded Components\\Child\\logo.png\"-"
                     "\"!:\\Embedded Components\\Child\\logo.png\", FF",
                     "=\"\\bin\\pkg\\Embedded Components\\Child\\logo (2).png\", \"image/png\",\"!:\\logo.png\""}}),
    [](const ::testing::TestParamInfo<VariantCase>& i) { return std::string(i.param.name); });

}  // namespace
}  // namespace tarvik::test
