#pragma once
// Writes the build-ready PKG files of a package (views/rebuild_script.hpp) into the
// extraction folder, beside the extracted files.

#include <string>
#include <vector>

#include "extract/extract.hpp"
#include "views/rebuild_script.hpp"

namespace tarvik::extract {

// Heads the list of the PKG files in the extraction result (the folder follows).
inline constexpr const char* kRebuildHead = "PKG files for rebuilding, in ";
// Said when they are asked for a pre-9.x package: the package builder reads 9.x scripts.
inline constexpr const char* kRebuildSis9Only = "PKG files for rebuilding are written for Symbian 9.x packages only.";

// Writes each script (UTF-16LE with a byte-order mark) at its path below `folder`, creating
// folders as needed and never leaving the folder; returns the paths written (relative to
// `folder`, with "/"). A file that cannot be written is reported through `reporter.Failed`.
std::vector<std::string> WriteRebuildScripts(const std::string& folder, const std::vector<views::RebuildScript>& scripts,
                                             Reporter& reporter);

}  // namespace tarvik::extract
