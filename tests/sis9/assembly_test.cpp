// Assembly of the script with one section per embedded package, and the data positions of
// the file table.

#include <gtest/gtest.h>

#include <map>

#include "bytes/inflate.hpp"
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

std::string RowData(const FileBuffer& b, const Row& r) {
  const Pos offset = static_cast<Pos>(HexToDouble(r.Get(col9::Offset)));
  const auto compressed = static_cast<std::size_t>(HexToDouble(r.Get(col9::CompressByte)));
  const auto uncompressed = static_cast<std::size_t>(HexToDouble(r.Get(col9::UncompressByte)));
  if (r.Get(col9::Offset).empty() || !b.HasRange(offset, static_cast<Pos>(compressed))) return "<none>";
  if (r.Get(col9::Compression) == "1") {
    Bytes out;
    if (Uncompress(b.Ptr(offset), compressed, uncompressed, out) != 0) return "<corrupt>";
    return std::string(out.begin(), out.end());
  }
  return std::string(reinterpret_cast<const char*>(b.Ptr(offset)), compressed);
}

using Assembly = Sis9Fixture;

TEST_F(Assembly, PackageWithoutEmbeddedPackages) {
  w::Controller c = Named(0xE1234567, "Only");
  c.files = {TextFile("!:\\sys\\bin\\app.exe", "app")};
  Open(c);
  EXPECT_EQ(ui.text,
            ";<---Main SIS File PKG--->\r\n\r\n"
            ";Date 17-5-2008\r\n;Time 10:30:0\r\n&EN\r\n"
            "#{\"Only\"}, (0xE1234567),1, 0, 0, IU,TYPE=SA\r\n:\"Vendor\"\r\n%{\"Vendor\"}\r\n"
            "\"\\bin\\pkg\\sys\\bin\\app.exe\"-\"!:\\sys\\bin\\app.exe\", FF\r\n  \r\n");
  EXPECT_EQ(app.stores.ListView8.Count(), 0u);
}

TEST_F(Assembly, NestedEmbeddedPackagesGetSectionsInnermostFirst) {
  w::Controller a1 = Named(0xE00000A1, "A1");
  a1.files = {TextFile("!:\\a1.txt", "a1")};
  w::Controller a = Named(0xE000000A, "A");
  a.files = {TextFile("!:\\a.txt", "a")};
  a.embedded = {a1};
  w::Controller main = Named(0xE1234567, "Main");
  main.embedded = {a};
  Open(main);
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
  EXPECT_EQ(ui.text, expected);
  const RecordTable& idx = app.stores.ListView8;
  ASSERT_EQ(idx.Count(), 2u);
  EXPECT_EQ(idx.Item(1).Text(), "A1");
  EXPECT_EQ(idx.Item(1).Get(1), "3");
  EXPECT_EQ(idx.Item(1).Get(2), "E00000A1");
  EXPECT_EQ(idx.Item(1).Get(3), "1");
  EXPECT_EQ(idx.Item(2).Text(), "A");
  EXPECT_EQ(idx.Item(2).Get(1), "2");
  EXPECT_EQ(idx.Item(2).Get(3), "2");
  // Data units: main 1, A 2, A1 3 (A1's index counts from A's unit).
  EXPECT_EQ(idx.Item(1).Get(4), "3");
  EXPECT_EQ(idx.Item(2).Get(4), "2");
  ASSERT_EQ(FileTable().Count(), 2u);
  EXPECT_EQ(FileTable().Item(1).Text(), "2");
  EXPECT_EQ(FileTable().Item(1).Get(col9::ExtractPath), "bin\\pkg\\Embedded Components\\A\\a.txt");
  EXPECT_EQ(RowData(app.buffer, FileTable().Item(1)), "a");
  EXPECT_EQ(FileTable().Item(2).Text(), "3");
  EXPECT_EQ(FileTable().Item(2).Get(col9::Source), "\\bin\\pkg\\Embedded Components\\A1\\a1.txt");
  EXPECT_EQ(RowData(app.buffer, FileTable().Item(2)), "a1");
  // Data-index rows, in the order the controllers end: A1, then A, each with its unit.
  ASSERT_EQ(app.stores.ListView5.Count(), 2u);
  EXPECT_EQ(app.stores.ListView5.Item(1).Text(), "3");
  EXPECT_EQ(app.stores.ListView5.Item(1).Get(1), "3");
  EXPECT_EQ(app.stores.ListView5.Item(2).Text(), "2");
  EXPECT_TRUE(ui.messages.empty());
}

TEST_F(Assembly, EveryFileFindsItsOwnDataWhateverTheNesting) {
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
  Open(main);
  std::map<std::string, std::string> expected = {
      {"!:\\first.txt", "first data"},        {"!:\\mid.txt", "mid data"},
      {"!:\\inner.txt", "inner data"},        {"!:\\inner2.txt", std::string(500, 'i')},
      {"!:\\mid_if.txt", "mid if data"},      {"!:\\sibling.txt", std::string(800, 's')},
      {"!:\\option1.txt", "option one"},      {"!:\\option2.txt", std::string(700, 'o')}};
  ASSERT_EQ(FileTable().Count(), expected.size());
  for (const Row& r : FileTable()) EXPECT_EQ(RowData(app.buffer, r), expected[r.Get(col9::Target)]) << r.Get(col9::Target);
  EXPECT_TRUE(ui.messages.empty());
}

TEST_F(Assembly, EmbeddedNamesBecomeSafeUniqueFolderNames) {
  w::Controller bad = Named(0xE0000002, "A/B:C*?\"<>|\x01");
  bad.files = {TextFile("!:\\x.txt", "x")};
  w::Controller same1 = Named(0xE0000003, "Same");
  same1.files = {TextFile("!:\\y.txt", "y")};
  w::Controller same2 = Named(0xE0000004, "same");
  same2.files = {TextFile("!:\\z.txt", "z")};
  w::Controller main = Named(0xE0000001, "Main");
  main.embedded = {bad, same1, same2};
  Open(main);
  EXPECT_NE(ui.text.find("@\"\\bin\\pkg\\Embedded Components\\A_B_C_______.sis\", (0xE0000002)"), std::string::npos);
  EXPECT_NE(ui.text.find("@\"\\bin\\pkg\\Embedded Components\\Same.sis\", (0xE0000003)"), std::string::npos);
  EXPECT_NE(ui.text.find("@\"\\bin\\pkg\\Embedded Components\\same (2).sis\", (0xE0000004)"), std::string::npos);
  ASSERT_EQ(FileTable().Count(), 3u);
  EXPECT_EQ(FileTable().Item(1).Get(col9::ExtractPath), "bin\\pkg\\Embedded Components\\A_B_C_______\\x.txt");
  EXPECT_EQ(FileTable().Item(2).Get(col9::ExtractPath), "bin\\pkg\\Embedded Components\\Same\\y.txt");
  EXPECT_EQ(FileTable().Item(3).Get(col9::ExtractPath), "bin\\pkg\\Embedded Components\\same (2)\\z.txt");
  // The name line of the package keeps its real name.
  EXPECT_NE(ui.text.find("#{\"same\"}"), std::string::npos);
}

TEST_F(Assembly, ManyEmbeddedPackagesHaveNoFixedLimit) {
  w::Controller main = Named(0xE0000001, "Main");
  for (int i = 0; i < 60; ++i) {
    w::Controller c = Named(0xE1000000 + static_cast<std::uint32_t>(i), "P" + std::to_string(i));
    c.files = {TextFile("!:\\p" + std::to_string(i) + ".txt", "content " + std::to_string(i))};
    main.embedded.push_back(c);
  }
  Open(main);
  EXPECT_NE(ui.text.find(";<---Embedded SIS File Index 60 PKG--->"), std::string::npos);
  ASSERT_EQ(FileTable().Count(), 60u);
  for (const Row& r : FileTable()) {
    const std::string n = r.Get(col9::Target).substr(4, r.Get(col9::Target).size() - 8);
    EXPECT_EQ(RowData(app.buffer, r), "content " + n);
  }
}

TEST_F(Assembly, DeepNestingIsBoundedAndReported) {
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
