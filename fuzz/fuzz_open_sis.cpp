// Bytes read as a package (.sis): both generations through the generation test, then every
// view of the model, with and without a Working Directory, and the signature chains and
// capabilities of a 9.x package decoded and checked.
#include <span>

#include "parse/parse.hpp"
#include "signers/signers.hpp"
#include "views/fact_list.hpp"
#include "views/views.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tarvik;
  const std::span<const std::uint8_t> bytes(data, size);
  const model::Package package = Parse(bytes, "input.sis");
  views::Describe(package, {});
  views::Describe(package, {"/w/"});
  if (package.generation == model::Generation::Sis9) {
    const signers::Report report = signers::Inspect(package, bytes);
    views::SignerLines(package, report, signers::CollectCapabilities(package));
  }
  return 0;
}
