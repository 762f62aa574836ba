// Property: the JSON facts of any input, under any file name, are one line of valid UTF-8
// that parses as a JSON object.
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
  // Checked without building the document again: a small input can declare tens of
  // thousands of entries (a pre-9.x property count reads zeros past the end), and a second
  // tree of them cost most of each run. The syntax check reads the whole line; an object
  // starts with '{' and a valid text holds one value.
  if (line.empty() || line.front() != '{') Fail("not a JSON object");
  if (!nlohmann::json::accept(line)) Fail("not valid JSON");
  return 0;
}
