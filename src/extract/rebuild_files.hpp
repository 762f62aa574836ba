#pragma once
// Writes the build-ready PKG files of a package (views/rebuild_script.hpp) into the
// extraction folder, beside the extracted files.

#include <functional>
#include <string>
#include <vector>

#include "extract/extract.hpp"
#include "views/rebuild_script.hpp"

namespace tarvik::extract {

// Heads the list of the PKG files in the extraction result (the folder follows).
inline constexpr const char* kRebuildHead = "PKG files for rebuilding, in ";
// Said when they are asked for a pre-9.x package: the package builder reads 9.x scripts.
inline constexpr const char* kRebuildSis9Only = "PKG files for rebuilding are written for Symbian 9.x packages only.";

// Asked before a PKG file replaces what stands at its path (the native path); true replaces.
using ReplaceQuestion = std::function<bool(const std::string& path)>;

// Writes each script (UTF-16LE with a byte-order mark) at its path below `folder`, creating
// folders as needed and never leaving the folder; returns the paths written (relative to
// `folder`, with "/"). A refused script, a file that cannot be written, and an existing one
// that `replace` does not allow to replace (nothing is replaced without it) are reported
// through `reporter.Failed`.
std::vector<std::string> WriteRebuildScripts(const std::string& folder, const std::vector<views::RebuildScript>& scripts,
                                             Reporter& reporter, const ReplaceQuestion& replace = {});

// The PKG files of `package` (whose view is `view`) after the extraction `result` into
// `folder`: they name only the files that extraction wrote. Without a result (a package that
// carries no file to extract), every file line names its file as the view does.
std::vector<std::string> WriteRebuildFiles(const std::string& folder, const model::Package& package,
                                           const views::PackageView& view, const Result* result,
                                           const ReplaceQuestion& replace, Reporter& reporter);

}  // namespace tarvik::extract
