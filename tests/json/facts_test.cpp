// The JSON facts of packages: the schema holds for every corpus package, the facts agree
// with what `tarvik-cli info` shows, and files carry the conditions, language and package
// they belong to.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "parse/parse.hpp"
#include "platform/platform.hpp"
#include "support/sis9_writer.hpp"
#include "support/sis_old_writer.hpp"
#include "support/test_env.hpp"
#include "views/json.hpp"
#include "views/views.hpp"

namespace tarvik {
namespace {

using views::Json;

// Every package file of the corpus (they are the .sis and .sisx files, whatever their case).
std::vector<std::string> CorpusPackages() {
  std::vector<std::string> out;
  const auto shared = test::SharedDir();
  if (!shared) return out;
  for (const auto& e : std::filesystem::recursive_directory_iterator(*shared + "/corpus")) {
    if (!e.is_regular_file()) continue;
    std::string ext = e.path().extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    if (ext == ".sis" || ext == ".sisx") out.push_back(e.path().string());
  }
  std::sort(out.begin(), out.end());
  return out;
}

std::string Quoted(const std::vector<std::string>& paths) {
  std::string out;
  for (const std::string& p : paths) out += " '" + p + "'";
  return out;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

std::vector<std::string> Split(const std::string& line, char sep) {
  std::vector<std::string> out;
  std::string cell;
  std::istringstream in(line);
  while (std::getline(in, cell, sep)) out.push_back(cell);
  return out;
}

Json Facts(const Bytes& bytes, const std::string& name) {
  const model::Package pkg = Parse(bytes, name);
  return views::FactsDocument(pkg, bytes, views::Describe(pkg, {}), name);
}

// The conditions condition node `id` of a package's `nodes` stands for, outermost first
// (none for null). Every parent comes before its child.
std::vector<Json> ConditionChain(const Json& nodes, const Json& id) {
  std::vector<Json> out;
  for (Json at = id; !at.is_null();) {
    const std::size_t n = at.get<std::size_t>();
    EXPECT_LT(n, nodes.size());
    if (n >= nodes.size()) break;
    const Json& node = nodes[n];
    EXPECT_EQ(node["id"], at);
    if (!node["parent"].is_null()) {
      EXPECT_LT(node["parent"].get<std::size_t>(), n);
    }
    out.insert(out.begin(), node);
    at = node["parent"];
  }
  return out;
}

// The packages of a document, the main one first, then embedded ones in the order met.
void Flatten(const Json& pkg, std::vector<const Json*>& out) {
  out.push_back(&pkg);
  for (const Json& child : pkg["embeddedPackages"]) Flatten(child, out);
}

TEST(JsonFacts, EveryCorpusPackageMatchesTheSchema) {
  TARVIK_REQUIRE_SHARED();
  const std::vector<std::string> files = CorpusPackages();
  ASSERT_FALSE(files.empty());
  test::TempDir dir;
  const test::CliResult r = test::RunCli("info --json" + Quoted(files), dir);
  EXPECT_EQ(r.status, 0) << r.err;
  const std::vector<std::string> lines = Lines(r.out);
  ASSERT_EQ(lines.size(), files.size()) << "one document per line, one line per file";
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const Json doc = Json::parse(lines[i]);
    EXPECT_EQ(doc["file"]["path"], files[i]);
    EXPECT_EQ(doc["version"], views::kFactsVersion);
  }
  const std::string out = dir.Write("facts.jsonl", r.out);
  const std::string report = dir / "report.txt";
  const std::string cmd = "python3 '" TARVIK_SOURCE_DIR "/tests/json/validate_facts.py' '" TARVIK_SOURCE_DIR
                          "/docs/json-schema.json' '" + out + "' >'" + report + "' 2>&1";
  const int status = std::system(cmd.c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << test::ReadFile(report);
}

TEST(JsonFacts, AgreeWithTheInfoCommandOnEveryCorpusPackage) {
  TARVIK_REQUIRE_SHARED();
  test::TempDir dir;
  for (const std::string& file : CorpusPackages()) {
    SCOPED_TRACE(file);
    const test::CliResult json = test::RunCli("info --json '" + file + "'", dir);
    const test::CliResult info = test::RunCli("info '" + file + "'", dir);
    ASSERT_EQ(json.status, 0);
    const Json doc = Json::parse(json.out);

    // The header facts of every package, in the order the header lists them.
    std::vector<std::string> uids, versions, languages;
    std::vector<std::vector<std::string>> rows;
    bool inTable = false;
    for (const std::string& line : Lines(info.out)) {
      if (line.rfind("SIS UID: ", 0) == 0) uids.push_back("0x" + line.substr(9));
      if (line.rfind("SIS Version: ", 0) == 0) versions.push_back(line.substr(13));
      if (line.rfind("Language: ", 0) == 0) languages.push_back(line.substr(10));
      if (line.rfind("Extract path\t", 0) == 0) {
        inTable = true;
        continue;
      }
      if (inTable && line.empty()) inTable = false;
      if (inTable) rows.push_back(Split(line, '\t'));
    }
    std::vector<const Json*> packages;
    if (!doc["package"].is_null()) Flatten(doc["package"], packages);
    const bool sis9 = doc["generation"] == "9.x";
    if (sis9) {
      std::vector<std::string> jsonUids, jsonVersions, jsonLanguages;
      for (const Json* p : packages) {
        jsonUids.push_back((*p)["uidHex"]);
        const Json& v = (*p)["version"];
        if (!v.is_null())  // unread: the header leaves it out too
          jsonVersions.push_back(std::to_string(v["major"].get<int>()) + ", " +
                                 std::to_string(v["minor"].get<int>()) + ", " + std::to_string(v["build"].get<int>()));
        for (const Json& l : (*p)["languages"]) jsonLanguages.push_back(l["name"].is_null() ? "" : l["name"]);
      }
      EXPECT_EQ(jsonUids, uids);
      EXPECT_EQ(jsonVersions, versions);
      EXPECT_EQ(jsonLanguages, languages);
    }

    // The file table: the same extraction paths, with the same storage facts.
    std::vector<std::string> fromJson, fromInfo;
    for (const Json* p : packages)
      for (const Json& f : (*p)["files"]) {
        if (f["extractPath"].is_null()) continue;
        const std::string path = f["extractPath"];
        if (sis9) {
          // A file whose bytes the package does not carry shows no compression in the table.
          const std::string compression =
              f["dataOffset"].is_null() ? "" : f["compression"] == "deflate" ? "deflate" : "stored";
          fromJson.push_back(path + "|" + compression);
        } else {
          const std::string offset = f["dataOffset"].is_null() ? "0" : std::to_string(f["dataOffset"].get<std::int64_t>());
          fromJson.push_back(path + "|" + std::to_string(f["uncompressedSize"].get<std::uint64_t>()) + "|" +
                             std::to_string(f["compressedSize"].get<std::uint64_t>()) + "|" + offset);
        }
      }
    for (const auto& row : rows) {
      ASSERT_EQ(row.size(), 5u);
      fromInfo.push_back(sis9 ? row[0] + "|" + row[2] : row[0] + "|" + row[1] + "|" + row[2] + "|" + row[3]);
    }
    std::sort(fromJson.begin(), fromJson.end());
    std::sort(fromInfo.begin(), fromInfo.end());
    EXPECT_EQ(fromJson, fromInfo);
  }
}

// A 9.x package of two languages with a target device, files under an If, an ElseIf and a
// nested If, and a package embedded in the nested block.
Bytes ConditionsFixture() {
  using namespace test::sis9w;
  Controller inner;
  inner.uid = 0xE0000002;
  inner.names = {"Inner"};
  inner.files = {TextFile("!:\\inner.txt", "i")};
  Controller main;
  main.languages = {1, 2};
  main.names = {"Main", "Principal"};
  main.vendors = {"Vendor", "Vendeur"};
  main.targets = {{0x1028315F, {5, 0, 0}, std::nullopt, {"S60"}}};
  main.files = {TextFile("!:\\always.txt", "a")};
  If branch;
  branch.cond = Eq(Lang(), Num(1));
  branch.files = {TextFile("!:\\en.txt", "en")};
  ElseIf other;
  other.cond = Eq(Lang(), Num(2));
  other.files = {TextFile("!:\\fr.txt", "fr")};
  If nested;
  nested.cond = Exists("c:\\x");
  nested.files = {TextFile("!:\\fr_x.txt", "x")};
  nested.embedded = {inner};
  other.ifs = {nested};
  branch.elseIfs = {other};
  main.ifs = {branch};
  return Build(main);
}

// A pre-9.x package whose records are If, a, ElseIf, a per-language file, Else, b, EndIf in
// the script's order.
Bytes OldConditionsFixture() {
  using namespace test;
  namespace x = test::oldx;
  OldPackage pkg;
  pkg.languages = {1, 2};
  pkg.names = {"Test", "Essai"};
  // File order is the reverse of the script's.
  pkg.records = {OldEndIf(),
                 OldFile("C:\\b.txt", "!:\\b.txt", "b"),
                 OldElse(),
                 OldLangFile("C:\\l.txt", "!:\\l.txt", {"en", "fr"}),
                 OldElseIf(x::Exists("c:\\y")),
                 OldFile("C:\\a.txt", "!:\\a.txt", "a"),
                 OldIf(x::Eq(x::Var(0x1000), x::Num(1)))};
  return BuildOldSis(pkg);
}

TEST(JsonFacts, NineFilesCarryTheirConditionsLanguageAndPackage) {
  const Json doc = Facts(ConditionsFixture(), "cond.sis");
  const Json& pkg = doc["package"];
  ASSERT_EQ(pkg["files"].size(), 4u);
  EXPECT_EQ(pkg["targetDevices"][0]["platform"], "S60 5th Edition");
  EXPECT_EQ(pkg["names"][1]["language"]["code"], "FR");
  EXPECT_EQ(pkg["names"][1]["text"], "Principal");

  struct Expected {
    const char* target;
    std::vector<bool> mustBe;  // per condition, outermost first
    const char* language;      // code, or null
  };
  const Expected expected[] = {
      {"!:\\always.txt", {}, nullptr},
      {"!:\\en.txt", {true}, "EN"},
      {"!:\\fr.txt", {false, true}, "FR"},
      {"!:\\fr_x.txt", {false, true, true}, "FR"},
  };
  for (std::size_t i = 0; i < std::size(expected); ++i) {
    const Json& f = pkg["files"][i];
    SCOPED_TRACE(expected[i].target);
    EXPECT_EQ(f["target"], expected[i].target);
    EXPECT_EQ(f["package"], 1);
    const std::vector<Json> chain = ConditionChain(pkg["conditionNodes"], f["condition"]);
    ASSERT_EQ(chain.size(), expected[i].mustBe.size());
    for (std::size_t c = 0; c < expected[i].mustBe.size(); ++c)
      EXPECT_EQ(chain[c]["mustBe"].get<bool>(), expected[i].mustBe[c]);
    if (expected[i].language)
      EXPECT_EQ(f["language"]["code"], expected[i].language);
    else
      EXPECT_TRUE(f["language"].is_null());
    EXPECT_FALSE(f["extractPath"].is_null());
    EXPECT_EQ(f["sha1"].get<std::string>().size(), 40u);
  }
  const Json innermost = ConditionChain(pkg["conditionNodes"], pkg["files"][3]["condition"]).at(2)["expression"];
  EXPECT_EQ(innermost["op"], "exists");
  EXPECT_EQ(innermost["text"], "c:\\x");
  const Json french = ConditionChain(pkg["conditionNodes"], pkg["files"][2]["condition"]).at(1)["expression"];
  EXPECT_EQ(french["op"], "equal");
  EXPECT_EQ(french["operands"][0]["name"], "Language");
  EXPECT_EQ(french["operands"][1]["language"]["code"], "FR");

  // The tree: one If block of two branches; the ElseIf holds the nested block.
  const Json& tree = pkg["conditionTree"];
  ASSERT_EQ(tree.size(), 1u);
  ASSERT_EQ(tree[0]["branches"].size(), 2u);
  EXPECT_EQ(tree[0]["branches"][0]["files"], Json::array({1}));
  EXPECT_EQ(tree[0]["branches"][1]["kind"], "elseIf");
  EXPECT_EQ(tree[0]["branches"][1]["files"], Json::array({2, 3}));
  EXPECT_EQ(tree[0]["branches"][1]["conditionTree"][0]["branches"][0]["embeddedPackages"], Json::array({2}));

  // The embedded package: installed under the parent's conditions, its files its own.
  ASSERT_EQ(pkg["embeddedPackages"].size(), 1u);
  const Json& child = pkg["embeddedPackages"][0];
  EXPECT_EQ(child["ordinal"], 2);
  EXPECT_EQ(child["uidHex"], "0xE0000002");
  EXPECT_EQ(ConditionChain(pkg["conditionNodes"], child["condition"]).size(), 3u);
  EXPECT_TRUE(child["conditionNodes"].empty());
  ASSERT_EQ(child["files"].size(), 1u);
  EXPECT_EQ(child["files"][0]["package"], 2);
  EXPECT_TRUE(child["files"][0]["condition"].is_null());
  EXPECT_TRUE(pkg["condition"].is_null());
}

TEST(JsonFacts, OldFilesFollowTheScriptsBlocksAndLanguages) {
  const Json doc = Facts(OldConditionsFixture(), "old.sis");
  const Json& files = doc["package"]["files"];
  ASSERT_EQ(files.size(), 4u);
  struct Expected {
    const char* target;
    std::vector<bool> mustBe;
    const char* language;
  };
  const Expected expected[] = {
      {"!:\\a.txt", {true}, "EN"},
      {"!:\\l.txt", {false, true}, "EN"},
      {"!:\\l.txt", {false, true}, "FR"},
      {"!:\\b.txt", {false, false}, nullptr},
  };
  for (std::size_t i = 0; i < std::size(expected); ++i) {
    SCOPED_TRACE(i);
    const Json& f = files[i];
    EXPECT_EQ(f["target"], expected[i].target);
    const std::vector<Json> chain = ConditionChain(doc["package"]["conditionNodes"], f["condition"]);
    ASSERT_EQ(chain.size(), expected[i].mustBe.size());
    for (std::size_t c = 0; c < expected[i].mustBe.size(); ++c)
      EXPECT_EQ(chain[c]["mustBe"].get<bool>(), expected[i].mustBe[c]);
    if (expected[i].language)
      EXPECT_EQ(f["language"]["code"], expected[i].language);
    else
      EXPECT_TRUE(f["language"].is_null());
  }
  const Json& branches = doc["package"]["conditionTree"][0]["branches"];
  ASSERT_EQ(branches.size(), 3u);
  EXPECT_EQ(branches[2]["kind"], "else");
  EXPECT_TRUE(branches[2]["expression"].is_null());
  EXPECT_EQ(branches[1]["files"], Json::array({1, 2}));
  EXPECT_EQ(doc["package"]["names"][1]["language"]["code"], "FR");
}

// `files` files under an If whose condition holds `marker` and `files` more under its
// ElseIf (9.x) or Else (pre-9.x).
Bytes LongConditionFixture(bool old, const std::string& marker, int files) {
  if (old) {
    using namespace test;
    OldPackage p;
    p.records.push_back(OldEndIf());  // file order is the reverse of the script's
    for (int i = 0; i < files; ++i) p.records.push_back(OldFile("e.txt", "!:\\e" + std::to_string(i)));
    p.records.push_back(OldElse());
    for (int i = 0; i < files; ++i) p.records.push_back(OldFile("f.txt", "!:\\f" + std::to_string(i)));
    p.records.push_back(OldIf(test::oldx::Exists("c:\\" + marker)));
    return BuildOldSis(p);
  }
  namespace w = test::sis9w;
  w::If branch;
  branch.cond = w::And(w::Exists("c:\\" + marker), w::Not(w::Eq(w::Lang(), w::Num(2))));
  w::ElseIf other;
  other.cond = w::Exists("c:\\other");
  for (int i = 0; i < files; ++i) {
    branch.files.push_back(w::TextFile("!:\\f" + std::to_string(i), "x"));
    other.files.push_back(w::TextFile("!:\\e" + std::to_string(i), "y"));
  }
  branch.elseIfs = {other};
  w::Controller c;
  c.ifs = {branch};
  return w::Build(c);
}

// A condition is written once, however many files sit under it: `info --json`'s line grows
// with the files and with the condition, not with their product.
TEST(JsonFacts, AConditionIsWrittenOnceHoweverManyFilesSitUnderIt) {
  const std::string marker(20000, 'q');
  for (const bool old : {false, true}) {
    SCOPED_TRACE(old ? "pre-9.x" : "9.x");
    std::vector<std::size_t> sizes;
    for (const int files : {20, 400}) {
      const Bytes bytes = LongConditionFixture(old, marker, files);
      const model::Package pkg = Parse(bytes, "long.sis");
      const std::string line = views::FactsDocumentLine(pkg, bytes, views::Describe(pkg, {}), "long.sis");
      // The If's expression: once in the condition tree and once per truth value as a node.
      std::size_t copies = 0;
      for (std::size_t at = line.find(marker); at != std::string::npos; at = line.find(marker, at + 1)) ++copies;
      EXPECT_GE(copies, 2u);
      EXPECT_LE(copies, 3u);
      sizes.push_back(line.size());
      // Every file still finds its conditions: those under the other branch need the If false.
      const Json doc = Json::parse(line);
      const Json& files0 = doc["package"]["files"];
      ASSERT_EQ(files0.size(), 2u * static_cast<std::size_t>(files));
      const std::vector<Json> first = ConditionChain(doc["package"]["conditionNodes"], files0.front()["condition"]);
      const std::vector<Json> last = ConditionChain(doc["package"]["conditionNodes"], files0.back()["condition"]);
      ASSERT_EQ(first.size(), 1u);
      EXPECT_TRUE(first[0]["mustBe"].get<bool>());
      ASSERT_EQ(last.size(), old ? 1u : 2u);
      EXPECT_FALSE(last[0]["mustBe"].get<bool>());
      EXPECT_EQ(first[0]["expression"], last[0]["expression"]);
    }
    // 380 files more on each branch: their own objects (a few hundred bytes each), no copy
    // of the 20 KB condition.
    EXPECT_LT(sizes[1] - sizes[0], 760u * 600u);
  }
}

TEST(JsonFacts, DamagedAndForeignFilesStillGiveADocument) {
  using namespace test::sis9w;
  Controller c;
  c.files = {TextFile("!:\\a.txt", "hello")};
  Bytes cut = Build(c);
  cut.resize(cut.size() / 2);
  struct Case {
    const char* name;
    Bytes bytes;
  };
  const Case cases[] = {{"cut.sis", cut}, {"text.sis", Bytes{'h', 'e', 'l', 'l', 'o', '\n'}}};
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    const Json doc = Facts(k.bytes, k.name);
    EXPECT_FALSE(doc["problems"].empty());
    EXPECT_EQ(doc["readable"].get<bool>(), !doc["package"].is_null());
    EXPECT_FALSE(doc["problems"][0]["text"].get<std::string>().empty());
    // The text of a document never breaks its line.
    EXPECT_EQ(views::FactsLine(doc).find('\n'), std::string::npos);
  }
}

// `info --json` writes each file's object as soon as it is filled, into the text of the
// document made without them: the line must be the whole document's, byte for byte.
TEST(JsonFacts, TextWrittenFileByFileIsTheWholeDocument) {
  using namespace test::sis9w;
  // Texts that look like the members the file objects are put back in.
  Controller tricky;
  tricky.names = {"\"files\":0", "a\\\"files\":1,\"b"};
  tricky.languages = {1, 2};
  tricky.vendors = {"files", "\"files\":[]"};
  tricky.files = {TextFile("!:\\\"files\":0.txt", "q"), TextFile("!:\\files\\2", "r"), TextFile("!:\\empty", "")};
  tricky.files[1].mime = "\"files\":2";
  Controller none;
  none.files.clear();
  std::vector<std::pair<std::string, Bytes>> cases = {
      {"cond.sis", ConditionsFixture()},
      {"old.sis", OldConditionsFixture()},
      {"tricky \"files\":0.sis", Build(tricky)},
      {"many.sis", MakeManyFiles(300, 8, true)},
      {"none.sis", Build(none)},
      {"text.sis", Bytes{'h', 'i', '\n'}},
  };
  Bytes cut = cases[0].second;
  cut.resize(cut.size() * 2 / 3);
  cases.push_back({"cut.sis", cut});
  for (const std::string& file : CorpusPackages()) {
    Bytes bytes;
    ASSERT_TRUE(fsys::ReadWholeFile(file, bytes));
    cases.push_back({file, std::move(bytes)});
  }
  for (const auto& [name, bytes] : cases) {
    SCOPED_TRACE(name);
    const model::Package pkg = Parse(bytes, name);
    const views::PackageView view = views::Describe(pkg, {});
    EXPECT_EQ(views::FactsDocumentLine(pkg, bytes, view, name), views::FactsLine(views::FactsDocument(pkg, bytes, view, name)));
  }
}

TEST(JsonFacts, SeveralFilesGiveOneLineEachAndAMissingOneFailsTheRun) {
  test::TempDir dir;
  const std::string a = dir.Write("a.sis", test::sis9w::Build({}));
  const std::string b = dir.Write("b.sis", test::BuildOldSis({}));
  const test::CliResult r = test::RunCli("info --json '" + a + "' '" + (dir / "missing.sis") + "' '" + b + "'", dir);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("missing.sis"), std::string::npos);
  const std::vector<std::string> lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(Json::parse(lines[0])["generation"], "9.x");
  EXPECT_EQ(Json::parse(lines[1])["generation"], "pre-9.x");
}

}  // namespace
}  // namespace tarvik
