// The pre-9.x parser and view: header words, requisites, capabilities, record kinds and
// their file entries, condition trees, problems, and the exact script and file table the
// view makes of them.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "parse/parse.hpp"
#include "sis_old/parser.hpp"
#include "support/sis_old_writer.hpp"
#include "views/views.hpp"

namespace tarvik::test {
namespace {

using namespace oldx;
using model::ExprOp;
using model::Problem;
using model::Record;

model::Package ParseOld(const Bytes& bytes, const std::string& name = "pkg.sis") {
  return sis_old::ParsePackage(bytes, name);
}

std::string Script(const model::Package& pkg) { return views::DescribeOld(pkg, {}).script; }

std::vector<Problem::Kind> Kinds(const model::Package& pkg) {
  std::vector<Problem::Kind> out;
  for (const Problem& p : pkg.problems) out.push_back(p.kind);
  return out;
}

// A compact prefix notation of an expression tree.
std::string Prefix(const model::Expression& e) {
  static const char* const kNames[] = {"None", "=", "<>", ">", "<", ">=", "<=", "And", "Or", "Not", "Exists",
                                       "AppProperty", "Package", "String", "Option", "Var", "Num", "DevCap",
                                       "AppCap"};
  std::string s = "(" + std::string(kNames[static_cast<int>(e.op)]);
  if (e.op == ExprOp::Variable || e.op == ExprOp::Number) s += " " + std::to_string(e.value);
  if (e.op == ExprOp::String || e.op == ExprOp::Exists) s += " '" + e.text + "'";
  for (const auto& o : e.operands) s += " " + Prefix(o);
  return s + ")";
}

TEST(OldParser, HeaderWordsRequisitesAndCapabilities) {
  struct Case {
    const char* name;
    std::uint32_t uid2, installer;
    std::uint16_t options;
    bool release6, deflated, unknownMark;
  };
  const Case cases[] = {
      {"release 6", 0x10003A12, 200, 0x0001, true, true, false},
      {"release 6 NOCOMPRESS", 0x10003A12, 200, 0x0009, true, false, false},
      {"release 6 mark, installer 100", 0x10003A12, 100, 0x0000, true, true, false},
      {"release 5", 0x1000006D, 100, 0x0002, false, false, false},
      {"unknown mark, installer 200", 0x12345678, 200, 0x0001, true, true, true},
      {"unknown mark, installer 199", 0x12345678, 199, 0x0001, false, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    OldPackage p;
    p.uid1 = 0x10F0ABCD;
    p.uid2 = c.uid2;
    p.installerVersion = c.installer;
    p.options = c.options;
    p.type = 3;
    p.major = 2;
    p.minor = 7;
    p.variant = 0xFFFFFFFE;
    p.languages = {1, 2};
    p.names = {"Name", "Nom"};
    p.requisites = {OldRequisite{0x10001234, 1, 2, 3, {"Req", "Req fr"}}};
    p.capabilities = {{1, 4}, {7, 0xFFFFFFFF}};
    const model::Package pkg = ParseOld(BuildOldSis(p));
    ASSERT_TRUE(pkg.oldHeader);
    const model::OldHeader& h = *pkg.oldHeader;
    EXPECT_EQ(h.uid1, 0x10F0ABCDu);
    EXPECT_EQ(h.uid2, c.uid2);
    EXPECT_EQ(h.uid3, 0x10000419u);
    EXPECT_EQ(h.installerVersion, c.installer);
    EXPECT_EQ(h.options, c.options);
    EXPECT_EQ(h.type, 3);
    EXPECT_EQ(h.languageCount, 2);
    EXPECT_EQ(h.release6Layout, c.release6);
    EXPECT_EQ(h.deflated, c.deflated);
    EXPECT_EQ(pkg.uid, 0x10F0ABCDu);
    EXPECT_EQ(pkg.version.major, 2);
    EXPECT_EQ(pkg.version.minor, 7);
    EXPECT_EQ(static_cast<std::uint32_t>(pkg.version.build), 0xFFFFFFFEu);
    EXPECT_EQ(pkg.languages, (std::vector<std::uint32_t>{1, 2}));
    const bool wide = (c.options & 1) != 0;
    EXPECT_EQ(pkg.names, (std::vector<std::string>{"Name", "Nom"})) << wide;
    ASSERT_EQ(pkg.dependencies.size(), 1u);
    const model::Dependency& d = pkg.dependencies[0];
    EXPECT_EQ(d.uid, 0x10001234u);
    ASSERT_TRUE(d.versions);
    EXPECT_EQ(d.versions->from.major, 1);
    EXPECT_EQ(d.versions->from.minor, 2);
    EXPECT_EQ(d.versions->from.build, 3);
    EXPECT_EQ(d.names, (std::vector<std::string>{"Req", "Req fr"}));
    std::vector<Problem::Kind> kinds;
    if (c.unknownMark) kinds.push_back(Problem::Kind::UnknownVersion);
    if (c.release6) {
      ASSERT_EQ(pkg.properties.size(), 2u);
      EXPECT_EQ(pkg.properties[1].key, 7);
      EXPECT_EQ(pkg.properties[1].value, -1);
    } else {
      // The older header has no capability table, yet its count says 2: the word read as
      // the table's place (whatever follows the header) points past the end of the file, so no
      // pair is read and the damage is recorded.
      EXPECT_TRUE(pkg.properties.empty());
      kinds.push_back(Problem::Kind::Damaged);
    }
    EXPECT_EQ(Kinds(pkg), kinds);
  }
}

TEST(OldParser, RecordKindsAndFileEntries) {
  OldPackage p;
  p.languages = {1, 2};
  p.names = {"A", "B"};
  OldRecord mime = OldFile("C:\\doc.txt", "!:\\doc.txt", "doc", 5, 0x200);
  mime.mime = "text/plain";
  p.records = {OldOptions({{"One", "Un"}}), OldIf(Exists("c:\\x")), OldFile("C:\\a.txt", "!:\\a.txt", "hello"),
               OldElseIf(Var(0x2001)), OldLangFile("C:\\w\\r.rsc", "!:\\r.rsc", {"en", "fr"}), OldElse(), mime,
               OldEndIf()};
  OldLayout layout;
  const model::Package pkg = ParseOld(BuildOldSis(p, layout));
  EXPECT_TRUE(pkg.problems.empty());
  std::vector<Record::Kind> kinds;
  for (const Record& r : pkg.records) kinds.push_back(r.kind);
  EXPECT_EQ(kinds, (std::vector<Record::Kind>{Record::Kind::Options, Record::Kind::If, Record::Kind::File,
                                              Record::Kind::ElseIf, Record::Kind::LanguageFiles, Record::Kind::Else,
                                              Record::Kind::File, Record::Kind::EndIf}));
  EXPECT_EQ(pkg.records[0].options, (std::vector<std::vector<std::string>>{{"One", "Un"}}));

  const Record& single = pkg.records[2];
  ASSERT_EQ(single.entries.size(), 1u);
  const model::FileEntry& a = single.entries[0];
  EXPECT_EQ(a.source, "C:\\a.txt");
  EXPECT_EQ(a.target, "!:\\a.txt");
  EXPECT_EQ(a.operation, 0u);
  EXPECT_EQ(a.uncompressedSize, 5u);
  EXPECT_EQ(a.compressedSize, layout.storedLengths[2][0]);
  EXPECT_EQ(a.dataOffset, static_cast<std::int64_t>(layout.dataOffsets[2][0]));
  EXPECT_EQ(a.compression, 1u);
  EXPECT_EQ(a.language, -1);

  const Record& perLanguage = pkg.records[4];
  ASSERT_EQ(perLanguage.entries.size(), 2u);
  for (std::size_t k = 0; k < 2; ++k) {
    EXPECT_EQ(perLanguage.entries[k].language, static_cast<std::int32_t>(k));
    EXPECT_EQ(perLanguage.entries[k].dataOffset, static_cast<std::int64_t>(layout.dataOffsets[4][k]));
  }
  EXPECT_EQ(perLanguage.entries[1].uncompressedSize, 2u);

  const Record& m = pkg.records[6];
  EXPECT_EQ(m.mime, "text/plain");
  EXPECT_EQ(m.entries[0].operation, 5u);
  EXPECT_EQ(m.entries[0].options, 0x200u);

  // The file table: one row per entry.
  const views::PackageView view = views::DescribeOld(pkg, {});
  std::vector<std::string> rows;
  for (const views::FileRow& r : view.files) {
    rows.push_back(r.extractPath + " " + std::to_string(r.uncompressedSize) + " " +
                   (r.deflated ? "z" : "-") + " -> " + r.target);
    EXPECT_TRUE(r.hasData);
  }
  EXPECT_EQ(rows, (std::vector<std::string>{"bin\\pkg\\a.txt 5 z -> !:\\a.txt", "bin\\pkg\\r.rsc 2 z -> !:\\r.rsc",
                                            "bin\\pkg\\French Source file(2).rsc 2 z -> !:\\r.rsc",
                                            "bin\\pkg\\doc.txt 3 z -> !:\\doc.txt"}));
}

TEST(OldParser, ConditionTreesAndTheirText) {
  struct Case {
    const char* name;
    OldExpr expr;
    const char* tree;
    const char* text;
  };
  const OldExpr lang1 = Eq(Var(0x1000), Num(1));
  const Case cases[] = {
      {"comparison", lang1, "(= (Var 4096) (Num 1))", "Language = 0x00000001"},
      {"negative value", Eq(Var(0), Num(0x80000001)), "(= (Var 0) (Num 2147483649))", "Manufacturer = -2147483647"},
      {"option variable", Var(0x2001), "(Var 8193)", "option1"},
      {"string", Eq(Var(0), Str("Nokia")), "(= (Var 0) (String 'Nokia'))", "Manufacturer =  \"Nokia\""},
      {"exists under not", Not(Not(Exists("z:\\x"))), "(Not (Not (Exists 'z:\\x')))", "Not Not Exists(\"z:\\x\")"},
      {"capabilities", Cmp(4, AppCap(0x10F00002, 1), DevCap(7)),
       "(>= (AppCap (Num 284164098) (Num 1)) (DevCap (Num 7)))",
       "appcap(0x10F00002, 0x00000001) >= devcap(0x00000007)"},
      {"or inside and", And(Or(lang1, Exists("a")), Not(lang1)),
       "(And (Or (= (Var 4096) (Num 1)) (Exists 'a')) (Not (= (Var 4096) (Num 1))))",
       "(Language = 0x00000001 OR Exists(\"a\")) AND Not (Language = 0x00000001)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    OldPackage p;
    p.records = {OldIf(c.expr)};
    const model::Package pkg = ParseOld(BuildOldSis(p));
    ASSERT_EQ(pkg.records.size(), 1u);
    EXPECT_TRUE(pkg.records[0].conditionComplete);
    EXPECT_EQ(Prefix(pkg.records[0].condition), c.tree);
    EXPECT_NE(Script(pkg).find("\r\nIf " + std::string(c.text) + "\r\n"), std::string::npos);
  }
}

TEST(OldParser, DamagedConditionKeepsItsNodesAndFoldsThem) {
  // AND of the Language variable and a node of unknown type: the tree does not read whole;
  // the nodes found in stored order remain, unjoined.
  Bytes expr = {6, 0, 0, 0, 13, 0, 0, 0, 0, 0x10, 0, 0, 0xD0, 0x3C, 0x86, 0xC3, 99, 0, 0, 0};
  OldRecord raw;
  raw.raw = Bytes{3, 0, 0, 0, static_cast<std::uint8_t>(expr.size()), 0, 0, 0};
  raw.raw->insert(raw.raw->end(), expr.begin(), expr.end());
  OldPackage p;
  p.records = {raw};
  const model::Package pkg = ParseOld(BuildOldSis(p));
  ASSERT_EQ(pkg.records.size(), 1u);
  const Record& r = pkg.records[0];
  EXPECT_FALSE(r.conditionComplete);
  std::vector<std::string> tokens;
  for (const auto& t : r.conditionTokens) tokens.push_back(Prefix(t));
  EXPECT_EQ(tokens, (std::vector<std::string>{"(And)", "(Var 4096)"}));
  EXPECT_NE(Script(pkg).find("\r\nIf  AND Language\r\n"), std::string::npos);
}

TEST(OldParser, ProblemsAndWhatTheViewOffers) {
  auto withRecords = [](std::vector<OldRecord> records) {
    OldPackage p;
    p.records = {OldFile("C:\\a.txt", "!:\\a.txt")};
    p.records.insert(p.records.end(), records.begin(), records.end());
    return p;
  };
  OldExpr chain = Exists("a");
  for (int i = 0; i < 110; ++i) chain = And(chain, Exists("b"));  // 221 nodes
  OldPackage languages = withRecords({});
  languages.languages.assign(201, 1);
  languages.names.assign(201, "N");
  OldPackage capability = withRecords({});
  capability.capabilities = {{0x80000000u, 1}};
  OldPackage mark = withRecords({});
  mark.uid2 = 0x11111111;
  OldRecord unknownKind;
  unknownKind.raw = Bytes{9, 0, 0, 0};

  struct Case {
    const char* name;
    OldPackage pkg;
    std::vector<Problem::Kind> problems;
    std::size_t rows;
  };
  const Case cases[] = {
      {"201 languages", languages, {Problem::Kind::Unreadable}, 0},
      {"capability key of 2^31", capability, {Problem::Kind::Unreadable}, 0},
      {"181 options", withRecords({OldOptions(std::vector<std::vector<std::string>>(181, {"o"}))}),
       {Problem::Kind::Unreadable}, 0},
      {"221 condition nodes in one chain", withRecords({OldIf(chain)}), {}, 1},
      {"unknown release mark", mark, {Problem::Kind::UnknownVersion}, 1},
      {"record of unknown kind", withRecords({unknownKind, OldFile("C:\\b", "!:\\b")}), {Problem::Kind::Damaged}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const model::Package pkg = ParseOld(BuildOldSis(c.pkg));
    EXPECT_EQ(Kinds(pkg), c.problems);
    const views::PackageView view = views::DescribeOld(pkg, {});
    EXPECT_EQ(view.files.size(), c.rows);
    EXPECT_EQ(view.script.empty(), c.rows == 0);
  }

  // Bytes of another generation, or too few to tell.
  for (const Bytes& bytes : {Bytes{}, Bytes(11, 0), Bytes(40, 0)}) {
    const model::Package pkg = ParseOld(bytes);
    EXPECT_EQ(Kinds(pkg), std::vector<Problem::Kind>{Problem::Kind::NotAPackage});
    EXPECT_EQ(Script(pkg), "");
  }
}

// A capability count larger than the pairs the file holds (a 16-bit count of 65,529 in a
// file of a few hundred bytes): the pairs inside the file are read and the rest is recorded
// as damage, with no pairs of zeros made up past the end.
TEST(OldParser, CapabilityPairsEndWithTheFile) {
  OldPackage p;
  p.records = {OldFile("C:\\a.txt", "!:\\a.txt")};
  Bytes bytes = BuildOldSis(p);
  const std::size_t pairs = bytes.size();
  auto put = [&bytes](std::size_t at, std::uint32_t value, int width) {
    for (int i = 0; i < width; ++i) bytes[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
  };
  bytes.resize(pairs + 16 + 5);  // two whole pairs, then five bytes of a third
  put(pairs, 1, 4);
  put(pairs + 4, 4, 4);
  put(pairs + 8, 7, 4);
  put(pairs + 12, 9, 4);
  put(pairs + 16, 3, 4);
  put(30, 65529, 2);  // the capability count
  put(72, static_cast<std::uint32_t>(pairs), 4);  // where the pairs begin
  const model::Package pkg = ParseOld(bytes);
  ASSERT_EQ(pkg.properties.size(), 2u);
  EXPECT_EQ(pkg.properties[0].key, 1);
  EXPECT_EQ(pkg.properties[0].value, 4);
  EXPECT_EQ(pkg.properties[1].key, 7);
  EXPECT_EQ(pkg.properties[1].value, 9);
  ASSERT_EQ(Kinds(pkg), std::vector<Problem::Kind>{Problem::Kind::Damaged});
  EXPECT_EQ(pkg.problems[0].what, "capability");
  EXPECT_EQ(pkg.problems[0].where, static_cast<std::int64_t>(pairs + 16));
  EXPECT_EQ(views::DescribeOld(pkg, {}).files.size(), 1u);
}

TEST(OldView, WholeScriptOfASmallPackage) {
  OldPackage p;
  p.uid1 = 0x10F00001;
  p.languages = {1, 2};
  p.names = {"Demo", "Démo"};
  p.major = 1;
  p.minor = 2;
  p.variant = 3;
  p.options = 0x0001;
  p.requisites = {OldRequisite{0x10001234, 1, 0, 0, {"Lib", "Bib"}}, OldRequisite{0x10005678, 2, 0, 0, {"X", "Y"}}};
  p.capabilities = {{1, 4}, {0, 0xFFFFFFFF}};
  p.records = {OldOptions({{"One", "Un"}, {"Two", "Deux"}}), OldIf(Eq(Var(0x1000), Num(2))),
               OldLangFile("C:\\w\\r.rsc", "!:\\r.rsc", {"en", "fr"}), OldEndIf(),
               OldFile("C:\\a.exe", "!:\\sys\\a.exe", "a", 3, 0x202), OldFile("C:\\e.sis", "", "e", 2, 0x10F00002)};
  const model::Package pkg = ParseOld(BuildOldSis(p), "dir/ My demo .v2.sis");
  EXPECT_EQ(pkg.name, " My demo .v2.sis");
  const views::PackageView view = views::DescribeOld(pkg, {});
  EXPECT_EQ(view.script,
            ";<--------Pre Symbian 9.x SIS File-------->\r\n\r\n"
            "&FR, EN\r\n"
            "#{\"Démo\", \"Demo\"}, (0x10F00001), 1, 2, 3, IUNICODE, TYPE=SISAPP\r\n"
            "(0x10005678), 2, 0, 0, {\"Y\", \"X\"}\r\n"
            "(0x10001234), 1, 0, 0, {\"Bib\", \"Lib\"}\r\n"
            "+(1=4, 0=-1)\r\n"
            "@\"C:\\e.sis\",(0x10F00002)\r\n"
            "\"C:\\a.exe\"-\"!:\\sys\\a.exe\", FILERUN, RUNBOTH, RUNWAITEND\r\n"
            "EndIf\r\n"
            "{\"French Source file(2).rsc\" \"r.rsc\"}-\"!:\\r.rsc\", FILE\r\n"
            "If Language = 0x00000002\r\n"
            "!({\"Deux\", \"Two\"},{\"Un\", \"One\"})\r\n");
  EXPECT_TRUE(view.header.empty());
  ASSERT_EQ(view.files.size(), 4u);
  EXPECT_EQ(view.files[0].extractPath, "bin\\My demo\\r.rsc");
  EXPECT_EQ(view.files[3].extractPath, "bin\\My demo\\e.sis");
}

TEST(OldView, HeaderWordsCutByTheFileEnd) {
  // A file that ends inside the options word: its digits, and so its words, are gone.
  OldPackage p;
  p.records = {};
  Bytes bytes = BuildOldSis(p);
  bytes.resize(37);
  const model::Package pkg = ParseOld(bytes);
  ASSERT_TRUE(pkg.oldHeader);
  EXPECT_EQ(pkg.oldHeader->optionsBytes, 1);
  EXPECT_EQ(pkg.oldHeader->typeBytes, 0);
  EXPECT_NE(Script(pkg).find("(0x10F00001), 0, 0, 0\r\n"), std::string::npos) << Script(pkg);
}

}  // namespace
}  // namespace tarvik::test
