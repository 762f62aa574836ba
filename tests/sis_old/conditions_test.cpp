// Condition records of pre-9.x packages: If/ElseIf expression trees into infix text, Else
// and EndIf, single-byte strings, an empty expression and the largest tree that fits.

#include <gtest/gtest.h>

#include "old_fixture.hpp"

namespace tarvik::test {
namespace {

using namespace oldx;

TEST(OldCondition, ExpressionsBecomeInfixText) {
  struct Case {
    const char* name;
    OldExpr expr;
    const char* text;
  };
  const OldExpr lang1 = Eq(Var(0x1000), Num(1));
  const OldExpr uid = Ne(Var(5), Num(0x101F4FC3));
  const OldExpr ex = Exists("z:\\x.txt");
  const Case cases[] = {
      {"equal", lang1, "Language = 0x00000001"},
      {"every comparison", Or(Or(Cmp(2, Var(4), Num(1)), Cmp(3, Var(4), Num(2))), Or(Cmp(4, Var(4), Num(3)), Cmp(5, Var(4), Num(4)))),
       "Model > 0x00000001 OR Model < 0x00000002 OR Model >= 0x00000003 OR Model <= 0x00000004"},
      {"all ones is -1", Eq(Var(0), Num(0xFFFFFFFF)), "Manufacturer = -1"},
      {"2^31 stays hexadecimal", Eq(Var(0), Num(0x80000000)), "Manufacturer = 0x80000000"},
      {"unknown attribute keeps its number", Eq(Var(12), Num(1)), "0x0000000C = 0x00000001"},
      {"string operand quoted", Eq(Var(0), Str("Nokia")), "Manufacturer =  \"Nokia\""},
      {"exists", ex, "Exists(\"z:\\x.txt\")"},
      {"devcap", DevCap(0x1234), "devcap(0x00001234)"},
      {"appcap", Cmp(4, AppCap(0x10F00002, 1), Num(5)), "appcap(0x10F00002, 0x00000001) >= 0x00000005"},
      {"and of comparisons", And(lang1, ex), "Language = 0x00000001 AND Exists(\"z:\\x.txt\")"},
      {"or inside and keeps its group", And(Or(lang1, uid), ex),
       "(Language = 0x00000001 OR MachineUid <> 0x101F4FC3) AND Exists(\"z:\\x.txt\")"},
      // Left to right, "a OR b AND c" would read as (a OR b) AND c: every AND or OR nested in
      // the other operator keeps its group.
      {"and inside or keeps its group", Or(And(lang1, uid), ex),
       "(Language = 0x00000001 AND MachineUid <> 0x101F4FC3) OR Exists(\"z:\\x.txt\")"},
      {"and as the second operand of or", Or(ex, And(lang1, uid)),
       "Exists(\"z:\\x.txt\") OR (Language = 0x00000001 AND MachineUid <> 0x101F4FC3)"},
      {"49 ORed tests in one chain", [] {
         OldExpr c = Eq(Var(5), Num(0x10000000));
         for (std::uint32_t k = 1; k < 49; ++k) c = Or(c, Eq(Var(5), Num(0x10000000 + k)));
         return c;
       }(),
       [] {
         static std::string t = "MachineUid = 0x10000000";
         for (std::uint32_t k = 1; k < 49; ++k) t += " OR MachineUid = 0x" + HexText(0x10000000 + k, 8);
         return t.c_str();
       }()},
      {"not of a comparison", Not(lang1), "Not (Language = 0x00000001)"},
      {"not of an or", Not(Or(lang1, ex)), "Not (Language = 0x00000001 OR Exists(\"z:\\x.txt\"))"},
      {"compound",
       And(And(Not(ex), Or(lang1, uid)), Cmp(4, AppCap(0x10F00002, 1), Num(5))),
       "Not Exists(\"z:\\x.txt\") AND (Language = 0x00000001 OR MachineUid <> 0x101F4FC3) AND "
       "appcap(0x10F00002, 0x00000001) >= 0x00000005"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    OldPackage pkg;
    pkg.records = {OldIf(c.expr)};
    const OldRead r = ReadOld(pkg);
    EXPECT_EQ(r.Body(), std::vector<std::string>{std::string("If ") + c.text});
    EXPECT_TRUE(r.package.problems.empty());
  }
}

TEST(OldCondition, BlockLinesInScriptOrder) {
  OldPackage pkg;
  pkg.records = {OldEndIf(), OldElse(), OldElseIf(Eq(Var(0x1000), Num(2))), OldIf(Eq(Var(0x1000), Num(1)))};
  EXPECT_EQ(ReadOld(pkg).Body(), (std::vector<std::string>{"If Language = 0x00000001", "ElseIf Language = 0x00000002",
                                                           "Else", "EndIf"}));
}

TEST(OldCondition, SingleByteStringsWithoutUnicodeOption) {
  OldPackage pkg;
  pkg.uid2 = 0x1000006D;
  pkg.installerVersion = 100;
  pkg.options = 0;
  pkg.records = {OldIf(Exists("c:\\caf\xC3\xA9.txt"))};
  EXPECT_EQ(ReadOld(pkg).Body(), std::vector<std::string>{"If Exists(\"c:\\caf\xC3\xA9.txt\")"});
}

TEST(OldCondition, EmptyExpressionGivesABareIf) {
  OldPackage pkg;
  OldRecord empty;
  empty.raw = Bytes{3, 0, 0, 0, 0, 0, 0, 0};
  pkg.records = {empty, OldEndIf()};
  EXPECT_EQ(ReadOld(pkg).Body(), (std::vector<std::string>{"EndIf", "If "}));
}

TEST(OldCondition, TreeOf199TokensIsReadWhole) {
  OldExpr fits = Exists("a");
  for (int i = 0; i < 99; ++i) fits = And(fits, Exists("b"));  // 199 tokens
  OldPackage pkg;
  pkg.records = {OldIf(fits)};
  const OldRead r = ReadOld(pkg);
  EXPECT_FALSE(r.Has(model::Problem::Kind::Unreadable));
  const auto body = r.Body();
  ASSERT_EQ(body.size(), 1u);
  EXPECT_EQ(body[0].rfind("If Exists(\"a\") AND Exists(\"b\") AND", 0), 0u);
}

}  // namespace
}  // namespace tarvik::test
