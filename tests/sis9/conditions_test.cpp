// Condition blocks: If, ElseIf and EndIf lines and the text of their conditions.

#include <gtest/gtest.h>

#include <algorithm>

#include "sis9_fixture.hpp"

namespace tarvik::test {
namespace {

using w::And;
using w::Eq;
using w::Exists;
using w::Lang;
using w::Not;
using w::Num;
using w::Or;

w::Controller WithIfs(std::vector<w::If> ifs) {
  w::Controller c;
  c.ifs = std::move(ifs);
  return c;
}

w::If IfOf(w::Expr e) {
  w::If i;
  i.cond = std::move(e);
  return i;
}

w::Expr Opt1() { return Eq(w::Option(1), Num(1)); }
w::Expr Opt2() { return Eq(w::Option(2), Num(1)); }
w::Expr Opt3() { return Eq(w::Option(3), Num(1)); }

struct CondCase {
  const char* name;
  w::Expr expr;
  const char* line;
};

class Conditions : public ::testing::TestWithParam<CondCase> {};

TEST_P(Conditions, ConditionIsWrittenAsInfixText) {
  const Viewed v(WithIfs({IfOf(GetParam().expr)}));
  EXPECT_EQ(v.Body(), (std::vector<std::string>{GetParam().line, "EndIf ", "  "}));
  EXPECT_TRUE(v.package.problems.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Conditions,
    ::testing::Values(
        CondCase{"Option", Opt1(), "If  Option1 = 0x00000001"},
        CondCase{"LoneNumber", Num(1), "If  0x00000001"},
        CondCase{"LoneExists", Exists("c:\\sys\\bin\\x.exe"), "If  EXISTS(\"c:\\sys\\bin\\x.exe\")"},
        CondCase{"Package", w::Package(0xE0F00002), "If  PACKAGE(0xE0F00002)"},
        CondCase{"AppProp", w::Bin(w::GE, w::AppProp(0xE0F00002, 1), Num(5)),
                 "If  APPPROP(0xE0F00002,0x00000001) >= 0x00000005"},
        CondCase{"Variable", w::Bin(w::NE, w::Var(5), Num(0x101F4FC3)), "If  MachineUid <> 0x101F4FC3"},
        CondCase{"StringValue", Eq(w::Var(0), w::Str("Nokia")), "If  Manufacturer = \"Nokia\""},
        CondCase{"UnknownAttributeKeepsItsNumber", Eq(w::Var(99), Num(1)), "If  0x00000063 = 0x00000001"},
        CondCase{"NotBeforeFunction", Not(Exists("z:\\x.txt")), "If  NOT EXISTS(\"z:\\x.txt\")"},
        CondCase{"NotBeforeVariable", Not(w::Var(0)), "If  NOT Manufacturer"},
        CondCase{"NotOfComparison", Not(Opt1()), "If  NOT(Option1 = 0x00000001)"},
        CondCase{"Else", w::Else(), "If  NOT 0x00000000"},
        CondCase{"AndOfTwo", And(Opt1(), Opt2()), "If  Option1 = 0x00000001 AND Option2 = 0x00000001"},
        CondCase{"LeftChain", And(And(Opt1(), Opt2()), Opt3()),
                 "If  Option1 = 0x00000001 AND Option2 = 0x00000001 AND Option3 = 0x00000001"},
        CondCase{"RightChain", Or(Opt1(), Or(Opt2(), Opt3())),
                 "If  Option1 = 0x00000001 OR Option2 = 0x00000001 OR Option3 = 0x00000001"},
        CondCase{"OrInsideAnd", And(Opt1(), Or(Opt2(), Opt3())),
                 "If  Option1 = 0x00000001 AND (Option2 = 0x00000001 OR Option3 = 0x00000001)"},
        CondCase{"AndInsideOr", Or(And(Opt1(), Opt2()), Opt3()),
                 "If  (Option1 = 0x00000001 AND Option2 = 0x00000001) OR Option3 = 0x00000001"},
        CondCase{"NotOfCompound", Not(Or(Opt1(), Opt2())), "If  NOT(Option1 = 0x00000001 OR Option2 = 0x00000001)"},
        CondCase{"Language", Eq(Lang(), Num(1)), "If  Language = 0x00000001;British English Language"},
        CondCase{"LanguageTen", Eq(Lang(), Num(10)), "If  Language = 0x0000000A;American English Language"},
        CondCase{"Swedish", Eq(Lang(), Num(6)), "If  Language = 0x00000006;Swedish Language"},
        CondCase{"LanguageWithoutCode", Eq(Lang(), Num(260)), "If  Language = 0x00000104;Language 260"},
        CondCase{"TwoLanguages", Or(Eq(Lang(), Num(1)), Eq(Lang(), Num(2))),
                 "If  Language = 0x00000001 OR Language = 0x00000002;British English Language;French Language"},
        CondCase{"LanguageAndOption", And(Eq(Lang(), Num(1)), Opt1()),
                 "If  Language = 0x00000001 AND Option1 = 0x00000001;British English Language"},
        CondCase{"PkgFileExample",
                 And(Not(Exists("z:\\x.txt")),
                     And(Or(Eq(Lang(), Num(1)), w::Bin(w::NE, w::Var(5), Num(0x101F4FC3))),
                         w::Bin(w::GE, w::AppProp(0xE0F00002, 1), Num(5)))),
                 "If  NOT EXISTS(\"z:\\x.txt\") AND (Language = 0x00000001 OR MachineUid <> 0x101F4FC3) AND "
                 "APPPROP(0xE0F00002,0x00000001) >= 0x00000005;British English Language"}),
    [](const auto& info) { return std::string(info.param.name); });

using BlocksApp = Sis9Fixture;

// A long chain of one operator is not deep: 100 ORed tests, nested to either side, read and
// print whole, with no problem; the window's line and the build-ready one agree.
TEST(Conditions, LongChainsOfOneOperatorReadWhole) {
  for (bool leftNested : {true, false}) {
    SCOPED_TRACE(leftNested ? "left-nested" : "right-nested");
    std::vector<w::Expr> tests;
    for (int k = 0; k < 100; ++k) tests.push_back(w::Bin(w::EQ, w::Var(5), Num(0x10000000 + k)));
    w::Expr chain = tests[leftNested ? 0 : 99];
    for (int k = 1; k < 100; ++k)
      chain = leftNested ? Or(chain, tests[static_cast<std::size_t>(k)]) : Or(tests[static_cast<std::size_t>(99 - k)], chain);
    const Viewed v(WithIfs({IfOf(chain)}));
    EXPECT_TRUE(v.package.problems.empty());
    std::string expected = "If ";
    for (int k = 0; k < 100; ++k) expected += std::string(k ? " OR " : " ") + "MachineUid = 0x" + HexText(0x10000000u + k, 8);
    EXPECT_EQ(v.Body(), (std::vector<std::string>{expected, "EndIf ", "  "}));
  }
}

TEST(Blocks, IfWithTwoElseIfs) {
  w::If i = IfOf(Opt1());
  i.elseIfs = {{Opt2(), {}, {}, {}}, {Num(1), {}, {}, {}}};
  const Viewed v(WithIfs({i}));
  EXPECT_EQ(v.Body(), (std::vector<std::string>{"If  Option1 = 0x00000001", "ElseIf  Option2 = 0x00000001",
                                                  "ElseIf  0x00000001", "EndIf ", "  "}));
}

TEST(Blocks, TwoIfsInOneArray) {
  const Viewed v(WithIfs({IfOf(Opt1()), IfOf(Opt2())}));
  EXPECT_EQ(v.Body(), (std::vector<std::string>{"If  Option1 = 0x00000001", "EndIf ", "If  Option2 = 0x00000001",
                                                  "EndIf ", "  "}));
}

TEST(Blocks, NestedBlocksEndingTogether) {
  w::If outer = IfOf(Opt1());
  outer.ifs = {IfOf(Opt2())};
  const Viewed v(WithIfs({outer}));
  EXPECT_EQ(v.Body(), (std::vector<std::string>{"If  Option1 = 0x00000001", "If  Option2 = 0x00000001", "EndIf ",
                                                  "EndIf ", "  "}));
}

TEST(Blocks, ElseAfterNestedIfBelongsToTheOuterBlock) {
  w::If outer = IfOf(Opt1());
  outer.files = {TextFile("!:\\a.txt", "a")};
  outer.ifs = {IfOf(Opt2())};
  outer.ifs[0].files = {TextFile("!:\\b.txt", "b")};
  outer.elseIfs = {{w::Else(), {TextFile("!:\\c.txt", "c")}, {}, {}}};
  const Viewed v(WithIfs({outer}));
  EXPECT_EQ(v.Body(), (std::vector<std::string>{
                            "If  Option1 = 0x00000001", "\"\\bin\\pkg\\a.txt\"-\"!:\\a.txt\", FF",
                            "If  Option2 = 0x00000001", "\"\\bin\\pkg\\b.txt\"-\"!:\\b.txt\", FF",
                            "EndIf ", "ElseIf  NOT 0x00000000",
                            "\"\\bin\\pkg\\c.txt\"-\"!:\\c.txt\", FF", "EndIf ", "  "}));
}

TEST(Blocks, EmbeddedPackageInsideAnIfKeepsTheParentsEndIf) {
  w::Controller child;
  child.uid = 0xE0000002;
  child.names = {"Child"};
  child.signatureChains = 2;  // with words that look like If records
  child.files = {TextFile("!:\\child.txt", "c")};
  w::If i = IfOf(Not(Exists("c:\\child.txt")));
  i.embedded = {child};
  w::Controller c;
  c.files = {TextFile("!:\\main.txt", "m")};
  c.embedded = {child};
  c.ifs = {i};
  c.signatureChains = 1;
  const Viewed v(c);
  const auto lines = v.Lines();
  const std::vector<std::string> expected = {
      "\"\\bin\\pkg\\main.txt\"-\"!:\\main.txt\", FF",
      "@\"\\bin\\pkg\\Embedded Components\\Child.sis\", (0xE0000002)",
      "If  NOT EXISTS(\"c:\\child.txt\")",
      "@\"\\bin\\pkg\\Embedded Components\\Child (2).sis\", (0xE0000002)",
      "EndIf ",
      "  ",
  };
  const auto at = std::find(lines.begin(), lines.end(), expected.front());
  ASSERT_NE(at, lines.end()) << v.view.script;
  EXPECT_EQ(std::vector<std::string>(at, at + static_cast<long>(expected.size())), expected);
  // Both embedded packages keep their file (the first install block is read).
  EXPECT_EQ(v.view.files.size(), 3u);
  EXPECT_TRUE(v.package.problems.empty());
  for (const std::string& l : lines) EXPECT_NE(l, "If ");
}

TEST_F(BlocksApp, DamagedExpressionStopsWithTheTokensReadSoFar) {
  w::Expr bad;
  bad.raw = w::FieldBytes(0x1D, Bytes{0x77, 0, 0, 0, 0, 0, 0, 0});  // no such operator
  w::Expr partial = And(Opt1(), bad);
  Open(WithIfs({IfOf(partial), IfOf(Opt2())}));
  EXPECT_EQ(Body(), (std::vector<std::string>{"If  Option1 = 0x00000001 AND ", "EndIf ",
                                                  "If  Option2 = 0x00000001", "EndIf ", "  "}));
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].severity, ops::Severity::Plain);
  EXPECT_EQ(ui.messages[0].title, "Tarvik");
  EXPECT_NE(ui.messages[0].text.find("condition"), std::string::npos);
}

TEST_F(BlocksApp, IfWithoutExpressionIsNotAStatement) {
  w::Expr notExpr;
  notExpr.raw = w::FieldBytes(0x01, Bytes{'x', 0});  // a string where the expression belongs
  w::Controller c = WithIfs({IfOf(notExpr), IfOf(Opt2())});
  Open(c);
  EXPECT_EQ(Body(), (std::vector<std::string>{"If  Option2 = 0x00000001", "EndIf ", "  "}));
  ASSERT_EQ(ui.messages.size(), 1u);
}

}  // namespace
}  // namespace tarvik::test
