#pragma once
// Build-ready PKG files: one per package of a 9.x package file (the main one and each
// embedded one), written next to the extracted files so that a package builder rebuilds the
// package from them. Unlike the window's script, these name the extracted files by paths
// relative to the PKG file's folder, and use the forms the builder reads back to the same
// facts (language-dependent file lines, language numbers, Else).

#include <string>
#include <vector>

#include "model/package.hpp"
#include "views/views.hpp"

namespace tarvik::views {

struct RebuildScript {
  // Where the PKG file goes, relative to the extraction folder, with backslashes:
  // "<package>.pkg" for the main package, "bin\<package>\Embedded Components\<name>.pkg"
  // for an embedded one.
  std::string path;
  std::string text;  // UTF-8, CR LF line breaks
  // Why the PKG file must not be written (a package string that would end a string or a
  // line of it), naming the string; empty when it can be. The text is empty then.
  std::string refused;
};

// The PKG files of a 9.x package whose view is `view` (its file table names the extracted
// files); innermost embedded packages first, the main package last, which is the order to
// build them in. Nothing for a pre-9.x package or one whose controller could not be read.
//
// Source names are given only to files at safe paths inside the extraction folder and, when
// `written` is given (one flag per row of `view.files`), only to the files this extraction
// wrote (every row of a pre-installed package, which carries no file data, keeps its name).
// A file without a source name is left out with a comment. The PKG files and the packages
// they build take names that no extracted file has.
std::vector<RebuildScript> RebuildScripts(const model::Package& package, const PackageView& view,
                                          const std::vector<bool>* written = nullptr);

// A PKG file's bytes as the builder reads them: UTF-16LE with a byte-order mark.
std::string EncodePkgFile(const std::string& text);

}  // namespace tarvik::views
