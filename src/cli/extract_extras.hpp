#pragma once
// What `tarvik-cli extract` writes beside the extracted files: build-ready PKG files of a
// package that carries no file to extract, and the signature certificates.

#include <string>

#include "shell/app.hpp"

namespace tarvik::cli {

// Whether `extract --pkg` writes PKG files for the open package although it carries no file
// to extract (a 9.x package with no file descriptions, or only FN lines).
bool PkgFilesWithoutFiles(const App& app);
// Writes them into `dir` (made when missing), lists them on stdout as an extraction does, and
// returns the exit status: 0 when every one was written, 1 otherwise. An existing file is
// replaced only with `force`.
int WritePkgFilesWithoutFiles(const App& app, const std::string& dir, bool force);

// For `extract --certs` of a package that carries no file to extract (a stub): writes its
// certificates into `dir` through the extraction's safe writer and lists them. Beyond what the
// package could honestly hold they are written only with `force`. Returns the exit status.
int WriteCertificatesAlone(const App& app, const std::string& dir, bool force);

}  // namespace tarvik::cli
