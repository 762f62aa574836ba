#pragma once
// Builds a package from a PKG file: reads the script, reports its errors like a compiler
// (FILE:LINE:COLUMN: error: ...), builds a missing embedded .sis first from the .pkg beside
// it, and writes the package.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "pkgscript/script.hpp"

namespace tarvik::writer {

struct PkgBuildOptions {
  pkgscript::Mode mode = pkgscript::Mode::Builder;
  bool stub = false;
  std::vector<std::string> searchDirs;  // relative ones: to the PKG file's folder
  std::optional<model::DateTime> created;
  // See BuildSettings::tempFile.
  std::function<void(const std::string& path, bool made)> tempFile;
};

struct PkgBuildResult {
  std::vector<std::string> errors;  // each a whole message line
  std::vector<std::string> built;   // packages written, innermost first
  bool ok() const { return errors.empty(); }
};

PkgBuildResult BuildFromPkg(const std::string& pkgPath, const std::string& outPath, const PkgBuildOptions& options);

}  // namespace tarvik::writer
