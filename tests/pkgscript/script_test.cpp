// The PKG reader: what each construct of the builder's dialect becomes in the model, and the
// errors it reports with their places.

#include <gtest/gtest.h>

#include <string>

#include "bytes/encoding.hpp"
#include "pkgscript/script.hpp"

namespace tarvik::pkgscript {
namespace {

using model::ExprOp;

constexpr const char* kHead =
    "&EN,FR\n"
    "#{\"Name\",\"Nom\"},(0xE0000010),1,2,3,TYPE=SA,NR,SH\n"
    "%{\"Vendor\",\"Vendeur\"}\n"
    ":\"Unique\"\n";

Script Read(const std::string& body, Mode mode = Mode::Builder) {
  Script s = ParseText(std::string(kHead) + body, mode);
  for (const Diagnostic& d : s.errors) ADD_FAILURE() << FormatDiagnostic("t.pkg", d);
  return s;
}

TEST(PkgScript, HeaderLinesFillThePackageInformation) {
  const Script s = Read(
      "[0x101F7961],0,0,0,{\"S60\",\"S60\"}\n"
      "[0x1028315F],5,0,*~5,9,*,{\"5th\",\"5th\"}\n"
      "(0xE0F00002),1,0,0~2,5,0,{\"Dep\",\"Dep\"}\n"
      "+(0=10,1=0x7fffffff,2=-3)\n"
      "!({\"A\",\"A fr\"},{\"B\",\"B fr\"})\n"
      "=\"logo.png\",\"image/png\",\"!:/resource/apps/logo.png\"\n");
  const model::Package& p = s.package;
  EXPECT_EQ(p.languages, (std::vector<std::uint32_t>{1, 2}));
  EXPECT_EQ(p.names, (std::vector<std::string>{"Name", "Nom"}));
  EXPECT_EQ(p.vendorNames, (std::vector<std::string>{"Vendor", "Vendeur"}));
  EXPECT_EQ(p.vendorUniqueName, "Unique");
  EXPECT_EQ(p.uid, 0xE0000010u);
  EXPECT_EQ(p.version.build, 3);
  EXPECT_EQ(p.installFlags, 3);
  ASSERT_EQ(p.targetDevices.size(), 2u);
  EXPECT_EQ(p.targetDevices[1].versions->from.build, -1);
  EXPECT_EQ(p.targetDevices[1].versions->to->minor, 9);
  EXPECT_FALSE(p.targetDevices[0].versions->to);
  ASSERT_EQ(p.dependencies.size(), 1u);
  EXPECT_EQ(p.dependencies[0].versions->to->minor, 5);
  ASSERT_EQ(p.properties.size(), 3u);
  EXPECT_EQ(p.properties[1].value, 0x7fffffff);
  EXPECT_EQ(p.properties[2].value, -3);
  EXPECT_EQ(p.options.size(), 2u);
  ASSERT_TRUE(p.logo);
  EXPECT_EQ(p.logo->target, "!:\\resource\\apps\\logo.png");  // "/" in targets becomes "\"
  EXPECT_EQ(p.logo->operation, 3u);
  EXPECT_EQ(p.logo->options, 0x800Au);
}

TEST(PkgScript, FileLineOptionsInBothModes) {
  struct Case {
    const char* line;
    std::uint32_t op, builder, asWritten;
  };
  const Case cases[] = {
      {"\"a\"-\"!:\\data\\a\"", 1, 0, 0},
      {"\"a\"-\"!:\\sys\\bin\\a.exe\"", 1, 0x8000, 0},
      {"\"a\"-\"c:\\Resource\\a.rsc\",FF", 1, 0x8000, 0},
      {"\"a\"-\"!:\\data\\a\",VR", 1, 0x8000, 0x8000},
      {"\"a\"-\"\",FT,TC", 4, 0, 0x200},
      {"\"a\"-\"\",FT", 4, 0, 0},
      {"\"a\"-\"\",FT,TE", 4, 0x1000, 0x1000},
      {"\"a\"-\"!:\\sys\\bin\\a.exe\",FR,RB,RW", 2, 0x8016, 0x16},
      {"\"a\"-\"!:\\data\\a\",FR,RI,RE", 2, 0x22, 0x22},
      {"\"a\"-\"!:\\data\\a\",FM,\"text/plain\"", 2, 0x0A, 0x0A},
      {"\"a\"-\"!:\\data\\a\",FILEMIME,\"text/plain\",RR", 2, 0x0C, 0x0C},
      {"\"\"-\"!:\\data\\made.dat\",FN", 8, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    for (Mode mode : {Mode::Builder, Mode::AsWritten}) {
      const Script s = Read(std::string(c.line) + "\n", mode);
      ASSERT_EQ(s.package.body.files.size(), 1u);
      const model::FileEntry& f = s.package.body.files[0];
      EXPECT_EQ(f.operation, c.op);
      EXPECT_EQ(f.options, mode == Mode::Builder ? c.builder : c.asWritten);
    }
  }
}

TEST(PkgScript, LanguageLinesBecomeLanguageConditions) {
  Script s = Read("{\"a.r01\"\n \"a.r02\"}-\"!:\\resource\\apps\\a.rsc\"\n"
                  "{\"b.r01\" \"b.r02\"}-\"!:\\data\\b.txt\",FF\n"
                  "{@\"en.sis\" @\"fr.sis\"},(0xE0000020)\n");
  const auto& ifs = s.package.body.ifs;
  ASSERT_EQ(ifs.size(), 3u);
  // No option: operation and options left at 0 (no VR though under \resource\).
  const auto& first = ifs[0];
  EXPECT_EQ(first.branch.condition.op, ExprOp::Equal);
  EXPECT_EQ(first.branch.condition.operands[0].value, 0x1000u);
  EXPECT_EQ(first.branch.condition.operands[1].value, 1u);
  ASSERT_EQ(first.elseIfs.size(), 1u);
  EXPECT_EQ(first.elseIfs[0].condition.operands[1].value, 2u);
  EXPECT_EQ(first.branch.block->files[0].operation, 0u);
  EXPECT_EQ(first.branch.block->files[0].options, 0u);
  EXPECT_EQ(first.elseIfs[0].block->files[0].source, "a.r02");
  // With an option, an ordinary file description in each branch.
  EXPECT_EQ(ifs[1].branch.block->files[0].operation, 1u);
  // Packages per language.
  EXPECT_EQ(ifs[2].elseIfs[0].block->embedded[0].name, "fr.sis");
  EXPECT_EQ(ifs[2].elseIfs[0].block->embedded[0].uid, 0xE0000020u);
  // Files that carry data are numbered in script order.
  EXPECT_EQ(ifs[1].elseIfs[0].block->files[0].index, 3u);
}

TEST(PkgScript, ConditionsNestAsTheBuilderStoresThem) {
  const Script s = Read(
      "IF NOT(exists(\"z:\\x.txt\")) AND ((LANGUAGE=1) OR (MachineUID<>0x101F4FC3)) AND appprop(0xE0F00002,1)>=5\n"
      "\"a\"-\"!:\\data\\a\"\n"
      "ELSEIF option2 OR package(0xE0F00002)\n"
      "ELSE\n"
      "ENDIF\n");
  ASSERT_EQ(s.package.body.ifs.size(), 1u);
  const model::IfBlock& b = s.package.body.ifs[0];
  const model::Expression& e = b.branch.condition;
  // A AND (B AND C): right-nested.
  ASSERT_EQ(e.op, ExprOp::And);
  EXPECT_EQ(e.operands[0].op, ExprOp::Not);
  EXPECT_EQ(e.operands[0].operands[0].op, ExprOp::Exists);
  ASSERT_EQ(e.operands[1].op, ExprOp::And);
  EXPECT_EQ(e.operands[1].operands[0].op, ExprOp::Or);
  EXPECT_EQ(e.operands[1].operands[0].operands[1].operands[0].value, 5u);  // MachineUID
  EXPECT_EQ(e.operands[1].operands[1].op, ExprOp::GreaterOrEqual);
  EXPECT_EQ(e.operands[1].operands[1].operands[0].op, ExprOp::AppProperty);
  ASSERT_EQ(b.elseIfs.size(), 2u);
  EXPECT_EQ(b.elseIfs[0].condition.operands[0].op, ExprOp::Option);
  EXPECT_EQ(b.elseIfs[0].condition.operands[0].value, 2u);
  // ELSE is NOT 0.
  EXPECT_EQ(b.elseIfs[1].condition.op, ExprOp::Not);
  EXPECT_EQ(b.elseIfs[1].condition.operands[0].op, ExprOp::Number);
  EXPECT_EQ(b.branch.block->files.size(), 1u);
}

TEST(PkgScript, EncodingsAndLanguageNumbers) {
  const std::string text = "&EN,260\n#{\"Ünï\",\"中文\"},(0xE0000001),1,0,0\n%{\"V\",\"V\"}\n:\"V\"\n";
  const std::string utf16 = "\xFF\xFE" + Utf8ToUtf16Le(text);
  for (const std::string& bytes : {text, "\xEF\xBB\xBF" + text, utf16}) {
    const Script s = ParseFile(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()), Mode::Builder);
    EXPECT_TRUE(s.errors.empty());
    EXPECT_EQ(s.package.languages, (std::vector<std::uint32_t>{1, 260}));
    EXPECT_EQ(s.package.names[1], "中文");
  }
  EXPECT_EQ(LanguageNumber("fr"), 2);
  EXPECT_EQ(LanguageNumber("SW"), 6);  // the first number that has the code
  EXPECT_EQ(LanguageNumber("QQ"), -1);
}

// Each broken script gives one message at the place of the fault; every broken line is
// reported, not only the first.
TEST(PkgScript, ErrorsNameTheirPlaceAndWhatWasExpected) {
  struct Case {
    const char* script;
    const char* expected;  // FILE:LINE:COLUMN: error: ... (a prefix of the message)
  };
  const Case cases[] = {
      {"&EN,XX\n", "t.pkg:1:5: error: unknown language specified: 'XX'"},
      {"&EN\n#{\"a\",\"b\"},(0x1),1,0,0\n", "t.pkg:2:2: error: the package names has 2 names, expected one per language (1)"},
      {"&EN\n#{\"a\"},(0x1),1,0\n", "t.pkg:2:17: error: expected ',' and the build number, found the end of the line"},
      {"&EN\n#{\"a\"},(0x1),1,0,0,TYPE=PA,RU\n", "t.pkg:2:1: error: Install flag option is not supported"},
      {"&EN\n#{\"a\"},(0x1),1,0,0\n\"a\"-\"b\",FX\n", "t.pkg:3:9: error: unknown file option 'FX'"},
      {"&EN\n#{\"a\"},(0x1),1,0,0\n\"a\"-\"b\n", "t.pkg:3:5: error: text without its closing '\"'"},
      {"&EN\n#{\"a\"},(0x1),1,0,0\nIF LANGUAGE=1\n", "t.pkg:3:1: error: IF without its ENDIF"},
      {"&EN\n#{\"a\"},(0x1),1,0,0\nENDIF\n", "t.pkg:3:1: error: ENDIF without IF"},
      {"&EN\n#{\"a\"},(0x1),1,0,0\nIF FOO=1\nENDIF\n", "t.pkg:3:4: error: unknown variable 'FOO'"},
      {"&EN,FR\n#{\"a\",\"b\"},(0x1),1,0,0\n{\"x\"}-\"y\"\n", "t.pkg:3:1: error: the language-dependent file line has 1 sources"},
      {"&EN\n#{\"a\"},(0x1),1,0,0\n\"\"-\"!:\\x\"\n", "t.pkg:3:1: error: the file line names no source file"},
      {"&EN\n", "t.pkg:2:1: error: no package header"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.script);
    const Script s = ParseText(c.script, Mode::Builder);
    ASSERT_FALSE(s.errors.empty());
    EXPECT_EQ(FormatDiagnostic("t.pkg", s.errors[0]).rfind(c.expected, 0), 0u) << FormatDiagnostic("t.pkg", s.errors[0]);
  }
  const Script two = ParseText("&EN\n#{\"a\"},(0x1),1,0,0\n\"a\"-\"b\",FX\n\"a\"-\"b\",FY\n", Mode::Builder);
  EXPECT_EQ(two.errors.size(), 2u);
}

// version() has no operator of its own in a package: the installer answers it as a query
// path under \sys\install\, as it does supported_language (\sys\install\supportedlanguage\?N
// in a real package). Every relational operator has its code; a missing one is an error.
TEST(PkgScript, VersionConditionsAreInstallerQueryPaths) {
  const char* const ops[][2] = {{"=", "ET"}, {"<>", "NE"}, {">", "GT"}, {"<", "LT"}, {">=", "GE"}, {"<=", "LE"}};
  for (const auto& op : ops) {
    SCOPED_TRACE(op[0]);
    const Script s = Read(std::string("IF version(0xe0000001,") + op[0] + ",1,-2,3) AND LANGUAGE=1\nENDIF\n");
    ASSERT_EQ(s.package.body.ifs.size(), 1u);
    const model::Expression& e = s.package.body.ifs[0].branch.condition;
    ASSERT_EQ(e.op, ExprOp::And);
    EXPECT_EQ(e.operands[0].op, ExprOp::Exists);
    EXPECT_EQ(e.operands[0].text, std::string("\\sys\\install\\pkgversion\\?0xE0000001,") + op[1] + ",1,-2,3");
  }
  const Script bad = ParseText(std::string(kHead) + "IF version(0xE0000001,1,2,3)\nENDIF\n", Mode::Builder);
  ASSERT_FALSE(bad.errors.empty());
  EXPECT_NE(bad.errors[0].message.find("a relational operator"), std::string::npos) << bad.errors[0].message;
}

// Pre-installed packages: as written, install flags are taken and the ;tarvik:preinstalled
// lines give the file lines that name their sources a description; the builder's mode reads
// them as the comments they are. Malformed or misplaced ones are errors with their places.
TEST(PkgScript, StatedDescriptionsOfPreInstalledFiles) {
  const std::string head = "&EN\n#{\"a\"},(0x1),1,0,0,TYPE=PA,RU\n%{\"V\"}\n:\"V\"\n";
  const std::string sha = "70f0e069de1799dfde8d4f06633c4e49ebab399c";
  const std::string good = head + "  ;tarvik:preinstalled \"f/a.txt\" sha1=" + sha + " size=241 stored=175 caps=0x0000C000\r\n" +
                           "\"f/a.txt\"-\"e:\\a.txt\", FF\n\"f/b.txt\"-\"e:\\b.txt\"\n";
  const Script s = ParseText(good, Mode::AsWritten);
  ASSERT_TRUE(s.errors.empty()) << FormatDiagnostic("t.pkg", s.errors[0]);
  EXPECT_EQ(s.package.installFlags, 4u);
  ASSERT_EQ(s.package.body.files.size(), 2u);
  const model::FileEntry& a = s.package.body.files[0];
  ASSERT_EQ(a.hash.size(), 20u);
  EXPECT_EQ(a.hash.data()[0], 0x70);
  EXPECT_EQ(a.hash.data()[19], 0x9c);
  EXPECT_EQ(a.uncompressedSize, 241u);
  EXPECT_EQ(a.compressedSize, 175u);
  EXPECT_EQ(a.compression, 1u);
  EXPECT_EQ(a.capabilities, 0xC000u);
  EXPECT_EQ(s.package.body.files[1].hash.size(), 0u);
  const Script sdk = ParseText(std::string(good).replace(good.find(",RU"), 3, ""), Mode::Builder);
  ASSERT_TRUE(sdk.errors.empty());
  EXPECT_EQ(sdk.package.body.files[0].hash.size(), 0u);

  struct Case {
    std::string script;
    const char* expected;
  };
  const std::string line = "\"f/a.txt\"-\"e:\\a.txt\"\n";
  const Case cases[] = {
      {head + ";tarvik:preinstalled f/a.txt sha1=" + sha + " size=1 stored=1\n" + line,
       "t.pkg:5:1: error: pre-installed file description: expected the source name in quotes"},
      {head + ";tarvik:preinstalled \"f/a.txt\" sha1=70f0 size=1 stored=1\n" + line,
       "t.pkg:5:1: error: pre-installed file description: unreadable item 'sha1=70f0'"},
      {head + ";tarvik:preinstalled \"f/a.txt\" sha1=" + sha + " size=1\n" + line,
       "t.pkg:5:1: error: pre-installed file description: expected sha1=, size= and stored="},
      {head + " ;tarvik:preinstalled \"f/x.txt\" sha1=" + sha + " size=1 stored=1\n" + line,
       "t.pkg:5:2: error: pre-installed file description of \"f/x.txt\", which no file line names"},
      {"&EN\n#{\"a\"},(0x1),1,0,0\n%{\"V\"}\n:\"V\"\n;tarvik:preinstalled \"f/a.txt\" sha1=" + sha + " size=1 stored=1\n" + line,
       "t.pkg:5:1: error: pre-installed file description in a package that carries its files"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.script);
    const Script e = ParseText(c.script, Mode::AsWritten);
    ASSERT_FALSE(e.errors.empty());
    EXPECT_EQ(FormatDiagnostic("t.pkg", e.errors[0]).rfind(c.expected, 0), 0u) << FormatDiagnostic("t.pkg", e.errors[0]);
  }
}

// Long chains read without deep recursion; nesting beyond the bounds is refused, not followed.
TEST(PkgScript, LongChainsAndDeepNesting) {
  std::string chain = "IF option1";
  for (int i = 2; i <= 300; ++i) chain += (i % 2 ? " OR option" : " AND option") + std::to_string(i);
  const Script ok = Read(chain + "\nENDIF\n");
  ASSERT_EQ(ok.package.body.ifs.size(), 1u);
  const model::Expression* e = &ok.package.body.ifs[0].branch.condition;
  int depth = 0;
  while (e->op == ExprOp::And || e->op == ExprOp::Or) e = &e->operands[1], ++depth;
  EXPECT_EQ(depth, 299);
  EXPECT_EQ(e->value, 300u);

  std::string tooLong = "IF option1";
  for (int i = 0; i < 5000; ++i) tooLong += " AND option2";
  std::string parens(80, '('), closing(80, ')');
  std::string nested;
  for (int i = 0; i < 101; ++i) nested += "IF option1\n";
  for (const std::string& body : {tooLong + "\nENDIF\n", "IF " + parens + "option1" + closing + "\nENDIF\n", nested}) {
    const Script s = ParseText(std::string(kHead) + body, Mode::Builder);
    EXPECT_FALSE(s.errors.empty());
  }
}

}  // namespace
}  // namespace tarvik::pkgscript
