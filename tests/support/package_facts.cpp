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

void Strip(views::Json& j, bool signedPackage) {
  if (j.is_object()) {
    for (auto it = j.begin(); it != j.end();) {
      // A signed package's controller is longer by its chains.
      const bool chainSized = signedPackage && it.key() == "uncompressedSize" && j.contains("algorithm");
      if (LeftOut().count(it.key()) || chainSized) {
        it = j.erase(it);
      } else {
        Strip(*it, signedPackage);
        ++it;
      }
    }
  } else if (j.is_array()) {
    for (auto& e : j) Strip(e, signedPackage);
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

views::Json ComparableFacts(const Bytes& bytes, const std::string& name) {
  const model::Package pkg = Parse(bytes, name);
  const views::PackageView view = views::Describe(pkg, views::ScriptSettings{});
  views::Json facts = views::PackageFacts(pkg, bytes, view, name);
  Strip(facts, !pkg.signatures.empty());
  return facts;
}

std::vector<std::string> FactDifferences(const views::Json& a, const views::Json& b, std::size_t limit) {
  std::vector<std::string> out;
  Differences(a, b, "", out, limit);
  return out;
}

}  // namespace tarvik::test
