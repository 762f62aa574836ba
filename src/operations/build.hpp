#pragma once
// Building a package from the PKG text a person has in front of them (the window's Script
// tab): the text as it stands, its source names found beside the opened file or in the
// Working Directory.

#include <optional>
#include <string>
#include <vector>

#include "platform/platform.hpp"

namespace tarvik::ops {

struct BuildRequest {
  std::string text;          // the PKG text
  std::string sourceFolder;  // where relative source names are looked for
  std::string outPath;       // the package to write
};

struct BuildReport {
  // Each a whole line, "Script:LINE:COLUMN: error: what, and what was expected" for the
  // text's own errors; nothing was written when there is one.
  std::vector<std::string> errors;
  std::optional<int> firstErrorLine;  // the line (from 1) of the first error in the text
  std::vector<std::string> built;     // packages written, innermost first
};

// Builds `request.text` into `request.outPath` through a copy of the text in the private
// temporary folder, which is removed afterwards.
BuildReport BuildFromText(const BuildRequest& request, const Platform& platform);

}  // namespace tarvik::ops
