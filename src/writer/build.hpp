#pragma once
// Writes a 9.x package from a package model whose file entries name their sources (what the
// PKG reader makes): every file read in pieces, hashed (SHA-1) and deflated into a scratch
// file beside the output, the capabilities of each executable taken from its image header,
// embedded packages read from their .sis files, the controller deflated, the checksums
// computed. The package is written under a temporary name and renamed into place only when
// whole: on any error nothing is left.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "model/package.hpp"

namespace tarvik::writer {

struct BuildSettings {
  std::string baseDir = ".";             // relative source names are read from here first
  std::vector<std::string> searchDirs;   // then from these (relative ones: to baseDir)
  bool stub = false;        // a bare controller: no frame, no file data
  bool noCompress = false;  // nothing deflated
  std::optional<model::DateTime> created;  // default: now (UTC)
  // Called for an embedded package whose .sis is missing, with the path it was looked for
  // at: true when it made the file (for example from the .pkg beside it). Messages of the
  // attempt go to `errors`.
  std::function<bool(const std::string& sisPath, std::vector<std::string>& errors)> makeMissing;
  // Told the path of the temporary file the package is written to when it is made (true) and
  // when it is gone or renamed into place (false), so that an interrupted run can remove it.
  std::function<void(const std::string& path, bool made)> tempFile;
};

// What stopped a build: a source (as the script names it) and what went wrong with it, or a
// problem of the output (empty `source`).
struct BuildProblem {
  std::string source;
  std::string message;
};

struct BuildResult {
  std::vector<BuildProblem> problems;
  std::uint64_t bytesWritten = 0;
  bool ok() const { return problems.empty(); }
};

// `package` is taken by value: a caller done with it moves it in, and nothing is copied.
BuildResult WritePackage(model::Package package, const BuildSettings& settings, const std::string& outPath);

// The file a source name stands for ("\" and "/" both separate folders): absolute names as
// they are, relative ones in baseDir, then in each search folder. Empty when none exists.
std::string ResolveSource(const std::string& name, const BuildSettings& settings);

}  // namespace tarvik::writer
