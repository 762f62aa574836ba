// The files under one long condition share one copy of its text: a package can put thousands
// of files under a condition of hundreds of kilobytes, and a copy per row cost gigabytes.

#include <gtest/gtest.h>

#include <map>

#include "sis9_fixture.hpp"
#include "support/sis_old_writer.hpp"

namespace tarvik::test {
namespace {

TEST(SharedCondition, RowsUnderOneBranchShareOneText) {
  {
    SCOPED_TRACE("9.x");
    w::Expr cond = w::Exists("c:\\" + std::string(2000, 'x'));
    for (int i = 0; i < 20; ++i) cond = w::And(cond, w::Exists("c:\\" + std::string(500, 'a' + static_cast<char>(i))));
    w::If branch;
    branch.cond = cond;
    for (int i = 0; i < 50; ++i) branch.files.push_back(w::TextFile("!:\\f" + std::to_string(i) + ".txt", "x"));
    w::Controller c;
    c.ifs = {branch};
    const Bytes bytes = w::Build(c);
    const model::Package pkg = Parse(bytes, "p.sis");
    const views::PackageView v = views::Describe(pkg, {});
    ASSERT_EQ(v.files.size(), 50u);
    EXPECT_GT(v.files[0].condition.size(), 10000u);
    for (const views::FileRow& r : v.files) EXPECT_EQ(&r.condition.str(), &v.files[0].condition.str());
  }
  {
    SCOPED_TRACE("pre-9.x");
    OldPackage p;
    p.languages = {1, 2};
    p.names = {"Test", "Test"};
    // File order is the reverse of the script's: EndIf first, If last.
    p.records.push_back(OldEndIf());
    for (int i = 0; i < 30; ++i) p.records.push_back(OldFile("f.txt", "!:\\f" + std::to_string(i) + ".txt"));
    p.records.push_back(OldLangFile("l.txt", "!:\\l.txt", {"en", "fr"}));
    p.records.push_back(OldLangFile("m.txt", "!:\\m.txt", {"en", "fr"}));
    p.records.push_back(OldIf(oldx::Exists("c:\\" + std::string(5000, 'x'))));
    const Bytes bytes = BuildOldSis(p);
    const model::Package pkg = Parse(bytes, "p.sis");
    const views::PackageView v = views::Describe(pkg, {});
    ASSERT_EQ(v.files.size(), 34u);
    // One text for the plain files, one per language for the per-language ones.
    std::map<std::string, const std::string*> texts;
    for (const views::FileRow& r : v.files) {
      ASSERT_GT(r.condition.size(), 5000u);
      const auto [at, fresh] = texts.emplace(r.condition.str(), &r.condition.str());
      EXPECT_EQ(at->second, &r.condition.str()) << r.condition.str().substr(5000);
    }
    EXPECT_EQ(texts.size(), 3u);
  }
}

}  // namespace
}  // namespace tarvik::test
