// The condition in words of each file row (the Files table's "Installed when"), for both
// generations.

#include <gtest/gtest.h>

#include "parse/parse.hpp"
#include "support/sis9_writer.hpp"
#include "support/sis_old_writer.hpp"
#include "views/views.hpp"

namespace tarvik::test {
namespace {

namespace w = sis9w;

std::vector<std::string> Conditions(const Bytes& bytes) {
  const model::Package p = Parse(bytes, "p.sis");
  const views::PackageView v = views::Describe(p, {});
  std::vector<std::string> out;
  for (const views::FileRow& r : v.files) {
    EXPECT_EQ(r.package, &p);  // no embedded packages here
    out.push_back(r.condition);
  }
  return out;
}

TEST(ConditionWords, Sis9BranchesAndNesting) {
  w::Controller c;
  c.languages = {1, 2};
  c.files = {w::TextFile("!:\\always.txt", "a")};
  w::If outer;
  outer.cond = w::Eq(w::Lang(), w::Num(2));
  outer.files = {w::TextFile("!:\\fr.txt", "f")};
  w::If inner;
  inner.cond = w::And(w::Exists("c:\\x.dat"), w::Not(w::Option(1)));
  inner.files = {w::TextFile("!:\\inner.txt", "i")};
  outer.ifs = {inner};
  w::ElseIf other;
  other.cond = w::Or(w::Package(0x10001234), w::Eq(w::AppProp(0x10001234, 5), w::Num(3)));
  other.files = {w::TextFile("!:\\other.txt", "o")};
  w::ElseIf last;
  last.cond = w::Else();
  last.files = {w::TextFile("!:\\last.txt", "l")};
  outer.elseIfs = {other, last};
  w::If lone;
  lone.cond = w::Eq(w::Lang(), w::Num(1));
  lone.files = {w::TextFile("!:\\en.txt", "e")};
  w::ElseIf lonely;
  lonely.cond = w::Else();
  lonely.files = {w::TextFile("!:\\not_en.txt", "n")};
  lone.elseIfs = {lonely};
  c.ifs = {outer, lone};
  EXPECT_EQ(Conditions(w::Build(c)),
            (std::vector<std::string>{
                "",
                "if language = French",
                "if language = French; if \"c:\\x.dat\" exists and not option 1",
                "else if package 0x10001234 installed or (property 5 of package 0x10001234 = 3)",
                "otherwise",
                "if language = British English",
                "if not (language = British English)",
            }));
}

TEST(ConditionWords, PreNineBranchesAndLanguageFiles) {
  using namespace oldx;
  OldPackage pkg;
  pkg.languages = {1, 2};
  pkg.names = {"Test", "Essai"};
  // Records in file order: the script reads them last first.
  pkg.records = {OldEndIf(),
                 OldFile("c:\\else.txt", "!:\\else.txt"),
                 OldElse(),
                 OldFile("c:\\fr.txt", "!:\\fr.txt"),
                 OldIf(Eq(Var(0x1000), Num(2))),
                 OldLangFile("c:\\help.txt", "!:\\help.txt", {"english", "french"})};
  EXPECT_EQ(Conditions(BuildOldSis(pkg)),
            (std::vector<std::string>{"if not (language = French)", "if language = French",
                                      "if language = British English", "if language = French"}));
}

}  // namespace
}  // namespace tarvik::test
