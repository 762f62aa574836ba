#pragma once
// Views over the package model: the PKG script, the header list and the file table that the
// window, tarvik-cli and extraction show and use. Functions of the model and the settings
// only.

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "model/package.hpp"

namespace tarvik::views {

struct ScriptSettings {
  // The Working Directory: written in front of made-up source names. Empty, or ending in a
  // separator.
  std::string sourceFolder;
};

using Sha1Digest = std::array<std::uint8_t, 20>;

// A text that many rows hold (the condition of the files of one branch): one copy, however
// many rows share it. A package can put thousands of files under one long condition.
class SharedText {
 public:
  SharedText() = default;
  SharedText(std::string text)  // NOLINT: a text converts
      : text_(text.empty() ? nullptr : std::make_shared<const std::string>(std::move(text))) {}
  SharedText(const char* text) : SharedText(std::string(text)) {}  // NOLINT
  const std::string& str() const { return text_ ? *text_ : Empty(); }
  operator const std::string&() const { return str(); }  // NOLINT
  operator std::string_view() const { return str(); }    // NOLINT
  bool empty() const { return str().empty(); }
  std::size_t size() const { return str().size(); }
  friend bool operator==(const SharedText& a, const SharedText& b) { return a.str() == b.str(); }
  friend bool operator==(const SharedText& a, const std::string& b) { return a.str() == b; }
  friend bool operator==(const SharedText& a, const char* b) { return a.str() == b; }
  friend std::ostream& operator<<(std::ostream& out, const SharedText& t) { return out << t.str(); }

 private:
  static const std::string& Empty() {
    static const std::string empty;
    return empty;
  }
  std::shared_ptr<const std::string> text_;
};

// One carried file as extraction and the file listings see it.
struct FileRow {
  // Relative to the extraction folder, with backslashes: "bin\<package>\...". Distinct for
  // every row of a 9.x package (ignoring case).
  std::string extractPath;
  std::string target;          // where the file goes on the device
  bool hasData = false;        // the package carries the file's bytes (dataOffset is known)
  std::int64_t offset = 0;     // where the stored bytes begin in the package file
  bool deflated = false;       // the stored bytes are a zlib stream
  std::uint64_t compressedSize = 0;
  std::uint64_t uncompressedSize = 0;
  std::optional<Sha1Digest> sha1;  // 9.x: the SHA-1 the package gives for the file
  const model::FileEntry* entry = nullptr;  // the entry in the model the row was made from
  // The package that carries the file: the main package or one embedded in it.
  const model::Package* package = nullptr;
  // When the file installs, in words ("if language = French"); empty when it always does.
  // Nested conditions are joined by "; ". Rows under one branch share one copy.
  SharedText condition;
};

// A condition of either generation in words: "language = French", "option 1",
// "not (...)", "a and b". Comparisons of the Language variable with a number name the
// language.
std::string ReadableCondition(const model::Expression& condition);

// The separator source names use under the Working Directory `folder`: "/" when the folder
// is written with "/" and no "\\", otherwise "\\" (also for no folder at all).
char SourceSeparator(const std::string& folder);

// 9.x: a package of the view, main or embedded, and the folder its files are extracted to.
struct PackageFolder {
  const model::Package* package = nullptr;
  int parent = -1;   // the enclosing package's place in PackageView::packages; -1 for the main one
  // Main: the package's file name up to its last dot ("bin\<name>\"); embedded: its folder
  // under "bin\<main>\Embedded Components\" (made distinct, "name (2)").
  std::string name;
};

// Everything the program shows of a package.
struct PackageView {
  std::string script;               // the PKG text (CR LF line breaks)
  std::vector<std::string> header;  // the header list, one fact per line
  std::vector<FileRow> files;       // the file table
  std::vector<PackageFolder> packages;  // 9.x: main first, then embedded ones in the order met
};

// The view of either generation.
PackageView Describe(const model::Package& package, const ScriptSettings& settings);
// The PKG script alone (what `view.script` of Describe holds), without the file table.
std::string Script(const model::Package& package, const ScriptSettings& settings);
// The view of a 9.x package (or stub), and of a pre-9.x package.
PackageView DescribeSis9(const model::Package& package, const ScriptSettings& settings);
std::string ScriptSis9(const model::Package& package, const ScriptSettings& settings);
PackageView DescribeOld(const model::Package& package, const ScriptSettings& settings);

}  // namespace tarvik::views
