// Condition records of pre-9.x packages: If/ElseIf expression trees into infix text, Else
// and EndIf, the token limit, and the folding of trees that cannot be read as a whole.

#include <gtest/gtest.h>

#include "old_fixture.hpp"

namespace tarvik::test {
namespace {

using namespace oldx;
using ConditionTest = OldPackageTest;

struct ExprCase {
  const char* name;
  OldExpr expr;
  const char* text;
};

TEST_F(ConditionTest, ExpressionsBecomeInfixText) {
  const OldExpr lang1 = Eq(Var(0x1000), Num(1));
  const OldExpr uid = Ne(Var(5), Num(0x101F4FC3));
  const OldExpr ex = Exists("z:\\x.txt");
  const ExprCase cases[] = {
      {"equal", lang1, "Language = 0x00000001"},
      {"every comparison", Or(Or(Cmp(2, Var(4), Num(1)), Cmp(3, Var(4), Num(2))), Or(Cmp(4, Var(4), Num(3)), Cmp(5, Var(4), Num(4)))),
       "Model > 0x00000001 OR Model < 0x00000002 OR Model >= 0x00000003 OR Model <= 0x00000004"},
      {"all ones is -1", Eq(Var(0), Num(0xFFFFFFFF)), "Manufacturer = -1"},
      {"2^31 stays hexadecimal", Eq(Var(0), Num(0x80000000)), "Manufacturer = 0x80000000"},
      {"just above 2^31", Eq(Var(0), Num(0x80000001)), "Manufacturer = -2147483647"},
      {"string operand", Eq(Var(0), Str("Nokia")), "Manufacturer =  \"Nokia\""},
      {"unknown attribute", Eq(Var(12), Num(1)), " = 0x00000001"},
      {"option variable", Var(0x2001), "option1"},
      {"exists", ex, "Exists(\"z:\\x.txt\")"},
      {"two nots", Not(Not(ex)), "Not Not Exists(\"z:\\x.txt\")"},
      {"devcap", DevCap(0x1234), "devcap(0x00001234)"},
      {"appcap", Cmp(4, AppCap(0x10F00002, 1), Num(5)), "appcap(0x10F00002, 0x00000001) >= 0x00000005"},
      {"and of comparisons", And(lang1, ex), "Language = 0x00000001 AND Exists(\"z:\\x.txt\")"},
      {"or inside and keeps its group", And(Or(lang1, uid), ex),
       "(Language = 0x00000001 OR MachineUid <> 0x101F4FC3) AND Exists(\"z:\\x.txt\")"},
      {"and inside or needs no group", Or(And(lang1, uid), ex),
       "Language = 0x00000001 AND MachineUid <> 0x101F4FC3 OR Exists(\"z:\\x.txt\")"},
      {"not of a comparison", Not(lang1), "Not (Language = 0x00000001)"},
      {"not of an or", Not(Or(lang1, ex)), "Not (Language = 0x00000001 OR Exists(\"z:\\x.txt\"))"},
      {"compound",
       And(And(Not(ex), Or(lang1, uid)), Cmp(4, AppCap(0x10F00002, 1), Num(5))),
       "Not Exists(\"z:\\x.txt\") AND (Language = 0x00000001 OR MachineUid <> 0x101F4FC3) AND "
       "appcap(0x10F00002, 0x00000001) >= 0x00000005"},
  };
  for (const ExprCase& c : cases) {
    OldPackage pkg;
    pkg.records = {OldIf(c.expr)};
    Open(pkg);
    EXPECT_EQ(Body(), std::vector<std::string>{std::string("If ") + c.text}) << c.name;
    EXPECT_FALSE(InternalError()) << c.name;
  }
}

TEST_F(ConditionTest, BlockRowsInScriptOrder) {
  OldPackage pkg;
  pkg.records = {OldEndIf(), OldElse(), OldElseIf(Eq(Var(0x1000), Num(2))), OldIf(Eq(Var(0x1000), Num(1)))};
  Open(pkg);
  EXPECT_EQ(Body(), (std::vector<std::string>{"If Language = 0x00000001", "ElseIf Language = 0x00000002", "Else",
                                              "EndIf"}));
}

TEST_F(ConditionTest, SingleByteStringsWithoutUnicodeOption) {
  OldPackage pkg;
  pkg.uid2 = 0x1000006D;
  pkg.installerVersion = 100;
  pkg.options = 0;
  pkg.records = {OldIf(Exists("c:\\caf\xC3\xA9.txt"))};
  Open(pkg);
  EXPECT_EQ(Body(), std::vector<std::string>{"If Exists(\"c:\\caf\xC3\xA9.txt\")"});
}

TEST_F(ConditionTest, EmptyExpressionGivesABareIf) {
  OldPackage pkg;
  OldRecord empty;
  empty.raw = Bytes{3, 0, 0, 0, 0, 0, 0, 0};
  pkg.records = {empty, OldEndIf()};
  Open(pkg);
  EXPECT_EQ(Body(), (std::vector<std::string>{"EndIf", "If "}));
}

TEST_F(ConditionTest, FoldingLetsTheWindowRunPendingEvents) {
  OldPackage pkg;
  pkg.records = {OldIf(And(Eq(Var(0x1000), Num(1)), Exists("a")))};
  const int before = ui.doEvents;
  Open(pkg);
  EXPECT_GE(ui.doEvents - before, 1);
}

TEST_F(ConditionTest, MoreThan200TokensEndInTheInternalError) {
  OldExpr e = Exists("a");
  for (int i = 0; i < 110; ++i) e = And(e, Exists("b"));  // 221 tokens
  OldPackage pkg;
  pkg.records = {OldFile("C:\\a", "!:\\a"), OldIf(e)};
  EXPECT_EQ(Open(pkg), "");
  EXPECT_TRUE(InternalError());
  // What the walk had added stays.
  EXPECT_EQ(app.stores.ListView4.Count(), 1u);

  OldExpr fits = Exists("a");
  for (int i = 0; i < 99; ++i) fits = And(fits, Exists("b"));  // 199 tokens
  pkg.records = {OldIf(fits)};
  ui.messages.clear();
  Open(pkg);
  EXPECT_FALSE(InternalError());
  ASSERT_EQ(Body().size(), 1u);
  EXPECT_EQ(Body()[0].rfind("If Exists(\"a\") AND Exists(\"b\") AND", 0), 0u);
}

TEST_F(ConditionTest, MalformedTreeFallsBackToTheFoldedTokens) {
  // AND of the Language variable and a node of unknown type: only the tokens that the
  // flattening finds remain, and they stay unjoined.
  Bytes expr = {6, 0, 0, 0, 13, 0, 0, 0, 0, 0x10, 0, 0, 0xD0, 0x3C, 0x86, 0xC3, 99, 0, 0, 0};
  Bytes record = {3, 0, 0, 0, static_cast<std::uint8_t>(expr.size()), 0, 0, 0};
  record.insert(record.end(), expr.begin(), expr.end());
  OldRecord raw;
  raw.raw = record;
  OldPackage pkg;
  pkg.records = {raw};
  Open(pkg);
  EXPECT_EQ(Body(), std::vector<std::string>{"If  AND Language"});
  EXPECT_FALSE(InternalError());
}

TEST_F(ConditionTest, ExpressionSizeBeyondTheFileEndsTheWalk) {
  OldPackage pkg;
  OldRecord raw;
  raw.raw = Bytes{3, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0x7F};
  pkg.records = {OldFile("C:\\a", "!:\\a"), raw, OldFile("C:\\b", "!:\\b")};
  Open(pkg);
  EXPECT_EQ(Body(), std::vector<std::string>{R"("C:\a"-"!:\a", FILE)"});
  EXPECT_FALSE(InternalError());
}

TEST_F(ConditionTest, DeepTreesDoNotExhaustTheStack) {
  // A long chain of NOT nodes before a leaf: far too deep for a recursive reading, and
  // far beyond the token limit for the flattening.
  Bytes expr;
  for (int i = 0; i < 100000; ++i) expr.insert(expr.end(), {11, 0, 0, 0});
  expr.insert(expr.end(), {13, 0, 0, 0, 0, 0x10, 0, 0, 0, 0, 0, 0});
  Bytes record = {3, 0, 0, 0};
  const auto size = static_cast<std::uint32_t>(expr.size());
  for (int i = 0; i < 4; ++i) record.push_back(static_cast<std::uint8_t>(size >> (8 * i)));
  record.insert(record.end(), expr.begin(), expr.end());
  OldRecord raw;
  raw.raw = record;
  OldPackage pkg;
  pkg.records = {raw};
  EXPECT_EQ(Open(pkg), "");
  EXPECT_TRUE(InternalError());
}

}  // namespace
}  // namespace tarvik::test
