#include "support/package_facts.hpp"

#include <set>

#include "parse/parse.hpp"
#include "views/views.hpp"

namespace tarvik::test {

namespace {

// Keys whose values depend on how a builder stores bytes, not on what the package says.
const std::set<std::string>& LeftOut() {
  static const std::set<std::string> keys = {"file", "created", "controllerChecksum", "dataChecksum", "uidChecksum",
                                              "compressedSize", "dataOffset", "offset", "signers", "signatures",
                                              "signatureChains", "extractPath", "path"};
  return keys;
}

void Strip(views::Json& j, bool withoutControllerSize) {
  if (j.is_object()) {
    for (auto it = j.begin(); it != j.end();) {
      const bool chainSized = withoutControllerSize && it.key() == "uncompressedSize" && j.contains("algorithm");
      if (LeftOut().count(it.key()) || chainSized) {
        it = j.erase(it);
      } else {
        Strip(*it, withoutControllerSize);
        ++it;
      }
    }
  } else if (j.is_array()) {
    for (auto& e : j) Strip(e, withoutControllerSize);
  }
}

void Differences(const views::Json& a, const views::Json& b, const std::string& path, std::vector<std::string>& out,
                 std::size_t limit) {
  if (out.size() >= limit) return;
  if (a.is_object() && b.is_object()) {
    for (auto it = a.begin(); it != a.end(); ++it)
      if (!b.contains(it.key())) out.push_back(path + "." + it.key() + " (only in the first)");
      else Differences(*it, b[it.key()], path + "." + it.key(), out, limit);
    for (auto it = b.begin(); it != b.end(); ++it)
      if (!a.contains(it.key())) out.push_back(path + "." + it.key() + " (only in the second)");
  } else if (a.is_array() && b.is_array()) {
    if (a.size() != b.size()) out.push_back(path + ": " + std::to_string(a.size()) + " against " + std::to_string(b.size()) + " items");
    for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i)
      Differences(a[i], b[i], path + "[" + std::to_string(i) + "]", out, limit);
  } else if (a != b) {
    out.push_back(path + ": " + a.dump() + " against " + b.dump());
  }
}

}  // namespace

views::Json ComparableFacts(const Bytes& bytes, bool controllerSize) {
  const model::Package pkg = Parse(bytes, "package.sis");
  const views::PackageView view = views::Describe(pkg, views::ScriptSettings{});
  views::Json facts = views::FactsDocument(pkg, bytes, view, "package.sis");
  Strip(facts, !controllerSize);
  return facts;
}

namespace {
bool AnyChain(const model::InstallBlock& block);
bool AnyChain(const model::Package& p) { return !p.signatures.empty() || AnyChain(p.body); }
bool AnyChain(const model::InstallBlock& block) {
  for (const model::Package& e : block.embedded)
    if (AnyChain(e)) return true;
  for (const model::IfBlock& i : block.ifs) {
    if (i.branch.block && AnyChain(*i.branch.block)) return true;
    for (const model::ConditionalBlock& e : i.elseIfs)
      if (e.block && AnyChain(*e.block)) return true;
  }
  return false;
}
}  // namespace

bool IsSigned(const Bytes& bytes) { return AnyChain(Parse(bytes, "package.sis")); }

std::vector<std::string> FactDifferences(const views::Json& a, const views::Json& b, std::size_t limit) {
  std::vector<std::string> out;
  Differences(a, b, "", out, limit);
  return out;
}

}  // namespace tarvik::test
