#pragma once
// Pieces of 9.x PKG text that the window's script and the build-ready PKG files write alike:
// quoting, versions, install types, file-line options and condition expressions.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "model/package.hpp"

namespace tarvik::views::text {

inline constexpr std::uint32_t kLanguageAttribute = 0x1000;
// The option bit that the builder sets by itself under \sys\ and \resource\ (VR).
inline constexpr std::uint32_t kVerifyOnRestore = 0x8000;

std::string Quoted(const std::string& s);
std::string JoinQuoted(const std::vector<std::string>& items, const char* sep);
// Major, minor and build; with `star`, a word of all ones is written "*".
std::string VersionText(const model::Version& v, bool star, const char* separator = ", ");
// ",TYPE=SA" ... for an install type (anything unknown is SA).
const char* InstallTypeText(std::uint8_t type);
// The options of a run line (", FR, RI" ...; "%" in the fixed texts is the MIME type).
std::string RunOptions(std::uint32_t options, const std::string& mime);
// The option of a text line (", TC" ...); empty for a combination the script has no word for.
std::string TextOption(std::uint32_t options);

// A file description that installs nothing and carries no data: operation 8 (null), or an
// operation 5 of zero length (what early builders stored for a FN line).
bool IsNullFile(const model::FileEntry& f);

// The key under which two extraction paths name one file on disk: case folded (non-ASCII
// letters too), "/" and "\\" alike, empty components dropped (extraction treats paths the same
// way, and a file system that ignores case would take the two for one file).
void PathKey(std::string_view path, std::string& key);
// The same key built in steps, for many paths that share a folder: AppendPathKey adds a piece
// of the path to `key` (true when the piece holds bytes beyond ASCII); FinishPathKey then
// drops a trailing separator and folds the case of non-ASCII letters when any piece held
// them. PathKey(a + b) is Append(a), Append(b), Finish.
bool AppendPathKey(std::string& key, std::string_view piece);
void FinishPathKey(std::string& key, bool wide);
// `text` with `suffix` (" (2)") put in before the extension of the last component of the path
// `text[0, end)`, or at `end` when that component has none (a leading dot starts none).
std::string WithSuffix(std::string text, std::size_t end, const std::string& suffix);

// True for ELSE as packages store it: NOT(NUMBER 0).
bool IsElse(const model::Expression& e);

// A condition as infix PKG text. `comments`: a comparison of the Language variable with a
// number adds ";<language name> Language" at the end (the window's script); without, the
// text is what a package builder reads (build-ready files). A chain of one operator is
// written without parentheses; a nested AND or OR of the other operator is parenthesized.
std::string ConditionText(const model::Expression& e, bool comments);

// A set of the hash values of keys (open addressing), sized once for the keys expected:
// tells whether a key's hash was met before. Each slot keeps 32 bits of the value (the other bits choose the
// slot), so that the table of a large package stays small; two values taken for one now
// and then only cost the caller's exact check, and so does a value beyond those expected.
class HashSet {
 public:
  explicit HashSet(std::size_t expected) {
    std::size_t capacity = 16;
    while (capacity < expected * 2) capacity *= 2;
    slots_.assign(capacity, 0);
  }
  // Puts the hash of `key` in the set; false when it (or one that shares its kept bits and
  // slot) was already there.
  bool Insert(std::string_view key) {
    const std::size_t hash = std::hash<std::string_view>{}(key);
    if ((size_ + 1) * 2 > slots_.size()) return false;
    const auto kept = static_cast<std::uint32_t>(static_cast<std::uint64_t>(hash) >> 32) | 1u;  // never 0
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t slot = hash & mask;; slot = (slot + 1) & mask) {
      if (slots_[slot] == kept) return false;
      if (slots_[slot] == 0) {
        slots_[slot] = kept;
        ++size_;
        return true;
      }
    }
  }

 private:
  std::vector<std::uint32_t> slots_;
  std::size_t size_ = 0;
};

}  // namespace tarvik::views::text
