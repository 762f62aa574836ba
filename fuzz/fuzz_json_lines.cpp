// Property: the JSON facts of any input, under any file name, are one line of valid UTF-8
// that parses as a JSON object, and every condition a file or an embedded package names is
// a node of its package's (or parent's) condition nodes, each node's parent before it.
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>

#include <nlohmann/json.hpp>

#include "parse/parse.hpp"
#include "views/json.hpp"
#include "views/views.hpp"

namespace {

// Whether `s` is well-formed UTF-8 (no overlong forms, no surrogates, nothing past U+10FFFF).
bool ValidUtf8(const std::string& s) {
  static const std::uint32_t kMin[] = {0, 0x80, 0x800, 0x10000};
  for (std::size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    const std::size_t n = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : 4;
    if (n == 4 || i + n >= s.size() + (n == 0 ? 1 : 0) || (n > 0 && i + n >= s.size())) return false;
    std::uint32_t cp = n == 0 ? c : c & (0x3Fu >> n);
    for (std::size_t k = 1; k <= n; ++k) {
      const auto d = static_cast<unsigned char>(s[i + k]);
      if ((d & 0xC0) != 0x80) return false;
      cp = cp << 6 | (d & 0x3F);
    }
    if (cp < kMin[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += n + 1;
  }
  return true;
}

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "JSON property broken: %s\n", what);
  std::abort();
}

// A member every object of its kind has.
const nlohmann::json& Member(const nlohmann::json& j, const char* key) {
  if (!j.is_object()) Fail("a value that should be an object is not");
  const auto at = j.find(key);
  if (at == j.end()) Fail("a member is missing");
  return *at;
}

// Whether `ref` is null or the number of one of `nodes`.
bool NamesANode(const nlohmann::json& ref, const nlohmann::json& nodes) {
  return ref.is_null() || (ref.is_number_unsigned() && ref.get<std::uint64_t>() < nodes.size());
}

void CheckConditions(const nlohmann::json& pkg) {
  const nlohmann::json& nodes = Member(pkg, "conditionNodes");
  if (!nodes.is_array()) Fail("no condition nodes");
  for (std::size_t i = 0; i < nodes.size(); ++i) {
    if (Member(nodes[i], "id") != i) Fail("a condition node out of its place");
    const nlohmann::json& parent = Member(nodes[i], "parent");
    if (!parent.is_null() && !(parent.is_number_unsigned() && parent.get<std::uint64_t>() < i))
      Fail("a condition node whose parent does not come before it");
  }
  for (const nlohmann::json& f : Member(pkg, "files"))
    if (!NamesANode(Member(f, "condition"), nodes)) Fail("a file names no condition node of its package");
  for (const nlohmann::json& child : Member(pkg, "embeddedPackages")) {
    if (!NamesANode(Member(child, "condition"), nodes)) Fail("an embedded package names no condition node of its parent");
    CheckConditions(child);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tarvik;
  // The first bytes also name the file, so that names of any bytes are tried.
  const std::size_t nameSize = std::min<std::size_t>(size, 6);
  const std::string name = "in" + std::string(reinterpret_cast<const char*>(data), nameSize) + ".sis";
  const std::span<const std::uint8_t> bytes(data, size);
  const model::Package package = Parse(bytes, name);
  const std::string line = views::FactsDocumentLine(package, bytes, views::Describe(package, {}), name);
  if (line.find('\n') != std::string::npos || line.find('\r') != std::string::npos) Fail("more than one line");
  if (!ValidUtf8(line)) Fail("not UTF-8");
  // The syntax check of the whole line (a small pre-9.x input could once declare tens of
  // thousands of capability pairs and make a line of megabytes; the pairs now end with the
  // file, so the document is built to check the conditions too).
  if (line.empty() || line.front() != '{') Fail("not a JSON object");
  const nlohmann::json doc = nlohmann::json::parse(line, nullptr, false);
  if (doc.is_discarded()) Fail("not valid JSON");
  if (const nlohmann::json& pkg = Member(doc, "package"); !pkg.is_null()) CheckConditions(pkg);
  return 0;
}
