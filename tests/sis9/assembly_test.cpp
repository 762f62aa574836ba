// Assembly of the script with one section per embedded package, and the data positions of
// the file table.

#include <gtest/gtest.h>

#include <map>

#include "sis9_fixture.hpp"

namespace tarvik::test {
namespace {

w::Controller Named(std::uint32_t uid, const std::string& name) {
  w::Controller c;
  c.uid = uid;
  c.names = {name};
  c.year = 2008;
  c.month0 = 4;
  c.day = 17;
  c.hour = 10;
  c.minute = 30;
  c.second = 0;
  return c;
}

TEST(Assembly, PackageWithoutEmbeddedPackages) {
  w::Controller c = Named(0xE1234567, "Only");
  c.files = {TextFile("!:\\sys\\bin\\app.exe", "app")};
  const Viewed v(c);
  EXPECT_EQ(v.view.script,
            ";<---Main SIS File PKG--->\r\n\r\n"
            ";Date 17-5-2008\r\n;Time 10:30:0\r\n&EN\r\n"
            "#{\"Only\"}, (0xE1234567),1, 0, 0, IU,TYPE=SA\r\n:\"Vendor\"\r\n%{\"Vendor\"}\r\n"
            "\"\\bin\\pkg\\sys\\bin\\app.exe\"-\"!:\\sys\\bin\\app.exe\", FF\r\n  \r\n");
  EXPECT_TRUE(v.package.body.embedded.empty());
}

TEST(Assembly, NestedEmbeddedPackagesGetSectionsInnermostFirst) {
  w::Controller a1 = Named(0xE00000A1, "A1");
  a1.files = {TextFile("!:\\a1.txt", "a1")};
  w::Controller a = Named(0xE000000A, "A");
  a.files = {TextFile("!:\\a.txt", "a")};
  a.embedded = {a1};
  w::Controller main = Named(0xE1234567, "Main");
  main.embedded = {a};
  const Viewed v(main);
  const std::string expected =
      ";<---Main SIS File PKG--->\r\n\r\n"
      ";Date 17-5-2008\r\n;Time 10:30:0\r\n&EN\r\n"
      "#{\"Main\"}, (0xE1234567),1, 0, 0, IU,TYPE=SA\r\n:\"Vendor\"\r\n%{\"Vendor\"}\r\n"
      "@\"\\bin\\pkg\\Embedded Components\\A.sis\", (0xE000000A)\r\n  \r\n"
      "\r\n;<---Embedded SIS File Index 1 PKG--->\r\n"
      "\r\n;Date 17-5-2008\r\n;Time 10:30:0\r\n&EN\r\n"
      "#{\"A1\"}, (0xE00000A1),1, 0, 0,TYPE=SA\r\n:\"Vendor\"\r\n%{\"Vendor\"}\r\n"
      "\"\\bin\\pkg\\Embedded Components\\A1\\a1.txt\"-\"!:\\a1.txt\", FF  \r\n"
      "\r\n;<---Embedded SIS File Index 2 PKG--->\r\n"
      "\r\n;Date 17-5-2008\r\n;Time 10:30:0\r\n&EN\r\n"
      "#{\"A\"}, (0xE000000A),1, 0, 0,TYPE=SA\r\n:\"Vendor\"\r\n%{\"Vendor\"}\r\n"
      "\"\\bin\\pkg\\Embedded Components\\A\\a.txt\"-\"!:\\a.txt\", FF\r\n"
      "@\"\\bin\\pkg\\Embedded Components\\A1.sis\", (0xE00000A1)  \r\n";
  EXPECT_EQ(v.view.script, expected);
  EXPECT_TRUE(v.package.problems.empty());
  // Packages in the order met: main 1, A 2, A1 3; data units likewise (A1's stored index
  // counts from A's unit), and both embedded packages reached their end.
  ASSERT_EQ(v.package.body.embedded.size(), 1u);
  const model::Package& pa = v.package.body.embedded[0];
  ASSERT_EQ(pa.body.embedded.size(), 1u);
  const model::Package& pa1 = pa.body.embedded[0];
  EXPECT_EQ(pa.names, std::vector<std::string>{"A"});
  EXPECT_EQ(pa.uid, 0xE000000Au);
  EXPECT_EQ(pa.ordinal, 2);
  EXPECT_EQ(pa.dataUnit, 2u);
  EXPECT_EQ(pa.dataIndex, 1u);
  EXPECT_TRUE(pa.ended);
  EXPECT_EQ(pa1.names, std::vector<std::string>{"A1"});
  EXPECT_EQ(pa1.uid, 0xE00000A1u);
  EXPECT_EQ(pa1.ordinal, 3);
  EXPECT_EQ(pa1.dataUnit, 3u);
  EXPECT_EQ(pa1.dataIndex, 1u);
  EXPECT_TRUE(pa1.ended);
  ASSERT_EQ(v.view.files.size(), 2u);
  EXPECT_EQ(v.view.files[0].extractPath, "bin\\pkg\\Embedded Components\\A\\a.txt");
  EXPECT_EQ(v.Data(v.view.files[0]), "a");
  EXPECT_NE(v.view.script.find("\"\\bin\\pkg\\Embedded Components\\A1\\a1.txt\"-"), std::string::npos);
  EXPECT_EQ(v.Data(v.view.files[1]), "a1");
}

TEST(Assembly, EveryFileFindsItsOwnDataWhateverTheNesting) {
  // Main files before and after embedded packages (the latter inside condition blocks),
  // nested two deep, stored and deflated.
  w::Controller inner = Named(0xE0000003, "Inner");
  inner.files = {TextFile("!:\\inner.txt", "inner data"), TextFile("!:\\inner2.txt", std::string(500, 'i'), true)};
  w::Controller mid = Named(0xE0000002, "Mid");
  mid.files = {TextFile("!:\\mid.txt", "mid data")};
  mid.embedded = {inner};
  w::If midIf;
  midIf.cond = w::Num(1);
  midIf.files = {TextFile("!:\\mid_if.txt", "mid if data")};
  mid.ifs = {midIf};
  w::Controller sibling = Named(0xE0000004, "Sibling");
  sibling.files = {TextFile("!:\\sibling.txt", std::string(800, 's'), true)};
  w::Controller main = Named(0xE0000001, "Main");
  main.files = {TextFile("!:\\first.txt", "first data")};
  main.embedded = {mid, sibling};
  w::If i;
  i.cond = w::Option(1);
  i.files = {TextFile("!:\\option1.txt", "option one")};
  w::If j;
  j.cond = w::Option(2);
  j.files = {TextFile("!:\\option2.txt", std::string(700, 'o'), true)};
  main.ifs = {i, j};
  const Viewed v(main);
  std::map<std::string, std::string> expected = {
      {"!:\\first.txt", "first data"},        {"!:\\mid.txt", "mid data"},
      {"!:\\inner.txt", "inner data"},        {"!:\\inner2.txt", std::string(500, 'i')},
      {"!:\\mid_if.txt", "mid if data"},      {"!:\\sibling.txt", std::string(800, 's')},
      {"!:\\option1.txt", "option one"},      {"!:\\option2.txt", std::string(700, 'o')}};
  ASSERT_EQ(v.view.files.size(), expected.size());
  for (const views::FileRow& r : v.view.files) EXPECT_EQ(v.Data(r), expected[r.target]) << r.target;
  EXPECT_TRUE(v.package.problems.empty());
}

TEST(Assembly, EmbeddedNamesBecomeSafeUniqueFolderNames) {
  w::Controller bad = Named(0xE0000002, "A/B:C*?\"<>|\x01");
  bad.files = {TextFile("!:\\x.txt", "x")};
  w::Controller same1 = Named(0xE0000003, "Same");
  same1.files = {TextFile("!:\\y.txt", "y")};
  w::Controller same2 = Named(0xE0000004, "same");
  same2.files = {TextFile("!:\\z.txt", "z")};
  w::Controller main = Named(0xE0000001, "Main");
  main.embedded = {bad, same1, same2};
  const Viewed v(main);
  const std::string& s = v.view.script;
  EXPECT_NE(s.find("@\"\\bin\\pkg\\Embedded Components\\A_B_C_______.sis\", (0xE0000002)"), std::string::npos);
  EXPECT_NE(s.find("@\"\\bin\\pkg\\Embedded Components\\Same.sis\", (0xE0000003)"), std::string::npos);
  EXPECT_NE(s.find("@\"\\bin\\pkg\\Embedded Components\\same (2).sis\", (0xE0000004)"), std::string::npos);
  ASSERT_EQ(v.view.files.size(), 3u);
  EXPECT_EQ(v.view.files[0].extractPath, "bin\\pkg\\Embedded Components\\A_B_C_______\\x.txt");
  EXPECT_EQ(v.view.files[1].extractPath, "bin\\pkg\\Embedded Components\\Same\\y.txt");
  EXPECT_EQ(v.view.files[2].extractPath, "bin\\pkg\\Embedded Components\\same (2)\\z.txt");
  // The name line of the package keeps its real name.
  EXPECT_NE(s.find("#{\"same\"}"), std::string::npos);
}

TEST(Assembly, ManyEmbeddedPackagesHaveNoFixedLimit) {
  w::Controller main = Named(0xE0000001, "Main");
  for (int i = 0; i < 60; ++i) {
    w::Controller c = Named(0xE1000000 + static_cast<std::uint32_t>(i), "P" + std::to_string(i));
    c.files = {TextFile("!:\\p" + std::to_string(i) + ".txt", "content " + std::to_string(i))};
    main.embedded.push_back(c);
  }
  const Viewed v(main);
  EXPECT_NE(v.view.script.find(";<---Embedded SIS File Index 60 PKG--->"), std::string::npos);
  ASSERT_EQ(v.view.files.size(), 60u);
  for (const views::FileRow& r : v.view.files) {
    const std::string n = r.target.substr(4, r.target.size() - 8);
    EXPECT_EQ(v.Data(r), "content " + n);
  }
}

using AssemblyApp = Sis9Fixture;

TEST_F(AssemblyApp, DeepNestingIsBoundedAndReported) {
  w::Controller c = Named(0xE0000100, "Deepest");
  for (int i = 0; i < 20; ++i) {
    w::Controller parent = Named(0xE0000000 + static_cast<std::uint32_t>(i), "L" + std::to_string(i));
    parent.embedded = {c};
    c = parent;
  }
  Open(c);
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_NE(ui.messages[0].text.find("nested too deep"), std::string::npos);
  EXPECT_NE(ui.text.find(";<---Main SIS File PKG--->"), std::string::npos);
}

}  // namespace
}  // namespace tarvik::test
