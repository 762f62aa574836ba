#include "writer/pkg_build.hpp"

#include <filesystem>
#include <fstream>
#include <iterator>

#include "writer/build.hpp"

namespace tarvik::writer {

namespace {

namespace fs = std::filesystem;
constexpr int kMaxNesting = 8;

std::string SourceLocation(const std::string& file, const pkgscript::Script& script, const std::string& name) {
  for (const pkgscript::SourceRef& s : script.sources)
    if (s.name == name) return file + ":" + std::to_string(s.at.line) + ":" + std::to_string(s.at.column) + ": error: ";
  return file + ": error: ";
}

void Build(const std::string& pkgPath, const std::string& outPath, const PkgBuildOptions& options, int depth,
           PkgBuildResult& result) {
  std::ifstream in(pkgPath, std::ios::binary);
  if (!in) return result.errors.push_back(pkgPath + ": error: cannot read the PKG file");
  const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  pkgscript::Script script = pkgscript::ParseFile(bytes, options.mode);
  for (const pkgscript::Diagnostic& d : script.errors) result.errors.push_back(pkgscript::FormatDiagnostic(pkgPath, d));
  if (!script.errors.empty()) return;

  BuildSettings settings;
  settings.baseDir = fs::path(pkgPath).parent_path().string();
  if (settings.baseDir.empty()) settings.baseDir = ".";
  settings.searchDirs = options.searchDirs;
  settings.stub = options.stub;
  settings.noCompress = script.noCompress;
  settings.created = options.created;
  settings.tempFile = options.tempFile;
  settings.makeMissing = [&](const std::string& sisPath, std::vector<std::string>& errors) {
    const fs::path pkg = fs::path(sisPath).replace_extension(".pkg");
    std::error_code ec;
    if (!fs::is_regular_file(pkg, ec)) return false;
    if (depth >= kMaxNesting) {
      errors.push_back("embedded packages nested deeper than " + std::to_string(kMaxNesting) + " levels, at " + pkg.string());
      return false;
    }
    PkgBuildOptions inner = options;
    inner.stub = false;
    inner.searchDirs.clear();
    PkgBuildResult nested;
    Build(pkg.string(), sisPath, inner, depth + 1, nested);
    result.built.insert(result.built.end(), nested.built.begin(), nested.built.end());
    for (const std::string& e : nested.errors) result.errors.push_back(e);
    if (!nested.ok()) errors.push_back("the embedded package could not be built from " + pkg.string());
    return nested.ok();
  };
  const BuildResult built = WritePackage(std::move(script.package), settings, outPath);
  for (const BuildProblem& p : built.problems) {
    if (p.source.empty())
      result.errors.push_back(pkgPath + ": error: " + p.message);
    else
      result.errors.push_back(SourceLocation(pkgPath, script, p.source) + p.message + ": \"" + p.source + "\"");
  }
  if (built.ok()) result.built.push_back(outPath);
}

}  // namespace

PkgBuildResult BuildFromPkg(const std::string& pkgPath, const std::string& outPath, const PkgBuildOptions& options) {
  PkgBuildResult result;
  Build(pkgPath, outPath, options, 0, result);
  return result;
}

}  // namespace tarvik::writer
