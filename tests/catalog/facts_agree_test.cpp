// One set of facts behind every output: for each package of a file (the main one and the
// embedded ones), the window's Facts, the JSON document and the catalogue rows tell the
// same UID, names, install type, options and creation date, also where a damaged package
// information left members unread.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "catalog/catalog.hpp"
#include "catalog/database.hpp"
#include "parse/parse.hpp"
#include "support/sis_old_writer.hpp"
#include "support/test_env.hpp"
#include "views/fact_list.hpp"
#include "views/json.hpp"
#include "views/views.hpp"

namespace tarvik {
namespace {

using views::Json;

std::string FactOf(const std::vector<views::Fact>& facts, const std::string& key) {
  for (const auto& [k, v] : facts)
    if (k == key) return v;
  return "(missing)";
}

std::size_t CountOf(const std::vector<views::Fact>& facts, const std::string& prefix) {
  std::size_t n = 0;
  for (const auto& f : facts) n += f.first.rfind(prefix, 0) == 0;
  return n;
}

// The packages of a document, main first, then embedded ones depth first.
void Flatten(const Json& pkg, std::vector<const Json*>& out) {
  out.push_back(&pkg);
  for (const Json& e : pkg["embeddedPackages"]) Flatten(e, out);
}

// The Facts of every package of `bytes` against its JSON document; the main package's
// catalogue row against both (`row`: install_type, created, name, uid_hex; empty to skip).
void ExpectAgreement(const Bytes& bytes, const std::string& name, const std::map<std::string, std::string>& row) {
  SCOPED_TRACE(name);
  const model::Package pkg = Parse(bytes, name);
  const views::PackageView view = views::Describe(pkg, {});
  const Json doc = views::FactsDocument(pkg, bytes, view, name);
  if (doc["package"].is_null()) return;
  std::vector<const Json*> packages;
  Flatten(doc["package"], packages);
  const std::vector<views::PackageInTree> tree = views::FactsOfTree(pkg);
  ASSERT_EQ(tree.size(), packages.size());
  for (std::size_t i = 0; i < tree.size(); ++i) {
    const Json& j = *packages[i];
    const std::vector<views::Fact> facts = views::FactList(tree[i].facts, view.files, nullptr);
    EXPECT_EQ(FactOf(facts, "Package UID"), j["uidHex"].get<std::string>());
    const Json& type = j["installType"]["name"];
    const std::string typeFact = FactOf(facts, "Install type");
    if (type.is_null())
      EXPECT_TRUE(typeFact == "unknown" || typeFact == "(missing)") << typeFact;
    else
      EXPECT_EQ(typeFact.substr(0, typeFact.find(' ')), type.get<std::string>());
    EXPECT_EQ(CountOf(facts, "Option "), j["options"].size());
    EXPECT_EQ(CountOf(facts, "Name ("), j["names"].size());
    if (i == 0 && !row.empty()) {
      EXPECT_EQ(row.at("uid_hex"), j["uidHex"].get<std::string>());
      EXPECT_EQ(row.at("install_type"), type.is_null() ? "(null)" : type.get<std::string>());
      EXPECT_EQ(row.at("created"), j["created"].is_null() ? "(null)" : j["created"]["text"].get<std::string>());
      const std::string first = j["names"].empty() ? "" : j["names"][0]["text"].get<std::string>();
      EXPECT_EQ(row.at("name") == "(null)" ? "" : row.at("name"), first);
    }
  }
}

// The catalogue's package rows of `folder`, by path.
std::map<std::string, std::map<std::string, std::string>> CatalogueRows(const std::string& folder,
                                                                        const test::TempDir& dir) {
  catalog::Options options;
  options.folders = {folder};
  options.database = dir / "facts.db";
  EXPECT_TRUE(catalog::Run(options).ok);
  catalog::Database db;
  EXPECT_TRUE(db.Open(options.database, true));
  catalog::Statement s = db.Prepare("SELECT path, uid_hex, install_type, created, name FROM packages");
  std::map<std::string, std::map<std::string, std::string>> out;
  while (s.Step()) {
    auto text = [&](int c) { return s.IsNull(c) ? std::string("(null)") : s.Text(c); };
    out[s.Text(0)] = {{"uid_hex", text(1)}, {"install_type", text(2)}, {"created", text(3)}, {"name", text(4)}};
  }
  return out;
}

TEST(FactsAgree, CorpusPackagesTellTheSameFactsEverywhere) {
  const auto shared = test::SharedDir();
  if (!shared) GTEST_SKIP() << "no shared folder";
  test::TempDir dir;
  const auto rows = CatalogueRows(*shared + "/corpus", dir);
  ASSERT_GT(rows.size(), 80u);
  for (const auto& [path, row] : rows) {
    const std::map<std::string, std::string> empty;
    ExpectAgreement(test::ReadBytes(path), path, row.at("uid_hex") == "(null)" ? empty : row);
  }
}

TEST(FactsAgree, PreNineOptionsAreInTheFactsAsInTheDocument) {
  test::OldPackage old;
  old.languages = {1, 2};
  old.names = {"Demo", "Démo"};
  old.records = {test::OldOptions({{"Help", "Aide"}, {"Samples", "Exemples"}}), test::OldFile("a.txt", "c:\\a.txt")};
  const Bytes bytes = test::BuildOldSis(old);
  ExpectAgreement(bytes, "old.sis", {});
  const model::Package pkg = Parse(bytes, "old.sis");
  const auto facts = views::FactList(views::FactsOf(pkg, false), views::Describe(pkg, {}).files, nullptr);
  EXPECT_EQ(FactOf(facts, "Option 2"), "Samples / Exemples");
}

}  // namespace
}  // namespace tarvik
