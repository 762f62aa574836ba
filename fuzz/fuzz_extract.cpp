// Bytes read as a package and extracted into the sandbox's folder; nothing may be written
// anywhere else.
#include <cstdio>
#include <cstdlib>
#include <span>

#include "extract/budget.hpp"
#include "extract/extract.hpp"
#include "parse/parse.hpp"
#include "support.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tarvik;
  fuzz::ResetScratch();
  const std::span<const std::uint8_t> bytes(data, size);
  const model::Package package = Parse(bytes, "input.sis");
  const views::PackageView view = views::Describe(package, {});
  // What a person would be asked about first (more than the package could honestly hold)
  // is not written: the window and the CLI write it only when told to.
  const std::string out = fuzz::Scratch().out + "/";
  if (!view.files.empty() && !package.stub &&
      !extract::PlanExtraction(bytes, package.generation, view.files, out).TooMuch()) {
    extract::QuietReporter quiet;
    extract::ExtractAll(bytes, package.generation, view.files, out, quiet);
  }
  if (!fuzz::NothingWrittenOutside()) {
    std::fprintf(stderr, "extraction wrote outside its folder\n");
    std::abort();
  }
  return 0;
}
