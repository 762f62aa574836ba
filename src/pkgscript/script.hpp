#pragma once
// PKG text -> package model, in the dialect of the SDK's 9.x package builder: the language,
// header, vendor, logo, dependency, target-device, property and option lines, condition
// blocks, file lines (plain and language-dependent), embedded packages and comments.
//
// The result is the model a package writer turns into bytes: every file entry carries the
// script's source name in FileEntry::source and, when it carries data, its place in script
// order in FileEntry::index (sizes, digests and capabilities are the writer's to fill from
// the sources), and an embedded package is a Package whose `name` is
// the .sis source name and whose `uid` is the line's (the writer reads the rest from it).

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "model/package.hpp"

namespace tarvik::pkgscript {

// How the file lines' options become operation options.
enum class Mode : std::uint8_t {
  // As the SDK's builder stores them: VR added on targets under \sys\ and \resource\, TC
  // stored as 0.
  Builder,
  // Exactly as written: VR only where a line asks for it, TC stored as its bit.
  AsWritten,
};

struct Location {
  int line = 0;    // 1-based
  int column = 0;  // 1-based, in characters
};

struct Diagnostic {
  Location at;
  std::string message;  // "what, and what was expected"
};

// A source file the script names, and where.
struct SourceRef {
  std::string name;  // as written
  Location at;
  bool embedded = false;  // an @ line's package
};

struct Script {
  model::Package package;
  bool noCompress = false;        // the header's NC option: nothing deflated
  std::vector<SourceRef> sources; // in script order
  std::vector<Diagnostic> errors; // empty when the script was read whole
};

// Reads PKG text already decoded to UTF-8.
Script ParseText(std::string_view text, Mode mode);
// Reads a PKG file's bytes: UTF-16 (either byte order) or UTF-8 with a byte-order mark, or
// UTF-8 without one.
Script ParseFile(std::span<const std::uint8_t> bytes, Mode mode);
// The bytes of a PKG file decoded to UTF-8 (see ParseFile).
std::string DecodePkgBytes(std::span<const std::uint8_t> bytes);

// "FILE:LINE:COLUMN: error: MESSAGE".
std::string FormatDiagnostic(const std::string& file, const Diagnostic& d);

// Language number of a two-letter code (case ignored) or of a decimal number; -1 when the
// text is neither.
std::int32_t LanguageNumber(std::string_view code);

// True for a target under \sys\ or \resource\ (any drive, either separator, case ignored).
bool BuilderAddsVerify(std::string_view target);

}  // namespace tarvik::pkgscript
