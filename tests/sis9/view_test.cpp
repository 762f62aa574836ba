// The 9.x view on models made by hand: the exact script, and the file table's paths.

#include <gtest/gtest.h>

#include <string>

#include "views/script_text.hpp"
#include "views/views.hpp"

namespace tarvik::test {
namespace {

model::FileEntry File(const std::string& target, std::uint32_t index) {
  model::FileEntry f;
  f.target = target;
  f.operation = 1;
  f.index = index;
  return f;
}

model::Package Pkg(std::uint32_t uid, const std::string& name, int ordinal, bool ended = true) {
  model::Package p;
  p.generation = model::Generation::Sis9;
  p.controllerRead = true;
  p.uid = uid;
  p.names = {name};
  p.vendorNames = {"V"};
  p.languages = {1};
  p.version = {1, 0, 0};
  p.created = {2007, 2, 5, 9, 5, 0};
  p.ordinal = ordinal;
  p.ended = ended;
  return p;
}

const char* const kHead =
    ";Date 5-3-2007\r\n;Time 9:5:0\r\n&EN\r\n";

TEST(Sis9View, ScriptSectionsAndPaths) {
  // Main package "m.sis": a file, two embedded packages of one name, the second of which
  // never reached its end, so that the main package's last file lands in its section.
  model::Package main = Pkg(0xE0000001, "Main", 1);
  main.stub = true;
  main.name = "m.sis";
  main.body.files = {File("!:\\a.txt", 0)};
  model::Package one = Pkg(0xE0000002, "Sub", 2);
  one.body.files = {File("c:\\a.txt", 0)};
  model::Package two = Pkg(0xE0000003, "sub", 3, false);
  main.body.embedded = {one, two};
  model::IfBlock branch;
  branch.branch.condition.op = model::ExprOp::Number;
  branch.branch.condition.value = 1;
  branch.branch.block.emplace().files = {File("!:\\a.txt", 1)};
  main.body.ifs = {branch};

  struct Case {
    const char* folder;
    std::string source;  // what the made-up source names begin with
    char sep;            // their separator: the Working Directory's own
  };
  for (const Case& c : {Case{"", "\\", '\\'}, Case{"/w/", "/w/", '/'}}) {
    SCOPED_TRACE(c.folder);
    const views::PackageView v = views::DescribeSis9(main, {c.folder});
    // A source name: the folder and the package path, in the source separator.
    auto src = [&c](std::string path) {
      for (char& ch : path)
        if (ch == '\\') ch = c.sep;
      return c.source + path;
    };
    const std::string expected =
        std::string(";<---Main SIS File PKG--->\r\n\r\n") + kHead +
        "#{\"Main\"}, (0xE0000001),1, 0, 0,TYPE=SA\r\n:\"\"\r\n%{\"V\"}\r\n\"" + src("bin\\m\\a.txt") +
        "\"-\"!:\\a.txt\", FF\r\n@\"" + src("bin\\m\\Embedded Components\\Sub.sis") + "\", (0xE0000002)\r\n@\"" +
        src("bin\\m\\Embedded Components\\sub (2).sis") + "\", (0xE0000003)\r\n  \r\n"
        "\r\n;<---Embedded SIS File Index 1 PKG--->\r\n\r\n;Date 5-3-2007\r\n;Time 9:5:0\r\n&EN\r\n"
        "#{\"Sub\"}, (0xE0000002),1, 0, 0,TYPE=SA\r\n:\"\"\r\n%{\"V\"}\r\n\"" +
        src("bin\\m\\Embedded Components\\Sub\\a.txt") + "\"-\"c:\\a.txt\", FF  \r\n"
        "\r\n;<---Embedded SIS File Index 2 PKG--->\r\n\r\n;Date 5-3-2007\r\n;Time 9:5:0\r\n&EN\r\n"
        "#{\"sub\"}, (0xE0000003),1, 0, 0,TYPE=SA\r\n:\"\"\r\n%{\"V\"}\r\nIf  0x00000001\r\n\"" +
        src("bin\\m\\Embedded Components\\sub (2)\\a (2).txt") + "\"-\"!:\\a.txt\", FF\r\nEndIf   \r\n";
    EXPECT_EQ(v.script, expected);
    ASSERT_EQ(v.files.size(), 3u);
    EXPECT_EQ(v.files[0].extractPath, "bin\\m\\a.txt");
    EXPECT_EQ(v.files[1].extractPath, "bin\\m\\Embedded Components\\Sub\\a.txt");
    EXPECT_EQ(v.files[2].extractPath, "bin\\m\\a (2).txt");  // the main package's own folder
    // Who carries each file, and when it installs.
    EXPECT_EQ(v.files[0].package, &main);
    EXPECT_EQ(v.files[1].package, &main.body.embedded[0]);
    EXPECT_EQ(v.files[2].package, &main);
    EXPECT_EQ(v.files[0].condition, "");
    EXPECT_EQ(v.files[2].condition, "if 1");
    EXPECT_EQ(v.files[2].entry, &main.body.ifs[0].branch.block->files[0]);
    EXPECT_EQ(v.header.front(), "SIS UID: E0000001");
  }
}

TEST(Sis9View, ScriptAloneWithoutEmbeddedPackages) {
  // No embedded package: the script is put together in place, unless a path had to be made
  // distinct ("A.TXT" meets "a.txt").
  model::Package main = Pkg(0xE0000001, "Main", 1);
  main.stub = true;
  main.name = "m.sis";
  for (const bool clash : {false, true}) {
    SCOPED_TRACE(clash);
    main.body.files = {File("!:\\a.txt", 0), File(clash ? "c:\\A.TXT" : "c:\\b.txt", 1)};
    for (const char* folder : {"", "/w/"}) {
      const views::PackageView v = views::DescribeSis9(main, {folder});
      EXPECT_EQ(views::Script(main, {folder}), v.script);
    }
    const std::string second = clash ? "\\bin\\m\\A (2).TXT\"-\"c:\\A.TXT" : "\\bin\\m\\b.txt\"-\"c:\\b.txt";
    EXPECT_EQ(views::Script(main, {}),
              std::string(";<---Main SIS File PKG--->\r\n\r\n") + kHead +
                  "#{\"Main\"}, (0xE0000001),1, 0, 0,TYPE=SA\r\n:\"\"\r\n%{\"V\"}\r\n"
                  "\"\\bin\\m\\a.txt\"-\"!:\\a.txt\", FF\r\n\"" + second + "\", FF\r\n  \r\n");
  }
}

TEST(Sis9View, PathKeyInPiecesIsTheWholeKey) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"bin\\m\\", "Data\\File.TXT"},  {"bin\\m\\", "\\lead\\x"},       {"bin\\m\\", "a//b\\\\c/"},
      {"", "\\\\x"},                   {"bin\\Été\\", "ÉTÉ.txt"},         {"bin\\m\\", "/"},
      {"bin/m/", "Sub\\x"},             {"bin\\m\\", ""},                  {"", ""}};
  for (const auto& [folder, rest] : cases) {
    SCOPED_TRACE(folder + "|" + rest);
    std::string whole, pieces;
    views::text::PathKey(folder + rest, whole);
    const bool wide = views::text::AppendPathKey(pieces, folder);
    views::text::FinishPathKey(pieces, views::text::AppendPathKey(pieces, rest) || wide);
    EXPECT_EQ(pieces, whole);
  }
  std::string key;
  views::text::PathKey("/Bin//É\\x.TXT/", key);
  EXPECT_EQ(key, "bin\\é\\x.txt");
}

}  // namespace
}  // namespace tarvik::test
