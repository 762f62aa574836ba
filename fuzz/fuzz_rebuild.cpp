// Bytes read as a 9.x package, extracted with its build-ready PKG files, and built again
// with the options as written; the result taken through the same round once more. The
// first round keeps what a PKG file can state; from then on the facts must survive whole:
// the second build has every fact of the first (dates, checksums, signatures and compressed
// sizes aside). Nothing may be written outside the sandbox.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <span>

#include "extract/budget.hpp"
#include "extract/extract.hpp"
#include "parse/parse.hpp"
#include "support.hpp"
#include "views/json.hpp"
#include "views/rebuild_script.hpp"
#include "writer/pkg_build.hpp"

namespace {

using namespace tarvik;

std::vector<std::uint8_t> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The facts that two builds of one package share.
views::Json Facts(const std::vector<std::uint8_t>& bytes) {
  static const std::set<std::string> kLeftOut = {"file", "created", "controllerChecksum", "dataChecksum", "uidChecksum",
                                                 "compressedSize", "dataOffset", "offset", "signers", "signatures",
                                                 "signatureChains", "extractPath", "path"};
  const model::Package pkg = Parse(bytes, "p.sis");
  views::Json j = views::FactsDocument(pkg, bytes, views::Describe(pkg, {}), "p.sis");
  std::vector<views::Json*> todo{&j};
  while (!todo.empty()) {
    views::Json* n = todo.back();
    todo.pop_back();
    if (n->is_object()) {
      for (auto it = n->begin(); it != n->end();) {
        if (kLeftOut.count(it.key())) {
          it = n->erase(it);
        } else {
          todo.push_back(&*it);
          ++it;
        }
      }
    } else if (n->is_array()) {
      for (auto& e : *n) todo.push_back(&e);
    }
  }
  return j;
}

// Extracts `bytes` into `dir` with its PKG files and builds it as `out`; false when any step
// does not go through (a damaged package, one too large to extract, a PKG file the reader
// refuses).
bool Round(const std::vector<std::uint8_t>& bytes, const std::string& dir, const std::string& out) {
  const model::Package package = Parse(bytes, "p.sis");
  if (package.generation != model::Generation::Sis9 || !package.controllerRead || package.stub) return false;
  const views::PackageView view = views::Describe(package, {});
  if (extract::PlanExtraction(bytes, package.generation, view.files, dir + "/").TooMuch()) return false;
  extract::QuietReporter quiet;
  std::filesystem::create_directories(dir);
  extract::ExtractAll(bytes, package.generation, view.files, dir + "/", quiet);
  const std::vector<views::RebuildScript> scripts = views::RebuildScripts(package, view);
  if (scripts.empty()) return false;
  for (const views::RebuildScript& s : scripts) {
    std::string path = s.path;
    for (char& c : path)
      if (c == '\\') c = '/';
    std::filesystem::create_directories(std::filesystem::path(dir + "/" + path).parent_path());
    std::ofstream(dir + "/" + path, std::ios::binary) << views::EncodePkgFile(s.text);
  }
  writer::PkgBuildOptions options;
  options.mode = pkgscript::Mode::AsWritten;
  return writer::BuildFromPkg(dir + "/" + scripts.back().path, out, options).ok();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::ResetScratch();
  const std::string out = fuzz::Scratch().out;
  const std::vector<std::uint8_t> input(data, data + size);
  if (Round(input, out + "/one", out + "/one.sis")) {
    const std::vector<std::uint8_t> first = ReadAll(out + "/one.sis");
    if (!Round(first, out + "/two", out + "/two.sis")) {
      std::fprintf(stderr, "a built package does not rebuild\n");
      std::abort();
    }
    if (Facts(first) != Facts(ReadAll(out + "/two.sis"))) {
      std::fprintf(stderr, "facts changed between two builds\n");
      std::abort();
    }
  }
  if (!fuzz::NothingWrittenOutside()) {
    std::fprintf(stderr, "wrote outside the sandbox\n");
    std::abort();
  }
  return 0;
}
