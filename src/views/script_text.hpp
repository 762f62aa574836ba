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
std::string Hex8(std::uint32_t v);
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

}  // namespace tarvik::views::text
