// Descriptions of pre-installed files, stated in a PKG file.
//
// A pre-installed package (TYPE=PA or PP) carries no file data: its file descriptions hold the
// digest and sizes of files that are already on the device's media. A build-ready PKG file
// of such a package states each description in a comment line, which the SDK's builder skips:
//
//   ;tarvik:preinstalled "SOURCE" sha1=HEX size=N stored=N [caps=0xHEX]
//
// `size` is the file's length, `stored` the length the description records for its stored
// bytes (smaller than `size` when the builder deflated it), `caps` the capabilities it
// records. In the as-written mode the file lines that name SOURCE take that description;
// the writer uses it when the source file itself is not there.

#include <charconv>
#include <map>

#include "pkgscript/parser.hpp"

namespace tarvik::pkgscript {

namespace {

constexpr std::string_view kDirective = ";tarvik:preinstalled";

struct Stated {
  model::Digest hash;
  std::uint64_t size = 0, stored = 0;
  std::optional<std::uint32_t> caps;
  Location at;
  bool used = false;
};

bool ReadNumber(std::string_view text, std::uint64_t& value, int base) {
  if (text.empty()) return false;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  return ec == std::errc() && end == text.data() + text.size();
}

bool ReadDigest(std::string_view hex, model::Digest& out) {
  if (hex.size() != 40) return false;
  std::uint8_t bytes[20];
  for (std::size_t i = 0; i < 20; ++i) {
    std::uint64_t b = 0;
    if (!ReadNumber(hex.substr(2 * i, 2), b, 16)) return false;
    bytes[i] = static_cast<std::uint8_t>(b);
  }
  out = model::Digest(bytes, 20);
  return true;
}

// Reads one directive line (after the directive word); empty on success, else what is wrong.
std::string ReadStated(std::string_view rest, std::string& source, Stated& s) {
  auto skipBlanks = [&] {
    while (!rest.empty() && (rest.front() == ' ' || rest.front() == '\t')) rest.remove_prefix(1);
  };
  skipBlanks();
  if (rest.empty() || rest.front() != '"') return "expected the source name in quotes";
  const std::size_t close = rest.find('"', 1);
  if (close == std::string_view::npos || close == 1) return "expected the source name in quotes";
  source = std::string(rest.substr(1, close - 1));
  rest.remove_prefix(close + 1);
  bool hash = false, size = false, stored = false;
  for (skipBlanks(); !rest.empty(); skipBlanks()) {
    const std::size_t end = std::min(rest.find_first_of(" \t"), rest.size());
    const std::string_view item = rest.substr(0, end);
    rest.remove_prefix(end);
    const std::size_t eq = item.find('=');
    const std::string_view key = item.substr(0, eq), value = eq == std::string_view::npos ? "" : item.substr(eq + 1);
    std::uint64_t n = 0;
    if (key == "sha1" && ReadDigest(value, s.hash)) {
      hash = true;
    } else if (key == "size" && ReadNumber(value, s.size, 10)) {
      size = true;
    } else if (key == "stored" && ReadNumber(value, s.stored, 10)) {
      stored = true;
    } else if (key == "caps" && value.size() > 2 && value.substr(0, 2) == "0x" && ReadNumber(value.substr(2), n, 16) &&
               n <= 0xFFFFFFFFu) {
      s.caps = static_cast<std::uint32_t>(n);
    } else {
      return "unreadable item '" + std::string(item) + "', expected sha1=<40 hex digits>, size=N, stored=N or caps=0x<hex>";
    }
  }
  if (!hash || !size || !stored) return "expected sha1=, size= and stored=";
  return {};
}

void Apply(model::InstallBlock& block, std::map<std::string, Stated>& stated);

void Apply(model::FileEntry& f, std::map<std::string, Stated>& stated) {
  const auto it = stated.find(f.source);
  if (it == stated.end() || f.operation == 8) return;
  Stated& s = it->second;
  s.used = true;
  f.hash = s.hash;
  f.hashAlgorithm = 1;
  f.uncompressedSize = s.size;
  f.compressedSize = s.stored;
  f.compression = s.stored == s.size ? 0 : 1;
  f.capabilities = s.caps;
}

void Apply(model::InstallBlock& block, std::map<std::string, Stated>& stated) {
  for (model::FileEntry& f : block.files) Apply(f, stated);
  for (model::IfBlock& i : block.ifs) {
    if (i.branch.block) Apply(*i.branch.block, stated);
    for (model::ConditionalBlock& e : i.elseIfs)
      if (e.block) Apply(*e.block, stated);
  }
}

}  // namespace

void ApplyStatedFiles(std::string_view text, Script& script) {
  std::map<std::string, Stated> stated;
  int line = 0;
  for (std::size_t start = 0; start <= text.size();) {
    const std::size_t end = std::min(text.find('\n', start), text.size());
    std::string_view l = text.substr(start, end - start);
    start = end + 1;
    ++line;
    const std::size_t first = l.find_first_not_of(" \t");
    if (first == std::string_view::npos || l.substr(first, kDirective.size()) != kDirective) continue;
    l.remove_prefix(first + kDirective.size());
    if (!l.empty() && l.back() == '\r') l.remove_suffix(1);
    const Location at{line, static_cast<int>(first) + 1};
    std::string source;
    Stated s;
    s.at = at;
    std::string why = ReadStated(l, source, s);
    if (why.empty() && stated.count(source)) why = "a second description of \"" + source + "\", expected one per source";
    if (!why.empty()) {
      script.errors.push_back({at, "pre-installed file description: " + why});
      continue;
    }
    stated.emplace(source, std::move(s));
  }
  if (stated.empty()) return;
  const std::uint8_t type = script.package.installType;
  if (type != 3 && type != 4) {
    for (const auto& [source, s] : stated)
      script.errors.push_back({s.at, "pre-installed file description in a package that carries its files, expected TYPE=PA or PP"});
    return;
  }
  Apply(script.package.body, stated);
  for (const auto& [source, s] : stated)
    if (!s.used) script.errors.push_back({s.at, "pre-installed file description of \"" + source + "\", which no file line names"});
}

}  // namespace tarvik::pkgscript
